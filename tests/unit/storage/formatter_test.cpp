// The card formatter: geometry and FAT type by card size and type, the on-disk layout checked by
// fsck.fat and read by mtools, the optional erase, and the errors that leave the card unformatted
// without stopping the sensor.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "gps/modulo_gps.h"
#include "storage/formateo_sd.h"
#include "storage/gestion_sd.h"
#include "unit/storage/storage_fixture.h"

namespace olas::test {
namespace {

constexpr uint64_t kMB = 1000000;

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return uint32_t(Le16(p)) | uint32_t(Le16(p + 2)) << 16; }

class FormatterTest : public StorageFixture {
 protected:
  void SetUp() override { sodaq_wdt_enable(WDT_PERIOD_2X); }  // as after setup: long loops must feed it

  void Format() {
    console.text.clear();
    EXPECT_EQ(Formatear_SD(), 1);
    run_ms(50);
    EXPECT_TRUE(board.resets().empty());
  }
  // fsck.fat and mdir on the partition the MBR points at; returns the partition file.
  std::string ExpectToolsAccept() {
    if (!HaveTool("fsck.fat") || !HaveTool("mdir")) return "";
    uint8_t mbr[512];
    EXPECT_TRUE(card().peek(0, mbr));
    const std::string part = ExtractPartition(Le32(mbr + 446 + 8), Le32(mbr + 446 + 12));
    std::string out;
    EXPECT_EQ(Shell("fsck.fat -n " + part, &out), 0) << out;
    EXPECT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mdir -i " + part + " ::", &out), 0) << out;
    return part;
  }
};

TEST_F(FormatterTest, A2GbStandardCapacityCardBecomesFat16With64BlocksPerCluster) {
  // a 2 GB card, and a 2 GiB one (2048 MB: more heads) with the most clusters FAT16 allows
  for (auto [bytes, heads] : {std::pair{2000 * kMB, 64}, std::pair{uint64_t(2) << 30, 128}}) {
    SCOPED_TRACE(bytes);
    InsertCard(bytes);
    ASSERT_EQ(card().type(), SD_CARD_TYPE_SD2);
    Format();
    EXPECT_TRUE(ConsoleHas(" MB, (MB = 1,000,000 bytes)\r\nFormatting\r\nBlocks/Cluster: 64\r\nFAT16\r\n")) << console.text;
    EXPECT_TRUE(ConsoleHas("Format done\r\n"));
    EXPECT_FALSE(ConsoleHas("Erasing"));

    uint8_t mbr[512], boot[512];
    ASSERT_TRUE(card().peek(0, mbr));
    EXPECT_EQ(mbr[446 + 4], 0x06);
    ASSERT_TRUE(card().peek(Le32(mbr + 446 + 8), boot));
    EXPECT_EQ(boot[13], 64);
    EXPECT_EQ(Le16(boot + 26), heads);
    EXPECT_EQ(std::memcmp(boot + 43, "NO NAME    FAT16   ", 19), 0);
    EXPECT_EQ(dataStart % 128, 0u);

    inicializacion_sd();
    EXPECT_EQ(miSD.vol()->fatType(), 16);
    EXPECT_EQ(miSD.vol()->blocksPerCluster(), 64);
    ExpectToolsAccept();
  }
}

TEST_F(FormatterTest, A4GbSdhcCardBecomesFat32With64BlocksPerClusterAnd128Heads) {
  InsertCard(4000 * kMB);
  ASSERT_EQ(card().type(), SD_CARD_TYPE_SDHC);
  Format();
  EXPECT_TRUE(ConsoleHas("Blocks/Cluster: 64\r\nFAT32\r\n")) << console.text;

  uint8_t mbr[512], boot[512], copy[512], fsinfo[512];
  ASSERT_TRUE(card().peek(0, mbr));
  EXPECT_EQ(mbr[446 + 4], 0x0B);
  EXPECT_EQ(Le32(mbr + 446 + 8), 8192u);
  ASSERT_TRUE(card().peek(8192, boot));
  ASSERT_TRUE(card().peek(8192 + 6, copy));
  EXPECT_EQ(std::memcmp(boot, copy, 512), 0);
  EXPECT_EQ(boot[13], 64);
  EXPECT_EQ(Le16(boot + 26), 128);
  EXPECT_EQ(std::memcmp(boot + 71, "NO NAME    FAT32   ", 19), 0);
  ASSERT_TRUE(card().peek(8192 + 1, fsinfo));
  EXPECT_EQ(std::memcmp(fsinfo, "RRaA", 4), 0);
  EXPECT_EQ(std::memcmp(fsinfo + 484, "rrAa", 4), 0);

  // the firmware logs onto it and the tools read back what it wrote
  inicializacion_sd();
  ASSERT_EQ(miSD.vol()->fatType(), 32);
  ASSERT_TRUE(miSD.mkdir("231207"));
  File f = miSD.open("231207/1420.res", O_ESCRITURA_SD);
  ASSERT_EQ(f.write("S1\r\n", 4), 4);
  ASSERT_TRUE(f.close());
  const std::string part = ExpectToolsAccept();
  if (part.empty()) GTEST_SKIP() << "dosfstools or mtools missing";
  std::string out;
  EXPECT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mtype -i " + part + " ::231207/1420.res", &out), 0);
  EXPECT_EQ(out, "S1\r\n");
}

TEST_F(FormatterTest, A4MbCardIsTooSmallAndIsLeftAsItWas) {
  InsertCard(4 * kMB);
  EXPECT_EQ(Formatear_SD(), 0);
  run_ms(50);
  EXPECT_TRUE(ConsoleHas("error: Card is too small.\r\n")) << console.text;
  EXPECT_TRUE(board.resets().empty());
  uint8_t mbr[512];
  ASSERT_TRUE(card().peek(0, mbr));
  EXPECT_EQ(mbr[510], 0);  // nothing written
}

TEST_F(FormatterTest, AHighCapacityCardJustOver2GbGetsSmallerClustersForFat32) {
  // 2049 MB: with 64 blocks a cluster FAT32 would have too few clusters; 32 give enough
  InsertCard(uint64_t(2049) << 20);
  ASSERT_EQ(card().type(), SD_CARD_TYPE_SDHC);
  Format();
  EXPECT_TRUE(ConsoleHas("Blocks/Cluster: 64\r\nFAT32\r\nBlocks/Cluster: 32\r\n")) << console.text;
  EXPECT_TRUE(ConsoleHas("Format done\r\n"));
  ExpectToolsAccept();
}

TEST_F(FormatterTest, AMissingCardIsReportedWithItsErrorCode) {
  sim::SdCard::Config absent;
  absent.present = false;
  InsertCard(64 * kMB, absent);
  EXPECT_EQ(Formatear_SD(), 0);
  run_ms(50);
  EXPECT_TRUE(board.resets().empty());
  EXPECT_TRUE(ConsoleHas("\r\nSD initialization failure!\r\nIs the SD card inserted correctly?\r\n"
                         "Is chip select correct at the top of this program?\r\nerror: card.begin failed\r\n"
                         "SD error: 1,0\r\n"))
      << console.text;
}

TEST_F(FormatterTest, TheEraseRunsOnlyWhenAskedInSlicesWithALineEveryThirtyTwo) {
  InsertCard(64 * kMB);
  uint8_t block[512];
  std::memset(block, 0x5A, sizeof block);
  ASSERT_TRUE(card().poke(100000, block));
  Format();
  ASSERT_TRUE(card().peek(100000, block));
  EXPECT_EQ(block[0], 0x5A);  // the data area is left alone
  EXPECT_EQ(card().counters().erases, 0u);

  CTE_BORRAR_SD = 1;
  Format();
  EXPECT_TRUE(ConsoleHas("Erasing\r\n.\r\nAll data set to 0x00\r\nErase done\r\nFormatting\r\n")) << console.text;
  ASSERT_TRUE(card().peek(100000, block));
  EXPECT_EQ(block[0], 0);

  InsertCard(5000 * kMB);  // 9765625 blocks: 38 erase commands of 262144 blocks
  Format();
  EXPECT_TRUE(ConsoleHas("Erasing\r\n" + std::string(32, '.') + "\r\n" + std::string(6, '.') + "\r\nAll data"));
  EXPECT_EQ(card().counters().erases, 38u);
  EXPECT_EQ(card().counters().blocks_erased, 9765625u);
}

TEST_F(FormatterTest, AFormatWhileLoggingLeavesACleanCardThatLoggingStartsOnAgain) {
  InsertCard(64 * kMB);
  Format();
  DateKnown(7, 12, 23, 14, 20);
  for (int i = 0; i < 3; ++i) CardStep();
  ASSERT_TRUE(ffichero_raw.isOpen());
  cbuffer_raw[0] = 'R';
  ibytes_a_escribir_sd[0] = 1;
  cescritura_sd[0] = 1;
  CardStep();

  // the host's format command
  ccreacion_nuevo_directorio = 0;
  for (int t = 0; t < 3; ++t) ccreacion_nuevo_fichero[t] = 0;
  Format();
  ctarjeta_sd_inicializada = 0;
  const uint64_t written = card().counters().blocks_written;
  CardStep();
  EXPECT_EQ(card().counters().blocks_written, written);  // nothing of the old mount reaches the new volume
  for (int i = 0; i < 2; ++i) CardStep();
  run_ms(50);
  EXPECT_TRUE(ConsoleHas("SD inicializada\r\n"));
  EXPECT_TRUE(ConsoleHas("- Nuevo fichero creado:231207/1420.raw\r\n")) << console.text;
  cerrar_ficheros_sd();
  ExpectToolsAccept();
}

// The simulator formats a new card image before the first boot: no setup, no tick, no console.
class FreshImageTest : public StorageFixture {
 protected:
  FreshImageTest() : StorageFixture(false) {}
};

TEST_F(FreshImageTest, TheFormatterRunsBeforeTheFirstBoot) {
  InsertCard(4000 * kMB);
  Formatear_SD();
  EXPECT_TRUE(console.text.empty());
  StartTickAndConsole();
  inicializacion_sd();
  EXPECT_EQ(miSD.vol()->fatType(), 32);
}

}  // namespace
}  // namespace olas::test
