// Card start-up and occupancy: the one-minute retry while the card is absent, the occupancy
// survey with its time-limited free-cluster count, and the full-card limit.
#include <gtest/gtest.h>

#include <string>

#include "core/reloj.h"
#include "settings/virtual_e2prom.h"
#include "storage/formateo_sd.h"
#include "storage/gestion_sd.h"
#include "unit/storage/storage_fixture.h"

namespace olas::test {
namespace {

constexpr uint64_t kMB = 1000000;

using CardStartTest = StorageFixture;

TEST_F(CardStartTest, MissingCardIsReportedOnceAMinuteAndFoundOnceInserted) {
  InsertCard(64 * kMB);
  FormatCard();
  card().remove();
  RunCardCycle(1);
  const uint64_t erases_after_first = board.flash_erases();
  RunCardCycle(149);
  EXPECT_EQ(Count("SD no presente\r\n"), 3);  // at 0, 60 and 120 s
  EXPECT_EQ(resSdOk, 0);
  EXPECT_EQ(board.flash()[E2P_PORCENTAJE_SD], 112);
  EXPECT_EQ(board.flash_erases(), erases_after_first);  // the store is written once per absence

  card().insert();
  console.text.clear();
  RunCardCycle(29);
  EXPECT_EQ(ctarjeta_sd_inicializada, 0);
  RunCardCycle(2);  // the attempt at 180 s
  EXPECT_EQ(ctarjeta_sd_inicializada, 1);
  EXPECT_EQ(ccreacion_nuevo_directorio, 1);
  for (int t = 0; t < 3; ++t) EXPECT_EQ(ccreacion_nuevo_fichero[t], FICHERO_POR_CREAR);
  RunCardCycle(5);  // nothing reaches the card before a GPS date
  EXPECT_EQ(console.text, "SD inicializada\r\n");
}

TEST_F(CardStartTest, ACardNinetyNinePercentFullGetsNoDirectory) {
  InsertCard(64 * kMB);
  FormatCard();
  // every cluster but half a percent in use, in the first FAT (the one the count reads)
  const uint32_t clusters = (cardSizeBlocks - dataStart) / sectorsPerCluster;
  const uint32_t used_below = clusters + 2 - clusters / 200;
  for (uint32_t b = 0; b < fatSize; ++b) {
    uint8_t block[512];
    for (uint32_t i = 0; i < 256; ++i) block[2 * i] = block[2 * i + 1] = b * 256 + i < used_below ? 0xFF : 0;
    ASSERT_TRUE(card().poke(fatStart + b, block));
  }
  DateKnown(7, 12, 23, 14, 20);
  RunCardCycle(1);
  EXPECT_TRUE(ConsoleHas("Porcentaje ocupado SD = 99 %\r\n")) << console.text;
  EXPECT_TRUE(ConsoleHas("Límite máximo de memoria SD superado.\r\n"));
  EXPECT_FALSE(ConsoleHas("creado"));
  for (int t = 0; t < 3; ++t) EXPECT_EQ(ccreacion_nuevo_fichero[t], FICHERO_NINGUNO);
  EXPECT_EQ(board.flash()[E2P_PORCENTAJE_SD], 99);
}

TEST_F(CardStartTest, AnEmptyFat32CardIsSurveyedOnce) {
  InsertCard(4000 * kMB);
  FormatCard();
  DateKnown(7, 12, 23, 14, 20);
  RunCardCycle(1);
  EXPECT_TRUE(ConsoleHas("\nTipo de volumen FAT = 32  -  nReintentos=1 - Tamaño total SD = ")) << console.text;
  EXPECT_EQ(Count("nReintentos="), 1);
  EXPECT_TRUE(ConsoleHas("Porcentaje ocupado SD = 0 %\r\n\r\nNuevo directorio creado: 231207\r\n"));
}

TEST_F(CardStartTest, ACountThatFailsTwiceGivesZeroAndTheRetryMarkerGivesItLonger) {
  sim::SdCard::Config slow;
  slow.read_latency_s = 0.040;  // 952 FAT blocks: about 38 s, between the two time limits
  InsertCard(4000 * kMB, slow);
  FormatCard();
  inicializacion_sd();
  ASSERT_EQ(miSD.vol()->blocksPerFat(), 952u);

  CTE_PORCENTAJE_FULL_SD = PORCENTAJE_SD_REINTENTO;
  console.text.clear();
  EXPECT_EQ(espacio_ocupado_SD(), 0);
  run_ms(20);
  EXPECT_EQ(Count("nReintentos="), 1);
  EXPECT_TRUE(ConsoleHas(" - Tiempo = 38")) << console.text;

  CTE_PORCENTAJE_FULL_SD = 55;
  console.text.clear();
  EXPECT_EQ(espacio_ocupado_SD(), 0);
  run_ms(20);
  EXPECT_EQ(Count(" - Clusters libres : -1.00"), 2);
  EXPECT_FALSE(ConsoleHas("Porcentaje"));
  EXPECT_EQ(board.flash()[E2P_PORCENTAJE_SD], 0);

  // a table that cannot be read fails at once
  card().remove();
  EXPECT_EQ(cuenta_clusters_libres(), -1);
}

}  // namespace
}  // namespace olas::test
