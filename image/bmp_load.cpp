#include "image/bmp_load.h"

#include <FreeImage.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "lib/byteorder.h"

// Debian's build of the library (its patch for CVE-2020-21427) refuses every
// info header but the 40-byte one: the V4 and V5 headers that ImageMagick,
// GIMP and libvips write by default, the undocumented V2 and V3, and OS/2
// 2.x headers all fail as "Invalid file format", although the reader behind
// that check handles them. Their first 40 bytes have the same layout, so the
// library is shown a 40-byte header instead, with the masks of a bit-field
// image behind it where its reader looks for them.
//
// Its RLE8 reader, for its part, fails a stream whose last row ends with an
// end-of-line before the end-of-bitmap, as ImageMagick's, Pillow's and the
// library's own writer end theirs: that end-of-line is shown as the end.

enum {
  kFileHeader = 14,
  kInfoHeader = 40,  // the one size the library accepts
  kMasks = 12,       // red, green and blue, behind an info header of 40
  kLargestInfoHeader = 124,
  kStartSize = kFileHeader + kLargestInfoHeader
};

// Offsets in the file of the fields read here.
enum {
  kPixelOffset = 10,
  kInfoSize = 14,
  kWidth = 18,
  kHeight = 22,
  kBitCount = 28,
  kCompression = 30,
  kRedMask = 54,  // V2 headers and later: the masks inside the info header
  kGreenMask = 58,
  kBlueMask = 62
};

enum { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6 };

// The file as the library is shown it: head first, then the file's bytes
// from rest_from on, with the byte at patch_at changed.
struct BmpView {
  FILE *file;
  unsigned char head[kFileHeader + kInfoHeader + kMasks];
  int64_t head_size;
  int64_t rest_from;
  int64_t patch_at;  // -1: none
  unsigned char patch_byte;
  int64_t size;
  int64_t position;
  int64_t file_at;  // where the next fread reads; -1 when unknown
};

static int IsWindowsV2OrLater(uint32_t info_size) {
  return info_size == 52 || info_size == 56 || info_size == 108 ||
         info_size == 124;
}

// OS/2 2.x headers are 16 to 64 bytes long: the same fields as Windows'
// header of 40, cut short or followed by OS/2's own.
static int IsOs2V2(uint32_t info_size) {
  return info_size >= 16 && info_size <= 64 && info_size != kInfoHeader &&
         !IsWindowsV2OrLater(info_size);
}

// The mask sets the library's pixel conversions honour: 565 and 555 for 16
// bits, and for 32 bits the byte order it assumes for every 32-bit image.
static int MasksTheLibraryReads(const unsigned char *start, unsigned bits) {
  uint32_t red = Little32(start + kRedMask);
  uint32_t green = Little32(start + kGreenMask);
  uint32_t blue = Little32(start + kBlueMask);
  if (bits == 16)
    return blue == 0x1F && ((red == 0xF800 && green == 0x07E0) ||
                            (red == 0x7C00 && green == 0x03E0));
  return bits == 32 && red == 0xFF0000 && green == 0xFF00 && blue == 0xFF;
}

// The compression the 40-byte header states, and the masks behind it; -1
// when the library could not read the pixels of this header whatever it is
// shown.
static int CompressionShown(const unsigned char *start, uint32_t info_size,
                            int *with_masks) {
  uint32_t compression = Little32(start + kCompression);
  unsigned bits = Little16(start + kBitCount);
  *with_masks = 0;
  if (info_size < 20) return kRgb;  // a short OS/2 header: none stated
  if (compression == kRgb || compression == kRle8 || compression == kRle4)
    return (int)compression;
  // OS/2 numbers Huffman 1D and RLE24 as Windows does bit fields and JPEG.
  if (IsOs2V2(info_size)) return -1;
  if (compression != kBitFields && compression != kAlphaBitFields) return -1;
  if (!MasksTheLibraryReads(start, bits)) return -1;
  // 32-bit pixels in the library's own order need no masks at all.
  *with_masks = bits == 16;
  return bits == 16 ? kBitFields : kRgb;
}

// Rewrites the start of the file as a 40-byte header into view. Returns 0
// when the file is better shown as it is.
static int ShowInfoHeaderOf40(const unsigned char *start, BmpView *view) {
  uint32_t info_size = Little32(start + kInfoSize);
  if (!IsWindowsV2OrLater(info_size) && !IsOs2V2(info_size)) return 0;
  uint32_t pixels_at = Little32(start + kPixelOffset);
  if (pixels_at < kFileHeader + info_size) return 0;
  int with_masks;
  int compression = CompressionShown(start, info_size, &with_masks);
  if (compression < 0) return 0;
  unsigned char *head = view->head;
  memset(head, 0, sizeof view->head);
  size_t kept = info_size;  // a short OS/2 header: the fields it lacks are 0
  if (kept > kInfoHeader) kept = kInfoHeader;
  memcpy(head, start, kFileHeader + kept);
  PutLittle32(head + kInfoSize, kInfoHeader);
  PutLittle32(head + kCompression, (uint32_t)compression);
  if (with_masks)
    memcpy(head + kFileHeader + kInfoHeader, start + kRedMask, kMasks);
  view->head_size = kFileHeader + kInfoHeader + (with_masks ? kMasks : 0);
  view->rest_from = kFileHeader + info_size;
  uint32_t shift = (uint32_t)(view->rest_from - view->head_size);
  PutLittle32(head + kPixelOffset, pixels_at - shift);
  return 1;
}

// Walks an RLE8 stream as the library's reader does, from the pixel data
// on. Returns the file offset of the second byte of the end-of-line that
// ends the last row (where the reader stops and fails), or -1 when there is
// none.
static int64_t FinalEndOfLine(FILE *file, uint32_t pixels_at, int64_t width,
                              int64_t height) {
  if (fseek(file, (long)pixels_at, SEEK_SET) != 0) return -1;
  int64_t at = pixels_at, row = 0, column = 0;
  while (row < height) {
    int first = getc(file), second = getc(file);
    if (second == EOF) return -1;
    at += 2;
    if (first != 0) {  // a run of one value
      int64_t count = first < width - column ? first : width - column;
      if (count < 0) return -1;
      column += count;
    } else if (second == 0) {  // end of line
      column = 0;
      if (++row == height) return at - 1;
    } else if (second == 1) {  // end of bitmap: the reader succeeds
      return -1;
    } else if (second == 2) {  // a move right and up
      int right = getc(file), up = getc(file);
      if (up == EOF) return -1;
      at += 2;
      column += right;
      row += up;
    } else {  // literal bytes, padded to an even count
      int64_t count = second < width - column ? second : width - column;
      if (count <= 0) return -1;  // the reader fails on those
      int64_t skip = count + (second & 1);
      if (fseek(file, (long)skip, SEEK_CUR) != 0) return -1;
      at += skip;
      column += second;
    }
  }
  return -1;
}

static void PatchFinalEndOfLine(const unsigned char *start, BmpView *view) {
  const unsigned char *info = view->head_size > 0 ? view->head : start;
  if (Little32(info + kCompression) != kRle8 || Little16(info + kBitCount) != 8)
    return;
  int64_t width = (int32_t)Little32(info + kWidth);
  int64_t height = (int32_t)Little32(info + kHeight);
  int64_t at = FinalEndOfLine(view->file, Little32(start + kPixelOffset),
                              width, height);
  if (at < 0) return;
  view->patch_at = at - view->rest_from + view->head_size;
  view->patch_byte = 1;  // end of bitmap
}

static unsigned DLL_CALLCONV ReadView(void *buffer, unsigned size,
                                      unsigned count, fi_handle handle) {
  BmpView *view = (BmpView *)handle;
  unsigned char *out = (unsigned char *)buffer;
  size_t wanted = (size_t)size * count, done = 0;
  while (done < wanted && view->position < view->size) {
    int64_t from = view->position;
    size_t got;
    if (from < view->head_size) {
      got = (size_t)(view->head_size - from);
      if (got > wanted - done) got = wanted - done;
      memcpy(out + done, view->head + from, got);
    } else {
      // The RLE readers ask for one byte at a time: seek only when needed.
      int64_t in_file = from - view->head_size + view->rest_from;
      if (in_file != view->file_at &&
          fseek(view->file, (long)in_file, SEEK_SET) != 0)
        break;
      got = fread(out + done, 1, wanted - done, view->file);
      view->file_at = got == 0 ? -1 : in_file + (int64_t)got;
      if (got == 0) break;
    }
    if (view->patch_at >= from && view->patch_at < from + (int64_t)got)
      out[done + (view->patch_at - from)] = view->patch_byte;
    done += got;
    view->position += (int64_t)got;
  }
  return size == 0 ? 0 : (unsigned)(done / size);
}

static unsigned DLL_CALLCONV WriteNothing(void *, unsigned, unsigned,
                                          fi_handle) {
  return 0;
}

static int DLL_CALLCONV SeekView(fi_handle handle, long offset, int origin) {
  BmpView *view = (BmpView *)handle;
  int64_t base = origin == SEEK_SET ? 0
                 : origin == SEEK_CUR ? view->position
                                      : view->size;
  if (base + offset < 0) return -1;
  view->position = base + offset;
  return 0;
}

static long DLL_CALLCONV TellView(fi_handle handle) {
  return (long)((BmpView *)handle)->position;
}

FIBITMAP *LoadBmpFile(const char *path) {
  FILE *file = fopen(path, "rb");
  if (file == NULL) return NULL;
  unsigned char start[kStartSize] = {0};
  size_t got = fread(start, 1, sizeof start, file);
  int64_t file_size = (fseek(file, 0, SEEK_END) == 0) ? ftell(file) : -1;
  BmpView view = {file, {0}, 0, 0, -1, 0, 0, 0, -1};
  if (got >= kFileHeader + 20 && file_size > 0) {
    ShowInfoHeaderOf40(start, &view);
    PatchFinalEndOfLine(start, &view);
  }
  view.size = file_size - view.rest_from + view.head_size;
  FreeImageIO io = {ReadView, WriteNothing, SeekView, TellView};
  FIBITMAP *bitmap = NULL;
  if (file_size >= 0)
    bitmap = FreeImage_LoadFromHandle(FIF_BMP, &io, (fi_handle)&view, 0);
  fclose(file);
  return bitmap;
}
