// Records across clock jumps, sensor gaps and restarts: a clock that jumps closes the interval in
// progress once and goes on from the new time; a gap never loses an interval end; a restart never
// leaves the card's files open; a format that cannot be done neither answers nor restarts; an
// absurd clock-rate measurement is not stored; a card pulled out while nothing is written is
// noticed and mounted again; the clock loses nothing at midnight.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>

#include "scenario/wave_checks.h"
#include "sensor_olas_sim/gps_setup.h"
#include "sensor_olas_sim/settings_preset.h"

namespace olas::scenario {
namespace {

std::string WriteText(const RunOptions& o, const std::string& name, const std::string& text) {
  fs::path p = fs::path(o.out_dir) / name;
  std::ofstream(p) << text;
  return p.string();
}

// The card's RES lines (the interval's start hour and minute, its waves), in order.
std::vector<std::pair<std::string, int>> CardRecords(const RunOptions& o) {
  std::vector<std::pair<std::string, int>> out;
  std::set<fs::path> days;  // YYMMDD: in date order
  for (const auto& day : fs::directory_iterator(fs::path(o.out_dir) / "card"))
    if (day.is_directory()) days.insert(day.path());
  for (const fs::path& day : days) {
    for (const auto& f : fs::directory_iterator(day)) {
      if (f.path().extension() != ".res") continue;
      std::istringstream in(ReadFile(f.path()));
      for (std::string l; std::getline(in, l);)
        if (l.size() > 20) out.push_back({l.substr(9, 2) + ":" + l.substr(12, 2), std::atoi(l.substr(15, 5).c_str())});
    }
  }
  return out;
}

TEST(ClockJumps, TheIntervalInProgressClosesOnceAndRecordsGoOnFromTheNewTime) {
  for (const char* jump : {"jump=1h@50m", "jump=-1h@50m", "jump=1d@90m"}) {
    SCOPED_TRACE(jump);
    RunOptions o = QuietRun("jump", 4 * 3600.0);
    o.gps.receiver = parse_gps(jump, o.gps.receiver);
    o.settings.push_back(parse_setting("choras_sincronizacion_gps=1"));
    auto r = run_simulation(o);
    ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
    EXPECT_TRUE(r.summary["resets"].empty()) << r.summary["resets"].dump();
    // every record has waves (no interval the jump skipped is reported), none holds more than one
    // interval's worth (about 165 in 20 minutes of this sea), and the host got each of them
    auto frames = ResFrames(ReadFile(fs::path(o.out_dir) / "host.log"));
    auto card = CardRecords(o);
    EXPECT_GE(frames.size(), 12u);
    EXPECT_EQ(card.size(), frames.size());
    for (const ResFrame& f : frames) {
      EXPECT_GT(f.Waves(), 0) << f.body;
      EXPECT_LT(f.Waves(), 220) << f.body;
    }
    // the clock rate stays the measured one: the jump is no measurement of the oscillator
    for (const auto& fix : r.summary["gps"]["fixes"]) {
      EXPECT_GT(fix["clock_rate"].get<int>(), 47500) << fix.dump();
      EXPECT_LT(fix["clock_rate"].get<int>(), 48500) << fix.dump();
    }
    const std::string flash = ReadFile(fs::path(o.out_dir) / "flash.bin");
    const int stored_rate = uint8_t(flash.at(29)) << 8 | uint8_t(flash.at(30));
    EXPECT_GT(stored_rate, 47500);
    EXPECT_LT(stored_rate, 48500);
    if (!HasFailure()) fs::remove_all(o.out_dir);
  }
}

TEST(ClockJumps, ASensorGapOverTheLastBoundaryOfTheDayLosesNoInterval) {
  // a minute past the last boundary, so that the 01:20 interval's end is inside the run
  RunOptions o = QuietRun("midnight_gap", 2 * 3600.0 + 60.0);
  o.start_utc = parse_utc("2026-12-07T23:30:00Z");
  o.clock_ppm = 0;
  o.settings.push_back(parse_setting("CTE_INTERVALO_PROMEDIO=10"));
  o.motion_unit.silences.push_back({1780.0, 30.0});  // 23:59:40 to 00:00:10
  auto r = run_simulation(o);
  ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
  // every interval of the two hours, from the first fix's on: 23:30 ... 01:20
  std::vector<std::string> starts;
  for (const auto& [start, waves] : CardRecords(o)) starts.push_back(start);
  const std::vector<std::string> want = {"23:30", "23:40", "23:50", "00:00", "00:10", "00:20",
                                         "00:30", "00:40", "00:50", "01:00", "01:10", "01:20"};
  EXPECT_EQ(starts, want);
  // the 23:50 interval closes at the first sample after the gap: late by the gap at most
  for (const auto& i : r.summary["intervals"]) {
    if (i["start"] != "2026-12-07T23:50:00Z") continue;
    ASSERT_TRUE(i["truth"].is_object());
    EXPECT_LE(i["truth"]["to_s"].get<double>(), 1790.0 + 30.0 + 1.0);
  }
  if (!HasFailure()) fs::remove_all(o.out_dir);
}

TEST(Restarts, EveryDeliberateRestartLeavesTheCardClean) {
  if (std::system("command -v fsck.fat >/dev/null 2>&1") != 0) GTEST_SKIP() << "fsck.fat missing";
  // a restart in the middle of a file, then 20 in a row; the run ends during the last boot's
  // wait for a GPS time, before any file is open again
  RunOptions o = QuietRun("restarts", 0);
  o.card.size_bytes = 64ull << 20;
  std::ostringstream script;
  const double first = 30 * 60 + 30;  // 14:50:30, ten minutes into the 14:40 files
  script << first << " $ZRX03,1,2\n";
  for (int i = 1; i <= 20; ++i) script << first + 60.0 * i << " $ZRX03,1,2\n";
  o.host.script = WriteText(o, "restarts.host", script.str());
  o.duration_s = first + 60.0 * 20 + 12.0;
  auto r = run_simulation(o);
  ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
  EXPECT_EQ(r.summary["resets"].size(), 21u);
  EXPECT_EQ(FsckComplaints(fs::path(o.out_dir) / "card.img"), "");
  // the file open at the first restart holds its records up to the restart, not only up to its
  // last minute sync (14:50:00)
  std::string raw = ReadFile(fs::path(o.out_dir) / "card" / "261207" / "1440.raw");
  ASSERT_GT(raw.size(), 65u);
  std::string last = raw.substr(raw.size() - 65, 65);
  EXPECT_GE(last.substr(9, 8), "14,50,29") << last;
  if (!HasFailure()) fs::remove_all(o.out_dir);
}

TEST(Restarts, AFormatThatCannotBeDoneNeitherAnswersNorRestarts) {
  for (const char* card : {"none", "4M"}) {
    SCOPED_TRACE(card);
    RunOptions o = QuietRun(std::string("format_") + card, 5 * 60.0);
    if (std::string(card) == "none") {
      o.card.enabled = false;
    } else {
      o.card.image = (fs::path(o.out_dir) / "small.img").string();
      std::ofstream(o.card.image, std::ios::binary).write(std::string(4 << 20, '\0').data(), 4 << 20);
    }
    o.host.script = WriteText(o, "format.host", "60 $ZRX03,1,13\n120 $ZRX03,1,14\n180 $ZRX03,1,5\n");
    auto r = run_simulation(o);
    ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
    EXPECT_TRUE(r.summary["resets"].empty()) << r.summary["resets"].dump();
    EXPECT_EQ(r.summary["boots"], 1);
    // only the start count's answer: the formats got none, and the count is the one boot's
    const std::string exchanges = ReadFile(fs::path(o.out_dir) / "host-exchanges.log");
    EXPECT_EQ(Occurrences(exchanges, "< $OLA,"), 1u) << exchanges;
    EXPECT_NE(exchanges.find("< $OLA,01,01,05,00001*"), std::string::npos) << exchanges;
    if (!HasFailure()) fs::remove_all(o.out_dir);
  }
}

TEST(CardPresence, ACardPulledJustAfterAMinuteSyncIsNoticedAndMountedAgain) {
  RunOptions o = QuietRun("card_pulled", 20 * 60.0);
  o.card.size_bytes = 64ull << 20;
  o.card.events = parse_card_events("remove@5m,insert@8m");
  auto r = run_simulation(o);
  ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
  const std::string console = ReadFile(fs::path(o.out_dir) / "console.log");
  EXPECT_GE(Occurrences(console, "SD inicializada"), 2u);
  // the files opened after it came back hold later records
  bool later = false;
  for (const auto& f : fs::directory_iterator(fs::path(o.out_dir) / "card" / "261207")) {
    const std::string stem = f.path().stem().string();
    if (f.path().extension() == ".raw" && stem >= "1428" && fs::file_size(f.path()) > 65 * 600) later = true;
  }
  EXPECT_TRUE(later);
  if (!HasFailure()) fs::remove_all(o.out_dir);
}

TEST(ClockJumps, TheClockLosesNothingAtMidnight) {
  // hourly fixes on an exact oscillator: the clock's error grows by the same amount every hour
  // (the tick's 48001 cycles), the day change adds nothing to it
  RunOptions o = QuietRun("midnight_clock", 4 * 3600.0);
  o.start_utc = parse_utc("2026-12-07T21:30:00Z");
  o.clock_ppm = 0;
  o.card.size_bytes = 64ull << 20;
  o.settings.push_back(parse_setting("choras_sincronizacion_gps=1"));
  auto r = run_simulation(o);
  ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
  std::vector<double> errors;
  for (const auto& fix : r.summary["gps"]["fixes"])
    if (!fix["error_s"].is_null()) errors.push_back(fix["error_s"].get<double>());
  ASSERT_GE(errors.size(), 4u);
  for (size_t i = 2; i < errors.size(); ++i)
    EXPECT_NEAR(errors[i] - errors[i - 1], errors[1] - errors[0], 0.002) << "fix " << i;
  if (!HasFailure()) fs::remove_all(o.out_dir);
}

}  // namespace
}  // namespace olas::scenario
