// Little-endian fields read byte by byte on the host: the FAT image, sbgECom frames, the card's
// partition table and the flash store, for the simulator, its tools and the tests.
#pragma once

#include <cstdint>

namespace sim {

inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
// The same over bytes kept as chars (a std::string read from a file).
inline uint32_t le32(const char* p) { return le32(reinterpret_cast<const uint8_t*>(p)); }

}  // namespace sim
