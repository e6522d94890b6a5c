// Averaging intervals of a run beside their truth (see intervals.h).
#include "sensor_olas_sim/intervals.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "sensor_olas_sim/options.h"
#include "sim/world/host_controller.h"

namespace olas {

namespace {

constexpr size_t kStats = 10;  // waves, Hmax, H1/3, H1/10, Hav, Tmax, Tpeak, T1/3, T1/10, Tav

bool all_digits(const std::string& s) {
  return !s.empty() && s.size() <= 9 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> split_any(const std::string& text, const std::string& seps) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    size_t at = text.find_first_of(seps, from);
    parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

std::optional<ResRecord> from_fields(const std::vector<std::string>& f) {
  size_t dirs = f.size() >= 5 + kStats + 2 ? f.size() - 5 - kStats - 2 : 99;
  if (dirs != 0 && dirs != 2 && dirs != 4) return std::nullopt;
  for (const auto& x : f)
    if (!all_digits(x)) return std::nullopt;
  ResRecord r;
  r.day = std::stoi(f[0]);
  r.month = std::stoi(f[1]);
  r.year = std::stoi(f[2]);
  r.hour = std::stoi(f[3]);
  r.minute = std::stoi(f[4]);
  for (size_t i = 5; i < f.size(); ++i) r.stats.push_back(uint32_t(std::stoul(f[i])));
  return r;
}

// The record's clock time (date and hour:minute) in Unix seconds; nullopt before the clock is set
// (the firmware's date reads 00-00-00) or for an impossible time.
std::optional<int64_t> clock_time(const ResRecord& r) {
  if (r.month < 1 || r.month > 12 || r.day < 1 || r.day > 31 || r.hour > 23 || r.minute > 59) return std::nullopt;
  std::tm tm{};
  tm.tm_year = 100 + r.year;
  tm.tm_mon = r.month - 1;
  tm.tm_mday = r.day;
  tm.tm_hour = r.hour;
  tm.tm_min = r.minute;
  return int64_t(timegm(&tm));
}

nlohmann::json iso_or_null(const std::optional<int64_t>& t) {
  return t ? nlohmann::json(format_utc(*t)) : nlohmann::json(nullptr);
}

}  // namespace

std::optional<ResRecord> parse_res_line(const std::string& line) {
  std::string l = line;
  while (!l.empty() && (l.back() == '\r' || l.back() == '\n')) l.pop_back();
  return from_fields(split_any(l, ", "));
}

std::optional<ResRecord> parse_res_frame(const std::string& frame) {
  std::string f = frame;
  while (!f.empty() && (f.back() == '\r' || f.back() == '\n')) f.pop_back();
  size_t star = f.rfind('*');
  if (f.rfind("$RES,", 0) != 0 || star == std::string::npos || star + 3 != f.size()) return std::nullopt;
  char want[3];
  std::snprintf(want, sizeof want, "%02X", sim::nmea_checksum(f.substr(0, star)));
  if (f.compare(star + 1, 2, want) != 0) return std::nullopt;
  return from_fields(split_any(f.substr(5, star - 5), ","));
}

nlohmann::json record_json(const ResRecord& r, int method) {
  const auto& s = r.stats;
  auto cm = [](uint32_t v) { return v / 100.0; };
  auto tenths = [](uint32_t v) { return v / 10.0; };
  nlohmann::json j = {{"waves", s[0]},          {"hmax_m", cm(s[1])},   {"h13_m", cm(s[2])},
                      {"h110_m", cm(s[3])},     {"hav_m", cm(s[4])},    {"tmax_s", tenths(s[5])},
                      {"tpeak_s", tenths(s[6])}, {"t13_s", tenths(s[7])}, {"t110_s", tenths(s[8])},
                      {"tav_s", tenths(s[9])},  {"dir_vel_deg", nullptr}, {"dir_drift_deg", nullptr},
                      {"spread_vel_deg", nullptr}, {"spread_drift_deg", nullptr}};
  const size_t dirs = s.size() - kStats - 2;
  if (dirs == 4) {
    j["dir_vel_deg"] = tenths(s[kStats]);
    j["dir_drift_deg"] = tenths(s[kStats + 1]);
    j["spread_vel_deg"] = tenths(s[kStats + 2]);
    j["spread_drift_deg"] = tenths(s[kStats + 3]);
  } else if (dirs == 2) {
    const char* which = method == 1 ? "drift" : "vel";
    j[std::string("dir_") + which + "_deg"] = tenths(s[kStats]);
    j[std::string("spread_") + which + "_deg"] = tenths(s[kStats + 1]);
  }
  j["heading_valid_pct"] = s[s.size() - 2];
  j["align_valid_pct"] = s[s.size() - 1];
  return j;
}

nlohmann::json heave_truth(const sim::HeaveRecord& rec, double from_s, double to_s, const sim::SeaTruth& sea) {
  if (!(rec.rate_hz > 0) || rec.heave_m.empty() || !(to_s > from_s)) return nullptr;
  const double lo = std::ceil((from_s - rec.t0_s) * rec.rate_hz), hi = std::floor((to_s - rec.t0_s) * rec.rate_hz);
  if (hi < double(rec.first_k) || lo >= double(rec.end_k())) return nullptr;
  const uint64_t k0 = std::max(rec.first_k, uint64_t(std::max(0.0, lo)));
  const uint64_t k1 = std::min(rec.end_k() - 1, uint64_t(hi));
  if (k1 <= k0) return nullptr;

  double sum = 0, sum2 = 0;
  for (uint64_t k = k0; k <= k1; ++k) sum += rec.at(k);
  const double n = double(k1 - k0 + 1), mean = sum / n;
  for (uint64_t k = k0; k <= k1; ++k) sum2 += (rec.at(k) - mean) * (rec.at(k) - mean);

  // Zero up-crossing waves of the heave about its mean: crossing instants interpolated.
  std::vector<double> heights;
  double first_cross = 0, last_cross = 0, hmax = 0, hmin = 0;
  bool crossed = false;
  for (uint64_t k = k0; k < k1; ++k) {
    const double a = rec.at(k) - mean, b = rec.at(k + 1) - mean;
    if (a < 0 && b >= 0) {
      const double t = rec.time(k) + (-a / (b - a)) / rec.rate_hz;
      if (crossed) heights.push_back(hmax - hmin);
      else first_cross = t;
      crossed = true;
      last_cross = t;
      hmax = hmin = b;
    } else if (crossed) {
      hmax = std::max(hmax, b);
      hmin = std::min(hmin, b);
    }
  }
  std::sort(heights.begin(), heights.end(), std::greater<double>());
  auto top_mean = [&](size_t parts) {
    size_t m = (heights.size() + parts - 1) / parts;
    double s = 0;
    for (size_t i = 0; i < m; ++i) s += heights[i];
    return m ? s / double(m) : 0.0;
  };
  const size_t waves = heights.size();
  return {{"from_s", from_s},
          {"to_s", to_s},
          {"waves", waves},
          {"hm0_m", 4 * std::sqrt(sum2 / n)},
          {"h13_m", top_mean(3)},
          {"h110_m", top_mean(10)},
          {"hmax_m", waves ? heights.front() : 0.0},
          {"tz_s", waves ? (last_cross - first_cross) / double(waves) : 0.0},
          {"tp_s", sea.tp_s},
          {"mean_dir_deg", sea.mean_dir_deg}};
}

nlohmann::json build_intervals(const std::vector<ResArrival>& host, const std::vector<std::string>& card_lines,
                               int card_method, int64_t start_utc) {
  struct Card {
    ResRecord r;
    std::optional<int64_t> start;
    bool used = false;
  };
  std::vector<Card> cards;
  for (const auto& line : card_lines) {
    auto r = parse_res_line(line);
    if (!r) continue;
    Card c{*r, clock_time(*r), false};
    // The date is the one at the interval's end: an interval begun at 23:59 ends the next day.
    if (c.start && r->hour == 23 && r->minute == 59) *c.start -= 86400;
    cards.push_back(c);
  }

  struct Item {
    std::optional<double> key;  // virtual seconds
    nlohmann::json j;
  };
  std::vector<Item> items;
  for (const auto& h : host) {
    auto r = parse_res_frame(h.frame);
    if (!r) continue;
    const auto end = clock_time(*r);
    // The card line of this interval: the latest unused one begun before its end, within an hour.
    Card* card = nullptr;
    if (end)
      for (auto& c : cards)
        if (!c.used && c.start && *c.start < *end && *end - *c.start <= 61 * 60 && (!card || *c.start > *card->start))
          card = &c;
    std::optional<int64_t> start;
    if (card) {
      card->used = true;
      start = card->start;
    } else if (end) {
      start = *end - 60 * std::llround((h.t_s - h.from_s) / 60.0);
    }
    items.push_back({h.t_s,
                     {{"start", iso_or_null(start)},
                      {"end", iso_or_null(end)},
                      {"card", card ? record_json(card->r, h.method) : nlohmann::json(nullptr)},
                      {"host", record_json(*r, h.method)},
                      {"truth", h.truth}}});
  }
  for (const auto& c : cards) {
    if (c.used) continue;
    // placed just after the interval before it, by the clock (near enough to true time)
    std::optional<double> key;
    if (c.start) key = double(*c.start - start_utc) + 1.0;
    items.push_back({key,
                     {{"start", iso_or_null(c.start)},
                      {"end", nullptr},
                      {"card", record_json(c.r, card_method)},
                      {"host", nullptr},
                      {"truth", nullptr}}});
  }
  // Time order; card lines written before the clock was set come last.
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    if (!a.key || !b.key) return a.key && !b.key;
    return *a.key < *b.key;
  });
  nlohmann::json out = nlohmann::json::array();
  for (auto& i : items) out.push_back(std::move(i.j));
  return out;
}

}  // namespace olas
