// The simulated board: virtual time, the event dispatcher and the peripherals behind hal.h.
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

constexpr Cycles kWdtCountCycles = kNominalHz / 1024;  // one count of the 1.024 kHz clock
// Flash timing (typical SAMD21 figures): row erase, and programming of one 64-byte page.
constexpr Cycles kRowEraseCycles = 2 * (kNominalHz / 1000);
constexpr Cycles kPageWriteCycles = 1 * (kNominalHz / 1000);
// flash.bin: the area, the two NVM user-row words, the security bit
constexpr size_t kFlashFileSize = HAL_FLASH_AREA_SIZE + 8 + 1;


template <class Fn>
void call_isr(Fn& fn) {
  fn();
}
void call_isr(void (*fn)()) {
  if (fn) fn();
}
}  // namespace


Board::Board(const Config& config) : config_(config) {
  link_hal();
  hz_ = double(kNominalHz) * (1.0 + config.ppm * 1e-6);
  call_cost_ = Cycles(config.call_cost_ns) * kNominalHz / 1000000000u;
  loop_cost_ = Cycles(config.loop_cost_ns) * kNominalHz / 1000000000u;
  flash_.fill(0xFF);
  load_flash();
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
  void* p = std::realloc(block, size);
  if (p || size == 0) {
    if (block) heap_.erase(block);
    if (p) heap_.insert(p);
  }
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
  in_isr_ = false;
  // The user row's fuses arm the watchdog at power-up (enable bit 25, period in bits 27-30).
  uint32_t w0 = nvm_.user_row[0];
  if (w0 & (1u << 25)) {
    uint32_t per = (w0 >> 27) & 0xF;
    wdt_period_ = (Cycles(8) << std::min<uint32_t>(per, 11)) * kWdtCountCycles;
    wdt_reset_at_ = now_ + wdt_period_;
  } else {
    wdt_reset_at_ = kNever;
  }
  wdt_warning_at_ = kNever;
  for (auto& p : ports_) {
    p.mcu_baud = 0;
    p.shift_byte = -1;
    p.shift_end = kNever;
    p.data_byte = -1;
    p.tx_irq = false;
  }
  for (auto& pin : pins_) {
    pin.mode = 0;
    pin.level = 0;
  }
  nvm_ctrlb_ = 0;
  nvm_addr_ = 0;
  nvm_page_[0] = nvm_page_[1] = 0xFFFFFFFFu;
  spi_set_clock(0);
  spi_select_card(false);  // the chip-select pin floats up with the MCU in reset
  ++epoch_;
  recompute_next();
}

void Board::mcu_reset(const char* cause) {
  resets_.push_back(ResetRecord{now_, cause});
  wdt_starve_from_ = kNever;  // the fault was the old firmware run's
  in_isr_ = false;
  wdt_reset_at_ = kNever;
  wdt_warning_at_ = kNever;
  throw McuReset{cause};
}

void Board::charge_loop_pass() { advance(loop_cost_); }

// ---- time and dispatch ---------------------------------------------------------------------

void Board::recompute_next() {
  Cycles hw = std::min({stop_, wdt_reset_at_, card_event_});
  if (!timers_.empty()) hw = std::min(hw, timers_.top().t);
  Cycles irq = std::min(next_tick_, wdt_warning_at_);
  for (const auto& p : ports_) {
    hw = std::min(hw, p.shift_end);  // kNever while the shift register is empty
    irq = std::min(irq, p.rx_next);
    if (p.tx_irq && p.data_byte < 0) irq = std::min(irq, now_);
  }
  next_hw_ = hw;
  next_event_ = std::min(hw, irq);
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
  if (wdt_reset_at_ <= now_) mcu_reset(halted_ ? "watchdog after halt" : "watchdog starved");
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

void Board::handle_next() {
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
  for (int i = 0; i < kPorts; ++i) {
    if (ports_[i].rx_next <= now_) {
      deliver_rx(i);
      return;
    }
  }
  for (int i = 0; i < kPorts; ++i) {
    Port& p = ports_[i];
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
  if (wdt_warning_at_ <= now_) {
    wdt_warning_at_ = kNever;
    ++wdt_warnings_;
    recompute_next();
    run_isr(fw_.wdt_warning);
    return;
  }
  recompute_next();
}

template <class Fn>
void Board::run_isr(Fn&& fn) {
  in_isr_ = true;
  ++epoch_;
  call_isr(fn);
  in_isr_ = false;
  ++epoch_;
  recompute_next();
}

void Board::jump() {
  Cycles target = in_isr_ ? next_hw_ : next_event_;
  if (target == kNever) {
    // nothing will ever happen: the poll just costs its time (a firmware spinning here for
    // ever is caught by the stop point, or by this limit when there is none)
    if (++eventless_polls_ > 10000000) throw std::runtime_error("firmware waits for an event that never comes");
    target = now_;
  } else {
    eventless_polls_ = 0;
  }
  target = std::max(target, now_ + call_cost_);
  advance(target - now_);
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

bool Board::bauds_match(uint32_t a, uint32_t b) {
  if (a == b) return a != 0;
  if (a == 0 || b == 0) return false;
  double r = double(a) / double(b);
  return r > 0.98 && r < 1.02;
}

Cycles Board::byte_cycles_mcu(uint32_t baud) const {
  return baud ? (Cycles(10) * kNominalHz + baud / 2) / baud : 0;
}

Cycles Board::byte_cycles_true(uint32_t baud) const {
  return baud ? Cycles(std::llround(10.0L * hz_ / baud)) : 0;
}

void Board::uart_begin(uint8_t port, uint32_t baud) {
  if (port >= kPorts) return cost();
  ports_[port].mcu_baud = baud;
  ports_[port].mcu_byte = byte_cycles_mcu(baud);
  touch();
}

void Board::uart_end(uint8_t port) {
  if (port >= kPorts) return cost();
  Port& p = ports_[port];
  p.mcu_baud = 0;
  p.tx_irq = false;
  p.data_byte = -1;
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
  const Port& p = ports_[port];
  if (p.data_byte >= 0 || p.shift_byte >= 0) poll_common();
  else cost();
  return (p.data_byte < 0 && p.shift_byte < 0) ? 1 : 0;
}

void Board::load_tx(Port& p, Cycles start) {
  // the data register moves into the idle shift register
  p.shift_byte = p.data_byte;
  p.data_byte = -1;
  p.shift_baud = p.mcu_baud;
  p.shift_end = start + byte_cycles_mcu(p.mcu_baud);
}

void Board::uart_tx_put(uint8_t port, uint8_t byte) {
  if (port >= kPorts) return cost();
  Port& p = ports_[port];
  if (p.mcu_baud == 0) return cost();  // port stopped: nothing leaves
  ++p.stats.sent;
  p.data_byte = byte;
  if (p.shift_byte < 0) load_tx(p, now_);
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
  Port& p = ports_[port];
  uint8_t byte = uint8_t(p.shift_byte);
  uint32_t baud = p.shift_baud;
  Cycles end = p.shift_end;
  p.shift_byte = -1;
  if (p.data_byte >= 0 && p.mcu_baud) {
    load_tx(p, end);
  } else {
    p.shift_end = kNever;
  }
  ++epoch_;
  recompute_next();
  if (!p.device) return;
  if (bauds_match(baud, p.device->baud())) {
    p.device->on_byte(*this, byte, end);
  } else {
    ++p.stats.framing_errors;
  }
}

void Board::device_send(int port, const uint8_t* data, size_t n) {
  Port& p = ports_[port];
  uint32_t baud = p.device ? p.device->baud() : 0;
  Cycles bt = byte_cycles_true(baud ? baud : 9600);
  Cycles t = std::max(now_, p.dev_free_at);
  for (size_t i = 0; i < n; ++i) {
    t += bt;
    p.rx.push_back(RxByte{t, baud, data[i]});
    p.rx_next = std::min(p.rx_next, t);
  }
  p.dev_free_at = t;
  recompute_next();
}

void Board::deliver_rx(int port) {
  Port& p = ports_[port];
  RxByte b = p.rx.front();
  p.rx.pop_front();
  p.rx_next = p.rx.empty() ? kNever : p.rx.front().t;
  ++epoch_;
  if (p.mcu_baud == 0) {
    ++p.stats.dropped;
  } else if (!bauds_match(b.baud, p.mcu_baud)) {
    ++p.stats.framing_errors;
  } else if (now_ - b.t > 2 * p.mcu_byte) {
    ++p.stats.dropped;  // the 2-byte receive FIFO overran while another interrupt ran
  } else {
    uint8_t ok = 0;
    run_isr([&] { ok = fw_.uart_rx ? fw_.uart_rx(uint8_t(port), b.byte) : 0; });
    if (ok) ++p.stats.delivered;
    else ++p.stats.dropped;
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
  wdt_period_ = Cycles(reset_counts) * kWdtCountCycles;
  wdt_warning_offset_ = (warning_counts && warning_counts < reset_counts)
                            ? Cycles(warning_counts) * kWdtCountCycles
                            : 0;
  wdt_reset_at_ = now_ + wdt_period_;
  wdt_warning_at_ = wdt_warning_offset_ ? now_ + wdt_warning_offset_ : kNever;
  recompute_next();
  touch();
}

void Board::wdt_disable() {
  wdt_reset_at_ = kNever;
  wdt_warning_at_ = kNever;
  recompute_next();
  touch();
}


void Board::halt() {
  halted_ = true;
  ++epoch_;
  for (;;) {
    Cycles t = std::min(wdt_reset_at_, stop_);
    if (t == kNever) throw std::runtime_error("firmware halted with no watchdog running");
    advance(std::max(t, now_ + 1) - now_);
  }
}

// ---- flash area and NVM --------------------------------------------------------------------

void Board::flash_read(uint32_t offset, uint8_t* dst, uint32_t len) {
  for (uint32_t i = 0; i < len; ++i)
    dst[i] = (offset + i < flash_.size()) ? flash_[offset + i] : 0xFF;
  cost();
}

bool Board::flash_erase_row(uint32_t offset) {
  if (offset >= flash_.size()) {
    cost();
    return false;
  }
  uint32_t row = offset / 256 * 256;
  ++flash_erases_;
  ++epoch_;
  if (flash_erase_fail_after_ >= 0 && int64_t(flash_erases_) > flash_erase_fail_after_) {
    advance(kRowEraseCycles);
    return false;
  }
  if (flash_step()) {
    std::fill(flash_.begin() + row, flash_.begin() + std::min<size_t>(row + 256, flash_.size()), 0xFF);
  }
  advance(kRowEraseCycles);
  save_flash();
  return true;  // a power cut reports nothing: the firmware is gone with it
}

bool Board::flash_write(uint32_t offset, const uint8_t* src, uint32_t len) {
  ++flash_writes_;
  ++epoch_;
  uint32_t pages = len ? ((offset + len - 1) / 64 - offset / 64 + 1) : 0;
  if (flash_fail_after_ >= 0 && int64_t(flash_writes_) > flash_fail_after_) {
    advance(kPageWriteCycles * pages);
    return false;  // the write is lost
  }
  bool page_lands = true;
  for (uint32_t i = 0; i < len && offset + i < flash_.size(); ++i) {
    if (i == 0 || (offset + i) % 64 == 0) page_lands = flash_step();
    if (!page_lands) continue;
    uint8_t& b = flash_[offset + i];
    if (b != 0xFF) ++flash_overwrites_;
    b &= src[i];
  }
  advance(kPageWriteCycles * pages);
  save_flash();
  return offset < flash_.size();
}

bool Board::flash_step() {
  ++flash_steps_;
  if (flash_steps_left_ < 0) return true;
  if (flash_steps_left_ == 0) return false;
  --flash_steps_left_;
  return true;
}

uint32_t Board::nvm_reg_read(uint8_t reg) {
  cost();
  switch (reg) {
    case 1: return nvm_ctrlb_;
    case 2: return nvm_.security_bit ? (1u << 8) : 0;
    case 3: return nvm_addr_;
    case 4: return 1;  // always ready
    default: return 0;
  }
}

void Board::nvm_reg_write(uint8_t reg, uint32_t value) {
  switch (reg) {
    case 0:
      if ((value >> 8) == 0xA5 && !nvm_.security_bit && nvm_addr_ == 0x402000u) {
        switch (value & 0x7F) {
          case 0x05:  // erase the auxiliary row
            nvm_.user_row[0] = nvm_.user_row[1] = 0xFFFFFFFFu;
            ++nvm_commands_;
            break;
          case 0x44:  // clear the page buffer
            nvm_page_[0] = nvm_page_[1] = 0xFFFFFFFFu;
            ++nvm_commands_;
            break;
          case 0x06:  // write the auxiliary page
            nvm_.user_row[0] &= nvm_page_[0];
            nvm_.user_row[1] &= nvm_page_[1];
            ++nvm_commands_;
            break;
          default: break;
        }
        save_flash();
      }
      break;
    case 1: nvm_ctrlb_ = value; break;
    case 3: nvm_addr_ = value; break;
    default: break;
  }
  touch();
}

uint32_t Board::nvm_mem_read(uint32_t address) {
  cost();
  if (address == 0x804000u) return nvm_.user_row[0];
  if (address == 0x804004u) return nvm_.user_row[1];
  return 0xFFFFFFFFu;
}

void Board::nvm_mem_write(uint32_t address, uint32_t word) {
  if (address == 0x804000u) nvm_page_[0] &= word;
  if (address == 0x804004u) nvm_page_[1] &= word;
  touch();
}

void Board::load_flash() {
  if (config_.flash_file.empty()) return;
  std::ifstream in(config_.flash_file, std::ios::binary);
  if (!in) return;
  std::vector<char> buf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (buf.size() != kFlashFileSize) return;  // not ours: start from an erased area
  std::memcpy(flash_.data(), buf.data(), flash_.size());
  for (int w = 0; w < 2; ++w) {
    uint32_t v = 0;
    for (int b = 0; b < 4; ++b) v |= uint32_t(uint8_t(buf[flash_.size() + 4 * w + b])) << (8 * b);
    nvm_.user_row[w] = v;
  }
  nvm_.security_bit = buf[flash_.size() + 8] != 0;
}

void Board::save_flash() const {
  if (config_.flash_file.empty()) return;
  // a new file renamed over the old: a stop at any moment leaves one whole store or the other
  const std::string tmp = config_.flash_file + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(flash_.data()), std::streamsize(flash_.size()));
    for (int w = 0; w < 2; ++w)
      for (int b = 0; b < 4; ++b) out.put(char((nvm_.user_row[w] >> (8 * b)) & 0xFF));
    out.put(nvm_.security_bit ? 1 : 0);
    out.close();
    if (!out) {
      std::remove(tmp.c_str());
      throw std::runtime_error("cannot write " + config_.flash_file);
    }
  }
  if (std::rename(tmp.c_str(), config_.flash_file.c_str()) != 0) {
    std::remove(tmp.c_str());
    throw std::runtime_error("cannot write " + config_.flash_file);
  }
}

}  // namespace sim
