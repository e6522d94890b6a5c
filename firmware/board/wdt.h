// wdt.h: el watchdog (interfaz sodaq_wdt).
#ifndef BOARD_WDT_H
#define BOARD_WDT_H

#include <stdint.h>

enum wdt_period : uint8_t {
  WDT_PERIOD_1DIV64 = 1,
  WDT_PERIOD_1DIV32 = 2,
  WDT_PERIOD_1DIV16 = 3,
  WDT_PERIOD_1DIV8 = 4,
  WDT_PERIOD_1DIV4 = 5,
  WDT_PERIOD_1DIV2 = 6,
  WDT_PERIOD_1X = 7,
  WDT_PERIOD_2X = 8,
  WDT_PERIOD_4X = 9,
  WDT_PERIOD_8X = 10
};

extern volatile uint8_t sodaq_wdt_flag;  // aviso temprano recibido (nadie lo lee)

// Reset tras 8 << (period + 1) cuentas del reloj de 1,024 kHz (WDT_PERIOD_2X: 4096, unos 4 s);
// aviso temprano a la mitad.
void sodaq_wdt_enable(wdt_period period = WDT_PERIOD_1X);
void sodaq_wdt_disable();
void sodaq_wdt_reset();

#endif
