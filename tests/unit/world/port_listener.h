// A board whose stand-in MCU keeps every byte reaching one of its serial ports, with the time it
// arrived: what the simulated devices send, as the firmware would see it.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/board.h"

namespace olas::test {

struct RxByte {
  uint8_t byte;
  sim::Cycles t;
};

// The bytes kept since the last ListenOn.
inline std::vector<RxByte>& ReceivedBytes() {
  static std::vector<RxByte> rx;
  return rx;
}

// Makes the board current, powers it on with the stand-in MCU and opens `port` at `baud`; from
// then on the bytes reaching that port are kept.
inline void ListenOn(sim::Board& board, uint8_t port, uint32_t baud) {
  static uint8_t listened;
  listened = port;
  board.make_current();
  sim::FirmwareEntry fw;
  fw.uart_rx = [](uint8_t p, uint8_t byte) -> uint8_t {
    if (p == listened) ReceivedBytes().push_back({byte, sim::Board::current()->now()});
    return 1;
  };
  board.set_firmware(fw);
  board.power_on_reset();
  board.uart_begin(port, baud);
  ReceivedBytes().clear();
}

}  // namespace olas::test
