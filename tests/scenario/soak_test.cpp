// Long runs (ctest label "soak"): days of the default scenario, a calm sea, and days of a mixed
// scenario with device faults sprinkled through it. CI runs them shortened; OLAS_SOAK=full gives
// the full durations (7 days; 1 day in a sanitised build).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "sample_stream.h"
#include "sensor_olas_sim/options.h"
#include "sensor_olas_sim/run.h"
#include "wave_checks.h"

#if defined(__SANITIZE_ADDRESS__)
#define OLAS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OLAS_SANITIZED 1
#endif
#endif

namespace olas::scenario {
namespace {

constexpr double kHour = 3600.0, kDay = 24 * kHour;

bool Full() {
  const char* v = std::getenv("OLAS_SOAK");
  return v && std::string(v) == "full";
}

// The soak's length: 7 days, or 1 day in a sanitised build; CI: 1 day, or 2 hours sanitised.
double SoakSeconds() {
#ifdef OLAS_SANITIZED
  return Full() ? kDay : 2 * kHour;
#else
  return Full() ? 7 * kDay : kDay;
#endif
}

RunOptions LongRun(const std::string& name, double seconds) {
  RunOptions o = QuietRun("soak_" + name, seconds);
  o.card.size_bytes = 1ull << 30;
  return o;
}

size_t CardResLines(const nlohmann::json& card) {
  size_t n = 0;
  if (card.is_object() && card.contains("files"))
    for (const auto& f : card["files"])
      if (f["path"].get<std::string>().size() > 4 &&
          f["path"].get<std::string>().compare(f["path"].get<std::string>().size() - 4, 4, ".res") == 0)
        n += f["lines"].get<size_t>();
  return n;
}

// Runs to the end; every restart is one the firmware announced on its console or one the host
// asked for. Prints the run's account for the soak report.
RunResult RunLong(const RunOptions& o, size_t host_restarts = 0) {
  RunResult r = run_simulation(o);
  const auto& s = r.summary;
  EXPECT_EQ(r.exit_code, 0) << s.value("error", "");
  EXPECT_NEAR(s["virtual_s"].get<double>(), o.duration_s, 0.1);
  std::map<std::string, int> causes;
  for (const auto& x : s["resets"]) ++causes[x["cause"].get<std::string>()];
  const std::string console = ReadFile(fs::path(o.out_dir) / "console.log");
  const size_t announced = Occurrences(console, "RESET GENERAL POR FALTA DE OLAS");
  EXPECT_EQ(causes["watchdog starved"], 0) << s["resets"].dump();
  EXPECT_EQ(size_t(causes["watchdog after halt"]), announced + host_restarts);

  const size_t res_host = ResFrames(ReadFile(fs::path(o.out_dir) / "host.log")).size();
  std::printf("[ soak ] %s: %.0f h virtual in %.0f s (%.0fx); resets %zu (watchdog after halt %d, "
              "announced \"RESET GENERAL POR FALTA DE OLAS\" %zu); RES to host %zu, on card %zu, "
              "intervals %.0f; dropped host %llu sensor %llu gps %llu; framing errors sensor %llu\n",
              fs::path(o.out_dir).filename().c_str(), o.duration_s / kHour, s["wall_s"].get<double>(),
              s["speed"].get<double>(), s["resets"].size(), causes["watchdog after halt"], announced,
              res_host, CardResLines(s["card"]), o.duration_s / 1200.0,
              s["dropped"]["host"].get<unsigned long long>(), s["dropped"]["sensor"].get<unsigned long long>(),
              s["dropped"]["gps"].get<unsigned long long>(),
              s["framing_errors"]["sensor"].get<unsigned long long>());
  return r;
}

TEST(Soak, DefaultScenarioForDays) {
#ifdef OLAS_SANITIZED
  const double seconds = Full() ? kDay : 2 * kHour;
#else
  const double seconds = Full() ? 7 * kDay : kDay;
#endif
  auto o = LongRun("default", seconds);
  // Up to a day, with the debug jumper and the unit's bytes captured: every sample the firmware
  // traces is then checked against what the unit sent (over days the files grow too large).
  const bool traced = seconds <= kDay;
  const fs::path capture = fs::path(o.out_dir) / "sensor.sbg";
  if (traced) {
    o.jumper = true;
    o.motion_unit.capture_path = capture.string();
  }
  auto r = RunLong(o);
  EXPECT_TRUE(r.summary["resets"].empty()) << r.summary["resets"].dump();
  EXPECT_EQ(r.summary["dropped"]["sensor"], 0);
  // one record per 20-minute interval, to the host and on the card
  const double intervals = seconds / 1200.0;
  EXPECT_GE(ResFrames(ReadFile(fs::path(o.out_dir) / "host.log")).size(), size_t(intervals) - 2);
  EXPECT_GE(CardResLines(r.summary["card"]), size_t(intervals) - 2);

  if (traced) {
    // Each traced window holds three samples of the unit, each with its own instant's heave,
    // heading and velocities, and the newest slots run through every instant the unit sent (but
    // those with a frame whose CRC is 0, one frame in 65 536, which the framing rejects).
    const UnitStream unit = UnitSamples(ReadFile(capture));
    const auto windows = TracedWindows(ReadFile(fs::path(o.out_dir) / "console.log"));
    ASSERT_GE(unit.order.size(), windows.size() + 2);
    EXPECT_LE(unit.order.size(), windows.size() + 3);  // the last sample may still wait
    size_t mismatched = 0, out_of_order = 0;
    for (size_t i = 0; i < windows.size(); ++i) {
      for (const TracedSlot& slot : windows[i].slot) {
        auto it = unit.by_time.find(slot.t_us);
        if (it == unit.by_time.end() || !SameAsUnit(slot, it->second)) ++mismatched;
      }
      if (windows[i].slot[2].t_us != unit.order[i + 2]) ++out_of_order;
    }
    EXPECT_EQ(mismatched, 0u);
    EXPECT_EQ(out_of_order, 0u);
    std::printf("[ soak ] default: %zu windows traced, %zu samples the firmware can take, sensor ring peak %d bytes\n",
                windows.size(), unit.order.size(), r.summary["ring_peak"]["sensor"].get<int>());
  }
  fs::remove_all(o.out_dir);
}

TEST(Soak, CalmSeaRestartsEveryHourByTheFirmwaresRule) {
  auto o = LongRun("calm", (Full() ? 24 : 3.5) * kHour);
  o.sea = parse_sea("calm", o.sea);
  auto r = RunLong(o);
  const auto& resets = r.summary["resets"];
  // an hour of intervals without waves, then the restart; the run goes on after each
  EXPECT_GE(resets.size(), size_t(o.duration_s / kHour) - 1) << resets.dump();
  for (size_t i = 1; i < resets.size(); ++i) {
    double gap = resets[i]["t"].get<double>() - resets[i - 1]["t"].get<double>();
    EXPECT_GT(gap, 40 * 60.0);
    EXPECT_LT(gap, 80 * 60.0);
  }
  EXPECT_GT(r.summary["boots"].get<int>(), 1);
  fs::remove_all(o.out_dir);
}

// Every 6 hours: the host asking for a restart early (a fresh firmware image is loaded, so a
// short sanitised run checks the reloads too); the unit silent, sending garbage, at a wrong speed,
// its logs shuffled, its clock jumping; the host sending garbage, flooding, at a wrong speed; the GPS a day off when the host asks for a time; the card out
// for a quarter of an hour. Bytes corrupted and logs missing throughout.
constexpr double kRestartAt = 0.75 * kHour;  // in each 6 hours

RunOptions Mixed(double seconds) {
  auto o = LongRun("mixed", seconds);
  auto& m = o.motion_unit;
  m.corrupt_probability = 1e-4;
  m.missing_probability = {0, 0.001, 0};
  std::string host, card;
  auto at = [](double t) { return std::to_string(int64_t(t)) + " "; };
  std::string garbage(256, '0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = "0123456789ABCDEF"[(i * 7 + i / 3) % 16];
  std::string flood;
  for (int i = 0; i < 3840; ++i) flood += "A5";  // a second of bytes at 38400 baud
  for (double c = 0; c < seconds; c += 6 * kHour) {
    m.silences.push_back({c + 1 * kHour, 600});
    m.garbage.push_back({c + 1.5 * kHour, 300});
    m.wrong_baud.push_back({c + 2 * kHour, 300, 57600});
    m.shuffled.push_back({c + 2.5 * kHour, 600});
    m.clock_jumps.push_back({c + 3 * kHour, 30.0});
    m.clock_jumps.push_back({c + 3 * kHour + 300, -30.0});
    o.gps.receiver.time_jumps.push_back({c + 4 * kHour, 86400});
    o.gps.receiver.time_jumps.push_back({c + 4 * kHour + 900, -86400});
    host += at(c + 0.5 * kHour) + "raw " + garbage + "\n";
    host += at(c + kRestartAt) + "$ZRX03,1,2\n";
    host += at(c + 4 * kHour + 60) + "$ZRX03,1,1\n";
    host += at(c + 4 * kHour + 960) + "$ZRX03,1,1\n";
    for (int s = 0; s < 30; ++s) host += at(c + 5 * kHour + s) + "raw " + flood + "\n";
    host += at(c + 5.5 * kHour) + "baud 9600\n" + at(c + 5.5 * kHour + 10) + "$ZRX03,1,8\n";
    host += at(c + 5.5 * kHour + 120) + "baud 38400\n" + at(c + 5.5 * kHour + 180) + "$ZRX03,1,8\n";
    card += (card.empty() ? "" : ",") + std::string("remove@") + std::to_string(int64_t(c + 3.5 * kHour)) +
            "s,insert@" + std::to_string(int64_t(c + 3.75 * kHour)) + "s";
  }
  fs::path script = fs::path(o.out_dir) / "mixed.host";
  std::ofstream(script) << host;
  o.host.script = script.string();
  o.card.events = parse_card_events(card);
  return o;
}

TEST(Soak, MixedFaultsForDays) {
  auto o = Mixed(SoakSeconds());
  const double d = o.duration_s;
  auto r = RunLong(o, d > kRestartAt ? size_t((d - kRestartAt) / (6 * kHour)) + 1 : 0);
  const auto& s = r.summary;
  // the sea state reaches the host nearly every interval, and most of it the card
  const double intervals = o.duration_s / 1200.0;
  EXPECT_GE(ResFrames(ReadFile(fs::path(o.out_dir) / "host.log")).size(), size_t(intervals * 0.8));
  EXPECT_GE(CardResLines(s["card"]), size_t(intervals * 0.7));
  fs::remove_all(o.out_dir);
}

}  // namespace
}  // namespace olas::scenario
