#include "olas_records/records.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "zrx03/frames.h"
#include "sim/text.h"

namespace olas_records {
namespace {

namespace fs = std::filesystem;

using sim::split;

bool all_digits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

using sim::days_from_civil;

bool valid_date(int year, int month, int day) {
  static const int days_in[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > days_in[month - 1]) return false;
  return month != 2 || day <= 28 || (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0));
}

// Two-digit date and time fields, year within the century. All zero means no clock; a date that
// is not a calendar date gives no time either.
std::optional<int64_t> record_time(long yy, long mo, long dd, long hh, long mi, long ss) {
  if (yy == 0 && mo == 0 && dd == 0 && hh == 0 && mi == 0 && ss == 0) return std::nullopt;
  if (!valid_date(int(2000 + yy), int(mo), int(dd)) || hh > 23 || mi > 59 || ss > 59) return std::nullopt;
  return epoch_seconds(int(2000 + yy), int(mo), int(dd), int(hh), int(mi), int(ss));
}

// The two-character date and time fields at v[0..count-1]; false if any is not two digits.
bool date_fields(const std::vector<std::string>& v, size_t count, long* out) {
  if (v.size() < count) return false;
  for (size_t i = 0; i < count; ++i) {
    if (v[i].size() != 2 || !all_digits(v[i])) return false;
    out[i] = std::strtol(v[i].c_str(), nullptr, 10);
  }
  return true;
}

// A sign character and "%010.4f", or the clamp text of a velocity out of range (none).
std::optional<double> velocity(const std::string& s) {
  if (s.size() != 11 || (s[0] != ' ' && s[0] != '-')) return std::nullopt;
  std::string mag = s.substr(1);
  if (mag == "99999.9999") return std::nullopt;
  char* end = nullptr;
  double v = std::strtod(mag.c_str(), &end);
  if (end != mag.c_str() + mag.size() || mag.find_first_not_of("0123456789.") != std::string::npos)
    return std::nullopt;
  return s[0] == '-' ? -v : v;
}

Opt signed_heave(const std::string& s) {
  if (s.size() < 2 || (s[0] != ' ' && s[0] != '-')) return std::nullopt;
  Opt v = field_number(s.substr(1));
  if (v && s[0] == '-') return -*v;
  return v;
}

// A direction or spread in tenths of a degree; 9999 marks a method not in force.
Opt direction(const std::string& s) {
  Opt v = field_number(s);
  return v && *v == 9999 ? std::nullopt : v;
}

std::vector<std::string> read_lines(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) throw InputError("cannot read '" + path + "': it is a directory");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError("cannot read '" + path + "': " + std::strerror(errno));
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    lines.push_back(line);
  }
  if (in.bad()) throw InputError("cannot read '" + path + "': read error");
  return lines;
}

// The averaged statistics from `waves` on: 10 numbers, the directions and spreads (none, one
// method or both), the two flag fields. False when the count fits none of these.
bool averaged_fields(const std::vector<std::string>& f, Method single, ResRecord& r) {
  size_t n = f.size();
  if (n != 12 && n != 14 && n != 16) return false;
  Opt w = field_number(f[0]);
  if (!w) return false;
  r.waves = *w;
  Opt* stats[] = {&r.hmax_cm, &r.h13_cm, &r.h110_cm, &r.hav_cm, &r.tmax_ds,
                  &r.tpeak_ds, &r.t13_ds, &r.t110_ds, &r.tav_ds};
  for (size_t i = 0; i < 9; ++i) *stats[i] = field_number(f[1 + i]);
  if (n == 14) {
    bool vel = single == Method::velocity;
    (vel ? r.dir_vel_dd : r.dir_drift_dd) = direction(f[10]);
    (vel ? r.spread_vel_dd : r.spread_drift_dd) = direction(f[11]);
  } else if (n == 16) {
    r.dir_vel_dd = direction(f[10]);
    r.dir_drift_dd = direction(f[11]);
    r.spread_vel_dd = direction(f[12]);
    r.spread_drift_dd = direction(f[13]);
  }
  Opt hi = field_number(f[n - 2]), lo = field_number(f[n - 1]);
  if (r.waves == 0) {
    // an interval without waves carries the discarded-wave count there, starting at 65535
    if (hi && lo) {
      long c = (*hi * 256 + *lo) & 0xFFFF;
      r.discarded_waves = c == 0xFFFF ? 0 : c + 1;
    }
  } else {
    r.heading_valid_pct = hi;
    r.align_valid_pct = lo;
  }
  return true;
}

// "YYMMDD/HHMM.ext" of a card file: the time its file was opened, if the path says it.
std::optional<int64_t> file_time(const std::string& path) {
  fs::path p(path);
  std::string day = p.parent_path().filename().string(), hm = p.stem().string();
  if (day.size() != 6 || hm.size() != 4 || !all_digits(day) || !all_digits(hm)) return std::nullopt;
  auto n = [](const std::string& s, size_t at) { return std::strtol(s.substr(at, 2).c_str(), nullptr, 10); };
  return record_time(n(day, 0), n(day, 2), n(day, 4), n(hm, 0), n(hm, 2), 0);
}

}  // namespace

int64_t epoch_seconds(int year, int month, int day, int hour, int minute, int second) {
  return days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string iso_utc(int64_t t) {
  int64_t days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
  int64_t secs = t - days * 86400;
  // civil_from_days
  int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = int64_t(yoe) + era * 400 + (m <= 2);
  char b[40];
  std::snprintf(b, sizeof b, "%04lld-%02u-%02uT%02d:%02d:%02dZ", static_cast<long long>(y), m, d,
                int(secs / 3600), int(secs / 60 % 60), int(secs % 60));
  return b;
}

std::optional<int64_t> parse_iso_utc(const std::string& s) {
  int y, mo, d, h, mi, sec = 0;
  char z = 0;
  int used = 0;
  if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &y, &mo, &d, &h, &mi, &sec, &z, &used) == 7 &&
      z == 'Z' && size_t(used) == s.size()) {
  } else if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d%c%n", &y, &mo, &d, &h, &mi, &z, &used) == 6 &&
             z == 'Z' && size_t(used) == s.size()) {
    sec = 0;
  } else {
    return std::nullopt;
  }
  if (!valid_date(y, mo, d) || h > 23 || mi > 59 || sec > 59) return std::nullopt;
  return epoch_seconds(y, mo, d, h, mi, sec);
}

Opt field_number(const std::string& s) {
  if (s.empty() || s.size() > 9) return std::nullopt;
  long lead;
  if (s[0] >= '0' && s[0] <= '9') {
    lead = s[0] - '0';
  } else if (s[0] >= 'A' && s[0] <= 'F') {
    lead = s[0] - 'A' + 10;
  } else {
    return std::nullopt;
  }
  std::string rest = s.substr(1);
  if (!rest.empty() && !all_digits(rest)) return std::nullopt;
  long scale = 1;
  for (size_t i = 0; i < rest.size(); ++i) scale *= 10;
  return lead * scale + (rest.empty() ? 0 : std::strtol(rest.c_str(), nullptr, 10));
}

void Issues::report(const std::string& file, long line, const std::string& what, bool checksum) {
  long& n = checksum ? bad_checksum : malformed;
  ++n;
  const long listed = 20;  // the first ones are enough to find the trouble
  if (malformed + bad_checksum <= listed)
    std::fprintf(stderr, "olas_records: %s:%ld: %s\n", file.c_str(), line, what.c_str());
  else if (malformed + bad_checksum == listed + 1)
    std::fprintf(stderr, "olas_records: further skipped lines are counted, not listed\n");
}

std::vector<RawPoint> read_raw(const std::string& path, const std::string& name, Issues& issues) {
  std::vector<RawPoint> out;
  std::vector<std::string> lines = read_lines(path);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    std::vector<std::string> f = split(lines[i], ',');
    long d[6];
    Opt point = f.size() == 13 ? field_number(f[6]) : std::nullopt;
    if (f.size() != 13 || !date_fields(f, 6, d) || !point) {
      issues.report(name, long(i + 1), "not a RAW point record: '" + lines[i].substr(0, 80) + "'");
      continue;
    }
    RawPoint p;
    p.t = record_time(d[2], d[1], d[0], d[3], d[4], d[5]);
    p.point = *point;
    p.heading_deg = field_number(f[7]);
    p.heave_cm = signed_heave(f[8]);
    p.vel_north_mps = velocity(f[9]);
    p.vel_east_mps = velocity(f[10]);
    p.heading_valid = field_number(f[11]);
    p.align_valid = field_number(f[12]);
    p.file = name;
    p.line = long(i + 1);
    out.push_back(p);
  }
  return out;
}

std::vector<WavRecord> read_wav(const std::string& path, const std::string& name, Method single,
                                Issues& issues) {
  std::vector<WavRecord> out;
  std::vector<std::string> lines = read_lines(path);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    std::vector<std::string> f = split(lines[i], ',');
    std::vector<std::string> s = f.size() == 6 ? split(f[5], ' ') : std::vector<std::string>{};
    long d[5];
    size_t n = s.size();
    Opt wave = n ? field_number(s[0]) : std::nullopt;
    if (f.size() != 6 || !date_fields(f, 5, d) || n < 6 || n > 8 || !wave) {
      issues.report(name, long(i + 1), "not a WAV wave record: '" + lines[i].substr(0, 80) + "'");
      continue;
    }
    WavRecord w;
    w.t = record_time(d[2], d[1], d[0], d[3], d[4], 0);
    w.wave = *wave;
    w.height_cm = field_number(s[1]);
    w.period_ds = field_number(s[2]);
    w.points = field_number(s[3]);
    if (n == 7) (single == Method::velocity ? w.dir_vel_dd : w.dir_drift_dd) = direction(s[4]);
    if (n == 8) {
      w.dir_vel_dd = direction(s[4]);
      w.dir_drift_dd = direction(s[5]);
    }
    w.heading_valid_pct = field_number(s[n - 2]);
    w.align_valid_pct = field_number(s[n - 1]);
    w.file = name;
    w.line = long(i + 1);
    out.push_back(w);
  }
  return out;
}

std::vector<ResRecord> read_res(const std::string& path, const std::string& name, Method single,
                                Issues& issues) {
  std::vector<ResRecord> out;
  std::vector<std::string> lines = read_lines(path);
  std::optional<int64_t> previous = file_time(path);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    std::vector<std::string> f = split(lines[i], ',');
    ResRecord r;
    long d[5];
    if (f.size() != 6 || !date_fields(f, 5, d) || !averaged_fields(split(f[5], ' '), single, r)) {
      issues.report(name, long(i + 1), "not a RES interval record: '" + lines[i].substr(0, 100) + "'");
      continue;
    }
    // The date is the clock's at the interval's end, the time its start: an interval that
    // started before midnight carries the next day's date.
    r.t = record_time(d[2], d[1], d[0], d[3], d[4], 0);
    if (r.t && previous && d[3] == 23 && *r.t - 86400 >= *previous) *r.t -= 86400;
    if (r.t) previous = r.t;
    r.file = name;
    r.line = long(i + 1);
    out.push_back(r);
  }
  return out;
}

void read_host_log(const std::string& path, const std::string& name, Method single,
                   std::vector<ResRecord>& res, std::vector<GpsFix>& gps, Issues& issues) {
  std::vector<std::string> lines = read_lines(path);
  for (size_t i = 0; i < lines.size(); ++i) {
    size_t at = lines[i].find('$');
    if (at == std::string::npos) continue;
    std::string frame = lines[i].substr(at);
    bool is_res = frame.rfind("$RES,", 0) == 0, is_gps = frame.rfind("$GPS,", 0) == 0;
    if (!is_res && !is_gps) continue;  // commands' answers and other traffic
    long number = long(i + 1);
    size_t star = frame.find('*');
    if (star == std::string::npos) {
      issues.report(name, number, "frame without a checksum: '" + frame.substr(0, 100) + "'");
      continue;
    }
    zrx03::Check ck = zrx03::check_frame(frame);
    if (!ck.right) {
      issues.report(name, number, "checksum '" + ck.given + "', should be " + ck.expected + ": '" +
                    frame.substr(0, 100) + "'", true);
      continue;
    }
    std::vector<std::string> f = split(frame.substr(5, star - 5), ',');
    if (is_res) {
      ResRecord r;
      long d[5];
      if (f.size() < 5 || !date_fields(f, 5, d) ||
          !averaged_fields(std::vector<std::string>(f.begin() + 5, f.end()), single, r)) {
        issues.report(name, number, "not a RES frame: '" + frame.substr(0, 100) + "'");
        continue;
      }
      r.t = record_time(d[2], d[1], d[0], d[3], d[4], 0);
      r.file = name;
      r.line = number;
      res.push_back(r);
    } else {
      long d[6];
      if (f.size() != 18 || !date_fields(f, 6, d)) {
        issues.report(name, number, "not a GPS frame: '" + frame.substr(0, 100) + "'");
        continue;
      }
      GpsFix g;
      g.t = record_time(d[0], d[1], d[2], d[3], d[4], d[5]);
      g.satellites = field_number(f[6]);
      auto coordinate = [](const std::string& deg, const std::string& min, const std::string& dec,
                           const std::string& side, char positive, char negative) -> std::optional<double> {
        Opt a = field_number(deg), b = field_number(min), c = field_number(dec);
        if (!a || !b || !c || dec.size() != 5 || (side != std::string(1, positive) && side != std::string(1, negative)))
          return std::nullopt;
        double v = double(*a) + (double(*b) + double(*c) / 1e5) / 60.0;
        return side[0] == negative ? -v : v;
      };
      g.lat_deg = coordinate(f[7], f[8], f[9], f[10], 'N', 'S');
      g.lon_deg = coordinate(f[11], f[12], f[13], f[14], 'E', 'W');
      g.pdop = field_number(f[15]);
      g.hdop = field_number(f[16]);
      g.vdop = field_number(f[17]);
      g.file = name;
      g.line = number;
      gps.push_back(g);
    }
  }
}

}  // namespace olas_records
