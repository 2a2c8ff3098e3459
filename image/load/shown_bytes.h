// The library loads from bytes already in memory, shown to it through its
// handle functions: the file as read, or with a head of the program's own
// making in place of its first bytes and one byte changed.
//
// Ownership: ShownBytes borrows every buffer it points to; the returned
// bitmap is the caller's (ReleaseImage), NULL when the library refuses.
#ifndef ORVANE_IMAGE_LOAD_SHOWN_BYTES_H
#define ORVANE_IMAGE_LOAD_SHOWN_BYTES_H

#include <stddef.h>
#include <stdint.h>

#include "image/imagefile.h"

struct ShownBytes {
  const unsigned char *head;  // shown first; may be NULL with head_size 0
  size_t head_size;
  const unsigned char *rest;  // shown behind the head
  size_t rest_size;
  int64_t patch_at;  // where patch_byte is shown instead; -1: nowhere
  unsigned char patch_byte;
};

// The bytes as they stand, with nothing changed.
ShownBytes BytesAsTheyStand(const unsigned char *data, size_t size);

// The first warning the decoder gave (a JPEG whose data ends early or is
// damaged) goes into *failure's warning and decoder_said, when failure is
// given; the library passes on only the first, and so does the program.
// A JPEG with size_wanted above 0 is decoded at the largest of 1/2, 1/4
// and 1/8 of its size that keeps at least that many pixels on its longer
// side.
FIBITMAP *LoadShownBytes(ImageFormat format, const ShownBytes *shown,
                         LoadFailure *failure = NULL, int size_wanted = 0);

#endif
