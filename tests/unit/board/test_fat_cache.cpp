// The driver's block cache: a minute of logging writes each block once and reads nothing back, and
// nothing it holds outlives a failed write or a card pulled out (a remount: test_fat_volume.cpp).
#include <gtest/gtest.h>

#include "board/sdfat.h"
#include "unit/board/fat_image_tools.h"

namespace olas::test {
namespace {

TEST(FatCache, LoggingMinuteWritesEachBlockOnceAndStaysCoherentThroughCardTrouble) {
  SKIP_WITHOUT_FAT_TOOLS();
  TempDir dir;
  ImageSpec layout{16, 16, 4, false};  // 2 KB clusters: a new cluster every 32 records
  make_image(dir / "card.img", layout);
  CardRig rig(dir / "card.img");
  SdFat sd;
  ASSERT_TRUE(sd.begin(19) && sd.mkdir("261207"));
  File raw = sd.open("261207/1420.raw", O_WRONLY | O_APPEND | O_CREAT);
  File wav = sd.open("261207/1420.wav", O_WRONLY | O_APPEND | O_CREAT);
  ASSERT_TRUE(raw && wav);
  std::string all;
  auto minute = [&](int tenths, bool check_io) {
    const auto before = rig.card->counters();
    const uint32_t raw0 = raw.fileSize(), wav0 = wav.fileSize();
    for (int tenth = 0; tenth < tenths; ++tenth) {  // ten point records a second, a wave every 8 s
      std::string r = record_line(uint32_t(all.size() / 65));
      all += r;
      ASSERT_TRUE(sd.exists("261207/1420.raw"));
      ASSERT_EQ(raw.write(r.data(), r.size()), int(r.size()));
      if (tenth % 80 == 79) {
        ASSERT_TRUE(sd.exists("261207/1420.wav") && wav.write(r.data(), 4) == 4);
      }
    }
    if (!check_io) return;
    ASSERT_TRUE(raw.sync() && wav.sync());
    const auto& after = rig.card->counters();
    // Each data block touched once, both FAT copies of one or two FAT blocks, the entry at each sync.
    const uint32_t blocks = raw.fileSize() / 512 - raw0 / 512 + 1 + wav.fileSize() / 512 - wav0 / 512 + 1;
    EXPECT_GE(after.blocks_written - before.blocks_written, blocks - 2);
    EXPECT_LE(after.blocks_written - before.blocks_written, blocks + 2 * 2 + 2);
    EXPECT_LE(after.blocks_read - before.blocks_read, 1u);
  };
  for (int m = 0; m < 3; ++m) ASSERT_NO_FATAL_FAILURE(minute(600, true));

  // Writes failing for a while: the blocks wait in the cache and go out at the next good sync.
  rig.card->fail_writes(true);
  ASSERT_NO_FATAL_FAILURE(minute(12, false));
  EXPECT_FALSE(raw.sync());
  rig.card->fail_writes(false);
  ASSERT_TRUE(raw.close() && wav.close());
  std::string got;
  ASSERT_TRUE(mcopy_out(dir / "card.img", layout, "261207/1420.raw", &got));
  EXPECT_TRUE(got == all);

  // Pulled out: the cache answers until the card fails; then what was read is dropped.
  ASSERT_TRUE(sd.exists("261207/1420.wav"));
  rig.card->remove();
  EXPECT_TRUE(sd.exists("261207/1420.wav"));
  EXPECT_FALSE(sd.open("261207/b.txt", O_WRONLY | O_APPEND | O_CREAT));
  EXPECT_FALSE(sd.exists("261207/1420.wav"));

  FsckResult check = fsck(dir / "card.img", layout);
  EXPECT_TRUE(check.clean()) << check.output;
}

}  // namespace
}  // namespace olas::test
