// The synthetic sea: its spectrum's truth, its record, its directions and signs, its determinism.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "sim/world/ahead.h"
#include "sim/world/sea.h"

namespace {

using sim::Sea;
using sim::SeaConfig;

constexpr double kPi = 3.14159265358979323846;

SeaConfig config(double hs, double tp, double dir, double spread, double gamma = 3.3) {
  SeaConfig c;
  c.hs_m = hs;
  c.tp_s = tp;
  c.dir_from_deg = dir;
  c.spread_deg = spread;
  c.gamma = gamma;
  c.drift_mps = 0;
  return c;
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
  double sab = 0, saa = 0, sbb = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    sab += a[i] * b[i];
    saa += a[i] * a[i];
    sbb += b[i] * b[i];
  }
  return sab / std::sqrt(saa * sbb);
}

TEST(Sea, TruthOfTheSpectrum) {
  for (auto c : {config(2, 8, 270, 25), config(5, 12, 10, 40, 1.0), config(0.5, 4, 180, 5, 7.0)}) {
    Sea sea(c);
    SCOPED_TRACE(c.hs_m);
    EXPECT_GE(sea.components().size(), 256u);
    EXPECT_NEAR(sea.truth().hm0_m, c.hs_m, 0.02 * c.hs_m);
    EXPECT_EQ(sea.truth().tp_s, c.tp_s);
    // For JONSWAP shapes Tz lies at roughly 0.7-0.85 Tp (the more peaked, the closer to Tp).
    EXPECT_GT(sea.truth().tz_s, 0.70 * c.tp_s);
    EXPECT_LT(sea.truth().tz_s, 0.85 * c.tp_s);
  }
  Sea calm(config(0, 9, 270, 25));
  EXPECT_EQ(calm.truth().hm0_m, 0.0);
  EXPECT_EQ(calm.at(123.4).heave_m, 0.0);
  EXPECT_THROW(Sea(config(-1, 9, 270, 25)), std::invalid_argument);
  EXPECT_THROW(Sea(config(2, 9, 270, 90)), std::invalid_argument);
}

TEST(Sea, LongHeaveRecordHasTheSpectrumsVariance) {
  Sea sea(config(2, 8, 270, 25));
  sea.start_record(0.0, 2.0);
  const size_t n = 6 * 3600 * 2;
  double sum = 0, sum2 = 0;
  for (size_t k = 0; k < n; ++k) {
    double h = sea.sample(k).heave_m;
    sum += h;
    sum2 += h * h;
  }
  ASSERT_EQ(sea.heave_record().heave_m.size(), n);
  EXPECT_FLOAT_EQ(sea.heave_record().heave_m[100], float(sea.at(50.0).heave_m));
  // Stepped samples depend on k alone (not on what was sampled before) and follow at().
  Sea fresh(config(2, 8, 270, 25));
  fresh.start_record(0.0, 2.0);
  for (uint64_t k : {uint64_t(40000), uint64_t(777), uint64_t(n - 1)}) {
    auto a = fresh.sample(k), b = sea.sample(k), c = sea.at(sea.heave_record().time(k));
    EXPECT_EQ(a.heave_m, b.heave_m);
    EXPECT_EQ(a.vel_east_mps, b.vel_east_mps);
    EXPECT_NEAR(a.heave_m, c.heave_m, 1e-9);
    EXPECT_NEAR(a.vel_north_mps, c.vel_north_mps, 1e-9);
  }
  EXPECT_EQ(fresh.heave_record().heave_m.size(), 0u);  // only instants sampled in order are kept
  double mean = sum / n, var = sum2 / n - mean * mean;
  double m0 = std::pow(sea.truth().hm0_m / 4, 2);
  EXPECT_NEAR(mean, 0.0, 0.02);
  EXPECT_NEAR(var, m0, 0.05 * m0);
}

// Sign convention: heave positive up and velocities toward north/east. A wave travelling toward
// the east moves the water (and the buoy) east under its crest, so east velocity is in phase
// with heave; a sea FROM 270 travels toward 90.
TEST(Sea, OrbitalVelocityIsInPhaseWithHeaveAlongTheTravel) {
  Sea west(config(2, 8, 270, 0));
  Sea north(config(2, 8, 0, 0));
  std::vector<double> h, ve, hn, vn;
  double max_vn = 0;
  for (double t = 0; t < 1800; t += 0.25) {
    auto s = west.at(t);
    h.push_back(s.heave_m);
    ve.push_back(s.vel_east_mps);
    max_vn = std::max(max_vn, std::abs(s.vel_north_mps));
    auto n = north.at(t);
    hn.push_back(n.heave_m);
    vn.push_back(n.vel_north_mps);
    // vertical velocity is the time derivative of heave
    double dt = 1e-3, dh = (west.at(t + dt).heave_m - west.at(t - dt).heave_m) / (2 * dt);
    ASSERT_NEAR(s.vel_up_mps, dh, 1e-3 + 1e-3 * std::abs(dh));
  }
  EXPECT_LT(max_vn, 1e-9);
  EXPECT_GT(correlation(ve, h), 0.9);
  EXPECT_LT(correlation(vn, hn), -0.9);  // from the north: southward under crests
}

TEST(Sea, DirectionsFollowTheCos2sSpreading) {
  EXPECT_NEAR(Sea::spreading_exponent(25), 9.505, 0.01);
  EXPECT_NEAR(Sea::spreading_exponent(81), 0.0, 0.01);  // sqrt(2) rad = 81.03 deg: isotropic
  for (double spread : {10.0, 25.0, 40.0}) {
    Sea sea(config(2, 8, 350, spread));
    double e0 = 0, en = 0, ee = 0;
    for (const auto& w : sea.components()) {
      double e = w.amp_m * w.amp_m;
      e0 += e;
      en += e * std::cos(w.from_deg * kPi / 180);
      ee += e * std::sin(w.from_deg * kPi / 180);
    }
    double m1 = std::hypot(en, ee) / e0;
    double realised = std::sqrt(2 * (1 - m1)) * 180 / kPi;
    SCOPED_TRACE(spread);
    EXPECT_NEAR(realised, spread, 0.2 * spread);
    double mean = sea.truth().mean_dir_deg;
    EXPECT_NEAR(std::remainder(mean - 350, 360), 0.0, 1.5);  // across north
  }
  Sea crested(config(2, 8, 123, 0));
  for (const auto& w : crested.components()) ASSERT_DOUBLE_EQ(w.from_deg, 123.0);
}

TEST(Sea, APureFunctionOfSeedAndTime) {
  SeaConfig c = config(2, 8, 270, 25);
  c.drift_mps = 0.3;
  c.drift_toward_deg = 45;
  Sea a(c), b(c);
  auto late = a.at(5000.0);
  auto early = a.at(5.0);
  EXPECT_EQ(b.at(5.0).heave_m, early.heave_m);
  EXPECT_EQ(b.at(5000.0).vel_east_mps, late.vel_east_mps);
  c.seed = 2;
  EXPECT_NE(Sea(c).at(5.0).heave_m, early.heave_m);

  double vn = 0, ve = 0, prev = a.at(0).heading_deg;
  int n = 0;
  for (double t = 0; t < 3600; t += 0.5, ++n) {
    auto s = a.at(t);
    vn += s.vel_north_mps;
    ve += s.vel_east_mps;
    ASSERT_GE(s.heading_deg, 0.0);
    ASSERT_LT(s.heading_deg, 360.0);
    EXPECT_LT(std::abs(std::remainder(s.heading_deg - prev, 360)), 0.5);  // turns slowly
    prev = s.heading_deg;
  }
  double d = 0.3 / std::sqrt(2.0);
  EXPECT_NEAR(vn / n, d, 0.02);
  EXPECT_NEAR(ve / n, d, 0.02);
  EXPECT_NEAR(a.at(100).drift_north_m, 100 * d, 1e-9);
}

// The simulator samples the sea on a thread of its own, ahead of the run: what it takes must be
// the very doubles the run would have computed, in order, however far ahead the thread is (the
// ring holds 512 instants; the phasors are exact every 256).
TEST(Sea, SampledAheadOnAnotherThreadGivesTheSameDoubles) {
  const SeaConfig c = config(2, 8, 270, 25);
  Sea here(c), there(c);
  here.start_record(1.0, 10.0);
  there.start_record(1.0, 10.0);
  sim::Ahead<sim::SeaState> ahead([&there](uint64_t k, sim::SeaState& st) { st = there.state(k); }, 0);
  for (uint64_t k = 0; k < 2000; ++k) {
    ASSERT_EQ(ahead.next_k(), k);
    const sim::SeaState a = ahead.take(), b = here.sample(k);
    ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << "instant " << k;
  }
}

}  // namespace
