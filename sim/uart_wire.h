// One serial port of the MCU and the wire to the device at its far end: the SERCOM's data and
// shift registers, the bytes on their way in by arrival time, and the port's counters. The board
// dispatches its events (a byte shifted out, a byte received) and charges the time.
#pragma once

#include <cstdint>
#include <deque>

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
  std::deque<RxByte> rx;     // bytes from the device, by arrival time
  Cycles rx_next = kNever;   // rx.front().t, kNever when empty: the dispatcher's hot field
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
    Cycles t = now > dev_free_at ? now : dev_free_at;
    for (size_t i = 0; i < n; ++i) {
      t += byte_time;
      rx.push_back(RxByte{t, baud, data[i]});
      if (t < rx_next) rx_next = t;
    }
    dev_free_at = t;
  }
  RxByte pop_rx() {
    const RxByte b = rx.front();
    rx.pop_front();
    rx_next = rx.empty() ? kNever : rx.front().t;
    return b;
  }

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
