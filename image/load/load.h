// The first half of a load, for the parts that work on a file's bytes
// instead of its pixels: the file read once and judged as a load judges it
// before the library sees it.
//
// Ownership: the file's bytes are the caller's (PlatformUnmapFile); the PNG
// part of the headers points into them.
#ifndef ORVANE_IMAGE_LOAD_LOAD_H
#define ORVANE_IMAGE_LOAD_LOAD_H

#include <stddef.h>

#include "image/containers/headers.h"
#include "image/imagefile.h"
#include "platform/platform.h"

// The whole file at path, mapped into *file, when its name ends in a known
// format, its content is a JPEG, PNG or BMP and its headers claim no more
// than its bytes hold; *headers as read from it. 0 with nothing kept and
// *failure filled in as LoadImageByName fills it.
int ReadJudgedImage(const char *path, MappedFile *file, ImageHeaders *headers,
                    LoadFailure *failure);

#endif
