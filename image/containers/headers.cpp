#include "image/containers/headers.h"

void ReadImageHeaders(const unsigned char *data, size_t size,
                      ImageFormat format, ImageHeaders *headers) {
  *headers = ImageHeaders{};
  headers->format = format;
  headers->file_size = size;
  switch (format) {
    case kFormatBmp:
      headers->read = ReadBmpHeader(data, size, &headers->bmp);
      break;
    case kFormatPng:
      headers->read = ReadPngChunks(data, size, &headers->png);
      break;
    case kFormatJpeg:
      headers->read = ReadJpegFrame(data, size, &headers->jpeg);
      break;
    default:
      break;
  }
}

void ImageHeadersSize(const ImageHeaders *headers, int64_t *width,
                      int64_t *height) {
  switch (headers->format) {
    case kFormatJpeg:
      *width = headers->jpeg.width;
      *height = headers->jpeg.height;
      return;
    case kFormatPng:
      *width = headers->png.width;
      *height = headers->png.height;
      return;
    case kFormatBmp:
      *width = headers->bmp.width;
      *height = headers->bmp.height;
      return;
    default:
      *width = *height = 0;
  }
}
