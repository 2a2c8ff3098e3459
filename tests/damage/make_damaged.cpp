// Makes a corpus of damaged image files from good ones: cut short at many
// points, bytes flipped, header sizes made absurd (with valid checksums where
// the format has them), and good files under the wrong extension. The same
// seed gives the same corpus. With --bombs, JPEGs whose frame claims far more
// than their bytes hold instead (decompression bombs, or cut files), and
// BMP and JPEG headers of rarer kinds that do the same.
// With --metadata, photos made from nothing whose metadata holds faults.
// Usage: make_damaged out-folder good-file...
//        make_damaged --bombs out-folder good-jpeg...
//        make_damaged --metadata out-folder
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "image/containers/header_fields.h"
#include "tests/exif_maker.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const int kCuts = 40;
const int kFlipped = 60;
int g_written = 0;

Bytes Read(const char *path) {
  Bytes data;
  FILE *file = fopen(path, "rb");
  if (file == NULL) return data;
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
    data.insert(data.end(), buffer, buffer + n);
  fclose(file);
  return data;
}

void Write(const std::string &path, const Bytes &data) {
  FILE *file = fopen(path.c_str(), "wb");
  bool written = file != NULL &&
                 (data.empty() ||
                  fwrite(data.data(), 1, data.size(), file) == data.size());
  if (file != NULL && fclose(file) != 0) written = false;
  if (!written) {
    fprintf(stderr, "make_damaged: can't write %s\n", path.c_str());
    exit(1);
  }
  g_written++;
}

std::string Extension(const std::string &name) {
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? "" : name.substr(dot);
}

std::string BaseName(const std::string &path) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.substr(0, name.rfind('.'));
}

void PutBig32(Bytes *data, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) (*data)[at + i] = (uint8_t)(v >> (24 - 8 * i));
}

void PutLittle32(Bytes *data, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) (*data)[at + i] = (uint8_t)(v >> (8 * i));
}

void PutLittle16(Bytes *data, size_t at, uint16_t v) {
  (*data)[at] = (uint8_t)v;
  (*data)[at + 1] = (uint8_t)(v >> 8);
}

uint32_t Crc32(const uint8_t *p, size_t n) {
  uint32_t crc = 0xffffffffu;
  for (size_t i = 0; i < n; i++) {
    crc ^= p[i];
    for (int k = 0; k < 8; k++) crc = (crc >> 1) ^ (0xedb88320u & -(crc & 1));
  }
  return ~crc;
}

// The checksum of the IHDR chunk, over its type and data.
uint32_t HeaderCrc(const Bytes &png) {
  return Crc32(&png[kPngChunkType], kPngHeaderCrc - kPngChunkType);
}

// PNG: the first chunk is IHDR; its width and height are bytes 16 to 23 and
// its checksum follows the 13 bytes of data.
void AbsurdPng(const Bytes &good, const std::string &out) {
  const uint32_t sizes[][2] = {{0, 0},           {0x7fffffff, 1},
                               {1000000, 1000000}, {0xffffffff, 0xffffffff},
                               {65535, 65535},   {1, 0x7fffffff}};
  int i = 0;
  for (const auto &size : sizes) {
    Bytes data = good;
    PutBig32(&data, kPngWidth, size[0]);
    PutBig32(&data, kPngHeight, size[1]);
    PutBig32(&data, kPngHeaderCrc, HeaderCrc(data));
    Write(out + "-size" + std::to_string(i++) + ".png", data);
  }
  Bytes depth = good;
  depth[kPngBitDepth] = 7;  // a bit depth that does not exist
  PutBig32(&depth, kPngHeaderCrc, HeaderCrc(depth));
  Write(out + "-depth.png", depth);
}

void AbsurdBmp(const Bytes &good, const std::string &out) {
  struct Change {
    size_t at;
    uint32_t value;
    int bytes;
  };
  const Change changes[] = {
      {kBmpWidth, 0x7fffffff, 4},       {kBmpHeight, 0x80000001, 4},
      {kBmpWidth, 0, 4},                {kBmpHeight, 0xffffffff, 4},
      {kBmpBitsPerPixel, 7, 2},         {kBmpBitsPerPixel, 0, 2},
      {kBmpCompression, 1, 4},          {kBmpCompression, 99, 4},
      {kBmpPixelOffset, 0xfffffff0, 4}, {kBmpInfoSize, 0xffffffff, 4},
      {2, 0xffffffff, 4},  // the file size
      {kBmpWidth, 0x10000, 4}};
  int i = 0;
  for (const Change &c : changes) {
    Bytes data = good;
    if (c.bytes == 4)
      PutLittle32(&data, c.at, c.value);
    else
      PutLittle16(&data, c.at, (uint16_t)c.value);
    Write(out + "-header" + std::to_string(i++) + ".bmp", data);
  }
}

// JPEG: the frame header (SOFn) holds the height at +5 and the width at +7.
void AbsurdJpeg(const Bytes &good, const std::string &out) {
  size_t sof = 0;
  for (size_t i = 2; i + 9 < good.size(); i++)
    if (good[i] == 0xff && (good[i + 1] == 0xc0 || good[i + 1] == 0xc2)) {
      sof = i;
      break;
    }
  if (sof == 0) return;
  const uint16_t sizes[][2] = {{0, 0}, {65535, 65535}, {1, 65535}, {65535, 1}};
  int i = 0;
  for (const auto &size : sizes) {
    Bytes data = good;
    data[sof + 5] = size[0] >> 8;
    data[sof + 6] = size[0] & 0xff;
    data[sof + 7] = size[1] >> 8;
    data[sof + 8] = size[1] & 0xff;
    Write(out + "-size" + std::to_string(i++) + ".jpg", data);
  }
  Bytes components = good;
  components[sof + 9] = 200;  // far more colour components than exist
  Write(out + "-components.jpg", components);
}

void Damage(const std::string &folder, const char *path, std::mt19937 *random) {
  Bytes good = Read(path);
  if (good.size() < 64) {
    fprintf(stderr, "make_damaged: %s is too small to damage\n", path);
    exit(1);
  }
  std::string ext = Extension(path);
  std::string out = folder + "/" + BaseName(path);
  for (int i = 0; i < kCuts; i++) {
    // Dense over the headers, then spread over the rest.
    size_t half = kCuts / 2;
    size_t at = i < (int)half ? (size_t)i * 7
                              : good.size() * (i - half + 1) / (half + 1);
    Write(out + "-cut" + std::to_string(at) + ext,
          Bytes(good.begin(), good.begin() + at));
  }
  for (int i = 0; i < kFlipped; i++) {
    Bytes data = good;
    int flips = 1 + (int)((*random)() % 8);
    for (int k = 0; k < flips; k++) {
      // Half the flips land in the first 512 bytes, where the headers are.
      size_t span = (k % 2 == 0) ? std::min<size_t>(512, data.size())
                                 : data.size();
      data[(*random)() % span] ^= (uint8_t)(1 + (*random)() % 255);
    }
    Write(out + "-flip" + std::to_string(i) + ext, data);
  }
  if (ext == ".png") AbsurdPng(good, out);
  if (ext == ".bmp") AbsurdBmp(good, out);
  if (ext == ".jpg") AbsurdJpeg(good, out);
  // The right bytes under each wrong extension.
  for (const char *other : {".jpg", ".png", ".bmp"})
    if (ext != other) Write(out + "-named" + other, good);
  // Only the format's signature, then noise.
  Bytes noise(good.begin(), good.begin() + 16);
  for (int i = 0; i < 4096; i++) noise.push_back((uint8_t)(*random)());
  Write(out + "-noise" + ext, noise);
}

// ---- Bombs ----

// Where a JPEG's first frame header and the data of its first scan begin;
// 0 when there are none.
struct JpegLayout {
  size_t frame, data;
};

JpegLayout LayoutOf(const Bytes &jpeg) {
  JpegLayout layout = {0, 0};
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
    int marker = jpeg[at + 1];
    size_t length = (size_t)jpeg[at + 2] << 8 | jpeg[at + 3];
    if (layout.frame == 0 && marker >= kJpegFrameBaseline && marker <= 0xC2)
      layout.frame = at;
    if (marker == kJpegScan) {
      layout.data = at + 2 + length;
      return layout;
    }
    at += 2 + length;
  }
  return {0, 0};
}

// The sizes a bomb claims, widest first; every one is cut at each of these
// numbers of coded bytes that holds less than the least a whole file of
// that size needs (one bit a block).
const uint16_t kBombSizes[][2] = {{65500, 65500}, {65500, 32768},
                                  {32768, 65500}, {40000, 40000},
                                  {32768, 32768}, {65500, 2048},
                                  {16384, 16384}, {8192, 8192}};
const size_t kBombDataBytes[] = {0,     64,     500,    4000,
                                 16000, 64000,  256000, 1000000};

// Blocks of a three-component frame with the usual halved colour.
int64_t BlocksOf(int64_t width, int64_t height) {
  return (width + 7) / 8 * ((height + 7) / 8) * 3 / 2;
}

void Bombs(const std::string &folder, const char *path) {
  Bytes good = Read(path);
  JpegLayout layout = LayoutOf(good);
  if (layout.frame == 0 || layout.data == 0) {
    fprintf(stderr, "make_damaged: %s has no frame and scan to claim\n", path);
    exit(1);
  }
  std::string out = folder + "/" + BaseName(path) + "-bomb";
  size_t fields = layout.frame + 4;
  for (const auto &size : kBombSizes) {
    for (size_t kept : kBombDataBytes) {
      if (layout.data + kept > good.size()) break;
      if ((int64_t)kept * 8 >= BlocksOf(size[0], size[1])) break;
      Bytes data(good.begin(), good.begin() + layout.data + kept);
      data[fields + kJpegWidth] = size[0] >> 8;
      data[fields + kJpegWidth + 1] = size[0] & 0xff;
      data[fields + kJpegHeight] = size[1] >> 8;
      data[fields + kJpegHeight + 1] = size[1] & 0xff;
      Write(out + std::to_string(size[0]) + "x" + std::to_string(size[1]) +
                "-" + std::to_string(data.size()) + ".jpg",
            data);
    }
  }
}

// A BMP of size bytes whose info header of info_size bytes claims width x
// height pixels of bits each, coded as compression says.
Bytes BmpClaiming(size_t size, uint32_t info_size, uint32_t width,
                  uint32_t height, uint32_t bits, uint32_t compression,
                  uint32_t pixel_offset) {
  Bytes bmp(size, 0);
  bmp[0] = 'B', bmp[1] = 'M';
  PutLittle32(&bmp, 2, (uint32_t)size);
  PutLittle32(&bmp, kBmpPixelOffset, pixel_offset);
  PutLittle32(&bmp, kBmpInfoSize, info_size);
  PutLittle32(&bmp, kBmpWidth, width);
  PutLittle32(&bmp, kBmpHeight, height);
  PutLittle16(&bmp, kBmpWidth + 8, 1);  // planes
  PutLittle16(&bmp, kBmpBitsPerPixel, (uint16_t)bits);
  if (info_size >= 20) PutLittle32(&bmp, kBmpCompression, compression);
  return bmp;
}

// A JPEG frame of components components, arithmetic-coded and progressive
// (SOF10), 47 x 1, with a scan over the first; the library's loader once
// corrupted its heap on nine.
Bytes JpegOfComponents(int components) {
  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xCA, 0, (uint8_t)(8 + 3 * components),
                8,    0,    1,    0,    47, (uint8_t)components};
  for (int c = 0; c < components; c++) {
    Bytes component = {(uint8_t)(c + 1), 0x11, 0};
    jpeg.insert(jpeg.end(), component.begin(), component.end());
  }
  Bytes scan = {0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 0, 0};
  jpeg.insert(jpeg.end(), scan.begin(), scan.end());
  jpeg.resize(132, 0x55);
  jpeg[130] = 0xFF, jpeg[131] = 0xD9;
  return jpeg;
}

void Append(Bytes *data, const Bytes &more) {
  data->insert(data->end(), more.begin(), more.end());
}

// A JPEG segment: its marker, its length, its payload.
Bytes Segment(uint8_t marker, const Bytes &payload) {
  size_t length = payload.size() + 2;
  Bytes segment(2 + length);
  segment[0] = 0xFF, segment[1] = marker;
  segment[2] = (uint8_t)(length >> 8), segment[3] = (uint8_t)length;
  std::copy(payload.begin(), payload.end(), segment.begin() + 4);
  return segment;
}

// One quantisation table of ones, then a frame (SOF2 or SOF10) of
// size x size whose components are sampled as sampling says (one byte
// each, horizontal << 4 | vertical), numbered from 1.
Bytes ProgressiveFrame(uint8_t marker, uint16_t size, const Bytes &sampling) {
  Bytes jpeg = {0xFF, 0xD8};
  Bytes table(65, 1);
  table[0] = 0;
  Append(&jpeg, Segment(0xDB, table));
  Bytes frame = {8, (uint8_t)(size >> 8), (uint8_t)size,
                 (uint8_t)(size >> 8), (uint8_t)size, (uint8_t)sampling.size()};
  for (size_t c = 0; c < sampling.size(); c++)
    Append(&frame, {(uint8_t)(c + 1), sampling[c], 0});
  Append(&jpeg, Segment(marker, frame));
  return jpeg;
}

// Huffman table 0 of its class (0x00 DC, 0x10 AC) with one 1-bit code, for
// symbol.
Bytes OneCodeTable(uint8_t table_class, uint8_t symbol) {
  Bytes table = {table_class};
  Bytes counts(16, 0);
  counts[0] = 1;
  Append(&table, counts);
  table.push_back(symbol);
  return table;
}

// Huffman tables 0 of one 1-bit code each: DC difference 0, and end of
// band; so every zero bit codes one block.
Bytes OneCodeTables() {
  Bytes tables = OneCodeTable(0x00, 0);
  Append(&tables, OneCodeTable(0x10, 0));
  return Segment(0xC4, tables);
}

// A scan of one component over coefficients first to last, at the
// successive approximation given (high << 4 | low bit), followed by coded
// bytes of zero bits.
Bytes ScanOf(uint8_t component, uint8_t first, uint8_t last, size_t coded,
             uint8_t approximation = 0) {
  Bytes scan = Segment(0xDA, {1, component, 0, first, last, approximation});
  scan.resize(scan.size() + coded, 0);
  return scan;
}

// A progressive grey JPEG: a DC scan of a bit a block, then scans of the
// AC coefficients that code nothing, far more than any encoder writes; the
// library walks every block in each of them.
Bytes ManyEmptyScans(uint8_t marker, uint16_t size, size_t dc_bytes,
                     int ac_scans) {
  Bytes jpeg = ProgressiveFrame(marker, size, {0x11});
  if (marker == 0xC2) Append(&jpeg, OneCodeTables());
  Append(&jpeg, ScanOf(1, 0, 0, dc_bytes));
  for (int i = 0; i < ac_scans; i++) Append(&jpeg, ScanOf(1, 1, 63, 0));
  Append(&jpeg, {0xFF, 0xD9});
  return jpeg;
}

// A progressive flat grey JPEG as an encoder codes it: a DC scan of a bit a
// block, then the last AC scan, a refinement of the lowest bit, whose every
// code is a run of 16,384 empty blocks (EOB14: a 1-bit code, 14 zero bits),
// repeated with its table until there are scans in all. Each repeat is a
// few dozen bytes that make the library walk every coefficient of every
// block once more.
Bytes RepeatedAcScan(uint16_t size, int scans) {
  Bytes jpeg = ProgressiveFrame(0xC2, size, {0x11});
  size_t blocks = (size_t)(size / 8) * (size / 8);
  Append(&jpeg, Segment(0xC4, OneCodeTable(0x00, 0)));
  Append(&jpeg, ScanOf(1, 0, 0, blocks / 8));
  size_t runs = (blocks + 16383) / 16384;
  for (int i = 1; i < scans; i++) {
    Append(&jpeg, Segment(0xC4, OneCodeTable(0x10, 0xE0)));
    Append(&jpeg, ScanOf(1, 1, 63, (runs * 15 + 7) / 8, 0x10));
  }
  Append(&jpeg, {0xFF, 0xD9});
  return jpeg;
}

// A progressive colour JPEG whose luma, sampled 4 x 4, is never coded: a
// DC scan of Cb with a bit a block, one of Y with no bytes, then a scan
// the library refuses, once it has set aside every coefficient.
Bytes LumaNeverCoded() {
  const uint16_t kSize = 20000;  // 625 x 625 blocks of Cb
  Bytes jpeg = ProgressiveFrame(0xC2, kSize, {0x44, 0x11, 0x11});
  Append(&jpeg, OneCodeTables());
  Append(&jpeg, ScanOf(2, 0, 0, 625 * 625 / 8 + 1));
  Append(&jpeg, ScanOf(1, 0, 0, 0));
  Append(&jpeg, ScanOf(1, 5, 2, 0));  // a band that ends before it starts
  Append(&jpeg, {0xFF, 0xD9});
  return jpeg;
}

// A PNG chunk with its length and checksum.
Bytes PngChunk(const char *type, const Bytes &payload) {
  Bytes chunk(8, 0);
  PutBig32(&chunk, 0, (uint32_t)payload.size());
  memcpy(&chunk[4], type, 4);
  Append(&chunk, payload);
  chunk.resize(chunk.size() + 4);
  PutBig32(&chunk, chunk.size() - 4, Crc32(&chunk[4], payload.size() + 4));
  return chunk;
}

// A 1-bit grey PNG of size x size with a transparent grey, which the
// library loads at 8 bits, padded by a private chunk of padding bytes
// before an IDAT of two bytes that are no zlib stream.
Bytes PaddedPng(uint32_t size, size_t padding) {
  Bytes png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  Bytes header(13, 0);
  PutBig32(&header, 0, size);
  PutBig32(&header, 4, size);
  header[8] = 1;  // bit depth; grey, deflate, no filter, not interlaced
  Append(&png, PngChunk("IHDR", header));
  Append(&png, PngChunk("tRNS", {0, 0}));
  Append(&png, PngChunk("paDd", Bytes(padding, 0)));
  Append(&png, PngChunk("IDAT", {0, 0}));
  Append(&png, PngChunk("IEND", {}));
  return png;
}

// Headers that claim far more than their bytes, in the forms a check that
// reads only the common headers missed.
void HeaderBombs(const std::string &folder) {
  Bytes os2 = BmpClaiming(94, 16, 30000, 30000, 24, 0, 30);
  Write(folder + "/os2-16-30000x30000.bmp", os2);
  Bytes rle = BmpClaiming(40, 20, 60000, 60000, 8, 1, 38);
  rle[38] = 0, rle[39] = 1;  // end of bitmap at once
  Write(folder + "/os2-rle8-60000x60000.bmp", rle);
  Bytes alpha = BmpClaiming(154, 124, 8192, 8192, 32, 6, 138);
  PutLittle32(&alpha, kBmpRedMask, 0xFF0000);
  PutLittle32(&alpha, kBmpGreenMask, 0xFF00);
  PutLittle32(&alpha, kBmpBlueMask, 0xFF);
  Write(folder + "/v5-alphabitfields-8192x8192.bmp", alpha);
  Write(folder + "/nine-components.jpg", JpegOfComponents(9));
  // The library ignores the compression of 24 and 32-bit rows and reads
  // them raw: a black picture of 192 or 256 MB from 58 bytes.
  for (uint32_t bits : {24u, 32u})
    Write(folder + "/rle8-at-" + std::to_string(bits) + "-bits-8192x8192.bmp",
          BmpClaiming(58, 40, 8192, 8192, bits, 1, 54));
  Write(folder + "/progressive-10000-empty-scans-4096x4096.jpg",
        ManyEmptyScans(0xC2, 4096, 512 * 512 / 8, 10000));
  Write(folder + "/arithmetic-3000-empty-scans-8192x8192.jpg",
        ManyEmptyScans(0xCA, 8192, 0, 2999));
  // Within the count of scans, past the work: a pass over every block more
  // than the bound allows (32), and 500 of them.
  for (int scans : {33, 500})
    Write(folder + "/progressive-" + std::to_string(scans) +
              "-repeated-ac-scans-4096x4096.jpg",
          RepeatedAcScan(4096, scans));
  Write(folder + "/progressive-luma-never-coded-20000x20000.jpg",
        LumaNeverCoded());
  Write(folder + "/grey-1-bit-padded-28000x28000.png",
        PaddedPng(28000, 100000));
}


// ---- Metadata faults ----
// Photos whose metadata once cost the library gigabytes or crashed it
// (their names begin "bomb-"), or whose metadata an edit or -strip left
// untrue or kept. Each is made from nothing: a flat grey JPEG or PNG of
// the sizes below, with the segments or chunks of the fault.

typedef std::string Text;

// The tables and frame of a flat JPEG, frame marker and all: Huffman
// tables of one code each (DC difference 0, end of block).
Text FlatHead(uint16_t width, uint16_t height, int components, char frame) {
  Text jpeg = Text("\xFF\xDB\x00\x43\x00", 5) + Text(64, '\x01');
  const char header[] = {'\xFF', frame, 0, (char)(8 + 3 * components), 8,
                         (char)(height >> 8), (char)height,
                         (char)(width >> 8), (char)width, (char)components};
  jpeg += Text(header, sizeof header);
  for (int c = 1; c <= components; c++) jpeg += Text{(char)c, 0x11, 0};
  for (int table_class = 0; table_class < 2; table_class++) {
    jpeg += Text("\xFF\xC4\x00\x14", 4) + (char)(table_class << 4);
    jpeg += Text(1, '\x01') + Text(15, '\0') + Text(1, '\0');
  }
  return jpeg;
}

// A baseline JPEG of one (grey) or three components, every block flat:
// Huffman tables of one code each (DC difference 0, end of block), so each
// block is two zero bits. data_bytes of them are written (all that's
// needed when 0); a frame claiming more than that is filled in by the
// decoder.
Text FlatJpeg(uint16_t width, uint16_t height, int components,
              size_t data_bytes, const Text &segments) {
  Text jpeg = Text("\xFF\xD8", 2) + segments +
              FlatHead(width, height, components, '\xC0');
  jpeg += Text{'\xFF', '\xDA', 0, (char)(6 + 2 * components), (char)components};
  for (int c = 1; c <= components; c++) jpeg += Text{(char)c, 0};
  jpeg += Text("\x00\x3F\x00", 3);
  size_t blocks = (size_t)((width + 7) / 8) * ((height + 7) / 8) * components;
  jpeg += Text(data_bytes > 0 ? data_bytes : (blocks * 2 + 7) / 8, '\0');
  return jpeg + Text("\xFF\xD9", 2);
}

Text Segment(uint8_t marker, const Text &payload) {
  size_t length = payload.size() + 2;
  return Text(1, '\xFF') + (char)marker + (char)(length >> 8) + (char)length +
         payload;
}

const ExifBlockMaker kLittle(false);

ExifDirectory PhotoIfd0(uint16_t orientation) {
  return {kLittle.Text(0x010F, "Orvane test"), kLittle.Short(0x0112, orientation),
          kLittle.Rational(0x011A, 72), kLittle.Rational(0x011B, 72),
          kLittle.Short(0x0128, 2)};
}

ExifDirectory PhotoExif(uint32_t width, uint32_t height) {
  return {kLittle.Bytes(0x9000, "0230"), kLittle.Long(0xA002, width),
          kLittle.Long(0xA003, height)};
}

ExifDirectory ThumbnailIfd1() {
  return {kLittle.Short(0x0103, 6), kLittle.Rational(0x011A, 72),
          kLittle.Rational(0x011B, 72), kLittle.Short(0x0128, 2)};
}

// A 64 x 64 photo whose thumbnail, 200 bytes, claims 30000 x 30000 in
// colour.
Text ThumbnailBomb() {
  ExifPlaces places;
  Text block = kLittle.Make(PhotoIfd0(1), PhotoExif(64, 64), ThumbnailIfd1(),
                            FlatJpeg(30000, 30000, 3, 16, ""), &places);
  return FlatJpeg(64, 64, 3, 0, Segment(0xE1, block));
}

// A block that reads whole, but whose FUJIFILM maker note (its directory's
// offset little-endian, counted from the note's start) sends a reader
// 60000 bytes past the block's end. A 64,000-byte copyright before it puts
// the note near the block's end, so that the offset alone is less than the
// block's size.
Text FujifilmMakerNoteBomb() {
  ExifDirectory ifd0 = PhotoIfd0(1);
  ifd0[0] = kLittle.Text(0x010F, "FUJIFILM");
  ifd0.push_back(kLittle.Text(0x8298, Text(64000, 'c')));
  ExifDirectory exif = PhotoExif(64, 64);
  exif.push_back(kLittle.Bytes(0x927C, Text("FUJIFILM\0\0\0\0", 12)));
  ExifPlaces places;
  Text block = kLittle.Make(ifd0, exif, {}, "", &places);
  size_t note = block.rfind("FUJIFILM");
  block.replace(note + 8, 4,
                kLittle.Number((uint32_t)(block.size() - note + 60000), 4));
  return FlatJpeg(64, 64, 3, 0, Segment(0xE1, block));
}

// Twelve EXIF blocks, each an IFD0 of 2,000 tags, none in two blocks,
// that all point at one shared 40,000-byte value.
Text SharedValueBomb() {
  const uint32_t kTags = 2000, kValueSize = 40000;
  uint32_t value_at = 8 + 2 + 12 * kTags + 4;
  Text segments;
  for (uint32_t block = 0; block < 12; block++) {
    Text tiff = "II" + kLittle.Number(42, 2) + kLittle.Number(8, 4) +
                kLittle.Number(kTags, 2);
    for (uint32_t i = 0; i < kTags; i++)
      tiff += kLittle.Number(0x1000 + block * kTags + i, 2) +
              kLittle.Number(7, 2) + kLittle.Number(kValueSize, 4) +
              kLittle.Number(value_at, 4);
    tiff += kLittle.Number(0, 4) + Text(kValueSize, 'v');
    segments += Segment(0xE1, Text("Exif\0\0", 6) + tiff);
  }
  return FlatJpeg(64, 64, 3, 0, segments);
}

uint32_t Adler32(const Text &data) {
  uint32_t a = 1, b = 0;
  for (unsigned char c : data) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

Text Big32(uint32_t value) {
  return Text{(char)(value >> 24), (char)(value >> 16), (char)(value >> 8),
              (char)value};
}

// A zlib stream of stored (uncompressed) deflate blocks.
Text ZlibStored(const Text &data) {
  Text out("\x78\x01", 2);
  size_t at = 0;
  do {
    size_t length = std::min<size_t>(data.size() - at, 65535);
    bool last = at + length == data.size();
    out += (char)(last ? 1 : 0);
    out += kLittle.Number((uint32_t)length, 2) +
           kLittle.Number((uint32_t)(~length & 0xFFFF), 2);
    out += data.substr(at, length);
    at += length;
  } while (at < data.size());
  return out + Big32(Adler32(data));
}

// Deflate's bits, first bit lowest; Huffman codes go highest bit first.
struct Bits {
  Text bytes;
  int used = 8;
  void Put(uint32_t value, int count) {
    for (int i = 0; i < count; i++, used++) {
      if (used == 8) bytes += '\0', used = 0;
      if (value >> i & 1) bytes.back() = (char)(bytes.back() | 1 << used);
    }
  }
  void Code(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; i--) Put(code >> i & 1, 1);
  }
};

// A run of zero code lengths, in runs of 11 to 138 (code 18, "0").
void ZeroLengths(Bits *bits, int count) {
  for (; count > 0; count -= std::min(count, 138))
    bits->Code(0, 1), bits->Put(std::min(count, 138) - 11, 7);
}

// A zlib stream of count bytes of byte (11 to 244) as zlib packs them best:
// one dynamic block whose codes make a copy of 258 bytes two bits. The
// literal is "10", the end "11", length 258 "0"; distance 1 is "0".
Text ZlibRun(uint8_t byte, uint32_t count) {
  Bits bits;
  bits.Put(1, 1), bits.Put(2, 2);  // the last block, dynamic codes
  bits.Put(286 - 257, 5), bits.Put(0, 5), bits.Put(18 - 4, 4);
  // The code-length code: 18 (a run of zeros) "0", 1 "10", 2 "11".
  const int kOrder[18] = {16, 17, 18, 0, 8, 7, 9, 6, 10,
                          5,  11, 4,  12, 3, 13, 2, 14, 1};
  for (int symbol : kOrder)
    bits.Put(symbol == 18 ? 1 : symbol == 1 || symbol == 2 ? 2 : 0, 3);
  // Lengths: the literal two, 256 two, 285 one; the one distance code one.
  ZeroLengths(&bits, byte);
  bits.Code(3, 2);
  ZeroLengths(&bits, 255 - byte);
  bits.Code(3, 2);
  ZeroLengths(&bits, 28);
  bits.Code(2, 2), bits.Code(2, 2);
  uint32_t left = count;
  if (left > 0) bits.Code(2, 2), left--;
  for (; left >= 258; left -= 258) bits.Code(0, 1), bits.Code(0, 1);
  for (; left > 0; left--) bits.Code(2, 2);
  bits.Code(3, 2);
  return Text("\x78\xDA", 2) + bits.bytes + Big32(Adler32(Text(count, byte)));
}

Text Chunk(const char *type, const Text &data) {
  Text body = Text(type, 4) + data;
  return Big32((uint32_t)data.size()) + body +
         Big32(Crc32((const uint8_t *)body.data(), body.size()));
}

// A grey RGB PNG of width x height with the chunks before its pixels.
Text FlatPng(uint32_t width, uint32_t height, const Text &chunks) {
  Text header = Big32(width) + Big32(height) + Text("\x08\x02\0\0\0", 5);
  Text row = Text(1, '\0') + Text(3 * width, '\x80'), rows;
  for (uint32_t y = 0; y < height; y++) rows += row;
  return Text("\x89PNG\r\n\x1A\n", 8) + Chunk("IHDR", header) + chunks +
         Chunk("IDAT", ZlibStored(rows)) + Chunk("IEND", "");
}

// Twelve comments of 7.9 MB of the digit 0 each: just under the most a
// text chunk may hold when the PNG library reads it.
Text ZtxtBomb() {
  Text chunks, zeros = ZlibRun('0', 7900000);
  for (int i = 1; i <= 12; i++)
    chunks += Chunk("zTXt", "Comment " + std::to_string(i) + Text(2, '\0') +
                                zeros);
  return FlatPng(1, 1, chunks);
}

// 2,000 compressed XMP packets of a megabyte each: all were once inflated
// at the load, to be dropped but the first at the save.
Text XmpPacketsBomb() {
  Text itxt = Chunk("iTXt", Text("XML:com.adobe.xmp\0\1\0\0\0", 22) +
                                ZlibRun(' ', 1000000));
  Text chunks;
  for (int i = 0; i < 2000; i++) chunks += itxt;
  return FlatPng(64, 64, chunks);
}

// Many tiny text chunks, each once a record of its own grown one at a
// time.
Text TextChunksBomb() {
  Text text = Chunk("tEXt", Text("Comment\0c", 9)), chunks;
  for (int i = 0; i < 200000; i++) chunks += text;
  return FlatPng(64, 64, chunks);
}

// EXIF Orientation 6 stored as a LONG, not a SHORT, on a 64 x 48 photo.
Text LongOrientation() {
  ExifDirectory ifd0 = PhotoIfd0(1);
  ifd0[1] = kLittle.Long(0x0112, 6);
  ExifPlaces places;
  Text block = kLittle.Make(ifd0, PhotoExif(64, 48), ThumbnailIfd1(),
                            FlatJpeg(16, 12, 3, 0, ""), &places);
  return FlatJpeg(64, 48, 3, 0, Segment(0xE1, block));
}

// A Kodak "Meta" directory in APP3: CameraOwner and SerialNumber.
Text App3Meta() {
  // Each a text behind its 8-byte character code, as in a user comment.
  const Text ascii("ASCII\0\0\0", 8);
  Text tiff = kLittle.Tiff({kLittle.Bytes(0xC353, ascii + "Orvane Owner"),
                            kLittle.Bytes(0xC354, ascii + "SN-0123456789")},
                           0, {});
  return FlatJpeg(64, 48, 3, 0, Segment(0xE3, Text("Meta\0\0", 6) + tiff));
}

// A degrees, minutes, seconds triple of RATIONALs.
ExifEntry Position(uint16_t tag, uint32_t degrees, uint32_t minutes) {
  return {tag, 5, 3,
          kLittle.Number(degrees, 4) + kLittle.Number(1, 4) +
              kLittle.Number(minutes, 4) + kLittle.Number(1, 4) +
              kLittle.Number(0, 4) + kLittle.Number(1, 4)};
}

// A profile as text chunks carry it: its name, its length, and its bytes
// in hex, 36 to a line.
Text RawProfile(const char *name, const Text &profile) {
  char length[16];
  snprintf(length, sizeof length, "%8u", (unsigned)profile.size());
  Text text = Text("\n") + name + "\n" + length;
  for (size_t i = 0; i < profile.size(); i++) {
    if (i % 36 == 0) text += '\n';
    char hex[3];
    snprintf(hex, sizeof hex, "%02x", (unsigned char)profile[i]);
    text += hex;
  }
  text += '\n';
  return Chunk("zTXt", Text("Raw profile type ") + name + Text(1, '\0') +
                           Text(1, '\0') + ZlibStored(text));
}

const char kXmpWithPlace[] =
    "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
    "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
    "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n"
    "<rdf:Description rdf:about='' "
    "xmlns:tiff='http://ns.adobe.com/tiff/1.0/' "
    "xmlns:exif='http://ns.adobe.com/exif/1.0/' tiff:Make='Orvane test' "
    "tiff:Model='Flat grey' exif:GPSLatitude='48,51.5N' "
    "exif:GPSLongitude='2,21.1E'/>\n"
    "</rdf:RDF></x:xmpmeta>\n<?xpacket end='w'?>";

// EXIF (Make, Model, a GPS position) and XMP as the raw-profile text
// chunks other tools write into PNGs.
Text RawProfilePng() {
  ExifDirectory gps = {{0x0000, 1, 4, Text("\2\3\0\0", 4)},
                       kLittle.Text(0x0001, "N"), Position(0x0002, 48, 51),
                       kLittle.Text(0x0003, "E"), Position(0x0004, 2, 21)};
  Text exif = Text("Exif\0\0", 6) +
              kLittle.Tiff({kLittle.Text(0x010F, "Orvane test"),
                            kLittle.Text(0x0110, "Flat grey")},
                           0x8825, gps);
  return FlatPng(8, 6, RawProfile("exif", exif) +
                           RawProfile("xmp", kXmpWithPlace));
}

// EXIF Orientation 6 and XMP tiff:Orientation 6 on a 64 x 48 photo.
Text XmpOrientationPhoto() {
  ExifPlaces places;
  Text exif = kLittle.Make(PhotoIfd0(6), PhotoExif(64, 48), ThumbnailIfd1(),
                           FlatJpeg(16, 12, 3, 0, ""), &places);
  Text xmp = Text("http://ns.adobe.com/xap/1.0/\0", 29) +
             "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
             "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
             "<rdf:Description rdf:about='' "
             "xmlns:tiff='http://ns.adobe.com/tiff/1.0/' "
             "xmlns:exif='http://ns.adobe.com/exif/1.0/' "
             "tiff:Orientation='6' exif:PixelXDimension='64' "
             "exif:PixelYDimension='48'/></rdf:RDF></x:xmpmeta>";
  return FlatJpeg(64, 48, 3, 0, Segment(0xE1, exif) + Segment(0xE1, xmp));
}

// ---- Metadata after the first scan, and second forms of it ----
// Everything put behind a JPEG's first scan holds the word LATE-SECRET,
// which no output may hold: what stands there is not the photo's metadata
// as viewers read it.


// A scan of the components first to first + count - 1, coefficients from
// start to end, with bits_a_block bits for each block it codes (all zero:
// each block a difference of 0 and an end of block).
Text FlatScan(int first, int count, int start, int end, size_t blocks,
              int bits_a_block) {
  Text scan{'\xFF', '\xDA', 0, (char)(6 + 2 * count), (char)count};
  for (int c = first; c < first + count; c++) scan += Text{(char)c, 0};
  scan += Text{(char)start, (char)end, 0};
  return scan + Text((blocks * count * bits_a_block + 7) / 8, '\0');
}

// A flat 64 x 48 JPEG of three components coded in several scans:
// progressive (the DC of all, then each one's AC) or baseline a component
// a scan. between stands behind the first scan, tail behind the last.
Text ScannedJpeg(bool progressive, const Text &head, const Text &between,
                 const Text &tail) {
  const uint16_t kWidth = 64, kHeight = 48;
  size_t blocks = (kWidth / 8) * (kHeight / 8);
  Text jpeg = Text("\xFF\xD8", 2) + head +
              FlatHead(kWidth, kHeight, 3, progressive ? '\xC2' : '\xC0');
  for (int c = 1; c <= 3; c++) {
    if (progressive && c == 1) jpeg += FlatScan(1, 3, 0, 0, blocks, 1);
    jpeg += progressive ? FlatScan(c, 1, 1, 63, blocks, 1)
                        : FlatScan(c, 1, 0, 63, blocks, 2);
    if (c == 1) jpeg += between;
  }
  return jpeg + tail + Text("\xFF\xD9", 2);
}

// EXIF as a camera with a GPS receiver writes it: the position, the
// body's serial number, its owner and the artist, Orientation 6.
Text PrivateExif(const Text &word) {
  ExifDirectory ifd0 = {kLittle.Text(0x010F, "Orvane test"),
                        kLittle.Short(0x0112, 6), kLittle.Rational(0x011A, 72),
                        kLittle.Rational(0x011B, 72), kLittle.Short(0x0128, 2),
                        kLittle.Text(0x013B, word + " artist"),
                        kLittle.Text(0xA430, word + " owner"),
                        kLittle.Text(0xA431, word + " serial")};
  ExifDirectory gps = {{0x0000, 1, 4, Text("\2\3\0\0", 4)},
                       kLittle.Text(0x0001, "N"), Position(0x0002, 48, 51),
                       kLittle.Text(0x0003, "E"), Position(0x0004, 2, 21)};
  return Segment(0xE1, Text("Exif\0\0", 6) + kLittle.Tiff(ifd0, 0x8825, gps));
}

Text LateExif() { return ScannedJpeg(true, "", PrivateExif("LATE-SECRET"), ""); }
Text ExifAfterLastScan() {
  return ScannedJpeg(true, "", "", PrivateExif("LATE-SECRET"));
}
Text LateExifBaseline() {
  return ScannedJpeg(false, "", PrivateExif("LATE-SECRET"), "");
}

// Orientation 3 in the head, 6 behind the first scan.
Text SecondExifLate() {
  ExifPlaces places;
  Text head = kLittle.Make(PhotoIfd0(3), PhotoExif(64, 48), {}, "", &places);
  return ScannedJpeg(true, Segment(0xE1, head), PrivateExif("LATE-SECRET"),
                     "");
}

Text XmpSegment(const Text &packet) {
  return Segment(0xE1, Text("http://ns.adobe.com/xap/1.0/\0", 29) + packet);
}

// One IPTC dataset (record 2) as Photoshop's resource 0x0404 holds it.
Text IptcResource(const Text &datasets) {
  Text resource = Text("Photoshop 3.0\0008BIM\x04\x04\0\0", 22) +
                  Big32((uint32_t)datasets.size()) + datasets;
  return datasets.size() % 2 ? resource + Text(1, '\0') : resource;
}

Text IptcDataset(uint8_t number, const Text &value) {
  return Text{'\x1C', '\x02', (char)number, (char)(value.size() >> 8),
              (char)value.size()} +
         value;
}

Text LateXmpAndIptc() {
  Text xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
             "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
             "<rdf:Description xmlns:dc='http://purl.org/dc/elements/1.1/' "
             "xmlns:tiff='http://ns.adobe.com/tiff/1.0/' "
             "xmlns:exif='http://ns.adobe.com/exif/1.0/' "
             "tiff:Orientation='6' exif:GPSLatitude='48,51.5N' "
             "exif:GPSLongitude='2,21.1E'><dc:creator><rdf:Seq><rdf:li>"
             "LATE-SECRET creator</rdf:li></rdf:Seq></dc:creator>"
             "</rdf:Description></rdf:RDF></x:xmpmeta>";
  Text iptc = IptcDataset(80, "LATE-SECRET by-line") +
              IptcDataset(90, "LATE-SECRET city");
  return ScannedJpeg(true, "", XmpSegment(xmp) + Segment(0xED, IptcResource(iptc)),
                     "");
}

// An ICC profile of the smallest kind, its class, colour spaces and maker
// given.
Text Profile(const char *kind, const char *colours, const char *connection,
             const char *maker) {
  Text profile(132, '\0');
  profile.replace(0, 4, Big32(132));
  profile.replace(8, 4, Big32(0x02100000));
  profile.replace(12, 4, kind);
  profile.replace(16, 4, colours);
  profile.replace(20, 4, connection);
  profile.replace(36, 4, "acsp");
  profile.replace(48, 4, maker);
  profile.replace(68, 12, Big32(0xF6D6) + Big32(0x10000) + Big32(0xD32D));
  return profile;
}

Text ProfileSegment(const Text &profile) {
  return Segment(0xE2, Text("ICC_PROFILE\0\1\1", 14) + profile);
}

// The head's profile (maker HEAD), and another behind the first scan: an
// RGB one, or an abstract Lab one, which fits no picture.
Text LateRgbProfile() {
  return ScannedJpeg(true, ProfileSegment(Profile("mntr", "RGB ", "XYZ ", "HEAD")),
                     ProfileSegment(Profile("mntr", "RGB ", "XYZ ", "LATE")), "");
}
Text LateLabProfile() {
  return ScannedJpeg(true, ProfileSegment(Profile("mntr", "RGB ", "XYZ ", "HEAD")),
                     ProfileSegment(Profile("abst", "Lab ", "Lab ", "LATE")), "");
}

// The costly shapes of the head, behind the first scan.
Text LateThumbnailBomb() {
  ExifPlaces places;
  Text block = kLittle.Make(PhotoIfd0(1), PhotoExif(64, 48), ThumbnailIfd1(),
                            FlatJpeg(30000, 30000, 3, 16, ""), &places);
  return ScannedJpeg(true, "", Segment(0xE1, block), "");
}
Text LateSharedValueBomb() {
  Text head = SharedValueBomb();
  size_t first = head.find("\xFF\xE1"), frame = head.find("\xFF\xDB");
  return ScannedJpeg(true, "", head.substr(first, frame - first), "");
}
Text LateCommentsBomb() {
  Text comments;
  for (int i = 0; i < 100000; i++) comments += Segment(0xFE, "c");
  return ScannedJpeg(true, "", comments, "");
}

// Empty APP3 segments: four bytes of file each.
Text EmptySegmentsBomb() {
  Text segments;
  for (int i = 0; i < 300000; i++) segments += Segment(0xE3, "");
  return FlatJpeg(64, 64, 3, 0, segments);
}

Text XmpPacket(const Text &description) {
  return "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
         "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
         "<rdf:Description rdf:about='' "
         "xmlns:tiff='http://ns.adobe.com/tiff/1.0/' "
         "xmlns:exif='http://ns.adobe.com/exif/1.0/' "
         "xmlns:xmpNote='http://ns.adobe.com/xmp/note/' " +
         description + "/></rdf:RDF></x:xmpmeta>";
}

const char kStaleXmp[] =
    "tiff:Orientation='6' exif:PixelXDimension='64' "
    "exif:PixelYDimension='48'";

// The orientation and size stand in extended XMP alone: the main packet
// names the extension by its digest, which the extension's segments repeat
// ahead of the whole extension's length and their offset in it.
Text ExtendedXmp() {
  const Text digest = "0123456789ABCDEF0123456789ABCDEF";
  Text extension = XmpPacket(kStaleXmp);
  Text main = XmpPacket("xmpNote:HasExtendedXMP='" + digest + "'");
  Text segment = Text("http://ns.adobe.com/xmp/extension/\0", 35) + digest +
                 Big32((uint32_t)extension.size()) + Big32(0) + extension;
  ExifPlaces places;
  Text exif = kLittle.Make(PhotoIfd0(6), PhotoExif(64, 48), ThumbnailIfd1(),
                           FlatJpeg(16, 12, 3, 0, ""), &places);
  return FlatJpeg(64, 48, 3, 0,
                  Segment(0xE1, exif) + XmpSegment(main) +
                      Segment(0xE1, segment));
}

Text PngExif(uint16_t orientation) {
  return Chunk("eXIf", kLittle.Tiff({kLittle.Short(0x0112, orientation)}, 0, {}));
}

// eXIf Orientation 6, and the XMP in a compressed iTXt chunk.
Text CompressedXmpPng() {
  Text itxt = Text("XML:com.adobe.xmp\0\1\0\0\0", 22) +
              ZlibStored(XmpPacket(kStaleXmp));
  return FlatPng(64, 48, PngExif(6) + Chunk("iTXt", itxt));
}

// eXIf Orientation 6, and a second EXIF as the raw-profile text other tools
// write, with the orientation and a thumbnail.
Text RawExifOrientationPng() {
  ExifPlaces places;
  Text exif = kLittle.Make(PhotoIfd0(6), PhotoExif(64, 48), ThumbnailIfd1(),
                           FlatJpeg(16, 12, 3, 0, ""), &places);
  return FlatPng(64, 48, PngExif(6) + RawProfile("exif", exif));
}

Text Text_(const char *keyword, const Text &value) {
  return Chunk("tEXt", Text(keyword) + Text(1, '\0') + value);
}

// As ImageMagick saves a GPS-tagged camera photo: every EXIF tag again as
// text, the XMP as a raw profile, and eXIf behind the pixels.
Text ExifTagsAsTextPng() {
  Text text = Text_("exif:GPSLatitude", "STRIP-SECRET 48/1, 51/1, 30/1") +
              Text_("exif:Make", "STRIP-SECRET make") +
              Text_("exif:MakerNote", "STRIP-SECRET note") +
              Text_("exif:Orientation", "6") +
              Text_("exif:PixelXDimension", "64") +
              RawProfile("xmp", kXmpWithPlace);
  Text png = FlatPng(64, 48, text);
  size_t end = png.size() - 12;  // IEND
  return png.insert(end, PngExif(6));
}

// A camera's JPEG whose IFD0 Orientation 6 is a signed 32-bit integer
// (SLONG), as some cameras write it.
Text SignedOrientation() {
  ExifDirectory ifd0 = PhotoIfd0(1);
  ifd0[1] = {0x0112, 9, 1, kLittle.Number(6, 4)};
  ExifPlaces places;
  Text block = kLittle.Make(ifd0, PhotoExif(64, 48), ThumbnailIfd1(),
                            FlatJpeg(16, 12, 3, 0, ""), &places);
  return FlatJpeg(64, 48, 3, 0, Segment(0xE1, block));
}

// Orientation 6, and an IFD1 whose link to the next directory points back
// at itself.
Text LoopingIfd1() {
  ExifPlaces places;
  Text block = kLittle.Make(PhotoIfd0(6), PhotoExif(64, 48), ThumbnailIfd1(),
                            FlatJpeg(16, 12, 3, 0, ""), &places);
  // IFD1's six entries: the four above, the thumbnail's offset and length.
  block.replace(places.ifd1 + 2 + 6 * 12, 4,
                kLittle.Number((uint32_t)(places.ifd1 - 6), 4));
  return FlatJpeg(64, 48, 3, 0, Segment(0xE1, block));
}

// A PNG whose eXIf holds Orientation 6 and a 70,000-byte UserComment: more
// than one JPEG segment holds.
Text LargeExifPng() {
  ExifDirectory exif = PhotoExif(64, 48);
  exif.push_back(
      kLittle.Bytes(0x9286, Text("ASCII\0\0\0", 8) + Text(70000 - 8, 'c')));
  return FlatPng(64, 48,
                 Chunk("eXIf", kLittle.Tiff(PhotoIfd0(6), 0x8769, exif)));
}

// ---- Forms that tell of other bytes or of the old picture ----
// What points at bytes after EOI, and those bytes, hold TRAILER-SECRET,
// which no save may keep; what tells of the picture before an edit holds
// OLD-PICTURE, which no edit may keep.

// An MPF index of two pictures, the second behind EOI, as phones append a
// gain map; a note after the directory says so.
Text MpfSegment() {
  Text entries = kLittle.Number(0x00030000, 4) + Text(12, '\0') +
                 kLittle.Number(2000, 4) + kLittle.Number(4100, 4) +
                 Text(8, '\0');
  Text tiff = kLittle.Tiff({kLittle.Bytes(0xB000, "0100"),
                            kLittle.Long(0xB001, 2),
                            kLittle.Bytes(0xB002, entries)}, 0, {});
  return Segment(0xE2, Text("MPF\0", 4) + tiff + "TRAILER-SECRET index");
}

// An "Ultra HDR" photo: XMP describing the gain map, MPF, the gain map.
Text UltraHdr() {
  Text xmp = XmpPacket(
      "xmlns:hdrgm='http://ns.adobe.com/hdr-gain-map/1.0/' "
      "hdrgm:Version='1.0'");
  return FlatJpeg(64, 48, 3, 0, XmpSegment(xmp) + MpfSegment()) +
         FlatJpeg(16, 16, 1, 0, Segment(0xFE, "TRAILER-SECRET gain map"));
}

// A motion photo: XMP saying where the video starts, the video after EOI.
Text MotionPhoto() {
  Text video = Text("\0\0\0\x18" "ftypmp42", 12) + "TRAILER-SECRET video";
  Text xmp = XmpPacket(
      "xmlns:GCamera='http://ns.google.com/photos/1.0/camera/' "
      "GCamera:MicroVideo='1' GCamera:MicroVideoOffset='32'");
  return FlatJpeg(64, 48, 3, 0, XmpSegment(xmp)) + video;
}

// Photoshop's resources ("8BIM", id, empty name, data): a resolution, a
// thumbnail of the picture as it was (0x040C), and the IPTC.
Text Resource(uint16_t id, const Text &data) {
  Text resource = Text("8BIM", 4) + (char)(id >> 8) + (char)id +
                  Text(2, '\0') + Big32((uint32_t)data.size()) + data;
  return data.size() % 2 ? resource + Text(1, '\0') : resource;
}
Text PhotoshopResources() {
  Text thumbnail = Big32(1) + Big32(16) + Big32(12) + Text(16, '\0') +
                   FlatJpeg(16, 12, 3, 0, Segment(0xFE, "OLD-PICTURE"));
  return Resource(0x03ED, Text(16, '\0')) + Resource(0x040C, thumbnail) +
         Resource(0x0404, IptcDataset(80, "STRIP-SECRET by-line"));
}

// Text of every kind a user writes, each private, and many comments, of
// which a JPEG holds one at most.
Text PrivateTextPng() {
  Text chunks = Chunk("zTXt", Text("Comment\0\0", 9) +
                                  ZlibStored("STRIP-SECRET compressed"));
  for (const char *keyword :
       {"Author", "Description", "Copyright", "Location", "Comment"})
    chunks += Text_(keyword, Text("STRIP-SECRET ") + keyword);
  for (int i = 0; i < 1000; i++) chunks += Text_("Comment", "many");
  return FlatPng(64, 48, chunks);
}

// ---- Fields that tell of the old picture, at 1200 x 800 ----
// After an edit nothing may say 1200 x 800 or keep "OLD-PICTURE"; on any
// save nothing may point at what lay after the JPEG's end
// ("TRAILER-SECRET").

// A phone's EXIF: the size in IFD0, the Exif directory and the Interop
// directory, the subject's place, and a maker note holding a preview of
// the whole frame.
Text ExifSizesAndMakerNote() {
  const ExifBlockMaker &m = kLittle;
  Text preview = FlatJpeg(16, 12, 3, 0, Segment(0xFE, "OLD-PICTURE"));
  ExifDirectory ifd0 = PhotoIfd0(1);
  ifd0.push_back(m.Short(0x0100, 1200));
  ifd0.push_back(m.Short(0x0101, 800));
  ExifDirectory exif = PhotoExif(1200, 800);
  exif.push_back({0x9214, 3, 4, m.Number(600, 2) + m.Number(400, 2) +
                                    m.Number(200, 2) + m.Number(100, 2)});
  exif.push_back({0xA214, 3, 2, m.Number(600, 2) + m.Number(400, 2)});
  exif.push_back(m.Bytes(0x927C, Text("Orvane\0II", 9) + preview));
  Text block = m.Tree(ifd0, exif,
                      {m.Text(0x0001, "R98"), m.Short(0x1001, 1200),
                       m.Short(0x1002, 800)},
                      {{0x0000, 1, 4, Text("\2\3\0\0", 4)}});
  return FlatJpeg(1200, 800, 3, 0, Segment(0xE1, block));
}

// (Each packet's last description is empty: XmpPacket closes it.)

// XMP's sizes beside exif's, a panorama's cropped area, the raw
// developer's crop, and a thumbnail of the old picture.
Text XmpSizesAndThumbnail() {
  Text xmp = XmpPacket(
      "xmlns:xmp='http://ns.adobe.com/xap/1.0/' "
      "xmlns:xmpGImg='http://ns.adobe.com/xap/1.0/g/img/' "
      "xmlns:GPano='http://ns.google.com/photos/1.0/panorama/' "
      "xmlns:crs='http://ns.adobe.com/camera-raw-settings/1.0/' "
      "tiff:ImageWidth='1200' tiff:ImageLength='800' "
      "exif:PixelXDimension='1200' exif:PixelYDimension='800' "
      "GPano:ProjectionType='equirectangular' "
      "GPano:CroppedAreaImageWidthPixels='1200' "
      "GPano:CroppedAreaImageHeightPixels='800' "
      "GPano:FullPanoWidthPixels='1200' GPano:FullPanoHeightPixels='800' "
      "GPano:CroppedAreaLeftPixels='0' GPano:CroppedAreaTopPixels='0' "
      "crs:HasCrop='True' crs:CropTop='0.1' crs:CropLeft='0.1'><xmp:Thumbnails>"
      "<rdf:Alt><rdf:li rdf:parseType='Resource'><xmpGImg:width>256"
      "</xmpGImg:width><xmpGImg:image>OLD-PICTURE</xmpGImg:image></rdf:li>"
      "</rdf:Alt></xmp:Thumbnails></rdf:Description><rdf:Description rdf:about=''");
  return FlatJpeg(1200, 800, 3, 0, XmpSegment(xmp));
}

// A phone's gain-map and motion-photo description: a Container directory
// of the pictures and video after the JPEG's end, the gain map's
// properties and the video's offset; the video itself after the end.
Text ContainerAndMotionPhoto() {
  Text xmp = XmpPacket(
      "xmlns:Container='http://ns.google.com/photos/1.0/container/' "
      "xmlns:Item='http://ns.google.com/photos/1.0/container/item/' "
      "xmlns:hdrgm='http://ns.adobe.com/hdr-gain-map/1.0/' "
      "xmlns:GCamera='http://ns.google.com/photos/1.0/camera/' "
      "hdrgm:Version='1.0' GCamera:MotionPhoto='1' "
      "GCamera:MicroVideo='1' GCamera:MicroVideoOffset='46' "
      "Item:URI='TRAILER-SECRET'><Container:Directory><rdf:Seq>"
      "<rdf:li rdf:parseType='Resource'><Container:Item "
      "Item:Mime='video/mp4' Item:Semantic='MotionPhoto' Item:Length='46' "
      "Item:Padding='0' Item:Label='TRAILER-SECRET'/></rdf:li></rdf:Seq>"
      "</Container:Directory></rdf:Description><rdf:Description rdf:about=''");
  Text video = Text("\0\0\0\x18" "ftypmp42\0\0\0\0mp42isom", 24) +
               Text("\0\0\0\x16" "freeTRAILER-SECRET", 22);
  return FlatJpeg(1200, 800, 3, 0, XmpSegment(xmp)) + video;
}

void MetadataFaults(const std::string &folder) {
  const struct {
    const char *name;
    Text (*make)();
  } kFaults[] = {{"bomb-thumbnail-30000x30000.jpg", ThumbnailBomb},
                 {"bomb-fujifilm-note-past-block.jpg", FujifilmMakerNoteBomb},
                 {"bomb-exif-12x2000-shared-tags.jpg", SharedValueBomb},
                 {"bomb-ztxt-12x7.9mb-zeros.png", ZtxtBomb},
                 {"exif-orientation-6-long.jpg", LongOrientation},
                 {"app3-meta-owner-serial.jpg", App3Meta},
                 {"png-raw-profiles-exif-xmp-gps.png", RawProfilePng},
                 {"xmp-orientation-6.jpg", XmpOrientationPhoto},
                 {"late-exif-between-scans.jpg", LateExif},
                 {"late-exif-after-last-scan.jpg", ExifAfterLastScan},
                 {"late-exif-baseline-component-scans.jpg", LateExifBaseline},
                 {"late-second-exif-orientation-6.jpg", SecondExifLate},
                 {"late-xmp-iptc.jpg", LateXmpAndIptc},
                 {"late-rgb-profile.jpg", LateRgbProfile},
                 {"late-lab-profile.jpg", LateLabProfile},
                 {"bomb-late-thumbnail-30000x30000.jpg", LateThumbnailBomb},
                 {"bomb-late-exif-12x2000-shared-tags.jpg", LateSharedValueBomb},
                 {"bomb-late-100000-comments.jpg", LateCommentsBomb},
                 {"bomb-xmp-2000x1mb-packets.png", XmpPacketsBomb},
                 {"bomb-200000-text-chunks.png", TextChunksBomb},
                 {"bomb-300000-empty-app3.jpg", EmptySegmentsBomb},
                 {"xmp-extended-orientation-6.jpg", ExtendedXmp},
                 {"png-compressed-xmp-orientation-6.png", CompressedXmpPng},
                 {"png-raw-exif-orientation-6.png", RawExifOrientationPng},
                 {"png-exif-tags-as-text.png", ExifTagsAsTextPng},
                 {"exif-orientation-6-slong.jpg", SignedOrientation},
                 {"exif-ifd1-loops-orientation-6.jpg", LoopingIfd1},
                 {"png-exif-orientation-6-comment-70000.png", LargeExifPng},
                 {"ultra-hdr-mpf-trailer.jpg", UltraHdr},
                 {"motion-photo-trailer.jpg", MotionPhoto},
                 {"app13-thumbnail-iptc.jpg",
                  [] {
                    return FlatJpeg(64, 48, 3, 0,
                                    Segment(0xED, Text("Photoshop 3.0\0", 14) +
                                                      PhotoshopResources()));
                  }},
                 {"png-raw-8bim-thumbnail-iptc.png",
                  [] {
                    return FlatPng(64, 48,
                                   RawProfile("8bim", PhotoshopResources()));
                  }},
                 // Content credentials: a JUMBF box with a thumbnail and a
                 // position.
                 {"app11-jumbf-credentials.jpg",
                  [] {
                    Text box = Text("JP\0\1\0\0\0\1", 8) +
                               "jumb OLD-PICTURE GPS STRIP-SECRET";
                    return FlatJpeg(64, 48, 3, 0, Segment(0xEB, box));
                  }},
                 {"png-text-private.png", PrivateTextPng},
                 // Profiles that make none for the picture: grey on colour
                 // pixels, a header claiming 2 GB, chunk 1 of 2 twice.
                 {"icc-grey-on-rgb.jpg",
                  [] {
                    Text grey = Profile("mntr", "GRAY", "XYZ ", "GREY");
                    return FlatJpeg(64, 48, 3, 0, ProfileSegment(grey));
                  }},
                 {"icc-header-2gb.jpg",
                  [] {
                    Text huge = Profile("mntr", "RGB ", "XYZ ", "HUGE");
                    huge.replace(0, 4, Big32(1u << 31));
                    return FlatJpeg(64, 48, 3, 0, ProfileSegment(huge));
                  }},
                 {"icc-chunk-numbers-twice.jpg", [] {
                    Text chunk = Segment(
                        0xE2, Text("ICC_PROFILE\0\1\2", 14) +
                                  Profile("mntr", "RGB ", "XYZ ", "TWCE"));
                    return FlatJpeg(64, 48, 3, 0, chunk + chunk);
                  }},
                 {"exif-sizes-subject-maker-note-1200x800.jpg",
                  ExifSizesAndMakerNote},
                 {"xmp-sizes-panorama-thumbnail-1200x800.jpg",
                  XmpSizesAndThumbnail},
                 {"xmp-container-motion-photo-1200x800.jpg",
                  ContainerAndMotionPhoto}};
  for (const auto &fault : kFaults) {
    Text made = fault.make();
    Write(folder + "/" + fault.name, Bytes(made.begin(), made.end()));
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && strcmp(argv[1], "--metadata") == 0) {
    MetadataFaults(argv[2]);
    printf("%d metadata faults written\n", g_written);
    return 0;
  }
  bool bombs = argc > 1 && strcmp(argv[1], "--bombs") == 0;
  if (bombs) argv++, argc--;
  if (argc < 3) {
    fprintf(stderr, "usage: make_damaged [--bombs] out-folder good-file...\n");
    return 1;
  }
  if (bombs) {
    for (int i = 2; i < argc; i++) Bombs(argv[1], argv[i]);
    HeaderBombs(argv[1]);
    printf("%d bombs written\n", g_written);
    return 0;
  }
  std::mt19937 random(20261207);
  for (const char *ext : {".jpg", ".jpeg", ".png", ".bmp"})
    Write(std::string(argv[1]) + "/empty" + ext, Bytes());
  for (int i = 2; i < argc; i++) Damage(argv[1], argv[i], &random);
  printf("%d damaged files written\n", g_written);
  return 0;
}
