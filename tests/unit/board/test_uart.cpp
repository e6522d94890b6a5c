// Uart: receive and transmit rings on the simulated wires.
#include <gtest/gtest.h>

#include <string>

#include "board/hal.h"
#include "board/uart.h"
#include "support/board_fixture.h"

namespace olas::test {
namespace {

constexpr double kByteMs = 10.0 / 115200 * 1000;  // 10 bits per byte at 115200 baud

std::string Payload(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(char('!' + i % 90));
  return s;
}

// The firmware always has its 1 ms tick, so a poll of an idle port has something to wait for.
void IdleTick() { hal_tcc0_take_match(); }

class UartTest : public BoardFixture {
 protected:
  UartTest() {
    SetTick(&IdleTick);
    hal_tcc0_connect_clock();
    hal_tcc0_configure(47999, 1);
    Serial1.begin(115200);
  }
  void SetTick(void (*handler)()) {
    sim::FirmwareEntry entry = static_firmware();
    entry.tcc0 = handler;
    board.set_firmware(entry);
  }
  double ElapsedMs(sim::Cycles since) const { return double(board.now() - since) / 48000.0; }
};

TEST_F(UartTest, RxRingKeeps63BytesAndDropsThe64th) {
  const std::string sent = Payload(64);
  board.device_send(1, sent);
  run_ms(10);
  EXPECT_EQ(Serial1.available(), 63);
  EXPECT_EQ(board.stats(1).dropped, 1u);
  EXPECT_EQ(Serial1.peek(), sent[0]);  // peek leaves the byte in place
  std::string got;
  for (int c; (c = Serial1.read()) >= 0;) got.push_back(char(c));
  EXPECT_EQ(got, sent.substr(0, 63));

  // the ring wraps around: the next burst arrives whole
  board.device_send(1, "xyz");
  run_ms(1);
  EXPECT_EQ(Serial1.read(), 'x');
  EXPECT_EQ(Serial1.read(), 'y');
  EXPECT_EQ(Serial1.read(), 'z');
  EXPECT_EQ(Serial1.read(), -1);
}

TEST_F(UartTest, PollingAnEmptyPortLetsTheNextByteArrive) {
  sim::Cycles start = board.now();
  board.device_send(1, "A");
  int polls = 0;
  while (Serial1.available() == 0 && polls < 1000) ++polls;
  ASSERT_LT(polls, 1000) << "available() never let time move on";
  EXPECT_GE(ElapsedMs(start), kByteMs);
  EXPECT_EQ(Serial1.read(), 'A');
}

TEST_F(UartTest, BeginAndEndEmptyTheRingsAndBadPortsAreRefused) {
  board.device_send(1, "leftover");
  run_ms(2);
  Serial1.begin(115200);
  EXPECT_EQ(Serial1.available(), 0);

  Serial1.end();
  EXPECT_EQ(Serial1.write(uint8_t('x')), 0u);  // a stopped port sends nothing
  Serial1.flush();                              // and does not wait
  run_ms(1);
  EXPECT_EQ(console.text, "");

  EXPECT_EQ(board_uart_rx_irq(4, 'x'), 0);
  board_uart_tx_irq(255);
}

TEST_F(UartTest, TxLeavesAtTheBaudRateAndBlocksOnlyWhenTheRingIsFull) {
  const std::string text = Payload(100);
  // 65 bytes fit without waiting: shift register, data register and 63 in the ring
  sim::Cycles start = board.now();
  EXPECT_EQ(Serial1.write(text.data(), 65), 65u);
  EXPECT_LT(ElapsedMs(start), 0.5);
  // the rest waits for room: about one byte time per byte beyond 65
  EXPECT_EQ(Serial1.write(text.data() + 65, 35), 35u);
  EXPECT_NEAR(ElapsedMs(start), 35 * kByteMs, 0.3);
  Serial1.flush();
  EXPECT_NEAR(ElapsedMs(start), 100 * kByteMs, 0.1);  // about 8.7 ms
  EXPECT_EQ(console.text, text);

  // each object drives its own port
  Serial.begin(38400);
  Serial.println(-7);
  Serial.flush();
  EXPECT_EQ(host.text, "-7\r\n");
}

// A tick that prints more than the ring holds: the tx interrupt cannot run meanwhile.
void PrintFromTick() {
  hal_tcc0_take_match();
  hal_tcc0_configure(0xFFFF, 1024);  // once is enough
  Serial1.print(Payload(150).c_str());
}

TEST_F(UartTest, PrintingInsideAnInterruptFeedsTheWireItself) {
  SetTick(&PrintFromTick);
  run_ms(30);
  EXPECT_EQ(console.text, Payload(150));
}

// A long tick (a flash commit, say) that printed first: the wire falls idle before the tx
// interrupt can run again, which must then restart it.
void PrintThenStayBusy() {
  hal_tcc0_take_match();
  hal_tcc0_configure(0xFFFF, 1024);
  Serial1.print("Nuevo Directorio");
  hal_delay_cycles(5 * 48000);
}

TEST_F(UartTest, TxInterruptRestartsAWireLeftIdle) {
  SetTick(&PrintThenStayBusy);
  run_ms(10);
  EXPECT_EQ(console.text, "Nuevo Directorio");
}

}  // namespace
}  // namespace olas::test
