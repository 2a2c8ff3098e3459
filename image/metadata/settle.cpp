// The one rule for what becomes of a photo's metadata at a save, as a table
// of the forms it takes: what the edits made untrue is mended or left out,
// whatever points at bytes that aren't written goes, and -strip leaves out
// what may be private. The reading of a JPEG or PNG, the re-encoding and the
// lossless transform all follow it; the next form costs a row.
#include <stdlib.h>
#include <string.h>

#include "image/containers/header_fields.h"
#include "image/containers/png_chunks.h"
#include "image/metadata/exif_block.h"
#include "image/metadata/names.h"
#include "image/metadata/record.h"
#include "image/metadata/xmp_packet.h"
#include "lib/byteorder.h"

struct SettleState {
  const MetadataChanges *changes;
  int orientation;   // the one the picture has now
  int profile_fits;  // the profile's chunks make one, for these pixels
};

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

static int MendExif(MetadataSegment *s, const SettleState *state) {
  const MetadataChanges *changes = state->changes;
  int orientation = state->orientation;
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

static int MendXmp(MetadataSegment *s, const SettleState *state) {
  const MetadataChanges *changes = state->changes;
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

// The chunks of an ICC profile go together, or not at all.
static int MendProfile(MetadataSegment *s, const SettleState *state) {
  return state->profile_fits && s->size > sizeof kProfileName + 2;
}

// Photoshop's resources after an edit: only what is understood and still
// true is kept, IPTC and what describes it; thumbnails (0x0409, 0x040C),
// paths, slices, grids, EXIF and XMP copies and the rest go.
static int ResourceOutlivesEdit(uint32_t id) {
  return id == 0x0404      // IPTC
         || id == 0x0425   // the digest of the IPTC, which is unchanged
         || id == 0x040A   // the copyright flag
         || id == 0x040B;  // the URL
}

// The segment's resources that outlive an edit, behind its name, as a new
// heap block; NULL when none does, or the list can't be read to its end.
// Each resource: "8BIM", its 16-bit id, its name (a length byte and the
// text, padded to an even size), its 32-bit size and its data (padded).
static unsigned char *KeptResources(const unsigned char *bytes, size_t size,
                                    size_t *kept_size) {
  const size_t head = sizeof kPhotoshopName;
  if (!BeginsWith(bytes, size, kPhotoshopName, head)) return NULL;
  unsigned char *kept = (unsigned char *)malloc(size);
  if (kept == NULL) return NULL;
  memcpy(kept, bytes, head);
  size_t at = head, used = head;
  while (at < size) {
    size_t left = size - at;
    if (left < 7 || memcmp(bytes + at, "8BIM", 4) != 0) break;
    size_t name = (1 + (size_t)bytes[at + 6] + 1) & ~(size_t)1;
    if (left < 6 + name + 4) break;
    uint32_t data = Big32(bytes + at + 6 + name);
    size_t whole = 6 + name + 4 + (((size_t)data + 1) & ~(size_t)1);
    if (data > left || whole > left) break;
    if (ResourceOutlivesEdit(Big16(bytes + at + 4))) {
      memcpy(kept + used, bytes + at, whole);
      used += whole;
    }
    at += whole;
  }
  if (at != size || used == head) {
    free(kept);
    return NULL;
  }
  *kept_size = used;
  return kept;
}

// A PNG's raw-profile copy of the resources is hex text, not read: it
// goes with the edit.
static int MendPhotoshop(MetadataSegment *s, const SettleState *) {
  if (s->kind != kMetadataIptc) return 0;
  size_t size = 0;
  unsigned char *kept = KeptResources(s->bytes, s->size, &size);
  return Replaced(s, kept, size);
}

// ---- The table of forms ----

enum Fate { kKept, kMended, kLeftOut };

typedef int (*Mend)(MetadataSegment *segment, const SettleState *state);

enum {
  kAnyApp = 1,   // as a JPEG marker: any APPn the rows above didn't take
  kAnyText = 1,  // as a PNG chunk: tEXt, zTXt or iTXt
};

// A form of metadata: how it is recognised in a JPEG (its marker, and the
// bytes its payload begins with) and in a PNG (its chunk, and for text the
// keywords, "|" between them: "x*" any that begins with x), how a JPEG's
// record holds it, and what a plain save, an edit and -strip do with it.
// Only the first of a form marked first_only stays: a second would keep
// what the first loses.
struct MetadataForm {
  const char *name;
  int marker;  // 0: none in a JPEG
  const void *opening;
  size_t opening_size;
  uint32_t chunk;  // 0: none in a PNG
  const char *keywords;
  MetadataKind kind;
  Fate plain, edit, strip;
  Mend mend;
  int first_only;
};

static const char kPhotoshopKeywords[] =
    "Raw profile type 8bim|Raw profile type iptc";
static const char kCopyKeywords[] =
    "Raw profile type exif|Raw profile type APP1|Raw profile type xmp|exif:*";
static const char kRegisteredKeywords[] =
    "Title|Author|Description|Copyright|Creation Time|Software|Disclaimer|"
    "Warning|Source";

// The first row that fits a segment is its form. The JFIF and Adobe
// segments are the picture's, a PNG's iCCP is written from the picture's
// profile, and any chunk not named here is not carried.
static const MetadataForm kForms[] = {
    {"EXIF", kJpegApp1, kExifName, sizeof kExifName, kPngExif, NULL,
     kMetadataExif, kMended, kMended, kMended, MendExif, 1},
    {"XMP", kJpegApp1, kXmpName, sizeof kXmpName, kPngInternationalText,
     kPngXmpKeyword, kMetadataXmp, kMended, kMended, kLeftOut, MendXmp, 1},
    {"XMP too large to read", 0, NULL, 0, kAnyText, kPngXmpKeyword,
     kMetadataPngText, kKept, kLeftOut, kLeftOut, NULL, 0},
    {"extended XMP", kJpegApp1, kXmpExtensionName, sizeof kXmpExtensionName,
     0, NULL, kMetadataXmpExtension, kKept, kLeftOut, kLeftOut, NULL, 0},
    {"ICC profile", kJpegApp2, kProfileName, sizeof kProfileName, 0, NULL,
     kMetadataProfile, kMended, kMended, kMended, MendProfile, 0},
    {"MPF index", kJpegApp2, kMpfName, sizeof kMpfName, 0, NULL,
     kMetadataOtherApp, kLeftOut, kLeftOut, kLeftOut, NULL, 0},
    {"JUMBF, content credentials", kJpegApp0 + 11, kJumbfName,
     sizeof kJumbfName - 1, 0, NULL, kMetadataOtherApp, kLeftOut, kLeftOut,
     kLeftOut, NULL, 0},
    {"Photoshop resources, IPTC", kJpegApp13, kPhotoshopName,
     sizeof kPhotoshopName, kAnyText, kPhotoshopKeywords, kMetadataIptc,
     kKept, kMended, kLeftOut, MendPhotoshop, 0},
    {"EXIF or XMP copied as text", 0, NULL, 0, kAnyText, kCopyKeywords,
     kMetadataPngText, kKept, kLeftOut, kLeftOut, NULL, 0},
    {"other raw profiles", 0, NULL, 0, kAnyText, "Raw profile type *",
     kMetadataPngText, kKept, kLeftOut, kLeftOut, NULL, 0},
    {"JFIF thumbnail", kJpegApp0, kJfxxName, sizeof kJfxxName, 0, NULL,
     kMetadataOtherApp, kKept, kLeftOut, kLeftOut, NULL, 0},
    {"comment", kJpegComment, NULL, 0, kAnyText, "Comment", kMetadataComment,
     kKept, kKept, kLeftOut, NULL, 0},
    {"text of the registered keywords", 0, NULL, 0, kAnyText,
     kRegisteredKeywords, kMetadataPngText, kKept, kKept, kLeftOut, NULL, 0},
    {"other APPn", kAnyApp, NULL, 0, 0, NULL, kMetadataOtherApp, kKept,
     kLeftOut, kLeftOut, NULL, 0},
    {"text of other keywords", 0, NULL, 0, kAnyText, "*", kMetadataPngText,
     kKept, kLeftOut, kLeftOut, NULL, 0},
};
enum { kFormCount = sizeof kForms / sizeof kForms[0] };

int JpegMetadataForm(int marker, const unsigned char *payload, size_t size) {
  int app = marker >= kJpegApp0 && marker <= kJpegApp15;
  for (int i = 0; i < kFormCount; i++) {
    const MetadataForm *form = &kForms[i];
    if ((form->marker == marker || (form->marker == kAnyApp && app)) &&
        (form->opening == NULL ||
         BeginsWith(payload, size, form->opening, form->opening_size)))
      return i;
  }
  return -1;
}

// Whether the text's keyword, ended by its NUL, is one of the list's.
static int KeywordListed(const unsigned char *text, size_t size,
                         const char *list) {
  while (*list != 0) {
    size_t length = strcspn(list, "|");
    if (length > 0 && list[length - 1] == '*') {
      if (BeginsWith(text, size, list, length - 1)) return 1;
    } else if (size > length && memcmp(text, list, length) == 0 &&
               text[length] == 0) {
      return 1;
    }
    list += list[length] != 0 ? length + 1 : length;
  }
  return 0;
}

int PngMetadataForm(uint32_t type, const unsigned char *data, size_t size,
                    int first) {
  int text = type == kPngText || type == kPngCompressedText ||
             type == kPngInternationalText;
  // A text without a keyword is no valid chunk, and writers refuse it.
  if (text && (size == 0 || data[0] == 0)) return -1;
  for (int i = first; i < kFormCount; i++) {
    const MetadataForm *form = &kForms[i];
    int chunk = form->chunk == kAnyText ? text
                : form->chunk != 0      ? form->chunk == type
                                        : 0;
    if (chunk && (form->keywords == NULL ||
                  KeywordListed(data, size, form->keywords)))
      return i;
  }
  return -1;
}

MetadataKind MetadataFormKind(int form, ImageFormat format) {
  MetadataKind kind = kForms[form].kind;
  if (format == kFormatJpeg || kind == kMetadataExif || kind == kMetadataXmp)
    return kind;
  return kMetadataPngText;
}

static Fate FateOf(const MetadataForm *form, const MetadataChanges *changes) {
  if (changes->strip) return form->strip;
  if (changes->geometry || changes->upright) return form->edit;
  return form->plain;
}

static int ProfileFitsPicture(const PhotoMetadata *metadata, int components) {
  size_t size = 0;
  unsigned char *profile = MetadataProfile(metadata, &size);
  int fits = profile != NULL && ProfileLooksWhole(profile, size) &&
             ProfileSuits(profile, size, components);
  free(profile);
  return fits;
}

MetadataChanges MetadataChangesFor(const PhotoMetadata *metadata,
                                   const EditsDone *done) {
  MetadataChanges changes = {};
  changes.upright = done->upright && MetadataOrientation(metadata) > 1;
  changes.geometry = done->moved || changes.upright;
  changes.width = done->width;
  changes.height = done->height;
  changes.strip = done->strip;
  changes.dpi_x = done->dpi_x;
  changes.dpi_y = done->dpi_y;
  changes.most_exif = LargestExifBlock(done->output);
  changes.components = done->components;
  return changes;
}

void SettleMetadata(PhotoMetadata *metadata, const MetadataChanges *changes) {
  SettleState state = {changes,
                       changes->upright ? 1 : MetadataOrientation(metadata),
                       ProfileFitsPicture(metadata, changes->components)};
  int seen[kFormCount] = {};
  int kept = 0;
  for (int i = 0; i < metadata->count; i++) {
    MetadataSegment *s = &metadata->segments[i];
    const MetadataForm *form = &kForms[s->form];
    Fate fate = FateOf(form, changes);
    if (form->first_only && seen[s->form]++) fate = kLeftOut;
    int stays = fate == kKept || (fate == kMended && form->mend(s, &state));
    if (stays)
      metadata->segments[kept++] = *s;
    else
      free(s->bytes);
  }
  metadata->count = kept;
}
