// Decoding of the three sensor logs, the sample triple, the closest-NAV rule and the window.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "declaraciones.h"
#include "host/zrx03.h"
#include "sensor/sensor.h"
#include "unit/sensor/sensor_link_fixture.h"
#include "waves/analisis_olas.h"
#include "waves/waves.h"

namespace olas::test {
namespace {

class LogDecodingTest : public SensorLinkFixture {};

TEST_F(LogDecodingTest, HeaveRoundsAwayFromZeroInCentimetres) {
  Decode(ShipFrame(100, 0.123f));
  EXPECT_EQ(TernaDatos1, 13);
  EXPECT_EQ(TernaTiempos1, 100);
  Decode(ShipFrame(200, -0.123f));
  EXPECT_EQ(TernaDatos1, -13);
  Decode(ShipFrame(300, 0.0f));
  EXPECT_EQ(TernaDatos1, 0);
  // the sensor's 32-bit counter past 2^31 is held as a negative time stamp
  Decode(ShipFrame(0xFFFFFF00u, 1.0f));
  EXPECT_EQ(TernaTiempos1, -256);
  EXPECT_EQ(TernaDatos1, 100);
  // a nonsense heave saturates instead of overflowing the 16-bit field
  Decode(ShipFrame(400, 1.0e9f));
  EXPECT_EQ(TernaDatos1, 32767);

  int32_t t = 0;
  float heave = 0.0f;
  Bytes f = ShipFrame(500, 0.25f);
  EXPECT_EQ(ProcesarTramaShipMotion(f.data(), t, heave, 55), 0);
  EXPECT_FLOAT_EQ(heave, 25.0f);
  // too short for the heave: the time stamp is already out, the heave is not
  t = 0;
  heave = -1.0f;
  EXPECT_EQ(ProcesarTramaShipMotion(f.data(), t, heave, 25), 1);
  EXPECT_EQ(t, 500);
  EXPECT_FLOAT_EQ(heave, -1.0f);
  EXPECT_EQ(ProcesarTramaShipMotion(f.data(), t, heave, 26), 0);  // heave field ends at 26
  EXPECT_EQ(ProcesarTramaShipMotion(f.data(), t, heave, 9), 1);
}

TEST_F(LogDecodingTest, YawBecomesWholeDegreesFrom0To360) {
  int32_t t = 0;
  float yaw = 0.0f;
  Bytes f = EulerFrame(77, -0.5f);
  EXPECT_EQ(ProcesarTrama_AngulosEuler(f.data(), t, yaw, 41), 0);
  EXPECT_EQ(t, 77);
  EXPECT_NEAR(yaw, 331.352f, 0.001f);

  Decode(f);
  EXPECT_EQ(TernaDatos0, 331);
  EXPECT_EQ(TernaTiempos0, 77);
  Decode(EulerFrame(78, 3.1415f));
  EXPECT_EQ(TernaDatos0, 180);
  Decode(EulerFrame(79, -0.0001f));  // 359.994 degrees
  EXPECT_EQ(TernaDatos0, 360);
  Decode(EulerFrame(80, 0.0f));
  EXPECT_EQ(TernaDatos0, 0);

  // too short for the yaw: an error, with the time stamp out when it fits
  t = 0;
  EXPECT_EQ(ProcesarTrama_AngulosEuler(f.data(), t, yaw, 21), 1);
  EXPECT_EQ(t, 77);
  t = 0;
  EXPECT_EQ(ProcesarTrama_AngulosEuler(f.data(), t, yaw, 9), 1);
  EXPECT_EQ(t, 0);
  Decode(Bytes(f.begin(), f.begin() + 21));
  EXPECT_EQ(TernaTiempos0, 80);  // unchanged
  EXPECT_EQ(TernaDatos0, 0);
}

TEST_F(LogDecodingTest, YawDegreesAreTheDivisionByPiTimes180) {
  // The decoder multiplies by 180 / 3.14159265359 taken once; the result must be the float of the
  // division and the product done in that order, for any yaw the unit can send.
  std::mt19937 rng(2718);
  std::vector<float> yaws = {0.0f, -0.0f, 1e-45f, -1e-38f, 3.14159265f, -3.14159265f, 6.2831853f, 1e38f,
                             std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
  for (int i = 0; i < 300000; ++i) {
    const uint32_t bits = rng();
    float y;
    std::memcpy(&y, &bits, sizeof y);
    yaws.push_back(y);
    yaws.push_back(std::ldexp(float(rng() % 16777216u), -22) - 4.0f);  // within +-4 rad
  }
  Bytes f = EulerFrame(1, 0.0f);
  for (float y : yaws) {
    PutF32(f, 6 + 12, y);
    int32_t t = 0;
    float out = 0.0f;
    ASSERT_EQ(ProcesarTrama_AngulosEuler(f.data(), t, out, 41), 0);
    float expected = float(double(y) / 3.14159265359 * 180.0);
    if (expected < 0.0f) expected += 360.0f;
    if (std::isnan(expected)) {
      EXPECT_TRUE(std::isnan(out));
    } else {
      ASSERT_EQ(std::memcmp(&out, &expected, sizeof out), 0) << std::hexfloat << y;
    }
  }
}

TEST_F(LogDecodingTest, NavigationFlagsCountOnlyWithinAWave) {
  const uint32_t heading = 1u << 5, aligned = 1u << 27;
  vIniOla_0 = -1;
  Decode(NavFrame(10, 1.0f, 2.0f, heading | aligned));
  EXPECT_EQ(mFlagHeading_Pto, 0);
  EXPECT_EQ(mFlagHeading, 0);
  EXPECT_FLOAT_EQ(TernaDatos2, 1.0f);
  EXPECT_FLOAT_EQ(TernaDatos3, 2.0f);

  vIniOla_0 = 0;
  Decode(NavFrame(11, 1.0f, 2.0f, heading | aligned));
  EXPECT_EQ(mFlagHeading_Pto, 1);
  EXPECT_EQ(mFlagAlign_Pto, 1);
  Decode(NavFrame(12, 1.0f, 2.0f, heading));
  EXPECT_EQ(mFlagHeading_Pto, 1);
  EXPECT_EQ(mFlagAlign_Pto, 0);
  EXPECT_EQ(mFlagHeading, 2);
  EXPECT_EQ(mFlagAlign, 1);

  // a log too short for its status changes neither the triple nor the flags
  Inicializar_TernaTiempos();
  Bytes f = NavFrame(13, 9.0f, 9.0f, aligned);
  Decode(Bytes(f.begin(), f.begin() + 76));
  EXPECT_EQ(TernaTiempos2, -1000);
  EXPECT_EQ(mFlagAlign, 1);
  EXPECT_FLOAT_EQ(TernaDatos2, 1.0f);
}

TEST_F(LogDecodingTest, ASampleJoinsOnlyTheLogsOfItsOwnInstant) {
  // a second navigation log of the same instant does not replace the first
  Decode(ShipFrame(100000, 0.1f));
  Decode(NavFrame(100000, 1.0f, 1.0f));
  Decode(NavFrame(100000, 2.0f, 2.0f));
  Decode(EulerFrame(100000, 0.1f));
  EXPECT_EQ(TernaDatos_pos1_0, 1);
  EXPECT_EQ(TernaDatos_pos1_1, 100000);
  EXPECT_FLOAT_EQ(TernaDatos_pos1_4, 1.0f);

  // order NAV, EULER, SHIP_MOTION: the sample completes on the ship-motion log
  Decode(NavFrame(200000, 4.0f, 4.0f));
  Decode(EulerFrame(200000, 0.1f));
  EXPECT_EQ(cmuestras_ventana, 1);
  Decode(ShipFrame(200000, 0.2f));
  EXPECT_EQ(TernaDatos_pos2_0, 2);
  EXPECT_FLOAT_EQ(TernaDatos_pos2_4, 4.0f);
  EXPECT_EQ(CONTADOR_MUESTRAS_PERDIDAS, 0u);

  // the EULER log of 300000 is lost: that sample is lost and counted, and the next one is made of
  // its own logs, never of the ship motion left over from 300000
  Decode(ShipFrame(300000, 0.3f));
  Decode(NavFrame(300000, 5.0f, 5.0f));
  Decode(EulerFrame(400000, 0.1f));
  EXPECT_EQ(CONTADOR_MUESTRAS_PERDIDAS, 1u);
  EXPECT_EQ(cmuestra_perdida, 1);
  EXPECT_EQ(TernaTiempos1, -1000);
  Decode(NavFrame(400000, 6.0f, 6.0f));
  Decode(ShipFrame(400000, 0.4f));
  EXPECT_EQ(TernaDatos_pos3_0, 3);
  EXPECT_EQ(TernaDatos_pos3_1, 400000);
  EXPECT_EQ(TernaDatos_pos3_3, 40);
  EXPECT_FLOAT_EQ(TernaDatos_pos3_4, 6.0f);
  EXPECT_EQ(cmuestra_perdida, 0);

  // a log of the last complete sample arriving again is ignored
  Decode(EulerFrame(400000, 0.1f));
  EXPECT_EQ(TernaTiempos0, -1000);
  // a navigation log alone is no sample: a later instant replaces it without a loss
  Decode(NavFrame(450000, 7.0f, 7.0f));
  Decode(EulerFrame(500000, 0.1f));
  Decode(NavFrame(500000, 8.0f, 8.0f));
  Decode(ShipFrame(500000, 0.5f));
  EXPECT_EQ(CONTADOR_MUESTRAS_PERDIDAS, 1u);
  EXPECT_EQ(TernaDatos_pos3_1, 500000);
  EXPECT_FLOAT_EQ(TernaDatos_pos3_4, 8.0f);

  // across the sign change of the held counter
  DecodeSample(0x80000100u, 0.1f, 9.0f, 9.0f, 0.6f);
  EXPECT_EQ(TernaDatos_pos3_1, int32_t(0x80000100u));
  EXPECT_FLOAT_EQ(TernaDatos_pos3_4, 9.0f);
}

TEST_F(LogDecodingTest, IgnoresOtherClassesAndIds) {
  Decode(SbgFrame(9, ShipPayload(1, 0.5f), 1));
  Decode(SbgFrame(3, ShipPayload(1, 0.5f)));
  Decode(Bytes{0xFF, 0x5A, 9});
  ProcesarTramaBinaria(nullptr, 55);
  EXPECT_EQ(TernaTiempos1, -1000);
  EXPECT_EQ(TernaDatos1, 0);
}

TEST_F(LogDecodingTest, WindowFillsThenProcesses) {
  auto sample = [](uint32_t t, float heave_m) { DecodeSample(t, 0.2f, 0.5f, -0.5f, heave_m); };

  sample(1000, 0.25f);
  sample(2000, 0.5f);
  EXPECT_EQ(ContNumPtosOla, 0u);  // nothing processed yet
  EXPECT_EQ(ibytes_a_escribir_sd[0], 0u);
  sample(3000, 0.75f);  // into slot 3 without a shift: the first processed window
  EXPECT_EQ(TernaDatos_pos1_0, 1);
  EXPECT_EQ(TernaDatos_pos2_0, 2);
  EXPECT_EQ(TernaDatos_pos3_0, 3);
  EXPECT_EQ(TernaDatos_pos2_3, 50);
  EXPECT_EQ(ContNumPtosOla, 1u);
  EXPECT_EQ(ibytes_a_escribir_sd[0], 65u);
  EXPECT_EQ(std::string(cbuffer_raw).substr(18, 18), "00000,0011, 00050,");
  sample(4000, 1.0f);
  EXPECT_EQ(TernaDatos_pos1_0, 2);
  EXPECT_EQ(TernaDatos_pos2_0, 3);
  EXPECT_EQ(TernaDatos_pos3_0, 4);
  EXPECT_EQ(TernaDatos_pos3_1, 4000);

  // an all-zero sample is dropped but uses up its number, and counts as lost
  DecodeSample(5000, 0.0f, 0.0f, 0.0f, 0.0f);
  EXPECT_EQ(contPtosOlaActual, 5);
  EXPECT_EQ(TernaDatos_pos3_0, 4);
  EXPECT_EQ(cmuestra_perdida, 1);
  EXPECT_EQ(CONTADOR_MUESTRAS_PERDIDAS, 1u);
}

TEST_F(LogDecodingTest, AnIntervalRestartRenumbersWithoutLosingASample) {
  auto sample = [](uint32_t t) { DecodeSample(t, 0.2f, 0.5f, -0.5f, 0.25f); };
  for (uint32_t k = 1; k <= 4; ++k) sample(1000 * k);
  ASSERT_EQ(TernaDatos_pos3_0, 4);

  // no wave landmark in use: the newest sample becomes point 1, as the interval's points restart
  Renumerar_Puntos_Intervalo();
  EXPECT_EQ(TernaDatos_pos1_0, -1);
  EXPECT_EQ(TernaDatos_pos2_0, 0);
  EXPECT_EQ(TernaDatos_pos3_0, 1);
  EXPECT_EQ(contPtosOlaActual, 1);
  std::vector<int32_t> middles;
  for (uint32_t k = 5; k <= 9; ++k) {
    uint32_t before = ContNumPtosOla;
    sample(1000 * k);
    EXPECT_EQ(ContNumPtosOla, before + 1) << "every sample is a point record";
    middles.push_back(TernaDatos_pos2_0);
  }
  EXPECT_EQ(middles, (std::vector<int32_t>{1, 2, 3, 4, 5}));

  // a wave in progress: its previous crest becomes point 1 and everything moves with it
  vMax1_0 = 4;
  vIniOla_0 = 5;
  Renumerar_Puntos_Intervalo();
  EXPECT_EQ(vMax1_0, 1);
  EXPECT_EQ(vIniOla_0, 2);
  EXPECT_EQ(vMax2_0, -1) << "landmarks not set stay unset";
  EXPECT_EQ(TernaDatos_pos3_0, 3);
  EXPECT_EQ(contPtosOlaActual, 3);
}

TEST_F(LogDecodingTest, SensorTimeFramesTheIntervalOnlyWithoutAValidClock) {
  for (uint32_t t = 1000; t <= 4000; t += 1000) DecodeSample(t, 0.1f, 0.1f, 0.1f, 0.1f);
  EXPECT_EQ(TIEMPO_INI, 3000);
  EXPECT_EQ(TIEMPO_FIN, 4000);
  EXPECT_NE(ConsoleText().find("==> NO HAY HORA VALIDA.\r\n"), std::string::npos);

  TENGO_HORA_VALIDA = 1;
  DecodeSample(5000, 0.1f, 0.1f, 0.1f, 0.1f);
  EXPECT_EQ(TIEMPO_INI, 0);
  EXPECT_EQ(TIEMPO_FIN, 0);
}

TEST_F(LogDecodingTest, HostAndDebugLinesFollowTheirSwitches) {
  Decode(ShipFrame(1, -0.123f));
  Decode(EulerFrame(1, -0.5f));
  EXPECT_EQ(HostText(), "");

  CTE_USO_APP_ZRX03 = 1;
  cdebug_sensor = 1;
  Decode(ShipFrame(2, -0.123f));
  Decode(EulerFrame(2, -0.5f));
  EXPECT_EQ(HostText(), "#PTO,-12.30,331\r\n");
  EXPECT_NE(ConsoleText().find("auxHeave=-12.30, Round=-13\r\n,"), std::string::npos);

  // a ship-motion log too short for its heave still writes its line, with 0 and the old value
  host.text.clear();
  console.text.clear();
  Bytes f = ShipFrame(3, 0.5f);
  Decode(Bytes(f.begin(), f.begin() + 20));
  EXPECT_EQ(HostText(), "#PTO,0.00");
  EXPECT_NE(ConsoleText().find("auxHeave=0.00, Round=-13\r\n,"), std::string::npos);
  cdebug_sensor = 0;
}

}  // namespace
}  // namespace olas::test
