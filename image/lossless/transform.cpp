#include "image/lossless/transform.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "image/containers/header_fields.h"
#include "image/containers/jpeg_markers.h"
#include "image/load/load.h"
#include "image/lossless/blocks.h"
#include "image/metadata/record.h"
#include "image/metadata/names.h"
#include "lib/byteorder.h"
#include "platform/platform.h"


__attribute__((format(printf, 2, 3))) static void Say(char *reason,
                                                      const char *format, ...) {
  va_list values;
  va_start(values, format);
  vsnprintf(reason, kFailureReasonSize, format, values);
  va_end(values);
}

// The transform holds every coefficient of the photo, and of the result as
// it lays them down: 64 values of 2 bytes a block, each. Its output is
// about the photo's size, and grows by doubling when it is more.
static uint64_t TransformCost(const JpegFrame *frame, size_t file_size) {
  const uint64_t kOverhead = 1 << 20;
  return 2 * (uint64_t)frame->stored_blocks * 64 * 2 + 2 * (uint64_t)file_size +
         kOverhead;
}

static int FitsInMemory(const ImageHeaders *headers, size_t size,
                        LoadFailure *failure) {
  uint64_t cost = TransformCost(&headers->jpeg, size);
  uint64_t available = PlatformAvailableMemory();
  if (cost <= available) return 1;
  failure->error = kImageTooLarge;
  Say(failure->reason,
      "Not enough memory: the lossless transform takes %llu MB; %llu MB are "
      "free.",
      (unsigned long long)((cost + 999999) / 1000000),
      (unsigned long long)(available / 1000000));
  return 0;
}

// The frame as libjpeg reads it, which the plan and the transform both
// take, against the frame the walk read to judge the photo's cost: a file
// they read two ways is refused, not transformed on a guess.
static int OpenFrame(LosslessSource *source, const JpegFrame *walked,
                     LoadFailure *failure) {
  CodedFrameView view;
  source->frame =
      OpenCodedFrame(source->data, source->size, &view, failure->reason);
  if (source->frame == NULL) {
    failure->error = kImageUndecodable;
    return 0;
  }
  if (view.width != walked->width || view.height != walked->height ||
      view.components != walked->components ||
      view.stored_blocks != walked->stored_blocks) {
    failure->error = kImageUndecodable;
    Say(failure->reason,
        "The lossless transform could not read it: its headers can be read "
        "as a %d x %d picture of %d components, or as %lld x %lld of %d.",
        view.width, view.height, view.components, (long long)walked->width,
        (long long)walked->height, walked->components);
    return 0;
  }
  source->width = view.width;
  source->height = view.height;
  source->block_width = view.block_width;
  source->block_height = view.block_height;
  return 1;
}

int ReadLosslessSource(const char *path, LosslessSource *source,
                       LoadFailure *failure) {
  *source = LosslessSource{};
  ImageHeaders headers;
  if (!ReadJudgedImage(path, &source->file, &headers, failure)) return 0;
  source->data = source->file.data;
  source->size = source->file.size;
  source->format = headers.format;
  if (headers.format != kFormatJpeg) return 1;
  // The frame read by the walk before loading guards the memory below.
  if (!headers.read) {
    failure->error = kImageUndecodable;
    Say(failure->reason,
        "The lossless transform could not read it: it has no frame header "
        "before its first scan.");
  }
  if (!headers.read || !OpenFrame(source, &headers.jpeg, failure) ||
      !FitsInMemory(&headers, source->size, failure)) {
    ReleaseLosslessSource(source);
    return 0;
  }
  source->cost = TransformCost(&headers.jpeg, source->size) + source->size;
  ReadPhotoMetadata(source->data, source->size, kFormatJpeg,
                    &source->metadata);
  source->orientation = MetadataOrientation(&source->metadata);
  return 1;
}

// The frame borrows the bytes, and goes first.
static void LetGoOfSourceBytes(LosslessSource *source) {
  CloseCodedFrame(source->frame);
  source->frame = NULL;
  PlatformUnmapFile(&source->file);
  source->data = NULL;
  source->size = 0;
}

void ReleaseLosslessSource(LosslessSource *source) {
  LetGoOfSourceBytes(source);
  ReleasePhotoMetadata(&source->metadata);
}

// The JFIF header's density in dots per inch, as the library reads it; 0
// (72 for the EXIF block) when it gives no unit.
static void JfifDensity(const unsigned char *data, size_t size, uint32_t *dpi_x,
                        uint32_t *dpi_y) {
  enum { kUnits = 7, kDensityX = 8, kDensityY = 10, kHeaderEnd = 12 };
  *dpi_x = *dpi_y = 0;
  JpegWalk walk;
  JpegSegment s;
  if (!StartJpegWalk(&walk, data, size)) return;
  while (NextJpegSegment(&walk, &s) && s.marker != kJpegScan) {
    if (!IsJfifSegment(s.marker, data + s.body, s.end - s.body) ||
        s.end - s.body < kHeaderEnd)
      continue;
    const unsigned char *header = data + s.body;
    int units = header[kUnits];
    if (units != 1 && units != 2) return;
    double per_inch = units == 2 ? 2.54 : 1;  // 2: dots per centimetre
    *dpi_x = (uint32_t)(Big16(header + kDensityX) * per_inch + 0.5);
    *dpi_y = (uint32_t)(Big16(header + kDensityY) * per_inch + 0.5);
    return;
  }
}

// The photo's metadata, settled as the plan and markers say, placed into
// the transformed JPEG: a new heap copy (free it), or NULL.
static unsigned char *WithMetadata(const LosslessSource *source,
                                   const LosslessPlan *plan,
                                   const LosslessMarkers *markers,
                                   const unsigned char *data, size_t size,
                                   size_t *new_size) {
  EditsDone done = {};
  done.moved = PlanMovesBlocks(plan);
  done.width = plan->width;
  done.height = plan->height;
  done.upright = markers->upright;
  done.strip = markers->strip;
  JfifDensity(data, size, &done.dpi_x, &done.dpi_y);
  done.output = kFormatJpeg;
  // The profile's chunks go as they stand: they must be for these pixels.
  JpegFrame frame;
  if (ReadJpegFrame(data, size, &frame)) done.components = frame.components;
  MetadataChanges changes = MetadataChangesFor(&source->metadata, &done);
  PhotoMetadata metadata;
  if (!CopyPhotoMetadata(&source->metadata, &metadata)) return NULL;
  SettleMetadata(&metadata, &changes);
  unsigned char *placed =
      PlaceMetadata(data, size, kFormatJpeg, &metadata, 1, new_size);
  ReleasePhotoMetadata(&metadata);
  return placed;
}

// The source's map is closed before the save: Windows refuses to replace
// a file that is mapped, and the default output is the input.
int SaveLosslessly(LosslessSource *source, const LosslessPlan *plan,
                   const LosslessMarkers *markers, const char *path,
                   SaveFailure *failure) {
  size_t size = 0, rewritten_size = 0;
  unsigned char *transformed =
      TransformedBlocks(source->frame, plan, &size, failure->reason);
  LetGoOfSourceBytes(source);
  if (transformed == NULL) return 0;
  unsigned char *rewritten =
      WithMetadata(source, plan, markers, transformed, size, &rewritten_size);
  if (rewritten == NULL)
    Say(failure->reason,
        "The lossless transform gave a JPEG whose "
        "markers can't be read, or memory ran out.");
  free(transformed);
  if (rewritten == NULL) return 0;
  int saved = SaveBytesByName(rewritten, rewritten_size, path, failure);
  free(rewritten);
  return saved;
}
