// The MCU's watchdog on its 1.024 kHz clock: the reset and early-warning deadlines, the user
// row's start at power-up, a fault that starves it, and its counter of warnings. The board reads
// the deadlines as events and charges the time.
#pragma once

#include <algorithm>
#include <cstdint>

#include "sim/cycles.h"

namespace sim {

class Watchdog {
 public:
  static constexpr Cycles kCountCycles = kNominalHz / 1024;  // one count of its clock

  Cycles reset_at() const { return reset_at_; }
  Cycles warning_at() const { return warning_at_; }
  bool running() const { return reset_at_ != kNever; }
  uint32_t warnings() const { return warnings_; }

  // Power-up: the user row's fuses arm it (enable bit 25, period in bits 27-30).
  void power_on(uint32_t user_row_0, Cycles now) {
    if (user_row_0 & (1u << 25)) {
      const uint32_t per = (user_row_0 >> 27) & 0xF;
      period_ = (Cycles(8) << std::min<uint32_t>(per, 11)) * kCountCycles;
      reset_at_ = now + period_;
    } else {
      reset_at_ = kNever;
    }
    warning_at_ = kNever;
    update_restart_limit();
  }
  void enable(uint32_t reset_counts, uint32_t warning_counts, Cycles now) {
    period_ = Cycles(reset_counts) * kCountCycles;
    warning_offset_ = (warning_counts && warning_counts < reset_counts) ? Cycles(warning_counts) * kCountCycles : 0;
    reset_at_ = now + period_;
    warning_at_ = warning_offset_ ? now + warning_offset_ : kNever;
    update_restart_limit();
  }
  void stop() {
    reset_at_ = kNever;
    warning_at_ = kNever;
    update_restart_limit();
  }
  // The firmware's restart at `now`; true when the earliest event may have moved (one of the
  // deadlines was it, or a new one comes before it).
  bool restart(Cycles now, Cycles next_hw, Cycles next_event) {
    if (now >= restart_limit_) return false;
    const Cycles warning = warning_offset_ ? now + warning_offset_ : kNever;
    // the new reset deadline is never earlier than the old one, which next_hw is not after: it
    // moves the earliest event only when it was that event
    const bool moved = reset_at_ == next_hw || warning_at_ == next_event || warning < next_event;
    reset_at_ = now + period_;
    warning_at_ = warning;
    return moved;
  }
  // The early-warning interrupt has fired.
  void take_warning() {
    warning_at_ = kNever;
    ++warnings_;
  }
  // Fault injection: from time t on, restarts have no effect; a reset ends the fault.
  void starve_from(Cycles t) {
    starve_from_ = t;
    update_restart_limit();
  }
  void end_starving() {
    starve_from_ = kNever;
    update_restart_limit();
  }

 private:
  Cycles reset_at_ = kNever;
  Cycles warning_at_ = kNever;
  Cycles period_ = 0;
  Cycles warning_offset_ = 0;
  Cycles starve_from_ = kNever;
  Cycles restart_limit_ = 0;  // restarts count before this time: 0 while stopped, else starve_from_
  uint32_t warnings_ = 0;

  void update_restart_limit() { restart_limit_ = reset_at_ == kNever ? 0 : starve_from_; }
};

}  // namespace sim
