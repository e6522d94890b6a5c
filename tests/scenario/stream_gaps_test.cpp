// Gaps in the sample stream and links that keep the loop busy. A silence of the unit ends the
// wave it falls in (discarded and counted), and no wave is ever built across it; a host line
// that chatters or polls, or a receiver that fills its line, costs the sensor no byte; without a
// receiver the loop pays for one configuration per time request, not one per frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>

#include "scenario/wave_checks.h"
#include "sim/world/sea.h"

namespace olas::scenario {
namespace {

constexpr double kMinute = 60.0;

RunOptions BusyRun(const std::string& name, double seconds) {
  RunOptions o = QuietRun("busy_" + name, seconds);
  o.card.enabled = false;
  return o;
}

std::string WriteFile(const RunOptions& o, const std::string& name, const std::string& text) {
  fs::path p = fs::path(o.out_dir) / name;
  std::ofstream(p) << text;
  return p.string();
}

// A setup that gives the run a host script of `count` lines, one every `step_s` seconds from
// minute 10 on.
std::function<void(RunOptions&)> HostScript(const std::string& file, int count, double step_s,
                                            const std::string& line) {
  return [=](RunOptions& o) {
    std::ostringstream s;
    for (int i = 0; i < count; ++i) s << 10 * kMinute + step_s * i << " " << line << "\n";
    o.host.script = WriteFile(o, file, s.str());
  };
}

// The longest up-crossing wave of the sea's true heave at the unit's sample instants (positive
// down, whole cm as the firmware rounds it) within the firmware's 3..90 s limits, in tenths.
int LongestTrueWave(const RunOptions& o) {
  sim::SeaConfig cfg = o.sea;
  cfg.seed = o.seed;
  sim::Sea sea(cfg);
  std::vector<double> x;
  for (double t = o.motion_unit.start_s; t < o.duration_s; t += 1.0 / o.motion_unit.rate_hz) {
    double cm = -sea.at(t).heave_m * 100.0;
    x.push_back(cm > 0 ? std::ceil(cm) : std::floor(cm));
  }
  double longest = 0;
  for (const Wave& w : WithinLimits(UpCrossingWaves(x, 1.0 / o.motion_unit.rate_hz)))
    longest = std::max(longest, w.period_s);
  return int(longest * 10.0 + 1e-6);
}

TEST(StreamGaps, SilencesAndBusyLinksNeverBuildAWaveAcrossAGapNorCostTheSensorAByte) {
  struct Case {
    std::string name;
    std::function<void(RunOptions&)> setup;
    size_t gap_discards;  // waves discarded for a gap in the samples
  };
  const std::vector<Case> cases = {
      // the unit is silent for 5 s in the middle of a wave
      {"silence", [](RunOptions& o) { o.motion_unit.silences.push_back({10 * kMinute + 3.0, 5.0}); }, 1},
      // a host line that sends one byte every 50 ms for a minute
      {"chatter", HostScript("chatter.host", 1200, 0.05, "raw 7E"), 0},
      // a host that polls the status ten times a second for a minute
      {"polling", HostScript("polling.host", 600, 0.1, "$ZRX03,1,8"), 0},
      // a receiver whose saved configuration fills its line: 1100 bytes an epoch at 9600 baud,
      // never a fix, so the firmware keeps it on and reads it all the run
      {"gps_line_full",
       [](RunOptions& o) {
         std::string epoch = "$GPRMC,142000.00,V,,,,,,,071226,,,N*7B\r\n";
         while (epoch.size() < 1100) epoch += "$GPGSV,4,1,14,02,45,120,40,05,30,200,38,07,60,310,42,09,12,040,30*7F\r\n";
         std::string log;
         for (int k = 0; k < 1800; ++k) log += epoch;
         o.gps.receiver.replay_path = WriteFile(o, "full.nmea", log);
       },
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunOptions o = BusyRun(c.name, 25 * kMinute);
    c.setup(o);
    auto r = run_simulation(o);
    ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
    EXPECT_EQ(r.summary["dropped"]["sensor"], 0);
    EXPECT_TRUE(r.summary["resets"].empty());
    const std::string console = ReadFile(fs::path(o.out_dir) / "console.log");
    EXPECT_EQ(Occurrences(console, "Ola descartada por hueco"), c.gap_discards);
    // the first interval closes at 14:40 with its waves, none longer than the sea's longest
    auto frames = ResFrames(ReadFile(fs::path(o.out_dir) / "host.log"));
    ASSERT_GE(frames.size(), 1u);
    EXPECT_GT(frames[0].Waves(), 100);
    EXPECT_LE(frames[0].Field(10), LongestTrueWave(o)) << frames[0].body;
    if (c.name == "polling") {
      EXPECT_GE(r.summary["host"]["answers"].get<int>(), 540);
    }
    if (!HasFailure()) fs::remove_all(o.out_dir);
  }
}

// host-exchanges.log: the time of each frame sent and of the answer that follows it.
std::vector<std::pair<double, double>> AnswerTimes(const std::string& log) {
  std::vector<std::pair<double, double>> out;
  std::istringstream in(log);
  double sent = -1;
  for (std::string line; std::getline(in, line);) {
    int h, m;
    double s;
    char dir;
    if (std::sscanf(line.c_str(), "%d:%d:%lf %c", &h, &m, &s, &dir) != 4) continue;
    const double t = h * 3600.0 + m * 60.0 + s;
    if (dir == '>') sent = t;
    if (dir == '<' && sent >= 0 && line.find("$OLA,") != std::string::npos) {
      out.push_back({sent, t});
      sent = -1;
    }
  }
  return out;
}

TEST(StreamGaps, WithoutAReceiverOneConfigurationPerTimeRequestAndEveryAnswerInASecond) {
  RunOptions o = BusyRun("no_receiver", 6 * 3600.0);
  o.gps.enabled = false;
  std::ostringstream s;
  // off the hour: a frame answered while the hourly request powers the receiver up switches it
  // off and on again, a second announcement of the same configuration
  for (int i = 1; i < 36; ++i) s << i * 10 * kMinute - 5 * kMinute << " $ZRX03,1,8\n";
  o.host.script = WriteFile(o, "status.host", s.str());
  auto r = run_simulation(o);
  ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
  EXPECT_TRUE(r.summary["resets"].empty());
  const std::string console = ReadFile(fs::path(o.out_dir) / "console.log");
  // the boot's request and the one four hours on the firmware's clock; each holds the loop for
  // the 20 silent attempts of its first command (4 s), and only those lose sensor bytes
  EXPECT_EQ(Occurrences(console, "Configurando tramas GPS"), 2u);
  const double config_bytes = 20 * 0.2 * 177 * 10;  // 4 s of the unit at 10 samples/s
  EXPECT_LE(r.summary["dropped"]["sensor"].get<double>(), 2 * config_bytes);

  const auto answers = AnswerTimes(ReadFile(fs::path(o.out_dir) / "host-exchanges.log"));
  ASSERT_EQ(answers.size(), 35u);
  size_t late = 0;
  for (auto [sent, got] : answers) {
    EXPECT_LT(got - sent, 5.0) << "sent at " << sent;
    late += got - sent >= 1.0;
  }
  EXPECT_LE(late, 1u);  // a command that fell into the second configuration
  // and the intervals go on with their waves
  auto frames = ResFrames(ReadFile(fs::path(o.out_dir) / "host.log"));
  EXPECT_GE(frames.size(), 17u);
  for (const ResFrame& f : frames) EXPECT_GT(f.Waves(), 100) << f.body;
  if (!HasFailure()) fs::remove_all(o.out_dir);
}

}  // namespace
}  // namespace olas::scenario
