// One serial port of the MCU and the wire to the device at its far end: the SERCOM's data and
// shift registers, the bytes on their way in by arrival time, and the port's counters. The board
// dispatches its events (a byte shifted out, a byte received) and charges the time.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/cycles.h"

namespace sim {

class Board;

// A device at the far end of a UART wire (motion unit, GPS receiver, host controller, recorder).
class Device {
 public:
  virtual ~Device() = default;
  // A byte the MCU sent, fully on the wire at time t. Only called when both ends agree on speed.
  virtual void on_byte(Board& board, uint8_t byte, Cycles t) = 0;
  // The device's own baud rate (both ends must match within 2 %, else framing errors).
  virtual uint32_t baud() const = 0;
};

struct PortStats {
  uint64_t delivered = 0;       // bytes that reached the firmware's ring
  uint64_t dropped = 0;         // bytes lost: ring full or port stopped
  uint64_t framing_errors = 0;  // bytes garbled by a speed mismatch (either direction)
  uint64_t sent = 0;            // bytes the MCU put on the wire
};

struct UartWire {
  struct RxByte {
    Cycles t;       // fully received at the MCU pin
    uint32_t baud;  // the device's speed when it sent it
    uint8_t byte;
  };
  // A byte whose last bit has left the MCU.
  struct Sent {
    uint8_t byte;
    uint32_t baud;
    Cycles end;
  };

  Device* device = nullptr;
  uint32_t mcu_baud = 0;  // 0 = stopped
  Cycles mcu_byte = 0;    // a byte's time at mcu_baud
  // transmitter: shift register and data register
  int shift_byte = -1;
  uint32_t shift_baud = 0;
  Cycles shift_end = kNever;
  int data_byte = -1;
  bool tx_irq = false;
  Cycles dev_free_at = 0;    // when the device's side of the wire is free again
  // Bytes from the device, by arrival time, kept as the runs the device sent: the bytes of a run
  // go back to back at one speed, so each one's time is the previous one's plus a byte's time
  // (a queue entry per byte cost more than all the rest of the byte's way to the firmware).
  class RxQueue {
   public:
    bool empty() const { return run_pos_ == runs_.size(); }
    // when the front byte is fully received, kNever when none: the dispatcher's hot field
    Cycles front_t() const { return front_t_; }
    // n bytes, the first fully received at first_t, each next one step later
    void push(const uint8_t* data, size_t n, Cycles first_t, Cycles step, uint32_t baud) {
      if (n == 0) return;
      if (empty()) {
        left_ = n;
        front_t_ = first_t;
      }
      runs_.push_back(Run{first_t, step, n, baud});
      bytes_.insert(bytes_.end(), data, data + n);
    }
    RxByte pop() {
      const Run& r = runs_[run_pos_];
      const RxByte b{front_t_, r.baud, bytes_[pos_++]};
      if (--left_ > 0) {
        front_t_ += r.step;
      } else if (++run_pos_ < runs_.size()) {
        left_ = runs_[run_pos_].len;
        front_t_ = runs_[run_pos_].first_t;
        compact();
      } else {
        runs_.clear();
        bytes_.clear();
        run_pos_ = pos_ = 0;
        front_t_ = kNever;
      }
      return b;
    }

   private:
    struct Run {
      Cycles first_t;
      Cycles step;
      size_t len;
      uint32_t baud;
    };
    // a device that never pauses never empties the queue: drop what was read now and then
    void compact() {
      if (pos_ < 4096 || 2 * pos_ < bytes_.size()) return;
      bytes_.erase(bytes_.begin(), bytes_.begin() + std::ptrdiff_t(pos_));
      runs_.erase(runs_.begin(), runs_.begin() + std::ptrdiff_t(run_pos_));
      pos_ = run_pos_ = 0;
    }
    Cycles front_t_ = kNever;  // first: read for every port at every event
    std::vector<Run> runs_;
    std::vector<uint8_t> bytes_;
    size_t run_pos_ = 0;  // the front run
    size_t pos_ = 0;      // the front byte
    size_t left_ = 0;     // bytes of the front run still queued
  };
  RxQueue rx;
  PortStats stats;

  // Both ends agree when within 2 % (a stopped end never does).
  static bool bauds_match(uint32_t a, uint32_t b) {
    if (a == b) return a != 0;
    if (a == 0 || b == 0) return false;
    const double r = double(a) / double(b);
    return r > 0.98 && r < 1.02;
  }
  // Ten bits at the MCU's nominal clock.
  static Cycles byte_cycles_mcu(uint32_t baud) { return baud ? (Cycles(10) * kNominalHz + baud / 2) / baud : 0; }

  // The SERCOM as a reset leaves it.
  void reset() {
    mcu_baud = 0;
    shift_byte = -1;
    shift_end = kNever;
    data_byte = -1;
    tx_irq = false;
  }
  void begin(uint32_t baud) {
    mcu_baud = baud;
    mcu_byte = byte_cycles_mcu(baud);
  }
  void end() {
    mcu_baud = 0;
    tx_irq = false;
    data_byte = -1;
  }
  // A byte into the data register; false when the port is stopped (nothing leaves).
  bool put(uint8_t byte, Cycles now) {
    if (mcu_baud == 0) return false;
    ++stats.sent;
    data_byte = byte;
    if (shift_byte < 0) load_tx(now);
    return true;
  }
  // The shift register has sent its byte; the data register's next one starts at once.
  Sent finish_tx() {
    const Sent s{uint8_t(shift_byte), shift_baud, shift_end};
    shift_byte = -1;
    if (data_byte >= 0 && mcu_baud) {
      load_tx(s.end);
    } else {
      shift_end = kNever;
    }
    return s;
  }
  // Bytes from the device, back to back from when its side is free, each taking byte_time.
  void queue(const uint8_t* data, size_t n, Cycles now, uint32_t baud, Cycles byte_time) {
    const Cycles t = now > dev_free_at ? now : dev_free_at;
    rx.push(data, n, t + byte_time, byte_time, baud);
    dev_free_at = t + Cycles(n) * byte_time;
  }
  Cycles rx_next() const { return rx.front_t(); }  // kNever when nothing is on its way
  RxByte pop_rx() { return rx.pop(); }

 private:
  // the data register moves into the idle shift register
  void load_tx(Cycles start) {
    shift_byte = data_byte;
    data_byte = -1;
    shift_baud = mcu_baud;
    shift_end = start + byte_cycles_mcu(mcu_baud);
  }
};

}  // namespace sim
