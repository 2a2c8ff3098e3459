// The one rule for what becomes of a photo's metadata at a save: what the
// edits made untrue is mended or left out, and -strip leaves out what may be
// private. The re-encoding and the lossless transform both follow it.
#include <stdlib.h>
#include <string.h>

#include "image/metadata/exif_block.h"
#include "image/metadata/names.h"
#include "image/metadata/record.h"
#include "image/metadata/xmp_packet.h"

static int KeywordIs(const MetadataSegment *segment, const char *keyword) {
  return BeginsWith(segment->bytes, segment->size, keyword,
                    strlen(keyword) + 1);
}

static int KeywordBegins(const MetadataSegment *segment, const char *start) {
  return BeginsWith(segment->bytes, segment->size, start, strlen(start));
}

// PNG text that holds EXIF, XMP or IPTC under another name, as some tools
// write it: as private as the blocks themselves.
static int HoldsPrivateBlock(const MetadataSegment *segment) {
  return KeywordBegins(segment, kPngRawProfileKeyword) ||
         KeywordBegins(segment, kPngExifTagKeyword) ||
         KeywordIs(segment, kPngXmpKeyword);
}

// PNG text that repeats what the EXIF or XMP says of the picture's size or
// orientation, in a form not mended here: a raw profile of EXIF or XMP,
// EXIF tags one by one, or XMP too large to inflate.
static int RepeatsGeometry(const MetadataSegment *segment) {
  static const char *const kCopies[] = {"Raw profile type exif",
                                        "Raw profile type APP1",
                                        "Raw profile type xmp", kPngXmpKeyword};
  for (const char *copy : kCopies)
    if (KeywordIs(segment, copy)) return 1;
  return KeywordBegins(segment, kPngExifTagKeyword);
}

// A JFIF extension holds a thumbnail of its own.
static int IsJfifThumbnail(const MetadataSegment *segment) {
  return segment->tag == kJpegApp0 &&
         BeginsWith(segment->bytes, segment->size, kJfxxName, 5);
}

// The segment's bytes replaced by mended ones; 0 (to leave it out) for NULL.
static int Replaced(MetadataSegment *segment, unsigned char *mended,
                    size_t size) {
  if (mended == NULL) return 0;
  free(segment->bytes);
  segment->bytes = mended;
  segment->size = size;
  return 1;
}

static int Fits(size_t size, const MetadataChanges *changes) {
  return changes->most_exif == 0 || size <= changes->most_exif;
}

// The block, or what goes in its place where it can't go whole: it can't
// be mended safely, or the output can't hold it. Tried in turn: the block
// mended, then without its thumbnail, then IFD0's plain tags alone, then the
// orientation alone, as -strip keeps it: a plain save is never less
// truthful than -strip. NULL when none is left.
static unsigned char *MendedExif(const MetadataSegment *s,
                                 const MetadataChanges *changes,
                                 ExifChanges exif, int orientation,
                                 size_t *size) {
  for (int drop = exif.drop_thumbnail; drop <= 1; drop++) {
    exif.drop_thumbnail = drop;
    unsigned char *mended = EditExifBlock(s->bytes, s->size, &exif, size);
    if (mended != NULL && Fits(*size, changes)) return mended;
    free(mended);
  }
  size_t ifd0_size = 0;
  unsigned char *ifd0 = Ifd0ExifBlock(s->bytes, s->size, &ifd0_size);
  unsigned char *mended =
      ifd0 != NULL ? EditExifBlock(ifd0, ifd0_size, &exif, size) : NULL;
  free(ifd0);
  if (mended != NULL && Fits(*size, changes)) return mended;
  free(mended);
  return OrientationOnlyExifBlock(orientation, changes->dpi_x, changes->dpi_y,
                                  size);
}

static int SettleExif(MetadataSegment *s, const MetadataChanges *changes,
                      int orientation) {
  size_t size = 0;
  unsigned char *mended = NULL;
  if (changes->strip) {
    mended = OrientationOnlyExifBlock(orientation, changes->dpi_x,
                                      changes->dpi_y, &size);
    return Replaced(s, mended, size);
  }
  // With nothing to mend, a block that fits goes on unread.
  if (!changes->geometry && !changes->upright && Fits(s->size, changes))
    return 1;
  ExifChanges exif = {};
  if (changes->geometry) {
    exif.width = changes->width;
    exif.height = changes->height;
    exif.drop_thumbnail = 1;
  }
  exif.upright = changes->upright;
  exif.picture_changed = changes->geometry || changes->upright;
  mended = MendedExif(s, changes, exif, orientation, &size);
  return Replaced(s, mended, size);
}

static int SettleXmp(MetadataSegment *s, const MetadataChanges *changes) {
  if (changes->strip) return 0;
  XmpChanges xmp = {};
  if (changes->geometry) {
    xmp.width = changes->width;
    xmp.height = changes->height;
  }
  xmp.upright = changes->upright;
  // The extension is left out with the edit.
  xmp.drop_extension = changes->geometry || changes->upright;
  xmp.picture_changed = changes->geometry || changes->upright;
  xmp.drop_trailer_pointers = 1;  // bytes after the JPEG's end never go
  size_t size = 0;
  unsigned char *mended = MendXmpPacket(s->bytes, s->size, &xmp, &size);
  return Replaced(s, mended, size);
}

// Whether the segment stays, mended as the changes say.
struct SettleState {
  const MetadataChanges *changes;
  int orientation;  // the one the picture has now
  int exif_seen, xmp_seen;
};

static int Kept(MetadataSegment *s, SettleState *state) {
  const MetadataChanges *changes = state->changes;
  switch (s->kind) {
    case kMetadataExif:
      if (state->exif_seen++) return 0;
      return SettleExif(s, changes, state->orientation);
    case kMetadataXmp:
      if (state->xmp_seen++) return 0;
      return SettleXmp(s, changes);
    case kMetadataXmpExtension:
      return !changes->strip && !changes->geometry && !changes->upright;
    case kMetadataIptc:
      return !changes->strip;
    case kMetadataOtherApp:
      return !changes->strip && !(changes->geometry && IsJfifThumbnail(s));
    case kMetadataPngText:
      if (changes->strip && HoldsPrivateBlock(s)) return 0;
      return !(changes->geometry || changes->upright) || !RepeatsGeometry(s);
    default:  // the profile and comments
      return 1;
  }
}

void SettleMetadata(PhotoMetadata *metadata, const MetadataChanges *changes) {
  SettleState state = {changes,
                       changes->upright ? 1 : MetadataOrientation(metadata), 0,
                       0};
  int kept = 0;
  for (int i = 0; i < metadata->count; i++) {
    MetadataSegment *s = &metadata->segments[i];
    if (Kept(s, &state))
      metadata->segments[kept++] = *s;
    else
      free(s->bytes);
  }
  metadata->count = kept;
}
