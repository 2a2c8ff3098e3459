// An image file's headers, read once from its bytes by the reader of its
// container, for every part that judges or re-presents the file before the
// library loads it.
//
// Ownership: the PNG part, and the BMP part's embedded profile, point into
// the caller's bytes (see png_chunks.h, bmp_header.h).
#ifndef ORVANE_IMAGE_CONTAINERS_HEADERS_H
#define ORVANE_IMAGE_CONTAINERS_HEADERS_H

#include <stddef.h>
#include <stdint.h>

#include "image/containers/bmp_header.h"
#include "image/imagefile.h"
#include "image/containers/jpeg_markers.h"
#include "image/containers/png_chunks.h"

struct ImageHeaders {
  ImageFormat format;
  int read;  // 0: the headers could not be read; the library judges the file
  size_t file_size;
  BmpHeader bmp;
  PngChunks png;
  JpegFrame jpeg;
};

void ReadImageHeaders(const unsigned char *data, size_t size,
                      ImageFormat format, ImageHeaders *headers);

// The picture's size as the headers read claim it.
void ImageHeadersSize(const ImageHeaders *headers, int64_t *width,
                      int64_t *height);

#endif
