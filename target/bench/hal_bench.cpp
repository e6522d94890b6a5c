// hal_bench.cpp: board/hal.h for the bench image. No peripheral is modelled: ports are always
// ready and their bytes are only counted (or echoed for the console), the store is blank flash,
// the NVM controller is always ready, there is no card. Time is a counter that moves 1 us per
// read, so nothing in the firmware waits for ever.
#include "board/hal.h"

#include <stdlib.h>
#include <string.h>

#include "hal_bench.h"
#include "monton.h"
#include "semihosting.h"

uint32_t g_bench_uart_bytes[4];
bool g_bench_echo = false;

namespace {
uint64_t g_cycles = 0;
}

uint64_t hal_cycles(void) {
  g_cycles += HAL_CPU_HZ / 1000000u;
  return g_cycles;
}
void hal_delay_cycles(uint32_t n) {
  g_cycles += n;
}
void hal_poll(void) {}
uint32_t hal_irq_save(void) { return 0; }  // nada interrumpe el banco
void hal_irq_restore(uint32_t) {}
// El mismo montón que el chip: el banco mide lo que el chip necesita.
void* hal_heap_realloc(void* bloque, size_t tam) { return monton::cambiar(bloque, tam); }
void hal_heap_free(void* bloque) { monton::liberar(bloque); }

void hal_tcc0_connect_clock(void) {}
void hal_tcc0_configure(uint16_t, uint16_t) {}
uint8_t hal_tcc0_take_match(void) {
  return 0;
}

void hal_pin_mode(uint8_t, uint8_t) {}
void hal_pin_write(uint8_t, uint8_t) {}
uint8_t hal_pin_read(uint8_t) {
  return 1;
}  // debug jumper not fitted

void hal_uart_begin(uint8_t, uint32_t) {}
void hal_uart_end(uint8_t) {}
uint8_t hal_uart_tx_ready(uint8_t) {
  return 1;
}
uint8_t hal_uart_tx_done(uint8_t) {
  return 1;
}
void hal_uart_tx_put(uint8_t port, uint8_t byte) {
  if (port < 4) ++g_bench_uart_bytes[port];
  if (port == 1 && g_bench_echo) semi_write_char(static_cast<char>(byte));
}
void hal_uart_tx_irq(uint8_t, uint8_t) {}

void hal_wdt_enable(uint32_t, uint32_t) {}
void hal_wdt_disable(void) {}
void hal_wdt_restart(void) {}
void hal_halt(void) {
  semi_write("bench: the firmware halted (watchdog restart requested)\n");
  semi_exit(4);
}

void hal_flash_read(uint32_t offset, uint8_t* dst, uint32_t len) {
  if (dst == nullptr || offset >= HAL_FLASH_AREA_SIZE) return;
  if (len > HAL_FLASH_AREA_SIZE - offset) len = HAL_FLASH_AREA_SIZE - offset;
  memset(dst, 0xFF, len);
}
uint8_t hal_flash_erase_row(uint32_t) { return 1; }
uint8_t hal_flash_write(uint32_t, const uint8_t*, uint32_t) { return 1; }

uint32_t hal_nvm_reg_read(uint8_t reg) {
  return reg == HAL_NVM_INTFLAG ? 1u : 0u;
}
void hal_nvm_reg_write(uint8_t, uint32_t) {}
uint32_t hal_nvm_mem_read(uint32_t) {
  return 0xFFFFFFFFu;
}
void hal_nvm_mem_write(uint32_t, uint32_t) {}

// Sin tarjeta: el bus no lleva a ninguna parte y MISO se lee en alto.
void hal_spi_begin(uint8_t, uint32_t) {}
void hal_spi_clock(uint32_t) {}
void hal_spi_select(uint8_t) {}
uint8_t hal_spi_transfer(uint8_t) {
  return 0xFF;
}
void hal_spi_transfer_block(const uint8_t*, uint8_t* rx, uint32_t n) {
  if (rx != nullptr) memset(rx, 0xFF, n);
}
