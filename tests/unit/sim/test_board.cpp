// The simulated board on its own, with a stand-in firmware of plain functions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "board/hal.h"
#include "sim/board.h"

namespace {

using sim::Board;
using sim::Cycles;

std::vector<Cycles> g_ticks;
uint32_t g_isr_delay = 0;
std::vector<uint8_t> g_rx;
uint8_t g_rx_accept = 1;

void on_tick() {
  if (hal_tcc0_take_match()) g_ticks.push_back(Board::current()->now());
  if (g_isr_delay && g_ticks.size() <= 3) hal_delay_cycles(g_isr_delay);
}
uint8_t on_rx(uint8_t, uint8_t byte) {
  if (g_rx_accept) g_rx.push_back(byte);
  return g_rx_accept;
}

class Listener : public sim::Device {
 public:
  explicit Listener(uint32_t baud) : baud_(baud) {}
  void on_byte(Board&, uint8_t byte, Cycles t) override { got.emplace_back(byte, t); }
  uint32_t baud() const override { return baud_; }
  std::vector<std::pair<uint8_t, Cycles>> got;
  uint32_t baud_;
};

class BoardTest : public ::testing::Test {
 protected:
  BoardTest() : board(Board::Config{}) {
    board.make_current();
    sim::FirmwareEntry e;
    e.tcc0 = &on_tick;
    e.uart_rx = &on_rx;
    board.set_firmware(e);
    board.power_on_reset();
    g_ticks.clear();
    g_rx.clear();
    g_isr_delay = 0;
    g_rx_accept = 1;
  }
  Board board;
};

TEST_F(BoardTest, TickComesEveryMatchPlusOneCyclesAndReprogrammingActsAtOnce) {
  hal_tcc0_configure(47999, 1);  // no clock connected yet: nothing ticks
  hal_delay_cycles(200000);
  EXPECT_TRUE(g_ticks.empty());

  hal_tcc0_connect_clock();
  Cycles t0 = board.now();
  hal_tcc0_configure(47999, 1);
  hal_delay_cycles(48000 * 3 + 100);
  ASSERT_GE(g_ticks.size(), 3u);
  EXPECT_NEAR(double(g_ticks[0] - t0), 48000.0, 200.0);
  EXPECT_EQ(g_ticks[1] - g_ticks[0], 48000u);
  EXPECT_EQ(g_ticks[2] - g_ticks[1], 48000u);

  Cycles t1 = board.now();
  hal_tcc0_configure(48000, 1);  // period 48001 from now on
  g_ticks.clear();
  hal_delay_cycles(48001 * 2 + 200);
  ASSERT_EQ(g_ticks.size(), 2u);
  EXPECT_NEAR(double(g_ticks[0] - t1), 48001.0, 200.0);
  EXPECT_EQ(g_ticks[1] - g_ticks[0], 48001u);
}

TEST_F(BoardTest, InterruptsDoNotNestAndDueTicksCollapse) {
  hal_tcc0_connect_clock();
  hal_tcc0_configure(47999, 1);
  g_isr_delay = 48000 * 2 + 24000;  // the first three interrupts last 2.5 periods each
  hal_delay_cycles(48000 * 12);
  // the ticks that fell due during a long interrupt run once, right after it
  ASSERT_GE(g_ticks.size(), 4u);
  EXPECT_NEAR(double(g_ticks[1] - g_ticks[0]), 48000 * 2.5, 200);
  EXPECT_NEAR(double(g_ticks[2] - g_ticks[1]), 48000 * 2.5, 200);
  EXPECT_LT(g_ticks.size(), board.now() / 48000 - 1);  // some ticks were lost
}

TEST_F(BoardTest, PollingJumpsToTheNextEventOnlyWhenNothingHappened) {
  hal_tcc0_connect_clock();
  hal_tcc0_configure(47999, 1);
  int polls = 0;
  while (g_ticks.size() < 100) {
    hal_poll();
    ++polls;
  }
  // about two polls per tick, not one per microsecond
  EXPECT_LE(polls, 300);
  EXPECT_NEAR(board.seconds(board.now()), 0.1, 0.002);
}

TEST_F(BoardTest, DeviceBytesArriveAtTheirBaudAndMismatchesAreFramingErrors) {
  Listener gps(9600);
  board.attach(3, &gps);
  hal_uart_begin(3, 9600);
  board.device_send(3, std::string("$GP"));
  hal_delay_cycles(48000 * 2);  // 2 ms: only the first byte (1.04 ms) is in
  EXPECT_EQ(g_rx.size(), 1u);
  hal_delay_cycles(48000 * 2);
  EXPECT_EQ(std::string(g_rx.begin(), g_rx.end()), "$GP");
  EXPECT_EQ(board.stats(3).delivered, 3u);

  hal_uart_begin(3, 115200);
  board.device_send(3, std::string("xy"));
  hal_delay_cycles(48000 * 5);
  EXPECT_EQ(board.stats(3).framing_errors, 2u);
  EXPECT_EQ(g_rx.size(), 3u);

  hal_uart_end(3);
  board.device_send(3, std::string("z"));
  hal_delay_cycles(48000 * 5);
  EXPECT_EQ(board.stats(3).dropped, 1u);

  hal_uart_begin(3, 9600);
  g_rx_accept = 0;  // the driver's ring is full
  board.device_send(3, std::string("w"));
  hal_delay_cycles(48000 * 5);
  EXPECT_EQ(board.stats(3).dropped, 2u);
}

// A device that never pauses: the bytes it queues while earlier ones are still on the wire follow
// them back to back, and a long stream (read bytes are dropped from the queue now and then) comes
// whole and in order, one byte time apart.
TEST_F(BoardTest, AnEndlessStreamArrivesWholeOneByteTimeApart) {
  static std::vector<Cycles> times;
  times.clear();
  sim::FirmwareEntry e;
  e.uart_rx = [](uint8_t, uint8_t byte) -> uint8_t {
    g_rx.push_back(byte);
    times.push_back(Board::current()->now());
    return 1;
  };
  board.set_firmware(e);
  Listener unit(115200);
  board.attach(2, &unit);
  hal_uart_begin(2, 115200);
  std::vector<uint8_t> sent;
  for (int run = 0; run < 120; ++run) {
    std::vector<uint8_t> bytes(100);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(run * 7 + i);
    board.device_send(2, bytes.data(), bytes.size());
    sent.insert(sent.end(), bytes.begin(), bytes.end());
    hal_delay_cycles(48000 * 5);  // 5 ms: about 58 bytes, so the queue never empties
  }
  hal_delay_cycles(48000 * 1000);
  ASSERT_EQ(g_rx, sent);
  const Cycles byte = times[1] - times[0];
  EXPECT_EQ(byte, Cycles(std::llround(10.0 * 48e6 / 115200)));
  for (size_t i = 1; i < times.size(); ++i) ASSERT_EQ(times[i] - times[i - 1], byte) << "byte " << i;
}

TEST_F(BoardTest, TransmittedBytesLeaveBackToBackAtThePortSpeed) {
  Listener host(115200);
  board.attach(0, &host);
  hal_uart_begin(0, 115200);
  for (int i = 0; i < 20; ++i) {
    while (!hal_uart_tx_ready(0)) {
    }
    hal_uart_tx_put(0, uint8_t('a' + i));
  }
  while (!hal_uart_tx_done(0)) {
  }
  ASSERT_EQ(host.got.size(), 20u);
  Cycles byte = 4167;  // 10 bits at 115200 baud
  for (size_t i = 1; i < host.got.size(); ++i) EXPECT_EQ(host.got[i].second - host.got[i - 1].second, byte);
  EXPECT_EQ(host.got[19].first, 'a' + 19);

  Listener slow(9600);
  board.attach(0, &slow);
  hal_uart_tx_put(0, 'q');
  while (!hal_uart_tx_done(0)) {
  }
  EXPECT_TRUE(slow.got.empty());
  EXPECT_EQ(board.stats(0).framing_errors, 1u);
}

TEST_F(BoardTest, WatchdogWarnsThenResetsUnlessRestartedAndHaltWaitsForIt) {
  hal_wdt_enable(4096, 2048);
  Cycles t0 = board.now();
  for (int i = 0; i < 100; ++i) hal_delay_cycles(48000 * 30);  // restarted every 30 ms: 3 s
  EXPECT_EQ(board.wdt_warnings(), 1u);
  hal_wdt_restart();
  for (int i = 0; i < 100; ++i) {
    hal_delay_cycles(48000 * 30);
    hal_wdt_restart();
  }
  EXPECT_EQ(board.wdt_warnings(), 1u);
  try {
    for (;;) hal_delay_cycles(48000);
  } catch (const sim::McuReset& r) {
    EXPECT_EQ(r.cause, "watchdog starved");
  }
  ASSERT_EQ(board.resets().size(), 1u);
  double since_restart = board.seconds(board.resets()[0].t) - board.seconds(t0) - 6.0;
  EXPECT_NEAR(since_restart, 4.0, 0.05);

  board.power_on_reset();
  hal_wdt_enable(4096, 2048);
  Cycles t1 = board.now();
  try {
    hal_halt();
  } catch (const sim::McuReset& r) {
    EXPECT_EQ(r.cause, "watchdog after halt");
  }
  EXPECT_NEAR(board.seconds(board.now() - t1), 4.0, 0.01);
}

TEST_F(BoardTest, RestartingInABusyLoopNeverResets) {
  hal_tcc0_connect_clock();
  hal_tcc0_configure(47999, 1);
  hal_wdt_enable(4096, 2048);
  while (board.seconds(board.now()) < 20.0) {
    hal_wdt_restart();
    hal_poll();
  }
  EXPECT_TRUE(board.resets().empty());
  board.starve_watchdog_from(board.now());
  EXPECT_THROW(
      for (;;) hal_wdt_restart(), sim::McuReset);
}

TEST_F(BoardTest, FlashErasesToOnesWritesOnlyClearBitsAndPersists) {
  auto path = std::filesystem::temp_directory_path() / "olas_board_flash_test.bin";
  std::filesystem::remove(path);
  {
    Board::Config c;
    c.flash_file = path.string();
    Board b(c);
    b.make_current();
    uint8_t v = 0x0F, out = 0;
    hal_flash_read(10, &out, 1);
    EXPECT_EQ(out, 0xFF);
    hal_flash_write(10, &v, 1);
    uint8_t w = 0xF3;
    hal_flash_write(10, &w, 1);  // over unerased bytes: only clears bits
    hal_flash_read(10, &out, 1);
    EXPECT_EQ(out, 0x03);
    EXPECT_EQ(b.flash_overwrites(), 1u);
    hal_flash_erase_row(0);
    hal_flash_read(10, &out, 1);
    EXPECT_EQ(out, 0xFF);
    hal_flash_write(300, &v, 1);
    b.nvm().security_bit = false;
    b.fail_flash_after(b.flash_writes());
    hal_flash_write(301, &v, 1);  // lost
    hal_flash_read(301, &out, 1);
    EXPECT_EQ(out, 0xFF);
  }
  Board again(Board::Config{0.0, 1000, 5000, path.string()});
  again.make_current();
  uint8_t out = 0;
  hal_flash_read(300, &out, 1);
  EXPECT_EQ(out, 0x0F);
  std::filesystem::remove(path);
  board.make_current();
}

TEST_F(BoardTest, NvmUserRowTakesCommandsUnlessSecured) {
  EXPECT_EQ(hal_nvm_mem_read(0x804000), 0xD8E0C7FFu);
  hal_nvm_reg_write(HAL_NVM_ADDR, 0x402000);
  hal_nvm_reg_write(HAL_NVM_CTRLA, 0xA505);
  hal_nvm_reg_write(HAL_NVM_CTRLA, 0xA544);
  hal_nvm_mem_write(0x804000, 0xDAE0C7FA);
  hal_nvm_mem_write(0x804004, 0xFFFFFC5D);
  hal_nvm_reg_write(HAL_NVM_CTRLA, 0xA506);
  EXPECT_EQ(board.nvm().user_row[0], 0xDAE0C7FAu);
  EXPECT_EQ(board.nvm().user_row[1], 0xFFFFFC5Du);
  EXPECT_EQ(board.nvm_commands(), 3u);

  board.nvm().security_bit = true;
  EXPECT_EQ(hal_nvm_reg_read(HAL_NVM_STATUS) & 0x100, 0x100u);
  hal_nvm_reg_write(HAL_NVM_CTRLA, 0xA505);
  EXPECT_EQ(board.nvm().user_row[0], 0xDAE0C7FAu);
  EXPECT_EQ(board.nvm_commands(), 3u);
}

TEST_F(BoardTest, ProgrammedFuseArmsTheWatchdogAtPowerUp) {
  board.nvm().user_row[0] = 0xDAE0C7FAu;  // watchdog enabled, period 0xB: 16384 counts
  board.power_on_reset();
  EXPECT_TRUE(board.wdt_enabled());
  Cycles t0 = board.now();
  EXPECT_THROW(hal_halt(), sim::McuReset);
  EXPECT_NEAR(board.seconds(board.now() - t0), 16.0, 0.01);
}

TEST_F(BoardTest, StopPointEndsTheRun) {
  board.set_stop(board.now() + 48000);
  EXPECT_THROW(
      for (;;) hal_delay_cycles(1000), sim::EndOfRun);
}

}  // namespace
