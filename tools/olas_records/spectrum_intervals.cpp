#include "olas_records/spectrum_intervals.h"

#include <algorithm>
#include <map>

namespace olas_records {
namespace {

// Points of one time stamp, consecutive in the records.
struct Second {
  std::optional<int64_t> t;
  size_t begin = 0, end = 0;
  bool usable = true;
  size_t count() const { return end - begin; }
};

std::vector<Second> seconds_of(const std::vector<RawPoint>& raw) {
  std::vector<Second> out;
  for (size_t i = 0; i < raw.size(); ++i) {
    const RawPoint& p = raw[i];
    bool usable = p.t && p.heave_cm && p.vel_north_mps && p.vel_east_mps;
    if (out.empty() || !p.t || out.back().t != p.t) out.push_back({p.t, i, i, true});
    out.back().end = i + 1;
    out.back().usable = out.back().usable && usable;
  }
  return out;
}

int64_t floor_to(int64_t t, int64_t step) { return (t >= 0 ? t : t - step + 1) / step * step; }

}  // namespace

std::optional<int> points_per_second(const std::vector<RawPoint>& raw) {
  std::vector<Second> s = seconds_of(raw);
  std::vector<size_t> counts;
  for (size_t i = 1; i + 1 < s.size(); ++i)
    if (s[i].t && s[i - 1].t && s[i + 1].t && *s[i - 1].t + 1 == *s[i].t && *s[i].t + 1 == *s[i + 1].t)
      counts.push_back(s[i].count());
  if (counts.empty()) return std::nullopt;
  std::nth_element(counts.begin(), counts.begin() + std::ptrdiff_t(counts.size() / 2), counts.end());
  return int(counts[counts.size() / 2]);
}

std::vector<SpectrumInterval> spectrum_intervals(const std::vector<RawPoint>& raw, const std::vector<ResRecord>& res,
                                                 int rate) {
  // The RES records' intervals.
  std::map<int64_t, const ResRecord*> starts;
  for (const ResRecord& r : res)
    if (r.t) starts.emplace(*r.t, &r);
  // The usual spacing (a restart or a missing record makes a few others).
  std::vector<int64_t> spacing;
  for (auto it = starts.begin(); it != starts.end() && std::next(it) != starts.end(); ++it)
    spacing.push_back(std::next(it)->first - it->first);
  std::sort(spacing.begin(), spacing.end());
  int64_t length = spacing.empty() ? 1200 : std::clamp<int64_t>(spacing[spacing.size() / 2], 600, 3600);
  std::map<int64_t, SpectrumInterval> intervals;
  for (auto it = starts.begin(); it != starts.end(); ++it) {
    SpectrumInterval v;
    v.start = it->first;
    v.end = it->first + length;
    if (std::next(it) != starts.end()) v.end = std::min(v.end, std::next(it)->first);
    v.from_res = true;
    const ResRecord& r = *it->second;
    if (r.waves > 0 && r.h13_cm) v.firmware_h13_m = double(*r.h13_cm) / 100.0;
    intervals.emplace(v.start, v);
  }
  auto res_interval_at = [&](int64_t t) -> SpectrumInterval* {
    auto it = intervals.upper_bound(t);
    if (it == intervals.begin()) return nullptr;
    --it;
    return t < it->second.end ? &it->second : nullptr;
  };
  auto overlaps_res = [&](int64_t from, int64_t to) {
    auto it = intervals.lower_bound(from);
    if (it != intervals.end() && it->first < to) return true;
    return it != intervals.begin() && std::prev(it)->second.end > from;
  };

  // Seconds that cannot be trusted to hold evenly spaced points.
  std::vector<Second> sec = seconds_of(raw);
  for (Second& s : sec) s.usable = s.usable && s.count() <= size_t(rate) + 1;
  auto linked = [&](size_t i) {  // second i runs on into second i + 1
    return i + 1 < sec.size() && sec[i].usable && sec[i + 1].usable && *sec[i].t + 1 == *sec[i + 1].t;
  };
  std::vector<bool> short_inside(sec.size());
  for (size_t i = 1; i + 1 < sec.size(); ++i)
    short_inside[i] = sec[i].count() + 1 < size_t(rate) && linked(i - 1) && linked(i);
  for (size_t i = 0; i < sec.size(); ++i)
    if (short_inside[i]) sec[i].usable = false;

  // Each point goes to its interval; a stretch ends at a gap or an interval boundary.
  std::map<int64_t, SpectrumInterval> blocks;
  SpectrumInterval* current = nullptr;
  for (size_t i = 0; i < sec.size(); ++i) {
    if (!sec[i].usable) {
      current = nullptr;
      continue;
    }
    int64_t t = *sec[i].t;
    SpectrumInterval* v = res_interval_at(t);
    if (!v) {
      int64_t from = floor_to(t, length);
      if (overlaps_res(from, from + length)) {
        current = nullptr;
        continue;
      }
      auto [it, added] = blocks.try_emplace(from);
      if (added) it->second.start = from, it->second.end = from + length;
      v = &it->second;
    }
    if (v != current) v->stretches.emplace_back();
    current = v;
    Stretch& st = v->stretches.back();
    for (size_t k = sec[i].begin; k < sec[i].end; ++k) {
      st.elevation_m.push_back(-double(*raw[k].heave_cm) / 100.0);
      st.north_mps.push_back(*raw[k].vel_north_mps);
      st.east_mps.push_back(*raw[k].vel_east_mps);
    }
    if (!linked(i)) current = nullptr;
  }
  intervals.merge(blocks);
  std::vector<SpectrumInterval> out;
  for (auto& [start, v] : intervals) out.push_back(std::move(v));
  return out;
}

}  // namespace olas_records
