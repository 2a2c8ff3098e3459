// PNG files written byte by byte, in forms the library's writer never makes.
#ifndef ORVANE_TESTS_IMAGE_PNG_BYTES_H
#define ORVANE_TESTS_IMAGE_PNG_BYTES_H

#include <FreeImage.h>
#include <stdint.h>

#include <string>
#include <vector>

inline std::string Big32(uint32_t value) {
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8) out += (char)(value >> shift);
  return out;
}

// One chunk: length, type, data and a CRC that holds.
inline std::string Chunk(const char *type, const std::string &data) {
  std::string body = std::string(type, 4) + data;
  uint32_t crc =
      FreeImage_ZLibCRC32(0, (BYTE *)body.data(), (DWORD)body.size());
  return Big32((uint32_t)data.size()) + body + Big32(crc);
}

// A width x height PNG of the colour type and bit depth, its samples a
// ramp, with a palette of every index for colour type 3 and, with
// transparent, a tRNS chunk of the form's kind.
inline std::string PngOfForm(int colour_type, int depth, bool transparent,
                             uint32_t width, uint32_t height) {
  static const int kChannels[] = {1, 0, 3, 1, 2, 0, 4};
  std::string header = Big32(width) + Big32(height);
  header += {(char)depth, (char)colour_type, 0, 0, 0};
  std::string png = "\x89PNG\r\n\x1a\n" + Chunk("IHDR", header);
  if (colour_type == 3)
    png += Chunk("PLTE", std::string(3 * (1 << depth), '\x40'));
  if (transparent)
    png += Chunk("tRNS", colour_type == 3   ? std::string("\x80\x00", 2)
                         : colour_type == 0 ? std::string(2, '\x01')
                                            : std::string(6, '\x01'));
  size_t row = ((size_t)width * kChannels[colour_type] * depth + 7) / 8;
  std::string raw;
  for (uint32_t y = 0; y < height; y++) {
    raw += '\0';  // no filter
    for (size_t x = 0; x < row; x++) raw += (char)(x * 7 + y);
  }
  std::string packed(raw.size() + raw.size() / 100 + 64, '\0');
  DWORD size = FreeImage_ZLibCompress((BYTE *)&packed[0], (DWORD)packed.size(),
                                      (BYTE *)raw.data(), (DWORD)raw.size());
  packed.resize(size);
  return png + Chunk("IDAT", packed) + Chunk("IEND", "");
}

// Rows of raw samples deflated into one IDAT chunk, each with filter 0.
inline std::string IdatOf(const std::vector<std::string> &rows) {
  std::string raw;
  for (const std::string &row : rows) raw += '\0' + row;
  std::string packed(raw.size() + raw.size() / 100 + 64, '\0');
  DWORD size = FreeImage_ZLibCompress((BYTE *)&packed[0], (DWORD)packed.size(),
                                      (BYTE *)raw.data(), (DWORD)raw.size());
  packed.resize(size);
  return Chunk("IDAT", packed);
}

// A grey PNG of height rows that each hold samples, packed at depth bits,
// with chunks (gAMA, tRNS) before its pixel data.
inline std::string GreyPngOf(int depth, const std::vector<int> &samples,
                             uint32_t height, const std::string &chunks) {
  std::string header = Big32((uint32_t)samples.size()) + Big32(height);
  header += {(char)depth, 0, 0, 0, 0};
  std::string row((samples.size() * depth + 7) / 8, '\0');
  for (size_t i = 0; i < samples.size(); i++) {
    size_t bit = i * depth;
    row[bit / 8] |= (char)(samples[i] << (8 - depth - bit % 8));
  }
  return "\x89PNG\r\n\x1a\n" + Chunk("IHDR", header) + chunks +
         IdatOf(std::vector<std::string>(height, row)) + Chunk("IEND", "");
}

#endif
