// The host link as the main loop runs it: answers on the wire, the link-speed change, transparent
// mode both ways, and the restart request.
#include <string>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "host/zrx03.h"
#include "sensor/sensor.h"
#include "settings/virtual_e2prom.h"
#include "unit/host/host_fixture.h"

namespace olas::test {
namespace {

class Link : public HostTest {};

TEST_F(Link, AnswerLeavesOnTheNextPassAfterTheBurst) {
  SendAndLoop(HostFrame("$ZRX03,1,5"), 300);
  EXPECT_EQ(host.text, HostFrame("$OLA,01,01,05,00001"));
  EXPECT_EQ(board.stats(0).framing_errors, 0u);
}

TEST_F(Link, SpeedChangeRejectedAtTheOldSpeedAcceptedAtTheNew) {
  SendAndLoop(HostFrame("$ZRX03,13,9"), 300);
  EXPECT_EQ(host.text, HostFrame("$OLA,13,33"));
  EXPECT_EQ(board.mcu_baud(0), 38400u);
  EXPECT_EQ(lectura_variable_Baudrate_ZRX(), 5);

  host.text.clear();
  console.text.clear();
  board.device_send(0, HostFrame("$ZRX03,13,8"));
  host.set_baud(115200);  // the host follows as soon as it has sent
  LoopFor(300);
  EXPECT_EQ(board.mcu_baud(0), 115200u);
  EXPECT_EQ(host.text, HostFrame("$OLA,13,01"));
  EXPECT_EQ(lectura_variable_Baudrate_ZRX(), 8);
  EXPECT_NE(console.text.find("\t\t\t\t==> Actualizar Baudrate en ZRX: 115200 OK.\r\n"), std::string::npos)
      << console.text;
  EXPECT_EQ(board.stats(0).framing_errors, 0u);

  // a host that stayed at 38400 would have heard nothing but garbage
  host.text.clear();
  host.set_baud(38400);
  Serial.print("x");
  run_ms(5);
  EXPECT_EQ(host.text, "");
  EXPECT_EQ(board.stats(0).framing_errors, 1u);

  // the stored code survives a reset: the next start-up opens the link at 115200
  host.set_baud(115200);
  Serial.end();
  EXPECT_EQ(Establecer_Baudrate_ZRX(), 1);
  EXPECT_EQ(board.mcu_baud(0), 115200u);
  SendAndLoop(HostFrame("$ZRX03,1,19"), 300);
  EXPECT_EQ(host.text, HostFrame("$OLA,01,01,19,8"));
}

TEST_F(Link, TransparentModePassesBytesBothWaysUnchanged) {
  SendAndLoop(HostFrame("$ZRX03,14,1"), 300);
  EXPECT_EQ(host.text, HostFrame("$OLA,14,01"));
  EXPECT_EQ(sensor.text, "");  // it was not transparent yet when the command arrived
  host.text.clear();

  // a binary burst from the host reaches the sensor as it is, and gets no answer
  std::string burst;
  for (int i = 0; i < 100; ++i) burst.push_back(char((i * 37 + 11) & 0xFF));
  burst += std::string("\0\xFF\x5A$ZRX03*", 10);
  SendAndLoop(burst, 300);
  EXPECT_EQ(sensor.text, burst);
  EXPECT_EQ(host.text, "");

  // what the sensor sends reaches the host as it is
  std::string from_sensor = std::string("\xFF\x5A\x09\x00\x10\x00", 6) + std::string(20, '\x33') + "\r\n";
  board.device_send(2, from_sensor);
  LoopFor(50);
  EXPECT_EQ(host.text, from_sensor);

  // commands still work, and are forwarded too: the way out of transparent mode
  host.text.clear();
  sensor.text.clear();
  SendAndLoop(HostFrame("$ZRX03,14,0"), 300);
  EXPECT_EQ(host.text, HostFrame("$OLA,14,01"));
  EXPECT_EQ(sensor.text, HostFrame("$ZRX03,14,0"));
  EXPECT_EQ(CTE_MODO_TRANSPARENTE, 0);
  sensor.text.clear();
  SendAndLoop(burst, 300);
  EXPECT_EQ(sensor.text, "");
}

// Keeps when the last byte arrived.
class TimedCapture : public Capture {
 public:
  TimedCapture() : Capture(38400) {}
  void on_byte(sim::Board& b, uint8_t byte, sim::Cycles t) override {
    Capture::on_byte(b, byte, t);
    last = t;
  }
  sim::Cycles last = 0;
};

TEST_F(Link, RestartRequestAnswersThenResetsAboutOneSecondLater) {
  TimedCapture timed;
  board.attach(0, &timed);
  board.device_send(0, HostFrame("$ZRX03,1,2"));
  EXPECT_THROW(
      for (;;) {
        loop();
        run_ms(1);
      },
      sim::McuReset);
  EXPECT_EQ(timed.text, HostFrame("$OLA,01,01"));
  ASSERT_FALSE(board.resets().empty());
  EXPECT_EQ(board.resets().back().cause, "watchdog after halt");
  // 0.9 to 1 s of waiting after the answer, then the watchdog's 4 s
  double after = double(board.resets().back().t - timed.last) / 48e6;
  EXPECT_GE(after, 4.85);
  EXPECT_LE(after, 5.05);
}

}  // namespace
}  // namespace olas::test
