// The simulated board: the host implementation of firmware/board/hal.h. It keeps the clock and
// the event queue and dispatches the devices' events; the flash (sim/flash_memory.h), the serial
// wires (sim/uart_wire.h) and the watchdog (sim/watchdog.h) are devices of their own.
//
// Time is counted in cycles of the MCU oscillator, whose true frequency is 48 MHz x (1 + ppm).
// Time only moves inside hal calls: each call costs a fixed time, and a poll that finds nothing
// new since the previous poll jumps straight to the next event. Interrupts (TCC0 tick, UART
// receive and data-register-empty, watchdog early warning) run inside hal calls and never nest.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <queue>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "board/hal.h"
#include "sim/cycles.h"
#include "sim/flash_memory.h"
#include "sim/uart_wire.h"
#include "sim/watchdog.h"

namespace sim {

constexpr int kPorts = 4;
constexpr int kPins = 64;

// Thrown out of a hal call when the MCU resets; unwinds the firmware's stack.
struct McuReset {
  std::string cause;
};
// Thrown out of a hal call when the run has reached its end (or a pause point).
struct EndOfRun {};

// What the board calls in the firmware: resolved from a loaded image or linked statically.
struct FirmwareEntry {
  void (*setup)() = nullptr;
  void (*loop)() = nullptr;
  void (*tcc0)() = nullptr;
  uint8_t (*uart_rx)(uint8_t, uint8_t) = nullptr;
  void (*uart_tx)(uint8_t) = nullptr;
  void (*wdt_warning)() = nullptr;
};

class SdCard;

class Board {
 public:
  struct Config {
    double ppm = 0.0;               // oscillator error
    uint32_t call_cost_ns = 1000;   // virtual cost of one hal call
    uint32_t loop_cost_ns = 5000;   // extra virtual cost of one pass of loop()
    std::string flash_file;         // flash area + NVM row; empty = in memory only
  };

  explicit Board(const Config& config);
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;
  ~Board();

  static Board* current() { return current_; }
  void make_current() { current_ = this; }

  // ---- firmware link ---------------------------------------------------------------------
  void set_firmware(const FirmwareEntry& entry) { fw_ = entry; }
  const FirmwareEntry& firmware() const { return fw_; }
  // Puts the MCU's peripherals in their reset state (before each setup()).
  void power_on_reset();
  // One pass of loop() costs this much beyond its hal calls.
  void charge_loop_pass();

  // ---- time --------------------------------------------------------------------------------
  Cycles now() const { return now_; }
  double true_hz() const { return hz_; }
  double seconds(Cycles c) const { return double(c) / hz_; }
  Cycles cycles_for(double true_seconds) const;
  // EndOfRun is thrown from the first hal call at or after this time.
  void set_stop(Cycles t);
  Cycles stop_time() const { return stop_; }
  // Runs fn at time t (device timers). Events at equal times run in scheduling order.
  void schedule(Cycles t, std::function<void()> fn);

  // ---- UART wires, device side -----------------------------------------------------------
  void attach(int port, Device* device) { ports_[port].device = device; }
  // Queues bytes from the device; they arrive back to back at the device's baud rate.
  void device_send(int port, const uint8_t* data, size_t n);
  void device_send(int port, const std::string& s) {
    device_send(port, reinterpret_cast<const uint8_t*>(s.data()), s.size());
  }
  uint32_t mcu_baud(int port) const { return ports_[port].mcu_baud; }
  // When the last byte the device has queued ends.
  Cycles device_free_at(int port) const { return ports_[port].dev_free_at; }
  const PortStats& stats(int port) const { return ports_[port].stats; }

  // ---- pins --------------------------------------------------------------------------------
  uint8_t pin_mode(int pin) const { return pins_[pin].mode; }
  uint8_t pin_level(int pin) const {
    const Pin& p = pins_[pin];
    if (p.mode == 1) return p.level;
    if (p.external >= 0) return uint8_t(p.external);
    return p.mode == 2 ? 1 : 0;
  }
  // Drives an input from outside: 0/1, or -1 to leave it to its pull-up.
  void set_external(int pin, int level) {
    pins_[pin].external = int8_t(level);
    ++epoch_;
  }
  // Called when the firmware changes an output level.
  std::function<void(int pin, uint8_t level, Cycles t)> on_pin_write;

  // ---- flash area and NVM ----------------------------------------------------------------
  FlashMemory& flash_memory() { return flash_; }
  FlashArea& flash() { return flash_.area(); }
  NvmState& nvm() { return flash_.nvm(); }
  uint64_t flash_erases() const { return flash_.erases(); }
  uint64_t flash_writes() const { return flash_.writes(); }
  uint64_t flash_overwrites() const { return flash_.overwrites(); }
  uint64_t nvm_commands() const { return flash_.nvm_commands(); }
  // Fault injection (FlashMemory::fail_after): the hal's flash calls then return 0.
  void fail_flash_after(int64_t writes, int64_t erases = -1) { flash_.fail_after(writes, erases); }
  // A power cut inside the flash work (FlashMemory::cut_after_steps).
  void cut_flash_after_steps(int64_t steps) { flash_.cut_after_steps(steps); }
  uint64_t flash_steps() const { return flash_.steps(); }
  void save_flash() const { flash_.save(); }

  // ---- heap: the RAM above the statics, which a reset takes back with the rest -------------
  void* heap_realloc(void* block, size_t size);
  void heap_free(void* block);
  // The image that owned the live blocks is gone (a reset reloads it): free them all.
  void release_heap();
  size_t heap_blocks() const { return heap_.size(); }

  // ---- SD card slot (sim/sd_card.h) on the SPI bus; empty by default -----------------------
  // Each byte on the bus costs its 8 clocks (the SERCOM clock is 24 MHz / n: 12 MHz, 400 kHz...)
  // on top of the hal call. A poll of a card that holds MISO (busy, or before a read's token)
  // with nothing new since the previous poll jumps to the end of that wait or the next event.
  void set_card(SdCard* card);
  SdCard* card() const { return card_; }
  uint32_t spi_hz() const;  // the clock the firmware set (0 = bus not started)
  bool spi_selected() const { return spi_selected_; }

  // ---- watchdog and resets ----------------------------------------------------------------
  bool wdt_enabled() const { return wdt_.running(); }
  uint32_t wdt_warnings() const { return wdt_.warnings(); }
  // Fault injection: from time t on, the firmware's watchdog restarts have no effect.
  void starve_watchdog_from(Cycles t) { wdt_.starve_from(t); }
  struct ResetRecord {
    Cycles t;
    std::string cause;
  };
  const std::vector<ResetRecord>& resets() const { return resets_; }
  // Called when time reaches the stop point; when unset, EndOfRun is thrown instead.
  std::function<void()> on_stop;

  // ---- hal entry points (called by the extern "C" hal functions) ---------------------------
  uint64_t hal_cycles() {
    poll_common();
    return now_;
  }
  void hal_delay(uint32_t cycles);
  void hal_poll() { poll_common(); }
  void tcc0_connect_clock();
  void tcc0_configure(uint16_t match, uint16_t prescaler);
  uint8_t tcc0_take_match() {
    uint8_t r = tick_flag_ ? 1 : 0;
    tick_flag_ = false;
    cost();
    return r;
  }
  void pin_set_mode(uint8_t pin, uint8_t mode) {
    if (pin >= kPins || pins_[pin].mode == mode) return cost();
    pins_[pin].mode = mode;
    touch();
  }
  void pin_write(uint8_t pin, uint8_t level);
  uint8_t pin_read(uint8_t pin) {
    poll_common();
    return pin < kPins ? pin_level(pin) : 0;
  }
  void uart_begin(uint8_t port, uint32_t baud);
  void uart_end(uint8_t port);
  uint8_t uart_tx_ready(uint8_t port);
  uint8_t uart_tx_done(uint8_t port);
  void uart_tx_put(uint8_t port, uint8_t byte);
  void uart_tx_irq(uint8_t port, uint8_t enable);
  void wdt_enable(uint32_t reset_counts, uint32_t warning_counts);
  void wdt_disable();
  void wdt_restart() {
    // Not a poll: the firmware also restarts the watchdog inside busy computations (the frame
    // scan), which must cost their time rather than jump to the next event.
    cost();
    if (wdt_.restart(now_, next_hw_, next_event_)) recompute_next();
  }
  [[noreturn]] void halt();
  void flash_read(uint32_t offset, uint8_t* dst, uint32_t len);
  bool flash_erase_row(uint32_t offset);  // false = the controller reported an error
  bool flash_write(uint32_t offset, const uint8_t* src, uint32_t len);
  // NVMCTRL registers and the user row: a read changes nothing, a write may
  uint32_t nvm_reg_read(uint8_t reg) { cost(); return flash_.reg_read(reg); }
  void nvm_reg_write(uint8_t reg, uint32_t value) { flash_.reg_write(reg, value); touch(); }
  uint32_t nvm_mem_read(uint32_t address) { cost(); return flash_.mem_read(address); }
  void nvm_mem_write(uint32_t address, uint32_t word) { flash_.mem_write(address, word); touch(); }
  void spi_begin(uint8_t cs_pin, uint32_t hz);
  void spi_clock(uint32_t hz);
  void spi_select(uint8_t on);
  uint8_t spi_transfer(uint8_t byte);
  void spi_transfer_block(const uint8_t* tx, uint8_t* rx, uint32_t n);

  // Charges one hal call that changes nothing observable / that may change something.
  void cost() { advance(call_cost_); }
  void touch() {
    ++epoch_;
    advance(call_cost_);
  }

 private:
  struct Pin {
    uint8_t mode = 0;
    uint8_t level = 0;
    int8_t external = -1;
  };
  struct Timer {
    Cycles t;
    uint64_t seq;
    std::function<void()> fn;
    bool operator>(const Timer& o) const { return t != o.t ? t > o.t : seq > o.seq; }
  };

  // Most calls find no event before their end: only the clock moves.
  void advance(Cycles dc) {
    const Cycles target = now_ + dc;
    if (deadline_ > target) {
      now_ = target;
      return;
    }
    advance_through_events(dc);
  }
  void advance_through_events(Cycles dc);
  void poll_common() {
    if (epoch_ == poll_epoch_) {
      jump();
    } else {
      advance(call_cost_);
    }
    poll_epoch_ = epoch_;
  }
  // A poll that finds nothing new jumps to the next event (at least the call's own time on).
  void jump() {
    const Cycles next = deadline_;
    if (next == kNever) return jump_to_nothing();
    eventless_polls_ = 0;
    const Cycles target = std::max(next, now_ + call_cost_);
    advance(target - now_);
  }
  void jump_to_nothing();
  void handle_next();
  void handle_hardware_next();
  void recompute_next();
  void recompute_irq();  // the interrupts' sources only: next_hw_ and tx_due_ are current
  void set_in_isr(bool on) {
    in_isr_ = on;
    deadline_ = on ? next_hw_ : next_event_;
  }
  template <class Fn>
  void run_isr(Fn&& fn);
  void end_tx(int port);
  void deliver_rx(UartWire& p);
  void rx_isr(UartWire& p, uint8_t byte);
  void receive_odd_byte(UartWire& p, const UartWire::RxByte& b);  // another speed, late, or port stopped
  [[noreturn]] void mcu_reset(const char* cause);
  Cycles byte_cycles_true(uint32_t baud) const;
  void spi_set_clock(uint32_t hz);
  void spi_select_card(bool on);
  void card_wait_event();  // card_event_ from what the card holds MISO for

  static inline Board* current_ = nullptr;
  Config config_;
  double hz_;
  Cycles call_cost_;
  Cycles loop_cost_;
  Cycles now_ = 0;
  Cycles stop_ = kNever;
  Cycles next_event_ = kNever;  // earliest of everything
  Cycles next_hw_ = kNever;     // earliest event that is not an interrupt
  Cycles deadline_ = kNever;    // what the running code waits for: next_hw_ in a handler, else next_event_
  bool tx_due_ = false;         // a port's data register is empty with its interrupt on
  uint64_t epoch_ = 1;
  uint64_t poll_epoch_ = 0;
  uint64_t eventless_polls_ = 0;
  bool in_isr_ = false;
  FirmwareEntry fw_;

  // TCC0
  bool tcc0_clock_ = false;
  Cycles tick_period_ = 0;
  Cycles next_tick_ = kNever;
  Cycles tick_base_ = 0;
  bool tick_flag_ = false;

  Watchdog wdt_;
  bool halted_ = false;
  std::vector<ResetRecord> resets_;

  std::array<UartWire, kPorts> ports_;
  std::array<Pin, kPins> pins_;

  std::priority_queue<Timer, std::vector<Timer>, std::greater<Timer>> timers_;
  uint64_t timer_seq_ = 0;

  FlashMemory flash_;

  SdCard* card_ = nullptr;
  uint32_t spi_div_ = 0;   // SERCOM BAUD + 1: SPI clock = 24 MHz / spi_div_ (0 = bus off)
  Cycles spi_byte_ = 0;    // 8 SPI clocks
  bool spi_selected_ = false;
  Cycles card_event_ = kNever;  // when the card stops holding MISO
  std::unordered_set<void*> heap_;
};

}  // namespace sim
