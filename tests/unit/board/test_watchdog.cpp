// Watchdog: early warning at half the period, reset at the full period unless restarted.
#include <gtest/gtest.h>

#include "board/wdt.h"
#include "support/board_fixture.h"

namespace olas::test {
namespace {

class WatchdogTest : public BoardFixture {
 protected:
  // Runs until the reset and returns the seconds since `since` (-1 if none within limit_s).
  double SecondsUntilReset(sim::Cycles since, double limit_s) {
    try {
      run_ms(limit_s * 1000);
    } catch (const sim::McuReset& r) {
      EXPECT_EQ(r.cause, "watchdog starved");
      return double(board.now() - since) / 48e6;
    }
    return -1;
  }
};

TEST_F(WatchdogTest, Period2XWarnsAtTwoSecondsAndResetsAtFour) {
  sodaq_wdt_flag = 0;
  sim::Cycles start = board.now();
  sodaq_wdt_enable(WDT_PERIOD_2X);
  run_ms(1990);
  EXPECT_EQ(sodaq_wdt_flag, 0);
  run_ms(20);
  EXPECT_EQ(sodaq_wdt_flag, 1);
  EXPECT_NEAR(SecondsUntilReset(start, 5.0), 4.0, 0.001);
}

TEST_F(WatchdogTest, RestartingKeepsTheBoardAliveAndDisableStopsIt) {
  sodaq_wdt_enable(WDT_PERIOD_2X);
  for (int i = 0; i < 10; ++i) {
    run_ms(3000);
    sodaq_wdt_reset();
  }
  sodaq_wdt_disable();
  EXPECT_NO_THROW(run_ms(10000));
}

TEST_F(WatchdogTest, OtherPeriodsDoubleFromStepToStep) {
  sim::Cycles start = board.now();
  sodaq_wdt_enable(WDT_PERIOD_1DIV64);  // 32 counts
  EXPECT_NEAR(SecondsUntilReset(start, 1.0), 32 / 1024.0, 0.001);

  // a value beyond the enumeration is held to the longest period (16384 counts)
  start = board.now();
  sodaq_wdt_enable(static_cast<wdt_period>(200));
  EXPECT_NEAR(SecondsUntilReset(start, 20.0), 16.0, 0.001);
}

}  // namespace
}  // namespace olas::test
