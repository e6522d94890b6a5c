// The fixed-digit printer and the welcome banner.
#include <string>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "settings/virtual_e2prom.h"
#include "unit/core/firmware_ram.h"

namespace olas::test {
namespace {

class ComunicacionesPcTest : public FirmwareFixture {
 protected:
  std::string Printed(uint32_t value, uint8_t digits, uint8_t terminator) {
    console.text.clear();
    transmito_variable(value, digits, terminator);
    run_ms(2);
    return console.text;
  }
};

TEST_F(ComunicacionesPcTest, TransmitoVariablePrintsExactDigitsAndTerminator) {
  Serial1.begin(115200);
  EXPECT_EQ(Printed(5, 2, 1), "05\r\n");
  EXPECT_EQ(Printed(0, 1, '\t'), "0\t");
  EXPECT_EQ(Printed(99, 1, 0), "99");
  EXPECT_EQ(Printed(123, 2, 0), "123");  // a wider value prints whole
  EXPECT_EQ(Printed(7, 2, '/'), "07/");
  EXPECT_EQ(Printed(42, 7, ':'), "0000042:");
  EXPECT_EQ(Printed(4294967295u, 7, 0), "4294967295");
  EXPECT_EQ(Printed(9, 0, '_'), "_");
  // more digits than the power table holds never read past it
  EXPECT_EQ(Printed(5, 9, 0), "0000005");
}

TEST_F(ComunicacionesPcTest, BannerOnConsoleAndHostLink) {
  Serial1.begin(115200);
  Serial.begin(38400);
  mensaje_bienvenida();
  run_ms(200);
  const std::string stars(79, '*');
  const std::string head = "\r\n" + stars + "\r\n\t\tVORENTA\r\n\t\tOLVARIDE\r\n" + stars + "\r\n";
  EXPECT_EQ(console.text, head + "\tSensor de olas\tHardware:01_0\tFirmware:01_7_2\r\n" + stars + "\r\n\r\n");
  EXPECT_EQ(host.text, head + "\tSensor de olas\tHardware:1_0\tFirmware:1_7_2\r\n" + stars + "\r\n\r\n");
}

}  // namespace
}  // namespace olas::test
