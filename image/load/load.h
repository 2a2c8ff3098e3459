// The first half of a load, for the parts that work on a file's bytes
// instead of its pixels: the file read once and judged as a load judges it
// before the library sees it.
//
// Ownership: the bytes returned are the caller's (free them); the PNG part
// of the headers points into them.
#ifndef ORVANE_IMAGE_LOAD_LOAD_H
#define ORVANE_IMAGE_LOAD_LOAD_H

#include <stddef.h>

#include "image/containers/headers.h"
#include "image/imagefile.h"

// The whole file at path, when its name ends in a known format, its content
// is a JPEG, PNG or BMP and its headers claim no more than its bytes hold;
// *headers as read from it. NULL with *failure filled in as LoadImageByName
// fills it.
unsigned char *ReadJudgedImage(const char *path, size_t *size,
                               ImageHeaders *headers, LoadFailure *failure);

#endif
