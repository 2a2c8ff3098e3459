#include "image/load/shown_bytes.h"

#include <FreeImage.h>
#include <stdio.h>
#include <string.h>

#include "platform/platform.h"

// The reading position the library moves through the shown bytes, and the
// span it lies in, so that reading on from there never walks the spans
// before it again.
struct ShownReader {
  const ShownBytes *shown;
  int64_t position;
  int span;            // the span at or before position
  int64_t span_start;  // where that span begins in what is shown
};

static int64_t ShownSize(const ShownBytes *shown) {
  int64_t size = 0;
  for (int i = 0; i < shown->span_count; i++)
    size += (int64_t)shown->spans[i].size;
  return size;
}

// Copies what lies at the reader's position on, span after span, then the
// patch. Reading back before the cached span starts the walk over. A
// mapped file's pages read past are handed back: the decoder keeps what it
// needs of them.
static size_t CopyFrom(ShownReader *reader, unsigned char *out,
                       size_t wanted) {
  const ShownBytes *shown = reader->shown;
  int64_t position = reader->position;
  if (position < reader->span_start) reader->span = 0, reader->span_start = 0;
  size_t done = 0;
  while (done < wanted && reader->span < shown->span_count) {
    const ShownSpan *span = &shown->spans[reader->span];
    int64_t into = position + (int64_t)done - reader->span_start;
    if (into >= (int64_t)span->size) {
      reader->span_start += (int64_t)span->size;
      reader->span++;
      continue;
    }
    size_t run = span->size - (size_t)into;
    if (run > wanted - done) run = wanted - done;
    memcpy(out + done, span->bytes + into, run);
    PlatformLetGoBefore(span->bytes + into + run);
    done += run;
  }
  if (shown->patch_at >= position && shown->patch_at < position + (int64_t)done)
    out[shown->patch_at - position] = shown->patch_byte;
  return done;
}

static unsigned DLL_CALLCONV ReadShown(void *buffer, unsigned size,
                                       unsigned count, fi_handle handle) {
  ShownReader *reader = (ShownReader *)handle;
  if (size == 0) return 0;
  size_t got = CopyFrom(reader, (unsigned char *)buffer, (size_t)size * count);
  reader->position += (int64_t)got;
  return (unsigned)(got / size);
}

static unsigned DLL_CALLCONV WriteNothing(void *, unsigned, unsigned,
                                          fi_handle) {
  return 0;
}

static int DLL_CALLCONV SeekShown(fi_handle handle, long offset, int origin) {
  ShownReader *reader = (ShownReader *)handle;
  int64_t base = origin == SEEK_SET   ? 0
                 : origin == SEEK_CUR ? reader->position
                                      : ShownSize(reader->shown);
  if (base + offset < 0) return -1;
  reader->position = base + offset;
  return 0;
}

static long DLL_CALLCONV TellShown(fi_handle handle) {
  return (long)((ShownReader *)handle)->position;
}

ShownBytes BytesAsTheyStand(const unsigned char *data, size_t size,
                            ShownSpan *whole) {
  *whole = ShownSpan{data, size};
  return ShownBytes{whole, 1, -1, 0};
}

// Where the library's messages go during a load; NULL between loads.
static LoadFailure *g_warned;

static void WarningCollected(FREE_IMAGE_FORMAT, const char *message) {
  if (g_warned == NULL || g_warned->warning != kImageSound) return;
  g_warned->warning = strncmp(message, "Premature end", 13) == 0
                          ? kImageEndsEarly
                          : kImageDataSkipped;
  snprintf(g_warned->decoder_said, sizeof g_warned->decoder_said, "%s",
           message);
}

// JPEG with the accurate integer DCT and smooth chroma upsampling: the
// library's default (the fast DCT, chroma pixels doubled) cost a photo about
// 14 dB at every save in place, and repeated saves grew a checkerboard. The
// size wanted goes in the flags' upper 16 bits.
static int LoadFlagsFor(ImageFormat format, int size_wanted) {
  if (format != kFormatJpeg) return 0;
  return JPEG_ACCURATE | (size_wanted > 0 && size_wanted <= 0x7FFF
                              ? size_wanted << 16
                              : 0);
}

// libjpeg's warnings reach the program only through the library's message
// callback; a message given by a load that fails is its error, not kept.
// The callback is set for JPEG loads alone: with one set, the library
// formats every message its plug-ins give, and its own number formatting
// negates INT_MIN (a BMP header of size 0x80000000 names its size so).
FIBITMAP *LoadShownBytes(ImageFormat format, const ShownBytes *shown,
                         LoadFailure *failure, int size_wanted) {
  ShownReader reader = {shown, 0, 0, 0};
  FreeImageIO io = {ReadShown, WriteNothing, SeekShown, TellShown};
  g_warned = format == kFormatJpeg ? failure : NULL;
  if (g_warned != NULL) {
    g_warned->warning = kImageSound;
    g_warned->decoder_said[0] = '\0';
    FreeImage_SetOutputMessage(WarningCollected);
  }
  FIBITMAP *loaded = FreeImage_LoadFromHandle(
      (FREE_IMAGE_FORMAT)format, &io, (fi_handle)&reader,
      LoadFlagsFor(format, size_wanted));
  if (g_warned != NULL) FreeImage_SetOutputMessage(NULL);
  g_warned = NULL;
  // What a failed load said is its error, which the caller words.
  if (loaded == NULL && failure != NULL) failure->warning = kImageSound;
  return loaded;
}
