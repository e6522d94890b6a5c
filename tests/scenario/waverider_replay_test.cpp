// A real sea: the 48 half-hour records of a Datawell Waverider (tests/data/waverider, 1 July
// 2005) turned into one sbgECom stream and replayed to the firmware, checked against the buoy
// maker's own zero-up-crossing results (2005-07.hiw).
//
// The stream: every record's samples at 1.28 Hz (0.78125 s) as EULER (fixed heading), EKF_NAV
// (north and east velocities from the displacements) and SHIP_MOTION (heave in metres); a
// 95.78 s silence between records, so that each record is one 30-minute interval of the firmware
// (measured by sensor time, no GPS) and the wave that would straddle two records lasts longer
// than the 90 s limit and is discarded, as the buoy's own analysis leaves it out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "scenario/sample_stream.h"
#include "scenario/wave_checks.h"

namespace olas::scenario {
namespace {

constexpr double kDt = 0.78125;
constexpr uint32_t kDtUs = 781250;
constexpr uint32_t kRecordPeriodUs = 2304u * kDtUs + 95000000u;  // 30 min of data + silence
constexpr double kUnitStart = 30.0;  // after the boot's GPS configuration wait
constexpr size_t kRecords = 48;

struct Record {
  std::string name;
  std::vector<int> heave, north, west;  // cm
};

struct Maker {
  double hmax, h13;
  int waves;
};

// tests/data/waverider beside this file's folder.
fs::path DataDir() { return fs::path(__FILE__).parent_path().parent_path() / "data" / "waverider"; }

std::vector<Record> LoadRecords() {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(DataDir()))
    if (e.path().extension() == ".raw") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::vector<Record> out;
  for (const fs::path& p : files) {
    Record r;
    r.name = p.stem().string();
    std::ifstream in(p);
    for (std::string line; std::getline(in, line);) {
      int status, h, n, w;
      if (std::sscanf(line.c_str(), "%d , %d , %d , %d", &status, &h, &n, &w) != 4) continue;
      r.heave.push_back(h);
      r.north.push_back(n);
      r.west.push_back(w);
    }
    out.push_back(r);
  }
  return out;
}

std::vector<Maker> LoadMaker() {
  std::vector<Maker> out;
  std::ifstream in(DataDir() / "2005-07.hiw");
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    for (std::string item; std::getline(ss, item, ',');) f.push_back(item);
    if (f.size() < 12) continue;
    out.push_back(Maker{std::atof(f[2].c_str()), std::atof(f[6].c_str()), std::atoi(f[11].c_str())});
  }
  return out;
}

// Velocity (m/s) from displacements (cm) by central differences, one-sided at the ends.
float Rate(const std::vector<int>& d, size_t i) {
  size_t a = i == 0 ? 0 : i - 1, b = i + 1 < d.size() ? i + 1 : i;
  return float(double(d[b] - d[a]) / (double(b - a) * kDt) / 100.0);
}

// heave_sign +1 keeps the buoy's positive-up heave, -1 flips it to the unit's positive down.
fs::path WriteStream(const std::vector<Record>& records, int heave_sign, const fs::path& dir) {
  std::vector<uint8_t> bytes;
  uint32_t t0 = 4000000000u;  // the unit's clock wraps within the first record
  for (size_t k = 0; k < records.size(); ++k) {
    const Record& r = records[k];
    for (size_t i = 0; i < r.heave.size(); ++i) {
      AppendSample(bytes, t0 + uint32_t(k) * kRecordPeriodUs + uint32_t(i) * kDtUs, heave_sign * r.heave[i],
                   Rate(r.north, i), -Rate(r.west, i));
    }
  }
  // three samples after the last silence close the last interval
  for (uint32_t i = 0; i < 3; ++i) AppendSample(bytes, t0 + uint32_t(records.size()) * kRecordPeriodUs + i * kDtUs, 1, 0.1f, 0.1f);
  fs::path p = dir / "waverider.sbg";
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return p;
}

struct Replay {
  std::vector<ResFrame> frames;
  fs::path dir;
};

Replay RunReplay(const std::vector<Record>& records, int heave_sign, const std::string& name) {
  fs::path out = FreshDir(name);
  RunOptions o;
  o.out_dir = out.string();
  o.start_utc = parse_utc(kDefaultStart);
  o.firmware_image = OLAS_FIRMWARE_IMAGE;
  o.quiet = true;
  o.gps.enabled = false;  // no receiver: intervals by sensor time
  o.card.enabled = false;
  o.clock_ppm = 0.0;
  o.motion_unit.start_s = kUnitStart;
  o.motion_unit.replay_path = WriteStream(records, heave_sign, out).string();
  o.duration_s = kUnitStart + double(records.size() + 1) * kRecordPeriodUs * 1e-6;
  StoreSettingBeforeBoot(o, 7, 30);  // 30-minute averaging interval
  auto r = run_simulation(o);
  EXPECT_EQ(r.exit_code, 0) << r.summary.dump();
  return Replay{ResFrames(ReadFile(out / "host.log")), out};
}

class WaveriderReplay : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    records_ = LoadRecords();
    maker_ = LoadMaker();
  }
  static std::vector<Record> records_;
  static std::vector<Maker> maker_;
};
std::vector<Record> WaveriderReplay::records_;
std::vector<Maker> WaveriderReplay::maker_;

TEST_F(WaveriderReplay, EveryIntervalMatchesTheBuoysOwnAnalysis) {
  ASSERT_EQ(records_.size(), kRecords);
  ASSERT_EQ(maker_.size(), kRecords);
  // the reference analysis reproduces the maker's Hmax on every record
  for (size_t k = 0; k < kRecords; ++k) {
    std::vector<double> x(records_[k].heave.begin(), records_[k].heave.end());
    ASSERT_EQ(Hmax(UpCrossingWaves(x, kDt)), maker_[k].hmax) << records_[k].name;
  }

  Replay up = RunReplay(records_, +1, "waverider_up");
  Replay down = RunReplay(records_, -1, "waverider_down");
  ASSERT_EQ(up.frames.size(), kRecords);
  ASSERT_EQ(down.frames.size(), kRecords);

  std::printf("\n  record        maker: Hmax  H1/3  N  | firmware, heave up: Hmax  H1/3  N  Tmax  dir | longest "
              "| heave down: Hmax  H1/3  N  dir\n");
  double sum_up = 0, sum_down = 0, sum_maker = 0, n_up = 0, n_down = 0, n_maker = 0, hmax_moved = 0;
  for (size_t k = 0; k < kRecords; ++k) {
    const ResFrame& f = up.frames[k];
    const ResFrame& g = down.frames[k];
    const Maker& m = maker_[k];
    EXPECT_TRUE(f.checksum_ok && g.checksum_ok);
    std::vector<double> x(records_[k].heave.begin(), records_[k].heave.end());
    const std::vector<Wave> within = WithinLimits(UpCrossingWaves(x, kDt));
    double longest = 0;
    for (const Wave& w : within) longest = std::max(longest, w.period_s);
    std::printf("  %s  %4.0f %5.1f %3d  |  %4d %4d %3d %5.1f %5.1f  |  %5.1f  |  %4d %4d %3d %5.1f\n",
                records_[k].name.c_str(), m.hmax, m.h13, m.waves, f.Hmax(), f.H13(), f.Waves(), f.Field(10) / 10.0,
                f.Field(15) / 10.0, longest, g.Hmax(), g.H13(), g.Waves(), g.Field(15) / 10.0);
    sum_up += f.H13();
    sum_down += g.H13();
    sum_maker += m.h13;
    n_up += f.Waves();
    n_down += g.Waves();
    n_maker += m.waves;
    hmax_moved += std::fabs(double(g.Hmax() - f.Hmax()));

    // Hmax: the same waves, the same whole centimetres.
    EXPECT_NEAR(f.Hmax(), m.hmax, 1.0) << records_[k].name;
    // Tmax: no wave spans a lost stretch of the record, so none is longer than the record's own.
    EXPECT_LE(f.Field(10), int(longest * 10.0 + 1e-6)) << records_[k].name;
    // Counts: the firmware drops waves shorter than 3 s, which the maker keeps (7 to 25 per
    // record here), so it is compared with the record's up-crossing waves within 3..90 s. It
    // misses, at 1.28 Hz, the waves whose first positive sample is already their crest, since that
    // crest is met in the window that ends the previous wave and the next rise then moves the
    // start on (about 10 %).
    const double within_limits = double(within.size());
    EXPECT_LE(f.Waves(), m.waves) << records_[k].name;
    EXPECT_LE(f.Waves(), within_limits) << records_[k].name;
    EXPECT_GE(f.Waves(), 0.78 * within_limits) << records_[k].name;
    // H1/3: the missed waves are mostly small, so the highest third is 2 to 7 % higher here.
    EXPECT_GE(f.H13(), 0.98 * m.h13) << records_[k].name;
    EXPECT_LE(f.H13(), 1.08 * m.h13) << records_[k].name;
  }
  std::printf("  mean H1/3: maker %.1f, firmware heave up %.1f, heave down %.1f\n", sum_maker / kRecords,
              sum_up / kRecords, sum_down / kRecords);
  std::printf("  waves: maker %.0f, firmware heave up %.0f, heave down %.0f; mean |Hmax change| on flipping %.1f cm\n",
              n_maker, n_up, n_down, hmax_moved / kRecords);
  if (!HasFailure()) {
    fs::remove_all(up.dir);  // 25 MB each; kept when something failed
    fs::remove_all(down.dir);
  }
}

}  // namespace
}  // namespace olas::scenario
