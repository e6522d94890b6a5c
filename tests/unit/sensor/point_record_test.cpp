// The raw point record: the middle window sample as one 65-character line in slot 0.
#include <cmath>
#include <string>
#include <tuple>

#include "comms/comunicaciones_pc.h"
#include "unit/sensor/sensor_link_fixture.h"
#include "waves/waves.h"

namespace olas::test {
namespace {

class PointRecordTest : public SensorLinkFixture {
 protected:
  void SetMiddle(uint16_t heading, int16_t heave, float vn, float ve, uint8_t heading_ok, uint8_t aligned) {
    std::tie(TernaDatos_pos2_2, TernaDatos_pos2_3, TernaDatos_pos2_4, TernaDatos_pos2_5, mFlagHeading_Pto,
             mFlagAlign_Pto) = std::make_tuple(heading, heave, vn, ve, heading_ok, aligned);
  }
  // The record as stored: exactly counter characters, then the NUL.
  std::string Record() {
    EXPECT_EQ(cbuffer_raw[ibytes_a_escribir_sd[0]], '\0');
    return std::string(cbuffer_raw, ibytes_a_escribir_sd[0]);
  }
};

TEST_F(PointRecordTest, WritesTheSixtyFiveCharacterLine) {
  TENGO_HORA_VALIDA = 1;
  SetClock(7, 12, 26, 10, 59, 30);
  ContNumPtosOla = 42;
  SetMiddle(123, -57, 0.1234f, -0.5678f, 1, 1);
  Guardar_Datos_Procesados_RAW();
  EXPECT_EQ(Record(), "07,12,26,10,59,30,00042,0123,-00057, 00000.1234,-00000.5678,1,1\r\n");
  EXPECT_EQ(ContNumPtosOla, 43u);

  // without a valid clock the date and time are zeros; heave 0 gets a space
  TENGO_HORA_VALIDA = 0;
  SetMiddle(360, 0, 0.0f, 0.0f, 0, 1);
  Guardar_Datos_Procesados_RAW();
  EXPECT_EQ(Record(), "00,00,00,00,00,00,00043,0360, 00000, 00000.0000, 00000.0000,0,1\r\n");
}

TEST_F(PointRecordTest, ClampsVelocitiesOutsideTheField) {
  SetMiddle(0, 32767, 123456.0f, -100000.0f, 0, 0);
  Guardar_Datos_Procesados_RAW();
  EXPECT_EQ(Record().substr(29), " 32767, 99999.9999,-99999.9999,0,0\r\n");

  SetMiddle(0, -32768, 99999.99f, NAN, 0, 0);
  Guardar_Datos_Procesados_RAW();
  EXPECT_EQ(Record().substr(29), "-32768, 99999.9922, 99999.9999,0,0\r\n");

  SetMiddle(0, 1, -INFINITY, INFINITY, 0, 0);
  Guardar_Datos_Procesados_RAW();
  EXPECT_EQ(Record().substr(36), "-99999.9999, 99999.9999,0,0\r\n");
  EXPECT_EQ(ConsoleText(), "");  // no self-check complaint
}

TEST_F(PointRecordTest, OversizePointNumbersKeepTheLineLength) {
  ContNumPtosOla = 100000;
  Guardar_Datos_Procesados_RAW();
  EXPECT_EQ(Record().substr(18, 6), "A0000,");
  ContNumPtosOla = 1700000;  // a leading quotient of 17 has no digit
  Guardar_Datos_Procesados_RAW();
  EXPECT_EQ(Record().substr(18, 6), "?0000,");
  EXPECT_EQ(Record().size(), 65u);
}

}  // namespace
}  // namespace olas::test
