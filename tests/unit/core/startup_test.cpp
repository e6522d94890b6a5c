// setup(): pins, the NVM user row, the tick, the ports, the watchdog and the start flags.
#include <vector>

#include "board/placa.h"
#include "core/nucleo.h"
#include "core/reloj.h"
#include "gps/modulo_gps.h"
#include "storage/gestion_sd.h"
#include "unit/core/firmware_ram.h"

namespace olas::test {
namespace {

using StartupTest = FirmwareFixture;

TEST_F(StartupTest, SetsPinsPortsWatchdogAndStartFlags) {
  std::vector<int> gps_pin;
  board.on_pin_write = [&gps_pin](int pin, uint8_t level, sim::Cycles) {
    if (pin == 17) gps_pin.push_back(level);
  };
  cpeticion_nueva_hora = 0;
  cfecha_capturada = 1;
  cgps_configurado = 1;
  ctarjeta_sd_inicializada = 1;
  setup();
  run_ms(20);

  // pin 17 is driven high, then low, and from the first 10 ms step on follows the receiver state
  EXPECT_EQ(gps_pin, (std::vector<int>{1, 0, 1}));
  EXPECT_EQ(board.pin_level(17), 1);
  EXPECT_EQ(board.pin_level(35), 0);
  EXPECT_EQ(board.pin_level(32), 1);
  EXPECT_EQ(board.pin_level(33), 1);
  for (int pin : {17, 35, 32, 33}) EXPECT_EQ(board.pin_mode(pin), OUTPUT) << pin;
  for (int pin : {21, 15, 20}) EXPECT_EQ(board.pin_mode(pin), INPUT) << pin;
  for (int pin : {39, 40, 41, 42, 28}) EXPECT_EQ(board.pin_mode(pin), INPUT_PULLUP) << pin;

  EXPECT_EQ(board.mcu_baud(0), 38400u);
  EXPECT_EQ(board.mcu_baud(1), 115200u);
  EXPECT_EQ(board.mcu_baud(2), 115200u);
  EXPECT_EQ(board.mcu_baud(3), 9600u);
  EXPECT_TRUE(board.wdt_enabled());

  EXPECT_EQ(cpeticion_nueva_hora, 1);
  EXPECT_EQ(cfecha_capturada, 0);
  EXPECT_EQ(cgps_configurado, 0);
  EXPECT_EQ(cestado_gps, 1);
  EXPECT_EQ(ctarjeta_sd_inicializada, 0);
}

TEST_F(StartupTest, WritesTheUserRowOnceAndLeavesALockedChipAlone) {
  ASSERT_NE(board.nvm().user_row[0], FILA_USUARIO_PALABRA_0);
  setup();
  EXPECT_EQ(board.nvm().user_row[0], FILA_USUARIO_PALABRA_0);
  EXPECT_EQ(board.nvm().user_row[1], FILA_USUARIO_PALABRA_1);
  EXPECT_EQ(board.nvm_commands(), 3u);  // erase row, clear page buffer, write page

  // the row already holds the values: no command at the next start
  check_boot_protection();
  EXPECT_EQ(board.nvm_commands(), 3u);

  // a security-locked chip keeps its row
  board.nvm().user_row[0] = 0xD8E0C7FFu;
  board.nvm().security_bit = true;
  check_boot_protection();
  EXPECT_EQ(board.nvm_commands(), 3u);
  EXPECT_EQ(board.nvm().user_row[0], 0xD8E0C7FFu);
}

}  // namespace
}  // namespace olas::test
