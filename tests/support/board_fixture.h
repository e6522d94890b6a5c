// A fresh simulated board around the statically linked firmware, current for the test's hal calls,
// and the firmware RAM at its start values, as after a reset of the chip.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "sim/board.h"
#include "support/firmware_ram.h"
#include "support/static_firmware.h"

namespace olas::test {

// Collects every byte the MCU sends on one port.
class Capture : public sim::Device {
 public:
  explicit Capture(uint32_t baud) : baud_(baud) {}
  void on_byte(sim::Board&, uint8_t byte, sim::Cycles) override { text.push_back(char(byte)); }
  uint32_t baud() const override { return baud_; }
  void set_baud(uint32_t b) { baud_ = b; }
  std::string text;

 private:
  uint32_t baud_;
};

class BoardFixture : public ::testing::Test {
 protected:
  BoardFixture() : board(sim::Board::Config{}), console(115200), host(38400) {
    board.make_current();
    RestoreFirmwareRam();
    board.set_firmware(static_firmware());
    board.power_on_reset();
    board.attach(1, &console);
    board.attach(0, &host);
  }
  // Runs hal time forward by ms milliseconds of MCU time (interrupts keep running).
  void run_ms(double ms) {
    double cycles = ms * 48000.0;
    while (cycles > 0) {
      uint32_t step = cycles > 4e9 ? 4000000000u : uint32_t(cycles);
      hal_delay_cycles_for_test(step);
      cycles -= step;
      if (step == 0) break;
    }
  }
  static void hal_delay_cycles_for_test(uint32_t n);

  sim::Board board;
  Capture console;  // Serial1
  Capture host;     // Serial
};

}  // namespace olas::test
