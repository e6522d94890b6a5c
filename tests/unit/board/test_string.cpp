// String: the fixed-capacity text used for directory and file names.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "board/wstring.h"

namespace olas::test {
namespace {

TEST(StringTest, BuildsPathsFromTextAndNumbers) {
  String dir = "/" + String(26) + String("12") + "07";
  String file = dir + "/" + 1420 + ".raw";
  EXPECT_STREQ(file.c_str(), "/261207/1420.raw");
  EXPECT_EQ(file.length(), 16u);

  String s;
  s += 'a';
  s += (unsigned char)7;  // a byte is a number
  s += -3;
  s += 4000000000u;
  s.concat(1.5);
  EXPECT_EQ(s, "a7-340000000001.50");
  EXPECT_EQ(String(255u, 16), "FF");
  EXPECT_EQ(String(static_cast<const char*>(nullptr)), "");
  EXPECT_EQ('x' + String("y"), "xy");
}

TEST(StringTest, GrowthBeyondCapacityIsCutNeverOverflows) {
  String s(std::string(100, 'x').c_str());
  EXPECT_EQ(std::string(s.c_str()), std::string(String::kCapacidad, 'x'));

  String t(std::string(60, 'a').c_str());
  EXPECT_FALSE(t.concat("bcdefgh"));  // only "bcde" fits
  EXPECT_EQ(std::string(t.c_str()), std::string(60, 'a') + "bcde");
  EXPECT_FALSE(t.concat('z'));
  EXPECT_EQ(t.length(), 64u);

  // appending a String to itself, and assigning from its own text
  String u("abc");
  u += u;
  EXPECT_EQ(u, "abcabc");
  u = u.c_str() + 2;
  EXPECT_EQ(u, "cabc");
}

TEST(StringTest, AccessOutOfRangeIsHarmlessAndSubstringIsClamped) {
  String s("abc");
  EXPECT_EQ(s.charAt(1000), '\0');
  s[5] = 'q';            // goes nowhere
  s.setCharAt(7, 'q');
  s.setCharAt(0, '\0');  // would cut the text behind its length
  s[2] = 'C';
  EXPECT_EQ(s, "abC");
  EXPECT_EQ(s.length(), 3u);
  char out[3];
  s.toCharArray(out, sizeof out);
  EXPECT_STREQ(out, "ab");

  String name("1420.raw");
  EXPECT_EQ(name.substring(5), "raw");
  EXPECT_EQ(name.substring(4, 0), "1420");  // swapped bounds
  EXPECT_EQ(name.substring(5, 100), "raw");
  EXPECT_EQ(name.substring(100, 200), "");
}

TEST(StringTest, ComparesAndSearchesWithinBounds) {
  String a("/261207/1420.RAW");
  EXPECT_TRUE(a.startsWith("/2612"));
  EXPECT_FALSE(a.startsWith("x", 100));
  EXPECT_TRUE(a.endsWith(".RAW"));
  EXPECT_FALSE(a.endsWith("x/261207/1420.RAW"));
  EXPECT_EQ(a.indexOf('/', 1), 7);
  EXPECT_EQ(a.indexOf('/', 500), -1);
  EXPECT_EQ(a.indexOf("1420", 9), -1);
  EXPECT_TRUE("abc" == String("abc"));
  EXPECT_TRUE(String("ab") < String("abc"));
}

TEST(StringTest, ToIntReadsLikeAtolAndSaturatesAt32Bits) {
  EXPECT_EQ(String("  -12abc").toInt(), -12);
  EXPECT_EQ(String("-").toInt(), 0);
  EXPECT_EQ(String("2147483647").toInt(), INT32_MAX);
  EXPECT_EQ(String("99999999999999999999").toInt(), INT32_MAX);
  EXPECT_EQ(String("-2147483648").toInt(), INT32_MIN);
  EXPECT_EQ(String("-99999999999").toInt(), INT32_MIN);
}

TEST(StringTest, EditsInPlace) {
  String s(" \t Hola Mundo \r\n");
  s.trim();
  s.toUpperCase();
  s.replace('O', '0');
  s.replace('A', '\0');  // would cut the text
  EXPECT_EQ(s, "H0LA MUND0");
  s.remove(4, 1);
  s.remove(7, 100);
  s.remove(100);
  EXPECT_EQ(s, "H0LAMUN");
}

}  // namespace
}  // namespace olas::test
