// The firmware's SD protocol (SdSpiCard over board/sd_spi) against the simulated card: each card
// type's start, size and addressing, and the faults every wait must survive within its limit.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "board/sd_spi.h"
#include "board/sdfat.h"
#include "sim/board.h"
#include "sim/sd_card.h"
#include "unit/board/fat_image_tools.h"

namespace olas::test {
namespace {

std::vector<uint8_t> Pattern(uint32_t seed) {
  std::vector<uint8_t> b(512);
  for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(seed * 131 + i * 7);
  return b;
}

class SdSpiTest : public ::testing::Test {
 protected:
  SdSpiTest() : board(sim::Board::Config{}) {
    board.make_current();
    board.tcc0_connect_clock();
    board.tcc0_configure(47999, 1);  // the firmware's 1 ms tick: the events a wait sees
  }
  ~SdSpiTest() override { board.set_card(nullptr); }

  sim::SdCard& Insert(uint64_t bytes, sim::SdCard::Config config = {}) {
    board.set_card(nullptr);
    card = std::make_unique<sim::SdCard>((dir / ("card" + std::to_string(++images) + ".img")).string(), bytes,
                                         config);
    board.set_card(card.get());
    return *card;
  }
  template <class F>
  double Took(F&& f) {
    const sim::Cycles t0 = board.now();
    f();
    return board.seconds(board.now() - t0);
  }
  // A failure leaves the card deselected, with its code and the card's answer.
  void ExpectFailed(uint8_t code, uint32_t data) {
    EXPECT_EQ(sd.errorCode(), code);
    EXPECT_EQ(sd.errorData(), data);
    EXPECT_FALSE(board.spi_selected());
  }

  TempDir dir;
  int images = 0;
  sim::Board board;
  std::unique_ptr<sim::SdCard> card;
  SdSpiCard sd;
};

TEST_F(SdSpiTest, EachCardTypeStartsWithItsSizeAndAddressing) {
  struct Kind {
    const char* name;
    uint64_t bytes;
    bool version1;
    int response_delay;
    uint8_t type;
    uint32_t blocks;  // what the CSD declares
  };
  const Kind kinds[] = {
      {"SD1 64 MiB", 64ull << 20, true, 1, SD_CARD_TYPE_SD1, 131072},
      {"SD2 2 GiB (1024-byte READ_BL_LEN)", 2ull << 30, false, 1, SD_CARD_TYPE_SD2, 4194304},
      {"SD2 64 MB, answers 8 bytes late", 64000000, false, 8, SD_CARD_TYPE_SD2, 125024},  // 3907 x 32
      {"SDHC 5 GB", 5000000000ull, false, 1, SD_CARD_TYPE_SDHC, 9765888},  // 9537 x 1024
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.name);
    sim::SdCard::Config config;
    config.version1 = k.version1;
    config.response_delay_bytes = k.response_delay;
    sim::SdCard& c = Insert(k.bytes, config);
    bool ok = false;
    const double start = Took([&] { ok = sd.begin(19); });
    ASSERT_TRUE(ok) << int(sd.errorCode()) << "," << sd.errorData();
    EXPECT_GE(start, config.init_s);  // ACMD41 until the card is ready ...
    EXPECT_LT(start, config.init_s + 0.005);
    EXPECT_EQ(board.spi_hz(), 12000000u);  // ... at 400 kHz, then the clock asked for
    EXPECT_EQ(sd.type(), k.type);
    EXPECT_EQ(sd.cardSize(), k.blocks);
    EXPECT_EQ(c.capacity_blocks(), k.blocks);
    EXPECT_GE(k.blocks, c.blocks());

    // Blocks land where the firmware means them: byte addresses for SD1/SD2, block numbers
    // for SDHC (past 4 GB too), up to the last block the CSD declares.
    const uint32_t spots[] = {0, 1, k.blocks / 2 + 3, k.blocks - 1};
    std::vector<uint8_t> got(512), seen(512);
    for (uint32_t b : spots) ASSERT_TRUE(sd.writeBlock(b, Pattern(b).data())) << b;
    for (uint32_t b : spots) {
      ASSERT_TRUE(sd.readBlock(b, got.data())) << b;
      EXPECT_EQ(got, Pattern(b)) << b;
      ASSERT_TRUE(c.peek(b, seen.data()));
      EXPECT_EQ(seen, Pattern(b)) << b;
    }
    EXPECT_FALSE(sd.readBlock(k.blocks, got.data()));  // past the end: the card refuses it
    EXPECT_EQ(sd.errorCode(), SD_ERROR_CMD17);
    EXPECT_EQ(sd.errorData(), 0x40u);  // parameter error

    ASSERT_TRUE(sd.writeStart(1000, 3));
    for (uint32_t i = 0; i < 3; ++i) ASSERT_TRUE(sd.writeData(Pattern(1000 + i).data()));
    ASSERT_TRUE(sd.writeStop());
    ASSERT_TRUE(sd.readBlock(1002, got.data()));
    EXPECT_EQ(got, Pattern(1002));
    ASSERT_TRUE(sd.erase(1001, k.blocks - 1));
    ASSERT_TRUE(c.peek(1001, seen.data()));
    EXPECT_EQ(seen, std::vector<uint8_t>(512, 0));
    ASSERT_TRUE(sd.readBlock(1000, got.data()));
    EXPECT_EQ(got, Pattern(1000));
  }
}

TEST_F(SdSpiTest, ABadAnswerFailsAtOnceAndTheNextStartWorks) {
  Insert(64ull << 20);
  card->answer_with(8, 0x09, 1);  // CMD8 with a CRC error
  EXPECT_LT(Took([&] { EXPECT_FALSE(sd.begin(19)); }), 0.005);
  ExpectFailed(SD_ERROR_CMD8, 0x09);
  EXPECT_EQ(sd.type(), 0);
  ASSERT_TRUE(sd.begin(19));

  uint8_t b[512];
  card->answer_with(17, 0x05, 1);  // a read answered as an illegal command
  EXPECT_FALSE(sd.readBlock(7, b));
  ExpectFailed(SD_ERROR_CMD17, 0x05);
  card->answer_with(38, 0x04, 1);
  EXPECT_FALSE(sd.erase(0, 100));
  ExpectFailed(SD_ERROR_BORRADO, 38u << 8 | 0x04);
  ASSERT_TRUE(sd.begin(19));
  EXPECT_TRUE(sd.readBlock(7, b));

  // Writes and erases the card could not do are caught by its status.
  card->set_full(true);
  EXPECT_FALSE(sd.writeBlock(7, b));
  ExpectFailed(SD_ERROR_RESPUESTA_DATOS, 0x0D);
  EXPECT_FALSE(sd.erase(0, 100));
  ExpectFailed(SD_ERROR_ESTADO, 0x02);  // write-protected erase skipped
  card->set_full(false);
  EXPECT_TRUE(sd.writeBlock(7, b));
  EXPECT_FALSE(sd.writeData(b));  // no multi-block write open
  ExpectFailed(SD_ERROR_SECUENCIA, 0);
}

TEST_F(SdSpiTest, ACardThatNeverLeavesIdleIsGivenUpAfterTwoSeconds) {
  Insert(4ull << 30);
  card->stay_idle(true);
  const double took = Took([&] { EXPECT_FALSE(sd.begin(19)); });
  EXPECT_GE(took, 2.0);
  EXPECT_LT(took, 2.01);
  ExpectFailed(SD_ERROR_ACMD41, 0x01);
  card->stay_idle(false);
  ASSERT_TRUE(sd.begin(19));
  EXPECT_EQ(sd.type(), SD_CARD_TYPE_SDHC);
}

TEST_F(SdSpiTest, ABusyThatNeverEndsFailsEachWaitWithinItsLimit) {
  Insert(256ull << 20);
  ASSERT_TRUE(sd.begin(19));
  uint8_t b[512] = {1, 2, 3};
  card->hang_busy(true);
  double took = Took([&] { EXPECT_FALSE(sd.writeBlock(5, b)); });
  EXPECT_GE(took, 0.6);
  EXPECT_LT(took, 0.61);
  ExpectFailed(SD_ERROR_OCUPADA, 24);
  // Still busy: the next command waits 300 ms for it, then gives up without sending.
  took = Took([&] { EXPECT_FALSE(sd.readBlock(5, b)); });
  EXPECT_GE(took, 0.3);
  EXPECT_LT(took, 0.31);
  ExpectFailed(SD_ERROR_CMD17, 0xFF);
  EXPECT_LT(Took([&] { EXPECT_FALSE(sd.begin(19)); }), 0.01);  // CMD0 reads the busy line
  ExpectFailed(SD_ERROR_CMD0, 0x00);

  card->hang_busy(false);
  ASSERT_TRUE(sd.begin(19));
  card->hang_busy(true);
  took = Took([&] { EXPECT_FALSE(sd.erase(1000, 1000 + 262143)); });  // 1 s, and 1 ms per 256 blocks
  EXPECT_GE(took, 2.023);
  EXPECT_LT(took, 2.03);
  ExpectFailed(SD_ERROR_OCUPADA, 38);

  card->hang_busy(false);
  ASSERT_TRUE(sd.begin(19));
  uint8_t got[512];
  ASSERT_TRUE(sd.readBlock(5, got));
  EXPECT_EQ(got[2], 3);  // the data was taken before the card hung
  EXPECT_EQ(board.resets().size(), 0u);
}

TEST_F(SdSpiTest, ACardPulledOutDuringAMultiBlockWriteFailsCleanly) {
  sim::SdCard& c = Insert(64ull << 20);
  ASSERT_TRUE(sd.begin(19));
  ASSERT_TRUE(sd.writeStart(200, 8));
  ASSERT_TRUE(sd.writeData(Pattern(200).data()));
  // out in the middle of the second block's programming: its data had been taken
  board.schedule(board.now() + board.cycles_for(0.0006), [&] { c.remove(); });
  EXPECT_TRUE(sd.writeData(Pattern(201).data()));
  double took = Took([&] {
    EXPECT_FALSE(sd.writeData(Pattern(202).data()));
    ExpectFailed(SD_ERROR_RESPUESTA_DATOS, 0x1F);  // MISO floats high
    EXPECT_FALSE(sd.writeStop());
    ExpectFailed(SD_ERROR_ESTADO, 0xFFFF);
    EXPECT_EQ(sd.cardSize(), 0u);
  });
  EXPECT_LT(took, 0.001);

  c.insert();
  ASSERT_TRUE(sd.begin(19));
  std::vector<uint8_t> got(512);
  for (uint32_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(sd.readBlock(200 + i, got.data()));
    EXPECT_EQ(got, i < 2 ? Pattern(200 + i) : std::vector<uint8_t>(512, 0)) << i;
  }
  EXPECT_EQ(c.counters().blocks_written, 2u);
}

}  // namespace
}  // namespace olas::test
