// Averaged sea-state statistics: the paired sort, H1/3 and T1/3, directions and deviations, the
// card record, the "RES," frame and its kept body, empty intervals and the restart rule.
#include <pthread.h>

#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "storage/gestion_sd.h"
#include "unit/waves/waves_fixture.h"
#include "waves/analisis_olas.h"

namespace olas::test {
namespace {

class StatisticsTest : public WavesTest {
 protected:
  StatisticsTest() {
    Clock(7, 12, 26, 10, 10, 2);
    HHini = 10;
    MMini = 0;
  }
  // Publishes one wave of height h (cm) and period p (tenths of s), 81 points with all flags set,
  // from 270 degrees by both methods (trough velocity (0, 1) from a crest at rest).
  void Wave(int h, int p) {
    SetLandmark("vMax1", {1, 0, 40, 0.0f, 0.0f});
    SetLandmark("vIniOla", {10, 1000000, 0, 0.1f, 0.1f});
    SetLandmark("vMax2", {20, 0, int16_t(h - h / 2), 0.0f, 0.0f});
    SetLandmark("vMin", {40, 0, int16_t(-(h / 2)), 0.0f, 1.0f});
    SetLandmark("vFinOla", {90, int32_t(1000000 + p * 100000 + 50), 1, 0.1f, 0.1f});
    for (const char* r : {"vIntMaxVn", "vIntMinVn", "vIntMaxVe", "vIntMinVe"}) SetLandmark(r, {30, 0, 0, 0.0f, 0.0f});
    mFlagHeading = 80;
    mFlagAlign = 40;
    nOlas++;
    Calcular_Parametros_Salida_Ola();
  }
  std::string Res() { return std::string(cbuffer_res); }
  std::string Frame() { return std::string(cbuffer_zrx03); }
  static std::string Checksummed(const std::string& body) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", FrameChecksum("$" + body + "*"));
    return "$" + body + "*" + hex + "\r\n";
  }
  // The card record of the interval started 07/12/26 10:00 (its statistics `stats`, blank
  // separated) and the "RES," frame of `body`, the same stamped with the end; both are `size`
  // characters long.
  void ExpectRecordAndFrame(const std::string& stats, const std::string& body, size_t size) {
    EXPECT_EQ(Res(), "07,12,26,10,00," + stats + "\r\n");
    EXPECT_EQ(ibytes_a_escribir_sd[BUFFER_RES], size + 2) << size << " characters and CR LF";
    ASSERT_EQ(body.size(), size);
    EXPECT_EQ(Frame(), Checksummed("RES," + body));
  }
};

TEST_F(StatisticsTest, ThreeWavesRecordFrameAndKeptBody) {
  Wave(100, 60);
  Wave(300, 80);
  Wave(200, 70);
  resSbgOk = 1;
  TakeConsole();
  Calcular_Parametros_Salida_Ola_Promedio();
  const std::string stats = "00003 0300 0300 0300 0200 080 080 080 080 070 2700 0000 100 050";
  std::string body = "07,12,26,10,10,00003,0300,0300,0300,0200,080,080,080,080,070,2700,0000,100,050";
  ASSERT_NO_FATAL_FAILURE(ExpectRecordAndFrame(stats, body, 78u));
  EXPECT_EQ(ibytes_a_escribir_sd[BUFFER_ZRX03], Frame().size());
  EXPECT_EQ(cdatos_tx_zrx03, 1);
  EXPECT_EQ(std::string(cbuffer_promedio, 78), body);
  EXPECT_EQ(ibytes_a_escribir_sd[BUFFER_PROMEDIO], 78u);
  EXPECT_EQ(ctam_trama_promedio, 78u);
  EXPECT_EQ(resSbgOk, 0);
  EXPECT_EQ(resSdOk, 0) << "no card, no result file";
  EXPECT_EQ(CONTADOR_CERO_OLAS, 0);
  EXPECT_EQ(TakeConsole(), "\r\nBuffer promedio: " + body +
                               "\r\n\r\nNumOlas=3 Hmax=300 H(1/3)=300 H(1/10)=300 Hav=200 Tmax=80 Tpico=80 "
                               "T(1/3)=80 T(1/10)=80 Tav=70 DirMedMetVel=2700 DirMedMetDer=9999 DesvMetVel=0 "
                               "DesvMetDer=9999 FlagHeadingPromedio=100 FlagAlingPromedio=50\r\n" +
                               std::string(187, '=') + "\r\n" + std::string(187, '=') + "\r\n");
}

TEST_F(StatisticsTest, OneWaveIsItsOwnSignificantWave) {
  Wave(123, 75);
  Calcular_Parametros_Salida_Ola_Promedio();
  EXPECT_EQ(Res().substr(15), "00001 0123 0123 0123 0123 075 075 075 075 075 2700 0000 100 050\r\n");
}

TEST_F(StatisticsTest, TenWavesTakeTheFourHighestForH13AndTheHighestForH110) {
  for (int h : {40, 100, 10, 70, 90, 20, 60, 30, 80, 50}) Wave(h, 40 + h / 10);
  Calcular_Parametros_Salida_Ola_Promedio();
  // H1/3 = (100+90+80+70)/4, T1/3 = (50+49+48+47)/4 = 48.5 -> 48; Hav 55; Tav 45.5 -> 46 (half up)
  EXPECT_EQ(Res().substr(15), "00010 0100 0085 0100 0055 050 050 048 050 046 2700 0000 100 050\r\n");
}

TEST_F(StatisticsTest, AmongEqualHeightsTheSortDecidesWhichPeriodsCount) {
  Wave(150, 80);
  Wave(150, 90);
  Wave(100, 70);
  Calcular_Parametros_Salida_Ola_Promedio();
  EXPECT_EQ(mVectorAlt[0], 100);
  EXPECT_EQ(mVectorAlt[2], 150);
  EXPECT_EQ(mVectorPer[0], 70);
  EXPECT_EQ(mVectorPer[1], 80);
  EXPECT_EQ(mVectorPer[2], 90);
  // Tpico is the first of the highest (80); T1/3 the sorted last (90)
  EXPECT_EQ(Res().substr(15, 40), "00003 0150 0150 0150 0133 090 080 090 09");
}

TEST_F(StatisticsTest, DeviationTakesTheShortWayRoundAndMethodsSetTheFields) {
  CTE_METODO_DIRECCION_DEFINITIVA = 2;
  Wave(100, 80);
  Wave(100, 80);
  // directions 3590 and 10 around a mean of 0 (north sum only)
  mVectorDirMetVel[0] = 3590;
  mVectorDirMetVel[1] = 10;
  mVel_SumNorte = -1.0f;
  mVel_SumEste = 0.0f;
  Calcular_Parametros_Salida_Ola_Promedio();
  const std::string stats = "00002 0100 0100 0100 0100 080 080 080 080 080 0000 2700 0010 0000 100 050";
  std::string body = "07,12,26,10,10,00002,0100,0100,0100,0100,080,080,080,080,080,0000,2700,0010,0000,100,050";
  ASSERT_NO_FATAL_FAILURE(ExpectRecordAndFrame(stats, body, 88u));
  // the kept body is bounded to what a host query sends, inside its 79-character buffer
  EXPECT_EQ(std::string(cbuffer_promedio, 78), body.substr(0, 78));
  EXPECT_EQ(ibytes_a_escribir_sd[BUFFER_PROMEDIO], 78u);
  EXPECT_EQ(cbuffer_promedio[78], '\0');

  for (uint8_t method : {1, 3}) {
    ResetWavesRam();
    Clock(7, 12, 26, 10, 10, 2);
    CTE_METODO_DIRECCION_DEFINITIVA = method;
    Wave(100, 80);
    Calcular_Parametros_Salida_Ola_Promedio();
    EXPECT_EQ(Res().substr(15), method == 1 ? "00001 0100 0100 0100 0100 080 080 080 080 080 2700 0000 100 050\r\n"
                                            : "00001 0100 0100 0100 0100 080 080 080 080 080 100 050\r\n");
  }
  EXPECT_NE(TakeConsole().find("DirMedMetVel=9999 DirMedMetDer=9999 DesvMetVel=0 DesvMetDer=0 "),
            std::string::npos);
}

TEST_F(StatisticsTest, NanVelocitySumsGiveNoMeanAndNoDeviation) {
  Wave(100, 80);
  mVel_SumNorte = NAN;
  Calcular_Parametros_Salida_Ola_Promedio();
  EXPECT_EQ(Res().substr(15), "00001 0100 0100 0100 0100 080 080 080 080 080 9999 9999 100 050\r\n");
}

TEST_F(StatisticsTest, EmptyIntervalsCarryTheDiscardCountInTheFlagFields) {
  const struct {
    uint16_t discarded_counter;
    const char* flags;
  } table[] = {{65535, "255 255"}, {0, "000 000"}, {1, "000 001"}, {300, "001 044"}};
  Wave(100, 80);
  Calcular_Parametros_Salida_Ola_Promedio();
  const std::string kept_body(cbuffer_promedio, 78);
  resSbgOk = 1;
  resSdOk = 1;
  for (const auto& row : table) {
    nOlas = 0;
    CONTADOR_OLAS_DESCARTADAS = row.discarded_counter;
    cdatos_tx_zrx03 = 0;
    TakeConsole();
    Calcular_Parametros_Salida_Ola_Promedio();
    std::string flags = row.flags;
    EXPECT_EQ(Res(), "07,12,26,10,00,00000 0000 0000 0000 0000 000 000 000 000 000 0000 0000 " + flags + "\r\n");
    flags[3] = ',';
    EXPECT_EQ(Frame(),
              Checksummed("RES,07,12,26,10,10,00000,0000,0000,0000,0000,000,000,000,000,000,0000,0000," + flags));
    EXPECT_EQ(cdatos_tx_zrx03, 1);
    std::string text = TakeConsole();
    EXPECT_EQ(text.substr(0, 28), "RESET POR FALTA DE OLAS: " + std::to_string(CONTADOR_CERO_OLAS - 1) + "\r\n");
    EXPECT_NE(text.find(" DirMedMetDer=0.00 DesvMetVel=0.00 DesvMetDer= 0.00\r\n FlagHeadingPromedio="),
              std::string::npos);
  }
  EXPECT_EQ(std::string(cbuffer_promedio, 78), kept_body) << "host queries still get the last interval with waves";
  EXPECT_EQ(resSbgOk, 1);
  EXPECT_EQ(resSdOk, 1);
}

TEST_F(StatisticsTest, AnHourWithoutWavesStartsTheRestartCountdown) {
  CTE_INTERVALO_PROMEDIO_INTERPRETADO = 15;
  for (int i = 0; i < 3; ++i) {
    nOlas = 0;
    Calcular_Parametros_Salida_Ola_Promedio();
  }
  EXPECT_EQ(ctimeout_reset_general, 0);
  Wave(100, 80);  // waves in between clear the count
  Calcular_Parametros_Salida_Ola_Promedio();
  EXPECT_EQ(CONTADOR_CERO_OLAS, 0);
  for (int i = 0; i < 3; ++i) {
    nOlas = 0;
    Calcular_Parametros_Salida_Ola_Promedio();
  }
  EXPECT_EQ(ctimeout_reset_general, 0);
  TakeConsole();
  nOlas = 0;
  Calcular_Parametros_Salida_Ola_Promedio();
  EXPECT_EQ(ctimeout_reset_general, 1);
  std::string text = TakeConsole();
  EXPECT_EQ(text.substr(text.size() - 16), "Cuenta atrás=1,");
  // one interval of an hour is an hour
  ResetWavesRam();
  CTE_INTERVALO_PROMEDIO_INTERPRETADO = 60;
  Calcular_Parametros_Salida_Ola_Promedio();
  EXPECT_EQ(ctimeout_reset_general, 1);
}

TEST_F(StatisticsTest, NothingAt2359) {
  Clock(7, 12, 26, 23, 59, 51);
  CONTADOR_CERO_OLAS = 2;
  Calcular_Parametros_Salida_Ola_Promedio();
  EXPECT_EQ(TakeConsole(), "RESET POR FALTA DE OLAS: 2\r\nNO RESETEAMOS SI ES FINAL DEL DIA.\r\n");
  EXPECT_EQ(CONTADOR_CERO_OLAS, 2);
  EXPECT_EQ(ibytes_a_escribir_sd[BUFFER_RES], 0u);
  EXPECT_EQ(cdatos_tx_zrx03, 0);
}

// The scheme as written down, independent of the firmware's pivot: Lomuto with the first
// element as pivot, every exchange done (also of an element with itself), recursion on the left
// part and iteration on the right.
int ReferencePivot(std::vector<uint16_t>& u, std::vector<uint16_t>& v, int izq, int der) {
  const uint16_t pivot_value = u[size_t(izq)];
  int i = izq;
  for (int j = izq + 1; j <= der; ++j) {
    if (u[size_t(j)] < pivot_value) {
      ++i;
      std::swap(u[size_t(i)], u[size_t(j)]);
      std::swap(v[size_t(i)], v[size_t(j)]);
    }
  }
  std::swap(u[size_t(izq)], u[size_t(i)]);
  std::swap(v[size_t(izq)], v[size_t(i)]);
  return i;
}

void ReferenceSort(std::vector<uint16_t>& u, std::vector<uint16_t>& v, int izq, int der) {
  while (izq < der) {
    int p = ReferencePivot(u, v, izq, der);
    ReferenceSort(u, v, izq, p - 1);
    izq = p + 1;
  }
}

// Sorts heights u (periods = their original positions) both ways and compares both arrays.
void ExpectSameAsReference(const std::vector<uint16_t>& heights, const std::string& what) {
  const int n = int(heights.size());
  std::vector<uint16_t> u = heights, v(heights.size());
  for (int i = 0; i < n; ++i) v[size_t(i)] = uint16_t(i);
  std::vector<uint16_t> ru = u, rv = v;
  quicksort(u.data(), v.data(), 0, n - 1);
  ReferenceSort(ru, rv, 0, n - 1);
  EXPECT_EQ(u, ru) << what;
  EXPECT_EQ(v, rv) << what;
}

TEST(PairedSortTest, SameOrderAsTheGivenSchemeIncludingTies) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    const int n = 1 + int(rng() % 60);
    const uint16_t spread = uint16_t(1 + rng() % 8);  // many ties
    std::vector<uint16_t> u(size_t(n), 0);
    for (auto& h : u) h = uint16_t(100 + rng() % spread);
    ExpectSameAsReference(u, "round " + std::to_string(round));
    if (HasFailure()) return;
  }
  // Full 60-minute intervals: ties in runs, and the orders that make every partition lopsided.
  const int n = 1200;
  std::vector<uint16_t> ties(n), descending(n), ascending(n), equal(n, 150), tallest_first(n), chain(n);
  for (int i = 0; i < n; ++i) {
    ties[size_t(i)] = uint16_t(50 + rng() % 40);
    descending[size_t(i)] = uint16_t(2000 - i);
    ascending[size_t(i)] = uint16_t(100 + i);
    tallest_first[size_t(i)] = uint16_t(i == 0 ? 5000 : 100 + i);
  }
  // second tallest, tallest, every second height falling, the others rising (the bench's order)
  chain[0] = n - 1;
  chain[1] = n;
  int next = 2;
  for (int h = n - 2; h >= 1; h -= 2) chain[size_t(next++)] = uint16_t(h);
  for (int h = (n % 2 == 0 ? 1 : 2); h <= n - 3; h += 2) chain[size_t(next++)] = uint16_t(h);
  ASSERT_EQ(next, n);
  std::vector<uint16_t> descending_ties(n);  // a falling sea measured to the 10 cm
  for (int i = 0; i < n; ++i) descending_ties[size_t(i)] = uint16_t((2000 - i) / 10 * 10);
  ExpectSameAsReference(ties, "1200 with ties");
  ExpectSameAsReference(descending, "1200 descending");
  ExpectSameAsReference(descending_ties, "1200 descending in steps");
  ExpectSameAsReference(ascending, "1200 ascending");
  ExpectSameAsReference(equal, "1200 equal");
  ExpectSameAsReference(tallest_first, "1200 tallest first");
  ExpectSameAsReference(chain, "1200 chain");

  // pivot alone on one element and on an empty range: nothing moves
  std::vector<uint16_t> u = {5, 3, 9}, v = {1, 2, 3};
  EXPECT_EQ(pivot(u.data(), v.data(), 1, 1), 1);
  EXPECT_EQ(pivot(u.data(), v.data(), 2, 0), 2);
  EXPECT_EQ(u, (std::vector<uint16_t>{5, 3, 9}));
  EXPECT_EQ(v, (std::vector<uint16_t>{1, 2, 3}));
  quicksort(nullptr, nullptr, 0, 3);  // nothing to sort
}

void* SortDescending(void* arg) {
  auto* n = static_cast<int*>(arg);
  const size_t count = size_t(*n);
  std::vector<uint16_t> u(count), v(count);
  for (int i = 0; i < *n; ++i) u[size_t(i)] = v[size_t(i)] = uint16_t(*n - i);
  quicksort(u.data(), v.data(), 0, *n - 1);
  *n = 1;
  for (size_t i = 1; i < u.size(); ++i) *n &= u[i - 1] <= u[i] && u[i] == v[i];
  return nullptr;
}

TEST(PairedSortTest, StackStaysSmallOnADescendingInterval) {
  // A falling sea puts the tallest wave first at every step: the given scheme would recurse once
  // per wave. Run on a 64 KB stack, as small as the target's.
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 64 * 1024);
  int n = 6000;
  pthread_t th;
  ASSERT_EQ(pthread_create(&th, &attr, SortDescending, &n), 0);
  pthread_join(th, nullptr);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(n, 1);
}

class AllocationFailureTest : public StatisticsTest {};

TEST_F(AllocationFailureTest, AFailedGrowthKeepsWhatWasStoredAndStopsCollecting) {
  // per wave: velocity directions, heights, periods grow in that order; the third wave's height
  // growth is the first to fail, and every later growth fails too
  SetReallocBudget(7);
  for (int h : {100, 200, 300, 400, 500}) Wave(h, 80);
  std::string text = TakeConsole();
  for (const char* name : {"mVectorAlt", "mVectorPer", "mVectorDirMetVel"}) {
    std::string line = std::string("Error en realloc de ") + name + "\r\n";
    EXPECT_NE(text.find(line), std::string::npos) << name;
    EXPECT_EQ(text.find(line), text.rfind(line)) << "reported once";
  }
  EXPECT_EQ(Valores_Vector_Ola(VECTOR_ALTURA), 3u);
  EXPECT_EQ(Valores_Vector_Ola(VECTOR_PERIODO), 3u);
  EXPECT_EQ(Valores_Vector_Ola(VECTOR_DIR_MET_VEL), 4u);
  Calcular_Parametros_Salida_Ola_Promedio();
  // count, maximum and means from the accumulators; H1/3 from the three stored waves
  EXPECT_EQ(Res().substr(15), "00005 0500 0300 0300 0300 080 080 080 080 080 2700 0000 100 050\r\n");
  SetReallocBudget(-1);
  Comenzar_Proceso_Nuevo_Promedio_Olas();
  Wave(100, 80);
  EXPECT_EQ(Valores_Vector_Ola(VECTOR_ALTURA), 1u) << "a new interval collects again";
}

TEST_F(AllocationFailureTest, NoArraysAtTheIntervalStartMeansNothingIsStored) {
  SetReallocBudget(0);
  TakeConsole();
  Comenzar_Proceso_Nuevo_Promedio_Olas();
  EXPECT_EQ(TakeConsole(),
            "Free\r\nError en realloc de mVectorAlt 2\r\nError en realloc de mVectorPer 2\r\nError en realloc de "
            "mVectorDirMetVel 2\r\nError en realloc de mVectorDirMetDer 2\r\n_Fin Inicializar promedio_\r\n");
  EXPECT_EQ(mVectorAlt, nullptr);
  CTE_METODO_DIRECCION_DEFINITIVA = 2;
  Wave(100, 80);
  Wave(200, 90);
  EXPECT_EQ(Valores_Vector_Ola(VECTOR_ALTURA), 0u);
  Calcular_Parametros_Salida_Ola_Promedio();
  EXPECT_EQ(Res().substr(15), "00002 0200 0000 0000 0150 090 090 000 000 085 2700 2700 0000 0000 100 050\r\n");
}

TEST_F(AllocationFailureTest, IntervalStartTraceAndRenumberedStart) {
  // the wave in progress: the sample numbers of its start and of the crest before it
  auto wave_in_progress = [](int32_t crest, int32_t start) {
    vMax1_0 = crest;
    vIniOla_0 = start;
  };
  cdebug_sensor = 1;
  wave_in_progress(340, 345);
  contPtosOlaActual = 400;
  CONTADOR_OLAS_DESCARTADAS = 3;
  TakeConsole();
  Comenzar_Proceso_Nuevo_Promedio_Olas();
  EXPECT_EQ(TakeConsole(), "Free\r\n_Ini Inicializar promedio__Fin Inicializar promedio_\r\n");
  // the wave in progress keeps its points, its previous crest now point 1
  EXPECT_EQ(vMax1_0, 1);
  EXPECT_EQ(vIniOla_0, 6);
  EXPECT_EQ(contPtosOlaActual, 61);
  EXPECT_EQ(CONTADOR_OLAS_DESCARTADAS, 65535);
  EXPECT_EQ(mVectorAlt[0], 0);
  wave_in_progress(-1, -1);
  Comenzar_Proceso_Nuevo_Promedio_Olas();
  EXPECT_EQ(vIniOla_0, -1);
  EXPECT_EQ(contPtosOlaActual, 0) << "nothing in the window: numbering starts afresh";
}

}  // namespace
}  // namespace olas::test
