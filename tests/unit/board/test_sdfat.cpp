// Card and file system before the FAT driver exists: every call fails cleanly.
#include <gtest/gtest.h>

#include "board/sdfat.h"
#include "support/board_fixture.h"

namespace olas::test {
namespace {

using SdFatTest = BoardFixture;

TEST_F(SdFatTest, WithoutADriverEveryOperationFailsWithoutCrashing) {
  SdFat fs;
  EXPECT_FALSE(fs.begin(19, SD_SCK_MHZ(12)));
  EXPECT_FALSE(fs.vol()->init(0));  // partition 0 must not be taken for a null card pointer
  EXPECT_EQ(fs.vol()->card(), fs.card());
  EXPECT_EQ(fs.vol()->freeClusterCount(), -1);
  EXPECT_EQ(fs.vol()->cacheFatBlock(0), nullptr);
  EXPECT_FALSE(fs.open("/261207/1420.raw", O_WRONLY | O_APPEND | O_CREAT));

  FatFile file;
  EXPECT_FALSE(file.open(nullptr, nullptr, O_RDONLY));
  EXPECT_FALSE(file.open("x.raw"));  // no working directory yet
  EXPECT_EQ(file.write("abc", 3), -1);
  char name[13] = "garbage";
  EXPECT_FALSE(file.getName(name, sizeof name));
  EXPECT_STREQ(name, "");
  EXPECT_FALSE(file.getName(nullptr, 0));
  EXPECT_TRUE(file.close());
  EXPECT_FALSE(file.isOpen());
}

}  // namespace
}  // namespace olas::test
