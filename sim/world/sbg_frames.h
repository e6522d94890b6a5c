// sbgECom binary framing and the three class-0 logs the wave sensor decodes, as the motion unit
// puts them on the wire: sync 0xFF 0x5A, message id, class, payload length (16-bit little-endian),
// payload, CRC-16 (low byte first) over id..payload, end byte 0x33.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim::sbg {

constexpr uint8_t kSync1 = 0xFF;
constexpr uint8_t kSync2 = 0x5A;
constexpr uint8_t kEndByte = 0x33;
constexpr uint8_t kClassLog = 0x00;
constexpr size_t kFrameOverhead = 9;  // sync(2) id class length(2) crc(2) end
constexpr size_t kMaxPayload = 4086;  // the largest payload a frame may carry

enum class LogId : uint8_t { EkfEuler = 6, EkfNav = 8, ShipMotion = 9 };

constexpr size_t kEulerPayload = 32;
constexpr size_t kEuler40Payload = 40;  // 5.x firmware adds the magnetic declination/inclination
constexpr size_t kNavPayload = 72;
constexpr size_t kShipMotionPayload = 46;

// Bits of the EKF solution status (EKF_EULER and EKF_NAV).
namespace status {
constexpr uint32_t kModeVerticalGyro = 1;  // bits 0-3: solution mode
constexpr uint32_t kModeNavPosition = 4;
constexpr uint32_t kAttitudeValid = 1u << 4;
constexpr uint32_t kHeadingValid = 1u << 5;
constexpr uint32_t kVelocityValid = 1u << 6;
constexpr uint32_t kPositionValid = 1u << 7;
constexpr uint32_t kVertRefUsed = 1u << 8;
constexpr uint32_t kMagRefUsed = 1u << 9;
constexpr uint32_t kGps1VelUsed = 1u << 10;
constexpr uint32_t kGps1PosUsed = 1u << 11;
constexpr uint32_t kAlignValid = 1u << 27;
}  // namespace status

// Bits of the SHIP_MOTION status.
namespace heave_status {
constexpr uint16_t kHeaveValid = 1u << 0;
constexpr uint16_t kVelAided = 1u << 1;
constexpr uint16_t kPeriodIncluded = 1u << 3;
constexpr uint16_t kPeriodValid = 1u << 4;
}  // namespace heave_status

// EKF_EULER: attitude in radians (yaw in -pi..pi, clockwise from north).
struct EulerLog {
  uint32_t time_us = 0;
  float roll = 0, pitch = 0, yaw = 0;
  float roll_acc = 0, pitch_acc = 0, yaw_acc = 0;
  uint32_t status = 0;
  float mag_declination = 0, mag_inclination = 0;  // only in the 40-byte form
};

// EKF_NAV: velocities in m/s (north, east, down), position in degrees and metres.
struct NavLog {
  uint32_t time_us = 0;
  float vel_north = 0, vel_east = 0, vel_down = 0;
  float vel_north_acc = 0, vel_east_acc = 0, vel_down_acc = 0;
  double latitude = 0, longitude = 0, altitude = 0;
  float undulation = 0;
  float latitude_acc = 0, longitude_acc = 0, altitude_acc = 0;
  uint32_t status = 0;
};

// SHIP_MOTION: the vessel frame (x forward, y right, z down), so heave is positive DOWN.
struct ShipMotionLog {
  uint32_t time_us = 0;
  float heave_period = 0;
  float surge = 0, sway = 0, heave = 0;
  float accel_x = 0, accel_y = 0, accel_z = 0;
  float vel_x = 0, vel_y = 0, vel_z = 0;
  uint16_t status = 0;
};

// CRC-16/KERMIT: reflected polynomial 0x8408, initial value 0, no final XOR.
uint16_t crc16(const uint8_t* data, size_t n);

// A whole frame around a payload (at most kMaxPayload bytes).
std::vector<uint8_t> frame(uint8_t id, uint8_t msg_class, const std::vector<uint8_t>& payload);

std::vector<uint8_t> encode(const EulerLog& log, bool forty_bytes = false);
std::vector<uint8_t> encode(const NavLog& log);
std::vector<uint8_t> encode(const ShipMotionLog& log);

// A complete, well-formed frame starting at data[0]: its total length, else nothing.
// Well-formed = sync, a length that fits, a matching CRC and the end byte.
std::optional<size_t> frame_at(const uint8_t* data, size_t n);

}  // namespace sim::sbg
