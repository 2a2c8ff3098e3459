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
