// sbgECom framing as the motion unit sends it: CRC, layout, payload offsets, a hand-built vector.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sim/bytes_le.h"
#include "sim/world/sbg_frames.h"
#include "unit/sensor/ship_motion_vector.h"

namespace {

using namespace sim::sbg;

uint32_t le32(const std::vector<uint8_t>& f, size_t at) { return sim::le32(&f[at]); }
float f32(const std::vector<uint8_t>& f, size_t at) {
  uint32_t bits = le32(f, at);
  float v;
  std::memcpy(&v, &bits, 4);
  return v;
}
constexpr size_t kData = 6;  // payload offset inside a frame

TEST(SbgFrames, CrcIsKermit) {
  const std::string check = "123456789";
  EXPECT_EQ(crc16(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x2189);
  EXPECT_EQ(crc16(nullptr, 0), 0);
}

TEST(SbgFrames, LayoutOfTheThreeLogs) {
  EulerLog e;
  e.time_us = 0xA1B2C3D4;
  e.yaw = -0.5f;
  NavLog n;
  n.time_us = 7;
  n.vel_north = 1.25f;
  n.vel_east = -0.75f;
  n.status = status::kHeadingValid | status::kAlignValid;
  ShipMotionLog s;
  s.time_us = 99;
  s.heave = 0.123f;

  struct Case {
    std::vector<uint8_t> f;
    uint8_t id;
    size_t payload;
  };
  for (const Case& c : {Case{encode(e), 6, 32}, Case{encode(e, true), 6, 40}, Case{encode(n), 8, 72},
                        Case{encode(s), 9, 46}}) {
    SCOPED_TRACE(int(c.id));
    const auto& f = c.f;
    ASSERT_EQ(f.size(), c.payload + 9);
    EXPECT_EQ(f[0], 0xFF);
    EXPECT_EQ(f[1], 0x5A);
    EXPECT_EQ(f[2], c.id);
    EXPECT_EQ(f[3], 0x00);
    EXPECT_EQ(f[4] | f[5] << 8, int(c.payload));
    uint16_t crc = crc16(f.data() + 2, c.payload + 4);
    EXPECT_EQ(f[f.size() - 3], crc & 0xFF);  // low byte first
    EXPECT_EQ(f[f.size() - 2], crc >> 8);
    EXPECT_EQ(f.back(), 0x33);
    EXPECT_EQ(frame_at(f.data(), f.size()), f.size());
  }
  auto fe = encode(e);
  EXPECT_EQ(le32(fe, kData + 0), 0xA1B2C3D4u);
  EXPECT_EQ(fe[kData], 0xD4);  // little-endian, byte by byte
  EXPECT_EQ(f32(fe, kData + 12), -0.5f);
  auto fn = encode(n);
  EXPECT_EQ(le32(fn, kData + 0), 7u);
  EXPECT_EQ(f32(fn, kData + 4), 1.25f);
  EXPECT_EQ(f32(fn, kData + 8), -0.75f);
  EXPECT_EQ(le32(fn, kData + 68), (1u << 5) | (1u << 27));
  auto fs = encode(s);
  EXPECT_EQ(le32(fs, kData + 0), 99u);
  EXPECT_EQ(f32(fs, kData + 16), 0.123f);
}

TEST(SbgFrames, OnlyWellFormedFramesAreRecognised) {
  ShipMotionLog s;
  s.time_us = 1;
  auto f = encode(s);
  EXPECT_FALSE(frame_at(f.data(), f.size() - 1));  // cut short
  auto bad = f;
  bad[kData + 16] ^= 0x01;  // one payload bit
  EXPECT_FALSE(frame_at(bad.data(), bad.size()));
  bad = f;
  bad.back() = 0x34;  // end byte
  EXPECT_FALSE(frame_at(bad.data(), bad.size()));
  bad = f;
  bad[4] = 0xFF;  // length beyond the data
  bad[5] = 0x0F;
  EXPECT_FALSE(frame_at(bad.data(), bad.size()));
  EXPECT_FALSE(frame_at(f.data() + 1, f.size() - 1));  // no sync
}

TEST(SbgFrames, ShipMotionMatchesTheHandBuiltVector) {
  ShipMotionLog s;
  s.time_us = uint32_t(olas::test::kShipMotionVectorTimeStampUs);
  s.heave_period = 8.0f;
  s.heave = olas::test::kShipMotionVectorHeaveM;
  s.status = heave_status::kHeaveValid;
  auto f = encode(s);
  ASSERT_EQ(f.size(), sizeof olas::test::kShipMotionVector);
  for (size_t i = 0; i < f.size(); ++i) EXPECT_EQ(f[i], olas::test::kShipMotionVector[i]) << "byte " << i;
  EXPECT_EQ(crc16(f.data() + 2, 50), olas::test::kShipMotionVectorCrc);
}

}  // namespace
