// Print: integers and doubles as text, identical on the chip and on the PC.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "board/print.h"
#include "board/wstring.h"
#include "support/text_sink.h"

namespace olas::test {
namespace {

// Prints one value and checks that the byte count returned matches the text.
template <class... Args>
std::string Printed(Args... args) {
  Sink s;
  size_t n = s.print(args...);
  EXPECT_EQ(n, s.text.size());
  return s.text;
}

TEST(PrintTest, DoubleSpecialValuesAndThe32BitLimit) {
  EXPECT_EQ(Printed(std::nan("")), "nan");
  EXPECT_EQ(Printed(-HUGE_VAL), "inf");
  EXPECT_EQ(Printed(4294967040.0, 2), "4294967040.00");  // the limit itself still prints
  EXPECT_EQ(Printed(4294967041.0), "ovf");
  EXPECT_EQ(Printed(-4294967041.0), "ovf");
}

TEST(PrintTest, DoubleRoundsByHalfAUnitOfTheLastDecimal) {
  EXPECT_EQ(Printed(1.005, 2), "1.00");  // stored just below 1.005
  EXPECT_EQ(Printed(1.25, 1), "1.3");
  EXPECT_EQ(Printed(9.995, 2), "10.00");  // the carry reaches the integer part
  EXPECT_EQ(Printed(0.1, 10), "0.1000000000");
  EXPECT_EQ(Printed(2.0), "2.00");  // two decimals by default
  EXPECT_EQ(Printed(2.5, 0), "3");  // no decimals: no point
  EXPECT_EQ(Printed(2.5, -3), "3");
  EXPECT_EQ(Printed(-2.345, 2), "-2.35");  // sign, then the magnitude rounded
  EXPECT_EQ(Printed(-0.001, 2), "-0.00");
}

TEST(PrintTest, IntegersAtTheirExtremesAndInOtherBases) {
  EXPECT_EQ(Printed(INT32_MIN), "-2147483648");
  EXPECT_EQ(Printed(UINT32_MAX), "4294967295");
  EXPECT_EQ(Printed(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(Printed(UINT64_MAX), "18446744073709551615");
  EXPECT_EQ(Printed(int16_t(-5)), "-5");
  EXPECT_EQ(Printed((unsigned char)255), "255");  // a byte value prints as a number
  EXPECT_EQ(Printed('A'), "A");                   // a char as itself

  EXPECT_EQ(Printed(255, HEX), "FF");
  EXPECT_EQ(Printed(-1L, HEX), "FFFFFFFF");  // long is 32 bits on the chip
  EXPECT_EQ(Printed(UINT64_MAX, BIN), std::string(64, '1'));
  EXPECT_EQ(Printed(42, 1), "42");  // an invalid base falls back to decimal
}

TEST(PrintTest, PrintlnAppendsCrLfAndCountsIt) {
  Sink s;
  EXPECT_EQ(s.println(-12), 5u);
  EXPECT_EQ(s.println(1.5, 1), 5u);
  EXPECT_EQ(s.println(String("xy")), 4u);
  EXPECT_EQ(s.println(), 2u);
  EXPECT_EQ(s.text, "-12\r\n1.5\r\nxy\r\n\r\n");
  EXPECT_EQ(s.print(static_cast<const char*>(nullptr)), 0u);
}

}  // namespace
}  // namespace olas::test
