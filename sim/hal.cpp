// The extern "C" face of the simulated board: every hal.h function forwards to the current Board.
#include "board/hal.h"

#include <cstdlib>

#include "sim/board.h"

namespace sim {
void link_hal() {}
}  // namespace sim

using sim::Board;

namespace {
inline Board& b() { return *Board::current(); }
}  // namespace

extern "C" {

uint64_t hal_cycles(void) { return b().hal_cycles(); }
void hal_delay_cycles(uint32_t n) { b().hal_delay(n); }
void hal_poll(void) { b().hal_poll(); }
// Interrupts only run inside hal calls here: a section without hal calls is already atomic.
uint32_t hal_irq_save(void) { return 0; }
void hal_irq_restore(uint32_t) {}

// Without a board (firmware code called directly by a test) the host's heap serves.
void* hal_heap_realloc(void* block, size_t size) {
  Board* c = Board::current();
  return c ? c->heap_realloc(block, size) : std::realloc(block, size);
}
void hal_heap_free(void* block) {
  Board* c = Board::current();
  if (c) c->heap_free(block);
  else std::free(block);
}

void hal_tcc0_connect_clock(void) { b().tcc0_connect_clock(); }
void hal_tcc0_configure(uint16_t match, uint16_t prescaler) { b().tcc0_configure(match, prescaler); }
uint8_t hal_tcc0_take_match(void) { return b().tcc0_take_match(); }

void hal_pin_mode(uint8_t pin, uint8_t mode) { b().pin_set_mode(pin, mode); }
void hal_pin_write(uint8_t pin, uint8_t level) { b().pin_write(pin, level); }
uint8_t hal_pin_read(uint8_t pin) { return b().pin_read(pin); }

void hal_uart_begin(uint8_t port, uint32_t baud) { b().uart_begin(port, baud); }
void hal_uart_end(uint8_t port) { b().uart_end(port); }
uint8_t hal_uart_tx_ready(uint8_t port) { return b().uart_tx_ready(port); }
uint8_t hal_uart_tx_done(uint8_t port) { return b().uart_tx_done(port); }
void hal_uart_tx_put(uint8_t port, uint8_t byte) { b().uart_tx_put(port, byte); }
void hal_uart_tx_irq(uint8_t port, uint8_t enable) { b().uart_tx_irq(port, enable); }

void hal_wdt_enable(uint32_t reset_counts, uint32_t warning_counts) {
  b().wdt_enable(reset_counts, warning_counts);
}
void hal_wdt_disable(void) { b().wdt_disable(); }
void hal_wdt_restart(void) { b().wdt_restart(); }
void hal_halt(void) { b().halt(); }

void hal_flash_read(uint32_t offset, uint8_t* dst, uint32_t len) { b().flash_read(offset, dst, len); }
uint8_t hal_flash_erase_row(uint32_t offset) { return b().flash_erase_row(offset) ? 1 : 0; }
uint8_t hal_flash_write(uint32_t offset, const uint8_t* src, uint32_t len) {
  return b().flash_write(offset, src, len) ? 1 : 0;
}

uint32_t hal_nvm_reg_read(uint8_t reg) { return b().nvm_reg_read(reg); }
void hal_nvm_reg_write(uint8_t reg, uint32_t value) { b().nvm_reg_write(reg, value); }
uint32_t hal_nvm_mem_read(uint32_t address) { return b().nvm_mem_read(address); }
void hal_nvm_mem_write(uint32_t address, uint32_t word) { b().nvm_mem_write(address, word); }

// The SD card's SPI bus: an empty slot, or a card out of it, leaves MISO high (0xFF).
void hal_spi_begin(uint8_t cs_pin, uint32_t hz) { b().spi_begin(cs_pin, hz); }
void hal_spi_clock(uint32_t hz) { b().spi_clock(hz); }
void hal_spi_select(uint8_t on) { b().spi_select(on); }
uint8_t hal_spi_transfer(uint8_t byte) { return b().spi_transfer(byte); }
void hal_spi_transfer_block(const uint8_t* tx, uint8_t* rx, uint32_t n) { b().spi_transfer_block(tx, rx, n); }

}  // extern "C"
