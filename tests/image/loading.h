// Loading for tests that only need the bitmap, or only the reason it failed.
#ifndef ORVANE_TESTS_IMAGE_LOADING_H
#define ORVANE_TESTS_IMAGE_LOADING_H

#include <string>

#include "image/imagefile.h"

// The bitmap, or NULL; the caller releases it.
inline FIBITMAP *Loaded(const std::string &path) {
  ImageError error;
  return LoadImageByName(path.c_str(), &error);
}

inline ImageError LoadError(const std::string &path) {
  ImageError error;
  FIBITMAP *bitmap = LoadImageByName(path.c_str(), &error);
  if (bitmap != nullptr) ReleaseImage(bitmap);
  return error;
}

#endif
