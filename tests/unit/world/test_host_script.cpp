// The host controller's script: every action and time form, and errors that name the line and
// the bad value.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "sim/world/host_controller.h"

namespace {

using sim::HostScriptError;
using sim::HostScriptLine;

std::vector<HostScriptLine> Parse(const std::string& text) {
  std::istringstream in(text);
  return sim::parse_host_script(in, "s.txt");
}

// The message of the error the text raises ("" when it parses).
std::string ErrorOf(const std::string& text) {
  try {
    Parse(text);
  } catch (const HostScriptError& e) {
    return e.what();
  }
  return "";
}

TEST(HostScript, EveryActionAndTimeForm) {
  auto s = Parse(
      "# settings, then a clock change\n"
      "\n"
      "90s $ZRX03,1,8\r\n"
      "  90s   expect   OLA,01,01,08  \n"
      "120 raw 24 5a 0D0A\n"
      "2.5m baud 115200\n"
      "01:30:00 $ZRX03,2\n"
      "1:30:00.25 expect 04,1,0\n"
      "1.6h $ZRX03,4,23,2,28,10,0,0\n"
      "1d $ZRX03,1,2\n");
  ASSERT_EQ(s.size(), 8u);
  EXPECT_EQ(s[0].line, 3);
  EXPECT_DOUBLE_EQ(s[0].t_s, 90);
  EXPECT_EQ(s[0].kind, HostScriptLine::Kind::Frame);
  EXPECT_EQ(s[0].bytes, "$ZRX03,1,8*5A\r\n");
  EXPECT_EQ(s[1].kind, HostScriptLine::Kind::Expect);
  EXPECT_EQ(s[1].bytes, "OLA,01,01,08");
  EXPECT_EQ(s[2].kind, HostScriptLine::Kind::Raw);
  EXPECT_EQ(s[2].bytes, std::string("\x24\x5A\x0D\x0A"));
  EXPECT_DOUBLE_EQ(s[3].t_s, 150);
  EXPECT_EQ(s[3].kind, HostScriptLine::Kind::Baud);
  EXPECT_EQ(s[3].baud, 115200u);
  EXPECT_DOUBLE_EQ(s[4].t_s, 5400);
  EXPECT_EQ(s[4].bytes, "$ZRX03,2*4D\r\n");
  EXPECT_DOUBLE_EQ(s[5].t_s, 5400.25);
  EXPECT_DOUBLE_EQ(s[6].t_s, 5760);
  EXPECT_EQ(s[6].line, 9);
  EXPECT_DOUBLE_EQ(s[7].t_s, 86400);
  EXPECT_TRUE(Parse("").empty());
}

TEST(HostScript, ErrorsNameTheLineAndTheBadValue) {
  struct Case {
    const char* text;
    const char* must_say;
  };
  for (const Case& c : {
           Case{"90s $ZRX03,2\n9x0s $ZRX03,2\n", "s.txt line 2: bad time '9x0s'"},
           Case{"-5s $ZRX03,2\n", "line 1: bad time '-5s'"},
           Case{"01:61:00 $ZRX03,2\n", "bad time '01:61:00'"},
           Case{"1:2:3 $ZRX03,2\n", "bad time '1:2:3'"},
           Case{"90s\n", "line 1: expected TIME ACTION, got '90s'"},
           Case{"90s ZRX03,2\n", "unknown action 'ZRX03,2'"},
           Case{"90s send $ZRX03,2\n", "unknown action 'send'"},
           Case{"90s $ZRX03,2*4D\n", "must not hold '*'"},
           Case{"90s raw 24 5G\n", "bad hex bytes '5G'"},
           Case{"90s raw 245\n", "bad hex bytes '245'"},
           Case{"90s raw\n", "raw needs at least one hex byte"},
           Case{"90s baud fast\n", "bad baud rate 'fast'"},
           Case{"90s baud 0\n", "bad baud rate '0'"},
           Case{"90s expect\n", "expect needs the text"},
           Case{"2m $ZRX03,2\n\n1m $ZRX03,2\n", "line 3: time '1m' is before the previous line's 00:02:00.000"},
       }) {
    std::string error = ErrorOf(c.text);
    EXPECT_NE(error.find(c.must_say), std::string::npos) << c.text << " gave: " << error;
  }
  EXPECT_THROW(sim::load_host_script("/nonexistent/script.txt"), HostScriptError);
}

TEST(HostScript, FramesGetTheNmeaChecksum) {
  EXPECT_EQ(sim::host_frame("$ZRX03,2"), "$ZRX03,2*4D\r\n");
  EXPECT_EQ(sim::nmea_checksum("$ZRX03,1,8*00"), 0x5A);
  // a body that XORs to zero still gets two digits
  EXPECT_EQ(sim::host_frame("$AA"), "$AA*00\r\n");
}

}  // namespace
