// The run with -lossless: the edit options composed into one transform of
// the photo's coded blocks, judged before any work, and done without
// decoding the pixels. An option that can't be done exactly ends the run
// (status 1, nothing written) with the option and why, and that the same
// line without -lossless re-encodes.
//
// Ownership: everything given is the caller's, only borrowed.
#ifndef ORVANE_APP_LOSSLESS_H
#define ORVANE_APP_LOSSLESS_H

#include "app/optionread.h"

struct LosslessSource;
struct SaveFailure;

// Composes and judges the options, read and checked, on the photo read from
// input, then transforms it and saves the result to output. 1 when saved;
// 0 with *failure filled in when the save failed. Refusals never return.
int RunLossless(const OptionRead *options, int read,
                const LosslessSource *source, const char *input,
                const char *output, SaveFailure *failure);

#endif
