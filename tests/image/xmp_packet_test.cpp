// The XMP packet mended after a geometry edit: each form writers use gets
// the new values, and no packet, rather than one with an untrue value, when
// a property stands in a form that isn't read.
#include "image/metadata/xmp_packet.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

const XmpChanges kTurnedAndShrunk = {1200, 900, 1, 1, 0, 0};

// The packet is read from heap bytes of its own size, so that the
// sanitizers see any read past them.
unsigned char *HeapCopy(const std::string &packet) {
  unsigned char *own = (unsigned char *)malloc(packet.size() + 1);
  memcpy(own, packet.data(), packet.size());
  return own;
}

std::string Mended(const std::string &packet, const XmpChanges &changes) {
  unsigned char *own = HeapCopy(packet);
  size_t size = 0;
  unsigned char *mended = MendXmpPacket(own, packet.size(), &changes, &size);
  free(own);
  if (mended == nullptr) return "<none>";
  std::string out((const char *)mended, size);
  free(mended);
  return out;
}

int OrientationOf(const std::string &packet) {
  unsigned char *own = HeapCopy(packet);
  int orientation = XmpOrientation(own, packet.size());
  free(own);
  return orientation;
}

#define TIFF "xmlns:tiff='http://ns.adobe.com/tiff/1.0/'"
#define EXIF "xmlns:exif='http://ns.adobe.com/exif/1.0/'"
#define NOTE "xmlns:xmpNote='http://ns.adobe.com/xmp/note/'"
#define DESCRIPTION(attributes, body) \
  "<rdf:Description " attributes ">" body "</rdf:Description>"

TEST(XmpPacket, EachFormIsMendedOrTheWholePacketLeftOut) {
  struct Row {
    const char *what, *packet;
    int orientation;
    const char *mended;  // "=": unchanged
  };
  const Row kRows[] = {
      {"attributes",
       DESCRIPTION(TIFF " " EXIF " tiff:Orientation=\"6\""
                        " exif:PixelXDimension=\"4000\""
                        " exif:PixelYDimension='3000'",
                   ""),
       6,
       DESCRIPTION(TIFF " " EXIF " tiff:Orientation=\"1\""
                        " exif:PixelXDimension=\"1200\""
                        " exif:PixelYDimension='900'",
                   "")},
      {"attribute with space around",
       DESCRIPTION(TIFF " tiff:Orientation = ' 8\n'", ""), 8,
       DESCRIPTION(TIFF " tiff:Orientation = ' 1\n'", "")},
      {"elements",
       DESCRIPTION(TIFF " " EXIF,
                   "<tiff:Orientation> 6 </tiff:Orientation>"
                   "<exif:PixelXDimension>4000</exif:PixelXDimension >"),
       6,
       DESCRIPTION(TIFF " " EXIF,
                   "<tiff:Orientation> 1 </tiff:Orientation>"
                   "<exif:PixelXDimension>1200</exif:PixelXDimension >")},
      {"prefixes of the packet's choosing",
       DESCRIPTION("xmlns:t='http://ns.adobe.com/tiff/1.0/' xmlns:e="
                   "'http://ns.adobe.com/exif/1.0/' t:Orientation='3'",
                   "<e:PixelYDimension>30</e:PixelYDimension>"),
       3,
       DESCRIPTION("xmlns:t='http://ns.adobe.com/tiff/1.0/' xmlns:e="
                   "'http://ns.adobe.com/exif/1.0/' t:Orientation='1'",
                   "<e:PixelYDimension>900</e:PixelYDimension>")},
      {"tiff: bound elsewhere",
       DESCRIPTION("xmlns:tiff='http://example.com/' tiff:Orientation='6'", ""),
       0, "="},
      {"tiff: unbound", DESCRIPTION("tiff:Orientation='7'", ""), 7,
       DESCRIPTION("tiff:Orientation='1'", "")},
      {"none of them",
       DESCRIPTION(TIFF " tiff:Make='X' xmp:Orientation='6'", ""), 0, "="},
      {"out of range", DESCRIPTION(TIFF " tiff:Orientation='9'", ""), 0,
       DESCRIPTION(TIFF " tiff:Orientation='1'", "")},
      {"padding takes up the growth",
       DESCRIPTION(EXIF " exif:PixelXDimension='40'", "") "\n     \n"
                                                          "<?xpacket end='w'?>",
       0,
       DESCRIPTION(EXIF " exif:PixelXDimension='1200'",
                   "") "\n    "
                       "<?xpacket end='w'?>"},
      {"padding too short",
       DESCRIPTION(EXIF " exif:PixelXDimension='40'",
                   "") " <?xpacket end='w'?>",
       0,
       DESCRIPTION(EXIF " exif:PixelXDimension='1200'",
                   "") " <?xpacket end='w'?>"},
      {"twice",
       DESCRIPTION(TIFF " tiff:Orientation='6'",
                   "<tiff:Orientation>6</tiff:Orientation>"),
       0, "<none>"},
      {"rdf:value",
       DESCRIPTION(TIFF,
                   "<tiff:Orientation rdf:parseType='Resource'>"
                   "<rdf:value>6</rdf:value></tiff:Orientation>"),
       0, "<none>"},
      {"nested description",
       DESCRIPTION(TIFF,
                   "<tiff:Orientation><rdf:Description><rdf:value>6"
                   "</rdf:value></rdf:Description></tiff:Orientation>"),
       0, "<none>"},
      {"entity", DESCRIPTION(TIFF " tiff:Orientation='&#54;'", ""), 0,
       "<none>"},
      {"empty element", DESCRIPTION(TIFF, "<tiff:Orientation/>"), 0, "<none>"},
      {"end tag of another name",
       DESCRIPTION(TIFF, "<tiff:Orientation>6</tiff:Make>"), 0, "<none>"},
      {"unclosed quote", DESCRIPTION(TIFF, "") " tiff:Orientation='6", 0,
       "<none>"},
      {"in another attribute's value: text, not a property",
       DESCRIPTION(TIFF " stEvt:changed='tiff:Orientation'", ""), 0, "="},
      {"prefix bound to two namespaces",
       DESCRIPTION(TIFF " tiff:Orientation='6'", "")
           DESCRIPTION("xmlns:tiff='http://example.com/'", ""),
       0, "<none>"},
      {"default namespace",
       DESCRIPTION("xmlns='http://ns.adobe.com/exif/1.0/'", ""), 0, "<none>"},
      {"digits past any size",
       DESCRIPTION(EXIF " exif:PixelXDimension='1234567890123456789'", ""), 0,
       "<none>"},
      {"pointer to the extension, an attribute",
       DESCRIPTION(NOTE " xmpNote:HasExtendedXMP='0123ABCD'", ""), 0,
       DESCRIPTION(NOTE " ", "")},
      {"pointer to the extension, an element",
       DESCRIPTION("", "<xmpNote:HasExtendedXMP>0123ABCD"
                       "</xmpNote:HasExtendedXMP>"),
       0, DESCRIPTION("", "")},
      {"pointer to the extension, twice",
       DESCRIPTION(NOTE " xmpNote:HasExtendedXMP='A' xmpNote:HasExtendedXMP='B'",
                   ""),
       0, "<none>"},
      {"empty", "", 0, "="},
  };
  for (const Row &row : kRows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(row.orientation, OrientationOf(row.packet));
    std::string expected =
        strcmp(row.mended, "=") == 0 ? row.packet : row.mended;
    EXPECT_EQ(expected, Mended(row.packet, kTurnedAndShrunk));
    // Nothing asked, nothing changed: but a packet that can't be mended is
    // still left out.
    std::string kept = Mended(row.packet, XmpChanges{0, 0, 0, 0, 0, 0});
    EXPECT_EQ(expected == "<none>" ? expected : std::string(row.packet), kept);
  }
}

#define XMP "xmlns:xmp='http://ns.adobe.com/xap/1.0/'"
#define GCAMERA "xmlns:GCamera='http://ns.google.com/photos/1.0/camera/'"
#define CONTAINER                                                    \
  "xmlns:Container='http://ns.google.com/photos/1.0/container/' "    \
  "xmlns:Item='http://ns.google.com/photos/1.0/container/item/' "    \
  "xmlns:hdrgm='http://ns.adobe.com/hdr-gain-map/1.0/'"
#define CONTAINER_DIRECTORY                                          \
  "<Container:Directory><rdf:Seq><rdf:li rdf:parseType='Resource'>"  \
  "<Container:Item Item:Mime='image/jpeg' Item:Length='9'/>"         \
  "</rdf:li></rdf:Seq></Container:Directory>"

// What each save leaves of a packet: a plain save leaves out only what
// tells of bytes after the JPEG's end; an edit keeps only what the tables
// keep or mend.
TEST(XmpPacket, AfterAnEditOnlyWhatIsUnderstoodStays) {
  struct Row {
    const char *what, *packet, *saved, *edited;  // "=": unchanged
  };
  const Row kRows[] = {
      {"tiff's sizes mended, its words about the old file left out",
       DESCRIPTION(TIFF " tiff:ImageWidth='40' tiff:ImageLength='30'"
                        " tiff:Make='X' tiff:Compression='6'", ""),
       "=",
       DESCRIPTION(TIFF " tiff:ImageWidth='1200' tiff:ImageLength='900'"
                        " tiff:Make='X' ", "")},
      {"a thumbnail, and positions in the frame",
       DESCRIPTION(XMP " " EXIF " xmp:Rating='3' exif:SubjectLocation='1 2'",
                   "<xmp:Thumbnails><rdf:Alt><rdf:li rdf:parseType='Resource'>"
                   "<xmpGImg:image>OLD-PICTURE</xmpGImg:image></rdf:li>"
                   "</rdf:Alt></xmp:Thumbnails>"
                   "<exif:SubjectArea><rdf:Seq><rdf:li>1</rdf:li></rdf:Seq>"
                   "</exif:SubjectArea><exif:FNumber>4/1</exif:FNumber>"),
       "=",
       DESCRIPTION(XMP " " EXIF " xmp:Rating='3' ",
                   "<exif:FNumber>4/1</exif:FNumber>")},
      {"a namespace no table names, a panorama's cropped area",
       DESCRIPTION("xmlns:GPano='http://ns.google.com/photos/1.0/panorama/'"
                   " GPano:CroppedAreaImageWidthPixels='40' o:x='1'",
                   "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>T"
                   "</rdf:li></rdf:Alt></dc:title>"),
       "=",
       DESCRIPTION("xmlns:GPano='http://ns.google.com/photos/1.0/panorama/'"
                   "  ",
                   "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>T"
                   "</rdf:li></rdf:Alt></dc:title>")},
      {"a gain map and its container directory",
       DESCRIPTION(CONTAINER " hdrgm:Version='1.0'", CONTAINER_DIRECTORY),
       DESCRIPTION(CONTAINER " ", ""), DESCRIPTION(CONTAINER " ", "")},
      {"a motion photo",
       DESCRIPTION(GCAMERA " GCamera:MotionPhoto='1' GCamera:BurstID='b'",
                   "<GCamera:MicroVideoOffset>9</GCamera:MicroVideoOffset>"),
       DESCRIPTION(GCAMERA "  GCamera:BurstID='b'", ""),
       DESCRIPTION(GCAMERA "  ", "")},
      {"a DOCTYPE", "<!DOCTYPE x>" DESCRIPTION("", ""), "<none>", "<none>"},
      {"CDATA", DESCRIPTION("", "<dc:title><![CDATA[x]]></dc:title>"),
       "<none>", "<none>"},
      {"a mended size holding markup",
       DESCRIPTION(TIFF, "<tiff:ImageWidth><b/></tiff:ImageWidth>"), "<none>",
       "<none>"},
  };
  XmpChanges saved = {}, edited = kTurnedAndShrunk;
  saved.drop_trailer_pointers = edited.drop_trailer_pointers = 1;
  edited.picture_changed = 1;
  for (const Row &row : kRows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(strcmp(row.saved, "=") == 0 ? row.packet : row.saved,
              Mended(row.packet, saved));
    EXPECT_EQ(strcmp(row.edited, "=") == 0 ? row.packet : row.edited,
              Mended(row.packet, edited));
  }
}

}  // namespace
