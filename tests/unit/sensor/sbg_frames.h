// Builders of sbgECom frames for the sensor-link tests, written from the public frame layout
// (the CRC here is an independent CRC-16/KERMIT, not the firmware's).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace olas::test {

using Bytes = std::vector<uint8_t>;

inline uint16_t ReferenceKermit(const uint8_t* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int b = 0; b < 8; ++b) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0x8408) : uint16_t(crc >> 1);
  }
  return crc;
}

inline void PutU32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
inline void PutF32(Bytes& b, size_t at, float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  PutU32(b, at, v);
}

// Sync, id, class, the payload's real length, payload, CRC (low byte first), end byte 0x33.
inline Bytes SbgFrame(uint8_t id, const Bytes& payload, uint8_t message_class = 0) {
  const size_t n = payload.size();
  Bytes f(n + 9);
  f[0] = 0xFF;
  f[1] = 0x5A;
  f[2] = id;
  f[3] = message_class;
  f[4] = uint8_t(n);
  f[5] = uint8_t(n >> 8);
  for (size_t i = 0; i < n; ++i) f[6 + i] = payload[i];
  uint16_t crc = ReferenceKermit(f.data() + 2, n + 4);
  f[n + 6] = uint8_t(crc);
  f[n + 7] = uint8_t(crc >> 8);
  f[n + 8] = 0x33;
  return f;
}

// EKF_EULER: time stamp, roll, pitch, yaw, three std devs, status (32 bytes); extra_floats
// appends the magnetic declination and inclination of newer units (40 bytes).
inline Bytes EulerPayload(uint32_t time_us, float yaw_rad, bool extra_floats = false) {
  Bytes p(extra_floats ? 40 : 32, 0);
  PutU32(p, 0, time_us);
  PutF32(p, 4, 0.01f);
  PutF32(p, 8, -0.02f);
  PutF32(p, 12, yaw_rad);
  if (extra_floats) {
    PutF32(p, 32, 0.05f);
    PutF32(p, 36, 1.1f);
  }
  return p;
}

// EKF_NAV: time stamp, N/E/D velocity, ..., solution status at 68 (72 bytes).
inline Bytes NavPayload(uint32_t time_us, float v_north, float v_east, uint32_t status = 0) {
  Bytes p(72, 0);
  PutU32(p, 0, time_us);
  PutF32(p, 4, v_north);
  PutF32(p, 8, v_east);
  PutF32(p, 12, 0.3f);
  PutU32(p, 68, status);
  return p;
}

// SHIP_MOTION: time stamp, heave period, surge, sway, heave at 16, ..., status (46 bytes).
inline Bytes ShipPayload(uint32_t time_us, float heave_m) {
  Bytes p(46, 0);
  PutU32(p, 0, time_us);
  PutF32(p, 4, 7.5f);
  PutF32(p, 16, heave_m);
  p[44] = 0x01;
  return p;
}

inline Bytes EulerFrame(uint32_t t, float yaw_rad) { return SbgFrame(6, EulerPayload(t, yaw_rad)); }
inline Bytes NavFrame(uint32_t t, float vn, float ve, uint32_t status = 0) {
  return SbgFrame(8, NavPayload(t, vn, ve, status));
}
inline Bytes ShipFrame(uint32_t t, float heave_m) { return SbgFrame(9, ShipPayload(t, heave_m)); }

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace olas::test
