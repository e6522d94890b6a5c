// Virtual time on the simulated board: cycles of the MCU oscillator (nominally 48 MHz).
#pragma once

#include <cstdint>

namespace sim {

using Cycles = uint64_t;
constexpr Cycles kNever = ~Cycles{0};
constexpr uint32_t kNominalHz = 48000000;

}  // namespace sim
