// Wave segmentation by zero up-crossings: landmarks, acceptance and discards, resets.
#include <cmath>
#include <initializer_list>
#include <string>

#include "comms/comunicaciones_pc.h"
#include "declaraciones.h"
#include "settings/virtual_e2prom.h"
#include "unit/waves/waves_fixture.h"
#include "waves/analisis_olas.h"

namespace olas::test {
namespace {

class SegmentationTest : public WavesTest {
 protected:
  // Feeds one sample 0.1 s after the previous one; returns its point number.
  int32_t Feed(int heave, float vn = 0.1f, float ve = 0.1f) {
    Sample(t_, heave, vn, ve);
    t_ += 100000;
    return ++n_;
  }
  void Feed(std::initializer_list<int> heaves) {
    for (int h : heaves) Feed(h);
  }
  // Crest, start at the sample after `-1`: 2 6 2 -3 -1 3 8 5 (start = point 6, crest = point 7).
  void ToCrest() {
    Feed({2, 6, 2, -3, -1, 3, 8, 5});
    ASSERT_EQ(vMax1_0, 2);
    ASSERT_EQ(vIniOla_0, 6);
    ASSERT_EQ(vMax2_0, 7);
  }

  int32_t n_ = 0;
  uint32_t t_ = 1000000;
};

TEST_F(SegmentationTest, CleanSinusoidFirstWaveDiscardedThenEveryWaveKept) {
  Sine s;  // 50 cm, 8 s, 10 Hz, from 270
  FeedSine(s, 0, 162);
  std::string text = TakeConsole();
  EXPECT_NE(text.find("\r\nOla descartada:\r\nPeriodo: 80\r\nAltura: 100\r\nNumOlasDescartadas: 0\r\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(nOlas, 0);
  EXPECT_EQ(CONTADOR_OLAS_DESCARTADAS, 0);
  EXPECT_EQ(CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET, 0);
  // the discarded wave's crest and end carry over to the next wave
  EXPECT_EQ(vIniOla_0, 161);
  EXPECT_EQ(vMax1_3, 50);

  FeedSine(s, 162, 80 * 5);
  EXPECT_EQ(nOlas, 5);
  text = TakeConsole();
  for (int i = 1; i <= 5; ++i) {
    std::string wave = "IndOla=" + std::to_string(i) +
                       " Altura=100 Periodo=80 NumPtosOla=81 Dir(MetVel)=2700 Dir(MetDer)=9999"
                       " FlagHeading=100 FlagAlign=100";
    EXPECT_NE(text.find(wave), std::string::npos) << wave << "\n" << text;
  }
  EXPECT_EQ(text.find("Ola descartada"), std::string::npos);
  EXPECT_EQ(CONTADOR_OLAS_DESCARTADAS, 0);
  EXPECT_EQ(std::string(cbuffer_wav), "00,00,00,00,00,00005 0100 080 00081 2700 100 100\r\n");
}

TEST_F(SegmentationTest, BoundsAreInclusive) {
  CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 0;
  CTE_PROCESAR_OLA_ALTURA_MINIMA = 100;
  CTE_PROCESAR_OLA_PERIODO_MAXIMO = 8;
  Sine s;
  FeedSine(s, 0, 162);
  EXPECT_EQ(nOlas, 1) << "H = minimum height and P = maximum period are kept";
  CTE_PROCESAR_OLA_ALTURA_MINIMA = 101;
  FeedSine(s, 162, 80);
  EXPECT_EQ(nOlas, 1);
  EXPECT_EQ(CONTADOR_OLAS_DESCARTADAS, 0);
  CTE_PROCESAR_OLA_ALTURA_MINIMA = 0;
  CTE_PROCESAR_OLA_PERIODO_MAXIMO = 7;
  FeedSine(s, 242, 80);
  EXPECT_EQ(nOlas, 1);
  EXPECT_EQ(CONTADOR_OLAS_DESCARTADAS, 1);
  CTE_PROCESAR_OLA_PERIODO_MAXIMO = 90;
  CTE_PROCESAR_OLA_ALTURA_MAXIMA = 99;
  FeedSine(s, 322, 80);
  EXPECT_EQ(CONTADOR_OLAS_DESCARTADAS, 2);
}

TEST_F(SegmentationTest, CrestIsTheLastSampleOfAPlateau) {
  Feed({1, 3, 5, 5, 2, 1});
  EXPECT_EQ(vMax1_0, 4);
  EXPECT_EQ(vMax1_3, 5);
}

TEST_F(SegmentationTest, AZeroSampleEndsTheWaveAndTheNextRiseMovesTheStart) {
  ToCrest();
  EXPECT_NE(TakeConsole().find("\r\nvIniOla - \r\n"), std::string::npos);
  Feed({-2, -7, -4, -2, 0, 4});  // trough = point 10, end = the 0 (point 13)
  EXPECT_EQ(vMin_0, -1) << "the wave was closed (discarded: first after start-up)";
  EXPECT_EQ(vIniOla_0, 13) << "the zero sample ends the wave and starts the next";
  EXPECT_EQ(vMax1_0, 7);
  Feed(6);  // window (0, 4, 6): p1 <= 0 < p2 with no crest yet
  EXPECT_EQ(vIniOla_0, 14);
  EXPECT_EQ(vIniOla_3, 4);
}

TEST_F(SegmentationTest, AnAllZeroOrNanEndRestartsFromScratch) {
  for (int variant = 0; variant < 3; ++variant) {
    ResetWavesRam();
    n_ = 0;
    ToCrest();
    Feed({-2, -7, -4, -2});
    TakeConsole();
    if (variant == 0) Feed(0, 0.0f, 0.0f);
    if (variant == 1) Feed(0, NAN, 0.2f);
    if (variant == 2) Feed(3, 0.2f, NAN);
    Feed(4);
    EXPECT_EQ(vIniOla_0, -1) << variant;
    EXPECT_EQ(vMax1_0, -1) << variant;
    EXPECT_EQ(vMax2_0, -1) << variant;
    EXPECT_NE(TakeConsole().find("vIniOla tiene algun valor NULL o todo ceros.\r\n"), std::string::npos);
  }
  // the segmentation then waits for a first crest again
  Feed({5, 2, -1});
  EXPECT_EQ(vMax1_0, n_ - 2);
}

TEST_F(SegmentationTest, TheDebugTraceOfTheResetShowsTheClearedStart) {
  cdebug_sensor = 1;
  ToCrest();
  Feed({-2, -7, -4, -2});
  TakeConsole();
  Feed(0, 0.0f, 0.0f);
  Feed(4);
  std::string text = TakeConsole();
  EXPECT_NE(text.find("vIniOla tiene algun valor NULL o todo ceros.\r\nvIniOla_0 =-1"
                      "------------------------------------------------------- ------------------------------"
                      " [0,0,0] or  NAN NAN NAN    ---\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  --------------- vIniOla -------------   \r\n-1 - 0 - 0 - 0 - 0.00 - 0.00"
                      "  -------------------------------------   \r\n"
                      "---------------------------------------------------------------------------\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("vFinOla=13, 2200000, 45, 0, "), std::string::npos);
}

TEST_F(SegmentationTest, OfEqualCrestsTheFirstStaysAndAHigherOneReplacesIt) {
  ToCrest();
  Feed({8, 2});  // (5, 8, 2): equal to the crest
  EXPECT_EQ(vMax2_0, 7);
  Feed({9, 1});  // (2, 9, 1): strictly higher
  EXPECT_EQ(vMax2_0, 11);
  EXPECT_EQ(vMax2_3, 9);
}

TEST_F(SegmentationTest, OnlyADeeperTroughReplacesTheFirstAndVelocityExtremesFreezeThere) {
  ToCrest();  // the crest (point 7) already entered the extremes with 0.1
  Feed(-3, 0.7f, -0.2f);    // 9
  Feed(-6, -0.8f, 0.3f);    // 10: trough
  Feed(-4, 5.0f, -5.0f);    // 11
  EXPECT_EQ(vMin_0, 10);
  Feed(-5, -5.0f, 5.0f);    // 12: a shallower local minimum
  Feed(-4, 5.0f, 5.0f);     // 13
  EXPECT_EQ(vMin_0, 10);
  Feed(-9, 5.0f, 5.0f);     // 14: deeper
  Feed(-2, 5.0f, 5.0f);     // 15
  EXPECT_EQ(vMin_0, 14);
  EXPECT_EQ(vMin_3, -9);
  EXPECT_FLOAT_EQ(vIntMaxVn_4, 0.7f);
  EXPECT_EQ(vIntMaxVn_0, 9);
  EXPECT_FLOAT_EQ(vIntMinVn_4, -0.8f);
  EXPECT_EQ(vIntMinVn_0, 10);
  EXPECT_FLOAT_EQ(vIntMaxVe_4, -0.8f) << "the whole sample is taken";
  EXPECT_FLOAT_EQ(vIntMaxVe_5, 0.3f);
  EXPECT_FLOAT_EQ(vIntMinVe_5, -0.2f);
}

}  // namespace
}  // namespace olas::test
