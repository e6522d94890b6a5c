// Card logging over hours at sea with the GPS: what lands on the card agrees with what went to the
// host, the volume stays clean for fsck.fat, and card trouble never stops the sensor.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "scenario/wave_checks.h"
#include "sensor_olas_sim/run.h"

namespace {
namespace fs = std::filesystem;
using olas::scenario::FsckComplaints;
using olas::scenario::Occurrences;
using olas::scenario::QuietRun;
using olas::scenario::ReadFile;

std::vector<std::string> lines_of(const fs::path& p) {
  std::vector<std::string> out;
  std::istringstream in(ReadFile(p));
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

olas::RunOptions card_run(const std::string& name, double seconds) {
  olas::RunOptions o = QuietRun("card_" + name, seconds);
  o.card.size_bytes = 256ull << 20;  // small enough to copy the partition out for fsck.fat
  return o;
}

TEST(CardLogging, ThreeHoursAtSeaAgreeWithTheHostAndLeaveACleanVolume) {
  if (std::system("command -v fsck.fat >/dev/null 2>&1") != 0) GTEST_SKIP() << "fsck.fat missing";
  auto o = card_run("3h", 3 * 3600.0);
  auto r = olas::run_simulation(o);
  ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
  EXPECT_TRUE(r.summary["resets"].empty());
  const fs::path day = fs::path(o.out_dir) / "card" / "261207";
  ASSERT_TRUE(fs::is_directory(day));

  std::vector<fs::path> raw, wav, res;
  for (const auto& e : fs::directory_iterator(day)) {
    auto ext = e.path().extension();
    (ext == ".raw" ? raw : ext == ".wav" ? wav : res).push_back(e.path());
  }
  std::sort(raw.begin(), raw.end());
  std::sort(wav.begin(), wav.end());
  ASSERT_EQ(res.size(), 1u);
  ASSERT_GE(wav.size(), 9u);  // one per 20-minute interval

  // point records: one 65-character line (CR LF included) per processed sample
  size_t points = 0;
  for (const auto& f : raw)
    for (const auto& l : lines_of(f)) {
      ASSERT_EQ(l.size() + 1, 65u) << f << ": " << l;
      ++points;
    }
  EXPECT_GT(points, size_t(3 * 3600 * 10 * 0.9));

  // one RES line per interval, as many as "RES," frames reached the host
  std::string host = ReadFile(fs::path(o.out_dir) / "host.log");
  auto res_lines = lines_of(res[0]);
  EXPECT_EQ(res_lines.size(), Occurrences(host, "$RES,"));
  EXPECT_GE(res_lines.size(), 8u);

  // the waves of each closed interval's WAV file are the wave count of its RES line
  std::map<std::string, int> waves_by_start;  // "HHMM" -> count
  for (const auto& l : res_lines) {
    std::vector<std::string> f;
    std::stringstream ss(l);
    for (std::string x; std::getline(ss, x, ',');) f.push_back(x);
    ASSERT_GE(f.size(), 6u) << l;
    waves_by_start[f[3] + f[4]] = std::atoi(f[5].substr(0, 5).c_str());
  }
  size_t matched = 0;
  for (const auto& f : wav) {
    std::string stem = f.stem().string();
    auto it = waves_by_start.find(stem);
    if (it == waves_by_start.end()) continue;  // the interval still open at the end of the run
    EXPECT_EQ(int(lines_of(f).size()), it->second) << f;
    ++matched;
  }
  EXPECT_GE(matched, res_lines.size() - 1);

  // Card I/O fit for a battery: record blocks written about once, next to nothing read back.
  const auto& c = r.summary["card"]["counters"];
  EXPECT_LE(c["blocks_read_per_s"].get<double>(), 0.5) << c.dump();
  EXPECT_LE(c["blocks_written_per_s"].get<double>(), 2.5) << c.dump();

  // The run stops the board as a power cut would: the clusters the two open files took since their
  // last minute sync (at most a few) belong to no entry yet. Anything else is damage.
  const std::string report = FsckComplaints(fs::path(o.out_dir) / "card.img");
  {
    std::stringstream ss(report);
    for (std::string l; std::getline(ss, l);) {
      int reclaimed = 0;
      if (l.empty() || l.rfind("fsck.fat ", 0) == 0 || l == "Leaving filesystem unchanged." ||
          l.find(" files, ") != std::string::npos)
        continue;
      if (std::sscanf(l.c_str(), "Reclaimed %d unused cluster", &reclaimed) == 1 && reclaimed <= 6) continue;
      ADD_FAILURE() << "fsck.fat: " << l << "\n" << report;
    }
  }
  fs::remove_all(o.out_dir);
}

TEST(CardLogging, RemovalReinsertionAndFailingWritesNeverStopTheSensor) {
  auto o = card_run("events", 2 * 3600.0);
  o.card.events = olas::parse_card_events("remove@30m,insert@45m,fail-writes@90m");
  auto r = olas::run_simulation(o);
  ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
  EXPECT_NEAR(r.summary["virtual_s"].get<double>(), 7200.0, 0.1);
  EXPECT_TRUE(r.summary["resets"].empty()) << r.summary["resets"].dump();
  // the sea state still reaches the host every interval, card or no card
  std::string host = ReadFile(fs::path(o.out_dir) / "host.log");
  EXPECT_GE(Occurrences(host, "$RES,"), 5u);
  // the lost card is noticed, and a card put back receives the records again in new files
  std::string console = ReadFile(fs::path(o.out_dir) / "console.log");
  EXPECT_NE(console.find("SD no presente"), std::string::npos);
  const fs::path day = fs::path(o.out_dir) / "card" / "261207";
  ASSERT_TRUE(fs::is_directory(day));
  EXPECT_GE(lines_of(day / "1420.res").size(), 2u);
  bool after_insert = false;
  for (const auto& e : fs::directory_iterator(day)) {
    std::string stem = e.path().stem().string();
    if (e.path().extension() == ".raw" && stem >= "1505" && stem < "1550" && fs::file_size(e.path()) > 0)
      after_insert = true;
  }
  EXPECT_TRUE(after_insert);
  fs::remove_all(o.out_dir);
}

}  // namespace
