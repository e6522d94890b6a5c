// wdt.cpp: el watchdog con la interfaz sodaq_wdt, sobre el reloj de 1,024 kHz de la hal.
#include "board/wdt.h"

#include "board/hal.h"

volatile uint8_t sodaq_wdt_flag = 0;

void sodaq_wdt_enable(wdt_period period) {
  // el registro del chip admite como mucho 16384 cuentas (8 << 11)
  uint8_t p = static_cast<uint8_t>(period);
  if (p > WDT_PERIOD_8X) p = WDT_PERIOD_8X;
  hal_wdt_enable(8u << (p + 1), 8u << p);
}

void sodaq_wdt_disable() { hal_wdt_disable(); }

void sodaq_wdt_reset() { hal_wdt_restart(); }

extern "C" void board_wdt_warning_irq(void) { sodaq_wdt_flag = 1; }
