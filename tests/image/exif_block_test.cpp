// The EXIF block mended after a geometry edit: the new size, no thumbnail,
// the orientation when asked; and no block, rather than a broken one, when
// it can't be read safely.
#include "image/metadata/exif_block.h"

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>

#include "tests/exif_blocks.h"
#include "tests/temp_folder.h"
#include "tools/test_images.h"

namespace {

// The mended copy, or "<none>". The block is read from heap bytes of its
// own size, so that the sanitizers see any read past them.
std::string Edited(const std::string &block, const ExifChanges &changes) {
  unsigned char *own = (unsigned char *)malloc(block.size());
  memcpy(own, block.data(), block.size());
  size_t size = 0;
  unsigned char *edited = EditExifBlock(own, block.size(), &changes, &size);
  free(own);
  if (edited == nullptr) return "<none>";
  std::string out((const char *)edited, size);
  free(edited);
  return out;
}

int OrientationOf(const std::string &block) {
  unsigned char *own = (unsigned char *)malloc(block.size());
  memcpy(own, block.data(), block.size());
  int orientation = ExifOrientation(own, block.size());
  free(own);
  return orientation;
}

// A JPEG that carries block, and the tag of the parsed EXIF as the library
// reads it back from that file.
class CarriedBlock {
 public:
  CarriedBlock(const TempFolder &folder, const std::string &block)
      : path_(folder.Path("carrier.jpg")) {
    FIBITMAP *scene = MakeSceneImage(32, 24, 24);
    AttachExifBlock(scene, block);
    FreeImage_Save(FIF_JPEG, scene, path_.c_str(), 90);
    FreeImage_Unload(scene);
    loaded_ = FreeImage_Load(FIF_JPEG, path_.c_str(), 0);
  }
  ~CarriedBlock() { FreeImage_Unload(loaded_); }

  std::string Tag(FREE_IMAGE_MDMODEL model, const char *key) {
    FITAG *tag = nullptr;
    if (!FreeImage_GetMetadata(model, loaded_, key, &tag)) return "<none>";
    return FreeImage_TagToString(model, tag);
  }

  std::string Findings() { return ExiftoolFindings(path_); }

 private:
  std::string path_;
  FIBITMAP *loaded_;
};

// IFD0's plain tags alone, or "<none>".
std::string Ifd0Only(const std::string &block) {
  unsigned char *own = (unsigned char *)malloc(block.size());
  memcpy(own, block.data(), block.size());
  size_t size = 0;
  unsigned char *ifd0 = Ifd0ExifBlock(own, block.size(), &size);
  free(own);
  if (ifd0 == nullptr) return "<none>";
  std::string out((const char *)ifd0, size);
  free(ifd0);
  return out;
}

const ExifChanges kGeometryChanged = {120, 90, 1, 0, 0};

TEST(ExifBlock, MendedBlocksTellTheNewGeometryInEitherByteOrder) {
  TempFolder folder;
  std::string thumbnail = SmallJpeg();
  for (bool big_endian : {false, true}) {
    SCOPED_TRACE(big_endian ? "big-endian" : "little-endian");
    ExifPlaces places;
    std::string block =
        ExifBlockMaker(big_endian).Camera(640, 480, 6, thumbnail, &places);
    ASSERT_EQ("OK", CarriedBlock(folder, block).Findings());

    ExifChanges upright = kGeometryChanged;
    upright.upright = 1;
    std::string mended = Edited(block, upright);
    // Cut where the thumbnail's directory began: nothing of it remains.
    EXPECT_EQ(places.ifd1, mended.size());
    EXPECT_EQ(std::string::npos, mended.find(ThumbnailTail(thumbnail)));
    EXPECT_EQ(1, OrientationOf(mended));
    CarriedBlock carried(folder, mended);
    EXPECT_EQ("OK", carried.Findings());
    EXPECT_EQ("120", carried.Tag(FIMD_EXIF_EXIF, "PixelXDimension"));
    EXPECT_EQ("90", carried.Tag(FIMD_EXIF_EXIF, "PixelYDimension"));
    EXPECT_EQ("Orvane test", carried.Tag(FIMD_EXIF_MAIN, "Make"));

    // Without an upright picture the orientation stays; without a new
    // geometry the thumbnail does.
    EXPECT_EQ(6, OrientationOf(Edited(block, kGeometryChanged)));
    std::string kept = Edited(block, ExifChanges{0, 0, 0, 1, 0});
    EXPECT_EQ(block.size(), kept.size());
    EXPECT_NE(std::string::npos, kept.find(thumbnail));
    EXPECT_EQ(1, OrientationOf(kept));
  }
}

// After an edit that changes the picture, each tag as the table says:
// kept, mended to the new size, or left out; read back by the library.
TEST(ExifBlock, AfterAnEditOnlyWhatIsUnderstoodStays) {
  const char *const kLeftOut = "<none>";
  struct Row {
    FREE_IMAGE_MDMODEL model;
    const char *key, *after;
  } rows[] = {
      {FIMD_EXIF_MAIN, "Make", "Orvane test"},
      {FIMD_EXIF_MAIN, "Orientation", "top, left side"},
      {FIMD_EXIF_MAIN, "ImageWidth", "120"},
      {FIMD_EXIF_MAIN, "ImageLength", "90"},
      {FIMD_EXIF_MAIN, "XMLPacket", kLeftOut},
      {FIMD_EXIF_EXIF, "ExposureTime", "1/200 sec"},
      {FIMD_EXIF_EXIF, "PixelXDimension", "120"},
      {FIMD_EXIF_EXIF, "PixelYDimension", "90"},
      {FIMD_EXIF_EXIF, "SubjectArea", kLeftOut},
      {FIMD_EXIF_EXIF, "SubjectLocation", kLeftOut},
      {FIMD_EXIF_EXIF, "MakerNote", kLeftOut},
      {FIMD_EXIF_INTEROP, "InteroperabilityIndex", "R98"},
      {FIMD_EXIF_INTEROP, "RelatedImageWidth", "120"},
      {FIMD_EXIF_INTEROP, "RelatedImageLength", "90"},
      {FIMD_EXIF_GPS, "GPSLatitudeRef", "N"},
  };
  TempFolder folder;
  for (bool big_endian : {false, true}) {
    SCOPED_TRACE(big_endian ? "MM" : "II");
    ExifBlockMaker m(big_endian);
    std::string block = m.Tree(
        {m.Short(0x0100, 640), m.Long(0x0101, 480), m.Text(0x010F, "Orvane test"),
         m.Short(0x0112, 6), m.Bytes(0x02BC, "<x:xmpmeta/>")},
        {{0x829A, 5, 1, m.Number(1, 4) + m.Number(200, 4)},
         m.Long(0xA002, 640), m.Long(0xA003, 480),
         {0x9214, 3, 4, m.Number(320, 2) + m.Number(240, 2) +
                        m.Number(40, 2) + m.Number(30, 2)},
         {0xA214, 3, 2, m.Number(320, 2) + m.Number(240, 2)},
         m.Bytes(0x927C, "Orvane\0" + SmallJpeg())},
        {m.Text(0x0001, "R98"), m.Short(0x1001, 640), m.Short(0x1002, 480)},
        {m.Text(0x0001, "N")});
    ExifChanges edit = kGeometryChanged;
    edit.upright = edit.picture_changed = 1;
    std::string edited = Edited(block, edit);
    EXPECT_EQ(std::string::npos, edited.find(ThumbnailTail(SmallJpeg())));
    EXPECT_GT(block.size(), edited.size());
    // exiftool finds no fault the block didn't have.
    std::string before = CarriedBlock(folder, block).Findings();
    CarriedBlock carried(folder, edited);
    std::string after = carried.Findings();
    for (size_t at = after.find('\n'); at < after.size() - 1;
         at = after.find('\n', at + 1))
      EXPECT_NE(std::string::npos,
                before.find(after.substr(at, after.find('\n', at + 1) - at)));
    for (const Row &row : rows)
      EXPECT_EQ(row.after, carried.Tag(row.model, row.key)) << row.key;
    // A plain save keeps the maker note as it is.
    EXPECT_EQ(block, Edited(block, ExifChanges{0, 0, 0, 0, 0}));
  }
}

TEST(ExifBlock, OrientationIsOneToEightOrNone) {
  std::string thumbnail = SmallJpeg();
  ExifPlaces places;
  for (bool big_endian : {false, true}) {
    ExifBlockMaker maker(big_endian);
    for (int orientation = 0; orientation <= 9; orientation++) {
      std::string block =
          maker.Camera(64, 48, orientation, thumbnail, &places);
      EXPECT_EQ(orientation <= 8 ? orientation : 0, OrientationOf(block))
          << orientation;
    }
  }
  EXPECT_EQ(0, ExifOrientation(nullptr, 0));
}

// What a damaged block becomes: mended whole; where it can't be, IFD0's
// plain tags alone, its orientation with them; nothing when IFD0 can't be
// read.
enum Outcome { kMended, kIfd0Only, kRefused };

// A block's bytes, changed by a case of damage.
typedef std::function<void(std::string *block, const ExifPlaces &places,
                           const ExifBlockMaker &maker)>
    Damage;

void Put(std::string *block, size_t at, const std::string &bytes) {
  block->replace(at, bytes.size(), bytes);
}

// The place of the n-th entry of the directory at directory, and of its
// value field.
size_t EntryAt(size_t directory, int n) { return directory + 2 + 12 * n; }
size_t ValueAt(size_t directory, int n) { return EntryAt(directory, n) + 8; }

// Offsets inside the TIFF structure count from its start, 6 bytes in.
uint32_t Tiff(size_t place) { return (uint32_t)(place - 6); }

// Damage that writes value, of bytes bytes, at a place in block b whose
// parts lie at places p.
#define WRITE(at, value, bytes)                                        \
  [](std::string *b, const ExifPlaces &p, const ExifBlockMaker &m) { \
    (void)p;                                                           \
    Put(b, (at), m.Number((value), (bytes)));                          \
  }

// IFD0's entries, sorted: Make, Orientation, XResolution, YResolution,
// ResolutionUnit, YCbCrPositioning, the Exif pointer; then the link to
// IFD1. IFD1's: Compression, XResolution, YResolution, ResolutionUnit, the
// thumbnail's offset and its length.
TEST(ExifBlock, DamagedBlocksAreMendedWholeOrNotAtAll) {
  struct Case {
    const char *what;
    Damage damage;
    Outcome outcome;
  } cases[] = {
      {"no damage",
       [](std::string *, const ExifPlaces &, const ExifBlockMaker &) {},
       kMended},
      {"another signature", WRITE(5, 1, 1), kRefused},
      {"no byte order", WRITE(6, 0x4D49, 2), kRefused},
      {"not TIFF", WRITE(8, 43, 2), kRefused},
      {"IFD0 past the end", WRITE(10, Tiff(b->size()), 4), kRefused},
      {"IFD0 over the header", WRITE(10, 2, 4), kRefused},
      {"IFD0 with too many entries", WRITE(p.ifd0, 0xFFFF, 2), kRefused},
      {"a value past the end", WRITE(ValueAt(p.ifd0, 0), 0xFFFFFFF0, 4),
       kIfd0Only},
      {"a huge count", WRITE(EntryAt(p.ifd0, 0) + 4, ~0u, 4), kIfd0Only},
      {"a huge count of rationals", WRITE(EntryAt(p.ifd0, 2) + 4, ~0u, 4),
       kIfd0Only},
      {"a type of no known size", WRITE(EntryAt(p.ifd0, 0) + 2, 99, 2),
       kIfd0Only},
      {"the Exif directory is IFD0", WRITE(ValueAt(p.ifd0, 6), Tiff(p.ifd0), 4),
       kIfd0Only},
      {"the Exif directory is IFD1", WRITE(ValueAt(p.ifd0, 6), Tiff(p.ifd1), 4),
       kIfd0Only},
      // An edit writing into one would change the other.
      {"the Exif directory inside IFD0's entries",
       WRITE(ValueAt(p.ifd0, 6), Tiff(p.ifd0 + 12), 4), kIfd0Only},
      {"IFD1 is IFD0", WRITE(EntryAt(p.ifd0, 7), Tiff(p.ifd0), 4), kIfd0Only},
      {"IFD1 links to itself", WRITE(EntryAt(p.ifd1, 6), Tiff(p.ifd1), 4),
       kIfd0Only},
      {"IFD1 past the end", WRITE(EntryAt(p.ifd0, 7), Tiff(b->size()) - 4, 4),
       kIfd0Only},
      {"the thumbnail past the end", WRITE(ValueAt(p.ifd1, 5), 0x7FFFFFFF, 4),
       kIfd0Only},
      {"the thumbnail cut short",
       [](std::string *b, const ExifPlaces &p, const ExifBlockMaker &) {
         b->resize(p.thumbnail + 100);
       },
       kIfd0Only},
      {"the thumbnail over IFD0", WRITE(ValueAt(p.ifd1, 4), Tiff(p.ifd0), 4),
       kIfd0Only},
      {"the thumbnail's length missing", WRITE(EntryAt(p.ifd1, 5), 0x0203, 2),
       kIfd0Only},
      {"the thumbnail's offset a text", WRITE(EntryAt(p.ifd1, 4) + 2, 2, 2),
       kIfd0Only},
      {"no link to IFD1: the thumbnail is left over at the end",
       WRITE(EntryAt(p.ifd0, 7), 0, 4), kMended},
      {"a value after the thumbnail: the thumbnail is zeroed in place",
       [](std::string *b, const ExifPlaces &p, const ExifBlockMaker &m) {
         b->resize(b->size() + (b->size() & 1));  // values lie at even places
         Put(b, ValueAt(p.ifd0, 0), m.Number(Tiff(b->size()), 4));
         b->append("Orvane test", 12);
       },
       kMended},
      {"dimensions of another type", WRITE(EntryAt(p.exif, 4) + 2, 9, 2),
       kMended},
  };
  TempFolder folder;
  std::string thumbnail = SmallJpeg();
  for (bool big_endian : {false, true}) {
    ExifBlockMaker maker(big_endian);
    ExifPlaces places;
    std::string good = maker.Camera(640, 480, 6, thumbnail, &places);
    for (const Case &c : cases) {
      SCOPED_TRACE(testing::Message()
                   << c.what << (big_endian ? ", MM" : ", II"));
      std::string block = good;
      c.damage(&block, places, maker);
      std::string mended = Edited(block, kGeometryChanged);
      if (c.outcome != kMended) {
        EXPECT_EQ("<none>", mended);
        EXPECT_EQ(c.outcome == kIfd0Only ? 6 : 0, OrientationOf(block));
        std::string ifd0 = Ifd0Only(block);
        if (c.outcome == kRefused) {
          EXPECT_EQ("<none>", ifd0);
          continue;
        }
        ASSERT_NE("<none>", ifd0);
        // It mends again; IFD0's damaged tags stay out.
        CarriedBlock carried(folder, Edited(ifd0, kGeometryChanged));
        EXPECT_EQ("right side, top",
                  carried.Tag(FIMD_EXIF_MAIN, "Orientation"));
        continue;
      }
      ASSERT_NE("<none>", mended);
      EXPECT_EQ(std::string::npos, mended.find(ThumbnailTail(thumbnail)));
      CarriedBlock carried(folder, mended);
      EXPECT_EQ("OK", carried.Findings());
      EXPECT_EQ("120", carried.Tag(FIMD_EXIF_EXIF, "PixelXDimension"));
      EXPECT_EQ("Orvane test", carried.Tag(FIMD_EXIF_MAIN, "Make"));
    }
  }
}

// Whatever byte is wrong or wherever the block ends, the mending reads only
// the block, and what it gives keeps nothing of the thumbnail.
TEST(ExifBlock, AnyByteWrongOrAnyEndNeverReadsOutside) {
  std::string thumbnail = SmallJpeg();
  for (bool big_endian : {false, true}) {
    ExifPlaces places;
    std::string good =
        ExifBlockMaker(big_endian).Camera(640, 480, 6, thumbnail, &places);
    for (size_t at = 0; at <= good.size(); at++) {
      std::string shorter(good.data(), at);
      std::string wrong = good;
      if (at < good.size()) wrong[at] ^= 0xFF;
      for (const std::string *block : {&shorter, &wrong}) {
        OrientationOf(*block);
        for (int written_anew : {0, 1}) {
          ExifChanges changes = kGeometryChanged;
          changes.picture_changed = written_anew;
          std::string mended = Edited(*block, changes);
          EXPECT_EQ(std::string::npos, mended.find(ThumbnailTail(thumbnail)))
              << at;
        }
      }
    }
  }
}

}  // namespace
