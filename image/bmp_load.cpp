#include "image/bmp_load.h"

#include <stdint.h>
#include <string.h>

#include "image/header_fields.h"
#include "image/shown_bytes.h"
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
  kMasks = 12,  // red, green and blue, behind an info header of 40
};

// The file as the library is shown it: head in place of the file's headers.
struct BmpView {
  unsigned char head[kBmpFileHeaderSize + kBmpInfoHeaderSize + kMasks];
  ShownBytes shown;
};

// The mask sets the library's pixel conversions honour: 565 and 555 for 16
// bits, and for 32 bits the byte order it assumes for every 32-bit image.
static int MasksTheLibraryReads(const unsigned char *data, unsigned bits) {
  uint32_t red = Little32(data + kBmpRedMask);
  uint32_t green = Little32(data + kBmpGreenMask);
  uint32_t blue = Little32(data + kBmpBlueMask);
  if (bits == 16)
    return blue == 0x1F && ((red == 0xF800 && green == 0x07E0) ||
                            (red == 0x7C00 && green == 0x03E0));
  return bits == 32 && red == 0xFF0000 && green == 0xFF00 && blue == 0xFF;
}

// The compression the 40-byte header states, and whether the masks follow
// it; -1 when the library could not read the pixels whatever it is shown.
static int CompressionShown(const unsigned char *data, const BmpHeader *h,
                            int *with_masks) {
  *with_masks = 0;
  if (h->compression == kBmpRgb || h->compression == kBmpRle8 ||
      h->compression == kBmpRle4)
    return h->compression;
  if (h->compression != kBmpBitFields && h->compression != kBmpAlphaBitFields)
    return -1;
  if (!MasksTheLibraryReads(data, h->bits)) return -1;
  // 32-bit pixels in the library's own order need no masks at all.
  *with_masks = h->bits == 16;
  return h->bits == 16 ? kBmpBitFields : kBmpRgb;
}

// A 40-byte header in place of a longer or shorter one. Returns 0 when the
// file is better shown as it is.
static int ShowInfoHeaderOf40(const unsigned char *data, size_t size,
                              const BmpHeader *h, BmpView *view) {
  if (h->info_size == kBmpInfoHeaderSize || h->info_size == kBmpCoreInfoSize)
    return 0;
  if (h->pixel_offset < kBmpFileHeaderSize + h->info_size) return 0;
  int with_masks;
  int compression = CompressionShown(data, h, &with_masks);
  if (compression < 0) return 0;
  unsigned char *head = view->head;
  memset(head, 0, sizeof view->head);
  size_t kept = h->info_size < kBmpInfoHeaderSize
                    ? h->info_size
                    : (uint32_t)kBmpInfoHeaderSize;
  memcpy(head, data,
         kBmpFileHeaderSize + kept);  // fields a short header lacks: 0
  PutLittle32(head + kBmpInfoSize, kBmpInfoHeaderSize);
  PutLittle32(head + kBmpCompression, (uint32_t)compression);
  if (with_masks)
    memcpy(head + kBmpFileHeaderSize + kBmpInfoHeaderSize, data + kBmpRedMask,
           kMasks);
  size_t head_size =
      kBmpFileHeaderSize + kBmpInfoHeaderSize + (with_masks ? kMasks : 0);
  size_t rest_from = kBmpFileHeaderSize + h->info_size;
  PutLittle32(head + kBmpPixelOffset,
              h->pixel_offset - (uint32_t)(rest_from - head_size));
  view->shown.head = head;
  view->shown.head_size = head_size;
  view->shown.rest = data + rest_from;
  view->shown.rest_size = size - rest_from;
  return 1;
}

// Walks an RLE8 stream as the library's reader does, from the pixel data
// on. Returns the offset of the second byte of the end-of-line that ends
// the last row (where the reader stops and fails), or -1 when there is none.
static int64_t FinalEndOfLine(const unsigned char *data, size_t size,
                              const BmpHeader *h) {
  int64_t at = h->pixel_offset, row = 0, column = 0, width = h->width;
  while (row < h->height) {
    if (at + 2 > (int64_t)size) return -1;
    int first = data[at], second = data[at + 1];
    at += 2;
    if (first != 0) {  // a run of one value
      int64_t count = first < width - column ? first : width - column;
      if (count < 0) return -1;
      column += count;
    } else if (second == 0) {  // end of line
      column = 0;
      if (++row == h->height) return at - 1;
    } else if (second == 1) {  // end of bitmap: the reader succeeds
      return -1;
    } else if (second == 2) {  // a move right and up
      if (at + 2 > (int64_t)size) return -1;
      column += data[at];
      row += data[at + 1];
      at += 2;
    } else {  // literal bytes, padded to an even count
      int64_t count = second < width - column ? second : width - column;
      if (count <= 0) return -1;  // the reader fails on those
      at += count + (second & 1);
      column += second;
    }
  }
  return -1;
}

static void PatchFinalEndOfLine(const unsigned char *data, size_t size,
                                const BmpHeader *h, BmpView *view) {
  if (h->compression != kBmpRle8 || h->bits != 8 || h->top_down) return;
  int64_t at = FinalEndOfLine(data, size, h);
  if (at < 0) return;
  int64_t rest_from = view->shown.rest - data;
  view->shown.patch_at = at - rest_from + (int64_t)view->shown.head_size;
  view->shown.patch_byte = 1;  // end of bitmap
}

FIBITMAP *LoadBmpBytes(const unsigned char *data, size_t size,
                       const BmpHeader *header) {
  BmpView view;
  view.shown = BytesAsTheyStand(data, size);
  if (header != NULL) {
    ShowInfoHeaderOf40(data, size, header, &view);
    PatchFinalEndOfLine(data, size, header, &view);
  }
  return LoadShownBytes(kFormatBmp, &view.shown);
}
