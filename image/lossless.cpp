#include "image/lossless.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <turbojpeg.h>

#include "image/exif_block.h"
#include "image/header_fields.h"
#include "image/jpeg_frame.h"
#include "image/load.h"
#include "lib/byteorder.h"
#include "platform/platform.h"

enum {
  kApp0 = 0xE0,   // JFIF, and its extension JFXX
  kApp1 = 0xE1,   // EXIF, XMP
  kApp13 = 0xED,  // IPTC, inside Photoshop's resources
  kLargestPayload = 65533
};
static const unsigned char kExifName[6] = {'E', 'x', 'i', 'f', 0, 0};
static const unsigned char kJfxxName[5] = {'J', 'F', 'X', 'X', 0};

__attribute__((format(printf, 2, 3))) static void Say(char *reason,
                                                      const char *format, ...) {
  va_list values;
  va_start(values, format);
  vsnprintf(reason, kFailureReasonSize, format, values);
  va_end(values);
}

// An APPn segment whose payload begins with name.
static int IsNamed(const unsigned char *data, const JpegSegment *segment,
                   int marker, const unsigned char *name, size_t size) {
  return segment->marker == marker && segment->end - segment->body >= size &&
         memcmp(data + segment->body, name, size) == 0;
}

static int IsExif(const unsigned char *data, const JpegSegment *segment) {
  return IsNamed(data, segment, kApp1, kExifName, sizeof kExifName);
}

// JFIF's extension, which may hold a thumbnail of its own.
static int IsJfifThumbnail(const unsigned char *data,
                           const JpegSegment *segment) {
  return IsNamed(data, segment, kApp0, kJfxxName, sizeof kJfxxName);
}

// The Orientation of the first EXIF block before the scan; 0 when none.
static int OrientationOf(const unsigned char *data, size_t size) {
  JpegWalk walk;
  JpegSegment s;
  if (!StartJpegWalk(&walk, data, size)) return 0;
  while (NextJpegSegment(&walk, &s) && s.marker != kJpegScan)
    if (IsExif(data, &s)) return ExifOrientation(data + s.body, s.end - s.body);
  return 0;
}

// The transform holds every coefficient of the photo, and of the result as
// it lays them down: 64 values of 2 bytes a block, each. Its output grows
// by doubling to about the photo's size.
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

// Size and blocks as TurboJPEG sees them: it knows only the common
// samplings, and refuses the others here rather than in the transform.
static int ReadTurboJpegHeader(LosslessSource *source, LoadFailure *failure) {
  tjhandle handle = tjInitDecompress();
  int subsampling = -1, colour_space, read = 0;
  if (handle != NULL)
    read =
        tjDecompressHeader3(handle, source->data, (unsigned long)source->size,
                            &source->width, &source->height, &subsampling,
                            &colour_space) == 0 &&
        subsampling >= 0 && subsampling < TJ_NUMSAMP;
  if (read) {
    source->block_width = tjMCUWidth[subsampling];
    source->block_height = tjMCUHeight[subsampling];
  } else {
    failure->error = kImageUndecodable;
    Say(failure->reason, "The lossless transform could not read it: %s.",
        handle != NULL ? tjGetErrorStr2(handle) : "TurboJPEG did not start");
  }
  if (handle != NULL) tjDestroy(handle);
  return read;
}

int ReadLosslessSource(const char *path, LosslessSource *source,
                       LoadFailure *failure) {
  *source = LosslessSource{};
  ImageHeaders headers;
  source->data = ReadJudgedImage(path, &source->size, &headers, failure);
  if (source->data == NULL) return 0;
  source->format = headers.format;
  if (headers.format != kFormatJpeg) return 1;
  // The frame read by the walk before loading guards the memory below.
  if (!headers.read) {
    failure->error = kImageUndecodable;
    Say(failure->reason,
        "The lossless transform could not read it: it has no frame header "
        "before its first scan.");
  }
  if (!headers.read || !ReadTurboJpegHeader(source, failure) ||
      !FitsInMemory(&headers, source->size, failure)) {
    ReleaseLosslessSource(source);
    return 0;
  }
  source->progressive = JpegProgressive(&headers.jpeg);
  source->orientation = OrientationOf(source->data, source->size);
  return 1;
}

void ReleaseLosslessSource(LosslessSource *source) {
  free(source->data);
  source->data = NULL;
}

// TurboJPEG's operation for each way to lay the picture down, by
// transpose, mirror_x, mirror_y.
static int TransformOperation(LayDown lay) {
  static const int kOperations[8] = {
      TJXOP_NONE,      TJXOP_VFLIP,  TJXOP_HFLIP, TJXOP_ROT180,
      TJXOP_TRANSPOSE, TJXOP_ROT270, TJXOP_ROT90, TJXOP_TRANSVERSE};
  return kOperations[lay.transpose * 4 + lay.mirror_x * 2 + lay.mirror_y];
}

// TurboJPEG checks a whole picture's blocks itself (TJXOPT_PERFECT), but
// with a crop it checks the whole original, so a crop that leaves out the
// partial blocks would be refused; the plan has checked the crop instead,
// and the partial blocks it leaves out are dropped (TJXOPT_TRIM).
static tjtransform TransformFor(const LosslessSource *source,
                                const LosslessPlan *plan) {
  tjtransform transform = {};
  transform.op = TransformOperation(plan->lay);
  transform.options = plan->crops ? TJXOPT_CROP | TJXOPT_TRIM : TJXOPT_PERFECT;
  if (plan->crops)
    transform.r = tjregion{(int)plan->region.x, (int)plan->region.y,
                           (int)plan->region.w, (int)plan->region.h};
  // A baseline copy of a progressive photo is about a tenth larger.
  if (source->progressive) transform.options |= TJXOPT_PROGRESSIVE;
  return transform;
}

// The transformed JPEG, in a TurboJPEG buffer (tjFree); NULL with reason.
// A warning (data cut short, say) leaves a whole picture of what the
// decoder would show, as a load does.
static unsigned char *Transformed(const LosslessSource *source,
                                  const LosslessPlan *plan, size_t *size,
                                  char *reason) {
  tjhandle handle = tjInitTransform();
  if (handle == NULL) {
    Say(reason, "TurboJPEG did not start.");
    return NULL;
  }
  tjtransform transform = TransformFor(source, plan);
  unsigned char *output = NULL;
  unsigned long output_size = 0;
  int failed =
      tjTransform(handle, source->data, (unsigned long)source->size, 1, &output,
                  &output_size, &transform, TJFLAG_LIMITSCANS) != 0 &&
      tjGetErrorCode(handle) == TJERR_FATAL;
  if (failed || output == NULL) {
    Say(reason, "The lossless transform failed: %s.", tjGetErrorStr2(handle));
    tjFree(output);
    output = NULL;
  }
  tjDestroy(handle);
  *size = output_size;
  return output;
}

// Never trim silently: the result must have exactly the planned size.
static int HasPlannedSize(const unsigned char *data, size_t size,
                          const LosslessPlan *plan, char *reason) {
  JpegFrame frame;
  if (ReadJpegFrame(data, size, &frame) && frame.width == plan->width &&
      frame.height == plan->height)
    return 1;
  Say(reason,
      "The lossless transform did not give the %lld x %lld picture "
      "planned.",
      (long long)plan->width, (long long)plan->height);
  return 0;
}

static int ChangesGeometry(const LosslessPlan *plan) {
  return plan->crops || plan->lay.transpose || plan->lay.mirror_x ||
         plan->lay.mirror_y;
}

// What the segments before the scan are rewritten by.
struct Rewrite {
  const LosslessPlan *plan;
  const LosslessMarkers *markers;
  int orientation;        // the tag the result keeps: 1 after -upright
  uint32_t dpi_x, dpi_y;  // the JFIF density, for a stripped EXIF block
};

// The JFIF header's density in dots per inch, as the library reads it; 0
// (72 for the EXIF block) when it gives no unit.
static void JfifDensity(const unsigned char *data, size_t size, uint32_t *dpi_x,
                        uint32_t *dpi_y) {
  static const unsigned char kJfifName[5] = {'J', 'F', 'I', 'F', 0};
  enum { kUnits = 7, kDensityX = 8, kDensityY = 10, kHeaderEnd = 12 };
  *dpi_x = *dpi_y = 0;
  JpegWalk walk;
  JpegSegment s;
  if (!StartJpegWalk(&walk, data, size)) return;
  while (NextJpegSegment(&walk, &s) && s.marker != kJpegScan) {
    if (!IsNamed(data, &s, kApp0, kJfifName, sizeof kJfifName) ||
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

// What becomes of one segment before the scan.
enum Fate { kKeep, kLeaveOut, kMend };

static Fate FateOf(const unsigned char *data, const JpegSegment *segment,
                   const Rewrite *rewrite) {
  const LosslessMarkers *markers = rewrite->markers;
  int geometry = ChangesGeometry(rewrite->plan);
  if (IsExif(data, segment) && (markers->strip || markers->upright || geometry))
    return kMend;
  if (markers->strip && (segment->marker == kApp1 || segment->marker == kApp13))
    return kLeaveOut;
  if (IsJfifThumbnail(data, segment) && (markers->strip || geometry))
    return kLeaveOut;
  return kKeep;
}

// The EXIF block the result carries: told the new geometry or, with
// -strip, the orientation alone, without which a portrait photo would show
// on its side. A new heap block; NULL to leave it out.
static unsigned char *NewExifBlock(const unsigned char *data,
                                   const JpegSegment *segment,
                                   const Rewrite *rewrite, size_t *size) {
  if (rewrite->markers->strip)
    return OrientationOnlyExifBlock(rewrite->orientation, rewrite->dpi_x,
                                    rewrite->dpi_y, size);
  ExifChanges changes = {};
  if (ChangesGeometry(rewrite->plan)) {
    changes.width = rewrite->plan->width;
    changes.height = rewrite->plan->height;
    changes.drop_thumbnail = 1;
  }
  changes.upright = rewrite->markers->upright;
  return EditExifBlock(data + segment->body, segment->end - segment->body,
                       &changes, size);
}

// The new EXIF block as a whole APP1 segment into out (room for 4 + the
// largest payload); its size, or 0 to leave it out.
static size_t MendedExif(const unsigned char *data, const JpegSegment *segment,
                         const Rewrite *rewrite, unsigned char *out) {
  size_t size = 0;
  unsigned char *block = NewExifBlock(data, segment, rewrite, &size);
  if (block == NULL || size > kLargestPayload) {
    free(block);
    return 0;
  }
  out[0] = 0xFF;
  out[1] = kApp1;
  out[2] = (unsigned char)((size + 2) >> 8);
  out[3] = (unsigned char)(size + 2);
  memcpy(out + 4, block, size);
  free(block);
  return 4 + size;
}

// The transformed JPEG with its segments before the scan kept, mended or
// left out: a new heap copy (free it); NULL when the transform's own output
// can't be walked or memory runs out. Only the first EXIF block is mended; a
// second would keep what the first loses, and is left out.
static unsigned char *Rewritten(const unsigned char *data, size_t size,
                                const Rewrite *rewrite, size_t *new_size) {
  JpegWalk walk;
  if (!StartJpegWalk(&walk, data, size)) return NULL;
  unsigned char *out = (unsigned char *)malloc(size + 4 + kLargestPayload);
  if (out == NULL) return NULL;
  size_t used = 2, copied_to = 2;  // SOI
  memcpy(out, data, 2);
  int exif_seen = 0;
  JpegSegment s;
  while (NextJpegSegment(&walk, &s)) {
    if (s.marker == kJpegScan) {
      memcpy(out + used, data + copied_to, size - copied_to);
      *new_size = used + size - copied_to;
      return out;
    }
    Fate fate = FateOf(data, &s, rewrite);
    if (fate == kKeep) continue;
    memcpy(out + used, data + copied_to, s.start - copied_to);
    used += s.start - copied_to;
    if (fate == kMend && !exif_seen)
      used += MendedExif(data, &s, rewrite, out + used);
    exif_seen |= fate == kMend;
    copied_to = s.end;
  }
  free(out);
  return NULL;
}

int SaveLosslessly(const LosslessSource *source, const LosslessPlan *plan,
                   const LosslessMarkers *markers, const char *path,
                   SaveFailure *failure) {
  size_t size = 0, rewritten_size = 0;
  unsigned char *transformed =
      Transformed(source, plan, &size, failure->reason);
  if (transformed == NULL) return 0;
  unsigned char *rewritten = NULL;
  if (HasPlannedSize(transformed, size, plan, failure->reason)) {
    Rewrite rewrite = {plan, markers,
                       markers->upright ? 1 : source->orientation, 0, 0};
    JfifDensity(transformed, size, &rewrite.dpi_x, &rewrite.dpi_y);
    rewritten = Rewritten(transformed, size, &rewrite, &rewritten_size);
    if (rewritten == NULL)
      Say(failure->reason,
          "The lossless transform gave a JPEG whose "
          "markers can't be read, or memory ran out.");
  }
  tjFree(transformed);
  if (rewritten == NULL) return 0;
  int saved = SaveBytesByName(rewritten, rewritten_size, path, failure);
  free(rewritten);
  return saved;
}
