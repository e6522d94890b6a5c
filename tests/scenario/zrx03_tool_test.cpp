// The zrx03 tool as a user runs it: building frames, checking checksums, decoding every kind of
// answer and unsolicited frame, a whole host.log from standard input, and bad input (exit 2).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "scenario/wave_checks.h"

namespace {
namespace fs = std::filesystem;
using olas::scenario::ReadFile;

#ifdef ZRX03_EXE
const std::string kTool = ZRX03_EXE;
#else
// built next to the simulator
const std::string kTool = (fs::path(OLAS_SIM_EXE).parent_path() / "zrx03" / "zrx03").string();
#endif

struct ToolRun {
  int status;
  std::string out, err;
};

// Arguments are passed through the shell in single quotes.
ToolRun zrx03(const std::string& args, const std::string& stdin_text = "") {
  // per process: ctest runs these tests side by side
  const std::string tag = std::to_string(getpid());
  fs::path dir = fs::temp_directory_path();
  fs::path in = dir / ("olas_zrx03_in_" + tag), out = dir / ("olas_zrx03_out_" + tag), err = dir / ("olas_zrx03_err_" + tag);
  std::ofstream(in, std::ios::binary) << stdin_text;
  std::string cmd = kTool + " " + args + " <" + in.string() + " >" + out.string() + " 2>" + err.string();
  int status = std::system(cmd.c_str());
  return {WEXITSTATUS(status), ReadFile(out), ReadFile(err)};
}

std::string frame(const std::string& body) {
  unsigned x = 0;
  for (size_t i = 1; i < body.size(); ++i) x ^= static_cast<unsigned char>(body[i]);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X", x);
  return body + tail;
}

std::string decode(const std::string& body) {
  ToolRun r = zrx03("decode '" + frame(body) + "'");
  EXPECT_EQ(r.status, 0) << body << "\n" << r.err;
  EXPECT_NE(r.out.find("right"), std::string::npos) << r.out;
  return r.out;
}

void has(const std::string& text, std::initializer_list<const char*> needles) {
  for (const char* n : needles) EXPECT_NE(text.find(n), std::string::npos) << "missing '" << n << "' in:\n" << text;
}

TEST(Zrx03Tool, FrameAndCheck) {
  ToolRun r = zrx03("frame 1,8");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "$ZRX03,1,8*5A\n");
  EXPECT_EQ(zrx03("frame '$ZRX03,2'").out, "$ZRX03,2*4D\n");
  EXPECT_EQ(zrx03("frame 3,,,,,,,,45").out, frame("$ZRX03,3,,,,,,,,45") + "\n");

  r = zrx03("check '$ZRX03,1,8*5A'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "checksum right: 5A\n");
  r = zrx03("check '$ZRX03,1,8*5B'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "checksum wrong: '5B', it should be 5A\n");
  r = zrx03("check '$ZRX03,1,8*5a'");  // the sensor takes upper case only
  EXPECT_EQ(r.status, 1);
  r = zrx03("check '$ZRX03,1,8'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "no checksum; it should be *5A\n");
  EXPECT_EQ(zrx03("check '" + frame("$OLA,01,01") + "'").status, 0);
}

// Every whole frame the help shows as an example must pass the tool's own check.
TEST(Zrx03Tool, HelpExamplesCarryTheirRightChecksums) {
  std::string help;
  for (const char* cmd : {"--help", "frame --help", "check --help", "decode --help"}) help += zrx03(cmd).out;
  has(help, {"$ZRX03,1,8*5A"});
  size_t examples = 0;
  for (size_t at = help.find('$'); at != std::string::npos; at = help.find('$', at + 1)) {
    const size_t star = help.find('*', at);
    if (star == std::string::npos || star + 3 > help.size() || help.find_first_of(" '\n", at) < star) continue;
    const std::string f = help.substr(at, star + 3 - at);
    ++examples;
    EXPECT_EQ(zrx03("check '" + f + "'").status, 0) << f;
  }
  EXPECT_GE(examples, 1u);
}

TEST(Zrx03Tool, BadInputIsNamedAndExitsTwo) {
  struct Case {
    std::string args, must_say;
  };
  for (const Case& c : {Case{"frame '1*8'", "'1*8'"}, Case{"frame ''", "empty frame body"},
                        Case{"check 'ZRX03,1,8*5A'", "'ZRX03,1,8*5A'"}, Case{"decode 'hello'", "not a frame: 'hello'"},
                        Case{"decode '$OLA,02,04'", "no checksum"},
                        Case{"decode '" + frame("$XYZ,1") + "'", "unknown frame tag 'XYZ'"},
                        Case{"decode '" + frame("$OLA,02,04,1") + "'", "2 fields, expected 14"},
                        Case{"decode '" + frame("$OLA,77,01") + "'", "unknown command '77'"},
                        Case{"decode '" + frame("$OLA,01,01,99,5") + "'", "unknown sub-command '99'"},
                        Case{"decode '" + frame("$RES,1,2,3") + "'", "expected 17, 19 or 21"},
                        Case{"nonsense", ""}, Case{"", ""}, Case{"decode", ""}}) {
    ToolRun r = zrx03(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_NE(r.err.find(c.must_say), std::string::npos) << c.args << ": " << r.err;
    EXPECT_FALSE(r.err.empty()) << c.args;
  }
}

TEST(Zrx03Tool, DecodesCommandsAndTheirSimpleAnswers) {
  has(decode("$OLA,02,04,1,0,00000,03000,03,90,20,1,0,001,002,003,65535"),
      {"answer to command 2: read the settings", "choras_sincronizacion_gps", "4 h", "3000 cm, largest accepted",
       "CTE_INTERVALO_PROMEDIO", "icanales_activados_sensor", "65535"});
  has(decode("$OLA,04,33"), {"command 4: set the clock", "rejected"});
  has(decode("$OLA,13,01"), {"link speed", "accepted"});
  has(decode("$OLA,01,02"), {"already pending"});
  has(decode("$OLA,01,01"), {"sub-command 1 (GPS time asked), 2 (restart)"});
  has(decode("$ZRX03,1,8"), {"command 1", "sub-command", "status"});
  has(decode("$ZRX03,3,,,,,,,,45"), {"write the settings", "empty: unchanged", "45"});
  has(decode("$ZRX03,99"), {"unknown, the sensor will not answer"});
}

TEST(Zrx03Tool, DecodesEverySubCommandAnswer) {
  std::string hex;
  for (int i = 0; i < 75; ++i) {
    char b[4];
    std::snprintf(b, sizeof b, "%02X ", i == 0 ? 0xFF : i == 1 ? 0x5A : i == 2 ? 9 : i == 4 ? 0x14 : 0);
    hex += b;
  }
  has(decode("$OLA,01,01,03," + hex), {"last sensor frame", "75", "SHIP_MOTION", "payload length", "20"});
  has(decode("$OLA,01,01,04,07,12,26,14,40,00123,0250,0180,0220,0120,123,110,098,105,087,2700,0150,070,080"),
      {"last averaged record", "Hmax", "250 cm", "12.3 s", "270.0 deg", "15.0 deg", "heading valid"});
  has(decode("$OLA,01,01,05,00321"), {"stored start-ups", "321"});
  has(decode("$OLA,01,01,06,112"), {"occupancy", "112 %"});
  has(decode("$OLA,01,01,07,07,12,26,10,59,30,00042,0123,-00057, 00000.1234,-00000.5678,1,1"),
      {"last point record", "heave", "-00057", "north velocity", "-00000.5678", "alignment valid"});
  has(decode("$OLA,01,01,08,07,12,26,14,25,037,00321,06,12,26,23,59,1,0"),
      {"status", "cdia_utc", "37 %", "dd_ola", "resSbgOk", "resSdOk"});
  for (const char* q : {"09,001", "10,000", "11,00042", "12,00100", "15,001", "16,48000", "18,1", "19,8", "20,0",
                        "21,1"})
    decode(std::string("$OLA,01,01,") + q);
  has(decode("$OLA,01,01,16,47500"), {"CTE_VELOCIDAD_RELOJ", "47500 counts/ms"});
  has(decode("$OLA,01,01,19,8"), {"115200, baud"});
  has(decode("$OLA,01,01,13,"), {"format the card", "formatted"});
  has(decode("$OLA,01,01,14,"), {"erase and format"});
  has(decode("$OLA,01,01,17,0,00512"), {"clock difference", "negative", "-5 min 12 s"});
  has(decode("$OLA,01,01,17,1,250"), {"250 minutes or more"});
}

TEST(Zrx03Tool, DecodesUnsolicitedFramesAndApplicationLines) {
  has(decode("$RES,07,12,26,14,40,00123,0250,0180,0220,0120,123,110,098,105,087,2700,0150,070,080"),
      {"averaged sea state", "waves", "123", "H1/3", "180 cm", "T1/10", "10.5 s", "mean direction", "270.0 deg"});
  has(decode("$RES,07,12,26,14,40,00123,0250,0180,0220,0120,123,110,098,105,087,2700,2650,0150,0160,070,080"),
      {"mean direction (velocity)", "mean direction (drift)", "265.0 deg", "directional spread (drift)"});
  has(decode("$RES,07,12,26,15,00,00000,0000,0000,0000,0000,000,000,000,000,000,0000,0000,000,001"),
      {"discarded waves, high byte", "2 discarded"});
  has(decode("$RES,07,12,26,15,00,00000,0000,0000,0000,0000,000,000,000,000,000,0000,0000,255,255"),
      {"none discarded"});
  has(decode("$GPS,26,12,07,10,59,30,07,43,21,12345,N,003,07,54321,W,01,00,01"),
      {"GPS fix", "satellites", "north", "west", "HDOP"});
  ToolRun r = zrx03("decode '#OLA,12,150,85,2700'");
  EXPECT_EQ(r.status, 0);
  has(r.out, {"wave line", "150 cm", "8.5 s", "270.0 deg"});
  has(zrx03("decode '#OLA,3,40,60,9999'").out, {"method not in force"});
  has(zrx03("decode '#PTO,-12.34,123'").out, {"point line", "heave", "-12.34", "heading", "123"});
}

TEST(Zrx03Tool, DecodesAWholeHostLogFromStandardInput) {
  std::string log = "\r\n" + std::string(79, '*') + "\r\n\t\tVORENTA\r\n\t\tOLVARIDE\r\n" + std::string(79, '*') +
                    "\r\n\tSensor de olas\tHardware:1_0\tFirmware:1_7_2\r\n" + std::string(79, '*') + "\r\n\r\n" +
                    frame("$OLA,02,04,1,0,00000,03000,03,90,20,1,0,001,002,003,65535") + "\r\n" +
                    frame("$GPS,26,12,07,10,59,30,07,43,21,12345,N,003,07,54321,W,01,00,01") + "\r\n" +
                    "#PTO,-12.34,123\r\n#OLA,1,150,85,2700\r\n#PTO,7.86#OLA,2,101,60,2395\r\n,325\r\n" +
                    frame("$RES,07,12,26,14,40,00123,0250,0180,0220,0120,123,110,098,105,087,2700,0150,070,080") +
                    "\r\n" + frame("$OLA,01,01,17,0,00512") + "\r\n";
  ToolRun r = zrx03("decode -", log);
  EXPECT_EQ(r.status, 0) << r.err;
  has(r.out, {"read the settings", "GPS fix", "point line", "wave line", "averaged sea state", "-5 min 12 s",
              "8 frame(s) decoded, 7 other line(s) skipped"});
  EXPECT_EQ(r.err, "");

  // a wrong checksum is shown and makes the status 1
  r = zrx03("decode -", log + "$OLA,01,01,05,00001*00\r\n");
  EXPECT_EQ(r.status, 1);
  has(r.out, {"checksum '00' WRONG, should be", "stored start-ups", "9 frame(s) decoded"});
  // a damaged frame is reported with its line and makes the status 2; the rest is still decoded
  r = zrx03("decode -", log + "$OLA,02,04*00\r\n" + frame("$OLA,01,01,05,00001") + "\r\n");
  EXPECT_EQ(r.status, 2);
  has(r.err, {"line 17: settings answer: 1 fields, expected 14"});
  has(r.out, {"stored start-ups", "9 frame(s) decoded"});
}

}  // namespace
