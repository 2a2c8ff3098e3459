// The run with -lossless: the edit options composed into one transform of
// the photo's coded blocks, judged before any work, and done without
// decoding the pixels. An option that can't be done exactly ends the run
// (status 1, nothing written) with the option and why, and that the same
// line without -lossless re-encodes.
//
// Each option's step, or why it has none, is in its row of the table
// (app/options.h).
//
// Ownership: everything given is the caller's, only borrowed.
#ifndef ORVANE_APP_LOSSLESS_H
#define ORVANE_APP_LOSSLESS_H

#include "app/optionread.h"

struct LosslessSource;
struct SaveFailure;

// The steps that compose an option into the transform (ComposeStep).
void ComposeCrop(const OptionRead *option, LosslessRun *run);
void ComposeTurn(const OptionRead *option, LosslessRun *run);
void ComposeFlipHorizontal(const OptionRead *option, LosslessRun *run);
void ComposeFlipVertical(const OptionRead *option, LosslessRun *run);
void ComposeUpright(const OptionRead *option, LosslessRun *run);
void ComposeStrip(const OptionRead *option, LosslessRun *run);
// For -o and -lossless, which act on nothing the transform holds: the
// output's name is judged with the formats.
void ComposeNothing(const OptionRead *option, LosslessRun *run);

// Why a resize, and a quality, can't be done losslessly.
extern const char kResizeNotLossless[];
extern const char kQualityNotLossless[];

// Composes and judges the options, read and checked, on the photo read from
// input, then transforms it and saves the result to output. 1 when saved;
// 0 with *failure filled in when the save failed. Refusals never return.
int RunLossless(const OptionRead *options, int read,
                LosslessSource *source, const char *input,
                const char *output, SaveFailure *failure);

#endif
