// A device that only listens: keeps every byte the MCU sends on its port (console.log, host.log).
#pragma once

#include <fstream>
#include <string>

#include "sim/board.h"

namespace sim {

class Recorder : public Device {
 public:
  Recorder(const std::string& path, uint32_t baud) : out_(path, std::ios::binary | std::ios::trunc), baud_(baud) {}
  void on_byte(Board&, uint8_t byte, Cycles) override {
    out_.put(char(byte));
    ++bytes_;
  }
  uint32_t baud() const override { return baud_; }
  void set_baud(uint32_t baud) { baud_ = baud; }
  uint64_t bytes() const { return bytes_; }
  bool ok() const { return bool(out_); }
  void flush() { out_.flush(); }

 private:
  std::ofstream out_;
  uint32_t baud_;
  uint64_t bytes_ = 0;
};

}  // namespace sim
