// The inertial motion unit on the sensor's serial port (Serial2, 115200 baud): at each sample
// instant it sends EKF_EULER, EKF_NAV and SHIP_MOTION back to back, in sbgECom framing, stamped
// with its own 32-bit microsecond clock (which counts true time and wraps every 71.6 min).
// Its source is the sea, or a recorded sbgECom byte stream replayed at the pace of its own
// time stamps. Faults on demand: corrupted bytes, missing logs, silences, garbage, shuffled
// logs, a wrong speed, clock jumps.
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/world/ahead.h"
#include "sim/world/sbg_frames.h"
#include "sim/world/sea.h"

namespace sim {

struct MotionUnitConfig {
  static constexpr int kPort = 2;
  static constexpr uint32_t kBaud = 115200;
  static constexpr double kMaxRateHz = 50.0;

  double rate_hz = 10.0;  // samples per second, 1..50
  // Order of the logs in each burst. The unit sends the logs of one instant in ascending message
  // id; the firmware's sample completes on the last of the three, here SHIP_MOTION.
  std::array<sbg::LogId, 3> order = {sbg::LogId::EkfEuler, sbg::LogId::EkfNav, sbg::LogId::ShipMotion};
  bool euler40 = false;     // the 40-byte EKF_EULER of 5.x firmware
  double start_s = 1.0;     // true time of the first output (the unit's own start-up)
  double settle_s = 30.0;   // after its first output, heading valid and aligned from then on
  std::optional<uint32_t> clock_at_zero_us;  // its clock at true time 0; default: seeded
  double clock_ppm = 0.0;   // its clock's rate error against true time
  uint64_t seed = 1;

  // Faults.
  struct Window {
    double from_s;
    double duration_s;
    bool contains(double t) const { return t >= from_s && t < from_s + duration_s; }
  };
  using Silence = Window;
  struct BaudFault {
    double from_s;
    double duration_s;
    uint32_t baud;
  };
  struct ClockJump {
    double at_s;
    double by_s;  // negative: back
  };
  double corrupt_probability = 0;  // each byte: replaced by a different value
  // Per log (index by position in kLogs): probability that it is left out of a burst; 1 = always.
  std::array<double, 3> missing_probability = {0, 0, 0};
  std::vector<Silence> silences;  // nothing is sent from from_s for duration_s
  std::vector<Window> garbage;    // each burst becomes random bytes after a sync pair
  std::vector<Window> shuffled;   // each burst's logs in a random order
  std::vector<BaudFault> wrong_baud;     // the unit sends at another speed meanwhile
  std::vector<ClockJump> clock_jumps;    // its clock steps at at_s, for good

  std::string replay_path;   // non-empty: replay this recording instead of the sea
  std::string capture_path;  // non-empty: every byte the unit sends is also written here

  static constexpr std::array<sbg::LogId, 3> kLogs = {sbg::LogId::EkfEuler, sbg::LogId::EkfNav,
                                                      sbg::LogId::ShipMotion};
  static int log_index(sbg::LogId id);
};

struct MotionUnitStats {
  uint64_t samples = 0;          // instants at which at least one frame left
  uint64_t frames = 0;           // frames sent
  uint64_t bytes = 0;            // bytes sent
  uint64_t bytes_corrupted = 0;
  uint64_t logs_missing = 0;     // logs left out by the missing-log fault
  uint64_t samples_silenced = 0; // instants that fell in a silence
  uint64_t bursts_garbage = 0;   // bursts replaced by random bytes
};

class MotionUnit : public Device {
 public:
  // With a sea (not owned; it must outlive the unit) unless config.replay_path is set.
  // Throws std::runtime_error when the replay or capture file cannot be opened.
  MotionUnit(Board& board, Sea* sea, const MotionUnitConfig& config);
  ~MotionUnit() override;

  // Attaches the unit to its port and schedules its first output.
  void start();

  void on_byte(Board&, uint8_t, Cycles) override {}  // the unit is never configured from the MCU
  uint32_t baud() const override;

  const MotionUnitStats& stats() const { return stats_; }
  const MotionUnitConfig& config() const { return config_; }
  // The unit's clock at true time t.
  uint32_t clock_us(double t_s) const;
  // Flushes the capture file; false when a byte of it could not be written (a full disk).
  bool flush_capture();
  // Whether a recording holds at least one well-formed sbgECom frame (read in pieces).
  static bool recording_has_frame(const std::string& path);

  // The three logs of the unit at one instant of the sea (also used by tests).
  struct Logs {
    sbg::EulerLog euler;
    sbg::NavLog nav;
    sbg::ShipMotionLog ship;
  };
  static Logs logs_for(const SeaState& state, uint32_t time_us, bool settled, double heave_period_s);

 private:
  struct ReplayItem {
    double t_s = 0;            // when it is due
    uint8_t log_id = 0;        // message id of a class-0 log, else 0
    bool new_instant = false;  // a time stamp other than the previous frame's
    size_t frame_len = 0;      // bytes[0, frame_len) is the frame; the rest passes as it came
    bool continued = false;    // more of the previous item's bytes: due when the wire is free
    std::vector<uint8_t> bytes;
  };
  // Reads the recording a piece at a time, so memory does not grow with its size: each frame
  // with the bytes that follow it up to the next frame, long runs of those cut into pieces.
  class ReplayReader {
   public:
    ReplayReader(const std::string& path, double start_s);
    bool next(ReplayItem& item);  // false at the end of the recording
    uint64_t frames() const { return frames_; }

   private:
    bool fill();  // at least a whole frame's worth after pos_, unless the file ends first
    std::ifstream in_;
    std::vector<uint8_t> buf_;
    size_t pos_ = 0;
    bool eof_ = false;
    bool timed_ = false;
    uint32_t prev_ts_ = 0;
    int64_t elapsed_us_ = 0;
    double t_ = 0;
    double start_s_ = 0;
    uint64_t frames_ = 0;
    std::optional<ReplayItem> pending_;
  };

  // One instant of the sea and the unit's three frames of it (euler, nav, ship motion).
  struct Instant {
    SeaState state;
    std::array<std::vector<uint8_t>, 3> frames;
  };
  double sample_time(uint64_t k) const;
  // The frames of instant k (on the thread ahead too: it reads only what never changes).
  void frames_of(uint64_t k, const SeaState& st, double heave_period_s,
                 std::array<std::vector<uint8_t>, 3>& frames) const;
  void sea_sample(uint64_t k);
  void replay_next();
  void schedule_replay(const ReplayItem& item);
  bool silenced(double t_s) const;
  static bool in_any(const std::vector<MotionUnitConfig::Window>& windows, double t_s);
  bool drop_log(sbg::LogId id);
  void send(std::vector<uint8_t>& bytes);

  Board& board_;
  Sea* sea_;
  MotionUnitConfig config_;
  uint32_t clock_at_zero_us_;
  std::mt19937_64 fault_rng_;
  std::unique_ptr<ReplayReader> replay_;
  ReplayItem replay_item_;  // the next item due
  std::unique_ptr<std::ofstream> capture_;
  MotionUnitStats stats_;
  std::unique_ptr<Ahead<Instant>> ahead_;  // last: its thread stops before the rest goes
};

}  // namespace sim
