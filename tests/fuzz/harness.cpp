#include "fuzz/harness.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/hal.h"
#include "board/wdt.h"
#include "core/reloj.h"
#include "support/static_firmware.h"
#include "unit/gps/gps_fixture.h"
#include "unit/host/host_fixture.h"
#include "unit/storage/storage_fixture.h"
#include "unit/waves/waves_fixture.h"

namespace olas::fuzz {

std::vector<std::string> Split(const uint8_t* data, size_t size, size_t max_pieces) {
  std::vector<std::string> pieces;
  const std::string all(reinterpret_cast<const char*>(data), size);
  const size_t sep = std::strlen(kSeparator);
  size_t from = 0;
  while (pieces.size() + 1 < max_pieces) {
    size_t at = all.find(kSeparator, from);
    if (at == std::string::npos) break;
    pieces.push_back(all.substr(from, at - from));
    from = at + sep;
  }
  pieces.push_back(all.substr(from));
  return pieces;
}

Session::Session() : board_(std::make_unique<sim::Board>(sim::Board::Config{})) {
  board_->make_current();
  board_->set_firmware(test::static_firmware());
  board_->power_on_reset();
  test::ResetGpsRam();
  test::ResetWavesRam();
  sodaq_wdt_enable(WDT_PERIOD_2X);
}

Session::~Session() { test::FreeWaveArrays(); }

void Session::RunMs(double ms) {
  double cycles = ms * 48000.0;
  while (cycles >= 1) {
    uint32_t step = cycles > 4e9 ? 4000000000u : uint32_t(cycles);
    hal_delay_cycles(step);
    cycles -= step;
  }
}

void Session::AdvanceClock(uint32_t seconds) {
  for (uint32_t s = 0; s < seconds; ++s) {
    uint8_t next = uint8_t(csegundo_utc + 1);
    if (next < 60) {
      csegundo_utc = next;
    } else {
      csegundo_utc = 0;
      refrescamos_reloj_interno();
    }
  }
}

void Session::SetClock(uint8_t day, uint8_t month, uint8_t year, uint8_t hour, uint8_t minute, uint8_t second) {
  poner_reloj(year, month, day, hour, minute, second);
}

void Guard(void (*fn)(void*), void* arg, bool halt_allowed) {
  try {
    fn(arg);
  } catch (const sim::McuReset& reset) {
    if (halt_allowed && reset.cause == "watchdog after halt") return;
    std::fprintf(stderr, "the MCU reset during the input: %s\n", reset.cause.c_str());
    std::abort();
  } catch (const sim::EndOfRun&) {
    std::fprintf(stderr, "the simulated run ended during the input\n");
    std::abort();
  }
}

}  // namespace olas::fuzz
