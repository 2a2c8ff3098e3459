// The smallest ICC profile that readers and libpng accept: a header and an
// empty tag table, for colour_space "RGB ", "GRAY" or "CMYK".
#ifndef ORVANE_TESTS_ICC_PROFILES_H
#define ORVANE_TESTS_ICC_PROFILES_H

#include <stdint.h>

#include <string>

inline void PutBig32(std::string *data, size_t at, uint32_t value) {
  for (int i = 0; i < 4; i++) (*data)[at + i] = (char)(value >> (24 - 8 * i));
}

inline std::string MinimalIccProfile(const char *colour_space) {
  std::string profile(132, '\0');
  PutBig32(&profile, 0, 132);                     // size
  PutBig32(&profile, 8, 0x02100000);              // version 2.1
  profile.replace(12, 4, "mntr");                 // a display's profile
  profile.replace(16, 4, colour_space);
  profile.replace(20, 4, "XYZ ");                 // connection space
  profile.replace(36, 4, "acsp");
  PutBig32(&profile, 68, 0x0000F6D6);             // the D50 illuminant
  PutBig32(&profile, 72, 0x00010000);
  PutBig32(&profile, 76, 0x0000D32D);
  return profile;                                 // no tags
}

#endif
