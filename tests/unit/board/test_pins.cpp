// Pins and the oscillator's time base: millis, micros, delay.
#include <gtest/gtest.h>

#include "board/pines.h"
#include "support/board_fixture.h"

namespace olas::test {
namespace {

using PinsTest = BoardFixture;

TEST_F(PinsTest, ModesLevelsAndBadPinNumbers) {
  pinMode(32, OUTPUT);
  digitalWrite(32, 5);  // any non-zero level is high
  EXPECT_EQ(board.pin_level(32), 1);

  // a jumper pulls the input low 1 ms from now; polling the pin lets that moment come
  pinMode(28, INPUT_PULLUP);
  sim::Cycles pulled_at = board.now() + 48000;
  board.schedule(pulled_at, [this] { board.set_external(28, 0); });
  int polls = 0;
  while (digitalRead(28) == HIGH && polls < 100) ++polls;
  EXPECT_GE(board.now(), pulled_at);

  pinMode(33, 7);  // unknown mode: ignored
  EXPECT_EQ(board.pin_mode(33), INPUT);
  pinMode(257, OUTPUT);  // would alias pin 1 if cut to 8 bits
  EXPECT_EQ(board.pin_mode(1), INPUT);
}

TEST_F(PinsTest, TimeBaseIs32BitAndDelayHandlesLongWaits) {
  // (two time queries in a row with nothing pending would wait for an event that never comes)
  uint32_t m0 = millis();
  delay(250);
  EXPECT_NEAR(double(micros()) / 1000.0 - m0, 250.0, 1.0);

  sim::Cycles before = board.now();
  delay(100000);  // 100 s of cycles do not fit 32 bits
  EXPECT_NEAR(double(board.now() - before) / 48e6, 100.0, 0.001);

  delay(0xFFFFFFFFu - millis() + 10);  // millis wraps after 2^32 ms
  EXPECT_LT(millis(), 20u);
  delay(1);
  uint32_t us = micros();
  EXPECT_EQ(us, uint32_t(board.now() / 48));
}

}  // namespace
}  // namespace olas::test
