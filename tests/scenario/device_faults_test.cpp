// Devices misbehaving around a running sensor: the motion unit, the GPS receiver, the host
// controller and the card. In every case the run completes, the only restarts are the firmware's
// own (an hour without waves), the records stored before the fault are still on the card, the
// settings survive and the sensor measures again once the fault is over.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "sensor_olas_sim/options.h"
#include "sensor_olas_sim/run.h"
#include "wave_checks.h"

namespace olas::scenario {
namespace {

constexpr size_t kIntervalAddress = 7;  // stored averaging interval, minutes
constexpr uint8_t kInterval = 10;       // short intervals: a record every 10 minutes
constexpr double kFaultAt = 25 * 60.0;  // after two stored records
constexpr double kFaultFor = 5 * 60.0;
constexpr double kRunFor = 42 * 60.0;   // two intervals after the fault

RunOptions FaultRun(const std::string& name, double seconds = kRunFor) {
  RunOptions o;
  o.out_dir = FreshDir("fault_" + name).string();
  o.duration_s = seconds;
  o.start_utc = parse_utc(kDefaultStart);
  o.firmware_image = OLAS_FIRMWARE_IMAGE;
  o.quiet = true;
  o.card.size_bytes = 64ull << 20;
  return o;
}

// "hh,mm" of a record's end (host frame) or start (card line), and its statistics as the card
// writes them (space-separated).
std::string Statistics(const std::string& fields_after_time, char sep) {
  std::string s = fields_after_time;
  if (sep != ' ')
    for (char& c : s)
      if (c == sep) c = ' ';
  return s;
}

// Every RES line on the card, as its statistics.
std::multiset<std::string> CardRecords(const fs::path& out) {
  std::multiset<std::string> r;
  if (!fs::exists(out / "card")) return r;
  for (const auto& e : fs::recursive_directory_iterator(out / "card")) {
    if (e.path().extension() != ".res") continue;
    std::ifstream in(e.path());
    for (std::string l; std::getline(in, l);) {
      if (!l.empty() && l.back() == '\r') l.pop_back();
      size_t p = 0;
      for (int i = 0; i < 5 && p != std::string::npos; ++i) p = l.find(',', p + 1);
      if (p != std::string::npos) r.insert(l.substr(p + 1));
    }
  }
  return r;
}

// The host's RES frames sent up to `until_s` of true time (by their hour and minute on a clock
// that the GPS set to true time), as statistics.
std::vector<std::string> HostRecords(const fs::path& out, double until_s) {
  std::vector<std::string> r;
  for (const ResFrame& f : ResFrames(ReadFile(out / "host.log"))) {
    if (!f.checksum_ok || f.fields.size() < 6) continue;
    double minute = f.Field(3) * 60 + f.Field(4) - (14 * 60 + 20);
    if (minute * 60 > until_s) continue;
    size_t p = 0;
    for (int i = 0; i < 5; ++i) p = f.body.find(',', p + 1);
    r.push_back(Statistics(f.body.substr(p + 1), ','));
  }
  return r;
}

// Runs `o` with the short interval stored first; checks what holds after any fault: the run
// reached its end, no restart but the firmware's own, the records the host got up to
// `stored_until_s` (0: none to check) are on the card, the stored setting is intact.
RunResult RunFault(RunOptions o, double stored_until_s, size_t own_restarts = 0) {
  StoreSettingBeforeBoot(o, kIntervalAddress, kInterval);
  RunResult r = run_simulation(o);
  const fs::path out(o.out_dir);
  EXPECT_EQ(r.exit_code, 0) << r.summary.dump();
  EXPECT_NEAR(r.summary["virtual_s"].get<double>(), o.duration_s, 0.1);
  EXPECT_EQ(r.summary["resets"].size(), own_restarts) << r.summary["resets"].dump();
  for (const auto& x : r.summary["resets"]) EXPECT_EQ(x["cause"], "watchdog after halt") << x.dump();
  std::string console = ReadFile(out / "console.log");
  size_t own = 0;
  for (size_t p = console.find("RESET GENERAL POR FALTA DE OLAS"); p != std::string::npos;
       p = console.find("RESET GENERAL POR FALTA DE OLAS", p + 1))
    ++own;
  EXPECT_EQ(own, own_restarts);

  if (stored_until_s > 0) {
    auto card = CardRecords(out);
    auto host = HostRecords(out, stored_until_s);
    EXPECT_GE(host.size(), 1u);
    for (const auto& h : host) EXPECT_EQ(card.count(h), 1u) << "not on the card: " << h;
  }
  EXPECT_EQ(uint8_t(ReadFile(out / "flash.bin").at(kIntervalAddress)), kInterval);
  return r;
}

// The last RES frame the host got has waves: the sensor measures again.
void ExpectWavesAtTheEnd(const RunOptions& o) {
  auto res = ResFrames(ReadFile(fs::path(o.out_dir) / "host.log"));
  ASSERT_FALSE(res.empty());
  EXPECT_GT(res.back().Waves(), 0) << res.back().body;
}

std::string WriteScript(const RunOptions& o, const std::string& text) {
  fs::path p = fs::path(o.out_dir) / "faults.host";
  std::ofstream(p) << text;
  return p.string();
}

std::string At(double t_s) { return std::to_string(int64_t(t_s)) + " "; }

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char b[4];
  for (uint8_t x : bytes) {
    std::snprintf(b, sizeof b, "%02X", x);
    s += b;
  }
  return s;
}

TEST(DeviceFaults, MotionUnitSilentForAnHourCostsOneLateRecordAndNoRestart) {
  auto o = FaultRun("unit_silent", 102 * 60.0);
  o.motion_unit.silences.push_back({kFaultAt, 3600.0});
  auto r = RunFault(o, kFaultAt);
  // The interval in progress closes with its own waves at the first sample after the silence;
  // the intervals nothing was measured in are not reported (so they do not count toward the
  // restart for lack of waves), and records go on from the new time.
  auto res = ResFrames(ReadFile(fs::path(o.out_dir) / "host.log"));
  EXPECT_EQ(std::count_if(res.begin(), res.end(), [](const ResFrame& f) { return f.Waves() == 0; }), 0);
  EXPECT_GE(res.size(), 5u);
  ExpectWavesAtTheEnd(o);
  fs::remove_all(o.out_dir);
}

TEST(DeviceFaults, MotionUnitGarbageWrongSpeedShuffledLogsAndClockJumps) {
  struct Case {
    const char* name;
    std::function<void(sim::MotionUnitConfig&)> fault;
  };
  const std::vector<Case> cases = {
      {"garbage", [](sim::MotionUnitConfig& m) { m.garbage.push_back({kFaultAt, kFaultFor}); }},
      // a damaged sample ends the wave it falls in: at one byte in 50 000 most waves stay whole
      {"corrupt", [](sim::MotionUnitConfig& m) { m.corrupt_probability = 0.00002; }},
      {"baud", [](sim::MotionUnitConfig& m) { m.wrong_baud.push_back({kFaultAt, kFaultFor, 57600}); }},
      {"shuffled", [](sim::MotionUnitConfig& m) { m.shuffled.push_back({kFaultAt, kFaultFor}); }},
      {"clock_jumps",
       [](sim::MotionUnitConfig& m) {
         m.clock_jumps = {{kFaultAt, 3600.0}, {kFaultAt + 60, -7200.0}, {kFaultAt + 120, 3600.5}};
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto o = FaultRun(std::string("unit_") + c.name);
    c.fault(o.motion_unit);
    RunFault(o, kFaultAt);
    ExpectWavesAtTheEnd(o);
    fs::remove_all(o.out_dir);
  }
}

TEST(DeviceFaults, GpsNeverFixingTwoDimensionalTimeJumpsAndGnTalkers) {
  struct Case {
    const char* name;
    std::string gps;
    bool fixes;
  };
  // Jumps: a day ahead, then back again, each taken because the host asks for a new time.
  const std::vector<Case> cases = {
      {"never", "fix=never", false},
      {"three_sats", "sats=3", false},
      {"gn", "talker=GN", true},
      {"day_jump", "jump=1d@24m,jump=-1d@32m", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto o = FaultRun(std::string("gps_") + c.name);
    o.gps.receiver = parse_gps(c.gps);
    o.host.script = WriteScript(o, "25m $ZRX03,1,1\n33m $ZRX03,1,1\n");
    // Without a fix (fewer than 4 satellites is none) there is no date, so nothing goes to the
    // card, but the host gets every interval.
    auto r = RunFault(o, c.fixes ? kRunFor : 0);
    EXPECT_EQ(r.summary["gps"]["fixes"].empty(), !c.fixes) << r.summary["gps"].dump();
    EXPECT_GE(ResFrames(ReadFile(fs::path(o.out_dir) / "host.log")).size(), 3u);
    ExpectWavesAtTheEnd(o);
    if (std::string(c.name) == "day_jump") {
      // the day-ahead time was taken: the fix after it found the clock a day ahead
      bool day_ahead = false;
      for (const auto& f : r.summary["gps"]["fixes"])
        day_ahead |= !f["error_s"].is_null() && f["error_s"].get<double>() > 86000;
      EXPECT_TRUE(day_ahead) << r.summary["gps"]["fixes"].dump();
      EXPECT_TRUE(fs::is_directory(fs::path(o.out_dir) / "card" / "261207"));
    }
    fs::remove_all(o.out_dir);
  }
}

TEST(DeviceFaults, HostFloodingGarbageAndASpeedChangeLeaveTheLinkWorking) {
  std::mt19937 rng(7);
  auto noise = [&](size_t n) {
    std::vector<uint8_t> b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
  };
  std::string flood;  // five minutes of back-to-back bytes at 38400 baud
  for (int s = 0; s < 300; ++s) flood += At(kFaultAt + s) + "raw " + Hex(noise(3840)) + "\n";
  std::string garbage;  // 128 bytes at a time, one with a frame start in it
  for (int i = 0; i < 5; ++i) {
    auto g = noise(128);
    if (i == 2) std::copy_n("$ZRX03,1,", 9, g.begin() + 60);
    garbage += At(kFaultAt + 10 * i) + "raw " + Hex(g) + "\n";
  }
  const std::string speed = At(kFaultAt) + "baud 9600\n" + At(kFaultAt + 1) + "$ZRX03,1,8\n" +
                            At(kFaultAt + 60) + "$ZRX03,2\n" + At(kFaultAt + kFaultFor) + "baud 38400\n";
  const std::string after = "35m $ZRX03,1,8\n35m expect OLA,01,01,08,07,12,26,14,55\n";
  for (const auto& [name, script] : {std::pair<std::string, std::string>{"flood", flood},
                                     {"garbage", garbage},
                                     {"speed", speed}}) {
    SCOPED_TRACE(name);
    auto o = FaultRun("host_" + name);
    o.host.script = WriteScript(o, script + after);
    auto r = RunFault(o, kFaultAt);
    ExpectWavesAtTheEnd(o);
    const auto& expectations = r.summary["host"]["expectations"];
    ASSERT_EQ(expectations.size(), 1u) << r.summary["host"].dump();
    EXPECT_TRUE(expectations[0]["met"].get<bool>()) << expectations[0].dump();
    fs::remove_all(o.out_dir);
  }
}

TEST(DeviceFaults, CardRemovedDuringAWriteFailingOrFullKeepsWhatItStored) {
  // 1499.829 s falls between the block writes of one file update (data, table, directory entry),
  // as the card's write hook showed for this very run.
  for (const char* events : {"remove@1499.829s", "fail-writes@25m", "full@25m"}) {
    SCOPED_TRACE(events);
    auto o = FaultRun(std::string("card_") + std::string(events).substr(0, 4));
    o.card.events = parse_card_events(events);
    RunFault(o, kFaultAt);
    ExpectWavesAtTheEnd(o);
    fs::remove_all(o.out_dir);
  }
}

}  // namespace
}  // namespace olas::scenario

