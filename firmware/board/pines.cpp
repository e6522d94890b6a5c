// pines.cpp: pines y tiempo del oscilador sobre la hal.
#include "board/pines.h"

#include "board/hal.h"

namespace {
constexpr uint32_t kCiclosPorMs = HAL_CPU_HZ / 1000u;
constexpr uint32_t kCiclosPorUs = HAL_CPU_HZ / 1000000u;
// Trozo de espera que cabe en los 32 bits de hal_delay_cycles (un número entero de ms).
constexpr uint32_t kMsPorTrozo = 0xFFFFFFFFu / kCiclosPorMs;
}  // namespace

void pinMode(uint32_t pin, uint32_t modo) {
  if (pin > 0xFF) return;
  if (modo != INPUT && modo != OUTPUT && modo != INPUT_PULLUP) return;
  hal_pin_mode(static_cast<uint8_t>(pin), static_cast<uint8_t>(modo));
}

void digitalWrite(uint32_t pin, uint32_t nivel) {
  if (pin > 0xFF) return;
  hal_pin_write(static_cast<uint8_t>(pin), nivel != LOW ? HIGH : LOW);
}

int digitalRead(uint32_t pin) {
  if (pin > 0xFF) return LOW;
  return hal_pin_read(static_cast<uint8_t>(pin)) ? HIGH : LOW;
}

uint32_t millis() { return static_cast<uint32_t>(hal_cycles() / kCiclosPorMs); }

uint32_t micros() { return static_cast<uint32_t>(hal_cycles() / kCiclosPorUs); }

void delay(uint32_t ms) {
  // ms * 48000 no cabe en 32 bits a partir de unos 89 s
  while (ms > kMsPorTrozo) {
    hal_delay_cycles(kMsPorTrozo * kCiclosPorMs);
    ms -= kMsPorTrozo;
  }
  if (ms > 0) hal_delay_cycles(ms * kCiclosPorMs);
}
