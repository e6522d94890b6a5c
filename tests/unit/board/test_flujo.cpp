// FlujoSalida: the formatted text stream used by the card formatter (cout on Serial1).
#include <gtest/gtest.h>

#include <string>

#include "board/flujo.h"
#include "board/uart.h"
#include "board/wstring.h"
#include "support/board_fixture.h"
#include "support/text_sink.h"

namespace olas::test {
namespace {

TEST(FlujoTest, HexWithBasePaddedInternally) {
  Sink s;
  FlujoSalida f(s);
  f << hex << showbase << internal << setfill('0');
  f << setw(4) << 0 << ' ' << setw(4) << 0xFF << ' ' << uppercase << setw(4) << 0xAB;
  f << nouppercase << noshowbase << ' ' << -1 << dec << ' ' << -1;
  EXPECT_EQ(s.text, "0x00 0xff 0XAB ffffffff -1");
}

TEST(FlujoTest, WidthAppliesOnceFillAndAdjustStay) {
  Sink s;
  FlujoSalida f(s);
  f << setw(5) << 42 << 7 << '|' << setfill('.') << left << setw(4) << "ab" << '|';
  f << right << setw(6) << String("str") << setw(1) << "long";
  f << internal << setw(5) << -12 << '|' << (unsigned char)65;
  EXPECT_EQ(s.text, "   427|ab..|...strlong-..12|A");
}

TEST(FlujoTest, DoublesUsePrecisionAndNewlinesBecomeCrLf) {
  Sink s;
  FlujoSalida f(s);
  f << 3.14159 << ' ' << setprecision(0) << 1.048576 * 3796 << "\nError" << endl;
  f << setprecision(200) << 1.0;  // held to 40 decimals
  EXPECT_EQ(s.text, "3.14 3980\r\nError\r\n1." + std::string(40, '0'));
}

using CoutTest = BoardFixture;

TEST_F(CoutTest, WritesToTheDebugConsole) {
  Serial1.begin(115200);
  cout << dec << setfill(' ') << right << setprecision(2);
  cout << "Card Size: " << 1234u << " MB" << endl << flush;
  EXPECT_EQ(console.text, "Card Size: 1234 MB\r\n");
}

}  // namespace
}  // namespace olas::test
