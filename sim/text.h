// Host-side helpers written once for the simulator, its tools and its tests: NMEA-style XOR
// checksums, field splitting and civil dates (H. Hinnant's days_from_civil / civil_from_days).
// Header-only, so the small tools need not link the simulator.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// XOR of the characters of a frame between an optional leading '$' and the first '*' (or the end).
inline uint8_t nmea_xor(std::string_view frame) {
  uint8_t x = 0;
  size_t i = !frame.empty() && frame[0] == '$' ? 1 : 0;
  for (; i < frame.size() && frame[i] != '*'; ++i) x = uint8_t(x ^ uint8_t(frame[i]));
  return x;
}

// "$" body "*" two upper-case hex digits of its XOR, CR LF (body without the '$').
inline std::string nmea_sentence(std::string_view body) {
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", nmea_xor(body));
  return "$" + std::string(body) + tail;
}

// The fields between separators; an empty text gives one empty field.
inline std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    size_t at = text.find(sep, from);
    parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

// Days since 1970-01-01 of a proleptic Gregorian date.
inline int64_t days_from_civil(int64_t year, int month, int day) {
  int64_t y = year - (month <= 2 ? 1 : 0);
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

struct CivilDate {
  int year, month, day;
};

inline CivilDate civil_from_days(int64_t days) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  int64_t doe = days - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int d = int(doy - (153 * mp + 2) / 5 + 1);
  int m = int(mp < 10 ? mp + 3 : mp - 9);
  return CivilDate{int(yoe + era * 400 + (m <= 2 ? 1 : 0)), m, d};
}

}  // namespace sim
