// EXIF blocks of the tests' own making, as a camera writes them into a
// JPEG's APP1 segment: "Exif\0\0", then a TIFF structure in either byte
// order with IFD0, its Exif directory, and IFD1 pointing at a thumbnail.
// Plain bytes, no image library: the damaged-file maker uses them too.
#ifndef ORVANE_TESTS_EXIF_MAKER_H
#define ORVANE_TESTS_EXIF_MAKER_H

#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

struct ExifEntry {
  uint16_t tag, type;
  uint32_t count;
  std::string value;  // in the block's byte order
};
typedef std::vector<ExifEntry> ExifDirectory;

// Where the parts of a made block lie, counted from the block's start.
struct ExifPlaces {
  size_t ifd0, exif, ifd1, thumbnail;
};

class ExifBlockMaker {
 public:
  // The orientation stored as a SHORT (3), as EXIF says, or in another
  // integer type, as some cameras write it.
  explicit ExifBlockMaker(bool big_endian, uint16_t orientation_type = 3)
      : big_(big_endian), orientation_type_(orientation_type) {}

  std::string Number(uint32_t value, int bytes) const {
    std::string out(bytes, '\0');
    for (int i = 0; i < bytes; i++)
      out[big_ ? bytes - 1 - i : i] = (char)(value >> (8 * i));
    return out;
  }
  ExifEntry Short(uint16_t tag, uint16_t value) const {
    return {tag, 3, 1, Number(value, 2)};
  }
  ExifEntry Long(uint16_t tag, uint32_t value) const {
    return {tag, 4, 1, Number(value, 4)};
  }
  ExifEntry Orientation(int orientation) const {
    static const int kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4};
    int size = orientation_type_ < 10 ? kSizes[orientation_type_] : 2;
    return {0x0112, orientation_type_, 1, Number((uint32_t)orientation, size)};
  }
  ExifEntry Rational(uint16_t tag, uint32_t numerator) const {
    return {tag, 5, 1, Number(numerator, 4) + Number(1, 4)};
  }
  ExifEntry Text(uint16_t tag, const std::string &text) const {
    return {tag, 2, (uint32_t)text.size() + 1, text + '\0'};
  }
  ExifEntry Bytes(uint16_t tag, const std::string &bytes) const {
    return {tag, 7, (uint32_t)bytes.size(), bytes};
  }

  // A block as a camera writes it: the picture's size, its orientation and
  // a thumbnail.
  std::string Camera(uint32_t width, uint32_t height, int orientation,
                     const std::string &thumbnail, ExifPlaces *places) const {
    ExifDirectory ifd0 = {Text(0x010F, "Orvane test"),
                          Orientation(orientation),
                          Rational(0x011A, 72),
                          Rational(0x011B, 72),
                          Short(0x0128, 2),
                          Short(0x0213, 1)};
    ExifDirectory exif = {Bytes(0x9000, "0230"),
                          Bytes(0x9101, std::string("\1\2\3\0", 4)),
                          Bytes(0xA000, "0100"), Short(0xA001, 1),
                          Short(0xA002, (uint16_t)width), Long(0xA003, height)};
    ExifDirectory ifd1 = {Short(0x0103, 6), Rational(0x011A, 72),
                          Rational(0x011B, 72), Short(0x0128, 2)};
    return Make(ifd0, exif, ifd1, thumbnail, places);
  }

  // Lays out the directories in order, each followed by the values that
  // don't fit in its entries, then the thumbnail; adds the entries that
  // point at the Exif directory and at the thumbnail.
  std::string Make(ExifDirectory ifd0, ExifDirectory exif, ExifDirectory ifd1,
                   const std::string &thumbnail, ExifPlaces *places) const {
    ExifDirectory *all[] = {&ifd0, &exif, &ifd1};
    ifd0.push_back(Long(0x8769, 0));
    ifd1.push_back(Long(0x0201, 0));
    ifd1.push_back(Long(0x0202, (uint32_t)thumbnail.size()));
    size_t at[3], offset = 8;
    for (int d = 0; d < 3; d++) {
      at[d] = offset;
      offset += 2 + 12 * all[d]->size() + 4 + ValuesSize(*all[d]);
    }
    places->ifd0 = 6 + at[0];
    places->exif = 6 + at[1];
    places->ifd1 = 6 + at[2];
    places->thumbnail = 6 + offset;
    ifd0.back().value = Number((uint32_t)at[1], 4);
    ifd1[ifd1.size() - 2].value = Number((uint32_t)offset, 4);
    std::string tiff = (big_ ? "MM" : "II") + Number(42, 2) + Number(8, 4);
    for (int d = 0; d < 3; d++)
      tiff += Directory(all[d], at[d], d == 0 ? (uint32_t)at[2] : 0);
    return std::string("Exif\0\0", 6) + tiff + thumbnail;
  }

  // A block of IFD0 and the directories it leads to: Exif, the Interop
  // directory in it, and GPS; no IFD1.
  std::string Tree(ExifDirectory ifd0, ExifDirectory exif,
                   ExifDirectory interop, ExifDirectory gps) const {
    ifd0.push_back(Long(0x8769, 0));
    ifd0.push_back(Long(0x8825, 0));
    exif.push_back(Long(0xA005, 0));
    ExifDirectory *all[] = {&ifd0, &exif, &interop, &gps};
    size_t at[4], offset = 8;
    for (int d = 0; d < 4; d++) {
      at[d] = offset;
      offset += 2 + 12 * all[d]->size() + 4 + ValuesSize(*all[d]);
    }
    ifd0[ifd0.size() - 2].value = Number((uint32_t)at[1], 4);
    ifd0.back().value = Number((uint32_t)at[3], 4);
    exif.back().value = Number((uint32_t)at[2], 4);
    std::string tiff = (big_ ? "MM" : "II") + Number(42, 2) + Number(8, 4);
    for (int d = 0; d < 4; d++) tiff += Directory(all[d], at[d], 0);
    return std::string("Exif\0\0", 6) + tiff;
  }

  // A TIFF structure alone, without the signature: IFD0 and, when
  // pointer_tag isn't 0, one directory it points at with that tag (GPS,
  // Exif); no IFD1.
  std::string Tiff(ExifDirectory ifd0, uint16_t pointer_tag,
                   ExifDirectory sub) const {
    if (pointer_tag != 0) ifd0.push_back(Long(pointer_tag, 0));
    size_t sub_at = 8 + 2 + 12 * ifd0.size() + 4 + ValuesSize(ifd0);
    if (pointer_tag != 0) ifd0.back().value = Number((uint32_t)sub_at, 4);
    std::string tiff = (big_ ? "MM" : "II") + Number(42, 2) + Number(8, 4) +
                       Directory(&ifd0, 8, 0);
    return pointer_tag != 0 ? tiff + Directory(&sub, sub_at, 0) : tiff;
  }

 private:
  static size_t Padded(size_t size) { return size + (size & 1); }

  static size_t ValuesSize(const ExifDirectory &directory) {
    size_t size = 0;
    for (const ExifEntry &entry : directory)
      if (entry.value.size() > 4) size += Padded(entry.value.size());
    return size;
  }

  std::string Directory(ExifDirectory *entries, size_t at,
                        uint32_t next) const {
    std::sort(entries->begin(), entries->end(),
              [](const ExifEntry &a, const ExifEntry &b) {
                return a.tag < b.tag;
              });
    std::string out = Number((uint32_t)entries->size(), 2), values;
    size_t value_at = at + 2 + 12 * entries->size() + 4;
    for (const ExifEntry &entry : *entries) {
      out += Number(entry.tag, 2) + Number(entry.type, 2) +
             Number(entry.count, 4);
      if (entry.value.size() <= 4) {
        out += entry.value + std::string(4 - entry.value.size(), '\0');
        continue;
      }
      out += Number((uint32_t)(value_at + values.size()), 4);
      values += entry.value;
      if (entry.value.size() & 1) values += '\0';
    }
    return out + Number(next, 4) + values;
  }

  bool big_;
  uint16_t orientation_type_;
};

#endif
