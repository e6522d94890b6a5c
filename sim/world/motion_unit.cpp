// The motion unit: its logs from the sea, its clock, its bursts, the replay and the faults.
#include "sim/world/motion_unit.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <stdexcept>

#include "sim/world/random.h"

namespace sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
// Where the buoy is moored (Bay of Biscay); only the position fields of EKF_NAV show it.
constexpr double kLatitude0 = 43.55;
constexpr double kLongitude0 = -3.80;
constexpr double kMetresPerDegree = 111320.0;
constexpr float kUndulation = 52.0f;

float wrap_pi(double rad) {
  double w = std::remainder(rad, 2 * kPi);  // -pi..pi, as the unit reports yaw
  return float(w);
}

}  // namespace

int MotionUnitConfig::log_index(sbg::LogId id) {
  for (int i = 0; i < 3; ++i)
    if (kLogs[i] == id) return i;
  return -1;
}

MotionUnit::MotionUnit(Board& board, Sea* sea, const MotionUnitConfig& config)
    : board_(board), sea_(sea), config_(config), fault_rng_(mix_seed(config.seed, 2)) {
  const auto& c = config_;
  if (!(c.rate_hz >= 1.0 && c.rate_hz <= MotionUnitConfig::kMaxRateHz))
    throw std::invalid_argument("motion unit: rate must be within 1..50 samples/s");
  if (!(c.corrupt_probability >= 0 && c.corrupt_probability <= 1))
    throw std::invalid_argument("motion unit: corruption probability must be within 0..1");
  for (double p : c.missing_probability)
    if (!(p >= 0 && p <= 1)) throw std::invalid_argument("motion unit: missing probability must be within 0..1");
  for (auto id : MotionUnitConfig::kLogs)
    if (std::count(c.order.begin(), c.order.end(), id) != 1)
      throw std::invalid_argument("motion unit: the log order must name each log once");
  if (!(std::isfinite(c.start_s) && c.start_s >= 0 && std::isfinite(c.settle_s)))
    throw std::invalid_argument("motion unit: bad start or settling time");
  for (const auto& f : c.wrong_baud)
    if (f.baud == 0) throw std::invalid_argument("motion unit: a wrong baud rate must not be 0");
  if (c.replay_path.empty() && !sea_) throw std::invalid_argument("motion unit: no sea and no recording");

  std::mt19937_64 clock_rng(mix_seed(c.seed, 3));
  clock_at_zero_us_ = c.clock_at_zero_us ? *c.clock_at_zero_us : uint32_t(clock_rng() >> 32);

  if (!c.replay_path.empty()) load_replay();
  if (!c.capture_path.empty()) {
    capture_ = std::make_unique<std::ofstream>(c.capture_path, std::ios::binary | std::ios::trunc);
    if (!*capture_) throw std::runtime_error("cannot write the sensor capture '" + c.capture_path + "'");
  }
}

MotionUnit::~MotionUnit() { flush_capture(); }

void MotionUnit::flush_capture() {
  if (capture_) capture_->flush();
}

uint32_t MotionUnit::clock_us(double t_s) const {
  double shown = t_s * (1.0 + config_.clock_ppm * 1e-6);
  for (const auto& j : config_.clock_jumps)
    if (t_s >= j.at_s) shown += j.by_s;
  return uint32_t(uint64_t(clock_at_zero_us_) + uint64_t(std::llround(shown * 1e6)));
}

uint32_t MotionUnit::baud() const {
  const double t = board_.seconds(board_.now());
  for (const auto& f : config_.wrong_baud)
    if (t >= f.from_s && t < f.from_s + f.duration_s) return f.baud;
  return MotionUnitConfig::kBaud;
}

bool MotionUnit::in_any(const std::vector<MotionUnitConfig::Window>& windows, double t) {
  for (const auto& w : windows)
    if (w.contains(t)) return true;
  return false;
}

void MotionUnit::start() {
  board_.attach(MotionUnitConfig::kPort, this);
  if (!config_.replay_path.empty()) {
    if (!replay_.empty()) board_.schedule(board_.cycles_for(replay_[0].t_s), [this] { replay_next(0); });
    return;
  }
  sea_->start_record(config_.start_s, config_.rate_hz);
  board_.schedule(board_.cycles_for(config_.start_s), [this] { sea_sample(0); });
}

bool MotionUnit::silenced(double t) const { return in_any(config_.silences, t); }

bool MotionUnit::drop_log(sbg::LogId id) {
  int i = MotionUnitConfig::log_index(id);
  if (i < 0) return false;
  double p = config_.missing_probability[i];
  if (p <= 0) return false;
  if (p >= 1) return true;
  return uniform01(fault_rng_) < p;
}

void MotionUnit::send(std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return;
  if (config_.corrupt_probability > 0) {
    for (auto& b : bytes) {
      if (uniform01(fault_rng_) < config_.corrupt_probability) {
        b ^= uint8_t(1 + fault_rng_() % 255);  // never 0: the byte really changes
        ++stats_.bytes_corrupted;
      }
    }
  }
  if (capture_) capture_->write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  board_.device_send(MotionUnitConfig::kPort, bytes.data(), bytes.size());
  stats_.bytes += bytes.size();
}

MotionUnit::Logs MotionUnit::logs_for(const SeaState& st, uint32_t time_us, bool settled, double heave_period_s) {
  Logs l;
  const double h = st.heading_deg * kDeg;
  const double ch = std::cos(h), sh = std::sin(h);
  // The vessel frame: x forward along the heading, y to starboard, z down.
  auto forward = [&](double north, double east) { return north * ch + east * sh; };
  auto starboard = [&](double north, double east) { return -north * sh + east * ch; };

  const uint32_t ekf_status =
      settled ? sbg::status::kModeNavPosition | sbg::status::kAttitudeValid | sbg::status::kHeadingValid |
                    sbg::status::kVelocityValid | sbg::status::kPositionValid | sbg::status::kVertRefUsed |
                    sbg::status::kMagRefUsed | sbg::status::kGps1VelUsed | sbg::status::kGps1PosUsed |
                    sbg::status::kAlignValid
              : sbg::status::kModeVerticalGyro | sbg::status::kAttitudeValid | sbg::status::kVertRefUsed;

  auto& e = l.euler;
  e.time_us = time_us;
  // The buoy lies on the surface: nose up when the surface rises ahead, starboard up (roll
  // negative) when it rises to starboard.
  e.pitch = float(std::atan(forward(st.slope_north, st.slope_east)));
  e.roll = float(-std::atan(starboard(st.slope_north, st.slope_east)));
  e.yaw = wrap_pi(h);
  e.roll_acc = e.pitch_acc = float(0.05 * kDeg);
  e.yaw_acc = float((settled ? 0.5 : 180.0) * kDeg);
  e.status = ekf_status;
  e.mag_declination = float(-1.2 * kDeg);
  e.mag_inclination = float(58.0 * kDeg);

  auto& n = l.nav;
  n.time_us = time_us;
  n.vel_north = float(st.vel_north_mps);
  n.vel_east = float(st.vel_east_mps);
  n.vel_down = float(-st.vel_up_mps);
  n.vel_north_acc = n.vel_east_acc = n.vel_down_acc = settled ? 0.03f : 1.0f;
  double north_m = st.drift_north_m + st.disp_north_m, east_m = st.drift_east_m + st.disp_east_m;
  n.latitude = kLatitude0 + north_m / kMetresPerDegree;
  n.longitude = kLongitude0 + east_m / (kMetresPerDegree * std::cos(kLatitude0 * kDeg));
  n.altitude = st.heave_m;
  n.undulation = kUndulation;
  n.latitude_acc = n.longitude_acc = settled ? 1.5f : 10.0f;
  n.altitude_acc = settled ? 2.5f : 15.0f;
  n.status = ekf_status;

  auto& s = l.ship;
  s.time_us = time_us;
  s.heave_period = float(heave_period_s);
  s.surge = float(forward(st.disp_north_m, st.disp_east_m));
  s.sway = float(starboard(st.disp_north_m, st.disp_east_m));
  s.heave = float(-st.heave_m);  // the unit's heave is positive down
  s.accel_x = float(forward(st.accel_north_mps2, st.accel_east_mps2));
  s.accel_y = float(starboard(st.accel_north_mps2, st.accel_east_mps2));
  s.accel_z = float(-st.accel_up_mps2);
  double orb_n = st.vel_north_mps - st.drift_north_mps, orb_e = st.vel_east_mps - st.drift_east_mps;
  s.vel_x = float(forward(orb_n, orb_e));
  s.vel_y = float(starboard(orb_n, orb_e));
  s.vel_z = float(-st.vel_up_mps);
  s.status = sbg::heave_status::kVelAided | sbg::heave_status::kPeriodIncluded |
             (settled ? sbg::heave_status::kHeaveValid | sbg::heave_status::kPeriodValid : 0);
  return l;
}

void MotionUnit::sea_sample(uint64_t k) {
  const double t = config_.start_s + double(k) / config_.rate_hz;
  board_.schedule(board_.cycles_for(config_.start_s + double(k + 1) / config_.rate_hz),
                  [this, k] { sea_sample(k + 1); });
  SeaState st = sea_->sample(k);  // sampled even in a silence: the truth goes on
  if (silenced(t)) {
    ++stats_.samples_silenced;
    return;
  }
  Logs logs = logs_for(st, clock_us(t), t - config_.start_s >= config_.settle_s, sea_->truth().tp_s);
  std::vector<uint8_t> burst;
  uint64_t frames = 0;
  auto order = config_.order;
  if (in_any(config_.shuffled, t)) std::shuffle(order.begin(), order.end(), fault_rng_);
  for (auto id : order) {
    if (drop_log(id)) {
      ++stats_.logs_missing;
      continue;
    }
    std::vector<uint8_t> f = id == sbg::LogId::EkfEuler ? sbg::encode(logs.euler, config_.euler40)
                             : id == sbg::LogId::EkfNav ? sbg::encode(logs.nav)
                                                        : sbg::encode(logs.ship);
    burst.insert(burst.end(), f.begin(), f.end());
    ++frames;
  }
  if (in_any(config_.garbage, t) && burst.size() >= 2) {
    // A sync pair first, so that the firmware takes the noise for a frame header.
    burst[0] = sbg::kSync1;
    burst[1] = sbg::kSync2;
    for (size_t i = 2; i < burst.size(); ++i) burst[i] = uint8_t(fault_rng_());
    ++stats_.bursts_garbage;
    send(burst);
    return;
  }
  if (frames) ++stats_.samples;
  stats_.frames += frames;
  send(burst);
}

// ---- replay ----------------------------------------------------------------------------------

void MotionUnit::load_replay() {
  std::ifstream in(config_.replay_path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the sensor recording '" + config_.replay_path + "'");
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read the sensor recording '" + config_.replay_path + "'");

  // Frames are timed by their own time stamps, counted from the first one; the 32-bit clock's
  // wraps are followed by taking each step as a signed 32-bit difference. Everything else (bytes
  // that are no well-formed frame, frames without a time stamp) follows what precedes it.
  bool timed = false;
  uint32_t prev_ts = 0;
  int64_t elapsed_us = 0;
  double t = config_.start_s;
  size_t pos = 0, raw_from = 0;
  auto flush_raw = [&](size_t to) {
    if (to <= raw_from) return;
    if (replay_.empty()) replay_.push_back(ReplayItem{t, 0, false, 0, {}});
    auto& b = replay_.back().bytes;
    b.insert(b.end(), data.begin() + std::ptrdiff_t(raw_from), data.begin() + std::ptrdiff_t(to));
  };
  while (pos < data.size()) {
    std::optional<size_t> len = sbg::frame_at(data.data() + pos, data.size() - pos);
    if (!len) {
      ++pos;
      continue;
    }
    flush_raw(pos);
    const uint8_t* f = data.data() + pos;
    const bool log = f[3] == sbg::kClassLog;
    const size_t payload = *len - sbg::kFrameOverhead;
    bool new_instant = false;
    if (log && payload >= 4) {
      uint32_t ts = uint32_t(f[6]) | uint32_t(f[7]) << 8 | uint32_t(f[8]) << 16 | uint32_t(f[9]) << 24;
      if (timed) elapsed_us += int32_t(ts - prev_ts);
      new_instant = !timed || ts != prev_ts;
      timed = true;
      prev_ts = ts;
      t = config_.start_s + double(std::max<int64_t>(0, elapsed_us)) * 1e-6;
    }
    replay_.push_back(ReplayItem{t, log ? f[2] : uint8_t(0), new_instant, *len, {f, f + *len}});
    pos += *len;
    raw_from = pos;
  }
  flush_raw(data.size());
}

void MotionUnit::replay_next(size_t i) {
  if (i + 1 < replay_.size())
    board_.schedule(board_.cycles_for(replay_[i + 1].t_s), [this, i] { replay_next(i + 1); });
  const ReplayItem& item = replay_[i];
  if (silenced(item.t_s)) {
    if (item.new_instant) ++stats_.samples_silenced;
    return;
  }
  std::vector<uint8_t> bytes = item.bytes;
  if (item.frame_len > 0) {
    if (drop_log(sbg::LogId(item.log_id))) {
      bytes.erase(bytes.begin(), bytes.begin() + std::ptrdiff_t(item.frame_len));
      ++stats_.logs_missing;
    } else {
      ++stats_.frames;
      if (item.new_instant) ++stats_.samples;
    }
  }
  send(bytes);
}

}  // namespace sim
