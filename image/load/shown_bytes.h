// The library loads from bytes already in memory, shown to it through its
// handle functions: the file as read, or runs of it with parts left out, a
// head of the program's own making in front, or one byte changed.
//
// Ownership: ShownBytes borrows its spans and every buffer they point to;
// the returned bitmap is the caller's (ReleaseImage), NULL when the library
// refuses.
#ifndef ORVANE_IMAGE_LOAD_SHOWN_BYTES_H
#define ORVANE_IMAGE_LOAD_SHOWN_BYTES_H

#include <stddef.h>
#include <stdint.h>

#include "image/imagefile.h"

// One run of bytes, shown right behind the run before it.
struct ShownSpan {
  const unsigned char *bytes;
  size_t size;
};

struct ShownBytes {
  const ShownSpan *spans;
  int span_count;
  int64_t patch_at;  // where patch_byte is shown instead; -1: nowhere
  unsigned char patch_byte;
};

// The bytes as they stand, with nothing changed, as one span kept in *whole.
ShownBytes BytesAsTheyStand(const unsigned char *data, size_t size,
                            ShownSpan *whole);

// The first warning the decoder gave (a JPEG whose data ends early or is
// damaged) goes into *failure's warning and decoder_said, when failure is
// given; the library passes on only the first, and so does the program.
// A JPEG with size_wanted above 0 is decoded at the largest of 1/2, 1/4
// and 1/8 of its size that keeps at least that many pixels on its longer
// side.
FIBITMAP *LoadShownBytes(ImageFormat format, const ShownBytes *shown,
                         LoadFailure *failure = NULL, int size_wanted = 0);

#endif
