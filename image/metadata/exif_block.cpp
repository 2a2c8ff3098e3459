#include "image/metadata/exif_block.h"

#include <stdlib.h>
#include <string.h>

#include "lib/byteorder.h"

// The block is read as a list of ranges, each a part of the structure that
// the mended copy keeps or drops: every directory that is followed, and
// every value and picture they point at. A block is mended only when all of
// them lie inside it, nothing dropped shares a byte with anything kept
// (zeroing the thumbnail must never damage what stays), and no directory
// shares a byte with anything else (the mending writes into directories,
// and a write must change nothing but the entry it mends).

static const unsigned char kSignature[] = {'E', 'x', 'i', 'f', 0, 0};
enum {
  kSignatureSize = 6,
  kTiffHeaderSize = 8,
  kEntrySize = 12,
  kMostDirectories = 16,
  // Far beyond any camera's; a block claiming more is not mended.
  kMostRanges = 2048
};

enum {
  kTagImageDescription = 0x010E,
  kTagMake = 0x010F,
  kTagModel = 0x0110,
  kTagStripOffsets = 0x0111,
  kTagOrientation = 0x0112,
  kTagXResolution = 0x011A,
  kTagYResolution = 0x011B,
  kTagResolutionUnit = 0x0128,
  kTagTransferFunction = 0x012D,
  kTagSoftware = 0x0131,
  kTagDateTime = 0x0132,
  kTagArtist = 0x013B,
  kTagWhitePoint = 0x013E,
  kTagPrimaryChromaticities = 0x013F,
  kTagYCbCrCoefficients = 0x0211,
  kTagYCbCrPositioning = 0x0213,
  kTagReferenceBlackWhite = 0x0214,
  kTagCopyright = 0x8298,
  kTagStripByteCounts = 0x0117,
  kTagThumbnailOffset = 0x0201,
  kTagThumbnailLength = 0x0202,
  kTagExifDirectory = 0x8769,
  kTagGpsDirectory = 0x8825,
  kTagPixelXDimension = 0xA002,
  kTagPixelYDimension = 0xA003,
  kTagInteropDirectory = 0xA005
};

enum {
  kTypeByte = 1,
  kTypeShort = 3,
  kTypeLong = 4,
  kTypeRational = 5,
  kTypeSignedByte = 6,
  kTypeSignedShort = 8,
  kTypeSignedLong = 9,
  kTypeDirectory = 13
};

// The TIFF structure after the signature; its offsets count from its start.
struct Tiff {
  const unsigned char *data;
  uint64_t size;
  int big_endian;
};

struct TiffRange {
  uint64_t start, end;
  int dropped;
  int directory;  // a directory's count, entries and link, not a value
};

struct TiffLayout {
  TiffRange ranges[kMostRanges];
  int range_count;
  uint32_t directories[kMostDirectories];  // followed so far, to stop loops
  int directory_count;
  uint32_t ifd0, exif;  // where IFD0 and the Exif directory lie; exif 0: none
};

// One directory entry as it stands; its value lies at value_at.
struct TiffEntry {
  uint32_t tag, type, count;
  uint64_t at, value_at, value_size;
};

static uint32_t Read16(const Tiff *tiff, uint64_t at) {
  const unsigned char *p = tiff->data + at;
  return tiff->big_endian ? Big16(p) : Little16(p);
}

static uint32_t Read32(const Tiff *tiff, uint64_t at) {
  const unsigned char *p = tiff->data + at;
  return tiff->big_endian ? Big32(p) : Little32(p);
}

// Written in the block's own byte order.
static void Put16(unsigned char *p, uint32_t value, int big_endian) {
  big_endian ? PutBig16(p, value) : PutLittle16(p, value);
}

static void Put32(unsigned char *p, uint32_t value, int big_endian) {
  big_endian ? PutBig32(p, value) : PutLittle32(p, value);
}

static int Inside(const Tiff *tiff, uint64_t start, uint64_t length) {
  return start <= tiff->size && length <= tiff->size - start;
}

static int OpenTiff(const unsigned char *block, size_t size, Tiff *tiff) {
  if (size < kSignatureSize + kTiffHeaderSize ||
      memcmp(block, kSignature, kSignatureSize) != 0)
    return 0;
  tiff->data = block + kSignatureSize;
  tiff->size = size - kSignatureSize;
  if (memcmp(tiff->data, "MM", 2) != 0 && memcmp(tiff->data, "II", 2) != 0)
    return 0;
  tiff->big_endian = tiff->data[0] == 'M';
  return Read16(tiff, 2) == 42;
}

// Bytes per value of each TIFF type; 0 for a type of no known size.
static uint64_t TypeSize(uint32_t type) {
  static const unsigned char kSizes[] = {0, 1, 1, 2, 4, 8, 1,
                                         1, 2, 4, 8, 4, 8, 4};
  return type < sizeof kSizes ? kSizes[type] : 0;
}

// The entry's value lies in the entry itself when it fits in 4 bytes.
static int ReadEntry(const Tiff *tiff, uint32_t directory, uint32_t index,
                     TiffEntry *entry) {
  entry->at = (uint64_t)directory + 2 + (uint64_t)index * kEntrySize;
  entry->tag = Read16(tiff, entry->at);
  entry->type = Read16(tiff, entry->at + 2);
  entry->count = Read32(tiff, entry->at + 4);
  entry->value_size = TypeSize(entry->type) * entry->count;
  entry->value_at =
      entry->value_size <= 4 ? entry->at + 8 : Read32(tiff, entry->at + 8);
  return TypeSize(entry->type) > 0 &&
         Inside(tiff, entry->value_at, entry->value_size);
}

// EXIF's integer types: a camera may store the numbers the edits touch in
// any of them, the signed ones too. A number is written back unsigned, in
// the size it had where that holds it: it is never negative, and readers
// expect the unsigned types EXIF gives these tags.
struct IntegerType {
  uint32_t type, written_as;
};
static const IntegerType kIntegerTypes[] = {
    {kTypeByte, kTypeByte},         {kTypeShort, kTypeShort},
    {kTypeLong, kTypeLong},         {kTypeSignedByte, kTypeByte},
    {kTypeSignedShort, kTypeShort}, {kTypeSignedLong, kTypeLong}};

static const IntegerType *IntegerTypeOf(uint32_t type) {
  for (const IntegerType &integer : kIntegerTypes)
    if (integer.type == type) return &integer;
  return NULL;
}

// The index-th number of an integer entry already read; 0 for other types.
static int64_t EntryNumber(const Tiff *tiff, const TiffEntry *entry,
                           uint32_t index) {
  if (index >= entry->count || IntegerTypeOf(entry->type) == NULL) return 0;
  uint64_t at = entry->value_at + TypeSize(entry->type) * index;
  switch (entry->type) {
    case kTypeByte:
      return tiff->data[at];
    case kTypeShort:
      return Read16(tiff, at);
    case kTypeLong:
      return Read32(tiff, at);
    case kTypeSignedByte:
      return (int8_t)tiff->data[at];
    case kTypeSignedShort:
      return (int16_t)Read16(tiff, at);
    default:
      return (int32_t)Read32(tiff, at);
  }
}

static int AddRange(TiffLayout *layout, uint64_t start, uint64_t length,
                    int dropped, int directory = 0) {
  if (length == 0) return 1;
  if (layout->range_count == kMostRanges) return 0;
  layout->ranges[layout->range_count++] =
      TiffRange{start, start + length, dropped, directory};
  return 1;
}

// The directory's entry count, once it is known to lie whole inside the
// data, after the header.
static int DirectoryInside(const Tiff *tiff, uint32_t offset, uint32_t *count) {
  if (offset < kTiffHeaderSize || !Inside(tiff, offset, 2)) return 0;
  *count = Read16(tiff, offset);
  return Inside(tiff, offset, 2 + (uint64_t)*count * kEntrySize + 4);
}

// The same, for a directory not followed before.
static int OpenDirectory(const Tiff *tiff, uint32_t offset, TiffLayout *layout,
                         uint32_t *count) {
  if (!DirectoryInside(tiff, offset, count)) return 0;
  for (int i = 0; i < layout->directory_count; i++)
    if (layout->directories[i] == offset) return 0;
  if (layout->directory_count == kMostDirectories) return 0;
  layout->directories[layout->directory_count++] = offset;
  return 1;
}

// The directory and every value outside its entries become ranges.
static int AddDirectory(const Tiff *tiff, uint32_t offset, int dropped,
                        TiffLayout *layout) {
  uint32_t count;
  if (!OpenDirectory(tiff, offset, layout, &count) ||
      !AddRange(layout, offset, 2 + (uint64_t)count * kEntrySize + 4, dropped,
                1))
    return 0;
  for (uint32_t i = 0; i < count; i++) {
    TiffEntry entry;
    if (!ReadEntry(tiff, offset, i, &entry)) return 0;
    if (entry.value_size > 4 &&
        !AddRange(layout, entry.value_at, entry.value_size, dropped))
      return 0;
  }
  return 1;
}

// The entry with the tag in the directory at offset, already added.
static int FindEntry(const Tiff *tiff, uint32_t offset, uint32_t tag,
                     TiffEntry *entry) {
  uint32_t count = Read16(tiff, offset);
  for (uint32_t i = 0; i < count; i++)
    if (ReadEntry(tiff, offset, i, entry) && entry->tag == tag) return 1;
  return 0;
}

static int IsNumberList(const TiffEntry *entry) {
  return entry->type == kTypeShort || entry->type == kTypeLong;
}

// The pictures a directory points at: a JPEG thumbnail, or strips.
static int AddPictures(const Tiff *tiff, uint32_t offset, int dropped,
                       uint32_t offsets_tag, uint32_t lengths_tag,
                       TiffLayout *layout) {
  TiffEntry places, lengths;
  if (!FindEntry(tiff, offset, offsets_tag, &places)) return 1;
  if (!FindEntry(tiff, offset, lengths_tag, &lengths) ||
      lengths.count != places.count || !IsNumberList(&places) ||
      !IsNumberList(&lengths))
    return 0;
  for (uint32_t i = 0; i < places.count; i++) {
    uint64_t start = EntryNumber(tiff, &places, i);
    uint64_t length = EntryNumber(tiff, &lengths, i);
    if (!Inside(tiff, start, length) ||
        !AddRange(layout, start, length, dropped))
      return 0;
  }
  return 1;
}

static int IsDirectoryTag(uint32_t tag) {
  return tag == kTagExifDirectory || tag == kTagGpsDirectory ||
         tag == kTagInteropDirectory;
}

// IFD0 and the directories it leads to (Exif, GPS, Interop), all kept.
static int AddKeptDirectories(const Tiff *tiff, TiffLayout *layout) {
  uint32_t queue[kMostDirectories] = {layout->ifd0};
  int queued = 1;
  for (int i = 0; i < queued; i++) {
    if (!AddDirectory(tiff, queue[i], 0, layout)) return 0;
    uint32_t count = Read16(tiff, queue[i]);
    for (uint32_t e = 0; e < count; e++) {
      TiffEntry entry;
      ReadEntry(tiff, queue[i], e, &entry);
      if (!IsDirectoryTag(entry.tag)) continue;
      if ((entry.type != kTypeLong && entry.type != kTypeDirectory) ||
          entry.count != 1 || queued == kMostDirectories)
        return 0;
      queue[queued++] = Read32(tiff, entry.value_at);
      if (entry.tag == kTagExifDirectory && layout->exif == 0)
        layout->exif = queue[queued - 1];
    }
  }
  return 1;
}

static uint64_t NextLinkAt(const Tiff *tiff, uint32_t directory) {
  return directory + 2 + (uint64_t)Read16(tiff, directory) * kEntrySize;
}

// IFD1, the thumbnail's directory, and any chained after it, with the
// pictures they point at.
static int AddChainedDirectories(const Tiff *tiff, int dropped,
                                 TiffLayout *layout) {
  uint32_t next = Read32(tiff, NextLinkAt(tiff, layout->ifd0));
  while (next != 0) {
    if (!AddDirectory(tiff, next, dropped, layout) ||
        !AddPictures(tiff, next, dropped, kTagThumbnailOffset,
                     kTagThumbnailLength, layout) ||
        !AddPictures(tiff, next, dropped, kTagStripOffsets, kTagStripByteCounts,
                     layout))
      return 0;
    next = Read32(tiff, NextLinkAt(tiff, next));
  }
  return 1;
}

static uint64_t Padded(uint64_t size) { return size + (size & 1); }

static int Overlap(const TiffRange *a, const TiffRange *b) {
  return a->start < b->end && b->start < a->end;
}

// A directory overlaps nothing else; a part dropped overlaps nothing kept.
static int PartsStandApart(const TiffLayout *layout) {
  for (int a = 0; a < layout->range_count; a++) {
    const TiffRange *range = &layout->ranges[a];
    if (!range->directory && !range->dropped) continue;
    for (int b = 0; b < layout->range_count; b++) {
      const TiffRange *other = &layout->ranges[b];
      if (b != a && Overlap(range, other) &&
          (range->directory || !other->dropped))
        return 0;
    }
  }
  return 1;
}

// The block's layout, with the chain after IFD0 dropped or kept; NULL when
// any of it can't be read safely. The caller frees the layout.
static TiffLayout *ReadLayout(const Tiff *tiff, int drop_chain) {
  TiffLayout *layout = (TiffLayout *)calloc(1, sizeof(TiffLayout));
  if (layout == NULL) return NULL;
  layout->ifd0 = Read32(tiff, 4);
  if (AddRange(layout, 0, kTiffHeaderSize, 0) &&
      AddKeptDirectories(tiff, layout) &&
      AddChainedDirectories(tiff, drop_chain, layout) &&
      PartsStandApart(layout))
    return layout;
  free(layout);
  return NULL;
}

// The end of the last kept range: whatever lies beyond it, the thumbnail
// and what no kept directory points at, is cut off.
static uint64_t KeptEnd(const TiffLayout *layout) {
  uint64_t end = 0;
  for (int i = 0; i < layout->range_count; i++)
    if (!layout->ranges[i].dropped && layout->ranges[i].end > end)
      end = layout->ranges[i].end;
  return end;
}

static void DropChain(unsigned char *data, const Tiff *tiff,
                      const TiffLayout *layout) {
  Put32(data + NextLinkAt(tiff, layout->ifd0), 0, tiff->big_endian);
  for (int i = 0; i < layout->range_count; i++) {
    const TiffRange *range = &layout->ranges[i];
    if (range->dropped)
      memset(data + range->start, 0, range->end - range->start);
  }
}

// The entry made to hold the one value in its own 4 bytes, in its own
// type's size when that can hold it (a reader may expect the size it
// wrote), else as a LONG.
static void SetNumber(unsigned char *data, const Tiff *tiff,
                      uint32_t directory, uint32_t tag, int64_t value) {
  TiffEntry entry;
  if (value <= 0 || value > UINT32_MAX ||
      !FindEntry(tiff, directory, tag, &entry))
    return;
  const IntegerType *integer = IntegerTypeOf(entry.type);
  uint32_t type =
      integer != NULL ? integer->written_as : (uint32_t)kTypeLong;
  uint64_t size = TypeSize(type);
  if (size < 4 && value >> (8 * size) != 0) {
    type = kTypeLong;
    size = 4;
  }
  unsigned char *at = data + entry.at;
  Put16(at + 2, type, tiff->big_endian);
  Put32(at + 4, 1, tiff->big_endian);
  Put32(at + 8, 0, tiff->big_endian);
  if (size == 1) at[8] = (unsigned char)value;
  if (size == 2) Put16(at + 8, (uint32_t)value, tiff->big_endian);
  if (size == 4) Put32(at + 8, (uint32_t)value, tiff->big_endian);
}

// ---- After an edit that changes the picture: only what is understood ----
// The block is written anew from this table: a tag it doesn't name is left
// out, whatever it holds. Kept are the tags that say nothing of the pixels,
// the size, positions in the frame or other bytes of the file (who made the
// photo, when, with what, where); the size tags are mended to the new size.
// Left out by not being named: the maker note (opaque; it can hold a preview
// of the whole frame, focus points and crop positions, so a crop could let
// out the part cut away), SubjectArea and SubjectLocation (positions in the
// old frame), CompressedBitsPerPixel, an XMP or print packet inside the
// block, padding, and the thumbnail's directory and pictures. The next tag
// costs a row.

enum { kIfd0, kExifIfd, kGpsIfd, kInteropIfd, kDirectoryKinds };
enum TagAction { kKeepTag, kMendWidth, kMendHeight, kFollow };

struct TagRule {
  int directory;
  uint16_t first, last;  // the tags from first to last, both included
  int action;            // kFollow + the kind of the directory pointed at
};

static const TagRule kTagRules[] = {
    {kIfd0, 0x0100, 0x0100, kMendWidth},   // ImageWidth
    {kIfd0, 0x0101, 0x0101, kMendHeight},  // ImageLength
    {kIfd0, 0x010E, 0x0110, kKeepTag},     // ImageDescription, Make, Model
    {kIfd0, 0x0112, 0x0112, kKeepTag},     // Orientation: 1 when upright
    {kIfd0, 0x011A, 0x011B, kKeepTag},     // X and YResolution
    {kIfd0, 0x0128, 0x0128, kKeepTag},     // ResolutionUnit
    {kIfd0, 0x012D, 0x012D, kKeepTag},     // TransferFunction
    {kIfd0, 0x0131, 0x0132, kKeepTag},     // Software, DateTime
    {kIfd0, 0x013B, 0x013C, kKeepTag},     // Artist, HostComputer
    {kIfd0, 0x013E, 0x013F, kKeepTag},     // WhitePoint, PrimaryChromaticities
    {kIfd0, 0x0211, 0x0211, kKeepTag},     // YCbCrCoefficients
    {kIfd0, 0x0213, 0x0214, kKeepTag},     // YCbCrPositioning, ReferenceBW
    {kIfd0, 0x4746, 0x4746, kKeepTag},     // Rating
    {kIfd0, 0x4749, 0x4749, kKeepTag},     // RatingPercent
    {kIfd0, 0x8298, 0x8298, kKeepTag},     // Copyright
    {kIfd0, 0x8769, 0x8769, kFollow + kExifIfd},
    {kIfd0, 0x8825, 0x8825, kFollow + kGpsIfd},
    {kIfd0, 0x9C9B, 0x9C9F, kKeepTag},  // XPTitle ... XPSubject
    // The exposure, as the camera took it.
    {kExifIfd, 0x829A, 0x829A, kKeepTag},  // ExposureTime
    {kExifIfd, 0x829D, 0x829D, kKeepTag},  // FNumber
    {kExifIfd, 0x8822, 0x8822, kKeepTag},  // ExposureProgram
    {kExifIfd, 0x8824, 0x8828, kKeepTag},  // SpectralSensitivity, ISO, OECF
    {kExifIfd, 0x8830, 0x8835, kKeepTag},  // the sensitivity's kinds
    {kExifIfd, 0x9000, 0x9000, kKeepTag},  // ExifVersion
    {kExifIfd, 0x9003, 0x9004, kKeepTag},  // DateTimeOriginal, ...Digitized
    {kExifIfd, 0x9010, 0x9012, kKeepTag},  // their time zones
    {kExifIfd, 0x9101, 0x9101, kKeepTag},  // ComponentsConfiguration
    {kExifIfd, 0x9201, 0x920A, kKeepTag},  // shutter ... FocalLength
    {kExifIfd, 0x9286, 0x9286, kKeepTag},  // UserComment
    {kExifIfd, 0x9290, 0x9292, kKeepTag},  // SubSecTime...
    {kExifIfd, 0x9400, 0x9405, kKeepTag},  // Temperature ... CameraElevation
    {kExifIfd, 0xA000, 0xA001, kKeepTag},  // FlashpixVersion, ColorSpace
    {kExifIfd, 0xA002, 0xA002, kMendWidth},   // PixelXDimension
    {kExifIfd, 0xA003, 0xA003, kMendHeight},  // PixelYDimension
    {kExifIfd, 0xA004, 0xA004, kKeepTag},     // RelatedSoundFile
    {kExifIfd, 0xA005, 0xA005, kFollow + kInteropIfd},
    {kExifIfd, 0xA20B, 0xA20C, kKeepTag},  // FlashEnergy, SpatialFrequency...
    {kExifIfd, 0xA20E, 0xA210, kKeepTag},  // FocalPlane resolution
    {kExifIfd, 0xA215, 0xA215, kKeepTag},  // ExposureIndex
    {kExifIfd, 0xA217, 0xA217, kKeepTag},  // SensingMethod
    {kExifIfd, 0xA300, 0xA302, kKeepTag},  // FileSource, SceneType, CFA
    {kExifIfd, 0xA401, 0xA40C, kKeepTag},  // CustomRendered ... distance
    {kExifIfd, 0xA420, 0xA420, kKeepTag},  // ImageUniqueID
    {kExifIfd, 0xA430, 0xA43C, kKeepTag},  // owner, serials, lens, title...
    {kExifIfd, 0xA460, 0xA462, kKeepTag},  // CompositeImage...
    {kExifIfd, 0xA500, 0xA500, kKeepTag},  // Gamma
    // Where the photo was taken: every GPS tag.
    {kGpsIfd, 0x0000, 0x001F, kKeepTag},
    {kInteropIfd, 0x0001, 0x0002, kKeepTag},     // InteropIndex, ...Version
    {kInteropIfd, 0x1000, 0x1000, kKeepTag},     // RelatedImageFileFormat
    {kInteropIfd, 0x1001, 0x1001, kMendWidth},   // RelatedImageWidth
    {kInteropIfd, 0x1002, 0x1002, kMendHeight},  // RelatedImageLength
};

// The rule for a tag in a directory of the kind; NULL: left out.
static const TagRule *RuleFor(int directory, uint32_t tag) {
  for (const TagRule &rule : kTagRules)
    if (rule.directory == directory && tag >= rule.first && tag <= rule.last)
      return &rule;
  return NULL;
}

// One entry of the new block: its value copied from the old block, a
// number of its own, or a pointer to a directory of the new block.
struct NewEntry {
  TiffEntry old;
  int64_t number;   // > 0: the value is this number
  int points_at;    // >= 0: the value is this directory's new offset
};

struct NewDirectory {
  uint32_t old_offset;  // 0: the block has none of this kind
  NewEntry *entries;
  int count;
  uint64_t at;  // where it lies in the new block
};

// The number an entry is mended to; 0 keeps its value.
static int64_t NumberFor(const TagRule *rule, uint32_t tag, int directory,
                         const ExifChanges *changes) {
  if (rule->action == kMendWidth) return changes->width;
  if (rule->action == kMendHeight) return changes->height;
  if (changes->upright && directory == kIfd0 && tag == kTagOrientation)
    return 1;
  return 0;
}

// The directory's entries the table keeps, each tag once and in order of
// tags, as readers expect; the directories they point at are noted in
// kinds. 0 when memory runs short.
static int PlanDirectory(const Tiff *tiff, int kind, NewDirectory *kinds,
                         const ExifChanges *changes) {
  NewDirectory *directory = &kinds[kind];
  uint32_t count = Read16(tiff, directory->old_offset);
  directory->entries = (NewEntry *)calloc(count + 1, sizeof(NewEntry));
  if (directory->entries == NULL) return 0;
  for (uint32_t i = 0; i < count; i++) {
    NewEntry entry = {{}, 0, -1};
    ReadEntry(tiff, directory->old_offset, i, &entry.old);
    const TagRule *rule = RuleFor(kind, entry.old.tag);
    if (rule == NULL) continue;  // not understood
    // Kept in order of tags, each once: the table names few.
    int at = directory->count;
    while (at > 0 && directory->entries[at - 1].old.tag > entry.old.tag) at--;
    if (at > 0 && directory->entries[at - 1].old.tag == entry.old.tag)
      continue;
    if (rule->action >= kFollow) {
      NewDirectory *target = &kinds[rule->action - kFollow];
      if (target->old_offset != 0 || entry.old.count != 1) continue;
      target->old_offset = Read32(tiff, entry.old.value_at);
      entry.points_at = rule->action - kFollow;
    } else {
      entry.number = NumberFor(rule, entry.old.tag, kind, changes);
    }
    memmove(&directory->entries[at + 1], &directory->entries[at],
            (size_t)(directory->count++ - at) * sizeof(NewEntry));
    directory->entries[at] = entry;
  }
  return 1;
}

static uint64_t DirectorySize(const NewDirectory *directory) {
  uint64_t size = 2 + (uint64_t)directory->count * kEntrySize + 4;
  for (int i = 0; i < directory->count; i++) {
    const NewEntry *entry = &directory->entries[i];
    if (entry->number <= 0 && entry->points_at < 0 &&
        entry->old.value_size > 4)
      size += Padded(entry->old.value_size);
  }
  return size;
}

// The number in its entry's own type where that holds it, else a LONG, as
// SetNumber writes it.
static void PutNumber(unsigned char *at, const NewEntry *entry,
                      int big_endian) {
  const IntegerType *integer = IntegerTypeOf(entry->old.type);
  uint32_t type = integer != NULL ? integer->written_as : (uint32_t)kTypeLong;
  uint64_t size = TypeSize(type);
  if (size < 4 && entry->number >> (8 * size) != 0) type = kTypeLong;
  Put16(at + 2, type, big_endian);
  Put32(at + 4, 1, big_endian);
  if (TypeSize(type) == 1) at[8] = (unsigned char)entry->number;
  if (TypeSize(type) == 2) Put16(at + 8, (uint32_t)entry->number, big_endian);
  if (TypeSize(type) == 4) Put32(at + 8, (uint32_t)entry->number, big_endian);
}

static void WriteDirectory(unsigned char *data, const Tiff *tiff,
                           const NewDirectory *kinds, int kind) {
  const NewDirectory *directory = &kinds[kind];
  int big = tiff->big_endian;
  uint64_t values_at =
      directory->at + 2 + (uint64_t)directory->count * kEntrySize + 4;
  Put16(data + directory->at, (uint32_t)directory->count, big);
  for (int i = 0; i < directory->count; i++) {
    const NewEntry *entry = &directory->entries[i];
    unsigned char *at = data + directory->at + 2 + (uint64_t)i * kEntrySize;
    memcpy(at, tiff->data + entry->old.at, 8);  // tag, type and count
    if (entry->points_at >= 0) {
      Put16(at + 2, kTypeLong, big);
      Put32(at + 8, (uint32_t)kinds[entry->points_at].at, big);
    } else if (entry->number > 0 && entry->number <= UINT32_MAX) {
      PutNumber(at, entry, big);
    } else if (entry->old.value_size <= 4) {
      memcpy(at + 8, tiff->data + entry->old.value_at, entry->old.value_size);
    } else {
      Put32(at + 8, (uint32_t)values_at, big);
      memcpy(data + values_at, tiff->data + entry->old.value_at,
             entry->old.value_size);
      values_at += Padded(entry->old.value_size);
    }
  }
}

// The new block, its directories in the order IFD0, Exif, GPS, Interop,
// each followed by its values. NULL when it would be larger than the old
// one: values shared by many tags would come out multiplied (and an old
// block that left values unpadded goes to the IFD0-only fallback).
static unsigned char *WriteUnderstood(const Tiff *tiff, NewDirectory *kinds,
                                      size_t *new_size) {
  uint64_t at = kTiffHeaderSize;
  for (int kind = 0; kind < kDirectoryKinds; kind++) {
    if (kinds[kind].old_offset == 0) continue;
    kinds[kind].at = at;
    at += DirectorySize(&kinds[kind]);
  }
  if (at > tiff->size) return NULL;
  unsigned char *block = (unsigned char *)calloc(1, kSignatureSize + at);
  if (block == NULL) return NULL;
  memcpy(block, kSignature, kSignatureSize);
  unsigned char *data = block + kSignatureSize;
  memcpy(data, tiff->data, 4);  // the byte order and 42
  Put32(data + 4, kTiffHeaderSize, tiff->big_endian);
  for (int kind = 0; kind < kDirectoryKinds; kind++)
    if (kinds[kind].old_offset != 0) WriteDirectory(data, tiff, kinds, kind);
  *new_size = kSignatureSize + at;
  return block;
}

// The block written anew from the table, once its layout has been read
// safely. The directories are planned in the order pointers reach them.
static unsigned char *UnderstoodExifBlock(const Tiff *tiff,
                                          const TiffLayout *layout,
                                          const ExifChanges *changes,
                                          size_t *new_size) {
  NewDirectory kinds[kDirectoryKinds] = {};
  kinds[kIfd0].old_offset = layout->ifd0;
  int planned = 1;
  for (int kind = 0; kind < kDirectoryKinds && planned; kind++)
    if (kinds[kind].old_offset != 0)
      planned = PlanDirectory(tiff, kind, kinds, changes);
  unsigned char *block =
      planned ? WriteUnderstood(tiff, kinds, new_size) : NULL;
  for (NewDirectory &directory : kinds) free(directory.entries);
  return block;
}

// Read from IFD0 alone, so that a block whose other parts can't be read
// still tells how to show the picture: what can't go whole carries IFD0.
int ExifOrientation(const unsigned char *block, size_t size) {
  Tiff tiff;
  uint32_t count;
  TiffEntry entry;
  if (block == NULL || !OpenTiff(block, size, &tiff)) return 0;
  uint32_t ifd0 = Read32(&tiff, 4);
  if (!DirectoryInside(&tiff, ifd0, &count) ||
      !FindEntry(&tiff, ifd0, kTagOrientation, &entry) || entry.count != 1)
    return 0;
  int64_t orientation = EntryNumber(&tiff, &entry, 0);
  return orientation >= 1 && orientation <= 8 ? (int)orientation : 0;
}

int ExifBlockReadable(const unsigned char *block, size_t size) {
  Tiff tiff;
  if (block == NULL || !OpenTiff(block, size, &tiff)) return 0;
  TiffLayout *layout = ReadLayout(&tiff, 0);
  free(layout);
  return layout != NULL;
}

unsigned char *EditExifBlock(const unsigned char *block, size_t size,
                             const ExifChanges *changes, size_t *new_size) {
  Tiff tiff;
  if (block == NULL || !OpenTiff(block, size, &tiff)) return NULL;
  TiffLayout *layout =
      ReadLayout(&tiff, changes->drop_thumbnail || changes->picture_changed);
  if (layout != NULL && changes->picture_changed) {
    unsigned char *block =
        UnderstoodExifBlock(&tiff, layout, changes, new_size);
    free(layout);
    return block;
  }
  unsigned char *copy = layout != NULL ? (unsigned char *)malloc(size) : NULL;
  if (copy == NULL) {
    free(layout);
    return NULL;
  }
  memcpy(copy, block, size);
  unsigned char *data = copy + kSignatureSize;
  *new_size = size;
  if (changes->drop_thumbnail) {
    DropChain(data, &tiff, layout);
    *new_size = kSignatureSize + KeptEnd(layout);
  }
  if (layout->exif != 0) {
    SetNumber(data, &tiff, layout->exif, kTagPixelXDimension, changes->width);
    SetNumber(data, &tiff, layout->exif, kTagPixelYDimension, changes->height);
  }
  if (changes->upright)
    SetNumber(data, &tiff, layout->ifd0, kTagOrientation, 1);
  free(layout);
  return copy;
}

// IFD0's tags that hold values of their own, in the order a directory
// lists them: none points into the block, nor describes pixels the edits
// change.
static const uint32_t kPlainIfd0Tags[] = {
    kTagImageDescription, kTagMake, kTagModel, kTagOrientation,
    kTagXResolution, kTagYResolution, kTagResolutionUnit,
    kTagTransferFunction, kTagSoftware, kTagDateTime, kTagArtist,
    kTagWhitePoint, kTagPrimaryChromaticities, kTagYCbCrCoefficients,
    kTagYCbCrPositioning, kTagReferenceBlackWhite, kTagCopyright};
enum { kPlainIfd0TagCount = sizeof kPlainIfd0Tags / sizeof kPlainIfd0Tags[0] };

// The new block: header, IFD0 with the entries and no next directory, then
// the values that don't fit in them.
static unsigned char *WriteIfd0Block(const Tiff *tiff, const TiffEntry *kept,
                                     int count, size_t *new_size) {
  uint64_t values_at = kTiffHeaderSize + 2 + (uint64_t)count * kEntrySize + 4;
  uint64_t size = kSignatureSize + values_at;
  for (int i = 0; i < count; i++)
    if (kept[i].value_size > 4) size += Padded(kept[i].value_size);
  unsigned char *block = (unsigned char *)calloc(1, size);
  if (block == NULL) return NULL;
  memcpy(block, kSignature, kSignatureSize);
  unsigned char *data = block + kSignatureSize;
  memcpy(data, tiff->data, 4);  // the byte order and 42
  Put32(data + 4, kTiffHeaderSize, tiff->big_endian);
  Put16(data + kTiffHeaderSize, (uint32_t)count, tiff->big_endian);
  for (int i = 0; i < count; i++) {
    unsigned char *entry = data + kTiffHeaderSize + 2 + i * kEntrySize;
    memcpy(entry, tiff->data + kept[i].at, 8);  // tag, type and count
    const unsigned char *value = tiff->data + kept[i].value_at;
    if (kept[i].value_size <= 4) {
      memcpy(entry + 8, value, kept[i].value_size);
      continue;
    }
    Put32(entry + 8, (uint32_t)values_at, tiff->big_endian);
    memcpy(data + values_at, value, kept[i].value_size);
    values_at += Padded(kept[i].value_size);
  }
  *new_size = size;
  return block;
}

unsigned char *Ifd0ExifBlock(const unsigned char *block, size_t size,
                             size_t *new_size) {
  Tiff tiff;
  uint32_t count;
  if (block == NULL || !OpenTiff(block, size, &tiff)) return NULL;
  uint32_t ifd0 = Read32(&tiff, 4);
  if (!DirectoryInside(&tiff, ifd0, &count)) return NULL;
  TiffEntry kept[kPlainIfd0TagCount];
  int kept_count = 0;
  for (uint32_t tag : kPlainIfd0Tags)
    if (FindEntry(&tiff, ifd0, tag, &kept[kept_count]) &&
        kept[kept_count].type != kTypeDirectory)  // a pointer all the same
      kept_count++;
  return kept_count > 0 ? WriteIfd0Block(&tiff, kept, kept_count, new_size)
                        : NULL;
}

// One IFD0 entry of one value: a SHORT held in the entry itself, or the
// offset of a RATIONAL's eight bytes.
static unsigned char *PutEntry(unsigned char *entry, uint32_t tag,
                               uint32_t type, uint32_t value) {
  Put16(entry, tag, 1);
  Put16(entry + 2, type, 1);
  Put32(entry + 4, 1, 1);
  if (type == kTypeShort)
    Put16(entry + 8, value, 1);
  else
    Put32(entry + 8, value, 1);
  return entry + kEntrySize;
}

unsigned char *OrientationOnlyExifBlock(int orientation, uint32_t dpi_x,
                                        uint32_t dpi_y, size_t *size) {
  if (orientation < 2 || orientation > 8) return NULL;
  // Signature, "MM" TIFF header, IFD0 with the tags readers require beside
  // the orientation and no next IFD, then the two resolutions' values.
  enum { kEntries = 5 };
  const uint32_t kValuesAt = kTiffHeaderSize + 2 + kEntries * kEntrySize + 4;
  const size_t kSize = kSignatureSize + kValuesAt + 2 * 8;
  unsigned char *block = (unsigned char *)calloc(1, kSize);
  if (block == NULL) return NULL;
  unsigned char *tiff = block + kSignatureSize;
  memcpy(block, kSignature, kSignatureSize);
  memcpy(tiff, "MM", 2);
  Put16(tiff + 2, 42, 1);
  Put32(tiff + 4, kTiffHeaderSize, 1);
  unsigned char *entry = tiff + kTiffHeaderSize;
  Put16(entry, kEntries, 1);
  entry = PutEntry(entry + 2, kTagOrientation, kTypeShort,
                   (uint32_t)orientation);
  entry = PutEntry(entry, kTagXResolution, kTypeRational, kValuesAt);
  entry = PutEntry(entry, kTagYResolution, kTypeRational, kValuesAt + 8);
  entry = PutEntry(entry, kTagResolutionUnit, kTypeShort, 2);  // inches
  PutEntry(entry, kTagYCbCrPositioning, kTypeShort, 1);        // centred
  Put32(tiff + kValuesAt, dpi_x > 0 ? dpi_x : 72, 1);
  Put32(tiff + kValuesAt + 4, 1, 1);
  Put32(tiff + kValuesAt + 8, dpi_y > 0 ? dpi_y : 72, 1);
  Put32(tiff + kValuesAt + 12, 1, 1);
  *size = kSize;
  return block;
}
