// The board's device emulators on their own, without the dispatcher: the watchdog's deadlines and
// the serial wire's registers and arrival times.
#include <gtest/gtest.h>

#include "sim/uart_wire.h"
#include "sim/watchdog.h"

namespace sim {
namespace {

TEST(WatchdogDevice, TheUserRowArmsItAndRestartsMoveTheDeadlinesUntilItIsStarved) {
  Watchdog w;
  w.power_on(0xD8E0C7FFu & ~(1u << 25), 0);  // factory fuses: off
  EXPECT_FALSE(w.running());
  w.power_on((0xBu << 27) | (1u << 25), 1000);  // period 0xB: 16 384 counts
  EXPECT_EQ(w.reset_at(), 1000 + 16384 * Watchdog::kCountCycles);
  EXPECT_EQ(w.warning_at(), kNever);

  w.enable(4096, 2048, 0);
  // a restart moves the earliest event when a deadline was it or comes before it
  EXPECT_TRUE(w.restart(10, w.reset_at(), kNever));
  EXPECT_EQ(w.reset_at(), 10 + 4096 * Watchdog::kCountCycles);
  EXPECT_EQ(w.warning_at(), 10 + 2048 * Watchdog::kCountCycles);
  EXPECT_FALSE(w.restart(20, 0, 0));  // something earlier than both stays first
  w.take_warning();
  EXPECT_EQ(w.warnings(), 1u);
  EXPECT_EQ(w.warning_at(), kNever);

  w.starve_from(100);
  const Cycles due = w.reset_at();
  EXPECT_FALSE(w.restart(200, kNever, kNever));
  EXPECT_EQ(w.reset_at(), due);
  w.end_starving();
  EXPECT_TRUE(w.restart(300, kNever, kNever));
}

TEST(UartWireDevice, BytesLeaveBackToBackAndArriveInOrderOfTheirTimes) {
  UartWire p;
  EXPECT_FALSE(p.put('x', 0));  // stopped: nothing leaves, nothing counted
  p.begin(115200);
  const Cycles byte = UartWire::byte_cycles_mcu(115200);
  ASSERT_TRUE(p.put('a', 100));  // straight into the shift register
  ASSERT_TRUE(p.put('b', 150));  // waits in the data register
  EXPECT_EQ(p.stats.sent, 2u);
  const UartWire::Sent a = p.finish_tx();
  EXPECT_EQ(a.byte, 'a');
  EXPECT_EQ(a.end, 100 + byte);
  EXPECT_EQ(p.shift_end, a.end + byte);  // 'b' starts when 'a' ends
  EXPECT_EQ(p.finish_tx().byte, 'b');
  EXPECT_EQ(p.shift_end, kNever);

  EXPECT_TRUE(UartWire::bauds_match(115200, 117000));
  EXPECT_FALSE(UartWire::bauds_match(115200, 9600));
  EXPECT_FALSE(UartWire::bauds_match(0, 0));

  const uint8_t data[] = {1, 2};
  p.queue(data, 2, 1000, 9600, 50);
  p.queue(data, 1, 1010, 9600, 50);  // after what the device already has on the wire
  EXPECT_EQ(p.rx_next(), 1050u);
  EXPECT_EQ(p.pop_rx().t, 1050u);
  EXPECT_EQ(p.pop_rx().t, 1100u);
  EXPECT_EQ(p.pop_rx().t, 1150u);
  EXPECT_EQ(p.rx_next(), kNever);
}

}  // namespace
}  // namespace sim
