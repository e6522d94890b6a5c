#include "olas_records/plots.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <functional>
#include <map>

#include "olas_records/csv.h"
#include "olas_records/svg.h"

namespace olas_records {
namespace {

const double kPi = 3.14159265358979323846;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const int kWidth = 1100;
const double kLeft = 80, kPlotWidth = 760;  // the legend sits to the right of the panels

const char* kBlue = "#1f77b4";
const char* kOrange = "#e8710a";
const char* kGreen = "#2a9d3a";
const char* kPurple = "#8e44ad";
const char* kGrey = "#8a8a8a";

std::string clock_text(int64_t t) {
  std::string iso = iso_utc(t);
  return iso.substr(0, 10) + " " + iso.substr(11, 8) + "Z";
}

// The time of every point, in seconds: the records carry whole seconds, so the points of one
// second are spread evenly over it at the sampling rate (the most common count per second).
std::vector<double> point_times(const std::vector<RawPoint>& raw) {
  std::vector<std::pair<size_t, size_t>> groups;  // [begin, end) of equal time and file
  for (size_t i = 0; i < raw.size();) {
    size_t j = i + 1;
    while (j < raw.size() && raw[j].t == raw[i].t && raw[j].file == raw[i].file) ++j;
    groups.push_back({i, j});
    i = j;
  }
  std::map<size_t, size_t> sizes;
  for (const auto& [b, e] : groups) ++sizes[e - b];
  size_t rate = 1, seen = 0;
  for (const auto& [size, count] : sizes)
    if (count > seen || (count == seen && size > rate)) rate = size, seen = count;

  std::vector<double> t(raw.size(), kNaN);
  for (size_t g = 0; g < groups.size(); ++g) {
    auto [b, e] = groups[g];
    if (!raw[b].t) continue;
    size_t k = e - b, n = std::max(k, rate);
    // a short first second of a run is its end: the run started within it
    bool first = g == 0 || !raw[groups[g - 1].first].t || *raw[groups[g - 1].first].t != *raw[b].t - 1;
    size_t shift = first && k < rate ? rate - k : 0;
    for (size_t i = b; i < e; ++i) t[i] = double(*raw[b].t) + double(i - b + shift) / double(n);
  }
  return t;
}

struct Wave {
  size_t from, to;                 // indices of the start and end points (the restarts)
  const WavRecord* record = nullptr;  // the sensor's record of it, if it kept one
};

// Segments between point-number restarts, matched in order to the WAV records with the same
// number of points (both ends counted) whose minute is that of the segment's end, or one off.
std::vector<Wave> waves_of(const std::vector<RawPoint>& raw, const std::vector<double>& t,
                           const std::vector<WavRecord>& wav) {
  std::vector<size_t> restarts;
  for (size_t i = 1; i < raw.size(); ++i)
    if (raw[i].file == raw[i - 1].file && raw[i].point < raw[i - 1].point) restarts.push_back(i);
  std::vector<Wave> out;
  size_t cursor = 0;
  for (size_t k = 0; k + 1 < restarts.size(); ++k) {
    Wave w{restarts[k], restarts[k + 1]};
    if (raw[w.from].file != raw[w.to].file) continue;
    long points = long(w.to - w.from + 1);
    double end = t[w.to];
    if (!std::isnan(end)) {
      double minute = std::floor(end / 60) * 60;
      for (size_t j = cursor; j < wav.size(); ++j) {
        if (!wav[j].t) continue;
        double wt = double(*wav[j].t);
        if (wt > minute + 60) break;
        if (wt >= minute - 60 && wav[j].points && *wav[j].points == points) {
          w.record = &wav[j];
          cursor = j + 1;
          break;
        }
      }
    }
    out.push_back(w);
  }
  return out;
}

}  // namespace

std::string heave_svg(const std::vector<RawPoint>& raw, const std::vector<WavRecord>& wav,
                      std::optional<int64_t> from, int64_t offset_s, int64_t span_s) {
  std::vector<double> t = point_times(raw);
  if (!from) {
    for (size_t i = 0; i < raw.size() && !from; ++i)
      if (raw[i].t) from = *raw[i].t + offset_s;
    if (!from) throw InputError("no RAW record with a valid time to plot");
  }
  const double w0 = double(*from), w1 = double(*from + span_s);
  auto inside = [&](double v) { return !std::isnan(v) && v >= w0 && v < w1; };

  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  size_t shown = 0;
  for (size_t i = 0; i < raw.size(); ++i)
    if (inside(t[i]) && raw[i].heave_cm) {
      lo = std::min(lo, *raw[i].heave_cm / 100.0);
      hi = std::max(hi, *raw[i].heave_cm / 100.0);
      ++shown;
    }
  if (!shown)
    throw InputError("no RAW record with a heave between " + iso_utc(*from) + " and " + iso_utc(*from + span_s));

  std::vector<Wave> waves = waves_of(raw, t, wav);
  double hmax = 0;
  size_t starts = 0, heights = 0;
  for (const Wave& w : waves) {
    if (!inside(t[w.from]) && !inside(t[w.to])) continue;
    if (inside(t[w.from])) ++starts;
    if (w.record && w.record->height_cm) hmax = std::max(hmax, *w.record->height_cm / 100.0), ++heights;
  }

  Svg svg(kWidth, 600, "Heave and the waves the sensor detected");
  svg.text(kLeft + kPlotWidth / 2, 46,
           clock_text(*from) + " to " + clock_text(*from + span_s).substr(11) + ": " + std::to_string(shown) +
               " points, " + std::to_string(starts) + " wave starts, " + std::to_string(heights) +
               " wave records",
           "middle", 12);
  Panel top{kLeft, 70, kPlotWidth, 300, {}, {}};
  Panel bottom{kLeft, 400, kPlotWidth, 110, {}, {}};
  std::vector<double> yt = nice_ticks(lo, hi, 8);
  double h0 = 0, h1 = hmax > 0 ? hmax : 1;
  std::vector<double> ht = nice_ticks(h0, h1, 3);
  top.x = bottom.x = Scale{w0, w1, kLeft, kLeft + kPlotWidth};
  top.y = Scale{lo, hi, top.top + top.height, top.top};
  bottom.y = Scale{h0, h1, bottom.top + bottom.height, bottom.top};
  std::vector<int64_t> xt = time_ticks(*from, *from + span_s, 10);
  top.time_axis(svg, xt, false, "");
  bottom.time_axis(svg, xt, true, "time (UTC)");
  top.y_axis(svg, yt, yt.size() > 1 && yt[1] - yt[0] < 0.1 ? 2 : 1, "heave (m, as recorded)");
  bottom.y_axis(svg, ht, ht.size() > 1 && ht[1] - ht[0] < 0.1 ? 2 : 1, "wave height (m)");
  if (lo < 0 && hi > 0) svg.line(kLeft, top.y(0), kLeft + kPlotWidth, top.y(0), {"#bbb", "none", "", 1.0});

  Style start_style{kGrey, "none", "4 3", 1.0};
  Style bar_style{kOrange, kOrange, "", 0.8, 0.75};
  svg.begin_group("wave-starts");
  for (const Wave& w : waves)
    if (inside(t[w.from])) svg.line(top.x(t[w.from]), top.top, top.x(t[w.from]), top.top + top.height, start_style);
  svg.end_group();

  svg.begin_group("heave");
  std::vector<std::pair<double, double>> line;
  double previous = kNaN;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (!inside(t[i]) || !raw[i].heave_cm) continue;
    if (!std::isnan(previous) && t[i] - previous > 2.0) line.push_back({kNaN, kNaN});  // a gap in the records
    line.push_back({top.x(t[i]), top.y(*raw[i].heave_cm / 100.0)});
    previous = t[i];
  }
  svg.polyline(line, {kBlue, "none", "", 1.3});
  svg.end_group();

  svg.begin_group("wave-heights");
  for (const Wave& w : waves) {
    if (!w.record || !w.record->height_cm || (!inside(t[w.from]) && !inside(t[w.to]))) continue;
    double a = top.x(std::max(t[w.from], w0)), b = top.x(std::min(t[w.to], w1));
    double h = *w.record->height_cm / 100.0;
    std::string tip = "wave " + std::to_string(w.record->wave) + ": " + hundredths(w.record->height_cm) + " m, " +
                      tenths(w.record->period_ds) + " s (" + w.record->file + ":" + std::to_string(w.record->line) + ")";
    svg.rect(a + 0.5, bottom.y(h), std::max(0.5, b - a - 1.0), bottom.y(0) - bottom.y(h), bar_style, tip);
    if (b - a >= 30) svg.text((a + b) / 2, bottom.y(h) - 3, num(h, 2), "middle", 10);
  }
  svg.end_group();
  top.frame(svg);
  bottom.frame(svg);
  svg.legend(kLeft + kPlotWidth + 20, top.top,
             {{"heave", {kBlue, "none", "", 1.5}, ""},
              {"wave start (point number", start_style, ""},
              {"  restarts in the RAW file)", {"none", "none", "", 0}, ""},
              {"wave height (WAV record)", bar_style, "bar"}});
  return svg.str();
}

std::optional<std::vector<Interval>> intervals_from_summary(const nlohmann::json& summary) {
  if (!summary.is_object() || !summary.contains("intervals")) return std::nullopt;
  const nlohmann::json& list = summary["intervals"];
  if (!list.is_array()) throw InputError("summary.json: \"intervals\" is not a list");
  std::vector<Interval> out;
  for (size_t i = 0; i < list.size(); ++i) {
    const nlohmann::json& e = list[i];
    std::string where = "summary.json: intervals[" + std::to_string(i) + "]";
    auto number = [&](const nlohmann::json& o, const char* key) -> std::optional<double> {
      if (!o.contains(key) || o[key].is_null()) return std::nullopt;
      // no sea state comes near a million metres, seconds or degrees
      if (!o[key].is_number() || !(std::fabs(o[key].get<double>()) < 1e6))
        throw InputError(where + "." + key + " is not a number in range: " + o[key].dump());
      return o[key].get<double>();
    };
    if (!e.is_object() || !e.contains("start") || !e["start"].is_string())
      throw InputError(where + " has no \"start\" time");
    std::optional<int64_t> start = parse_iso_utc(e["start"].get<std::string>());
    if (!start) throw InputError(where + ".start is not an ISO 8601 UTC time: " + e["start"].dump());
    Interval v;
    v.start = v.end = *start;
    if (e.contains("end") && e["end"].is_string()) {
      std::optional<int64_t> end = parse_iso_utc(e["end"].get<std::string>());
      if (!end) throw InputError(where + ".end is not an ISO 8601 UTC time: " + e["end"].dump());
      v.end = *end;
    }
    const char* source = e.contains("card") && e["card"].is_object() ? "card"
                         : e.contains("host") && e["host"].is_object() ? "host" : nullptr;
    if (source) {
      const nlohmann::json& r = e[source];
      Interval::Firmware f;
      f.waves = long(number(r, "waves").value_or(0));
      f.hmax_m = number(r, "hmax_m").value_or(0);
      f.h13_m = number(r, "h13_m").value_or(0);
      f.dir_vel_deg = number(r, "dir_vel_deg");
      f.dir_drift_deg = number(r, "dir_drift_deg");
      v.firmware = f;
    }
    if (e.contains("truth") && e["truth"].is_object()) {
      const nlohmann::json& r = e["truth"];
      v.truth = Interval::Truth{number(r, "hmax_m"), number(r, "h13_m"), number(r, "mean_dir_deg"), number(r, "hm0_m")};
    }
    if (!(e.contains("end") && e["end"].is_string())) v.end = -1;  // filled in below
    out.push_back(v);
  }
  // an interval without an end is given the usual length
  std::vector<int64_t> lengths;
  for (const Interval& v : out)
    if (v.end > v.start) lengths.push_back(v.end - v.start);
  std::sort(lengths.begin(), lengths.end());
  for (Interval& v : out)
    if (v.end < v.start) v.end = v.start + (lengths.empty() ? 1200 : lengths[lengths.size() / 2]);
  return out;
}

std::vector<Interval> intervals_from_records(const std::vector<ResRecord>& card, const std::vector<ResRecord>& host) {
  const std::vector<ResRecord>& use = card.empty() ? host : card;
  std::vector<const ResRecord*> timed;
  for (const ResRecord& r : use)
    if (r.t) timed.push_back(&r);
  // the usual spacing of the records stands for the interval length where a neighbour is missing
  std::vector<int64_t> gaps;
  for (size_t i = 1; i < timed.size(); ++i) gaps.push_back(*timed[i]->t - *timed[i - 1]->t);
  std::sort(gaps.begin(), gaps.end());
  int64_t length = gaps.empty() ? 1200 : gaps[gaps.size() / 2];
  if (length <= 0 || length > 3600) length = 1200;
  std::vector<Interval> out;
  for (size_t i = 0; i < timed.size(); ++i) {
    const ResRecord& r = *timed[i];
    Interval v;
    if (card.empty()) {
      v.end = *r.t;
      v.start = i > 0 && *r.t - *timed[i - 1]->t <= length ? *timed[i - 1]->t : *r.t - length;
    } else {
      v.start = *r.t;
      v.end = i + 1 < timed.size() && *timed[i + 1]->t - *r.t <= length ? *timed[i + 1]->t : *r.t + length;
    }
    Interval::Firmware f;
    f.waves = r.waves;
    f.hmax_m = r.hmax_cm.value_or(0) / 100.0;
    f.h13_m = r.h13_cm.value_or(0) / 100.0;
    if (r.dir_vel_dd) f.dir_vel_deg = *r.dir_vel_dd / 10.0;
    if (r.dir_drift_dd) f.dir_drift_deg = *r.dir_drift_dd / 10.0;
    v.firmware = f;
    out.push_back(v);
  }
  return out;
}

std::string intervals_svg(const std::vector<Interval>& intervals) {
  if (intervals.empty()) throw InputError("no averaging interval to plot");
  int64_t t0 = intervals.front().start, t1 = intervals.front().end;
  bool truth = false;
  size_t without_waves = 0;
  std::vector<double> dirs;
  double hmax = 0;
  for (const Interval& v : intervals) {
    t0 = std::min(t0, v.start);
    t1 = std::max(t1, std::max(v.end, v.start));
    if (v.firmware && v.firmware->waves <= 0) ++without_waves;
    if (v.firmware && v.firmware->waves > 0) {
      hmax = std::max(hmax, v.firmware->hmax_m);
      for (auto d : {v.firmware->dir_vel_deg, v.firmware->dir_drift_deg})
        if (d) dirs.push_back(*d);
    }
    if (v.truth) {
      truth = true;
      for (auto h : {v.truth->hmax_m, v.truth->h13_m})
        if (h) hmax = std::max(hmax, *h);
      if (v.truth->dir_deg) dirs.push_back(*v.truth->dir_deg);
    }
  }
  if (t1 <= t0) t1 = t0 + 600;

  // Directions are drawn unwrapped about their circular mean, so 359 and 1 sit side by side.
  double sx = 0, sy = 0;
  for (double d : dirs) sx += std::cos(d * kPi / 180), sy += std::sin(d * kPi / 180);
  double centre = dirs.empty() ? 180 : std::atan2(sy, sx) * 180 / kPi;
  auto unwrap = [&](double d) { return centre + std::remainder(d - centre, 360.0); };
  double dlo = std::numeric_limits<double>::infinity(), dhi = -dlo;
  for (double d : dirs) dlo = std::min(dlo, unwrap(d)), dhi = std::max(dhi, unwrap(d));
  if (dirs.empty()) dlo = 0, dhi = 360;
  if (dhi - dlo < 20) {  // a few degrees of noise should not fill the panel
    double mid = (dlo + dhi) / 2;
    dlo = mid - 10, dhi = mid + 10;
  }

  Svg svg(kWidth, 640, std::string("Sea state per averaging interval: the firmware's") +
                           (truth ? " against the true sea" : ""));
  svg.text(kLeft + kPlotWidth / 2, 46,
           clock_text(t0) + " to " + clock_text(t1) + ", " + std::to_string(intervals.size()) + " intervals" +
               (without_waves ? ", " + std::to_string(without_waves) + " without waves (no firmware point)" : "") +
               (truth ? "" : " (no truth in summary.json: the firmware's records alone)"),
           "middle", 12);
  Panel heights{kLeft, 70, kPlotWidth, 250, {}, {}};
  Panel direction{kLeft, 360, kPlotWidth, 180, {}, {}};
  heights.x = direction.x = Scale{double(t0), double(t1), kLeft, kLeft + kPlotWidth};
  double h0 = 0, h1 = hmax > 0 ? hmax * 1.05 : 1;
  std::vector<double> ht = nice_ticks(h0, h1, 6);
  std::vector<double> dt = nice_ticks(dlo, dhi, 5);
  heights.y = Scale{h0, h1, heights.top + heights.height, heights.top};
  direction.y = Scale{dlo, dhi, direction.top + direction.height, direction.top};
  std::vector<int64_t> xt = time_ticks(t0, t1, 8);
  heights.time_axis(svg, xt, false, "");
  direction.time_axis(svg, xt, true, "interval (UTC); points at the middle of each");
  heights.y_axis(svg, ht, ht.size() > 1 && ht[1] - ht[0] < 0.1 ? 2 : 1, "wave height (m)");
  direction.y_axis(svg, dt, 0, "mean direction (deg, from)", 360);

  // Interval boundaries, lightly, so partial first intervals show.
  for (const Interval& v : intervals)
    svg.line(heights.x(double(v.start)), heights.top + heights.height - 6, heights.x(double(v.start)),
             heights.top + heights.height, {"#666", "none", "", 1.0});

  struct Series {
    std::string id, label, colour, dash, marker;
    Panel* panel;
    std::function<std::optional<double>(const Interval&)> value;
  };
  auto fw = [](auto get) {
    return [get](const Interval& v) -> std::optional<double> {
      if (!v.firmware || v.firmware->waves <= 0) return std::nullopt;  // an interval without waves has no statistics
      return get(*v.firmware);
    };
  };
  auto tr = [](auto get) {
    return [get](const Interval& v) -> std::optional<double> { return v.truth ? get(*v.truth) : std::nullopt; };
  };
  using F = Interval::Firmware;
  using T = Interval::Truth;
  std::vector<Series> series = {
      {"firmware-h13", "H1/3, firmware", kBlue, "", "circle", &heights, fw([](const F& f) -> std::optional<double> { return f.h13_m; })},
      {"firmware-hmax", "Hmax, firmware", kOrange, "", "square", &heights, fw([](const F& f) -> std::optional<double> { return f.hmax_m; })},
      {"truth-h13", "H1/3, true sea", kBlue, "6 4", "circle", &heights, tr([](const T& t) { return t.h13_m; })},
      {"truth-hmax", "Hmax, true sea", kOrange, "6 4", "square", &heights, tr([](const T& t) { return t.hmax_m; })},
      {"firmware-dir-vel", "direction, firmware (velocity)", kGreen, "", "circle", &direction, fw([](const F& f) { return f.dir_vel_deg; })},
      {"firmware-dir-drift", "direction, firmware (drift)", kPurple, "", "square", &direction, fw([](const F& f) { return f.dir_drift_deg; })},
      {"truth-dir", "mean direction, true sea", "#222", "6 4", "circle", &direction, tr([](const T& t) { return t.dir_deg; })},
  };
  std::vector<LegendEntry> legend;
  for (const Series& s : series) {
    bool is_dir = s.panel == &direction;
    bool any = false;
    for (const Interval& v : intervals) any = any || s.value(v);
    if (!any) continue;
    svg.begin_group(s.id);
    std::vector<std::pair<double, double>> pts;
    bool hollow = s.dash.size() > 0;
    Style line{s.colour, "none", s.dash, 1.6};
    Style mark{s.colour, hollow ? "#fff" : s.colour, "", 1.4};
    for (const Interval& v : intervals) {
      std::optional<double> y = s.value(v);
      if (!y) {
        pts.push_back({kNaN, kNaN});
        continue;
      }
      double yy = is_dir ? unwrap(*y) : *y;
      pts.push_back({s.panel->x((double(v.start) + double(v.end)) / 2), s.panel->y(yy)});
    }
    svg.polyline(pts, line);
    for (size_t i = 0; i < intervals.size(); ++i) {
      if (std::isnan(pts[i].first)) continue;
      std::optional<double> y = s.value(intervals[i]);
      svg.marker(s.marker, pts[i].first, pts[i].second, mark,
                 s.label + " " + clock_text(intervals[i].start) + ": " + num(*y, is_dir ? 1 : 2) + (is_dir ? " deg" : " m"));
    }
    svg.end_group();
    legend.push_back({s.label, line, s.marker});
    legend.back().line.fill = mark.fill;
  }
  heights.frame(svg);
  direction.frame(svg);
  svg.legend(kLeft + kPlotWidth + 20, heights.top, legend);
  return svg.str();
}

}  // namespace olas_records
