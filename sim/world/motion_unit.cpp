// The motion unit: its logs from the sea, its clock, its bursts, the replay and the faults.
#include "sim/world/motion_unit.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <stdexcept>

#include "sim/bytes_le.h"
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

  if (!c.replay_path.empty()) {
    replay_ = std::make_unique<ReplayReader>(c.replay_path, c.start_s);
    if (!replay_->next(replay_item_)) replay_.reset();  // an empty recording: nothing to send
  }
  if (!c.capture_path.empty()) {
    capture_ = std::make_unique<std::ofstream>(c.capture_path, std::ios::binary | std::ios::trunc);
    if (!*capture_) throw std::runtime_error("cannot write the sensor capture '" + c.capture_path + "'");
  }
}

MotionUnit::~MotionUnit() { flush_capture(); }

bool MotionUnit::flush_capture() {
  if (!capture_) return true;
  capture_->flush();
  return bool(*capture_);
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
    if (replay_) schedule_replay(replay_item_);
    return;
  }
  sea_->start_record(config_.start_s, config_.rate_hz);
  // The sea and the unit's frames of it, instant after instant, on a thread of their own: a copy
  // of the sea started on the same instants, and the pure function of its state that the frames are.
  auto copy = std::make_shared<Sea>(sea_->config());
  copy->start_record(config_.start_s, config_.rate_hz);
  ahead_ = std::make_unique<Ahead<Instant>>(
      [this, copy](uint64_t k, Instant& in) {
        in.state = copy->state(k);
        frames_of(k, in.state, copy->truth().tp_s, in.frames);
      },
      0);
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

double MotionUnit::sample_time(uint64_t k) const { return config_.start_s + double(k) / config_.rate_hz; }

void MotionUnit::frames_of(uint64_t k, const SeaState& st, double heave_period_s,
                           std::array<std::vector<uint8_t>, 3>& frames) const {
  const double t = sample_time(k);
  const Logs logs = logs_for(st, clock_us(t), t - config_.start_s >= config_.settle_s, heave_period_s);
  frames[0] = sbg::encode(logs.euler, config_.euler40);
  frames[1] = sbg::encode(logs.nav);
  frames[2] = sbg::encode(logs.ship);
}

void MotionUnit::sea_sample(uint64_t k) {
  const double t = sample_time(k);
  board_.schedule(board_.cycles_for(sample_time(k + 1)), [this, k] { sea_sample(k + 1); });
  Instant own;
  const Instant* in = &own;
  if (ahead_ && ahead_->next_k() == k) {
    in = &ahead_->take();
  } else {
    own.state = sea_->state(k);
    frames_of(k, own.state, sea_->truth().tp_s, own.frames);
  }
  sea_->record_sample(k, in->state);  // sampled even in a silence: the truth goes on
  if (silenced(t)) {
    ++stats_.samples_silenced;
    return;
  }
  std::vector<uint8_t> burst;
  uint64_t frames = 0;
  auto order = config_.order;
  if (in_any(config_.shuffled, t)) std::shuffle(order.begin(), order.end(), fault_rng_);
  for (auto id : order) {
    if (drop_log(id)) {
      ++stats_.logs_missing;
      continue;
    }
    const std::vector<uint8_t>& f = in->frames[id == sbg::LogId::EkfEuler ? 0 : id == sbg::LogId::EkfNav ? 1 : 2];
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

MotionUnit::ReplayReader::ReplayReader(const std::string& path, double start_s)
    : in_(path, std::ios::binary), t_(start_s), start_s_(start_s) {
  if (!in_) throw std::runtime_error("cannot read the sensor recording '" + path + "'");
}

bool MotionUnit::ReplayReader::fill() {
  constexpr size_t kWant = sbg::kMaxPayload + sbg::kFrameOverhead;
  if (eof_ || buf_.size() - pos_ >= kWant) return buf_.size() > pos_;
  buf_.erase(buf_.begin(), buf_.begin() + std::ptrdiff_t(pos_));
  pos_ = 0;
  constexpr size_t kPiece = 1 << 16;
  const size_t had = buf_.size();
  buf_.resize(had + kPiece);
  in_.read(reinterpret_cast<char*>(buf_.data() + had), std::streamsize(kPiece));
  buf_.resize(had + size_t(in_.gcount()));
  if (in_.bad()) throw std::runtime_error("cannot read the sensor recording");
  if (!in_) eof_ = true;
  return buf_.size() > pos_;
}

bool MotionUnit::ReplayReader::next(ReplayItem& item) {
  // A long run of bytes that are no frame goes out in pieces of this size.
  constexpr size_t kRawPiece = 1 << 16;
  // Frames are timed by their own time stamps, counted from the first one; the 32-bit clock's
  // wraps are followed by taking each step as a signed 32-bit difference. Everything else (bytes
  // that are no well-formed frame, frames without a time stamp) follows what precedes it.
  while (fill()) {
    const uint8_t* f = buf_.data() + pos_;
    std::optional<size_t> len = sbg::frame_at(f, buf_.size() - pos_);
    if (!len) {
      if (!pending_) pending_ = ReplayItem{t_, 0, false, 0, false, {}};
      pending_->bytes.push_back(*f);
      ++pos_;
      if (pending_->bytes.size() - pending_->frame_len >= kRawPiece) {
        item = std::move(*pending_);
        pending_ = ReplayItem{item.t_s, 0, false, 0, true, {}};
        return true;
      }
      continue;
    }
    const bool log = f[3] == sbg::kClassLog;
    const size_t payload = *len - sbg::kFrameOverhead;
    bool new_instant = false;
    if (log && payload >= 4) {
      const uint32_t ts = le32(f + 6);
      if (timed_) elapsed_us_ += int32_t(ts - prev_ts_);
      new_instant = !timed_ || ts != prev_ts_;
      timed_ = true;
      prev_ts_ = ts;
      t_ = start_s_ + double(std::max<int64_t>(0, elapsed_us_)) * 1e-6;
    }
    ++frames_;
    std::optional<ReplayItem> done = std::move(pending_);
    pending_ = ReplayItem{t_, log ? f[2] : uint8_t(0), new_instant, *len, false, {f, f + *len}};
    pos_ += *len;
    if (done && !(done->bytes.empty() && done->continued)) {
      item = std::move(*done);
      return true;
    }
  }
  if (!pending_ || (pending_->bytes.empty() && pending_->continued)) return false;
  item = std::move(*pending_);
  pending_.reset();
  return true;
}

bool MotionUnit::recording_has_frame(const std::string& path) {
  ReplayReader reader(path, 0.0);
  ReplayItem item;
  while (reader.next(item))
    if (reader.frames() > 0) return true;
  return false;
}

void MotionUnit::schedule_replay(const ReplayItem& item) {
  Cycles at = board_.cycles_for(item.t_s);
  // the next piece of a long run of bytes: when the wire has sent the one before, which is when
  // it would have gone had the run been queued whole
  if (item.continued) at = std::max(at, board_.device_free_at(MotionUnitConfig::kPort));
  board_.schedule(at, [this] { replay_next(); });
}

void MotionUnit::replay_next() {
  ReplayItem item = std::move(replay_item_);
  const bool more = replay_->next(replay_item_);
  if (more && !replay_item_.continued) schedule_replay(replay_item_);
  if (silenced(item.t_s)) {
    if (item.new_instant) ++stats_.samples_silenced;
  } else {
    std::vector<uint8_t>& bytes = item.bytes;
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
  if (more && replay_item_.continued) schedule_replay(replay_item_);
}

}  // namespace sim
