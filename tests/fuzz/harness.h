// Shared by the three fuzz targets: every input runs on a fresh simulated board with the firmware
// RAM put back to its start values the way the unit tests do it, so a finding replays exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/board.h"

namespace olas::fuzz {

// Separates the bursts of a GPS input and the frames of a host input.
inline constexpr char kSeparator[] = "\xFE\xFF";

// The pieces of data between separators (at most max_pieces; the last one keeps the rest).
std::vector<std::string> Split(const uint8_t* data, size_t size, size_t max_pieces);

// A device that takes whatever the MCU sends on its port at the given speed.
class Sink : public sim::Device {
 public:
  explicit Sink(uint32_t baud) : baud_(baud) {}
  void on_byte(sim::Board&, uint8_t, sim::Cycles) override {}
  uint32_t baud() const override { return baud_; }

 private:
  uint32_t baud_;
};

// One input's board: current, powered on, the firmware linked statically, every module's RAM at
// its start values, the watchdog running as setup() leaves it. The destructor hands the wave
// arrays back to the heap.
class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  sim::Board& board() { return *board_; }
  // Runs virtual time forward (interrupts keep running).
  void RunMs(double ms);
  // Moves the internal clock on by `seconds` as the tick's second boundaries would.
  static void AdvanceClock(uint32_t seconds);
  // Sets the internal clock (year within the century; 0 = no date).
  static void SetClock(uint8_t day, uint8_t month, uint8_t year, uint8_t hour, uint8_t minute, uint8_t second);

 private:
  std::unique_ptr<sim::Board> board_;
};

// Runs fn. An MCU reset out of a parser is a finding: it aborts with the cause so that the fuzzer
// keeps the input. Only with halt_allowed does a deliberate stop (the watchdog restarting the MCU
// after the firmware halted) end the input quietly; a starved watchdog never does.
void Guard(void (*fn)(void*), void* arg, bool halt_allowed);
template <class F>
void Guarded(F&& f, bool halt_allowed = false) {
  Guard([](void* p) { (*static_cast<F*>(p))(); }, &f, halt_allowed);
}

}  // namespace olas::fuzz
