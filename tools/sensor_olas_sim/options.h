// Options of a simulation run, and the parsers for their text forms.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace olas {

struct RunOptions {
  double duration_s = 3 * 3600.0;
  std::string out_dir = "sim-out";
  int64_t start_utc = 0;  // true UTC (Unix seconds) at virtual time 0
  double clock_ppm = 0.0;
  bool jumper = false;              // debug jumper fitted on pin 28
  std::optional<double> starve_watchdog_s;  // fault: watchdog restarts ignored from then on
  std::string firmware_image;       // empty = the one built with this program
  bool quiet = false;
};

// A bad option value: the message names the option and the value.
struct OptionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// "90s", "20m", "3h", "2d", "1.5h" or plain seconds.
double parse_duration(const std::string& text);
// ISO 8601 UTC: 2026-12-07T14:20:00Z (the Z, and the seconds, may be left out).
int64_t parse_utc(const std::string& text);
std::string format_utc(int64_t unix_s);

constexpr const char* kDefaultStart = "2026-12-07T14:20:00Z";

}  // namespace olas
