// EXIF blocks of the tests' own making (tests/exif_maker.h), and the image
// library's and exiftool's view of them.
#ifndef ORVANE_TESTS_EXIF_BLOCKS_H
#define ORVANE_TESTS_EXIF_BLOCKS_H

#include <FreeImage.h>
#include <stdio.h>

#include <string>

#include "tests/exif_maker.h"
#include "tools/test_images.h"

// A small JPEG, as a camera's thumbnail.
inline std::string SmallJpeg() {
  FIBITMAP *scene = MakeSceneImage(16, 12, 24);
  FIMEMORY *memory = FreeImage_OpenMemory();
  FreeImage_SaveToMemory(FIF_JPEG, scene, memory, 75);
  BYTE *data = nullptr;
  DWORD size = 0;
  FreeImage_AcquireMemory(memory, &data, &size);
  std::string jpeg((const char *)data, size);
  FreeImage_CloseMemory(memory);
  FreeImage_Unload(scene);
  return jpeg;
}

// Gives bitmap the block, as the library's JPEG reader would.
inline void AttachExifBlock(FIBITMAP *bitmap, const std::string &block) {
  FITAG *tag = FreeImage_CreateTag();
  FreeImage_SetTagKey(tag, "ExifRaw");
  FreeImage_SetTagType(tag, FIDT_BYTE);
  FreeImage_SetTagCount(tag, (DWORD)block.size());
  FreeImage_SetTagLength(tag, (DWORD)block.size());
  FreeImage_SetTagValue(tag, block.data());
  FreeImage_SetMetadata(FIMD_EXIF_RAW, bitmap, "ExifRaw", tag);
  FreeImage_DeleteTag(tag);
}

// The bitmap's block, or "" when it has none.
inline std::string ExifBlockOf(FIBITMAP *bitmap) {
  FITAG *tag = nullptr;
  if (!FreeImage_GetMetadata(FIMD_EXIF_RAW, bitmap, "ExifRaw", &tag))
    return "";
  return std::string((const char *)FreeImage_GetTagValue(tag),
                     FreeImage_GetTagLength(tag));
}

// The bytes that end the thumbnail: found nowhere else in a file.
inline std::string ThumbnailTail(const std::string &thumbnail) {
  return thumbnail.substr(thumbnail.size() - 64);
}

// What exiftool says of the file, with the options given, less the last
// line end.
inline std::string Exiftool(const std::string &options,
                            const std::string &path) {
  std::string command = "exiftool " + options + " '" + path + "' 2>&1";
  FILE *pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[256];
  while (pipe != nullptr && fgets(buffer, sizeof buffer, pipe) != nullptr)
    out += buffer;
  if (pipe == nullptr || pclose(pipe) != 0) return "exiftool failed: " + out;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// exiftool's judgement of a file: "OK", or its warnings and errors.
inline std::string ExiftoolFindings(const std::string &path) {
  std::string out = Exiftool("-validate -warning -error -a -s3", path);
  return out == "OK" ? out : out + "\n";
}

// The EXIF orientation as exiftool reads it, 1 to 8; "" for none.
inline std::string ExiftoolOrientation(const std::string &path) {
  return Exiftool("-Orientation -n -s3", path);
}

#endif
