// crc16.cpp: CRC-16/KERMIT por tabla (un acceso por byte en vez de ocho desplazamientos).
#include "board/crc16.h"

namespace {

constexpr uint16_t kPolinomio = 0x8408u;  // 0x1021 reflejado

struct TablaCrc {
  uint16_t v[256];
  constexpr TablaCrc() : v() {
    for (uint16_t n = 0; n < 256; ++n) {
      uint16_t crc = n;
      for (uint8_t bit = 0; bit < 8; ++bit) crc = (crc & 1u) != 0 ? uint16_t((crc >> 1) ^ kPolinomio) : uint16_t(crc >> 1);
      v[n] = crc;
    }
  }
};
constexpr TablaCrc kTabla;

}  // namespace

uint16_t crc16_kermit(const uint8_t* p, uint32_t n, uint16_t crc) {
  if (p == nullptr) return crc;
  for (uint32_t i = 0; i < n; ++i) crc = uint16_t((crc >> 8) ^ kTabla.v[(crc ^ p[i]) & 0xFFu]);
  return crc;
}
