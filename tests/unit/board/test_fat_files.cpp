// Files and directories written by the driver, judged by fsck.fat and mtools; files written by
// mtools, read by the driver; damaged chains and a full card.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "board/sdfat.h"
#include "sim/fat_image_reader.h"
#include "unit/board/fat_image_tools.h"

namespace olas::test {
namespace {

struct Layout {
  const char* name;
  ImageSpec layout;
};

const Layout kLayouts[] = {
    {"fat16_whole", {16, 16, 4, false}},
    {"fat16_mbr", {8, 16, 2, true}},
    {"fat32_whole", {40, 32, 1, false}},
    {"fat32_mbr", {48, 32, 1, true}},
};

// Appends text the way the logger does (small pieces), then closes.
void append(SdFat& sd, const std::string& path, const std::string& text, size_t piece = 65) {
  File f = sd.open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT);
  ASSERT_TRUE(f) << path;
  for (size_t i = 0; i < text.size(); i += piece) {
    size_t n = std::min(piece, text.size() - i);
    ASSERT_EQ(f.write(text.data() + i, n), int(n)) << path << " at " << i;
  }
  ASSERT_TRUE(f.close()) << path;
}

std::string records(uint32_t first, uint32_t count) {
  std::string s;
  for (uint32_t i = 0; i < count; ++i) s += record_line(first + i);
  return s;
}

class FatFiles : public ::testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    if (!fat_tools_present()) GTEST_SKIP() << "dosfstools/mtools missing";
    layout = GetParam().layout;
    img = dir / "card.img";
    make_image(img, layout);
    rig = std::make_unique<CardRig>(img);
    ASSERT_TRUE(sd.begin(19, SD_SCK_MHZ(12)));
  }
  void expect_clean() {
    FsckResult r = fsck(img, layout);
    EXPECT_TRUE(r.clean()) << r.output;
    EXPECT_EQ(r.output.find("cross-linked"), std::string::npos) << r.output;
  }
  void expect_mcopy(const std::string& path, const std::string& want) {
    std::string got;
    ASSERT_TRUE(mcopy_out(img, layout, path, &got)) << path;
    EXPECT_EQ(got.size(), want.size()) << path;
    EXPECT_TRUE(got == want) << path;
  }

  TempDir dir;
  ImageSpec layout;
  std::filesystem::path img;
  std::unique_ptr<CardRig> rig;
  SdFat sd;
};

TEST_P(FatFiles, DayDirectoryWithItsFilesReadsBackWithMtools) {
  ASSERT_TRUE(sd.mkdir("261207"));
  ASSERT_TRUE(sd.exists("261207"));
  ASSERT_TRUE(sd.exists("/261207/"));
  std::string raw = records(0, 40), wav = records(1000, 7), res = records(2000, 1);
  append(sd, "261207/1420.raw", raw, 1);  // byte by byte, as the RAW buffer goes out
  append(sd, "261207/1420.wav", wav);
  append(sd, "261207/1420.res", res);
  // The RES file is reopened for each record and appended to.
  std::string res2 = records(2001, 1);
  append(sd, "/261207/1420.res", res2);

  expect_clean();
  expect_mcopy("/261207/1420.raw", raw);
  expect_mcopy("/261207/1420.wav", wav);
  expect_mcopy("/261207/1420.res", res + res2);
  // Lower-case names come back lower-case.
  std::string listing;
  ASSERT_EQ(mtools("mdir", img, layout, "-b ::/261207", &listing), 0);
  EXPECT_NE(listing.find("1420.raw"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("1420.RAW"), std::string::npos) << listing;
  EXPECT_TRUE(sd.exists("261207/1420.RAW"));  // names match whatever their case

  // The driver reads back its own file too.
  File f = sd.open("261207/1420.wav");
  ASSERT_TRUE(f);
  EXPECT_EQ(f.fileSize(), wav.size());
  std::string back(wav.size(), '\0');
  EXPECT_EQ(f.read(back.data(), back.size()), int(wav.size()));
  EXPECT_EQ(back, wav);
  EXPECT_EQ(f.read(), -1);
  EXPECT_EQ(f.write("x", 1), -1);  // opened for reading
}

TEST_P(FatFiles, HundredRotationsStayConsistent) {
  ASSERT_TRUE(sd.mkdir("/261207/"));
  std::map<std::string, std::string> want;
  for (uint32_t i = 0; i < 100; ++i) {
    char raw[32], wav[32];
    std::snprintf(raw, sizeof raw, "261207/%04u.raw", i);
    std::snprintf(wav, sizeof wav, "261207/%04u.wav", i);
    File fr = sd.open(raw, O_WRONLY | O_APPEND | O_CREAT);
    File fw = sd.open(wav, O_WRONLY | O_APPEND | O_CREAT);
    ASSERT_TRUE(fr && fw) << i;
    // Both open at once, interleaved through the one-block cache.
    for (uint32_t k = 0; k < 5 + i % 7; ++k) {
      std::string a = record_line(i * 100 + k), b = record_line(i * 100 + k + 50);
      ASSERT_EQ(fr.write(a.data(), a.size()), int(a.size()));
      ASSERT_EQ(fw.write(b.data(), b.size()), int(b.size()));
      want[raw] += a;
      want[wav] += b;
    }
    ASSERT_TRUE(fr.close());
    ASSERT_TRUE(fw.close());
    append(sd, "261207/1420.res", record_line(i));
    want["261207/1420.res"] += record_line(i);
  }
  expect_clean();
  sim::FatImageReader reader(img);
  std::map<std::string, std::string> got;
  for (const auto& e : reader.list()) {
    if (e.is_dir) continue;
    auto bytes = reader.read(e);
    got[e.path] = std::string(bytes.begin(), bytes.end());
  }
  EXPECT_EQ(got, want);
  expect_mcopy("/261207/0099.wav", want["261207/0099.wav"]);
}

TEST_P(FatFiles, TwoHundredFilesInOneDirectoryGrowIt) {
  ASSERT_TRUE(sd.mkdir("261207"));
  for (int i = 0; i < 200; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "261207/F%03d.TXT", i);
    append(sd, name, std::string(name) + "\n");
  }
  expect_clean();
  // The driver's own walk sees all 200 and nothing else ("." and ".." skipped).
  FatFile d;
  ASSERT_TRUE(d.open(sd.vwd(), "261207"));
  ASSERT_TRUE(d.isDir());
  std::set<std::string> seen;
  FatFile f;
  while (f.openNext(&d, O_RDONLY)) {
    char name[13];
    ASSERT_TRUE(f.getName(name, sizeof name));
    EXPECT_TRUE(f.isFile());
    seen.insert(name);
    EXPECT_EQ(f.fileSize(), 16u);  // "261207/F000.TXT\n"
    f.close();
  }
  EXPECT_EQ(seen.size(), 200u);
  EXPECT_TRUE(seen.count("F000.TXT") && seen.count("F199.TXT"));
  std::string listing;
  ASSERT_EQ(mtools("mdir", img, layout, "-b ::/261207", &listing), 0);
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 200) << listing;
  expect_mcopy("/261207/F137.TXT", "261207/F137.TXT\n");
}

TEST_P(FatFiles, FileGrownOverManyClusters) {
  const uint32_t cluster = sd.vol()->blocksPerCluster() * 512u;
  std::string text = records(0, (40 * cluster) / 65 + 3);  // about 40 clusters, ragged end
  // Written in pieces that straddle block and cluster edges, with a reopen in the middle.
  append(sd, "big.dat", text.substr(0, text.size() / 3), 333);
  append(sd, "big.dat", text.substr(text.size() / 3), 1000);
  expect_clean();
  expect_mcopy("/big.dat", text);
  File f = sd.open("big.dat");
  ASSERT_TRUE(f);
  ASSERT_TRUE(f.seekSet(uint32_t(text.size() - 100)));
  char tail[100];
  EXPECT_EQ(f.read(tail, 200), 100);
  EXPECT_EQ(std::string(tail, 100), text.substr(text.size() - 100));
  EXPECT_FALSE(f.seekSet(uint32_t(text.size() + 1)));
}

TEST_P(FatFiles, CardFilledTo99PercentStaysClean) {
  const int32_t free0 = sd.vol()->freeClusterCount();
  const uint32_t total = sd.vol()->clusterCount();
  const uint32_t cluster = sd.vol()->blocksPerCluster() * 512u;
  // Leave 1 % of the clusters free.
  const uint64_t target = uint64_t(free0) - total / 100;
  File f = sd.open("fill.bin", O_WRONLY | O_APPEND | O_CREAT);
  ASSERT_TRUE(f);
  std::string chunk(cluster, 'F');
  for (uint64_t i = 0; i < target; ++i) ASSERT_EQ(f.write(chunk.data(), chunk.size()), int(cluster));
  ASSERT_TRUE(f.close());
  int32_t free1 = sd.vol()->freeClusterCount();
  EXPECT_EQ(free1, int32_t(free0 - target));
  double used = 100.0 * (total - free1) / total;
  EXPECT_GE(used, 98.9);
  expect_clean();
  sim::FatImageReader reader(img);
  EXPECT_EQ(reader.free_clusters(), uint32_t(free1));
}

TEST_P(FatFiles, FullCardFailsCleanlyAndKeepsWhatFitted) {
  const uint32_t cluster = sd.vol()->blocksPerCluster() * 512u;
  append(sd, "keep.txt", "stored before the card filled\n");
  File f = sd.open("fill.bin", O_WRONLY | O_APPEND | O_CREAT);
  ASSERT_TRUE(f);
  std::string chunk(cluster * 8 + 100, 'F');
  uint64_t written = 0;
  int n;
  while ((n = f.write(chunk.data(), chunk.size())) == int(chunk.size())) written += chunk.size();
  ASSERT_GE(n, -1);
  if (n > 0) written += uint64_t(n);
  EXPECT_EQ(f.write("more", 4), -1);  // nothing more fits
  EXPECT_EQ(f.fileSize(), written);
  ASSERT_TRUE(f.close());
  EXPECT_EQ(sd.vol()->freeClusterCount(), 0);
  // New files can still be created (no cluster needed) but take no data; directories cannot.
  File g = sd.open("late.txt", O_WRONLY | O_APPEND | O_CREAT);
  if (g) {
    EXPECT_EQ(g.write("x", 1), -1);
    g.close();
  }
  EXPECT_FALSE(sd.mkdir("261208"));
  expect_clean();
  expect_mcopy("/keep.txt", "stored before the card filled\n");
  sim::FatImageReader reader(img);
  for (const auto& e : reader.list()) {
    if (e.path == "fill.bin") {
      EXPECT_EQ(e.size, written);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, FatFiles, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Files made by mtools, and damage the driver must survive ---------------------------------

class FatForeign : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fat_tools_present()) GTEST_SKIP() << "dosfstools/mtools missing";
    img = dir / "card.img";
    make_image(img, layout);
  }
  TempDir dir;
  ImageSpec layout{8, 16, 1, true};
  std::filesystem::path img;
};

TEST_F(FatForeign, FilesWrittenByMtoolsAreFoundAndRead) {
  std::string big = records(0, 200);
  write_host_file(dir / "big", big);
  write_host_file(dir / "small", "tiny\n");
  ASSERT_EQ(mtools("mmd", img, layout, "::/261207"), 0);
  ASSERT_EQ(mtools("mcopy", img, layout, "'" + (dir / "big").string() + "' ::/261207/1420.RAW"), 0);
  ASSERT_EQ(mtools("mcopy", img, layout, "'" + (dir / "small").string() + "' ::/notes.txt"), 0);
  ASSERT_EQ(mtools("mcopy", img, layout,
                   "'" + (dir / "small").string() + "' '::/A long file name.text'"),
            0);

  CardRig rig(img);
  SdFat sd;
  ASSERT_TRUE(sd.begin(19));
  ASSERT_TRUE(sd.exists("261207/1420.raw"));
  File f = sd.open("/261207/1420.RAW");
  ASSERT_TRUE(f);
  std::string back(big.size(), '\0');
  EXPECT_EQ(f.read(back.data(), back.size() + 10), int(big.size()));
  EXPECT_EQ(back, big);
  f.close();

  // The root walk shows the 8.3 names only: no volume label, no long-name parts.
  FatFile root, e;
  ASSERT_TRUE(root.openRoot(sd.vol()));
  std::set<std::string> names;
  while (e.openNext(&root)) {
    char name[13];
    ASSERT_TRUE(e.getName(name, sizeof name));
    names.insert(name);
    e.close();
  }
  EXPECT_EQ(names.count("261207"), 1u);
  EXPECT_EQ(names.size(), 3u);
  EXPECT_EQ(names.count("TESTCARD"), 0u);
  File n = sd.open("notes.txt");
  ASSERT_TRUE(n);
  char buf[8] = {};
  EXPECT_EQ(n.read(buf, 8), 5);

  // Appending to a file someone else wrote.
  append(sd, "261207/1420.raw", record_line(777));
  FsckResult r = fsck(img, layout);
  EXPECT_TRUE(r.clean()) << r.output;
  std::string got;
  ASSERT_TRUE(mcopy_out(img, layout, "/261207/1420.RAW", &got));
  EXPECT_EQ(got, big + record_line(777));
}

// Byte offset of the FAT entry of cluster c in the first FAT (FAT16).
uint64_t fat16_entry(const sim::FatImageReader& reader, const std::filesystem::path& img, uint32_t c) {
  auto bs = peek_image(img, reader.volume_offset(), 512);
  uint32_t reserved = bs[14] | (bs[15] << 8);
  return reader.volume_offset() + uint64_t(reserved) * 512 + 2ull * c;
}

TEST_F(FatForeign, LoopingClusterChainIsNeverFollowedForEver) {
  std::string text = records(0, 100);  // 6500 bytes: 13 clusters of 512
  write_host_file(dir / "t", text);
  ASSERT_EQ(mtools("mcopy", img, layout, "'" + (dir / "t").string() + "' ::/LOOP.TXT"), 0);
  uint32_t first = 0;
  {
    sim::FatImageReader reader(img);
    for (const auto& e : reader.list())
      if (e.path == "LOOP.TXT") first = e.first_cluster;
    ASSERT_NE(first, 0u);
    // The 5th cluster points back to the first, and the file claims to be huge.
    patch_image(img, fat16_entry(reader, img, first + 4), {uint8_t(first), uint8_t(first >> 8)});
  }
  {
    sim::FatImageReader reader(img);
    EXPECT_THROW(
        {
          for (const auto& e : reader.list())
            if (!e.is_dir) reader.read(e);
        },
        sim::FatImageError);
  }
  std::vector<uint8_t> before = peek_image(img, 0, 8 << 20);

  CardRig rig(img);
  SdFat sd;
  ASSERT_TRUE(sd.begin(19));
  // Read: bounded by the size; the loop only repeats data.
  File r = sd.open("LOOP.TXT");
  ASSERT_TRUE(r);
  std::string back(text.size(), '\0');
  EXPECT_EQ(r.read(back.data(), back.size()), int(text.size()));
  EXPECT_EQ(back.substr(0, 2560), text.substr(0, 2560));
  // Append: the chain is checked first and the file is refused; nothing is written.
  File w = sd.open("LOOP.TXT", O_WRONLY | O_APPEND | O_CREAT);
  EXPECT_FALSE(w);
  EXPECT_EQ(w.write("x", 1), -1);
  EXPECT_EQ(rig.card->counters().blocks_written, 0u);
  EXPECT_EQ(peek_image(img, 0, 8 << 20), before);
}

TEST_F(FatForeign, LoopingDirectoryChainEndsTheWalk) {
  ASSERT_EQ(mtools("mmd", img, layout, "::/D"), 0);
  for (int i = 0; i < 30; ++i) {
    write_host_file(dir / "x", "x\n");
    ASSERT_EQ(mtools("mcopy", img, layout, "'" + (dir / "x").string() + "' ::/D/F" + std::to_string(i)), 0);
  }
  uint32_t first = 0;
  {
    sim::FatImageReader reader(img);
    for (const auto& e : reader.list())
      if (e.path == "D") first = e.first_cluster;
    ASSERT_NE(first, 0u);
    // D fills 2 clusters of 16 entries (".", "..", 30 files): the second points back.
    std::vector<uint8_t> fat = peek_image(img, fat16_entry(reader, img, first), 2);
    uint32_t second = fat[0] | (fat[1] << 8);
    ASSERT_GE(second, 2u);
    ASSERT_LT(second, 0xFFF8u);
    patch_image(img, fat16_entry(reader, img, second), {uint8_t(first), uint8_t(first >> 8)});
  }
  CardRig rig(img);
  SdFat sd;
  ASSERT_TRUE(sd.begin(19));
  FatFile d, e;
  ASSERT_TRUE(d.open(sd.vwd(), "D"));
  int n = 0;
  while (e.openNext(&d) && n < 1000000) {
    ++n;
    e.close();
  }
  EXPECT_LT(n, 1000000);  // ended by the directory size bound
  EXPECT_GE(n, 30);
  // Creating in it cannot grow it (the chain never ends): refused, no crash.
  EXPECT_FALSE(sd.exists("D/NEW.TXT"));
  File f = sd.open("D/NEW.TXT", O_WRONLY | O_APPEND | O_CREAT);
  EXPECT_FALSE(f);
}

TEST_F(FatForeign, NamesThatAre8Dot3OrNot) {
  CardRig rig(img);
  SdFat sd;
  ASSERT_TRUE(sd.begin(19));
  for (const char* bad : {"toolongname.txt", "a.text", "two.dots.x", ".hidden", "sp ace", "a*b",
                          "", "/", "dir/", "a/../b"}) {
    File f = sd.open(bad, O_WRONLY | O_APPEND | O_CREAT);
    EXPECT_FALSE(f) << bad;
  }
  for (const char* good : {"UPPER.TXT", "lower.txt", "MixEd.Txt", "noext", "_$~!.#&-", "12345678.123"}) {
    File f = sd.open(good, O_WRONLY | O_APPEND | O_CREAT);
    ASSERT_TRUE(f) << good;
    char name[13];
    ASSERT_TRUE(f.getName(name, sizeof name));
    std::string want = good;
    if (want == "MixEd.Txt") want = "MIXED.TXT";  // mixed case has no 8.3 form: upper-cased
    EXPECT_EQ(std::string(name), want);
    char tiny[4];
    EXPECT_FALSE(f.getName(tiny, sizeof tiny));
    f.close();
  }
  File again = sd.open("LOWER.TXT", O_WRONLY | O_CREAT | O_EXCL);
  EXPECT_FALSE(again);  // exists already, whatever the case
  FsckResult r = fsck(img, layout);
  EXPECT_TRUE(r.clean()) << r.output;
}

TEST_F(FatForeign, MkdirMakesParentsAndProperDotEntries) {
  CardRig rig(img);
  SdFat sd;
  ASSERT_TRUE(sd.begin(19));
  EXPECT_FALSE(sd.mkdir("A/B/C", false));  // no parents without pFlag
  ASSERT_TRUE(sd.mkdir("A/B/C"));
  EXPECT_FALSE(sd.mkdir("A/B/C"));  // already there
  ASSERT_TRUE(sd.mkdir("/A/B2"));
  append(sd, "A/B/C/deep.txt", "deep\n");
  EXPECT_FALSE(sd.mkdir("A/B/C/deep.txt/D"));  // a file is no directory
  File d = sd.open("A/B/C/deep.txt/");
  EXPECT_FALSE(d);
  FsckResult r = fsck(img, layout);  // fsck checks "." and ".." of every directory
  EXPECT_TRUE(r.clean()) << r.output;
  std::string got;
  ASSERT_TRUE(mcopy_out(img, layout, "/A/B/C/deep.txt", &got));
  EXPECT_EQ(got, "deep\n");
}

TEST_F(FatForeign, TruncateFreesTheChain) {
  CardRig rig(img);
  SdFat sd;
  ASSERT_TRUE(sd.begin(19));
  int32_t free0 = sd.vol()->freeClusterCount();
  append(sd, "t.txt", records(0, 50));
  EXPECT_LT(sd.vol()->freeClusterCount(), free0);
  File f = sd.open("t.txt", O_WRONLY | O_TRUNC);
  ASSERT_TRUE(f);
  EXPECT_EQ(f.fileSize(), 0u);
  ASSERT_EQ(f.write("new\n", 4), 4);
  ASSERT_TRUE(f.close());
  EXPECT_EQ(sd.vol()->freeClusterCount(), free0 - 1);
  FsckResult r = fsck(img, layout);
  EXPECT_TRUE(r.clean()) << r.output;
}

// Power cut after every possible block write of a small logging step: the card is never left
// with cross-linked chains, a wrong FSInfo count, or damage to a file closed before.
TEST(FatPowerCut, NoCutLeavesCrossLinksOrHurtsClosedFiles) {
  SKIP_WITHOUT_FAT_TOOLS();
  for (int fat : {16, 32}) {
    TempDir dir;
    ImageSpec layout = fat == 16 ? ImageSpec{8, 16, 1, false} : ImageSpec{40, 32, 1, false};
    make_image(dir / "base.img", layout);
    {
      CardRig rig(dir / "base.img");
      SdFat sd;
      ASSERT_TRUE(sd.begin(19));
      ASSERT_TRUE(sd.mkdir("261207"));
      append(sd, "261207/1400.res", records(0, 3));
    }
    bool finished = false;
    for (uint64_t cut = 0; !finished; ++cut) {
      ASSERT_LT(cut, 200u);
      copy_image(dir / "base.img", dir / "card.img");
      CardRig rig(dir / "card.img");
      rig.card->cut_power_after(cut);
      SdFat sd;
      ASSERT_TRUE(sd.begin(19));
      // After the cut the driver reads back stale blocks: its calls may fail, never crash.
      sd.mkdir("261208");
      File raw = sd.open("261208/1420.raw", O_WRONLY | O_APPEND | O_CREAT);
      for (char c : records(100, 30)) raw.write(&c, 1);
      raw.close();
      File res = sd.open("261207/1400.res", O_WRONLY | O_APPEND | O_CREAT);
      res.write(records(3, 1).data(), 65);
      res.close();
      finished = rig.card->counters().dropped_writes == 0;
      FsckResult r = fsck(dir / "card.img", layout);
      EXPECT_EQ(r.output.find("cross-linked"), std::string::npos) << "cut " << cut << "\n" << r.output;
      EXPECT_EQ(r.output.find("summary wrong"), std::string::npos) << "cut " << cut << "\n" << r.output;
      std::string got;
      ASSERT_TRUE(mcopy_out(dir / "card.img", layout, "/261207/1400.res", &got)) << cut;
      EXPECT_EQ(got.substr(0, 3 * 65), records(0, 3)) << "cut " << cut;
      if (finished) {
        EXPECT_TRUE(r.clean()) << r.output;
      }
    }
  }
}

}  // namespace
}  // namespace olas::test
