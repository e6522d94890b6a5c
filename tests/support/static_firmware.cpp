#include "support/static_firmware.h"

#include "board/hal.h"

namespace olas::test {
sim::FirmwareEntry static_firmware() {
  sim::FirmwareEntry e;
  e.setup = &setup;
  e.loop = &loop;
  e.tcc0 = &TCC0_Handler;
  e.uart_rx = &board_uart_rx_irq;
  e.uart_tx = &board_uart_tx_irq;
  e.wdt_warning = &board_wdt_warning_irq;
  return e;
}
}  // namespace olas::test
