// The directional random sea: spectrum, spreading, seeded components and their sum at any time.
#include "sim/world/sea.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>

#include "sim/world/random.h"

namespace sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kG = 9.80665;
constexpr double kDeg = kPi / 180.0;

// Frequency band of the components, in multiples of the peak frequency: below 0.6 fp and above
// 5 fp a JONSWAP spectrum holds well under 0.1 % of its energy.
constexpr double kBandLow = 0.6;
constexpr double kBandHigh = 5.0;

// The heading's slow swing around its steady turn.
constexpr double kHeadingSwingDeg = 20.0;
constexpr double kHeadingSwingPeriodS = 420.0;

// JONSWAP shape (the scale comes from Hs afterwards).
double jonswap(double f, double fp, double gamma) {
  double sigma = f <= fp ? 0.07 : 0.09;
  double r = std::exp(-(f - fp) * (f - fp) / (2 * sigma * sigma * fp * fp));
  return std::pow(f, -5.0) * std::exp(-1.25 * std::pow(fp / f, 4.0)) * std::pow(gamma, r);
}

// Draws direction offsets (radians) from D ~ cos^(2s)(x / 2) by inverting its tabulated CDF,
// which works for every s, including the very narrow spreads where rejection would stall.
class SpreadingSampler {
 public:
  explicit SpreadingSampler(double s) {
    double width = std::min(kPi, 10.0 * std::sqrt(2.0 / (s + 1.0)));
    x_.resize(kPoints);
    cdf_.resize(kPoints);
    double prev = 0;
    for (int i = 0; i < kPoints; ++i) {
      x_[i] = -width + 2 * width * i / (kPoints - 1);
      double pdf = std::pow(std::cos(x_[i] / 2), 2 * s);
      cdf_[i] = i == 0 ? 0 : cdf_[i - 1] + 0.5 * (pdf + prev) * (x_[i] - x_[i - 1]);
      prev = pdf;
    }
  }
  double draw(double u) const {
    double target = u * cdf_.back();
    size_t j = size_t(std::upper_bound(cdf_.begin(), cdf_.end(), target) - cdf_.begin());
    if (j == 0) return x_.front();
    if (j >= cdf_.size()) return x_.back();
    double span = cdf_[j] - cdf_[j - 1];
    double frac = span > 0 ? (target - cdf_[j - 1]) / span : 0.0;
    return x_[j - 1] + frac * (x_[j] - x_[j - 1]);
  }

 private:
  static constexpr int kPoints = 4096;
  std::vector<double> x_, cdf_;
};

double wrap360(double deg) {
  double w = std::fmod(deg, 360.0);
  return w < 0 ? w + 360.0 : w;
}

void require(bool ok, const std::string& what) {
  if (!ok) throw std::invalid_argument("sea: " + what);
}

}  // namespace

double Sea::spreading_exponent(double spread_deg) {
  double sigma = spread_deg * kDeg;
  return std::max(0.0, 2.0 / (sigma * sigma) - 1.0);
}

Sea::Sea(const SeaConfig& config) : config_(config) {
  const SeaConfig& c = config_;
  require(std::isfinite(c.hs_m) && c.hs_m >= 0, "Hs must be 0 or more");
  require(std::isfinite(c.tp_s) && c.tp_s > 0, "Tp must be positive");
  require(std::isfinite(c.gamma) && c.gamma >= 1, "gamma must be 1 or more");
  require(std::isfinite(c.dir_from_deg), "direction must be a number");
  require(std::isfinite(c.spread_deg) && c.spread_deg >= 0 && c.spread_deg <= kMaxSpreadDeg,
          "spread must be within 0..81 degrees");
  require(std::isfinite(c.drift_mps) && c.drift_mps >= 0, "drift speed must be 0 or more");
  require(std::isfinite(c.drift_toward_deg), "drift direction must be a number");
  require(std::isfinite(c.turn_deg_per_min), "turn rate must be a number");
  require(c.components >= kMinComponents, "at least 256 components");

  std::mt19937_64 rng(mix_seed(c.seed, 1));
  heading0_deg_ = 360.0 * uniform01(rng);
  heading_phase_ = 2 * kPi * uniform01(rng);
  turn_deg_per_s_ = (uniform01(rng) < 0.5 ? -1.0 : 1.0) * c.turn_deg_per_min / 60.0;

  const double fp = 1.0 / c.tp_s;
  const double f_lo = kBandLow * fp;
  const double df = (kBandHigh - kBandLow) * fp / c.components;
  const double s = spreading_exponent(c.spread_deg);
  const bool long_crested = c.spread_deg == 0;
  SpreadingSampler spreading(s);

  // One direction per component (not a frequency-direction grid), so that no two components
  // share a frequency and the record never repeats; frequencies are drawn inside equal bins.
  // Neighbours take mirrored direction offsets: their energies are nearly equal, so the sea's
  // mean direction comes out close to the one asked for instead of a few degrees off.
  double m0 = 0, offset = 0;
  for (int i = 0; i < c.components; ++i) {
    double f = f_lo + (i + uniform01(rng)) * df;
    offset = i % 2 == 0 ? spreading.draw(uniform01(rng)) : -offset;
    double phase = 2 * kPi * uniform01(rng);
    double amp = std::sqrt(2 * jonswap(f, fp, c.gamma) * df);
    m0 += amp * amp / 2;
    components_.push_back({amp, f, wrap360(c.dir_from_deg + (long_crested ? 0.0 : offset / kDeg)), phase});
  }
  // Scale to the requested Hm0 exactly: the discrete sum is the sea's truth.
  double scale = m0 > 0 ? c.hs_m / (4 * std::sqrt(m0)) : 0.0;
  double sum0 = 0, sum2 = 0, dir_n = 0, dir_e = 0;
  for (auto& w : components_) {
    w.amp_m *= scale;
    double e = w.amp_m * w.amp_m / 2;
    sum0 += e;
    sum2 += e * w.freq_hz * w.freq_hz;
    dir_n += e * std::cos(w.from_deg * kDeg);
    dir_e += e * std::sin(w.from_deg * kDeg);

    double omega = 2 * kPi * w.freq_hz;
    double to = (w.from_deg + 180.0) * kDeg;
    terms_.push_back({omega, w.phase_rad, w.amp_m, w.amp_m * omega, w.amp_m * omega * omega,
                      w.amp_m * omega * omega / kG, std::cos(to), std::sin(to)});
  }
  truth_.hm0_m = 4 * std::sqrt(sum0);
  truth_.tp_s = c.tp_s;
  truth_.tz_s = sum2 > 0 ? std::sqrt(sum0 / sum2) : 0.0;
  truth_.mean_dir_deg = sum0 > 0 ? wrap360(std::atan2(dir_e, dir_n) / kDeg) : wrap360(c.dir_from_deg);
  truth_.spread_deg = c.spread_deg;
  truth_.spreading_s = s;
}

// Each component is a cos(psi) with psi = phase - omega t (travelling wave a cos(k.x - omega t
// + phase) at the buoy's point): elevation a cos psi, velocity along travel a omega cos psi,
// vertical velocity a omega sin psi, excursion along travel -a sin psi. The sums are kept two to a
// vector register; each lane does the scalar operations in the scalar order.
void Sea::sum_waves(const Phasor* phasors, SeaState& st) const {
  using Pair = double __attribute__((vector_size(16)));
  Pair heave_up = {0, 0}, vel = {0, 0}, disp = {0, 0}, accel = {0, 0}, slope = {0, 0};
  double accel_up = 0;
  for (size_t i = 0; i < terms_.size(); ++i) {
    const Term& w = terms_[i];
    const double cs = phasors[i].cos, sn = phasors[i].sin;
    const Pair dir = {w.dir_north, w.dir_east};
    heave_up += Pair{w.a, w.a_omega} * Pair{cs, sn};
    accel_up -= w.a_omega2 * cs;
    const double u = w.a_omega * cs, x = -w.a * sn, du = w.a_omega2 * sn, sl = -w.a_k * sn;
    vel += u * dir;
    disp += x * dir;
    accel += du * dir;
    slope += sl * dir;
  }
  st.heave_m = heave_up[0];
  st.vel_up_mps = heave_up[1];
  st.accel_up_mps2 = accel_up;
  st.vel_north_mps = vel[0];
  st.vel_east_mps = vel[1];
  st.disp_north_m = disp[0];
  st.disp_east_m = disp[1];
  st.accel_north_mps2 = accel[0];
  st.accel_east_mps2 = accel[1];
  st.slope_north = slope[0];
  st.slope_east = slope[1];
}

void Sea::add_drift_and_heading(SeaState& st, double t) const {
  double drift_n = config_.drift_mps * std::cos(config_.drift_toward_deg * kDeg);
  double drift_e = config_.drift_mps * std::sin(config_.drift_toward_deg * kDeg);
  st.vel_north_mps += drift_n;
  st.vel_east_mps += drift_e;
  st.drift_north_mps = drift_n;
  st.drift_east_mps = drift_e;
  st.drift_north_m = drift_n * t;
  st.drift_east_m = drift_e * t;
  st.heading_deg = wrap360(heading0_deg_ + turn_deg_per_s_ * t +
                           kHeadingSwingDeg * std::sin(2 * kPi * t / kHeadingSwingPeriodS + heading_phase_));
}

SeaState Sea::at(double t) const {
  std::vector<Phasor> phasors;
  phasors.reserve(terms_.size());
  for (const Term& w : terms_) {
    const double psi = w.phase - w.omega * t;
    phasors.push_back({std::cos(psi), std::sin(psi)});
  }
  SeaState st;
  sum_waves(phasors.data(), st);
  add_drift_and_heading(st, t);
  return st;
}

void Sea::start_record(double t0_s, double rate_hz) {
  if (!(rate_hz > 0)) throw std::invalid_argument("sea: record rate must be positive");
  record_ = HeaveRecord{t0_s, rate_hz, 0, {}};
  keep_record(keep_s_);
  const double dt = 1.0 / rate_hz;
  step_.clear();
  for (const Term& w : terms_) step_.push_back({std::cos(w.omega * dt), std::sin(w.omega * dt)});
  phasors_.assign(terms_.size(), {1.0, 0.0});
  phasor_k_ = kNoSample;
}

void Sea::keep_record(double seconds) {
  if (!(seconds >= 0)) throw std::invalid_argument("sea: record bound must be 0 or more");
  keep_s_ = seconds;
  keep_n_ = record_.rate_hz > 0 && seconds > 0 ? size_t(std::ceil(seconds * record_.rate_hz)) : 0;
}

SeaState Sea::sample(uint64_t k) {
  const SeaState st = state(k);
  record_sample(k, st);
  return st;
}

void Sea::record_sample(uint64_t k, const SeaState& st) {
  if (k == record_.end_k()) {
    auto& h = record_.heave_m;
    if (keep_n_ > 0 && h.size() >= 2 * keep_n_) {  // drop the oldest half in one move
      h.erase(h.begin(), h.end() - std::ptrdiff_t(keep_n_));
      record_.first_k = k - keep_n_;
    }
    h.push_back(float(st.heave_m));
  }
}

SeaState Sea::state(uint64_t k) {
  if (!(record_.rate_hz > 0)) throw std::logic_error("sea: sample() before start_record()");
  // Consecutive instants turn each component's phasor by one fixed step instead of calling sine
  // and cosine (the cost of a sample drops about fivefold). The phasors are exact at every
  // multiple of kExactEvery and stepped from there, so a sample is a function of k alone, within
  // about 1e-12 of at(time(k)) (itself only that exact for phases of 1e4 radians).
  const uint64_t anchor = k - k % kExactEvery;
  if (phasor_k_ == kNoSample || phasor_k_ > k || phasor_k_ < anchor) {
    const double ta = record_.time(anchor);
    for (size_t i = 0; i < terms_.size(); ++i) {
      double psi = terms_[i].phase - terms_[i].omega * ta;
      phasors_[i] = {std::cos(psi), std::sin(psi)};
    }
    phasor_k_ = anchor;
  }
  for (; phasor_k_ < k; ++phasor_k_) {
    for (size_t i = 0; i < terms_.size(); ++i) {  // psi - omega dt
      const Phasor p = phasors_[i], r = step_[i];
      phasors_[i] = {p.cos * r.cos + p.sin * r.sin, p.sin * r.cos - p.cos * r.sin};
    }
  }
  const double t = record_.time(k);
  SeaState st;
  sum_waves(phasors_.data(), st);
  add_drift_and_heading(st, t);
  return st;
}

}  // namespace sim
