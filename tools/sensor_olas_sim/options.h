// Options of a simulation run, and the parsers for their text forms.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sensor_olas_sim/card_setup.h"
#include "sensor_olas_sim/gps_setup.h"
#include "sensor_olas_sim/host_setup.h"
#include "sensor_olas_sim/settings_preset.h"
#include "sim/world/motion_unit.h"
#include "sim/world/sea.h"

namespace olas {

struct RunOptions {
  double duration_s = 3 * 3600.0;
  std::string out_dir = "sim-out";
  int64_t start_utc = 0;  // true UTC (Unix seconds) at virtual time 0
  double clock_ppm = 150.0;
  bool jumper = false;              // debug jumper fitted on pin 28
  std::optional<double> starve_watchdog_s;  // fault: watchdog restarts ignored from then on
  std::string firmware_image;       // empty = the one built with this program
  bool quiet = false;

  // The world around the motion sensor. The seed is copied into the sea and the unit.
  uint64_t seed = 1;
  bool sensor = true;               // motion unit attached to Serial2
  sim::SeaConfig sea;
  sim::MotionUnitConfig motion_unit;

  GpsOptions gps;    // the GPS receiver on Serial3
  CardOptions card;  // the SD card in its slot
  HostOptions host;  // the host controller on Serial

  std::vector<SettingValue> settings;  // --set: stored settings written before the first boot
  std::string scenario;                // --scenario FILE and --preset NAME, for the summary
  std::string preset;
  double truth_keep_s = 2 * 3600.0;    // true heave kept for the intervals' truth (a record
                                       // arrives at most 60 min after its interval began)
};

// A bad option value: the message names the option and the value.
struct OptionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A whole-string decimal number within [lo, hi]; `what` names it in the error.
double parse_number(const std::string& text, double lo, double hi, const std::string& what);
// A plain decimal number filling the whole text ("12", "-0.5", "1e3"): no hex, inf, nan, spaces.
bool is_decimal(const std::string& text);
// The number of a decimal text; false when a double cannot hold it (1e400).
bool to_double(const std::string& text, double* v);

constexpr double kMaxDurationS = 366 * 86400.0;
// The firmware can trim its clock by about 2 % (CTE_VELOCIDAD_RELOJ 47000..49000 per ms).
constexpr double kMaxClockPpm = 20000;

// A duration of 0 or more, at most kMaxDurationS: "90s", "20m", "3h", "2d", "1.5h" or plain seconds.
double parse_span(const std::string& text);
// "90s", "20m", "3h", "2d", "1.5h" or plain seconds; more than 0, at most kMaxDurationS.
double parse_duration(const std::string& text);
// The board oscillator's error, -kMaxClockPpm..kMaxClockPpm.
double parse_clock_ppm(const std::string& text);
// ISO 8601 UTC: 2026-12-07T14:20:00Z (the Z, and the seconds, may be left out).
int64_t parse_utc(const std::string& text);
std::string format_utc(int64_t unix_s);

// "hs=2,tp=8,dir=270,spread=25,gamma=3.3" (any subset, applied over `sea`) or "calm" (Hs 0).
sim::SeaConfig parse_sea(const std::string& text, sim::SeaConfig sea);
// A non-negative integer.
uint64_t parse_seed(const std::string& text);
// Whole samples per second, 1..50.
double parse_rate(const std::string& text);
// "SPEED,DIR": m/s (0..5) and the direction it drifts toward (degrees, 0..360).
void parse_drift(const std::string& text, sim::SeaConfig& sea);
// A probability 0..1.
double parse_probability(const std::string& text);
// "LOG[:P][,LOG[:P]...]" with LOG euler, nav or ship; P defaults to 1 (always missing).
std::array<double, 3> parse_missing(const std::string& text);
// "FROM+DURATION", both as durations ("5m+30s"); FROM may be 0.
sim::MotionUnitConfig::Silence parse_silence(const std::string& text);
// The three logs in the order the unit sends them: "euler,nav,ship" or any permutation.
std::array<sim::sbg::LogId, 3> parse_log_order(const std::string& text);
const char* log_name(sim::sbg::LogId id);

constexpr const char* kDefaultStart = "2026-12-07T14:20:00Z";

}  // namespace olas
