// The spectral analysis of olas_records on signals whose answer is known: a sum of waves of known
// amplitude, frequency and direction, stretches cut by gaps, and RAW points cut into intervals.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "olas_records/spectrum.h"
#include "olas_records/spectrum_intervals.h"

namespace olas_records {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = 10;
constexpr size_t kSegment = 2560;  // 256 s

struct Wave {
  double amp_m, freq_hz, from_deg, phase;
};

// Elevation a cos(psi); the water moves toward where the wave goes, in phase with the elevation.
Stretch sea(const std::vector<Wave>& waves, size_t n, size_t first = 0) {
  Stretch s;
  for (size_t i = first; i < first + n; ++i) {
    s.elevation_m.push_back(0), s.north_mps.push_back(0.3), s.east_mps.push_back(-0.1);  // a steady drift
    for (const Wave& w : waves) {
      double c = std::cos(w.phase - 2 * kPi * w.freq_hz * double(i) / kRate), u = w.amp_m * 2 * kPi * w.freq_hz * c;
      s.elevation_m.back() += w.amp_m * c;
      s.north_mps.back() -= u * std::cos(w.from_deg * kPi / 180);
      s.east_mps.back() -= u * std::sin(w.from_deg * kPi / 180);
    }
  }
  return s;
}

double angle_diff(double a, double b) { return std::remainder(a - b, 360.0); }

TEST(Spectrum, RecoversTheAmplitudesFrequenciesAndDirectionsOfASumOfWaves) {
  const std::vector<Wave> waves = {{0.8, 0.0812, 30, 0.3}, {0.5, 0.153, 200, 2.0}, {0.3, 0.247, 300, 4.1}};
  Spectrum s = welch({sea(waves, 36000)}, kRate, kSegment);
  ASSERT_EQ(s.segments, 28u);  // one hour, half-overlapping, both ends reached
  double m0 = 0, m1 = 0, m2 = 0;
  std::complex<double> mean_dir;
  for (const Wave& w : waves) {
    double e = w.amp_m * w.amp_m / 2, got = 0;
    m0 += e, m1 += e * w.freq_hz, m2 += e * w.freq_hz * w.freq_hz;
    mean_dir += e * std::polar(1.0, w.from_deg * kPi / 180);
    size_t k = size_t(std::lround(w.freq_hz / s.df_hz));
    for (size_t j = k - 3; j <= k + 3; ++j) got += s.density_m2hz[j] * s.df_hz;
    EXPECT_NEAR(got, e, 0.01 * e) << w.freq_hz;
    EXPECT_NEAR(angle_diff(std::atan2(s.b1[k], s.a1[k]) * 180 / kPi, w.from_deg), 0, 0.5) << w.freq_hz;
    EXPECT_NEAR(s.a2[k], std::cos(2 * w.from_deg * kPi / 180), 0.01) << w.freq_hz;
    EXPECT_NEAR(s.b2[k], std::sin(2 * w.from_deg * kPi / 180), 0.01) << w.freq_hz;
  }
  std::optional<BulkFigures> b = bulk_figures(s, 0.03, 1.0);
  ASSERT_TRUE(b);
  EXPECT_NEAR(b->hm0_m, 4 * std::sqrt(m0), 0.005 * 4 * std::sqrt(m0));
  EXPECT_NEAR(1 / b->tp_s, 0.0812, s.df_hz / 4);  // the parabola finds it between bins
  EXPECT_NEAR(b->tm01_s, m0 / m1, 0.01 * m0 / m1);
  EXPECT_NEAR(b->tm02_s, std::sqrt(m0 / m2), 0.01 * std::sqrt(m0 / m2));
  EXPECT_NEAR(angle_diff(b->dm_deg, std::arg(mean_dir) * 180 / kPi), 0, 0.5);
  EXPECT_NEAR(angle_diff(b->dp_deg, 30), 0, 0.5);
  EXPECT_NEAR(b->spread_deg, std::sqrt(2 * (1 - std::abs(mean_dir) / m0)) * 180 / kPi, 0.5);
}

TEST(Spectrum, SegmentsNeverBridgeAGapAndShortStretchesAddNothing) {
  const std::vector<Wave> one = {{1.0, 0.1, 90, 0}};
  // Two stretches of one segment each, the second 1000.05 s after the first: not one record.
  Spectrum s = welch({sea(one, kSegment), sea(one, kSegment, kSegment + 10000)}, kRate, kSegment);
  EXPECT_EQ(s.segments, 2u);
  EXPECT_DOUBLE_EQ(s.edf, 4.0);  // independent segments
  // Half-overlapping Hann segments are not independent: 2 K / (1 + 2 (K - 1) / K rho^2), rho = 1/6.
  Spectrum o = welch({sea(one, kSegment * 3 / 2)}, kRate, kSegment);
  EXPECT_EQ(o.segments, 2u);
  EXPECT_NEAR(o.edf, 4 / (1 + 1.0 / 36), 1e-3);
  Spectrum none = welch({sea(one, kSegment - 1), sea(one, 100)}, kRate, kSegment);
  EXPECT_EQ(none.segments, 0u);
  EXPECT_FALSE(bulk_figures(none, 0.03, 1.0));
}

TEST(SpectrumIntervals, PointsAreCutAtGapsAndIntervalBoundaries) {
  const int64_t t0 = 1796652000;  // 2026-12-07T14:00:00Z
  std::vector<RawPoint> raw;
  auto add = [&](int64_t from, int64_t to, int per_second) {
    for (int64_t t = from; t < to; ++t)
      for (int i = 0; i < per_second; ++i) {
        raw.emplace_back();
        raw.back().t = t, raw.back().heave_cm = 12;  // positive down
        raw.back().vel_north_mps = 0.5, raw.back().vel_east_mps = -0.5;
      }
  };
  add(t0 - 60, t0 + 300, 10);    // across the RES interval's start
  add(t0 + 300, t0 + 301, 4);    // points lost inside a second
  add(t0 + 301, t0 + 400, 10);
  add(t0 + 403, t0 + 500, 10);   // a 3-s silence
  raw[raw.size() - 500].vel_north_mps.reset();  // a clamped velocity: its second goes
  add(t0 + 2000, t0 + 2100, 10);  // after the last RES interval: a clock-aligned block
  std::vector<ResRecord> res(1);
  res[0].t = t0, res[0].waves = 100, res[0].h13_cm = 157;

  EXPECT_EQ(points_per_second(raw), 10);
  std::vector<SpectrumInterval> v = spectrum_intervals(raw, res, 10);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[0].start, t0 - 1200);  // no RES record: a 20-min block
  EXPECT_FALSE(v[0].from_res);
  ASSERT_EQ(v[0].stretches.size(), 1u);
  EXPECT_EQ(v[0].stretches[0].size(), 600u);
  EXPECT_DOUBLE_EQ(v[0].stretches[0].elevation_m[0], -0.12);
  EXPECT_TRUE(v[1].from_res);
  EXPECT_EQ(v[1].end, t0 + 1200);
  EXPECT_EQ(v[1].firmware_h13_m, 1.57);
  std::vector<size_t> sizes;
  for (const Stretch& s : v[1].stretches) sizes.push_back(s.size());
  EXPECT_EQ(sizes, (std::vector<size_t>{3000, 990, 470, 490}));
  EXPECT_EQ(v[2].start, t0 + 1200);
  EXPECT_EQ(v[2].stretches.size(), 1u);
}

}  // namespace
}  // namespace olas_records
