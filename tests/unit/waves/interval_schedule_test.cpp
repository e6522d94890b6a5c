// The averaging schedule: interval ends on the clock and on sensor time, the hourly review,
// time-stamp differences and the interval codes.
#include <string>

#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "settings/virtual_e2prom.h"
#include "unit/waves/waves_fixture.h"
#include "waves/analisis_olas.h"

namespace olas::test {
namespace {

class IntervalScheduleTest : public WavesTest {
 protected:
  std::string End() {
    return std::to_string(HHfin) + ":" + std::to_string(MMfin) + ":" + std::to_string(SSfin);
  }
  std::string Start() {
    return std::to_string(HHini) + ":" + std::to_string(MMini) + ":" + std::to_string(SSini);
  }
  // One window through the pipeline, with a flat window that never forms a wave.
  void Tick(int h, int m, int s, int day = 7) {
    Clock(day, 12, 26, h, m, s);
    TernaDatos_pos1_3 = TernaDatos_pos2_3 = TernaDatos_pos3_3 = 0;
    ProcesarTernaDatos();
  }
  struct At {
    int h, m, s, day;
  };
  // The sample at `open` leaves the interval open, the one at `closing` closes it with a frame;
  // the next interval then runs from `start` to `end`.
  void ExpectClosedBy(At open, At closing, const std::string& start, const std::string& end) {
    SCOPED_TRACE("closing sample " + std::to_string(closing.h) + ":" + std::to_string(closing.m) +
                 ":" + std::to_string(closing.s));
    Tick(open.h, open.m, open.s, open.day);
    EXPECT_EQ(cdatos_tx_zrx03, 0) << "not past the end";
    Tick(closing.h, closing.m, closing.s, closing.day);
    EXPECT_EQ(cdatos_tx_zrx03, 1) << "the interval closed with a frame";
    EXPECT_EQ(Start(), start);
    EXPECT_EQ(End(), end);
  }
};

TEST_F(IntervalScheduleTest, IntervalCodesAndMinutes) {
  const struct {
    int32_t in, minutes;
  } table[] = {{0, 10}, {10, 10}, {1, 15},  {15, 15}, {2, 20},  {20, 20},          {3, 30},
               {4, 60}, {60, 60}, {30, 30}, {5, 30},  {45, 30}, {-1, 30}, {255, 30}, {INT32_MIN, 30}};
  for (const auto& row : table) EXPECT_EQ(Interpretar_Intervalo_Promedio(row.in), row.minutes) << row.in;
}

TEST_F(IntervalScheduleTest, EndsOneSecondAfterTheNextBoundaryOfTheInterval) {
  const struct {
    int32_t setting;
    int h, m, s;
    const char* end;
  } table[] = {
      {2, 10, 7, 33, "10:20:1"},  {20, 10, 47, 0, "11:0:1"},  {3, 10, 30, 0, "11:0:1"},
      {30, 10, 29, 59, "10:30:1"}, {1, 10, 44, 59, "10:45:1"}, {0, 10, 0, 1, "10:10:1"},
      {4, 9, 59, 59, "10:0:1"},    {60, 23, 10, 0, "23:59:50"}, {0, 23, 55, 0, "23:59:50"},
      {3, 23, 40, 0, "23:59:50"},  {3, 23, 20, 0, "23:30:1"},
  };
  for (const auto& row : table) {
    CTE_INTERVALO_PROMEDIO = row.setting;
    HHini = MMini = SSini = 0;
    HHfin = MMfin = SSfin = 0;
    Clock(7, 12, 26, row.h, row.m, row.s);
    Determinar_Proxima_Hora_Final(0);
    EXPECT_EQ(End(), row.end) << row.setting << " at " << row.h << ":" << row.m;
    EXPECT_EQ(Start(), std::to_string(row.h) + ":" + std::to_string(row.m) + ":" + std::to_string(row.s));
  }
}

TEST_F(IntervalScheduleTest, ComputesTheEndOnceAndTracesIt) {
  CTE_INTERVALO_PROMEDIO = 2;
  Clock(7, 12, 26, 10, 7, 33);
  Determinar_Proxima_Hora_Final(0);
  EXPECT_EQ(TakeConsole(), "\r\nHH Inicial = 10:7:33\r\n\r\nCTE_INTERVALO_PROMEDIO_INTERPRETADO=20\r\n\r\nHH Final = 10:20:1\r\n");
  EXPECT_EQ(CTE_INTERVALO_PROMEDIO_INTERPRETADO, 20);
  EXPECT_EQ(YY_ini, 26);
  EXPECT_EQ(MM_ini, 12);
  EXPECT_EQ(DD_ini, 7);
  // with an end set, nothing more happens; codes other than 0 and 1 return at once
  Clock(7, 12, 26, 10, 9, 0);
  Determinar_Proxima_Hora_Final(0);
  Determinar_Proxima_Hora_Final(2);
  EXPECT_EQ(End(), "10:20:1");
  EXPECT_EQ(Start(), "10:7:33");
  EXPECT_EQ(TakeConsole(), "");
  // a start of exactly midnight is the same as none: no end yet
  HHini = MMini = SSini = 0;
  HHfin = MMfin = SSfin = 0;
  Clock(8, 12, 26, 0, 0, 0);
  Determinar_Proxima_Hora_Final(0);
  EXPECT_EQ(End(), "0:0:0");
}

TEST_F(IntervalScheduleTest, EndsOnTheFirstSampleAfterTheEndSecond) {
  CTE_INTERVALO_PROMEDIO = 3;
  Tick(10, 0, 30);
  EXPECT_EQ(End(), "10:30:1");
  Tick(10, 30, 0);
  // 10:30:01 is not past the end; the interval closes with an empty frame
  ExpectClosedBy({10, 30, 1, 7}, {10, 30, 2, 7}, "10:30:1", "11:0:1");
  EXPECT_EQ(std::string(cbuffer_res).substr(0, 15), "07,12,26,10,00,") << "record stamped with the interval start";
}

TEST_F(IntervalScheduleTest, LastIntervalOfTheDayEndsAt235950AndTheNextStartsAt000001) {
  CTE_INTERVALO_PROMEDIO = 4;
  Tick(23, 10, 0);
  EXPECT_EQ(End(), "23:59:50");
  Tick(23, 59, 50);
  EXPECT_EQ(cdatos_tx_zrx03, 0);
  Tick(23, 59, 51);  // closes (an empty interval at 23:59 sends nothing)
  // the next interval is the new day's first, from 00:00:01 to 01:00:01
  EXPECT_EQ(Start(), "0:0:1");
  EXPECT_EQ(DD_ini, 8);
  EXPECT_EQ(End(), "1:0:1");
  Tick(23, 59, 59);
  Tick(0, 0, 0, 8);
  Tick(0, 59, 59, 8);
  ExpectClosedBy({1, 0, 1, 8}, {1, 0, 2, 8}, "1:0:1", "2:0:1");
}

TEST_F(IntervalScheduleTest, WholeTimesEndTheIntervalAcrossMidnightAndLateSamples) {
  // an interval started in the last seconds of the day is the new day's first
  CTE_INTERVALO_PROMEDIO = 0;
  Tick(23, 59, 55);
  EXPECT_EQ(Start(), "0:0:1");
  EXPECT_EQ(End(), "0:10:1");
  EXPECT_EQ(cdatos_tx_zrx03, 0);
  Tick(0, 5, 0, 8);
  // no sample in the end's second: the first later one closes the interval, late by the gap
  ExpectClosedBy({0, 10, 1, 8}, {0, 11, 30, 8}, "0:10:1", "0:20:1");
}

TEST_F(IntervalScheduleTest, WithoutValidTimeTheSensorClockMeasuresTheInterval) {
  CTE_INTERVALO_PROMEDIO = 0;
  const uint32_t t0 = 4000000000u;  // the interval straddles the counter's wrap
  for (uint32_t k = 0; k < 3; ++k) Sample(t0 + k * 100000u, 5);
  EXPECT_EQ(TIEMPO_INI, int32_t(t0 + 200000u)) << "the first processed sample starts the interval";
  const uint32_t first = t0 + 200000u;
  TakeConsole();
  // 600 000 000 us after the first sample is not more than 10 minutes
  Sample(first + 300000000u, 5);
  Sample(first + 600000000u, 5);
  EXPECT_EQ(cdatos_tx_zrx03, 0);
  Sample(first + 600100000u, 5);
  EXPECT_EQ(cdatos_tx_zrx03, 1);
  EXPECT_EQ(TIEMPO_INI, int32_t(first + 600100000u)) << "the next interval is measured from the closing sample";
  EXPECT_EQ(TIEMPO_FIN, 0);
  EXPECT_NE(TakeConsole().find("\r\nHACER_PROMEDIO_POR_TIEMPO_SUPERADO = 1\r\n"), std::string::npos);
  EXPECT_EQ(HHfin, 0) << "no clock schedule without a valid time";
  cdatos_tx_zrx03 = 0;
  Sample(first + 1200100000u, 5);
  EXPECT_EQ(cdatos_tx_zrx03, 0);
  Sample(first + 1200150000u, 5);  // the renumbered window holds no sample back
  EXPECT_EQ(cdatos_tx_zrx03, 1);
}

TEST_F(IntervalScheduleTest, TimeSpanBetweenSensorStamps) {
  EXPECT_EQ(Diferencia_Timespan(100, 0), 0u);
  EXPECT_EQ(Diferencia_Timespan(100, 350), 250u);
  EXPECT_EQ(Diferencia_Timespan(-10, 20), 28u) << "counter wrap, 2 us offsets included";
  EXPECT_EQ(Diferencia_Timespan(-100, -50), 50u);
  EXPECT_EQ(Diferencia_Timespan(2147483000, -2147483000), 1294u) << "past 2^31 the counter goes on";
  EXPECT_EQ(Diferencia_Timespan(350, 100), 4294967044u) << "a stamp behind the start is a full wrap";
  // equal stamps are no time at all, not a full wrap of the counter
  EXPECT_EQ(Diferencia_Timespan(777, 777), 0u);
  EXPECT_EQ(Diferencia_Timespan(-5, -5), 0u);
}

class TimeReviewTest : public IntervalScheduleTest {
 protected:
  void Review(int start_h, int start_m, int end_h, int end_m, int hour) {
    CTE_INTERVALO_PROMEDIO = 0;
    CTE_INTERVALO_PROMEDIO_INTERPRETADO = 10;
    HHini = uint8_t(start_h);
    MMini = uint8_t(start_m);
    SSini = 1;
    HHfin = uint8_t(end_h);
    MMfin = uint8_t(end_m);
    SSfin = 1;
    Clock(7, 12, 26, hour, 0, 15);
    TakeConsole();
    Revision_Tiempos();
  }
};

TEST_F(TimeReviewTest, RepairsAnEndTooFarAhead) {
  Review(9, 50, 12, 0, 10);
  EXPECT_EQ(TakeConsole(),
            "\r\nRevision de tiempo: 720-600=120>10-10=5(9:50)\r\n  =>Reinicio Hora Fin.\r\n  =>Reinicio."
            "\r\nHH Inicial = 9:50:1\r\n\r\nCTE_INTERVALO_PROMEDIO_INTERPRETADO=10\r\n\r\nHH Final = 10:0:1\r\n");
  EXPECT_EQ(End(), "10:0:1");
}

TEST_F(TimeReviewTest, RepairsAStartLeftBehindByAClockJump) {
  Review(7, 20, 7, 30, 10);
  std::string text = TakeConsole();
  EXPECT_EQ(text.substr(0, text.find("  =>Reinicio.")),
            "\r\nRevision de tiempo: 450-600=-150>10-160=-145(7:20)\r\n  Reinicio Hora Ini.\r\n");
  EXPECT_EQ(Start(), "10:0:15");
  EXPECT_EQ(End(), "10:10:1");
}

TEST_F(TimeReviewTest, RepairsAnEndAlreadyPassed) {
  Review(9, 52, 9, 59, 10);
  std::string text = TakeConsole();
  EXPECT_NE(text.find("  =>Reinicio Hora Fin. (Menor que utc)\r\n  =>Reinicio.\r\nHH Inicial = 9:52:1"),
            std::string::npos)
      << text;
  EXPECT_EQ(End(), "10:0:1");
}

TEST_F(TimeReviewTest, LeavesAConsistentScheduleAloneAndActsOnlyAtHh0015InHours1To22) {
  Review(9, 50, 10, 0, 10);
  EXPECT_EQ(TakeConsole(), "\r\nRevision de tiempo: 600-600=0>10-10=5(9:50)\r\n");
  EXPECT_EQ(End(), "10:0:1");
  for (int hour : {0, 23}) {
    Review(7, 20, 7, 30, hour);
    EXPECT_EQ(TakeConsole(), "") << hour;
    EXPECT_EQ(Start(), "7:20:1");
  }
  Review(7, 20, 7, 30, 10);
  TakeConsole();
  HHini = 7;
  MMini = 20;
  csegundo_utc = 16;
  Revision_Tiempos();
  EXPECT_EQ(TakeConsole(), "");
}

}  // namespace
}  // namespace olas::test
