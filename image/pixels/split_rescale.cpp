#include "image/pixels/split_rescale.h"

#include <stdint.h>
#include <string.h>

#include <atomic>

#include "platform/platform.h"

// A picture smaller than this is resized in one call: threads would cost
// more than they save.
static const uint64_t kLeastSplitPixels = 1 << 18;
// Pieces a worker takes on average: more than one, so that a thread the
// system holds back leaves its share to the others.
enum { kPiecesPerWorker = 4, kMostWorkers = 64 };

// Which way a pass filters: the rows across, cut into bands of rows, or
// the columns down, cut into strips of columns.
enum PassWay { kAcross, kDown };

// One pass, shared by its workers, who take its pieces in turn.
struct Pass {
  FIBITMAP *source;
  FIBITMAP *target;  // the pass's result, filled piece by piece
  PassWay way;
  unsigned width, height;  // the target's
  FREE_IMAGE_FILTER filter;
  unsigned piece_size;  // rows a band, columns a strip
  unsigned total;       // rows or columns to cut
  std::atomic<unsigned> next;
  std::atomic<int> failed;
};

// Rows top to top + rows of the source (counted from the top), resized
// across into the same rows of the target. Both bitmaps keep their rows
// bottom up, with the same pitch.
static int ResizeBand(Pass *pass, unsigned top, unsigned rows) {
  FIBITMAP *band = FreeImage_RescaleRect(
      pass->source, (int)pass->width, (int)rows, 0, (int)top,
      (int)FreeImage_GetWidth(pass->source), (int)(top + rows), pass->filter,
      FI_RESCALE_OMIT_METADATA);
  if (band == NULL) return 0;
  memcpy(FreeImage_GetScanLine(pass->target, pass->height - top - rows),
         FreeImage_GetBits(band), (size_t)FreeImage_GetPitch(band) * rows);
  FreeImage_Unload(band);
  return 1;
}

// Columns left to left + columns of the source, resized down into the same
// columns of the target, whose pixels are whole bytes.
static int ResizeStrip(Pass *pass, unsigned left, unsigned columns) {
  FIBITMAP *strip = FreeImage_RescaleRect(
      pass->source, (int)columns, (int)pass->height, (int)left, 0,
      (int)(left + columns), (int)FreeImage_GetHeight(pass->source),
      pass->filter, FI_RESCALE_OMIT_METADATA);
  if (strip == NULL) return 0;
  size_t pixel = FreeImage_GetLine(pass->target) / pass->width;
  for (unsigned y = 0; y < pass->height; y++)
    memcpy(FreeImage_GetScanLine(pass->target, (int)y) + left * pixel,
           FreeImage_GetScanLine(strip, (int)y), columns * pixel);
  FreeImage_Unload(strip);
  return 1;
}

static void RunPieces(void *context) {
  Pass *pass = (Pass *)context;
  for (;;) {
    unsigned start = pass->next.fetch_add(pass->piece_size);
    if (start >= pass->total || pass->failed.load()) return;
    unsigned size = pass->total - start < pass->piece_size
                        ? pass->total - start
                        : pass->piece_size;
    int done = pass->way == kAcross ? ResizeBand(pass, start, size)
                                    : ResizeStrip(pass, start, size);
    if (!done) pass->failed.store(1);
  }
}

// The bitmap the library makes of source at width x height, its pixels yet
// to be filled: the type, depth and palette, as a resize of a 2 x 2 corner
// gives them, which depend on the source alone.
static FIBITMAP *EmptyResult(FIBITMAP *source, unsigned width,
                             unsigned height, FREE_IMAGE_FILTER filter) {
  FIBITMAP *probe = FreeImage_RescaleRect(source, 1, 1, 0, 0, 2, 2, filter,
                                          FI_RESCALE_OMIT_METADATA);
  if (probe == NULL) return NULL;
  FIBITMAP *result =
      FreeImage_AllocateT(FreeImage_GetImageType(probe), (int)width,
                          (int)height, (int)FreeImage_GetBPP(probe), 0, 0, 0);
  if (result != NULL && FreeImage_GetColorsUsed(probe) > 0)
    memcpy(FreeImage_GetPalette(result), FreeImage_GetPalette(probe),
           FreeImage_GetColorsUsed(probe) * sizeof(RGBQUAD));
  FreeImage_Unload(probe);
  return result;
}

// One pass over source into a new width x height bitmap, on workers
// threads. Strips start on whole bytes of 1 and 4-bit pixels.
static FIBITMAP *SplitPass(FIBITMAP *source, PassWay way, unsigned width,
                           unsigned height, FREE_IMAGE_FILTER filter,
                           int workers) {
  FIBITMAP *target = EmptyResult(source, width, height, filter);
  if (target == NULL) return NULL;
  unsigned total = way == kAcross ? height : width;
  unsigned pieces = (unsigned)workers * kPiecesPerWorker;
  unsigned size = (total + pieces - 1) / pieces;
  if (way == kDown) size = (size + 7) / 8 * 8;
  Pass pass;
  pass.source = source;
  pass.target = target;
  pass.way = way;
  pass.width = width;
  pass.height = height;
  pass.filter = filter;
  pass.piece_size = size > 0 ? size : 1;
  pass.total = total;
  pass.next.store(0);
  pass.failed.store(0);
  PlatformThread *threads[kMostWorkers];
  int started = 0;
  while (started < workers - 1) {
    threads[started] = PlatformStartThread(RunPieces, &pass);
    if (threads[started] == NULL) break;  // the rest is done with fewer
    started++;
  }
  RunPieces(&pass);
  for (int i = 0; i < started; i++) PlatformJoinThread(threads[i]);
  if (!pass.failed.load()) return target;
  FreeImage_Unload(target);
  return NULL;
}

// Pictures of 16-bit channels or floats are resized in one call: the
// library's pass down a strip of them counts the pixel's size from the
// strip's width and the whole row's bytes, and reads past the rows.
FIBITMAP *SplitRescale(FIBITMAP *bitmap, int width, int height,
                       FREE_IMAGE_FILTER filter, int workers) {
  unsigned W = FreeImage_GetWidth(bitmap), H = FreeImage_GetHeight(bitmap);
  if (workers > kMostWorkers) workers = kMostWorkers;
  if (workers <= 1 || FreeImage_GetImageType(bitmap) != FIT_BITMAP ||
      width <= 0 || height <= 0 || W < 2 || H < 2 ||
      (uint64_t)W * H < kLeastSplitPixels || !FreeImage_HasPixels(bitmap) ||
      ((unsigned)width == W && (unsigned)height == H))
    return FreeImage_Rescale(bitmap, width, height, filter);
  // The library's own order: across first, unless the picture widens.
  unsigned w = (unsigned)width, h = (unsigned)height;
  int across_first = w <= W;
  FIBITMAP *between = bitmap;
  if (across_first && w != W)
    between = SplitPass(bitmap, kAcross, w, H, filter, workers);
  else if (!across_first && h != H)
    between = SplitPass(bitmap, kDown, W, h, filter, workers);
  FIBITMAP *result = between;
  if (between != NULL && across_first && h != H)
    result = SplitPass(between, kDown, w, h, filter, workers);
  else if (between != NULL && !across_first && w != W)
    result = SplitPass(between, kAcross, w, h, filter, workers);
  if (between != NULL && between != bitmap && between != result)
    FreeImage_Unload(between);
  // A split that ran short of memory (for a thread, a piece) leaves the
  // one call to try, with the threads and their pieces gone.
  if (result == NULL) return FreeImage_Rescale(bitmap, width, height, filter);
  FreeImage_CloneMetadata(result, bitmap);
  return result;
}
