#include "olas_records/spectrum_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>

#include "olas_records/records.h"
#include "olas_records/svg.h"

namespace olas_records {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string fixed(std::optional<double> v, int decimals) {
  if (!v || !std::isfinite(*v)) return "";
  char b[48];
  std::snprintf(b, sizeof b, "%.*f", decimals, *v);
  return b;
}

std::string general(double v) {
  char b[48];
  std::snprintf(b, sizeof b, "%.6g", v);
  return b;
}

std::ofstream open(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  if (!out) throw InputError("cannot write '" + path + "'");
  return out;
}

void close(std::ofstream& out, const std::string& path) {
  out.flush();
  if (!out) throw InputError("cannot write '" + path + "'");
}

std::string clock_text(int64_t t) {
  std::string iso = iso_utc(t);
  return iso.substr(0, 10) + " " + iso.substr(11, 5) + "Z";
}

// Low to high energy: a perceptually ordered ramp (pale yellow, green, blue, dark violet).
std::string ramp(double level) {
  static const double stops[][3] = {{255, 255, 217}, {127, 205, 187}, {29, 145, 192}, {37, 52, 148}, {40, 10, 70}};
  level = std::clamp(level, 0.0, 1.0) * 4;
  size_t i = std::min<size_t>(3, size_t(level));
  double f = level - double(i);
  char b[16];
  std::snprintf(b, sizeof b, "#%02x%02x%02x", int(stops[i][0] + f * (stops[i + 1][0] - stops[i][0])),
                int(stops[i][1] + f * (stops[i + 1][1] - stops[i][1])),
                int(stops[i][2] + f * (stops[i + 1][2] - stops[i][2])));
  return b;
}

}  // namespace

size_t write_spectrum_csv(const std::string& path, const std::vector<SpectrumRow>& rows) {
  std::ofstream out = open(path);
  out << "start_utc,hm0_m,tp_s,tm01_s,tm02_s,dm_deg,dp_deg,spread_deg,end_utc,samples,stretches,segments,edf,"
         "firmware_h13_m\n";
  for (const SpectrumRow& r : rows) {
    out << iso_utc(r.start);
    const BulkFigures* b = r.bulk ? &*r.bulk : nullptr;
    auto cell = [&](double BulkFigures::*field, int decimals) {
      out << "," << (b ? fixed(b->*field, decimals) : "");
    };
    cell(&BulkFigures::hm0_m, 3);
    cell(&BulkFigures::tp_s, 2);
    cell(&BulkFigures::tm01_s, 2);
    cell(&BulkFigures::tm02_s, 2);
    cell(&BulkFigures::dm_deg, 1);
    cell(&BulkFigures::dp_deg, 1);
    cell(&BulkFigures::spread_deg, 1);
    out << "," << iso_utc(r.end) << "," << r.samples << "," << r.stretches << "," << r.spectrum.segments << ","
        << fixed(r.spectrum.segments ? std::optional<double>(r.spectrum.edf) : std::nullopt, 1) << ","
        << fixed(r.firmware_h13_m, 2) << "\n";
  }
  close(out, path);
  return rows.size();
}

size_t write_spectrum_bins_csv(const std::string& path, const std::vector<SpectrumRow>& rows, double fmin_hz,
                               double fmax_hz) {
  std::ofstream out = open(path);
  out << "start_utc,freq_hz,density_m2hz,a1,b1,a2,b2\n";
  size_t n = 0;
  for (const SpectrumRow& r : rows) {
    const Spectrum& s = r.spectrum;
    std::string start = iso_utc(r.start);
    for (size_t k = 0; k < s.freq_hz.size(); ++k) {
      if (s.freq_hz[k] < fmin_hz || s.freq_hz[k] > fmax_hz) continue;
      out << start << "," << fixed(s.freq_hz[k], 5) << "," << general(s.density_m2hz[k]) << "," << fixed(s.a1[k], 4)
          << "," << fixed(s.b1[k], 4) << "," << fixed(s.a2[k], 4) << "," << fixed(s.b2[k], 4) << "\n";
      ++n;
    }
  }
  close(out, path);
  return n;
}

std::string spectrum_svg(const std::vector<SpectrumRow>& rows, double fmin_hz, double fmax_hz) {
  if (rows.empty()) throw InputError("no averaging interval to plot");
  const double left = 80, width = 760;
  int64_t t0 = rows.front().start, t1 = rows.back().end;
  double top = 0, hmax = 0;
  bool truth = false, firmware = false;
  for (const SpectrumRow& r : rows) {
    t1 = std::max(t1, r.end);
    for (size_t k = 0; k < r.spectrum.freq_hz.size(); ++k)
      if (r.spectrum.freq_hz[k] >= fmin_hz && r.spectrum.freq_hz[k] <= fmax_hz)
        top = std::max(top, r.spectrum.density_m2hz[k]);
    for (std::optional<double> h : {r.bulk ? std::optional<double>(r.bulk->hm0_m) : std::nullopt,
                                    r.firmware_h13_m, r.truth_hm0_m})
      if (h) hmax = std::max(hmax, *h);
    truth = truth || r.truth_hm0_m;
    firmware = firmware || r.firmware_h13_m;
  }
  // The energy is drawn on a log scale over three decades below the highest bin.
  const double decades = 3, floor_log = top > 0 ? std::log10(top) - decades : 0;

  Svg svg(1100, 700, "Energy density per averaging interval (Welch), and the significant wave height");
  svg.text(left + width / 2, 46,
           clock_text(t0) + " to " + clock_text(t1) + ", " + std::to_string(rows.size()) + " intervals" +
               (truth ? "" : " (no true Hm0 in summary.json)"),
           "middle", 12);
  Panel density{left, 70, width, 330, {}, {}};
  Panel heights{left, 450, width, 180, {}, {}};
  density.x = heights.x = Scale{double(t0), double(t1), left, left + width};
  // Frequencies up to where the energy fades below the colour scale, not the whole band.
  double f0 = fmin_hz, f1 = fmin_hz;
  for (const SpectrumRow& r : rows)
    for (size_t k = 0; k < r.spectrum.freq_hz.size(); ++k)
      if (r.spectrum.freq_hz[k] <= fmax_hz && r.spectrum.density_m2hz[k] > 0 &&
          std::log10(r.spectrum.density_m2hz[k]) > floor_log)
        f1 = std::max(f1, r.spectrum.freq_hz[k]);
  f1 = f1 > f0 ? std::min(fmax_hz, f1 * 1.1) : fmax_hz;
  std::vector<double> ft = nice_ticks(f0, f1, 6);
  density.y = Scale{f0, f1, density.top + density.height, density.top};
  double h0 = 0, h1 = hmax > 0 ? hmax * 1.1 : 1;
  std::vector<double> ht = nice_ticks(h0, h1, 5);
  heights.y = Scale{h0, h1, heights.top + heights.height, heights.top};
  std::vector<int64_t> xt = time_ticks(t0, t1, 8);

  svg.begin_group("density");
  for (const SpectrumRow& r : rows) {
    const Spectrum& s = r.spectrum;
    double x0 = density.x(double(r.start)), x1 = density.x(double(r.end));
    for (size_t k = 0; k < s.freq_hz.size(); ++k) {
      double lo = std::max(f0, s.freq_hz[k] - s.df_hz / 2), hi = std::min(f1, s.freq_hz[k] + s.df_hz / 2);
      if (hi <= lo || !(s.density_m2hz[k] > 0)) continue;
      double level = (std::log10(s.density_m2hz[k]) - floor_log) / decades;
      if (level <= 0) continue;
      std::string c = ramp(level);
      svg.rect(x0, density.y(hi), x1 - x0, density.y(lo) - density.y(hi), {"none", c, "", 0});
    }
  }
  svg.end_group();
  density.time_axis(svg, xt, false, "");
  density.y_axis(svg, ft, 2, "frequency (Hz)");

  svg.begin_group("peak");
  for (const SpectrumRow& r : rows) {
    if (!r.bulk || !(r.bulk->tp_s > 0)) continue;
    const BulkFigures& b = *r.bulk;
    double f = 1 / b.tp_s;
    if (f < f0 || f > f1) continue;
    svg.marker("circle", density.x((double(r.start) + double(r.end)) / 2), density.y(f), {"#d62728", "#fff", "", 1.4},
               clock_text(r.start) + ": Hm0 " + num(b.hm0_m, 2) + " m, Tp " + num(b.tp_s, 1) + " s, Tm02 " +
                   num(b.tm02_s, 1) + " s, mean direction " + num(b.dm_deg, 0) + " deg, spread " +
                   num(b.spread_deg, 0) + " deg" +
                   (r.stretches > 1 ? ", from " + std::to_string(r.stretches) + " stretches between gaps" : ""));
  }
  svg.end_group();
  density.frame(svg);

  // Colour key: density per decade below the top.
  const double kx = left + width + 20, ky = density.top;
  svg.text(kx, ky + 10, "density (m\xc2\xb2/Hz)");
  for (int i = 0; i < 30; ++i)
    svg.rect(kx, ky + 20 + (29 - i) * 8, 18, 8, {"none", ramp((i + 0.5) / 30), "", 0});
  for (int d = 0; d <= int(decades); ++d) {
    double y = ky + 20 + 240 * (1 - d / decades);
    char b[32];
    std::snprintf(b, sizeof b, "%.2g", std::pow(10.0, floor_log + d));
    svg.text(kx + 24, y + 4, top > 0 ? b : "");
  }
  svg.legend(kx, ky + 280, {{"spectral peak (1/Tp)", {"#d62728", "#fff", "", 1.4}, "circle"}});

  svg.begin_group("heights");
  struct Series {
    std::string id, label, colour, dash, marker;
    std::optional<double> (*value)(const SpectrumRow&);
  };
  std::vector<Series> series = {
      {"hm0", "Hm0, spectral", "#1f77b4", "", "circle",
       [](const SpectrumRow& r) { return r.bulk ? std::optional<double>(r.bulk->hm0_m) : std::nullopt; }},
      {"firmware-h13", "H1/3, firmware", "#e8710a", "", "square", [](const SpectrumRow& r) { return r.firmware_h13_m; }},
      {"truth-hm0", "Hm0, true sea", "#222", "6 4", "circle", [](const SpectrumRow& r) { return r.truth_hm0_m; }},
  };
  std::vector<LegendEntry> legend;
  for (const Series& s : series) {
    if ((s.id == "truth-hm0" && !truth) || (s.id == "firmware-h13" && !firmware)) continue;
    svg.begin_group(s.id);
    std::vector<std::pair<double, double>> pts;
    Style line{s.colour, "none", s.dash, 1.6};
    Style mark{s.colour, s.dash.empty() ? s.colour : "#fff", "", 1.4};
    for (const SpectrumRow& r : rows) {
      std::optional<double> h = s.value(r);
      pts.push_back(h ? std::make_pair(heights.x((double(r.start) + double(r.end)) / 2), heights.y(*h))
                      : std::make_pair(kNaN, kNaN));
    }
    svg.polyline(pts, line);
    for (size_t i = 0; i < rows.size(); ++i)
      if (!std::isnan(pts[i].first))
        svg.marker(s.marker, pts[i].first, pts[i].second, mark,
                   s.label + " " + clock_text(rows[i].start) + ": " + num(*s.value(rows[i]), 2) + " m");
    svg.end_group();
    legend.push_back({s.label, line, s.marker});
    legend.back().line.fill = mark.fill;
  }
  svg.end_group();
  heights.time_axis(svg, xt, true, "interval (UTC); points at the middle of each");
  heights.y_axis(svg, ht, 1, "wave height (m)");
  heights.frame(svg);
  svg.legend(kx, heights.top, legend);
  return svg.str();
}

}  // namespace olas_records
