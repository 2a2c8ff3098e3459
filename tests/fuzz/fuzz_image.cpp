#include "tests/fuzz/fuzz_image.h"

#include <FreeImage.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>

#include "image/load/cost.h"
#include "image/containers/headers.h"
#include "image/lossless/transform.h"
#include "image/metadata/record.h"
#include "tests/temp_folder.h"

extern "C" const char *__asan_default_options() {
  // A claim the checks let through on a large machine still stays small
  // here: the library gets NULL past 512 MB, as it would on a small one.
  return "allocator_may_return_null=1:max_allocation_size_mb=512";
}
extern "C" const char *__ubsan_default_options() {
  // The libraries' reports are recoverable; each one is a finding.
  return "halt_on_error=1:print_stacktrace=1";
}

namespace {

// Bigger pictures are the whole-program target's business; here they would
// only slow the campaign down.
const uint64_t kMostBytes = 64 << 20;
// The load-only targets aim at hundreds of runs a second. Under both
// sanitizers, with every comparison traced and no SIMD, a decode's time
// goes by its pixels, so the budget is the loader's fixed 1 MB and a
// bitmap of 64 KB: 21,845 pixels at 24 bits, 65,536 at 8.
const uint64_t kMostLoadBytes = (1 << 20) + (64 << 10);

std::string g_folder;

std::string Path(const char *name) { return g_folder + "/" + name; }

// The folder is memory: it goes when the process ends, as libFuzzer's fork
// mode ends one for every job.
void RemoveFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(g_folder, ignored);
}

void Setup() {
  char pattern[] = "/dev/shm/orvane-fuzz-image-XXXXXX";
  if (mkdtemp(pattern) == NULL) abort();
  g_folder = pattern;
  atexit(RemoveFolder);
}

// Edits and lossless steps, one of which each input's last byte chooses.
struct FuzzEdit {
  // A new bitmap, the same one edited in place, or NULL.
  FIBITMAP *(*apply)(FIBITMAP *bitmap, int orientation);
  void (*chain)(LosslessChain *chain, int orientation);  // NULL: no lossless
};

FIBITMAP *Crop(FIBITMAP *b, int) {
  int w = ImageWidth(b), h = ImageHeight(b);
  return CropImage(b, w / 4, h / 4, w / 2 + 1, h / 2 + 1);
}
FIBITMAP *Turn(FIBITMAP *b, int) { return RotateImage(b, 90); }
FIBITMAP *Tilt(FIBITMAP *b, int) { return RotateImage(b, 33.3); }
FIBITMAP *FlipH(FIBITMAP *b, int) { return FlipImageHorizontal(b) ? b : NULL; }
FIBITMAP *FlipV(FIBITMAP *b, int) { return FlipImageVertical(b) ? b : NULL; }
FIBITMAP *Shrink(FIBITMAP *b, int) {
  return ResizeImage(b, ImageWidth(b) / 2 + 1, 0, kFilterBSpline);
}
FIBITMAP *Upright(FIBITMAP *b, int orientation) {
  return UprightImage(b, orientation);
}
FIBITMAP *Strip(FIBITMAP *b, int) { return b; }  // only the metadata changes

void ChainCropMiddle(LosslessChain *c, int) {
  ChainCrop(c, (int)c->width / 4, (int)c->height / 4, (int)c->width / 2 + 1,
            (int)c->height / 2 + 1);
}
void ChainQuarter(LosslessChain *c, int) { ChainTurn(c, 1); }
void ChainFlipH(LosslessChain *c, int) { ChainFlipHorizontal(c); }
void ChainFlipV(LosslessChain *c, int) { ChainFlipVertical(c); }
void ChainOrient(LosslessChain *c, int orientation) {
  ChainUpright(c, orientation);
}
void ChainNothing(LosslessChain *, int) {}

const FuzzEdit kEdits[] = {
    {Crop, ChainCropMiddle}, {Turn, ChainQuarter}, {Tilt, NULL},
    {FlipH, ChainFlipH},     {FlipV, ChainFlipV},  {Shrink, NULL},
    {Upright, ChainOrient},  {Strip, ChainNothing},
};
const int kQualities[] = {100, 8192 + 90, 50, 0};  // 8192: progressive

// The edit's result size, by the same reckoning the program refuses with.
bool EditFits(FIBITMAP *bitmap) {
  int64_t w = ImageWidth(bitmap), h = ImageHeight(bitmap);
  RotateTarget(w, h, 33.3, &w, &h);  // the largest any edit here makes
  return EditedImageBytes(bitmap, w, h) <= kMostBytes;
}

void SaveEach(FIBITMAP *bitmap, int quality, const PhotoMetadata *metadata) {
  SaveImageByName(bitmap, Path("out.jpg").c_str(), quality, NULL, metadata);
  SaveImageByName(bitmap, Path("out.png").c_str(), quality, NULL, metadata);
  SaveImageByName(bitmap, Path("out.bmp").c_str(), quality, NULL, metadata);
}

// The metadata settled as a run with the edit settles it.
void Settle(PhotoMetadata *metadata, FIBITMAP *edited, const FuzzEdit &edit) {
  EditsDone done = {};
  done.moved = edit.apply != Strip && edit.apply != Upright;
  done.width = ImageWidth(edited);
  done.height = ImageHeight(edited);
  done.upright = edit.apply == Upright;
  done.strip = edit.apply == Strip;
  done.output = kFormatJpeg;  // the least bound
  MetadataChanges changes = MetadataChangesFor(metadata, &done);
  SettleMetadata(metadata, &changes);
}

void EditAndSave(const char *input, const FuzzEdit &edit, int quality) {
  LoadFailure failure;
  PhotoMetadata metadata;
  FIBITMAP *bitmap = LoadImageByName(input, &failure, &metadata);
  if (bitmap == NULL) {
    if (failure.reason[0] == '\0') abort();  // a failure must say why
    return;
  }
  if (EditFits(bitmap)) {
    int orientation = MetadataOrientation(&metadata);
    FIBITMAP *edited = edit.apply(bitmap, orientation);
    if (edited != NULL) {
      Settle(&metadata, edited, edit);
      SaveEach(edited, quality, &metadata);
    }
    if (edited != bitmap && edited != NULL) ReleaseImage(edited);
  }
  ReleasePhotoMetadata(&metadata);
  ReleaseImage(bitmap);
}

void TransformLosslessly(const char *input, const FuzzEdit &edit, int strip) {
  LosslessSource source;
  LoadFailure failure;
  if (!ReadLosslessSource(input, &source, &failure)) return;
  if (source.format == kFormatJpeg &&
      (uint64_t)source.width * source.height * 4 <= kMostBytes) {
    LosslessChain chain;
    StartChain(&chain, source.width, source.height);
    edit.chain(&chain, source.orientation);
    LosslessPlan plan;
    PlanLossless(&chain, source.block_width, source.block_height, &plan);
    LosslessMarkers markers = {edit.chain == ChainOrient, strip};
    SaveFailure saved;
    if (plan.fit == kFitExact)
      SaveLosslessly(&source, &plan, &markers, Path("lossless.jpg").c_str(),
                     &saved);
  }
  ReleaseLosslessSource(&source);
}

// The input's name, which must end as its format's do.
const char *InputName(ImageFormat format) {
  return format == kFormatJpeg ? "in.jpg"
         : format == kFormatPng ? "in.png"
                                : "in.bmp";
}

// Whether the bytes hold format, with headers claiming a load of at most
// most_bytes; others are not worth a run of the target.
bool WorthLoading(ImageFormat format, const uint8_t *data, size_t size,
                  uint64_t most_bytes) {
  if (ImageFormatOfBytes(data, size) != format) return false;
  ImageHeaders headers;
  ReadImageHeaders(data, size, format, &headers);
  return LoadCost(&headers) <= most_bytes;
}

// A 1 x 1 picture as the library's writer makes it, the form a save places
// the record into; made once, kept for the process.
struct Encoded {
  unsigned char *bytes;
  size_t size;
};

Encoded EncodeTiny(ImageFormat format) {
  Encoded tiny = {NULL, 0};
  FIBITMAP *bitmap = FreeImage_Allocate(1, 1, 24);
  FIMEMORY *memory = FreeImage_OpenMemory(NULL, 0);
  BYTE *bytes = NULL;
  DWORD size = 0;
  if (bitmap == NULL || memory == NULL ||
      !FreeImage_SaveToMemory((FREE_IMAGE_FORMAT)format, bitmap, memory, 0) ||
      !FreeImage_AcquireMemory(memory, &bytes, &size))
    abort();
  tiny.bytes = (unsigned char *)malloc(size);
  if (tiny.bytes == NULL) abort();
  memcpy(tiny.bytes, bytes, size);
  tiny.size = size;
  FreeImage_CloseMemory(memory);
  FreeImage_Unload(bitmap);
  return tiny;
}

const Encoded &TinyOutput(ImageFormat format) {
  static const Encoded jpeg = EncodeTiny(kFormatJpeg);
  static const Encoded png = EncodeTiny(kFormatPng);
  return format == kFormatJpeg ? jpeg : png;
}

// The record settled as a run would settle it, the choice's bits saying
// which changes: a crop to half the size, -upright, -strip, the components
// the profile must be for. Any mix.
void SettleByChoice(PhotoMetadata *metadata, FIBITMAP *bitmap,
                    ImageFormat format, uint8_t choice) {
  static const int kComponents[] = {0, 1, 3, 4};
  MetadataChanges changes = {};
  changes.geometry = choice & 1;
  changes.width = ImageWidth(bitmap) / 2 + 1;
  changes.height = ImageHeight(bitmap) / 2 + 1;
  changes.upright = (choice >> 1) & 1;
  changes.strip = (choice >> 2) & 1;
  changes.most_exif = LargestExifBlock(format);
  changes.components = kComponents[(choice >> 3) & 3];
  ImageDotsPerInch(bitmap, &changes.dpi_x, &changes.dpi_y);
  SettleMetadata(metadata, &changes);
}

}  // namespace

int FuzzImageLoad(ImageFormat format, const uint8_t *data, size_t size) {
  if (!WorthLoading(format, data, size, kMostLoadBytes)) return -1;
  LoadFailure failure;
  PhotoMetadata metadata;
  FIBITMAP *bitmap = LoadImageBytes(data, size, &failure, &metadata);
  if (bitmap == NULL) {
    if (failure.reason[0] == '\0') abort();  // a failure must say why
    return 0;
  }
  uint8_t choice = data[size - 1];
  SettleByChoice(&metadata, bitmap, format, choice);
  if (format != kFormatBmp) {  // a BMP has no place for any of it
    const Encoded &tiny = TinyOutput(format);
    size_t placed_size = 0;
    unsigned char *placed = PlaceMetadata(tiny.bytes, tiny.size, format,
                                          &metadata, (choice >> 3) & 1,
                                          &placed_size);
    if (placed == NULL) abort();  // the writer's own output always walks
    free(placed);
  }
  ReleasePhotoMetadata(&metadata);
  ReleaseImage(bitmap);
  return 0;
}

int FuzzImageFile(ImageFormat format, const uint8_t *data, size_t size) {
  if (g_folder.empty()) Setup();
  if (!WorthLoading(format, data, size, kMostBytes)) return -1;
  std::string input = Path(InputName(format));
  WriteWholeFile(input, std::string((const char *)data, size));

  uint8_t choice = size > 0 ? data[size - 1] : 0;
  const FuzzEdit &edit = kEdits[choice % (sizeof kEdits / sizeof kEdits[0])];
  EditAndSave(input.c_str(), edit, kQualities[(choice >> 3) % 4]);
  if (format == kFormatJpeg && edit.chain != NULL)
    TransformLosslessly(input.c_str(), edit, choice >> 7);
  return 0;
}
