// sbgECom frames and log payloads, assembled byte by byte in little-endian order.
#include "sim/world/sbg_frames.h"

#include <cstring>
#include <stdexcept>

namespace sim::sbg {

static_assert(sizeof(float) == 4 && sizeof(double) == 8, "IEEE-754 single and double expected");

namespace {

class Payload {
 public:
  explicit Payload(size_t size) { bytes_.reserve(size); }
  void u16(uint16_t v) {
    const uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
    bytes_.insert(bytes_.end(), b, b + 2);
  }
  void u32(uint32_t v) {
    const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    bytes_.insert(bytes_.end(), b, b + 4);
  }
  void f32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    u32(bits);
  }
  void f64(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    u32(uint32_t(bits));
    u32(uint32_t(bits >> 32));
  }
  std::vector<uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace

namespace {

// The bitwise CRC below, a byte at a time: every frame the unit sends goes through it.
struct CrcTable {
  uint16_t v[256];
  CrcTable() {
    for (unsigned b = 0; b < 256; ++b) {
      uint16_t crc = uint16_t(b);
      for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0x8408) : uint16_t(crc >> 1);
      v[b] = crc;
    }
  }
};
const CrcTable kCrcTable;

}  // namespace

uint16_t crc16(const uint8_t* data, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) crc = uint16_t((crc >> 8) ^ kCrcTable.v[(crc ^ data[i]) & 0xFF]);
  return crc;
}

std::vector<uint8_t> frame(uint8_t id, uint8_t msg_class, const std::vector<uint8_t>& payload) {
  if (payload.size() > kMaxPayload) throw std::invalid_argument("sbgECom payload too long");
  std::vector<uint8_t> f;
  f.reserve(payload.size() + kFrameOverhead);
  f.push_back(kSync1);
  f.push_back(kSync2);
  f.push_back(id);
  f.push_back(msg_class);
  f.push_back(uint8_t(payload.size()));
  f.push_back(uint8_t(payload.size() >> 8));
  f.insert(f.end(), payload.begin(), payload.end());
  uint16_t crc = crc16(f.data() + 2, f.size() - 2);
  f.push_back(uint8_t(crc));
  f.push_back(uint8_t(crc >> 8));
  f.push_back(kEndByte);
  return f;
}

std::vector<uint8_t> encode(const EulerLog& log, bool forty_bytes) {
  Payload p(kEuler40Payload);
  p.u32(log.time_us);
  p.f32(log.roll);
  p.f32(log.pitch);
  p.f32(log.yaw);
  p.f32(log.roll_acc);
  p.f32(log.pitch_acc);
  p.f32(log.yaw_acc);
  p.u32(log.status);
  if (forty_bytes) {
    p.f32(log.mag_declination);
    p.f32(log.mag_inclination);
  }
  return frame(uint8_t(LogId::EkfEuler), kClassLog, p.take());
}

std::vector<uint8_t> encode(const NavLog& log) {
  Payload p(kNavPayload);
  p.u32(log.time_us);
  p.f32(log.vel_north);
  p.f32(log.vel_east);
  p.f32(log.vel_down);
  p.f32(log.vel_north_acc);
  p.f32(log.vel_east_acc);
  p.f32(log.vel_down_acc);
  p.f64(log.latitude);
  p.f64(log.longitude);
  p.f64(log.altitude);
  p.f32(log.undulation);
  p.f32(log.latitude_acc);
  p.f32(log.longitude_acc);
  p.f32(log.altitude_acc);
  p.u32(log.status);
  return frame(uint8_t(LogId::EkfNav), kClassLog, p.take());
}

std::vector<uint8_t> encode(const ShipMotionLog& log) {
  Payload p(kShipMotionPayload);
  p.u32(log.time_us);
  p.f32(log.heave_period);
  p.f32(log.surge);
  p.f32(log.sway);
  p.f32(log.heave);
  p.f32(log.accel_x);
  p.f32(log.accel_y);
  p.f32(log.accel_z);
  p.f32(log.vel_x);
  p.f32(log.vel_y);
  p.f32(log.vel_z);
  p.u16(log.status);
  return frame(uint8_t(LogId::ShipMotion), kClassLog, p.take());
}

std::optional<size_t> frame_at(const uint8_t* data, size_t n) {
  if (n < kFrameOverhead || data[0] != kSync1 || data[1] != kSync2) return std::nullopt;
  size_t len = size_t(data[4]) | size_t(data[5]) << 8;
  size_t total = len + kFrameOverhead;
  if (len > kMaxPayload || total > n || data[total - 1] != kEndByte) return std::nullopt;
  uint16_t stored = uint16_t(data[total - 3] | data[total - 2] << 8);
  if (crc16(data + 2, len + 4) != stored) return std::nullopt;
  return total;
}

}  // namespace sim::sbg
