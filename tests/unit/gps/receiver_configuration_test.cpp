// The receiver's configuration: the CFG-MSG frames, waiting for the acknowledgement through the
// synchroniser, repeating after a NAK or silence, and the plain text sender.
#include <gtest/gtest.h>

#include <string>

#include "board/placa.h"
#include "declaraciones.h"
#include "gps/modulo_gps.h"
#include "unit/gps/gps_fixture.h"

namespace olas::test {
namespace {

const Bytes kAck = {0xB5, 0x62, 0x05, 0x01, 0x02, 0x00, 0x06, 0x01, 0x0F, 0x38};
const Bytes kNak = {0xB5, 0x62, 0x05, 0x00, 0x02, 0x00, 0x06, 0x01, 0x0E, 0x33};

Bytes Cat(const std::string& text, const Bytes& b) {
  Bytes r(text.begin(), text.end());
  r.insert(r.end(), b.begin(), b.end());
  return r;
}

class ReceiverConfiguration : public GpsFixture {};

TEST_F(ReceiverConfiguration, CfgMsgFramesCarryTheUbxChecksum) {
  gps.answers = {kAck};
  envio_comando_a_gps(0xF004, 1);
  envio_comando_a_gps(0xF003, 0);
  ASSERT_EQ(gps.commands.size(), 2u);
  EXPECT_EQ(gps.commands[0],
            (Bytes{0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0xF0, 0x04, 0x01, 0xFF, 0x18}));
  EXPECT_EQ(gps.commands[1],
            (Bytes{0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0xF0, 0x03, 0x00, 0xFD, 0x15}));
  EXPECT_EQ(TakeConsole(), "Rx ACK\r\nRx ACK\r\n");
}

TEST_F(ReceiverConfiguration, AckAfterNmeaTextIsFoundByTheSynchroniser) {
  // the receiver's own output, a lone B5 and a B5 without 62 before the answer
  gps.answers = {Cat("$GPGGA,,,,,,0,00,99.99,,,,,,*48\r\n\xB5x\xB5\xB5", kAck)};
  cextraigo_gps = 1;
  envio_comando_a_gps(0xF004, 1);
  cextraigo_gps = 0;
  EXPECT_EQ(gps.commands.size(), 1u);
  std::string console = TakeConsole();
  EXPECT_EQ(console.rfind("GPS TX (0) => 181 98 6 1 3 0 240 4 1 255 24 \r\n", 0), 0u) << console;
  // the held bytes start at the sync; the wait ends once the header is in
  EXPECT_NE(console.find("Rx GPS (4) =>\xB5\x62\x05\x01\r\nRx ACK\r\n"), std::string::npos)
      << console;
  EXPECT_EQ(ibytes_recibidos_trama_gps, 4u);
}

TEST_F(ReceiverConfiguration, NakAndForeignAnswersRepeatTheCommand) {
  const Bytes foreign = {0xB5, 0x62, 0x06, 0x01, 0x03, 0x00};  // an echo, not an ACK class
  const Bytes short_answer = {0xB5, 0x62, 0x05};               // cut before the id
  gps.answers = {kNak, foreign, short_answer, kAck};
  envio_comando_a_gps(0xF001, 0);
  ASSERT_EQ(gps.commands.size(), 4u);
  for (const auto& c : gps.commands) EXPECT_EQ(c, gps.commands[0]);
  EXPECT_EQ(TakeConsole(), "Rx NACK\r\nRx ACK\r\n");
}

TEST_F(ReceiverConfiguration, TwentySilentAttemptsThenTheNextCommand) {
  gps.answers = {Bytes{}};  // silence throughout
  sim::Cycles t0 = board.now();
  envio_comando_a_gps(0xF003, 0);
  double took = board.seconds(board.now() - t0);
  ASSERT_EQ(gps.commands.size(), 20u);
  // each attempt waits 200 ms (a countdown of 10 ms steps: 190 to 200 ms) after its frame
  EXPECT_GT(took, 20 * 0.19);
  EXPECT_LT(took, 20 * 0.215);
  EXPECT_EQ(TakeConsole(), "");  // given up without a message

  // the next command goes out at once, and is answered
  gps.answers.resize(21);
  gps.answers[20] = kAck;
  envio_comando_a_gps(0xF001, 0);
  ASSERT_EQ(gps.commands.size(), 21u);
  EXPECT_EQ(gps.commands[20][7], 0x01);
  EXPECT_EQ(TakeConsole(), "Rx ACK\r\n");
}

TEST_F(ReceiverConfiguration, TraceNumbersTheAttempts) {
  gps.answers = {Bytes{}, kAck};
  cextraigo_gps = 1;
  envio_comando_a_gps(0xF005, 0);
  cextraigo_gps = 0;
  std::string console = TakeConsole();
  EXPECT_NE(console.find("GPS TX (0) => 181 98 6 1 3 0 240 5 0 255 25 \r\nRx GPS (0) =>\r\n"),
            std::string::npos)
      << console;
  EXPECT_NE(console.find("GPS TX (1) => "), std::string::npos);
  EXPECT_EQ(console.find("GPS TX (2)"), std::string::npos);
}

TEST_F(ReceiverConfiguration, TextSenderDropsWaitingInputAndEndsTheLine) {
  board.device_send(3, std::string("$GPRMC,stale\r\n"));
  run_ms(20);
  ASSERT_GT(Serial3.available(), 0);
  envio_frame_a_gps("$PUBX,03*30");
  EXPECT_EQ(Serial3.available(), 0);
  run_ms(20);
  EXPECT_EQ(std::string(gps.received.begin(), gps.received.end()), "$PUBX,03*30\r\n");

  // at most 255 characters of a text that is too long
  gps.received.clear();
  std::string longtext(300, 'x');
  envio_frame_a_gps(longtext.c_str());
  run_ms(300);
  EXPECT_EQ(gps.received.size(), 257u);
}

}  // namespace
}  // namespace olas::test
