// Loading for tests: the whole load, or one of its steps on a file's bytes.
#ifndef ORVANE_TESTS_IMAGE_LOADING_H
#define ORVANE_TESTS_IMAGE_LOADING_H

#include <string>

#include "image/load/bmp_load.h"
#include "image/load/claims.h"
#include "image/containers/headers.h"
#include "image/imagefile.h"
#include "tests/temp_folder.h"

// The bitmap, or NULL; the caller releases it.
inline FIBITMAP *Loaded(const std::string &path) {
  LoadFailure failure;
  return LoadImageByName(path.c_str(), &failure);
}

inline ImageError LoadError(const std::string &path) {
  LoadFailure failure;
  FIBITMAP *bitmap = LoadImageByName(path.c_str(), &failure);
  if (bitmap != nullptr) ReleaseImage(bitmap);
  return failure.error;
}

// The file's headers as the load reads them.
inline ImageHeaders HeadersOf(const std::string &bytes, ImageFormat format) {
  ImageHeaders headers;
  ReadImageHeaders((const unsigned char *)bytes.data(), bytes.size(), format,
                   &headers);
  return headers;
}

// 1 when the check before loading refuses the file at path.
inline int ClaimsTooMuch(const std::string &path, ImageFormat format) {
  ImageHeaders headers = HeadersOf(ReadWholeFile(path), format);
  char reason[200];
  return ClaimsMoreThanItHolds(&headers, reason, sizeof reason);
}

// The BMP at path as the load shows it to the library.
inline FIBITMAP *LoadedBmp(const std::string &path) {
  std::string bytes = ReadWholeFile(path);
  ImageHeaders headers = HeadersOf(bytes, kFormatBmp);
  return LoadBmpBytes((const unsigned char *)bytes.data(), bytes.size(),
                      headers.read ? &headers.bmp : nullptr);
}

#endif
