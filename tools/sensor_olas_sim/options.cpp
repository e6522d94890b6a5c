#include "sensor_olas_sim/options.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace olas {

double parse_duration(const std::string& text) {
  size_t used = 0;
  double v = 0;
  try {
    v = std::stod(text, &used);
  } catch (const std::exception&) {
    throw OptionError("not a duration: '" + text + "' (use 90s, 20m, 3h or 2d)");
  }
  std::string unit = text.substr(used);
  double scale = 0;
  if (unit.empty() || unit == "s") scale = 1;
  else if (unit == "m" || unit == "min") scale = 60;
  else if (unit == "h") scale = 3600;
  else if (unit == "d") scale = 86400;
  else throw OptionError("not a duration: '" + text + "' (use 90s, 20m, 3h or 2d)");
  if (!std::isfinite(v) || v <= 0) throw OptionError("duration must be positive: '" + text + "'");
  return v * scale;
}

int64_t parse_utc(const std::string& text) {
  int y, mo, d, h = 0, mi = 0, s = 0;
  char tail[8] = {0};
  int n = std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%7s", &y, &mo, &d, &h, &mi, &s, tail);
  bool ok = n >= 5;
  if (n < 6) {
    n = std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d%7s", &y, &mo, &d, &h, &mi, tail);
    ok = n >= 5;
    s = 0;
  }
  std::string t(tail);
  if (!ok || !(t.empty() || t == "Z") || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
      s > 59 || y < 2000 || y > 2099)
    throw OptionError("not a UTC time: '" + text + "' (use 2026-12-07T14:20:00Z)");
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

}  // namespace olas
