// Fixed-order integers in file headers, read from and written to byte
// buffers whatever the machine's own order. Nothing here allocates.
#ifndef ORVANE_LIB_BYTEORDER_H
#define ORVANE_LIB_BYTEORDER_H

#include <stdint.h>

inline uint32_t Little16(const unsigned char *p) {
  return p[0] | ((uint32_t)p[1] << 8);
}

inline uint32_t Big16(const unsigned char *p) {
  return ((uint32_t)p[0] << 8) | p[1];
}

inline uint32_t Little32(const unsigned char *p) {
  return p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) |
         ((uint32_t)p[3] << 24);
}

inline uint32_t Big32(const unsigned char *p) {
  return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) |
         ((uint32_t)p[2] << 8) | p[3];
}

inline void PutBig16(unsigned char *p, uint32_t value) {
  p[0] = (unsigned char)(value >> 8);
  p[1] = (unsigned char)value;
}

inline void PutBig32(unsigned char *p, uint32_t value) {
  PutBig16(p, value >> 16);
  PutBig16(p + 2, value);
}

inline void PutLittle16(unsigned char *p, uint32_t value) {
  p[0] = (unsigned char)value;
  p[1] = (unsigned char)(value >> 8);
}

inline void PutLittle32(unsigned char *p, uint32_t value) {
  for (int i = 0; i < 4; i++) p[i] = (unsigned char)(value >> (8 * i));
}

#endif
