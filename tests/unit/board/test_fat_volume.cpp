// Mounting FAT volumes made by mkfs.fat, and refusing bad ones without harm.
#include <gtest/gtest.h>

#include "board/sdfat.h"
#include "sim/fat_image_reader.h"
#include "unit/board/fat_image_tools.h"

namespace olas::test {
namespace {

// The 16 MB FAT16 card without a partition table that most tests here start from.
const ImageSpec kFat16Card{16, 16, 4, false};

struct Layout {
  const char* name;
  ImageSpec layout;
};

class FatVolumeLayouts : public ::testing::TestWithParam<Layout> {};

// Every layout the card can carry: FAT16 and FAT32, with and without a partition table.
const Layout kLayouts[] = {
    {"fat16_whole", {16, 16, 4, false}},
    {"fat16_mbr", {8, 16, 2, true}},
    {"fat32_whole", {40, 32, 1, false}},
    {"fat32_mbr", {48, 32, 1, true}},
};

TEST_P(FatVolumeLayouts, MountsAndAgreesWithAnIndependentReader) {
  SKIP_WITHOUT_FAT_TOOLS();
  TempDir dir;
  const ImageSpec& layout = GetParam().layout;
  make_image(dir / "card.img", layout);
  sim::FatImageReader reader(dir / "card.img");
  CardRig rig(dir / "card.img");

  SdFat sd;
  ASSERT_TRUE(sd.begin(19, SD_SCK_MHZ(12)));
  FatVolume* v = sd.vol();
  EXPECT_EQ(v->fatType(), layout.fat_bits);
  EXPECT_EQ(v->blocksPerCluster(), layout.sectors_per_cluster);
  EXPECT_EQ(v->clusterCount(), reader.cluster_count());
  EXPECT_EQ(v->volumeStartBlock(), layout.partitioned ? kPartitionStart : 0u);
  EXPECT_EQ(v->freeClusterCount(), int32_t(reader.free_clusters()));

  // The FAT as the time-limited count walks it: its first block holds the media byte.
  const uint8_t* first = v->cacheFatBlock(v->fatStartBlock());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first[0], 0xF8);
  EXPECT_NE(v->cacheFatBlock(v->fatStartBlock() + v->blocksPerFat() - 1), nullptr);
  EXPECT_EQ(v->cacheFatBlock(v->fatStartBlock() + v->blocksPerFat()), nullptr);  // second copy
  EXPECT_EQ(v->cacheFatBlock(v->fatStartBlock() - 1), nullptr);

  EXPECT_TRUE(sd.vwd()->isDir());
  EXPECT_EQ(FatFile::cwd(), sd.vwd());
}

INSTANTIATE_TEST_SUITE_P(Layouts, FatVolumeLayouts, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FatVolume, Fat12MountsOnlyToReportItsType) {
  SKIP_WITHOUT_FAT_TOOLS();
  TempDir dir;
  make_image(dir / "card.img", ImageSpec{2, 12, 1, false});
  CardRig rig(dir / "card.img");
  SdSpiCard card;
  ASSERT_TRUE(card.begin(19));
  FatVolume vol;
  ASSERT_TRUE(vol.init(&card, 0));
  EXPECT_EQ(vol.fatType(), 12);
  EXPECT_EQ(vol.freeClusterCount(), -1);
  EXPECT_EQ(vol.cacheFatBlock(vol.fatStartBlock()), nullptr);
  FatFile root;
  EXPECT_FALSE(root.openRoot(&vol));
  SdFat sd;
  EXPECT_FALSE(sd.begin(19));
}

// A boot sector that lies must not be mounted: nothing is written and nothing crashes.
struct BpbDamage {
  const char* name;
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> patches;  // offset, bytes
};

class FatVolumeBadBpb : public ::testing::TestWithParam<BpbDamage> {};

const BpbDamage kDamages[] = {
    {"no_signature", {{510, {0x00, 0x00}}}},
    {"bytes_per_sector_1024", {{11, {0x00, 0x04}}}},
    {"zero_sectors_per_cluster", {{13, {0}}}},
    {"three_sectors_per_cluster", {{13, {3}}}},
    {"zero_reserved", {{14, {0, 0}}}},
    {"zero_fats", {{16, {0}}}},
    {"zero_fat_size", {{22, {0, 0}}}},
    {"volume_larger_than_card", {{19, {0xFF, 0xFF}}}},  // 32 MB on a 16 MB card
    {"huge_32bit_total", {{19, {0, 0}}, {32, {0xFF, 0xFF, 0xFF, 0x7F}}}},
    {"fat_too_small_for_clusters", {{22, {1, 0}}}},
    {"fat32_layout_with_fat16_count", {{17, {0, 0}}, {22, {0, 0}}, {36, {32, 0, 0, 0}}}},
};

TEST_P(FatVolumeBadBpb, IsRefusedAndTheImageIsLeftAlone) {
  SKIP_WITHOUT_FAT_TOOLS();
  TempDir dir;
  make_image(dir / "card.img", kFat16Card);
  for (const auto& [offset, bytes] : GetParam().patches) patch_image(dir / "card.img", offset, bytes);
  std::vector<uint8_t> before = peek_image(dir / "card.img", 0, 64 * 1024);
  {
    CardRig rig(dir / "card.img");
    SdFat sd;
    EXPECT_FALSE(sd.begin(19));
    EXPECT_EQ(sd.vol()->fatType(), 0);
    EXPECT_EQ(sd.vol()->freeClusterCount(), -1);
    EXPECT_FALSE(sd.exists("/"));
    EXPECT_FALSE(sd.mkdir("261207"));
    File f = sd.open("261207/1420.raw", O_WRONLY | O_APPEND | O_CREAT);
    EXPECT_FALSE(f);
    EXPECT_EQ(f.write("x", 1), -1);
    EXPECT_EQ(rig.card->counters().blocks_written, 0u);
  }
  EXPECT_EQ(peek_image(dir / "card.img", 0, 64 * 1024), before);
}

INSTANTIATE_TEST_SUITE_P(Damages, FatVolumeBadBpb, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FatVolume, MbrPointingNowhereFallsBackToNothingAndNeverCrashes) {
  SKIP_WITHOUT_FAT_TOOLS();
  TempDir dir;
  ImageSpec layout{8, 16, 2, true};
  make_image(dir / "card.img", layout);
  // Partition 1 beyond the end of the card; block 0 is not a boot sector either.
  patch_image(dir / "card.img", 0x1BE + 8, {0x00, 0x00, 0x10, 0x00});
  CardRig rig(dir / "card.img");
  SdFat sd;
  EXPECT_FALSE(sd.begin(19));
  EXPECT_FALSE(sd.vol()->init(2));  // empty entry
  EXPECT_FALSE(sd.vol()->init(5));  // no such entry
}

TEST(FatVolume, NoCardOrCardOutFailsCleanly) {
  SKIP_WITHOUT_FAT_TOOLS();
  TempDir dir;
  make_image(dir / "card.img", kFat16Card);
  CardRig rig(dir / "card.img");
  rig.card->remove();
  SdFat sd;
  EXPECT_FALSE(sd.begin(19));
  EXPECT_NE(sd.card()->errorCode(), 0);
  EXPECT_EQ(sd.card()->cardSize(), 0u);

  rig.card->insert();
  ASSERT_TRUE(sd.begin(19));
  File f = sd.open("a.txt", O_WRONLY | O_APPEND | O_CREAT);
  ASSERT_TRUE(f);
  ASSERT_EQ(f.write("hello\n", 6), 6);
  ASSERT_TRUE(f.close());

  // Pulled out in the middle of a file: every call fails, nothing stops.
  f = sd.open("b.txt", O_WRONLY | O_APPEND | O_CREAT);
  ASSERT_TRUE(f);
  ASSERT_EQ(f.write("pending", 7), 7);  // still in the block cache
  rig.card->remove();
  std::string big(3000, 'z');
  EXPECT_LT(f.write(big.data(), big.size()), int(big.size()));  // at most what the cache holds
  EXPECT_EQ(f.write(big.data(), big.size()), -1);
  EXPECT_FALSE(f.sync());
  EXPECT_FALSE(f.close());
  EXPECT_EQ(sd.vol()->freeClusterCount(), -1);
  EXPECT_FALSE(sd.exists("a.txt"));

  // Back in and mounted again: what was closed before is still there.
  rig.card->insert();
  ASSERT_TRUE(sd.begin(19));
  File r = sd.open("a.txt");
  ASSERT_TRUE(r);
  char buf[16] = {};
  EXPECT_EQ(r.read(buf, sizeof buf), 6);
  EXPECT_STREQ(buf, "hello\n");
  // b.txt's cluster was never linked to its entry: at most lost (its FAT block may not have left
  // the cache), never cross-linked.
  FsckResult check = fsck(dir / "card.img", kFat16Card);
  EXPECT_TRUE(check.clean() || check.output.find("Reclaimed 1 unused cluster") != std::string::npos)
      << check.output;
  EXPECT_EQ(check.output.find("cross-linked"), std::string::npos) << check.output;
}

TEST(FatVolume, FilesOfAnEarlierMountAreDeadAfterARemount) {
  SKIP_WITHOUT_FAT_TOOLS();
  TempDir dir;
  make_image(dir / "card.img", kFat16Card);
  CardRig rig(dir / "card.img");
  SdFat sd;
  ASSERT_TRUE(sd.begin(19));
  File f = sd.open("old.txt", O_WRONLY | O_APPEND | O_CREAT);
  ASSERT_TRUE(f);
  ASSERT_EQ(f.write("abc", 3), 3);
  // The card is formatted anew behind the driver's back and mounted again: the old file object
  // must not write into the new volume.
  make_image(dir / "fresh.img", kFat16Card);
  write_host_file(dir / "card.img", read_host_file(dir / "fresh.img"));  // same file, new content
  ASSERT_TRUE(sd.begin(19));
  EXPECT_EQ(f.write("def", 3), -1);
  EXPECT_FALSE(f.sync());
  EXPECT_FALSE(sd.exists("old.txt"));
  FsckResult check = fsck(dir / "card.img", kFat16Card);
  EXPECT_TRUE(check.clean()) << check.output;
}

}  // namespace
}  // namespace olas::test
