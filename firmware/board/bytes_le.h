// bytes_le.h: campos little-endian leídos y escritos byte a byte (nunca con conversiones de
// puntero: el Cortex-M0+ no admite accesos desalineados). Los del disco FAT, los de las tramas del
// sensor y el CRC del almacén.
#ifndef BOARD_BYTES_LE_H
#define BOARD_BYTES_LE_H

#include <stdint.h>

inline uint16_t ld_16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ld_32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void st_16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void st_32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

#endif
