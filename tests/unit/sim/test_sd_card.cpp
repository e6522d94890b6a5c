// The simulated card (its medium, and through the firmware's SPI protocol), the run's card
// set-up, and the host-side image reader.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>

#include "board/hal.h"
#include "board/sd_spi.h"
#include "board/sdfat.h"
#include "sensor_olas_sim/card_setup.h"
#include "sensor_olas_sim/options.h"
#include "sim/board.h"
#include "sim/fat_image_reader.h"
#include "sim/sd_card.h"
#include "unit/board/fat_image_tools.h"

namespace olas::test {
namespace {

namespace fs = std::filesystem;
using sim::SdCard;

std::vector<uint8_t> block_of(uint8_t v) { return std::vector<uint8_t>(512, v); }

class SdCardTest : public ::testing::Test {
 protected:
  SdCardTest() : board(sim::Board::Config{}) { board.make_current(); }
  ~SdCardTest() override { board.set_card(nullptr); }
  TempDir dir;
  sim::Board board;
};

TEST_F(SdCardTest, ImageIsSparseAnySizeAndTypedByCapacity) {
  SdCard big((dir / "big.img").string(), (4ull << 30) + 1000);  // rounded down to whole blocks
  EXPECT_EQ(big.blocks(), (4ull << 30) / 512 + 1);
  EXPECT_EQ(big.type(), 3);  // SDHC
  struct stat st {};
  ASSERT_EQ(::stat((dir / "big.img").c_str(), &st), 0);
  EXPECT_LT(uint64_t(st.st_blocks) * 512, 1u << 20);  // nothing allocated
  ASSERT_TRUE(big.init());
  std::vector<uint8_t> b = block_of(0x55);
  ASSERT_TRUE(big.read(big.blocks() - 1, b.data()));
  EXPECT_EQ(b, block_of(0));
  EXPECT_FALSE(big.read(big.blocks(), b.data()));
  EXPECT_EQ(big.error_code(), SdCard::kErrRange);

  SdCard two((dir / "two.img").string(), 2ull << 30);
  EXPECT_EQ(two.type(), 2);  // standard capacity up to 2 GB
  ASSERT_TRUE(two.init());
  ASSERT_TRUE(two.write(7, block_of(0xA7).data()));
  // An existing image keeps its size and content.
  SdCard again((dir / "two.img").string(), 0);
  EXPECT_EQ(again.blocks(), two.blocks());
  ASSERT_TRUE(again.init());
  ASSERT_TRUE(again.read(7, b.data()));
  EXPECT_EQ(b, block_of(0xA7));
}

TEST_F(SdCardTest, SlotStatesThroughTheProtocol) {
  uint8_t b[512];
  SdSpiCard sd, other;
  EXPECT_FALSE(sd.begin(19));  // empty slot
  EXPECT_EQ(sd.cardSize(), 0u);
  EXPECT_NE(sd.errorCode(), 0);

  SdCard card((dir / "c.img").string(), 8 << 20);
  board.set_card(&card);
  EXPECT_FALSE(sd.readBlock(0, b));  // not started yet
  ASSERT_TRUE(sd.begin(19));
  EXPECT_EQ(sd.cardSize(), 16384u);
  EXPECT_EQ(sd.type(), 2);
  EXPECT_TRUE(sd.readBlock(0, b));

  card.remove();
  EXPECT_FALSE(sd.readBlock(0, b));
  EXPECT_EQ(sd.errorCode(), SD_ERROR_CMD17);
  EXPECT_EQ(sd.errorData(), 0xFFu);  // nothing answered
  EXPECT_FALSE(other.begin(19));
  EXPECT_EQ(other.type(), 0);
  card.insert();
  EXPECT_FALSE(sd.readBlock(0, b));  // back, but must be started again
  EXPECT_EQ(sd.cardSize(), 0u);
  ASSERT_TRUE(sd.begin(19));
  EXPECT_TRUE(sd.readBlock(0, b));
  EXPECT_EQ(card.counters().inits, 2u);
}

TEST_F(SdCardTest, SpiModeNeedsPowerUpClocksAndACmd0WithItsCrc) {
  SdCard card((dir / "c.img").string(), 8 << 20);
  board.set_card(&card);
  hal_spi_begin(19, 400000);
  auto command = [](uint8_t cmd, uint32_t arg, uint8_t crc) {
    hal_spi_select(1);
    const uint8_t frame[6] = {uint8_t(0x40 | cmd), uint8_t(arg >> 24), uint8_t(arg >> 16), uint8_t(arg >> 8),
                              uint8_t(arg), crc};
    hal_spi_transfer_block(frame, nullptr, 6);
    uint8_t r1 = 0xFF;
    for (int i = 0; i < 9 && r1 == 0xFF; ++i) r1 = hal_spi_transfer(0xFF);
    hal_spi_select(0);
    return r1;
  };
  EXPECT_EQ(command(0, 0, 0x95), 0xFF);  // no clocks with CS high since power-up: deaf
  hal_spi_transfer_block(nullptr, nullptr, 10);
  EXPECT_EQ(command(0, 0, 0x94), 0xFF);  // in SD mode a bad CRC is not heard
  EXPECT_EQ(command(0, 0, 0x95), 0x01);  // SPI mode, idle
  EXPECT_EQ(command(17, 0, 0xFF), 0x05);  // reads are illegal until initialised
  EXPECT_EQ(command(8, 0x1AA, 0x00), 0x09);  // CMD8's CRC is checked in SPI mode too
  EXPECT_EQ(command(58, 0, 0xFF), 0x01);  // other CRCs are not
  card.remove();
  card.insert();
  EXPECT_EQ(command(0, 0, 0x95), 0xFF);  // powered anew: the clocks again first
  EXPECT_EQ(card.counters().inits, 0u);
}

TEST_F(SdCardTest, BlockLatencyIsChargedInVirtualTime) {
  SdCard card((dir / "c.img").string(), 8 << 20);  // default 0.2 ms read, 1 ms write
  board.set_card(&card);
  SdSpiCard sd;
  ASSERT_TRUE(sd.begin(19));
  EXPECT_EQ(board.spi_hz(), 12000000u);
  uint8_t b[512] = {};
  // on top of each latency: the block and its token and CRC at 12 MHz (32 cycles a byte), and
  // the command, its answer and the hal calls around them (a few dozen microseconds)
  const sim::Cycles block = 515 * 32, slack = 48 * 40;
  sim::Cycles t0 = board.now();
  ASSERT_TRUE(sd.readBlock(3, b));
  EXPECT_GE(board.now() - t0, 9600 + block);
  EXPECT_LE(board.now() - t0, 9600 + block + slack);
  t0 = board.now();
  ASSERT_TRUE(sd.writeBlock(3, b));
  EXPECT_GE(board.now() - t0, 48000 + block);
  EXPECT_LE(board.now() - t0, 48000 + block + slack);
  t0 = board.now();
  ASSERT_TRUE(sd.writeStart(10, 2));
  ASSERT_TRUE(sd.writeData(b));
  ASSERT_TRUE(sd.writeData(b));
  ASSERT_TRUE(sd.writeStop());
  EXPECT_GE(board.now() - t0, 2 * (48000 + block));
  EXPECT_LE(board.now() - t0, 2 * (48000 + block) + 3 * slack);
  EXPECT_EQ(card.counters().blocks_written, 3u);
  EXPECT_EQ(card.counters().blocks_read, 1u);
}

TEST_F(SdCardTest, WriteFaultsFullCardAndTheirCounters) {
  SdCard card((dir / "c.img").string(), 1 << 20);
  ASSERT_TRUE(card.init());
  ASSERT_TRUE(card.write(1, block_of(1).data()));
  card.fail_writes(true);
  EXPECT_FALSE(card.write(2, block_of(2).data()));
  EXPECT_EQ(card.error_code(), SdCard::kErrWrite);
  EXPECT_EQ(card.error_data(), 2u);
  std::vector<uint8_t> b(512);
  EXPECT_TRUE(card.read(1, b.data()));  // reads still work
  EXPECT_EQ(b, block_of(1));
  card.fail_writes(false);
  card.set_full(true);
  EXPECT_FALSE(card.write(2, block_of(2).data()));
  EXPECT_EQ(card.error_code(), SdCard::kErrFull);
  EXPECT_FALSE(card.erase(0, 10));
  EXPECT_TRUE(card.write_start(2, 1));
  EXPECT_FALSE(card.write_data(block_of(2).data()));
  EXPECT_EQ(card.counters().failed_writes, 3u);
  EXPECT_EQ(card.counters().blocks_written, 1u);
  ASSERT_TRUE(card.read(2, b.data()));
  EXPECT_EQ(b, block_of(0));
}

TEST_F(SdCardTest, MultiBlockWriteAndItsSequenceErrors) {
  SdCard card((dir / "c.img").string(), 1 << 20);
  ASSERT_TRUE(card.init());
  EXPECT_FALSE(card.write_data(block_of(9).data()));  // no write_start
  EXPECT_EQ(card.error_code(), SdCard::kErrSequence);
  EXPECT_FALSE(card.write_stop());
  ASSERT_TRUE(card.write_start(100, 3));
  for (uint8_t i = 0; i < 3; ++i) ASSERT_TRUE(card.write_data(block_of(uint8_t(0x10 + i)).data()));
  ASSERT_TRUE(card.write_stop());
  std::vector<uint8_t> b(512);
  for (uint8_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(card.read(100 + i, b.data()));
    EXPECT_EQ(b, block_of(uint8_t(0x10 + i)));
  }
  // A write cut short (the formatter's time limit) is ended by the next command, which works.
  ASSERT_TRUE(card.write_start(200, 2));
  ASSERT_TRUE(card.write_data(block_of(7).data()));
  EXPECT_TRUE(card.write(300, block_of(3).data()));
  EXPECT_FALSE(card.write_data(block_of(1).data()));
  EXPECT_EQ(card.error_code(), SdCard::kErrSequence);
  ASSERT_TRUE(card.read(201, b.data()));
  EXPECT_EQ(b, block_of(0));
  // Running off the end of the card.
  ASSERT_TRUE(card.write_start(card.blocks() - 1, 2));
  EXPECT_TRUE(card.write_data(block_of(1).data()));
  EXPECT_FALSE(card.write_data(block_of(1).data()));
  EXPECT_EQ(card.error_code(), SdCard::kErrRange);
}

TEST_F(SdCardTest, EraseZeroesAndKeepsTheImageSparse) {
  SdCard card((dir / "c.img").string(), 64 << 20);
  ASSERT_TRUE(card.init());
  for (uint32_t i = 0; i < 2048; ++i) ASSERT_TRUE(card.write(1000 + i, block_of(0xEE).data()));
  ASSERT_TRUE(card.erase(1000, 1000 + 2047));
  std::vector<uint8_t> b(512);
  ASSERT_TRUE(card.read(1500, b.data()));
  EXPECT_EQ(b, block_of(0));
  struct stat st {};
  ASSERT_EQ(::stat((dir / "c.img").c_str(), &st), 0);
  EXPECT_LT(uint64_t(st.st_blocks) * 512, 512u * 1024);
  EXPECT_EQ(uint64_t(st.st_size), 64u << 20);
  EXPECT_FALSE(card.erase(10, 5));
  EXPECT_FALSE(card.erase(0, card.blocks()));
  EXPECT_EQ(card.counters().blocks_erased, 2048u);
}

TEST_F(SdCardTest, PowerCutHookDropsWritesAfterTheNth) {
  SdCard card((dir / "c.img").string(), 1 << 20);
  ASSERT_TRUE(card.init());
  ASSERT_TRUE(card.write(0, block_of(1).data()));
  card.cut_power_after(2);  // two more land, the rest are lost while reported done
  for (uint32_t i = 1; i <= 4; ++i) EXPECT_TRUE(card.write(i, block_of(uint8_t(i)).data()));
  std::vector<uint8_t> b(512);
  card.read(2, b.data());
  EXPECT_EQ(b, block_of(2));
  card.read(3, b.data());
  EXPECT_EQ(b, block_of(0));
  EXPECT_EQ(card.counters().dropped_writes, 2u);

  std::vector<uint32_t> seen;
  card.set_write_hook([&](uint64_t, uint32_t block) {
    seen.push_back(block);
    return block == 9 ? SdCard::WriteAction::kFail : SdCard::WriteAction::kAccept;
  });
  EXPECT_TRUE(card.write(8, block_of(8).data()));
  EXPECT_FALSE(card.write(9, block_of(9).data()));
  EXPECT_EQ(seen, (std::vector<uint32_t>{8, 9}));
}

// What the image file holds at block n, read behind the card's back.
std::vector<uint8_t> on_disk(const fs::path& image, uint32_t n) {
  std::vector<uint8_t> b(512, 0);
  std::ifstream in(image, std::ios::binary);
  in.seekg(std::streamoff(n) * 512);
  in.read(reinterpret_cast<char*>(b.data()), 512);
  return b;
}

TEST_F(SdCardTest, CachedWritesReachTheImageAtResetsFlushesAndAFullCache) {
  SdCard::Config cfg;
  cfg.cache_blocks = 4;
  const fs::path image = dir / "cached.img";
  SdCard card(image.string(), 1 << 20, cfg);
  board.set_card(&card);
  ASSERT_TRUE(card.init());
  std::vector<uint8_t> b(512);
  ASSERT_TRUE(card.write(5, block_of(0xA5).data()));
  ASSERT_TRUE(card.read(5, b.data()));
  EXPECT_EQ(b, block_of(0xA5));
  EXPECT_EQ(on_disk(image, 5), block_of(0));  // still in memory
  board.power_on_reset();                     // every boot writes it through
  EXPECT_EQ(on_disk(image, 5), block_of(0xA5));

  // an erase drops what the cache held of its blocks: the hole is what they hold now
  ASSERT_TRUE(card.write(6, block_of(0xB6).data()));
  ASSERT_TRUE(card.erase(5, 6));
  ASSERT_TRUE(card.read(6, b.data()));
  EXPECT_EQ(b, block_of(0));
  card.flush();
  EXPECT_EQ(on_disk(image, 5), block_of(0));
  EXPECT_EQ(on_disk(image, 6), block_of(0));

  // more blocks than the cache holds: the earlier ones are written out on the way
  for (uint8_t n = 10; n < 16; ++n) ASSERT_TRUE(card.write(n, block_of(n).data()));
  EXPECT_EQ(on_disk(image, 10), block_of(10));
  for (uint8_t n = 10; n < 16; ++n) {
    ASSERT_TRUE(card.read(n, b.data()));
    EXPECT_EQ(b, block_of(n));
  }
  EXPECT_EQ(card.counters().blocks_written, 8u);
  card.rename_image((dir / "renamed.img").string());
  EXPECT_EQ(on_disk(dir / "renamed.img", 15), block_of(15));
  EXPECT_FALSE(fs::exists(image));
}

// ---- the run's card options and set-up ------------------------------------------------------

TEST(CardOptions, SizesAndEventsParseAndBadValuesAreNamed) {
  EXPECT_EQ(parse_card_size("4G"), 4ull << 30);
  EXPECT_EQ(parse_card_size("2G"), 2ull << 30);
  EXPECT_EQ(parse_card_size("512M"), 512ull << 20);
  EXPECT_EQ(parse_card_size("1.5G"), 3ull << 29);
  EXPECT_EQ(parse_card_size("6291968"), 6291968u);  // the smallest the firmware formats
  for (const char* bad : {"", "G", "4X", "-4G", "4 G", "100", "3T", "1048576", "4M", "6M", "0x10M", "infG"}) {
    try {
      parse_card_size(bad);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const OptionError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("'") + bad + "'"), std::string::npos) << e.what();
    }
  }
  auto ev = parse_card_events("remove@2h,insert@90m,fail-writes@30s,full@0");
  ASSERT_EQ(ev.size(), 4u);
  EXPECT_EQ(ev[0].kind, CardEvent::Kind::kRemove);
  EXPECT_DOUBLE_EQ(ev[0].t_s, 7200);
  EXPECT_EQ(ev[1].kind, CardEvent::Kind::kInsert);
  EXPECT_DOUBLE_EQ(ev[1].t_s, 5400);
  EXPECT_EQ(ev[2].kind, CardEvent::Kind::kFailWrites);
  EXPECT_EQ(ev[3].kind, CardEvent::Kind::kFull);
  EXPECT_EQ(card_event_text(ev[2]), "fail-writes@30s");
  EXPECT_TRUE(parse_card_events("").empty());
  for (const char* bad : {"remove", "eject@2h", "remove@", "remove@-1h", "remove@2x", "remove@2h,"}) {
    EXPECT_THROW(parse_card_events(bad), OptionError) << bad;
  }
  try {
    parse_card_event("eject@2h");
  } catch (const OptionError& e) {
    EXPECT_NE(std::string(e.what()).find("eject"), std::string::npos);
  }
}

TEST(CardSetup, NewImageIsFormattedOnceAndEventsFireOnTime) {
  SKIP_WITHOUT_FAT_TOOLS();
  TempDir dir;
  sim::Board board(sim::Board::Config{});
  board.make_current();
  CardOptions o;
  o.size_bytes = 16 << 20;
  o.events = parse_card_events("remove@1s,insert@2s");
  int formats = 0;
  sim::Board* seen_board = nullptr;
  CardFormatter mkfs = [&](sim::Board& scratch, SdCard& card) {
    ++formats;
    seen_board = sim::Board::current();
    EXPECT_EQ(&scratch, seen_board);
    EXPECT_EQ(scratch.card(), &card);
    return run_command(find_tool("mkfs.fat") + " -F 16 '" + card.path() + "'") == 0;
  };
  {
    CardSetup s = setup_card(board, o, dir.path(), mkfs);
    ASSERT_TRUE(s.card);
    EXPECT_TRUE(s.created);
    EXPECT_TRUE(s.formatted) << s.format_error;
    EXPECT_EQ(s.image, dir / "card.img");
    EXPECT_EQ(formats, 1);
    EXPECT_NE(seen_board, &board);
    EXPECT_EQ(sim::Board::current(), &board);
    EXPECT_EQ(board.now(), 0u);  // formatting took none of the run's time
    EXPECT_EQ(board.card(), s.card.get());
    EXPECT_EQ(s.card->blocks(), 32768u);

    SdSpiCard sd;
    EXPECT_TRUE(sd.begin(19));
    board.hal_delay(uint32_t(board.cycles_for(1.5)));
    EXPECT_FALSE(sd.begin(19));  // removed at 1 s
    board.hal_delay(uint32_t(board.cycles_for(1.0)));
    EXPECT_TRUE(sd.begin(19));  // back at 2 s
    board.set_card(nullptr);
  }
  // A second run finds the image: no format, its size kept, and an absent card.
  o.absent = true;
  o.size_bytes = 1 << 30;
  o.events.clear();
  CardSetup s2 = setup_card(board, o, dir.path(), mkfs);
  EXPECT_FALSE(s2.created);
  EXPECT_EQ(formats, 1);
  EXPECT_EQ(s2.card->blocks(), 32768u);
  EXPECT_FALSE(SdSpiCard().begin(19));
  board.set_card(nullptr);

  // A formatter that throws (the firmware stopping) is reported, not propagated.
  CardOptions o3;
  o3.image = (dir / "other.img").string();
  o3.size_bytes = 8 << 20;
  CardSetup s3 = setup_card(board, o3, dir.path(), [](sim::Board&, SdCard&) -> bool {
    throw std::runtime_error("firmware halted with no watchdog running");
  });
  EXPECT_FALSE(s3.formatted);
  EXPECT_NE(s3.format_error.find("halted"), std::string::npos);
  EXPECT_EQ(sim::Board::current(), &board);
  board.set_card(nullptr);
}

TEST(CardSetup, FilesAreCopiedOutWithSizesAndLineCounts) {
  SKIP_WITHOUT_FAT_TOOLS();
  TempDir dir;
  ImageSpec layout{16, 16, 4, true};
  make_image(dir / "card.img", layout);
  write_host_file(dir / "a", "one\ntwo\nthree\n");
  write_host_file(dir / "b", "no newline at the end");
  ASSERT_EQ(mtools("mmd", dir / "card.img", layout, "::/261207"), 0);
  ASSERT_EQ(mtools("mcopy", dir / "card.img", layout, "'" + (dir / "a").string() + "' ::/261207/1420.raw"), 0);
  ASSERT_EQ(mtools("mcopy", dir / "card.img", layout, "'" + (dir / "b").string() + "' ::/NOTE.TXT"), 0);

  sim::Board board(sim::Board::Config{});
  board.make_current();
  CardOptions o;
  o.image = (dir / "card.img").string();
  CardSetup s = setup_card(board, o, dir / "out", nullptr);
  nlohmann::json j = collect_card(s, dir / "out");
  board.set_card(nullptr);
  ASSERT_FALSE(j.contains("error")) << j.dump();
  EXPECT_EQ(j["fat_type"], 16);
  EXPECT_EQ(j["directories"], nlohmann::json::array({"261207"}));
  ASSERT_EQ(j["files"].size(), 2u);
  std::map<std::string, std::pair<uint64_t, uint64_t>> files;
  for (const auto& f : j["files"]) files[f["path"]] = {f["size"], f["lines"]};
  EXPECT_EQ(files["261207/1420.raw"], std::make_pair(uint64_t(14), uint64_t(3)));
  EXPECT_EQ(files["NOTE.TXT"], std::make_pair(uint64_t(21), uint64_t(1)));
  EXPECT_EQ(read_host_file(dir / "out" / "card" / "261207" / "1420.raw"), "one\ntwo\nthree\n");
  EXPECT_TRUE(j.contains("counters"));

  // An image without a volume gives an error entry, not an exception.
  patch_image(dir / "card.img", uint64_t(kPartitionStart) * 512 + 510, {0, 0});
  nlohmann::json bad = collect_card(s, dir / "out2");
  EXPECT_TRUE(bad.contains("error"));
}

// ---- the host-side reader ------------------------------------------------------------------------

TEST(FatImageReaderTest, LongNamesCaseBitsAndDamage) {
  SKIP_WITHOUT_FAT_TOOLS();
  TempDir dir;
  ImageSpec layout{40, 32, 1, false};
  make_image(dir / "card.img", layout);
  write_host_file(dir / "x", std::string(3000, 'x') + "\n");
  ASSERT_EQ(mtools("mcopy", dir / "card.img", layout,
                   "'" + (dir / "x").string() + "' '::/A rather long name.log'"),
            0);
  {
    sim::FatImageReader r(dir / "card.img");
    EXPECT_EQ(r.fat_type(), 32);
    auto list = r.list();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].path, "A rather long name.log");
    EXPECT_EQ(r.read(list[0]).size(), 3001u);
    EXPECT_EQ(sim::FatImageReader::count_lines(r.read(list[0])), 1u);
  }
  // Bytes per sector broken: refused with a reason.
  patch_image(dir / "card.img", 11, {0, 1});
  EXPECT_THROW(sim::FatImageReader(dir / "card.img"), sim::FatImageError);
  EXPECT_THROW(sim::FatImageReader(dir / "missing.img"), sim::FatImageError);
  EXPECT_EQ(sim::FatImageReader::count_lines({}), 0u);
}

}  // namespace
}  // namespace olas::test
