// Sample streams of the sensor-path scenarios: sbgECom bytes built sample by sample, the unit's
// own samples read back from a capture of its port, and the sample windows the firmware traces
// on its console while the debug jumper is fitted.
#pragma once

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "sim/bytes_le.h"
#include "sim/world/sbg_frames.h"

namespace olas::scenario {

// The firmware's whole centimetres of a heave on the wire (metres, positive down): x 100 in
// single precision, rounded away from zero.
inline int FirmwareCm(float heave_m) {
  float cm = heave_m * 100.0f;
  return int(cm > 0 ? std::ceil(cm) : cm < 0 ? std::floor(cm) : 0.0f);
}

// The firmware's whole degrees of a yaw in radians: 0..360, halves away from zero.
inline int FirmwareHeading(float yaw_rad) {
  float deg = float(double(yaw_rad) / 3.14159265359 * 180.0);
  if (deg < 0.0f) deg += 360.0f;
  return int(double(deg) + 0.5);
}

// A heave on the wire (metres) that the firmware turns into exactly `cm`.
inline float Metres(int cm) {
  float f = float(cm) / 100.0f;
  for (int i = 0; i < 8 && FirmwareCm(f) != cm; ++i) f = std::nextafter(f, FirmwareCm(f) > cm ? -1e9f : 1e9f);
  return f;
}

// Sets one payload byte of a frame and its CRC again.
inline void SetPayloadByte(std::vector<uint8_t>& f, size_t at, uint8_t v) {
  f[6 + at] = v;
  const size_t crc_at = f.size() - 3;
  uint16_t c = sim::sbg::crc16(f.data() + 2, crc_at - 2);
  f[crc_at] = uint8_t(c & 0xFF);
  f[crc_at + 1] = uint8_t(c >> 8);
}

// One genuine frame in 65 536 has a CRC of 0, which the firmware's framing rejects: a stream meant
// to arrive whole has a byte the firmware never reads changed instead (EULER's roll, SHIP_MOTION's
// heave period, EKF_NAV's down velocity).
inline void AvoidZeroCrc(std::vector<uint8_t>& f) {
  if (f[f.size() - 3] != 0 || f[f.size() - 2] != 0) return;
  SetPayloadByte(f, f[2] == 8 ? 12 : 4, 1);
}

// The three logs of one instant (EULER, NAV, SHIP_MOTION) as the unit frames them; heave in cm as
// on the wire (positive down), heading and alignment valid; no frame with a CRC of 0.
inline std::vector<std::vector<uint8_t>> SampleFrames(uint32_t t_us, int heave_cm, float vn, float ve,
                                                      float yaw_rad = 0.1f) {
  sim::sbg::EulerLog e;
  e.time_us = t_us;
  e.yaw = yaw_rad;
  sim::sbg::NavLog n;
  n.time_us = t_us;
  n.vel_north = vn;
  n.vel_east = ve;
  n.status = sim::sbg::status::kHeadingValid | sim::sbg::status::kAlignValid;
  sim::sbg::ShipMotionLog s;
  s.time_us = t_us;
  s.heave = Metres(heave_cm);
  std::vector<std::vector<uint8_t>> frames = {sim::sbg::encode(e), sim::sbg::encode(n), sim::sbg::encode(s)};
  for (auto& f : frames) AvoidZeroCrc(f);
  return frames;
}

inline void AppendSample(std::vector<uint8_t>& out, uint32_t t_us, int heave_cm, float vn, float ve) {
  for (const auto& f : SampleFrames(t_us, heave_cm, vn, ve)) out.insert(out.end(), f.begin(), f.end());
}

// One instant of the unit as the firmware would keep it.
struct UnitSample {
  int heading = 0;
  int heave_cm = 0;
  float vn = 0, ve = 0;
};

inline float LeFloat(const uint8_t* p) {
  uint32_t b = sim::le32(p);
  float f;
  std::memcpy(&f, &b, 4);
  return f;
}

// The instants of a captured stream the firmware can take: all three logs intact, none with a CRC
// of 0 (its framing rejects those); by time stamp, and their time stamps in the stream's order.
struct UnitStream {
  std::map<uint32_t, UnitSample> by_time;
  std::vector<uint32_t> order;
};

inline UnitStream UnitSamples(const std::string& wire) {
  struct Parts {
    UnitSample s;
    int have = 0;
    bool zero_crc = false;
  };
  std::map<uint32_t, Parts> parts;
  std::vector<uint32_t> seen;
  const auto* b = reinterpret_cast<const uint8_t*>(wire.data());
  for (size_t i = 0; i + 1 < wire.size();) {
    auto len = sim::sbg::frame_at(b + i, wire.size() - i);
    if (!len) {
      ++i;
      continue;
    }
    const uint8_t* p = b + i + 6;  // payload
    const uint32_t t = sim::le32(p);
    if (!parts.count(t)) seen.push_back(t);
    Parts& x = parts[t];
    x.zero_crc |= b[i + *len - 3] == 0 && b[i + *len - 2] == 0;
    switch (b[i + 2]) {
      case 6:
        x.s.heading = FirmwareHeading(LeFloat(p + 12));
        x.have |= 1;
        break;
      case 8:
        x.s.vn = LeFloat(p + 4);
        x.s.ve = LeFloat(p + 8);
        x.have |= 2;
        break;
      case 9:
        x.s.heave_cm = FirmwareCm(LeFloat(p + 16));
        x.have |= 4;
        break;
    }
    i += *len;
  }
  UnitStream out;
  for (uint32_t t : seen) {
    const Parts& x = parts[t];
    if (x.have != 7 || x.zero_crc) continue;
    out.by_time[t] = x.s;
    out.order.push_back(t);
  }
  return out;
}

// A sample window as the firmware traces it with the jumper fitted: for slots 1, 2 and 3 (oldest
// to newest) the point number, time stamp, heading, heave (cm) and velocities (two decimals).
struct TracedSlot {
  int32_t n = 0;
  uint32_t t_us = 0;
  int heading = 0, heave_cm = 0;
  double vn = 0, ve = 0;
};
struct TracedWindow {
  TracedSlot slot[3];
  size_t at = 0;  // where it starts in the console text
};

// Reads one "number," field at p (decimals: exactly that many digits after a point).
inline bool TracedField(const std::string& s, size_t& p, int decimals, double* value) {
  size_t q = p;
  if (q < s.size() && s[q] == '-') ++q;
  size_t digits = q;
  while (q < s.size() && std::isdigit(uint8_t(s[q]))) ++q;
  if (q == digits) return false;
  if (decimals > 0) {
    if (q >= s.size() || s[q] != '.') return false;
    size_t f = ++q;
    while (q < s.size() && std::isdigit(uint8_t(s[q]))) ++q;
    if (q - f != size_t(decimals)) return false;
  }
  if (q >= s.size() || s[q] != ',') return false;
  *value = std::strtod(s.c_str() + p, nullptr);
  p = q + 1;
  return true;
}

inline std::vector<TracedWindow> TracedWindows(const std::string& console) {
  std::vector<TracedWindow> out;
  for (size_t p = 0; p < console.size(); ++p) {
    char c = console[p];
    // a trace follows the ship-motion trace's "," or another line
    if (!(std::isdigit(uint8_t(c)) || c == '-') || (p > 0 && console[p - 1] != ',' && console[p - 1] != '\n')) continue;
    TracedWindow w;
    w.at = p;
    size_t q = p;
    bool ok = true;
    for (int k = 0; k < 3 && ok; ++k) {
      double f[6];
      for (int j = 0; j < 6 && ok; ++j) ok = TracedField(console, q, j >= 4 ? 2 : 0, &f[j]);
      if (!ok) break;
      w.slot[k] = TracedSlot{int32_t(f[0]), uint32_t(int64_t(f[1])), int(f[2]), int(f[3]), f[4], f[5]};
    }
    if (!ok) continue;
    out.push_back(w);
    p = q - 1;
  }
  return out;
}

// The traced sample is the unit's sample of its own time stamp: heading and heave exactly, the
// velocities to the two decimals printed.
inline bool SameAsUnit(const TracedSlot& s, const UnitSample& u) {
  return s.heading == u.heading && s.heave_cm == u.heave_cm && std::fabs(s.vn - double(u.vn)) <= 0.0051 &&
         std::fabs(s.ve - double(u.ve)) <= 0.0051;
}

}  // namespace olas::scenario
