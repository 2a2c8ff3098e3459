// One image file's bytes through the image layer as the program takes them:
// the load (the checks, the form shown to the library, its decoder), one
// edit chosen by the file's last byte, and a save to each of JPEG, PNG and
// BMP; a JPEG also goes through the lossless transform of the same edit.
// Files go to a folder in /dev/shm, so every write stays in memory.
// Or the load alone, many times faster: the bytes loaded from memory with
// their metadata record, which is then settled and placed as a save would.
#ifndef ORVANE_TESTS_FUZZ_FUZZ_IMAGE_H
#define ORVANE_TESTS_FUZZ_FUZZ_IMAGE_H

#include <stddef.h>
#include <stdint.h>

#include "image/imagefile.h"

// 0, or -1 (not worth keeping) when the bytes hold another format than
// format, or claim more memory than a fuzzing run may take.
int FuzzImageFile(ImageFormat format, const uint8_t *data, size_t size);

// LoadImageBytes with a metadata record; the record settled for the changes
// the last byte picks (a crop, -upright, -strip, any mix) and placed into a
// 1 x 1 JPEG or PNG of the input's format, as its writer makes it. No files,
// no edits, no saves. 0, or -1 as above, with a budget of 1 MB and 64 KB.
int FuzzImageLoad(ImageFormat format, const uint8_t *data, size_t size);

#endif
