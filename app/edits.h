// The re-encoding edits: each option's routine that changes the decoded
// picture or what the save will do, and the size it makes of the picture,
// known before any work. The routines end the run, with the option and why,
// when they can't do their edit.
//
// Ownership: the state owns its bitmap and metadata; the options are
// borrowed from the argument vector, the output name from it or from what
// is kept for the run (a photo's name in a folder).
#ifndef ORVANE_APP_EDITS_H
#define ORVANE_APP_EDITS_H

#include <stddef.h>
#include <stdint.h>

#include "app/optionread.h"
#include "image/load/plan.h"
#include "image/metadata/record.h"

struct EditState {
  FIBITMAP *current;
  PhotoMetadata metadata;  // the photo's, settled only at the save
  const char *output;      // borrowed
  int quality;
  int strip;     // leave the photo's private metadata out of the output
  int geometry;  // an edit changed the picture's geometry
  int upright;   // -upright was given (MetadataChangesFor judges it)
};

// The quality without -oq: it suits every writer.
enum { kDefaultQuality = 100 };

// The edits, one per row of the table of options (EditRoutine), and the
// sizes they make (EditedSize).
void Crop(const OptionRead *option, EditState *state);
void CroppedSize(const OptionRead *option, int64_t *width, int64_t *height);
void Rotate(const OptionRead *option, EditState *state);
void RotatedSize(const OptionRead *option, int64_t *width, int64_t *height);
void FlipHorizontal(const OptionRead *option, EditState *state);
void FlipVertical(const OptionRead *option, EditState *state);
void SetOutput(const OptionRead *option, EditState *state);
// The -o that counts, the last; NULL when there is none.
const OptionRead *LastOutputOption(const OptionRead *options, int read);
void SetQuality(const OptionRead *option, EditState *state);
void KeepCompression(const OptionRead *option, EditState *state);
// Each resize knows the filter in effect where it stands, from the reading
// of the line; -filter itself does nothing.
void SetFilter(const OptionRead *option, EditState *state);
void Resize(const OptionRead *option, EditState *state);
void ResizedSize(const OptionRead *option, int64_t *width, int64_t *height);
void Upright(const OptionRead *option, EditState *state);
void UprightSize(const OptionRead *option, int64_t *width, int64_t *height);
void Strip(const OptionRead *option, EditState *state);

// The edits among the options as the decode's plan takes them, each with
// the size it makes of a W x H photo (0 x 0 from an edit that will fail
// on); which[k] is the option of edits[k]. Gives their count.
int DescribeEdits(const OptionRead *options, int read, int64_t W, int64_t H,
                  PlannedEdit *edits, int *which);

// Why the crop -c v[0] v[1] v[2] v[3] can't be made of a width x height
// image, with -lossless or without: an empty rectangle, or where it lies.
void CropRefusal(char *buffer, size_t size, int64_t width, int64_t height,
                 const int *v);

#endif
