// The simulated board: virtual time, the event dispatcher, TCC0, the pins, the heap and the SPI
// bus; the flash, the serial wires and the watchdog are devices of their own.
#include "sim/board.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "sim/sd_card.h"

namespace sim {

void link_hal();  // hal.cpp: makes sure the extern "C" hal functions are linked in

namespace {

template <class Fn>
void call_isr(Fn& fn) {
  fn();
}
void call_isr(void (*fn)()) {
  if (fn) fn();
}
}  // namespace


Board::Board(const Config& config) : config_(config), flash_(config.flash_file) {
  link_hal();
  hz_ = double(kNominalHz) * (1.0 + config.ppm * 1e-6);
  call_cost_ = Cycles(config.call_cost_ns) * kNominalHz / 1000000000u;
  loop_cost_ = Cycles(config.loop_cost_ns) * kNominalHz / 1000000000u;
  if (!current_) current_ = this;
}

Board::~Board() {
  if (current_ == this) current_ = nullptr;
}

Cycles Board::cycles_for(double true_seconds) const {
  return Cycles(std::llround(static_cast<long double>(true_seconds) * hz_));
}

void Board::set_stop(Cycles t) {
  stop_ = t;
  recompute_next();
}

void Board::schedule(Cycles t, std::function<void()> fn) {
  timers_.push(Timer{std::max(t, now_), timer_seq_++, std::move(fn)});
  recompute_next();
}

// ---- heap ----------------------------------------------------------------------------------

void* Board::heap_realloc(void* block, size_t size) {
  // out of the set first: the old pointer is not used once realloc has taken it
  const bool known = block && heap_.erase(block) > 0;
  void* p = std::realloc(block, size);
  if (p) heap_.insert(p);
  else if (size != 0 && known) heap_.insert(block);  // it failed: the old block stays
  return p;
}

void Board::heap_free(void* block) {
  if (!block) return;
  heap_.erase(block);
  std::free(block);
}

void Board::release_heap() {
  for (void* p : heap_) std::free(p);
  heap_.clear();
}

// ---- reset ---------------------------------------------------------------------------------

void Board::power_on_reset() {
  // the card's cached blocks reach the image at every boot, so a crash of the simulation
  // itself loses at most what the firmware wrote since its last boot
  if (card_) card_->flush();
  tcc0_clock_ = false;
  tick_period_ = 0;
  next_tick_ = kNever;
  tick_flag_ = false;
  halted_ = false;
  set_in_isr(false);
  wdt_.power_on(flash_.nvm().user_row[0], now_);
  for (auto& p : ports_) p.reset();
  for (auto& pin : pins_) {
    pin.mode = 0;
    pin.level = 0;
  }
  flash_.reset_controller();
  spi_set_clock(0);
  spi_select_card(false);  // the chip-select pin floats up with the MCU in reset
  ++epoch_;
  recompute_next();
}

void Board::mcu_reset(const char* cause) {
  resets_.push_back(ResetRecord{now_, cause});
  wdt_.end_starving();  // the fault was the old firmware run's
  wdt_.stop();
  set_in_isr(false);
  recompute_next();
  throw McuReset{cause};
}

void Board::charge_loop_pass() { advance(loop_cost_); }

// ---- time and dispatch ---------------------------------------------------------------------

void Board::recompute_next() {
  Cycles hw = std::min({stop_, wdt_.reset_at(), card_event_});
  if (!timers_.empty()) hw = std::min(hw, timers_.top().t);
  bool tx_due = false;
  for (const auto& p : ports_) {
    hw = std::min(hw, p.shift_end);  // kNever while the shift register is empty
    tx_due |= p.tx_irq && p.data_byte < 0;
  }
  next_hw_ = hw;
  tx_due_ = tx_due;
  recompute_irq();
}

[[gnu::always_inline]] inline void Board::recompute_irq() {
  static_assert(kPorts == 4, "the receive deadlines are read port by port");
  const Cycles rx = std::min(std::min(ports_[0].rx_next(), ports_[1].rx_next()),
                                    std::min(ports_[2].rx_next(), ports_[3].rx_next()));
  Cycles irq = std::min(std::min(next_tick_, wdt_.warning_at()), rx);
  if (tx_due_) irq = std::min(irq, now_);  // the data-register-empty interrupt is due at once
  next_event_ = std::min(next_hw_, irq);
  deadline_ = in_isr_ ? next_hw_ : next_event_;
}

void Board::advance_through_events(Cycles dc) {
  Cycles target = now_ + dc;
  if (in_isr_) {
    // Inside an interrupt only the hardware moves on; other interrupts wait.
    while (next_hw_ <= target) {
      now_ = std::max(now_, next_hw_);
      handle_hardware_next();
    }
    now_ = std::max(now_, target);
    return;
  }
  while (next_event_ <= target) {
    Cycles before = now_ = std::max(now_, next_event_);
    handle_next();
    // an interrupt's own time delays the interrupted code
    target += now_ - before;
  }
  now_ = std::max(now_, target);
}

void Board::handle_hardware_next() {
  // stop first, then the watchdog, the wires, the world's timers
  if (stop_ <= now_) {
    if (on_stop) {
      on_stop();
      recompute_next();
      return;
    }
    throw EndOfRun{};
  }
  if (wdt_.reset_at() <= now_) mcu_reset(halted_ ? "watchdog after halt" : "watchdog starved");
  for (int i = 0; i < kPorts; ++i) {
    if (ports_[i].shift_byte >= 0 && ports_[i].shift_end <= now_) {
      end_tx(i);
      recompute_next();
      return;
    }
  }
  if (!timers_.empty() && timers_.top().t <= now_) {
    auto fn = timers_.top().fn;
    timers_.pop();
    ++epoch_;
    fn();
    recompute_next();
    return;
  }
  if (card_event_ <= now_) {
    card_event_ = kNever;  // the card's MISO changes: the next poll must look
    ++epoch_;
  }
  recompute_next();
}

[[gnu::always_inline]] inline void Board::handle_next() {
  if (next_hw_ <= now_) {
    handle_hardware_next();
    return;
  }
  // interrupts in priority order: TCC0 first
  if (next_tick_ <= now_) {
    tick_flag_ = true;
    if (now_ - next_tick_ < tick_period_) {
      next_tick_ += tick_period_;  // the usual case, without a division
    } else {
      Cycles k = (now_ - tick_base_) / tick_period_ + 1;  // ticks that fell due meanwhile collapse
      next_tick_ = tick_base_ + k * tick_period_;
    }
    // no recompute here: inside the handler only next_hw_ counts, and run_isr recomputes after
    run_isr(fw_.tcc0);
    return;
  }
  for (UartWire& p : ports_) {
    if (p.rx_next() <= now_) {
      deliver_rx(p);
      return;
    }
  }
  for (int i = 0; i < kPorts; ++i) {
    UartWire& p = ports_[i];
    if (p.tx_irq && p.data_byte < 0) {
      uint64_t sent = p.stats.sent;
      run_isr([this, i] {
        if (fw_.uart_tx) fw_.uart_tx(uint8_t(i));
      });
      // a handler that neither sends nor disables its interrupt would spin for ever
      if (p.tx_irq && p.data_byte < 0 && p.stats.sent == sent) p.tx_irq = false;
      recompute_next();
      return;
    }
  }
  if (wdt_.warning_at() <= now_) {
    wdt_.take_warning();
    recompute_next();
    run_isr(fw_.wdt_warning);
    return;
  }
  recompute_next();
}

template <class Fn>
void Board::run_isr(Fn&& fn) {
  set_in_isr(true);
  ++epoch_;
  call_isr(fn);
  in_isr_ = false;  // recompute_irq sets the deadline
  ++epoch_;
  // the handler's hal calls kept the hardware's events current; only the interrupt that ran moved
  recompute_irq();
}

void Board::jump_to_nothing() {
  // nothing will ever happen: the poll just costs its time (a firmware spinning here for ever is
  // caught by the stop point, or by this limit when there is none)
  if (++eventless_polls_ > 10000000) throw std::runtime_error("firmware waits for an event that never comes");
  advance(call_cost_);
}

void Board::hal_delay(uint32_t cycles) {
  ++epoch_;
  advance(cycles);
}


// ---- TCC0 ----------------------------------------------------------------------------------

void Board::tcc0_connect_clock() {
  tcc0_clock_ = true;
  touch();
}

void Board::tcc0_configure(uint16_t match, uint16_t prescaler) {
  static const uint16_t kValid[] = {1, 2, 4, 8, 16, 64, 256, 1024};
  if (std::find(std::begin(kValid), std::end(kValid), prescaler) == std::end(kValid)) prescaler = 1;
  tick_flag_ = false;
  tick_period_ = Cycles(match + 1u) * prescaler;
  tick_base_ = now_;
  next_tick_ = tcc0_clock_ ? now_ + tick_period_ : kNever;
  recompute_next();
  touch();
}


// ---- pins ----------------------------------------------------------------------------------


void Board::pin_write(uint8_t pin, uint8_t level) {
  if (pin >= kPins) return cost();
  level = level ? 1 : 0;
  if (pins_[pin].level == level) return cost();
  pins_[pin].level = level;
  touch();
  if (on_pin_write && pins_[pin].mode == 1) on_pin_write(pin, level, now_);
}


// ---- UARTs ---------------------------------------------------------------------------------

Cycles Board::byte_cycles_true(uint32_t baud) const {
  return baud ? Cycles(std::llround(10.0L * hz_ / baud)) : 0;
}

void Board::uart_begin(uint8_t port, uint32_t baud) {
  if (port >= kPorts) return cost();
  ports_[port].begin(baud);
  touch();
}

void Board::uart_end(uint8_t port) {
  if (port >= kPorts) return cost();
  ports_[port].end();
  recompute_next();
  touch();
}

uint8_t Board::uart_tx_ready(uint8_t port) {
  if (port >= kPorts) return 0;
  if (ports_[port].data_byte >= 0) poll_common();
  else cost();
  return ports_[port].data_byte < 0 ? 1 : 0;
}

uint8_t Board::uart_tx_done(uint8_t port) {
  if (port >= kPorts) return 1;
  const UartWire& p = ports_[port];
  if (p.data_byte >= 0 || p.shift_byte >= 0) poll_common();
  else cost();
  return (p.data_byte < 0 && p.shift_byte < 0) ? 1 : 0;
}

void Board::uart_tx_put(uint8_t port, uint8_t byte) {
  if (port >= kPorts) return cost();
  if (!ports_[port].put(byte, now_)) return cost();  // port stopped: nothing leaves
  recompute_next();
  touch();
}

void Board::uart_tx_irq(uint8_t port, uint8_t enable) {
  if (port >= kPorts) return cost();
  ports_[port].tx_irq = enable != 0;
  recompute_next();
  touch();
}

void Board::end_tx(int port) {
  UartWire& p = ports_[port];
  const UartWire::Sent sent = p.finish_tx();
  ++epoch_;
  recompute_next();
  if (!p.device) return;
  if (UartWire::bauds_match(sent.baud, p.device->baud())) {
    p.device->on_byte(*this, sent.byte, sent.end);
  } else {
    ++p.stats.framing_errors;
  }
}

void Board::device_send(int port, const uint8_t* data, size_t n) {
  UartWire& p = ports_[port];
  const uint32_t baud = p.device ? p.device->baud() : 0;
  p.queue(data, n, now_, baud, byte_cycles_true(baud ? baud : 9600));
  recompute_next();
}

// Every byte from a device passes here: the usual one (both ends at one speed, taken in time)
// goes straight to the handler.
[[gnu::always_inline]] inline void Board::deliver_rx(UartWire& p) {
  const UartWire::RxByte b = p.pop_rx();
  ++epoch_;
  if (b.baud == p.mcu_baud && b.baud != 0 && now_ - b.t <= 2 * p.mcu_byte) {
    rx_isr(p, b.byte);
  } else {
    receive_odd_byte(p, b);
  }
}

void Board::rx_isr(UartWire& p, uint8_t byte) {
  const uint8_t port = uint8_t(&p - ports_.data());
  uint8_t ok = 0;
  run_isr([&] { ok = fw_.uart_rx ? fw_.uart_rx(port, byte) : 0; });
  if (ok) ++p.stats.delivered;
  else ++p.stats.dropped;
}

void Board::receive_odd_byte(UartWire& p, const UartWire::RxByte& b) {
  if (p.mcu_baud == 0) {
    ++p.stats.dropped;
  } else if (!UartWire::bauds_match(b.baud, p.mcu_baud)) {
    ++p.stats.framing_errors;
  } else if (now_ - b.t > 2 * p.mcu_byte) {
    ++p.stats.dropped;  // the 2-byte receive FIFO overran while another interrupt ran
  } else {
    rx_isr(p, b.byte);
    return;
  }
  recompute_next();
}

// ---- SPI bus and the card slot ----------------------------------------------------------------

void Board::set_card(SdCard* card) {
  card_ = card;
  if (card_) card_->spi_select(spi_selected_);
  card_event_ = kNever;
  ++epoch_;
  recompute_next();
}

uint32_t Board::spi_hz() const { return spi_div_ ? kNominalHz / 2 / spi_div_ : 0; }

void Board::spi_set_clock(uint32_t hz) {
  // the fastest clock that does not exceed hz; the SERCOM's BAUD register stops at 255
  constexpr uint32_t kRef = kNominalHz / 2;
  if (hz == 0) {
    spi_div_ = 0;
    spi_byte_ = 0;
    return;
  }
  spi_div_ = std::clamp<uint32_t>((kRef + hz - 1) / hz, 1, 256);
  spi_byte_ = Cycles(16) * spi_div_;
}

void Board::spi_select_card(bool on) {
  spi_selected_ = on;
  if (card_) card_->spi_select(on);
}

void Board::spi_begin(uint8_t, uint32_t hz) {
  spi_set_clock(hz ? hz : 1);
  spi_select_card(false);
  touch();
}

void Board::spi_clock(uint32_t hz) {
  if (spi_div_) spi_set_clock(hz ? hz : 1);
  touch();
}

void Board::spi_select(uint8_t on) {
  spi_select_card(on != 0);
  touch();
}

void Board::card_wait_event() {
  Cycles e = kNever;
  if (card_) {
    const SdCard::SpiWait w = card_->spi_wait();
    if (w.active && std::isfinite(w.until)) e = Cycles(std::max(0.0, std::ceil(w.until * hz_))) + 1;
  }
  if (e != card_event_) {
    card_event_ = e;
    recompute_next();
  }
}

uint8_t Board::spi_transfer(uint8_t byte) {
  if (!spi_div_) {
    cost();
    return 0xFF;
  }
  SdCard::SpiWait w;
  if (card_ && byte == 0xFF) w = card_->spi_wait();
  // only while the wait outlasts this byte: a poll that lands on its end must read the change
  if (w.active && epoch_ == poll_epoch_ && w.until > seconds(now_ + call_cost_ + spi_byte_)) {
    jump();
    advance(spi_byte_);
  } else {
    advance(call_cost_ + spi_byte_);
  }
  const uint8_t rx = card_ ? card_->spi_exchange(byte, seconds(now_)) : 0xFF;
  // a poll that finds the card still holding MISO has changed nothing
  if (w.active && rx == w.level && card_->spi_wait().active) {
    poll_epoch_ = epoch_;
  } else {
    ++epoch_;
  }
  card_wait_event();
  return rx;
}

void Board::spi_transfer_block(const uint8_t* tx, uint8_t* rx, uint32_t n) {
  if (!spi_div_) {
    cost();
    if (rx) std::memset(rx, 0xFF, n);
    return;
  }
  advance(call_cost_ + Cycles(n) * spi_byte_);
  if (card_) card_->spi_exchange_block(tx, rx, n, seconds(now_), seconds(spi_byte_));
  else if (rx) std::memset(rx, 0xFF, n);
  ++epoch_;
  card_wait_event();
}

// ---- watchdog ------------------------------------------------------------------------------

void Board::wdt_enable(uint32_t reset_counts, uint32_t warning_counts) {
  wdt_.enable(reset_counts, warning_counts, now_);
  recompute_next();
  touch();
}

void Board::wdt_disable() {
  wdt_.stop();
  recompute_next();
  touch();
}


void Board::halt() {
  halted_ = true;
  ++epoch_;
  for (;;) {
    Cycles t = std::min(wdt_.reset_at(), stop_);
    if (t == kNever) throw std::runtime_error("firmware halted with no watchdog running");
    advance(std::max(t, now_ + 1) - now_);
  }
}

// ---- flash area and NVM (sim/flash_memory.h): the board charges their time ----------------

void Board::flash_read(uint32_t offset, uint8_t* dst, uint32_t len) {
  flash_.read(offset, dst, len);
  cost();
}

bool Board::flash_erase_row(uint32_t offset) {
  if (offset >= HAL_FLASH_AREA_SIZE) {
    cost();
    return false;
  }
  ++epoch_;
  const bool ok = flash_.erase_row(offset);
  advance(FlashMemory::kRowEraseCycles);
  if (ok) flash_.save();
  return ok;
}

bool Board::flash_write(uint32_t offset, const uint8_t* src, uint32_t len) {
  ++epoch_;
  const bool ok = flash_.write(offset, src, len);
  advance(FlashMemory::kPageWriteCycles * FlashMemory::pages(offset, len));
  if (!ok) return false;  // the write is lost
  flash_.save();
  return offset < HAL_FLASH_AREA_SIZE;
}

}  // namespace sim
