// The wave analysis in the simulated world: two hours of a directional sea from the west, no
// GPS, factory settings, checked against the true heave the sea produced.
#include <gtest/gtest.h>

#include <cstdio>

#include "scenario/wave_checks.h"
#include "sim/world/sea.h"

namespace olas::scenario {
namespace {

constexpr double kUnitStart = 30.0;  // the unit starts after the boot's GPS configuration wait
constexpr double kRate = 10.0;
constexpr double kIntervalS = 1200.0;  // factory interval: 20 minutes

RunOptions SeaRun(const fs::path& out, double hours = 2) {
  RunOptions o;
  o.out_dir = out.string();
  o.duration_s = hours * 3600.0 + 60.0;  // the last interval closes 30 s after the last hour
  o.start_utc = parse_utc(kDefaultStart);
  o.firmware_image = OLAS_FIRMWARE_IMAGE;
  o.quiet = true;
  o.seed = 1;
  o.gps.enabled = false;  // no receiver: intervals by sensor time
  o.card.enabled = false;
  o.clock_ppm = 0.0;
  o.sea = parse_sea("hs=2,tp=8,dir=270,spread=20", o.sea);
  parse_drift("0.2,90", o.sea);
  o.motion_unit.rate_hz = kRate;
  o.motion_unit.start_s = kUnitStart;
  return o;
}

// The reference of each interval, from the sea's true heave at the unit's sample instants, as
// the unit reports it (positive down). Without a valid time the firmware measures intervals with
// the sensor's stamps: the first starts at the first processed sample (the third), and each ends
// on the first sample more than 20 minutes after the previous end.
struct Reference {
  int waves;
  double h13_cm;
};
std::vector<Reference> References(const RunOptions& o, size_t intervals) {
  sim::SeaConfig cfg = o.sea;
  cfg.seed = o.seed;
  sim::Sea sea(cfg);
  std::vector<Reference> out;
  const int64_t per_interval = int64_t(kIntervalS * kRate) + 1;
  int64_t first = 2;
  for (size_t j = 0; j < intervals; ++j, first += per_interval) {
    std::vector<double> x;
    for (int64_t k = first; k < first + per_interval; ++k) {
      double down_cm = -sea.at(kUnitStart + double(k) / kRate).heave_m * 100.0;
      x.push_back(down_cm > 0 ? std::ceil(down_cm) : std::floor(down_cm));  // the firmware's rounding
    }
    auto w = WithinLimits(UpCrossingWaves(x, 1.0 / kRate));
    out.push_back(Reference{int(w.size()), H13(w)});
  }
  return out;
}

TEST(WaveAnalysis, TwoHoursOfAWesterlySeaWithoutGps) {
  fs::path out = FreshDir("waves_sea_method0");
  RunOptions o = SeaRun(out);
  auto r = run_simulation(o);
  ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
  auto frames = ResFrames(ReadFile(out / "host.log"));
  ASSERT_EQ(frames.size(), 6u);
  auto ref = References(o, frames.size());

  std::printf("\n  velocity method (factor 1), factory settings\n  interval  waves  ref   H1/3  ref     dir   spread\n");
  for (size_t j = 0; j < frames.size(); ++j) {
    const ResFrame& f = frames[j];
    EXPECT_TRUE(f.checksum_ok) << j;
    EXPECT_EQ(f.body.size(), 78u) << f.body;
    ASSERT_EQ(f.fields.size(), 19u);
    std::printf("  %8zu  %5d  %4d  %4d  %5.1f  %5.1f  %5.1f\n", j, f.Waves(), ref[j].waves, f.H13(), ref[j].h13_cm,
                f.Field(15) / 10.0, f.Field(16) / 10.0);
    EXPECT_NEAR(f.Waves(), ref[j].waves, 0.15 * ref[j].waves) << j;
    EXPECT_NEAR(f.H13(), ref[j].h13_cm, 0.12 * ref[j].h13_cm) << j;
    double dir = f.Field(15) / 10.0;
    EXPECT_LE(std::fabs(std::remainder(dir - 270.0, 360.0)), 10.0) << j;
    EXPECT_GE(f.Field(17), 95);  // heading valid in nearly every log (the unit settles 30 s after its start)
  }
  if (!HasFailure()) fs::remove_all(out);
}

TEST(WaveAnalysis, BothDirectionMethodsOnTheSameSea) {
  fs::path out = FreshDir("waves_sea_method2");
  RunOptions o = SeaRun(out, 3);
  StoreSettingBeforeBoot(o, 16, 2);  // direction method: both
  auto r = run_simulation(o);
  ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
  auto frames = ResFrames(ReadFile(out / "host.log"));
  ASSERT_EQ(frames.size(), 9u);
  std::printf("\n  both methods (factor 1)\n  interval  waves  dir(vel)  dir(drift)  spread(vel)  spread(drift)\n");
  for (size_t j = 0; j < frames.size(); ++j) {
    const ResFrame& f = frames[j];
    EXPECT_TRUE(f.checksum_ok);
    EXPECT_EQ(f.body.size(), 88u) << f.body;
    ASSERT_EQ(f.fields.size(), 21u);
    std::printf("  %8zu  %5d  %8.1f  %10.1f  %11.1f  %13.1f\n", j, f.Waves(), f.Field(15) / 10.0, f.Field(16) / 10.0,
                f.Field(17) / 10.0, f.Field(18) / 10.0);
    EXPECT_LE(std::fabs(std::remainder(f.Field(15) / 10.0 - 270.0, 360.0)), 10.0) << j;
    // the wave that crosses an interval's end keeps its landmarks together, so both methods
    // see the same sea: the drift method's mean stays with the velocity method's
    EXPECT_LE(std::fabs(std::remainder((f.Field(16) - f.Field(15)) / 10.0, 360.0)), 5.0) << j;
  }
  if (!HasFailure()) fs::remove_all(out);
}

}  // namespace
}  // namespace olas::scenario
