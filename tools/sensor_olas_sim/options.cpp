#include "sensor_olas_sim/options.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>
#include "sim/text.h"

namespace olas {

double parse_span(const std::string& text) {
  size_t unit_at = text.size();
  while (unit_at > 0 && std::isalpha(static_cast<unsigned char>(text[unit_at - 1]))) --unit_at;
  const std::string number = text.substr(0, unit_at), unit = text.substr(unit_at);
  double scale = 0;
  if (unit.empty() || unit == "s") scale = 1;
  else if (unit == "m" || unit == "min") scale = 60;
  else if (unit == "h") scale = 3600;
  else if (unit == "d") scale = 86400;
  double v = 0;
  if (scale == 0 || !is_decimal(number) || !to_double(number, &v))
    throw OptionError("not a duration: '" + text + "' (use 90s, 20m, 3h or 2d)");
  if (v < 0) throw OptionError("duration must not be negative: '" + text + "'");
  if (v * scale > kMaxDurationS) throw OptionError("duration too long: '" + text + "' (at most 366d)");
  return v * scale;
}

namespace {

using sim::split;

sim::sbg::LogId log_named(const std::string& name) {
  for (auto id : sim::MotionUnitConfig::kLogs)
    if (name == log_name(id)) return id;
  throw OptionError("unknown log '" + name + "' (use euler, nav or ship)");
}

}  // namespace

double parse_number(const std::string& text, double lo, double hi, const std::string& what) {
  double v = 0;
  if (!is_decimal(text) || !to_double(text, &v)) throw OptionError(what + " is not a number: '" + text + "'");
  if (v < lo || v > hi) {
    char range[64];
    std::snprintf(range, sizeof range, " (%g..%g)", lo, hi);
    throw OptionError(what + " out of range: '" + text + "'" + range);
  }
  return v;
}

bool is_decimal(const std::string& text) {
  size_t i = 0, n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exp = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++exp;
    if (exp == 0) return false;
  }
  return i == n;
}

bool to_double(const std::string& text, double* v) {
  try {
    *v = std::stod(text);
  } catch (const std::exception&) {
    return false;  // out of range of a double
  }
  return std::isfinite(*v);
}

double parse_clock_ppm(const std::string& text) {
  return parse_number(text, -kMaxClockPpm, kMaxClockPpm, "oscillator error (ppm)");
}

double parse_duration(const std::string& text) {
  double v = parse_span(text);
  if (v <= 0) throw OptionError("duration must be positive: '" + text + "'");
  return v;
}

int64_t parse_utc(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  // the exact shape, digits where digits go: sscanf alone would take spaces and signs
  const bool with_seconds = text.size() >= 19 && text[16] == ':';
  const std::string shape = with_seconds ? "dddd-dd-ddTdd:dd:dd" : "dddd-dd-ddTdd:dd";
  bool ok = text.size() == shape.size() || (text.size() == shape.size() + 1 && text.back() == 'Z');
  for (size_t i = 0; ok && i < shape.size(); ++i)
    ok = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(text[i])) != 0 : text[i] == shape[i];
  if (ok) {
    std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d", &y, &mo, &d, &h, &mi);
    if (with_seconds) s = std::atoi(text.c_str() + 17);
  }
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
  if (!ok || mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] || (mo == 2 && d == 29 && !leap) || h > 23 ||
      mi > 59 || s > 59 || y < 2000 || y > 2099)
    throw OptionError("not a UTC time: '" + text + "' (use 2026-12-07T14:20:00Z, a real date in 2000..2099)");
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return int64_t(timegm(&tm));
}

std::string format_utc(int64_t unix_s) {
  std::time_t t = std::time_t(unix_s);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

const char* log_name(sim::sbg::LogId id) {
  switch (id) {
    case sim::sbg::LogId::EkfEuler: return "euler";
    case sim::sbg::LogId::EkfNav: return "nav";
    case sim::sbg::LogId::ShipMotion: return "ship";
  }
  return "?";
}

sim::SeaConfig parse_sea(const std::string& text, sim::SeaConfig sea) {
  if (text == "calm") {
    sea.hs_m = 0;
    return sea;
  }
  for (const std::string& item : split(text, ',')) {
    size_t eq = item.find('=');
    if (eq == std::string::npos)
      throw OptionError("expected KEY=VALUE, got '" + item + "' (keys hs, tp, dir, spread, gamma; or calm)");
    std::string key = item.substr(0, eq), value = item.substr(eq + 1);
    if (key == "hs") sea.hs_m = parse_number(value, 0, 30, "hs");
    else if (key == "tp") sea.tp_s = parse_number(value, 1, 30, "tp");
    else if (key == "dir") sea.dir_from_deg = parse_number(value, 0, 360, "dir");
    else if (key == "spread") sea.spread_deg = parse_number(value, 0, sim::Sea::kMaxSpreadDeg, "spread");
    else if (key == "gamma") sea.gamma = parse_number(value, 1, 20, "gamma");
    else throw OptionError("unknown key '" + key + "' (keys hs, tp, dir, spread, gamma; or calm)");
  }
  return sea;
}

uint64_t parse_seed(const std::string& text) {
  bool digits = !text.empty() && text.size() <= 20 &&
                std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  try {
    if (digits) return std::stoull(text);
  } catch (const std::exception&) {
  }
  throw OptionError("not a seed (a whole number 0..2^64-1): '" + text + "'");
}

double parse_rate(const std::string& text) {
  double v = parse_number(text, 1, sim::MotionUnitConfig::kMaxRateHz, "rate");
  if (v != std::floor(v)) throw OptionError("rate must be a whole number of samples/s: '" + text + "'");
  return v;
}

void parse_drift(const std::string& text, sim::SeaConfig& sea) {
  auto parts = split(text, ',');
  if (parts.size() != 2) throw OptionError("expected SPEED,DIR (m/s, degrees toward), got '" + text + "'");
  sea.drift_mps = parse_number(parts[0], 0, 5, "drift speed");
  sea.drift_toward_deg = parse_number(parts[1], 0, 360, "drift direction");
}

double parse_probability(const std::string& text) { return parse_number(text, 0, 1, "probability"); }

std::array<double, 3> parse_missing(const std::string& text) {
  std::array<double, 3> p = {0, 0, 0};
  for (const std::string& item : split(text, ',')) {
    size_t colon = item.find(':');
    sim::sbg::LogId id = log_named(item.substr(0, colon));
    p[size_t(sim::MotionUnitConfig::log_index(id))] =
        colon == std::string::npos ? 1.0 : parse_probability(item.substr(colon + 1));
  }
  return p;
}

sim::MotionUnitConfig::Silence parse_silence(const std::string& text) {
  size_t plus = text.find('+');
  if (plus == std::string::npos) throw OptionError("expected FROM+DURATION (e.g. 5m+30s), got '" + text + "'");
  double from = parse_span(text.substr(0, plus));
  double duration = parse_duration(text.substr(plus + 1));
  return {from, duration};
}

std::array<sim::sbg::LogId, 3> parse_log_order(const std::string& text) {
  auto parts = split(text, ',');
  if (parts.size() != 3) throw OptionError("expected the three logs in order (e.g. euler,nav,ship), got '" + text + "'");
  std::array<sim::sbg::LogId, 3> order{};
  for (size_t i = 0; i < 3; ++i) {
    order[i] = log_named(parts[i]);
    if (std::count(order.begin(), order.begin() + std::ptrdiff_t(i), order[i]))
      throw OptionError("log '" + parts[i] + "' named twice in '" + text + "'");
  }
  return order;
}

}  // namespace olas
