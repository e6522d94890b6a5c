// Links that lose no frame: host frames back to back, padded, long, or arriving just before an
// interval's record are all answered and the record still arrives; a receiver whose saved setup
// has GGA and GSA off, or that glues binary output in front of its sentences, still sets the
// clock; the short SHIP_MOTION of older units decodes in every log order.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "scenario/sample_stream.h"
#include "scenario/wave_checks.h"
#include "sensor_olas_sim/gps_setup.h"
#include "sensor_olas_sim/settings_preset.h"

namespace olas::scenario {
namespace {

std::string WriteText(const RunOptions& o, const std::string& name, const std::string& text) {
  fs::path p = fs::path(o.out_dir) / name;
  std::ofstream(p, std::ios::binary) << text;
  return p.string();
}

// "$body*HH" with its NMEA checksum.
std::string Frame(const std::string& body) {
  uint8_t x = 0;
  for (char c : body) x = uint8_t(x ^ uint8_t(c));
  char tail[4];
  std::snprintf(tail, sizeof tail, "*%02X", x);
  return "$" + body + tail;
}

std::string Hex(const std::string& bytes) {
  std::string s;
  char b[4];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02X", c);
    s += b;
  }
  return s;
}

TEST(Links, EveryWellFormedHostFrameIsAnswered) {
  RunOptions o = QuietRun("host_frames", 20 * 60.0);
  o.card.enabled = false;
  std::ostringstream s;
  // two commands in one burst, a frame padded with NUL and spaces, a frame without its line end
  // followed at once by another
  s << "300 raw " << Hex(Frame("ZRX03,1,5") + "\r\n" + Frame("ZRX03,1,19") + "\r\n") << "\n";
  s << "310 raw " << Hex(std::string("\0\0 ", 3) + Frame("ZRX03,1,6") + std::string("\r\n\0 ", 4)) << "\n";
  s << "320 raw " << Hex(Frame("ZRX03,1,9") + Frame("ZRX03,1,10") + "\r\n") << "\n";
  // twenty settings frames of 70 bytes (the fields padded with zeros), each sent at an instant
  // the unit's burst is on the wire
  const std::string settings = Frame("ZRX03,0003,0004,1,0,0000000,03000,03,90,20,1,0,001,002,003,65535") + "\r\n";
  EXPECT_EQ(settings.size(), 70u);
  for (int i = 0; i < 20; ++i) s << 400.0 + 10.0 * i + 0.001 << " raw " << Hex(settings) << "\n";
  o.host.script = WriteText(o, "frames.host", s.str());
  auto r = run_simulation(o);
  ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
  const std::string exchanges = ReadFile(fs::path(o.out_dir) / "host-exchanges.log");
  for (const char* answer : {"$OLA,01,01,05,", "$OLA,01,01,19,", "$OLA,01,01,06,", "$OLA,01,01,09,", "$OLA,01,01,10,"})
    EXPECT_NE(exchanges.find(answer), std::string::npos) << answer << "\n" << exchanges;
  EXPECT_EQ(Occurrences(exchanges, "$OLA,03,01*"), 20u) << exchanges;
  EXPECT_EQ(r.summary["dropped"]["host"], 0);
  if (!HasFailure()) fs::remove_all(o.out_dir);
}

TEST(Links, AQueryJustBeforeAnIntervalEndIsAnsweredAndTheRecordArrives) {
  // where the first record of a 10-minute interval reaches the host, without queries
  RunOptions base = QuietRun("record_time", 11 * 60.0);
  base.card.enabled = false;
  base.settings.push_back(parse_setting("CTE_INTERVALO_PROMEDIO=10"));
  auto r0 = run_simulation(base);
  ASSERT_EQ(r0.exit_code, 0);
  ASSERT_GE(r0.summary["intervals"].size(), 1u);
  const double record_at = r0.summary["intervals"][0]["truth"]["to_s"].get<double>();
  fs::remove_all(base.out_dir);
  // then a settings query at every 3 ms from 130 ms to 90 ms before it
  for (double before = 0.130; before >= 0.0899; before -= 0.003) {
    SCOPED_TRACE(before);
    RunOptions o = QuietRun("record_query", record_at + 2.0);
    o.card.enabled = false;
    o.settings = base.settings;
    o.host.script = WriteText(o, "query.host", std::to_string(record_at - before) + " $ZRX03,2\n");
    auto r = run_simulation(o);
    ASSERT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.summary["host"]["answers"], 1);
    EXPECT_EQ(r.summary["host"]["unsolicited"]["RES"], 1);
    if (!HasFailure()) fs::remove_all(o.out_dir);
  }
}

// The shared u-blox LEA-5H log with a UBX NAV-SOL frame glued, without a line end, in front of
// every GGA and GSA sentence.
std::string GluedLog() {
  const std::string log = ReadFile(fs::path(__FILE__).parent_path() / "../data/nmea/ublox-lea-5h.log");
  std::string ubx = {char(0xB5), char(0x62), 0x01, 0x06, 0x04, 0x00, 0x11, 0x22, 0x33, 0x44, 0x00, 0x00};
  std::string out;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("$GPGGA", 0) == 0 || line.rfind("$GPGSA", 0) == 0) out += ubx;
    out += line + "\n";
  }
  return out;
}

TEST(Links, ReceiversThatHideTheirSentencesStillSetTheClock) {
  struct Case {
    const char* name;
    std::function<void(RunOptions&)> setup;
  };
  const std::vector<Case> cases = {
      {"gga_gsa_off", [](RunOptions& o) { o.gps.receiver = parse_gps("saved=gga-gsa-off", o.gps.receiver); }},
      {"glued_ubx", [](RunOptions& o) { o.gps.receiver.replay_path = WriteText(o, "glued.log", GluedLog()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunOptions o = QuietRun(std::string("gps_") + c.name, 3 * 60.0);
    o.card.enabled = false;
    o.sensor = false;
    c.setup(o);
    auto r = run_simulation(o);
    ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
    EXPECT_EQ(r.summary["host"]["unsolicited"]["GPS"], 1) << r.summary["host"].dump();
    if (!HasFailure()) fs::remove_all(o.out_dir);
  }
}

TEST(Links, TheShortShipMotionOfOlderUnitsDecodesInEveryLogOrder) {
  // 20 s of a sine in each of the three places of the short SHIP_MOTION (20-byte payload)
  std::vector<uint8_t> stream;
  const uint32_t t0 = 1000000;
  size_t k = 0;
  for (int place = 0; place < 3; ++place) {
    for (int i = 0; i < 200; ++i, ++k) {
      auto f = SampleFrames(t0 + uint32_t(k) * 100000u, int(40 * std::sin(double(k) / 10.0)), 0.1f, 0.2f);
      std::vector<uint8_t>& ship = f[2];
      std::vector<uint8_t> payload(ship.begin() + 6, ship.begin() + 26);
      ship = sim::sbg::frame(uint8_t(sim::sbg::LogId::ShipMotion), sim::sbg::kClassLog, payload);
      AvoidZeroCrc(ship);
      std::swap(f[2], f[size_t(place)]);
      for (const auto& x : f) stream.insert(stream.end(), x.begin(), x.end());
    }
  }
  RunOptions o = QuietRun("short_ship", 30.0 + 61.0);
  o.card.enabled = false;
  o.gps.enabled = false;
  o.jumper = true;
  o.motion_unit.start_s = 30.0;
  o.motion_unit.replay_path = WriteText(o, "short.sbg", std::string(stream.begin(), stream.end()));
  auto r = run_simulation(o);
  ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
  const auto windows = TracedWindows(ReadFile(fs::path(o.out_dir) / "console.log"));
  ASSERT_EQ(windows.size(), k - 2);
  for (size_t i = 0; i < windows.size(); ++i)
    ASSERT_EQ(windows[i].slot[2].heave_cm, int(40 * std::sin(double(i + 2) / 10.0))) << "sample " << i + 2;
  if (!HasFailure()) fs::remove_all(o.out_dir);
}

}  // namespace
}  // namespace olas::scenario
