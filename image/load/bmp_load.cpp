#include "image/load/bmp_load.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "image/containers/header_fields.h"
#include "image/load/shown_bytes.h"
#include "lib/byteorder.h"

// Debian's build of the library (its patch for CVE-2020-21427) refuses every
// info header but the 40-byte one: the V4 and V5 headers that ImageMagick,
// GIMP and libvips write by default, the undocumented V2 and V3, and OS/2
// 2.x headers all fail as "Invalid file format", although the reader behind
// that check handles them. Their first 40 bytes have the same layout, so the
// library is shown a 40-byte header instead.
//
// Bit-field pixels it reads wrong whatever the header: it keeps the masks
// of 16-bit pixels but widens only 555 and 565 ones right, and reads 24 and
// 32-bit pixels as blue, green, red (and alpha) bytes whatever their masks
// say, the fourth byte as alpha even where no mask makes it one. So those
// pixels are unpacked here into plain 24-bit rows, or 32-bit ones where an
// alpha mask gives them alpha, shown to the library behind a 40-byte header.
//
// Its RLE8 reader, for its part, fails a stream whose last row ends with an
// end-of-line before the end-of-bitmap, as ImageMagick's, Pillow's and the
// library's own writer end theirs: that end-of-line is shown as the end.

// The file as the library is shown it: head in place of the file's headers,
// then the rest of it (or rows unpacked here).
struct BmpView {
  unsigned char head[kBmpFileHeaderSize + kBmpInfoHeaderSize];
  ShownSpan spans[2];
  ShownBytes shown;
};

// The view shows head, then rest.
static void ShowHeadThen(BmpView *view, const unsigned char *rest,
                         size_t rest_size) {
  view->spans[0] = ShownSpan{view->head, sizeof view->head};
  view->spans[1] = ShownSpan{rest, rest_size};
  view->shown = ShownBytes{view->spans, 2, -1, 0};
}

// The compression the 40-byte header states; -1 when the library could not
// read the pixels whatever header it is shown.
static int CompressionShown(const BmpHeader *h) {
  if (h->compression == kBmpRgb || h->compression == kBmpRle8 ||
      h->compression == kBmpRle4)
    return h->compression;
  return -1;
}

// A 40-byte header in place of a longer or shorter one. Returns 0 when the
// file is better shown as it is.
static int ShowInfoHeaderOf40(const unsigned char *data, size_t size,
                              const BmpHeader *h, BmpView *view) {
  if (h->info_size == kBmpInfoHeaderSize || h->info_size == kBmpCoreInfoSize)
    return 0;
  if (h->pixel_offset < kBmpFileHeaderSize + h->info_size) return 0;
  int compression = CompressionShown(h);
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
  size_t head_size = kBmpFileHeaderSize + kBmpInfoHeaderSize;
  size_t rest_from = kBmpFileHeaderSize + h->info_size;
  PutLittle32(head + kBmpPixelOffset,
              h->pixel_offset - (uint32_t)(rest_from - head_size));
  ShowHeadThen(view, data + rest_from, size - rest_from);
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
  // Where the byte stands in what is shown: behind a head of another size
  // when one was put in front.
  const ShownSpan *last = &view->shown.spans[view->shown.span_count - 1];
  int64_t rest_from = last->bytes - data;
  int64_t shown_from = view->shown.span_count == 2 ? (int64_t)sizeof view->head
                                                   : 0;
  view->shown.patch_at = at - rest_from + shown_from;
  view->shown.patch_byte = 1;  // end of bitmap
}

int BmpUnpackedBits(const BmpHeader *header) {
  if (!BmpHasBitFields(header)) return 0;
  return header->masks[3] != 0 ? 32 : 24;
}

// One channel of a bit-field pixel: its mask, how far the mask lies from
// bit 0, its largest value, and for channels of up to 8 bits every value
// already widened.
struct Channel {
  uint32_t mask;
  unsigned shift;
  uint32_t top;
  unsigned char widened[256];
};

// The 8-bit value nearest to value / top, for a channel of any width.
static unsigned char Nearest(uint64_t value, uint32_t top) {
  return (unsigned char)((value * 255 + top / 2) / top);
}

static void MakeChannel(uint32_t mask, Channel *channel) {
  channel->mask = mask;
  channel->shift = 0;
  while (mask != 0 && ((mask >> channel->shift) & 1) == 0) channel->shift++;
  channel->top = mask >> channel->shift;
  channel->widened[0] = 0;  // all a channel without a mask ever shows
  for (uint32_t value = 1; value <= channel->top && value < 256; value++)
    channel->widened[value] = Nearest(value, channel->top);
}

static unsigned char ChannelOf(const Channel *channel, uint32_t pixel) {
  uint32_t value = (pixel & channel->mask) >> channel->shift;
  return channel->top < 256 ? channel->widened[value]
                            : Nearest(value, channel->top);
}

static uint32_t PixelAt(const unsigned char *at, unsigned bytes) {
  uint32_t pixel = 0;
  for (unsigned i = 0; i < bytes; i++) pixel |= (uint32_t)at[i] << (8 * i);
  return pixel;
}

// One stored row, from byte from of data, as blue, green, red (and alpha)
// bytes; pixels the file cuts off read 0 in every channel.
static void UnpackRow(const unsigned char *data, size_t size, uint64_t from,
                      const BmpHeader *h, const Channel channels[4],
                      unsigned out_bytes, unsigned char *out) {
  unsigned in_bytes = h->bits / 8;
  int64_t held = from < size ? (int64_t)((size - from) / in_bytes) : 0;
  for (int64_t x = 0; x < h->width; x++, out += out_bytes) {
    uint32_t pixel =
        x < held ? PixelAt(data + from + x * in_bytes, in_bytes) : 0;
    out[0] = ChannelOf(&channels[2], pixel);
    out[1] = ChannelOf(&channels[1], pixel);
    out[2] = ChannelOf(&channels[0], pixel);
    if (out_bytes == 4) out[3] = ChannelOf(&channels[3], pixel);
  }
}

// The bit-field pixels of data as plain rows of out_bits, bottom row first,
// each padded to 4 bytes. Returns new rows (the caller frees them) of
// *rows_size bytes, or NULL without the memory for them.
static unsigned char *UnpackBitFields(const unsigned char *data, size_t size,
                                      const BmpHeader *h, int out_bits,
                                      size_t *rows_size) {
  Channel channels[4];
  for (int i = 0; i < 4; i++) MakeChannel(h->masks[i], &channels[i]);
  uint64_t out_row = ((uint64_t)h->width * out_bits + 31) / 32 * 4;
  if (h->height > 0 && out_row > (SIZE_MAX - 1) / (uint64_t)h->height)
    return NULL;
  *rows_size = (size_t)(out_row * h->height);
  unsigned char *rows = (unsigned char *)calloc(*rows_size + 1, 1);
  if (rows == NULL) return NULL;
  if (out_row == 0) return rows;  // rows of no pixels, however many claimed
  for (int64_t stored = 0; stored < h->height; stored++) {
    int64_t shown = h->top_down ? h->height - 1 - stored : stored;
    UnpackRow(data, size, h->pixel_offset + stored * BmpRowBytes(h), h,
              channels, out_bits / 8, rows + shown * out_row);
  }
  return rows;
}

// A 40-byte header for rows of bits, bottom row first, straight behind it.
static void MakeHeadOf40(const unsigned char *data, const BmpHeader *h,
                         int bits, size_t rows_size, unsigned char *head) {
  size_t head_size = kBmpFileHeaderSize + kBmpInfoHeaderSize;
  memset(head, 0, head_size);
  head[0] = 'B';
  head[1] = 'M';
  uint64_t file_size = head_size + (uint64_t)rows_size;
  PutLittle32(head + 2, file_size > UINT32_MAX ? 0 : (uint32_t)file_size);
  PutLittle32(head + kBmpPixelOffset, (uint32_t)head_size);
  PutLittle32(head + kBmpInfoSize, kBmpInfoHeaderSize);
  PutLittle32(head + kBmpWidth, (uint32_t)h->width);
  PutLittle32(head + kBmpHeight, (uint32_t)h->height);
  head[kBmpPlanes] = 1;
  head[kBmpBitsPerPixel] = (unsigned char)bits;
  PutLittle32(head + kBmpCompression, kBmpRgb);
  memcpy(head + kBmpXPelsPerMeter, data + kBmpXPelsPerMeter, 8);
}

// Bit-field pixels unpacked into plain rows behind a 40-byte header.
// Returns the rows, which the view shows and the caller frees, or NULL
// without the memory for them.
static unsigned char *ShowUnpacked(const unsigned char *data, size_t size,
                                   const BmpHeader *h, BmpView *view) {
  int bits = BmpUnpackedBits(h);
  size_t rows_size;
  unsigned char *rows = UnpackBitFields(data, size, h, bits, &rows_size);
  if (rows == NULL) return NULL;
  MakeHeadOf40(data, h, bits, rows_size, view->head);
  ShowHeadThen(view, rows, rows_size);
  return rows;
}

FIBITMAP *LoadBmpBytes(const unsigned char *data, size_t size,
                       const BmpHeader *header) {
  BmpView view;
  view.shown = BytesAsTheyStand(data, size, &view.spans[0]);
  unsigned char *rows = NULL;
  if (header != NULL && BmpHasBitFields(header)) {
    rows = ShowUnpacked(data, size, header, &view);
    if (rows == NULL) return NULL;
  } else if (header != NULL) {
    ShowInfoHeaderOf40(data, size, header, &view);
    PatchFinalEndOfLine(data, size, header, &view);
  }
  FIBITMAP *loaded = LoadShownBytes(kFormatBmp, &view.shown);
  free(rows);
  return loaded;
}
