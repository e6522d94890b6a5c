// A hand-built sbgECom SHIP_MOTION frame (message id 9, class 0) from the public frame layout:
// sync 0xFF 0x5A, id, class, payload length (little-endian), payload, CRC-16/KERMIT over
// id..payload stored low byte first, end byte 0x33. A simulated motion unit that emits this
// sample must produce exactly these 55 bytes.
#pragma once

#include <cstdint>

namespace olas::test {

constexpr int32_t kShipMotionVectorTimeStampUs = 12345678;  // 0x00BC614E
constexpr float kShipMotionVectorHeaveM = -1.25f;            // 0xBFA00000
constexpr int16_t kShipMotionVectorHeaveCm = -125;
constexpr uint16_t kShipMotionVectorCrc = 0x7433;

constexpr uint8_t kShipMotionVector[55] = {
    0xFF, 0x5A,              // sync
    0x09,                    // message id: SBG_ECOM_LOG_SHIP_MOTION
    0x00,                    // message class 0 (logs)
    0x2E, 0x00,              // payload length 46
    0x4E, 0x61, 0xBC, 0x00,  // [0]  time stamp 12345678 us
    0x00, 0x00, 0x00, 0x41,  // [4]  main heave period 8.0 s
    0x00, 0x00, 0x00, 0x00,  // [8]  surge 0.0 m
    0x00, 0x00, 0x00, 0x00,  // [12] sway 0.0 m
    0x00, 0x00, 0xA0, 0xBF,  // [16] heave -1.25 m
    0x00, 0x00, 0x00, 0x00,  // [20] surge acceleration
    0x00, 0x00, 0x00, 0x00,  // [24] sway acceleration
    0x00, 0x00, 0x00, 0x00,  // [28] heave acceleration
    0x00, 0x00, 0x00, 0x00,  // [32] surge velocity
    0x00, 0x00, 0x00, 0x00,  // [36] sway velocity
    0x00, 0x00, 0x00, 0x00,  // [40] heave velocity
    0x01, 0x00,              // [44] status: heave valid
    0x33, 0x74,              // CRC 0x7433, low byte first
    0x33,                    // end byte
};

}  // namespace olas::test
