// EEPROMClass: the 1024-byte store kept as one record in the simulated flash area.
#include <gtest/gtest.h>

#include <algorithm>

#include "board/eeprom.h"
#include "support/board_fixture.h"

namespace olas::test {
namespace {

using EepromTest = BoardFixture;

constexpr int kValidFlag = EEPROM_OFFSET_VALIDO;  // the record's last byte

TEST_F(EepromTest, StoreNeverCommittedIsInvalidAndReadsFF) {
  EEPROMClass blank;
  EXPECT_FALSE(blank.isValid());
  for (int a : {0, 1023, -1, 1024}) EXPECT_EQ(blank.read(a), 0xFF) << a;
  EXPECT_EQ(board.flash_erases() + board.flash_writes(), 0u);

  // any flag other than exactly 1 hides whatever the data bytes hold
  for (uint8_t flag : {0x00, 0x02, 0xFE}) {
    board.flash().fill(0x12);
    board.flash()[kValidFlag] = flag;
    EEPROMClass store;
    EXPECT_FALSE(store.isValid()) << int(flag);
    EXPECT_EQ(store.read(500), 0xFF) << int(flag);
  }
}

TEST_F(EepromTest, CommitWritesOnlyWhenSomethingChanged) {
  EEPROMClass store;
  store.write(5, 0xFF);  // same as the blank byte
  store.write(-1, 3);    // out of range: ignored
  store.write(1024, 3);
  store.commit();
  EXPECT_EQ(board.flash_erases(), 0u);
  EXPECT_FALSE(store.isValid());

  store.write(5, 7);
  store.write(1023, 9);
  EXPECT_EQ(board.flash_erases(), 0u);  // RAM only until commit
  store.commit();
  EXPECT_TRUE(store.isValid());
  EXPECT_EQ(board.flash_erases(), 5u);  // every row under the 1025-byte record
  EXPECT_EQ(board.flash_overwrites(), 0u);
  EXPECT_EQ(board.flash()[kValidFlag], 1);

  store.write(5, 7);  // unchanged value: nothing to commit
  store.commit();
  EXPECT_EQ(board.flash_erases(), 5u);

  EEPROMClass again;  // as after a reset
  EXPECT_TRUE(again.isValid());
  EXPECT_EQ(again.read(5), 7);
  EXPECT_EQ(again.read(1023), 9);
  EXPECT_EQ(again.read(6), 0xFF);
}

TEST_F(EepromTest, LoadsOnceOnFirstAccessOfAnyKind) {
  EEPROMClass store;
  board.flash()[10] = 0x42;  // before any access: seen
  board.flash()[kValidFlag] = 1;
  EXPECT_EQ(store.read(10), 0x42);
  board.flash()[10] = 0x43;  // after it: the RAM copy stands
  EXPECT_EQ(store.read(10), 0x42);

  // a commit as the first access loads too, so the next commit keeps the stored bytes
  EEPROMClass other;
  other.commit();
  other.write(21, 1);
  other.commit();
  EXPECT_EQ(board.flash()[10], 0x43);
}

TEST_F(EepromTest, CommitCutBeforeTheMarkKeepsTheSettingsBytesAndNeverHalfOfThem) {
  EEPROMClass first;
  first.write(0, 1);
  first.write(40, 1);
  first.commit();
  board.fail_flash_after(int64_t(board.flash_writes()) + 2);  // the copy and the data, not the mark
  EEPROMClass second;
  second.write(0, 2);
  second.write(40, 2);
  second.commit();
  ASSERT_NE(board.flash()[kValidFlag], 1);

  EEPROMClass after;  // the checked copy of the first 32 bytes stands in for the record
  EXPECT_TRUE(after.isValid());
  EXPECT_EQ(after.read(0), 2);
  EXPECT_EQ(after.read(40), 0xFF) << "only the settings bytes have a copy";

  // a copy whose bytes do not match their check, over erased data rows: not valid
  board.flash()[EEPROM_OFFSET_COPIA + 5] ^= 0x01;
  std::fill(board.flash().begin(), board.flash().begin() + 1024, uint8_t(0xFF));
  EEPROMClass broken;
  EXPECT_FALSE(broken.isValid());
  EXPECT_EQ(broken.read(0), 0xFF);
  // nor are data rows that were zeroed (a zero check over zero bytes)
  std::fill(board.flash().begin(), board.flash().end(), uint8_t(0x00));
  EEPROMClass zeroed;
  EXPECT_FALSE(zeroed.isValid());
}

TEST_F(EepromTest, FailedCommitKeepsTheOldRecordAndLeavesTheChangePending) {
  EEPROMClass never;  // a first commit that fails leaves the store as never committed
  never.write(0, 1);
  board.fail_flash_after(-1, int64_t(board.flash_erases()));
  never.commit();
  EXPECT_FALSE(never.isValid());
  EXPECT_EQ(board.flash_writes(), 0u) << "nothing is written over a row that failed to erase";
  board.fail_flash_after(-1);
  never.commit();  // still pending: written now
  EXPECT_TRUE(never.isValid());

  EEPROMClass store;
  store.write(0, 2);
  store.write(40, 2);
  const uint64_t erases = board.flash_erases();
  board.fail_flash_after(int64_t(board.flash_writes()));  // the copy fails
  store.commit();
  EXPECT_EQ(board.flash_erases(), erases + 1) << "the data rows of the old record stay";
  EXPECT_EQ(store.read(0), 2);
  EEPROMClass after;  // as after a reset: the old record, whole
  EXPECT_TRUE(after.isValid());
  EXPECT_EQ(after.read(0), 1);
  EXPECT_EQ(after.read(40), 0xFF);

  board.fail_flash_after(-1);
  store.commit();  // nothing new was written, yet the change goes out
  EEPROMClass again;
  EXPECT_EQ(again.read(0), 2);
  EXPECT_EQ(again.read(40), 2);
  EXPECT_EQ(board.flash()[kValidFlag], 1);
}

}  // namespace
}  // namespace olas::test
