// A board with the tick, the console and the GPS port running, a scripted receiver on the GPS
// port, and the RAM of the GPS module and of the clock-rate correction at their start values.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "unit/core/firmware_ram.h"

namespace olas::test {

using Bytes = std::vector<uint8_t>;

// The firmware RAM at its start values, the clock-rate correction off.
void ResetGpsRam();

// "$" body "*" two upper-case hex digits of the XOR of body, CR LF.
std::string Nmea(const std::string& body);
// XOR of the characters between '$' and '*' of a frame.
uint8_t XorBetween(const std::string& frame);

// The receiver's side of Serial3: keeps what the MCU sends and answers each complete 11-byte
// CFG-MSG with the next scripted answer (the last one repeats; empty = silence).
class ScriptedReceiver : public sim::Device {
 public:
  void on_byte(sim::Board& board, uint8_t byte, sim::Cycles t) override;
  uint32_t baud() const override { return 9600; }

  std::vector<Bytes> answers;
  Bytes received;          // every byte the MCU sent
  std::vector<Bytes> commands;  // the CFG-MSG frames among them
  std::vector<sim::Cycles> command_times;

 private:
  Bytes pending_;
};

class GpsFixture : public FirmwareFixture {
 protected:
  GpsFixture();

  // Sends text as the receiver would and runs the GPS step once it has started to arrive.
  void Batch(const std::string& text);
  // Batch(text) once the last "GPS," frame has gone and a new time has been requested.
  void BatchOnRequest(const std::string& text);
  // The three sentences of a good fix (GGA 8 satellites, RMC 'A' 12:35:19 23/03/94, GSA 1.52,
  // 0.95, 1.21), with the given talker, RMC status and time of day.
  static std::string GoodBatch(const std::string& talker = "GP", char status = 'A',
                               const std::string& hhmmss = "123519");
  // Console text after letting the port drain; cleared on read.
  std::string TakeConsole();

  ScriptedReceiver gps;
};

}  // namespace olas::test
