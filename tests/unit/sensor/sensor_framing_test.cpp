// Burst scanning, frame checks and transparent mode of the motion-sensor link.
#include <algorithm>
#include <cstring>
#include <cmath>
#include <random>
#include <string>

#include "sensor/sensor.h"
#include "unit/sensor/sensor_link_fixture.h"
#include "unit/sensor/ship_motion_vector.h"
#include "waves/waves.h"

namespace olas::test {
namespace {

using Calls = std::vector<std::pair<int, int>>;

class SensorFramingTest : public SensorLinkFixture {};

TEST_F(SensorFramingTest, CrcIsKermitOverAnIndexRange) {
  const uint8_t check[] = "xx123456789";
  EXPECT_EQ(calcCRC(check + 2, 9, 0), 0x2189);
  EXPECT_EQ(calcCRC(check, 11, 2), 0x2189);  // the size is an end index, not a count
  EXPECT_EQ(calcCRC(check, 2, 2), 0);        // empty range
  EXPECT_EQ(calcCRC(check, 1, 5), 0);        // start past the end
  EXPECT_EQ(calcCRC(kShipMotionVector, 52, 2), kShipMotionVectorCrc);
}

TEST_F(SensorFramingTest, HandWrittenShipMotionVectorDecodes) {
  ScanBurst(Bytes(std::begin(kShipMotionVector), std::end(kShipMotionVector)));
  EXPECT_EQ(accepted, (Calls{{9, 55}}));
  EXPECT_EQ(std::memcmp(cprocesada, kShipMotionVector, 55), 0);
  EXPECT_EQ(TernaTiempos1, kShipMotionVectorTimeStampUs);
  EXPECT_EQ(TernaDatos1, kShipMotionVectorHeaveCm);

  int32_t t = 0;
  float heave_cm = 0.0f;
  EXPECT_EQ(ProcesarTramaShipMotion(kShipMotionVector, t, heave_cm, 55), 0);
  EXPECT_EQ(t, 12345678);
  EXPECT_FLOAT_EQ(heave_cm, -125.0f);
}

TEST_F(SensorFramingTest, ThreeLogsBackToBackGiveThreeCallsInOrder) {
  ScanBurst(Concat({EulerFrame(5000, 0.5f), NavFrame(5000, 1.5f, -2.5f), ShipFrame(5000, 0.42f)}));
  EXPECT_EQ(accepted, (Calls{{6, 41}, {8, 81}, {9, 55}}));
  // the three logs made one sample, now in the window's first slot
  EXPECT_EQ(TernaDatos_pos1_0, 1);
  EXPECT_EQ(TernaDatos_pos1_1, 5000);
  EXPECT_EQ(TernaDatos_pos1_2, 29);  // 0.5 rad = 28.6 degrees
  EXPECT_EQ(TernaDatos_pos1_3, 42);
  EXPECT_FLOAT_EQ(TernaDatos_pos1_4, 1.5f);
  EXPECT_FLOAT_EQ(TernaDatos_pos1_5, -2.5f);
  EXPECT_EQ(TernaTiempos0, -1000);  // the triple starts again
}

TEST_F(SensorFramingTest, SkipsFalseStartsAndResumesThreeBytesAfterADroppedStart) {
  const Bytes euler = EulerFrame(1, 0.1f);
  const Bytes nav = NavFrame(2, 0.0f, 1.0f);

  // 0xFF not followed by 0x5A, then 0xFF 0xFF 0x5A: the second 0xFF starts the frame
  ScanBurst(Concat({{0x00, 0xFF, 0x00, 0xFF}, euler}));
  EXPECT_EQ(accepted, (Calls{{6, 41}}));

  // unknown id 3: a frame starting at its fourth byte is found
  accepted.clear();
  ScanBurst(Concat({{0xFF, 0x5A, 0x03}, euler}));
  EXPECT_EQ(accepted, (Calls{{6, 41}}));

  // ...but one starting at its third byte (id 0xFF is unknown too) is not
  accepted.clear();
  ScanBurst(Concat({{0xFF, 0x5A}, euler}));
  EXPECT_TRUE(accepted.empty());

  // a frame cut short by a corrupt stream: the good one starting inside its span is found
  accepted.clear();
  ScanBurst(Concat({Bytes(euler.begin(), euler.begin() + 12), nav}));
  EXPECT_EQ(accepted, (Calls{{8, 81}}));

  // a whole frame inside a good frame's payload is not reached: the scan jumps the good frame...
  accepted.clear();
  Bytes payload = NavPayload(3, 0.0f, 0.0f);
  std::copy(euler.begin(), euler.end(), payload.begin() + 16);
  Bytes nav_with_euler_inside = SbgFrame(8, payload);
  ScanBurst(nav_with_euler_inside);
  EXPECT_EQ(accepted, (Calls{{8, 81}}));

  // ...but when that frame is dropped, the scan reaches it
  accepted.clear();
  nav_with_euler_inside[78] ^= 0x01;
  ScanBurst(nav_with_euler_inside);
  EXPECT_EQ(accepted, (Calls{{6, 41}}));
}

TEST_F(SensorFramingTest, RejectsFrameWhoseStoredAndComputedCrcAreZero) {
  // the last two payload bytes are the CRC of what precedes them, so the whole CRC is 0
  Bytes f = EulerFrame(7, 0.2f);
  uint16_t partial = calcCRC(f.data(), 36, 2);
  f[36] = uint8_t(partial);
  f[37] = uint8_t(partial >> 8);
  f[38] = f[39] = 0;
  ASSERT_EQ(calcCRC(f.data(), 38, 2), 0);
  ScanBurst(f);
  EXPECT_TRUE(accepted.empty());
  EXPECT_EQ(TernaTiempos0, -1000);
}

TEST_F(SensorFramingTest, DropsFramesCutByTheEndOfTheBurst) {
  const Bytes ship = ShipFrame(9, 0.5f);
  ScanBurst(Concat({EulerFrame(9, 0.0f), Bytes(ship.begin(), ship.end() - 3)}));
  EXPECT_EQ(accepted, (Calls{{6, 41}}));

  // even with its CRC whole, a frame without its end byte is read short and dropped
  accepted.clear();
  ScanBurst(Bytes(ship.begin(), ship.end() - 1));
  EXPECT_TRUE(accepted.empty());
  EXPECT_EQ(TernaTiempos1, -1000);

  // too short to hold an id, or a 0xFF as the last byte
  accepted.clear();
  ScanBurst({0xFF, 0x5A});
  ScanBurst({0x00, 0xFF});
  ScanBurst({0xFF});
  EXPECT_TRUE(accepted.empty());
}

TEST_F(SensorFramingTest, NeverReadsStaleBytesOrPastTheBuffer) {
  // a good frame left from the previous burst is not decoded again by an empty burst
  ScanBurst(EulerFrame(11, 0.3f));
  accepted.clear();
  icantidad_bytes_rx_sensor = 0;
  procesamos_trama_rx_sensor();
  EXPECT_TRUE(accepted.empty());

  // a stale 0x5A after a final 0xFF does not make a frame start
  ctrama_sensor_rx[0] = 0x00;
  ctrama_sensor_rx[1] = 0xFF;
  ctrama_sensor_rx[2] = 0x5A;
  icantidad_bytes_rx_sensor = 2;
  EXPECT_GE(busqueda_inicio_trama_sensor(0), 2u);

  // a counter beyond the buffer is held to the buffer; a frame at its very end is still read
  std::memset(ctrama_sensor_rx, 0x00, sizeof ctrama_sensor_rx);
  const Bytes nav = NavFrame(12, 1.0f, 1.0f);
  std::memcpy(ctrama_sensor_rx + 1024 - nav.size(), nav.data(), nav.size());
  icantidad_bytes_rx_sensor = 5000;
  procesamos_trama_rx_sensor();
  EXPECT_EQ(accepted, (Calls{{8, 81}}));
  EXPECT_GE(busqueda_inicio_trama_sensor(2000), 1024u);

  // the byte at the start position is examined even past the burst, never past the buffer
  icantidad_bytes_rx_sensor = 4;
  ctrama_sensor_rx[6] = 0xAB;
  EXPECT_EQ(ibusqueda_dato_frame(ctrama_sensor_rx, 0xAB, 1, 6), 6u);
  EXPECT_EQ(ibusqueda_dato_frame(ctrama_sensor_rx, 0xAB, 1, 7), 8u);
  EXPECT_GE(ibusqueda_dato_frame(ctrama_sensor_rx, 0xAB, 1, 1024), 1024u);
  ctrama_sensor_rx[0] = ctrama_sensor_rx[2] = 0xAB;
  EXPECT_EQ(ibusqueda_dato_frame(ctrama_sensor_rx, 0xAB, 2, 0), 2u);
  EXPECT_GE(ibusqueda_dato_frame(ctrama_sensor_rx, 0xAB, 3, 0), 4u);
}

TEST_F(SensorFramingTest, TransparentModeForwardsTheBurstUnchanged) {
  Bytes burst = Concat({ShipFrame(13, 1.0f), {0x00, 0xFF, 0x0D, 0x0A, 0x5A}});
  CTE_MODO_TRANSPARENTE = 1;
  ScanBurst(burst);
  EXPECT_EQ(HostText(), std::string(burst.begin(), burst.end()));
  EXPECT_TRUE(accepted.empty());
  EXPECT_EQ(TernaTiempos1, -1000);

  // any other value parses
  host.text.clear();
  CTE_MODO_TRANSPARENTE = 2;
  ScanBurst(burst);
  EXPECT_EQ(accepted, (Calls{{9, 55}}));
  EXPECT_EQ(HostText(), "");
}

int FirmwareCmOf(float heave_m) {
  float cm = heave_m * 100.0f;
  return int(cm > 0 ? std::ceil(cm) : std::floor(cm));
}

TEST_F(SensorFramingTest, AcceptsTheOtherKnownFormsOfTheLogsOnly) {
  const Bytes long_euler = SbgFrame(6, EulerPayload(21, -0.5f, true));
  ASSERT_EQ(long_euler.size(), 49u);
  ScanBurst(Concat({long_euler, NavFrame(21, 0.25f, 0.5f), ShipFrame(21, -0.25f)}));
  EXPECT_EQ(accepted, (Calls{{6, 49}, {8, 81}, {9, 55}}));
  EXPECT_EQ(TernaDatos_pos1_2, 331);
  EXPECT_EQ(TernaDatos_pos1_3, -25);

  // the shorter SHIP_MOTION of older units, down to the payload that still holds the heave, in
  // any place of the burst; shorter still, or any other length than the known ones, is dropped
  for (int place = 0; place < 3; ++place) {
    accepted.clear();
    Bytes short_ship = ShipPayload(uint32_t(22 + place), 0.25f + 0.01f * float(place));
    short_ship.resize(20);
    Bytes logs[3] = {EulerFrame(uint32_t(22 + place), 0.1f), NavFrame(uint32_t(22 + place), 0.1f, 0.1f),
                     SbgFrame(9, short_ship)};
    std::swap(logs[2], logs[place]);
    ScanBurst(Concat({logs[0], logs[1], logs[2]}));
    EXPECT_EQ(accepted.size(), 3u) << place;
    EXPECT_EQ(TernaDatos1, FirmwareCmOf(0.25f + 0.01f * float(place))) << place;
  }
  accepted.clear();
  Bytes too_short = ShipPayload(25, 0.30f);
  too_short.resize(19);
  Bytes p246 = EulerPayload(26, 0.1f);
  p246.resize(246, 0x11);
  Bytes long_nav = NavPayload(27, 0.1f, 0.1f);
  long_nav.resize(80, 0);
  ScanBurst(Concat({SbgFrame(9, too_short), SbgFrame(6, p246), SbgFrame(8, long_nav)}));
  EXPECT_TRUE(accepted.empty());

  // a long frame that runs past the burst is dropped
  ScanBurst(Bytes(long_euler.begin(), long_euler.end() - 1));
  EXPECT_TRUE(accepted.empty());
}

TEST_F(SensorFramingTest, ALargerButFalseLengthChangesNothing) {
  // a damaged EULER whose span holds a good NAV; its length field says 40 or 32
  auto burst_with_length = [](uint8_t length) {
    Bytes damaged = EulerFrame(31, 0.7f);
    damaged[4] = length;
    damaged.resize(10);
    return Concat({damaged, NavFrame(31, 2.0f, 3.0f), Bytes(20, 0x00)});
  };
  ScanBurst(burst_with_length(32));
  const Calls reference = accepted;
  uint8_t reference_copy[sizeof cprocesada];
  std::memcpy(reference_copy, cprocesada, sizeof cprocesada);
  const float reference_north = TernaDatos2;

  ResetRam();
  ScanBurst(burst_with_length(40));
  EXPECT_EQ(reference, (Calls{{8, 81}}));
  EXPECT_EQ(accepted, reference);
  EXPECT_EQ(std::memcmp(cprocesada, reference_copy, sizeof cprocesada), 0);
  EXPECT_FLOAT_EQ(TernaDatos2, reference_north);

  // a known frame with a valid table-length CRC is taken at the table's length, whatever its field says
  accepted.clear();
  Bytes f = EulerFrame(32, 0.0f);
  f[4] = 200;
  uint16_t crc = calcCRC(f.data(), 38, 2);
  f[38] = uint8_t(crc);
  f[39] = uint8_t(crc >> 8);
  ScanBurst(Concat({f, Bytes(200, 0x00)}));
  EXPECT_EQ(accepted, (Calls{{6, 41}}));
}

// What copying each good frame into cprocesada on delivery would leave there.
uint8_t g_copied_on_delivery[sizeof cprocesada];
void CopyOnDelivery(const uint8_t* frame, uint8_t length) {
  std::memcpy(g_copied_on_delivery, frame, length);
  ProcesarTramaBinaria(frame, length);
}

TEST_F(SensorFramingTest, CandidateBufferEndsAsIfEveryGoodFrameWereCopiedIn) {
  // Frames of every known length in seeded order, so that runs of ever shorter frames (deeper than
  // the few the scan keeps aside) and longer ones after them both occur; garbage between some.
  std::mt19937 rng(99);
  pprocesado_trama_sensor = CopyOnDelivery;
  for (int round = 0; round < 300; ++round) {
    Bytes burst;
    for (uint32_t k = 0; burst.size() < 900; ++k) {
      const uint32_t t = uint32_t(round * 100) + k;
      Bytes ship = ShipPayload(t, 0.1f);
      ship.resize(20 + rng() % 27);  // the shorter SHIP_MOTION forms, and the full 46
      const Bytes choices[] = {EulerFrame(t, 0.2f), SbgFrame(6, EulerPayload(t, 0.2f, true)), NavFrame(t, 0.1f, 0.1f),
                               SbgFrame(9, ship), Bytes(rng() % 5, 0x5A)};
      const Bytes& pick = choices[rng() % 5];
      burst.insert(burst.end(), pick.begin(), pick.end());
    }
    burst.resize(std::min<size_t>(burst.size(), 1024));
    std::memset(cprocesada, round, sizeof cprocesada);
    std::memset(g_copied_on_delivery, round, sizeof g_copied_on_delivery);
    cbuffer_sensor_lleno = uint8_t(burst.size() == 1024);
    ScanBurst(burst);
    ASSERT_EQ(std::memcmp(cprocesada, g_copied_on_delivery, sizeof cprocesada), 0) << "round " << round;
  }
}

}  // namespace
}  // namespace olas::test
