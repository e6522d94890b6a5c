// The driver's block cache: a minute of logging touches each block once, and what the cache holds
// never outlives a failed write, a card pulled out or a remount.
#include <gtest/gtest.h>

#include "board/sdfat.h"
#include "unit/board/fat_image_tools.h"

namespace olas::test {
namespace {

std::string records(uint32_t first, uint32_t count) {
  std::string s;
  for (uint32_t i = 0; i < count; ++i) s += record_line(first + i);
  return s;
}

TEST(FatCache, LoggingMinuteWritesEachBlockOnceAndReadsNothing) {
  SKIP_WITHOUT_FAT_TOOLS();
  TempDir dir;
  ImageSpec layout{16, 16, 4, false};  // 2 KB clusters: a new cluster every 32 records
  make_image(dir / "card.img", layout);
  CardRig rig(dir / "card.img");
  SdFat sd;
  ASSERT_TRUE(sd.begin(19));
  ASSERT_TRUE(sd.mkdir("261207"));
  File raw = sd.open("261207/1420.raw", O_WRONLY | O_APPEND | O_CREAT);
  File wav = sd.open("261207/1420.wav", O_WRONLY | O_APPEND | O_CREAT);
  ASSERT_TRUE(raw && wav);
  uint32_t n = 0;
  for (int minute = 0; minute < 4; ++minute) {
    const auto before = rig.card->counters();
    const uint32_t raw0 = raw.fileSize(), wav0 = wav.fileSize();
    // Ten point records a second and a wave every 8 s, each checked with exists() first.
    for (int tenth = 0; tenth < 600; ++tenth, ++n) {
      std::string r = record_line(n);
      ASSERT_TRUE(sd.exists("261207/1420.raw"));
      ASSERT_EQ(raw.write(r.data(), r.size()), int(r.size()));
      if (tenth % 80 == 79) {
        ASSERT_TRUE(sd.exists("261207/1420.wav"));
        ASSERT_EQ(wav.write(r.data(), r.size()), int(r.size()));
      }
    }
    ASSERT_TRUE(raw.sync());
    ASSERT_TRUE(wav.sync());
    const auto& after = rig.card->counters();
    // Every data block the minute touched, once; both FAT copies of the block in use (a second one
    // when the chain crosses into it); the directory block at each file's sync.
    const uint32_t data_blocks = (raw.fileSize() - 1) / 512 - raw0 / 512 + 1 + (wav.fileSize() - 1) / 512 - wav0 / 512 + 1;
    EXPECT_LE(after.blocks_written - before.blocks_written, data_blocks + 2 * 2 + 2) << "minute " << minute;
    EXPECT_GE(after.blocks_written - before.blocks_written, data_blocks) << "minute " << minute;
    EXPECT_LE(after.blocks_read - before.blocks_read, 1u) << "minute " << minute;
  }
  ASSERT_TRUE(raw.close() && wav.close());
  std::string got;
  ASSERT_TRUE(mcopy_out(dir / "card.img", layout, "261207/1420.raw", &got));
  EXPECT_TRUE(got == records(0, n));
  FsckResult check = fsck(dir / "card.img", layout);
  EXPECT_TRUE(check.clean()) << check.output;
}

TEST(FatCache, FailedWritesStayPendingAndNothingStaleOutlivesAFailureOrRemount) {
  SKIP_WITHOUT_FAT_TOOLS();
  TempDir dir;
  ImageSpec layout{16, 16, 4, false};
  make_image(dir / "card.img", layout);
  CardRig rig(dir / "card.img");
  SdFat sd;
  ASSERT_TRUE(sd.begin(19));
  File f = sd.open("a.txt", O_WRONLY | O_APPEND | O_CREAT);
  ASSERT_TRUE(f);
  ASSERT_EQ(f.write(records(0, 20).data(), 20 * 65), 20 * 65);
  ASSERT_TRUE(f.sync());

  // Writes failing for a while: the blocks wait in the cache and go out at the next good sync.
  rig.card->fail_writes(true);
  ASSERT_EQ(f.write(records(20, 10).data(), 10 * 65), 10 * 65);
  EXPECT_FALSE(f.sync());
  rig.card->fail_writes(false);
  EXPECT_TRUE(f.sync());
  ASSERT_TRUE(f.close());
  std::string got;
  ASSERT_TRUE(mcopy_out(dir / "card.img", layout, "a.txt", &got));
  EXPECT_TRUE(got == records(0, 30));

  // Pulled out: the cache answers until the card fails, then what was read is dropped and the
  // card is seen as gone.
  File g = sd.open("a.txt", O_WRONLY | O_APPEND);
  ASSERT_TRUE(g);
  rig.card->remove();
  EXPECT_TRUE(sd.exists("a.txt"));
  ASSERT_EQ(g.write("x", 1), 1);
  EXPECT_FALSE(g.sync());
  EXPECT_FALSE(sd.exists("a.txt"));
  rig.card->insert();

  // Another volume behind the driver's back, mounted again: nothing of the old one is served.
  make_image(dir / "fresh.img", layout);
  write_host_file(dir / "card.img", read_host_file(dir / "fresh.img"));
  ASSERT_TRUE(sd.begin(19));
  EXPECT_FALSE(sd.exists("a.txt"));
  File h = sd.open("c.txt", O_WRONLY | O_APPEND | O_CREAT);
  ASSERT_TRUE(h);
  ASSERT_EQ(h.write("new\n", 4), 4);
  ASSERT_TRUE(h.close());
  ASSERT_TRUE(mcopy_out(dir / "card.img", layout, "c.txt", &got));
  EXPECT_EQ(got, "new\n");
  FsckResult check = fsck(dir / "card.img", layout);
  EXPECT_TRUE(check.clean()) << check.output;
}

}  // namespace
}  // namespace olas::test
