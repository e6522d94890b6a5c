// The sea the buoy rides: a directional random sea (JONSWAP spectrum, cos-2s spreading) as a sum
// of linear deep-water wave components with seeded frequencies, directions and phases, plus a
// steady drift and a slowly turning heading. Given its configuration and seed, the state is a
// pure function of true time. It also keeps the truth later checks compare the firmware with.
//
// Conventions: heave and vertical motion positive UP (the surface elevation); horizontal
// motion in north/east metres; directions are bearings in degrees clockwise from north. The
// mean wave direction is where the waves come FROM; the drift direction is where the buoy goes
// TOWARD. A component coming from bearing b travels toward b + 180, and under its crest the water
// (so the buoy) moves in its direction of travel: horizontal velocity in phase with elevation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

struct SeaConfig {
  double hs_m = 2.0;            // significant wave height Hm0; 0 = calm
  double tp_s = 9.0;            // peak period
  double gamma = 3.3;           // JONSWAP peak enhancement
  double dir_from_deg = 270.0;  // mean direction the waves come from
  // Directional spread: the circular standard deviation of the direction distribution (Kuik
  // et al. 1988), sigma = sqrt(2 (1 - m1)). For cos-2s spreading m1 = s / (s + 1), so
  // s = 2 / sigma^2 - 1 (sigma in radians): 25 deg gives s = 9.5. 0 = long-crested; at most 81 deg
  // (s = 0, waves from every direction).
  double spread_deg = 25.0;
  double drift_mps = 0.2;             // buoy drift speed
  double drift_toward_deg = 90.0;     // where the drift takes the buoy
  double turn_deg_per_min = 2.0;      // steady turn of the heading (its sign is seeded)
  int components = 512;               // wave components (at least 256)
  uint64_t seed = 1;
};

// The buoy's motion at one instant (it follows the surface at a fixed point: phases are taken
// where the buoy started, ignoring the small Doppler shift of its drift, so that the heave
// record's periods are those of the spectrum).
struct SeaState {
  double heave_m = 0;               // elevation, up
  double vel_up_mps = 0;
  double accel_up_mps2 = 0;
  double vel_north_mps = 0;         // orbital + drift
  double vel_east_mps = 0;
  double drift_north_mps = 0;       // the drift's part of the velocity
  double drift_east_mps = 0;
  double disp_north_m = 0;          // orbital excursion (without the drift)
  double disp_east_m = 0;
  double accel_north_mps2 = 0;
  double accel_east_mps2 = 0;
  double slope_north = 0;           // surface slope d(elevation)/d(north)
  double slope_east = 0;
  double drift_north_m = 0;         // distance drifted since time 0
  double drift_east_m = 0;
  double heading_deg = 0;           // 0..360
};

struct WaveComponent {
  double amp_m;      // amplitude (half the height)
  double freq_hz;
  double from_deg;   // direction it comes from
  double phase_rad;
};

// What the sea really was: the spectrum's own statistics.
struct SeaTruth {
  double hm0_m;         // 4 sqrt(m0) of the components
  double tp_s;          // peak period of the spectrum
  double tz_s;          // sqrt(m0 / m2)
  double mean_dir_deg;  // energy-weighted mean of the components' from-directions
  double spread_deg;    // as configured
  double spreading_s;   // the cos-2s exponent it maps to
};

// The true heave at the sample instants t0 + k / rate of whoever samples the sea. heave_m[i]
// holds instant first_k + i: with a bound set (Sea::keep_record) the oldest instants are dropped.
struct HeaveRecord {
  double t0_s = 0;
  double rate_hz = 0;
  uint64_t first_k = 0;        // instant of heave_m[0]
  std::vector<float> heave_m;  // positive up
  double time(uint64_t k) const { return t0_s + double(k) / rate_hz; }
  uint64_t end_k() const { return first_k + heave_m.size(); }  // one past the last kept instant
  bool has(uint64_t k) const { return k >= first_k && k < end_k(); }
  float at(uint64_t k) const { return heave_m[size_t(k - first_k)]; }
};

class Sea {
 public:
  explicit Sea(const SeaConfig& config);

  SeaState at(double t_s) const;
  const SeaConfig& config() const { return config_; }
  const std::vector<WaveComponent>& components() const { return components_; }
  const SeaTruth& truth() const { return truth_; }

  // The heave record: set its instants once, then sample instant k through sample(k) (much
  // cheaper than at() when called for consecutive instants); every instant sampled in order is
  // kept, or with keep_record(s) at least the last s seconds of them (at most twice that, so a
  // long run's memory stays flat). sample(k) depends on k alone and agrees with at(time(k)) to
  // about 1e-12.
  void start_record(double t0_s, double rate_hz);
  void keep_record(double seconds);
  SeaState sample(uint64_t k);
  // What sample(k) returns, without keeping it in the record (a copy of this sea, started on the
  // same instants, computes it on another thread; record_sample then keeps it here).
  SeaState state(uint64_t k);
  void record_sample(uint64_t k, const SeaState& st);
  const HeaveRecord& heave_record() const { return record_; }

  // cos-2s exponent for a directional spread in degrees (see SeaConfig::spread_deg).
  static double spreading_exponent(double spread_deg);
  static constexpr double kMaxSpreadDeg = 81.0;
  static constexpr int kMinComponents = 256;

 private:
  // Per-component factors, precomputed so a sample costs one sine and cosine per component.
  struct Term {
    double omega, phase;
    double a, a_omega, a_omega2, a_k;
    double dir_north, dir_east;  // unit vector of travel
  };

  struct Phasor {
    double cos, sin;
  };
  static constexpr uint64_t kNoSample = ~uint64_t{0};
  static constexpr uint64_t kExactEvery = 256;

  void sum_waves(const Phasor* phasors, SeaState& st) const;  // every component at its phasor
  void add_drift_and_heading(SeaState& st, double t) const;

  SeaConfig config_;
  std::vector<WaveComponent> components_;
  std::vector<Term> terms_;
  SeaTruth truth_{};
  double heading0_deg_ = 0, heading_phase_ = 0, turn_deg_per_s_ = 0;
  HeaveRecord record_;
  double keep_s_ = 0;  // 0 = keep every instant
  size_t keep_n_ = 0;
  std::vector<Phasor> step_;     // each component's turn over one record interval
  std::vector<Phasor> phasors_;  // each component's cos/sin psi at record instant phasor_k_
  uint64_t phasor_k_ = kNoSample;
};

}  // namespace sim
