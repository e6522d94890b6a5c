// The extern "C" face of the simulated board: every hal.h function forwards to the current Board.
#include "board/hal.h"

#include <cstdlib>

#include "sim/board.h"
#include "sim/sd_card.h"

namespace sim {
void link_hal() {}
}  // namespace sim

using sim::Board;

namespace {
inline Board& b() { return *Board::current(); }

// A card operation's own time, as a busy wait of the MCU.
void charge(Board& bd, double seconds) {
  sim::Cycles c = bd.cycles_for(seconds);
  while (c > 0) {
    uint32_t step = c > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(c);
    bd.hal_delay(step);
    c -= step;
  }
}
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

// The SD card slot: without a card (or with the card out) every operation fails as on a board
// whose card does not answer. Each block operation costs the card's latency in virtual time,
// charged as a busy wait so that interrupts keep running.
uint8_t hal_sd_init(uint8_t, uint32_t) {
  Board& bd = b();
  bd.touch();
  sim::SdCard* c = bd.card();
  return c && c->init() ? 1 : 0;
}
uint32_t hal_sd_blocks(void) {
  Board& bd = b();
  bd.cost();
  sim::SdCard* c = bd.card();
  return c && c->ready() ? c->blocks() : 0;
}
uint8_t hal_sd_type(void) {
  Board& bd = b();
  bd.cost();
  sim::SdCard* c = bd.card();
  return c && c->ready() ? c->type() : 0;
}
uint8_t hal_sd_read(uint32_t block, uint8_t* dst) {
  Board& bd = b();
  bd.cost();
  sim::SdCard* c = bd.card();
  if (!c) return 0;
  bool ok = c->read(block, dst);
  if (ok) charge(bd, c->config().read_latency_s);
  return ok ? 1 : 0;
}
uint8_t hal_sd_write(uint32_t block, const uint8_t* src) {
  Board& bd = b();
  bd.touch();
  sim::SdCard* c = bd.card();
  if (!c) return 0;
  bool ok = c->write(block, src);
  if (c->present()) charge(bd, c->config().write_latency_s);
  return ok ? 1 : 0;
}
uint8_t hal_sd_erase(uint32_t first, uint32_t last) {
  Board& bd = b();
  bd.touch();
  sim::SdCard* c = bd.card();
  if (!c) return 0;
  bool ok = c->erase(first, last);
  if (ok) {
    double n = double(last) - double(first) + 1.0;
    charge(bd, c->config().erase_latency_s + c->config().erase_per_mblock_s * n * 1e-6);
  }
  return ok ? 1 : 0;
}
uint8_t hal_sd_write_start(uint32_t block, uint32_t count) {
  Board& bd = b();
  bd.touch();
  sim::SdCard* c = bd.card();
  return c && c->write_start(block, count) ? 1 : 0;
}
uint8_t hal_sd_write_data(const uint8_t* src) {
  Board& bd = b();
  bd.touch();
  sim::SdCard* c = bd.card();
  if (!c) return 0;
  bool ok = c->write_data(src);
  if (c->present()) charge(bd, c->config().write_latency_s);
  return ok ? 1 : 0;
}
uint8_t hal_sd_write_stop(void) {
  Board& bd = b();
  bd.touch();
  sim::SdCard* c = bd.card();
  return c && c->write_stop() ? 1 : 0;
}
uint8_t hal_sd_error_code(void) {
  sim::SdCard* c = b().card();
  return c ? (c->present() ? c->error_code() : uint8_t(sim::SdCard::kErrNoCard)) : 1;
}
uint32_t hal_sd_error_data(void) {
  sim::SdCard* c = b().card();
  return c ? c->error_data() : 0;
}

}  // extern "C"
