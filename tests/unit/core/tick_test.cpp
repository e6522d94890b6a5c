// The 1 ms tick: its period, dividers, output pins, debug jumper, busy waits and the general reset.
#include <vector>

#include "board/placa.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "gps/modulo_gps.h"
#include "settings/virtual_e2prom.h"
#include "unit/core/firmware_ram.h"

namespace olas::test {
namespace {

constexpr sim::Cycles kMs = 48000;

class TickTest : public FirmwareFixture {
 protected:
  // Records the times at which pin 32 falls (start of a second) and rises.
  void WatchSecondPin() {
    pinMode(32, OUTPUT);
    board.on_pin_write = [this](int pin, uint8_t level, sim::Cycles t) {
      if (pin != 32) return;
      (level ? rises : falls).push_back(t);
    };
  }
  std::vector<sim::Cycles> falls, rises;
};

TEST_F(TickTest, PeriodIsMatchPlusOneCyclesAndAChangeTakesEffectAtOnce) {
  WatchSecondPin();
  StartTickAndConsole();
  run_ms(3100);
  ASSERT_GE(falls.size(), 3u);
  EXPECT_EQ(falls[1] - falls[0], 48001000u);
  EXPECT_EQ(falls[2] - falls[1], 48001000u);
  EXPECT_EQ(csegundo_utc, 3);

  sim::Cycles change = board.now();
  falls.clear();
  configureTCC0(47000, 1);
  run_ms(2100);
  ASSERT_GE(falls.size(), 2u);
  EXPECT_EQ(falls[1] - falls[0], 47001000u);
  // the counters carry on: the first mark after the change needs only what was left of the second
  EXPECT_LT(falls[0] - change, 47001000u);
}

TEST_F(TickTest, DividersCountDownEachCounterAtItsOwnRate) {
  StartTickAndConsole();
  // each counter starts at 200; what is left of it after 2000 ms
  const struct {
    const char* name;
    volatile uint8_t* counter;
    int left;
  } counters[] = {
      {"cretardo_en_milisegundos", &cretardo_en_milisegundos, 0},
      {"ctimeout_rx_zrx03", &ctimeout_rx_zrx03, 0},
      {"ctimeout_entre_bytes_tramas_gps", &ctimeout_entre_bytes_tramas_gps, 0},
      {"ctimeout_rx_sensor", &ctimeout_rx_sensor, 0},
      // 200 steps of 10 ms
      {"ctime_out_respuesta_gps_en_10_miliseg", &ctime_out_respuesta_gps_en_10_miliseg, 0},
      {"cretardo_tiempo", &cretardo_tiempo, 180},  // 20 steps of 100 ms
      {"csegundos_retardo_gestion_sd", &csegundos_retardo_gestion_sd, 198},
      {"ctimeout_salir_bucle", &ctimeout_salir_bucle, 198},
  };
  for (const auto& c : counters) *c.counter = 200;
  run_ms(2000.5);  // 2000 ticks since the tick started from a zero phase
  for (const auto& c : counters) EXPECT_EQ(*c.counter, c.left) << c.name;
  EXPECT_EQ(csegundo_utc, 2);

  // the clock-rate counter advances every 100 ms only while running and allowed
  CONT_TIEMPO_MICRO_ACUMULADO = 0;
  run_ms(1000);
  EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, 10);
  CTE_AJUSTE_RELOJ = 0;
  run_ms(1000);
  EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, 10);
  CTE_AJUSTE_RELOJ = 1;
  CONT_TIEMPO_MICRO_ACUMULADO = -1;
  run_ms(1000);
  EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, -1);
}

TEST_F(TickTest, SecondPinPulsesLowFor100msAndGpsPinFollowsGpsState) {
  pinMode(17, OUTPUT);
  WatchSecondPin();
  StartTickAndConsole();
  cestado_gps = 1;
  run_ms(2500);
  ASSERT_EQ(falls.size(), 2u);
  ASSERT_EQ(rises.size(), 3u);  // first 100 ms step, then 100 ms after each second mark
  // both edges come from the tick, a few instructions apart within it
  EXPECT_NEAR(double(rises[1] - falls[0]), 100 * 48001.0, 200);
  EXPECT_NEAR(double(rises[2] - falls[1]), 100 * 48001.0, 200);
  EXPECT_EQ(board.pin_level(17), 1);

  cestado_gps = 0;
  run_ms(10.5);
  EXPECT_EQ(board.pin_level(17), 0);
  cestado_gps = 1;
  run_ms(10.5);
  EXPECT_EQ(board.pin_level(17), 1);
}

TEST_F(TickTest, JumperNeedsTenConsecutiveReadingsToChangeDebugSwitch) {
  pinMode(28, INPUT_PULLUP);
  StartTickAndConsole();
  board.set_external(28, 0);  // jumper fitted
  run_ms(950);                // nine readings, at 100 ms steps
  EXPECT_EQ(cdebug_sensor, 0);
  run_ms(100);                // the tenth
  EXPECT_EQ(cdebug_sensor, 1);

  // releasing it also needs ten readings, and one reading of the accepted level restarts the count
  board.set_external(28, -1);  // pull-up
  run_ms(800);
  board.set_external(28, 0);
  run_ms(100);
  board.set_external(28, -1);
  run_ms(900);
  EXPECT_EQ(cdebug_sensor, 1);
  run_ms(100);
  EXPECT_EQ(cdebug_sensor, 0);

  // a single high reading in a run of lows restarts the count
  board.set_external(28, 0);
  run_ms(800);
  board.set_external(28, 1);
  run_ms(100);
  board.set_external(28, 0);
  run_ms(900);
  EXPECT_EQ(cdebug_sensor, 0);
  run_ms(100);
  EXPECT_EQ(cdebug_sensor, 1);
}

TEST_F(TickTest, BusyWaitsLastTheirPeriodsAndZeroCountsAsOne) {
  StartTickAndConsole();
  run_ms(0.3);  // off the tick boundary
  for (uint8_t n : {0, 1}) {
    sim::Cycles t0 = board.now();
    retardo_milisegundos(n);
    sim::Cycles d = board.now() - t0;
    EXPECT_GT(d, 0u) << int(n);
    EXPECT_LE(d, 48001u + 500u) << int(n);
  }
  sim::Cycles t0 = board.now();
  retardo_milisegundos(50);
  EXPECT_GE(board.now() - t0, 49 * kMs);
  EXPECT_LE(board.now() - t0, 50 * 48001u + 500u);

  for (uint8_t n : {0, 10}) {
    sim::Cycles start = board.now();
    retardo_tiempo(n);
    double seconds = double(board.now() - start) / 48e6;
    double expected = n == 0 ? 0.1 : 1.0;
    EXPECT_GE(seconds, expected - 0.1 - 1e-3) << int(n);
    EXPECT_LE(seconds, expected + 1e-3) << int(n);
  }
}

TEST_F(TickTest, GeneralResetCountdownEndsWithARequestToTheLoop) {
  // the tick counts down and raises the request; the loop, which can close the card's files,
  // prints and halts (LoopTest)
  StartTickAndConsole();
  creset_falta_de_olas = 0;
  ctimeout_reset_general = 2;
  RunOneSecond();
  EXPECT_EQ(ctimeout_reset_general, 1);
  EXPECT_EQ(creset_falta_de_olas, 0);
  RunOneSecond();
  EXPECT_EQ(ctimeout_reset_general, 0);
  EXPECT_EQ(creset_falta_de_olas, 1);
  run_ms(20);
  EXPECT_EQ(console.text, "");
  creset_falta_de_olas = 0;
}

}  // namespace
}  // namespace olas::test
