#include "olas_records/svg.h"

#include <cmath>
#include <cstdio>

#include "olas_records/records.h"

namespace olas_records {
namespace {

std::string attrs(const Style& s) {
  std::string a = "stroke=\"" + s.stroke + "\" fill=\"" + s.fill + "\" stroke-width=\"" + num(s.width, 2) + "\"";
  if (!s.dash.empty()) a += " stroke-dasharray=\"" + s.dash + "\"";
  if (s.opacity < 1.0) a += " opacity=\"" + num(s.opacity, 2) + "\"";
  return a;
}

std::string tooltip_element(const std::string& t) { return t.empty() ? "" : "<title>" + escape(t) + "</title>"; }

}  // namespace

std::vector<double> nice_ticks(double& lo, double& hi, int target) {
  if (!(hi > lo)) {
    double pad = std::fabs(lo) > 0 ? std::fabs(lo) * 0.1 : 1.0;
    lo -= pad;
    hi += pad;
  }
  double raw = (hi - lo) / std::max(1, target);
  double mag = std::pow(10.0, std::floor(std::log10(raw)));
  double step = mag;
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (raw <= m * mag * 1.0000001) {
      step = m * mag;
      break;
    }
  lo = std::floor(lo / step + 1e-9) * step;
  hi = std::ceil(hi / step - 1e-9) * step;
  std::vector<double> ticks;
  for (double v = lo; v <= hi + step * 1e-6; v += step) ticks.push_back(std::fabs(v) < step * 1e-9 ? 0.0 : v);
  return ticks;
}

std::vector<int64_t> time_ticks(int64_t lo, int64_t hi, int target) {
  static const int64_t steps[] = {10,    15,    30,    60,     120,    300,    600,     900,     1200,
                                  1800,  3600,  7200,  10800,  21600,  43200,  86400,   604800,  2592000, 31536000};
  int64_t step = 31536000;
  for (int64_t s : steps)
    if ((hi - lo) / s <= target) {
      step = s;
      break;
    }
  std::vector<int64_t> ticks;
  for (int64_t t = (lo + step - 1) / step * step; t <= hi; t += step) ticks.push_back(t);
  return ticks;
}

std::string num(double v, int decimals) {
  char b[64];
  std::snprintf(b, sizeof b, "%.*f", decimals, v);
  std::string s = b;
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

Svg::Svg(int width, int height, const std::string& title) : width_(width), height_(height) {
  body_ << "<rect x=\"0\" y=\"0\" width=\"" << width << "\" height=\"" << height << "\" fill=\"#fff\"/>\n";
  text(width / 2.0, 26, title, "middle", 16, 0, "bold");
}

void Svg::line(double x1, double y1, double x2, double y2, const Style& s) {
  body_ << "<line x1=\"" << num(x1) << "\" y1=\"" << num(y1) << "\" x2=\"" << num(x2) << "\" y2=\"" << num(y2)
        << "\" " << attrs(s) << "/>\n";
}

void Svg::polyline(const std::vector<std::pair<double, double>>& points, const Style& s) {
  std::string run;
  size_t count = 0;
  auto flush = [&] {
    if (count > 1) body_ << "<polyline points=\"" << run << "\" " << attrs(s) << " stroke-linejoin=\"round\"/>\n";
    run.clear();
    count = 0;
  };
  for (const auto& [x, y] : points) {
    if (std::isnan(x) || std::isnan(y)) {
      flush();
      continue;
    }
    run += (count ? " " : "") + num(x) + "," + num(y);
    ++count;
  }
  flush();
}

void Svg::rect(double x, double y, double w, double h, const Style& s, const std::string& tooltip) {
  body_ << "<rect x=\"" << num(x) << "\" y=\"" << num(y) << "\" width=\"" << num(w) << "\" height=\"" << num(h)
        << "\" " << attrs(s);
  if (tooltip.empty())
    body_ << "/>\n";
  else
    body_ << ">" << tooltip_element(tooltip) << "</rect>\n";
}

void Svg::marker(const std::string& kind, double x, double y, const Style& s, const std::string& tooltip) {
  std::string close = tooltip.empty() ? "/>\n" : ">" + tooltip_element(tooltip);
  if (kind == "square") {
    body_ << "<rect x=\"" << num(x - 3.5) << "\" y=\"" << num(y - 3.5) << "\" width=\"7\" height=\"7\" " << attrs(s)
          << close << (tooltip.empty() ? "" : "</rect>\n");
  } else {
    body_ << "<circle cx=\"" << num(x) << "\" cy=\"" << num(y) << "\" r=\"3.5\" " << attrs(s) << close
          << (tooltip.empty() ? "" : "</circle>\n");
  }
}

void Svg::text(double x, double y, const std::string& t, const std::string& anchor, int size, int rotate,
               const std::string& weight) {
  body_ << "<text x=\"" << num(x) << "\" y=\"" << num(y) << "\" font-size=\"" << size << "\" text-anchor=\"" << anchor
        << "\"";
  if (weight != "normal") body_ << " font-weight=\"" << weight << "\"";
  if (rotate) body_ << " transform=\"rotate(" << rotate << " " << num(x) << " " << num(y) << ")\"";
  body_ << ">" << escape(t) << "</text>\n";
}

void Svg::legend(double x, double y, const std::vector<LegendEntry>& entries) {
  const double row = 18, width = 34;
  double longest = 0;
  for (const auto& e : entries) longest = std::max(longest, double(e.label.size()));
  double w = width + 18 + longest * 6.2, h = row * double(entries.size()) + 8;
  rect(x, y, w, h, {"#999", "#fff", "", 0.8, 0.92});
  for (size_t i = 0; i < entries.size(); ++i) {
    const LegendEntry& e = entries[i];
    double cy = y + 4 + row * (double(i) + 0.5);
    if (e.marker == "bar") {
      rect(x + 8, cy - 5, width - 6, 10, e.line);
    } else {
      line(x + 6, cy, x + width, cy, e.line);
      if (!e.marker.empty()) marker(e.marker, x + 6 + (width - 6) / 2, cy, {e.line.stroke, e.line.fill, "", 1.2});
    }
    text(x + width + 8, cy + 4, e.label);
  }
}

void Svg::begin_group(const std::string& id) { body_ << "<g id=\"" << escape(id) << "\">\n"; }
void Svg::end_group() { body_ << "</g>\n"; }

std::string Svg::str() const {
  std::ostringstream out;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width_ << "\" height=\"" << height_
      << "\" viewBox=\"0 0 " << width_ << " " << height_ << "\" font-family=\"DejaVu Sans, Arial, sans-serif\">\n"
      << body_.str() << "</svg>\n";
  return out.str();
}

void Panel::frame(Svg& svg) const { svg.rect(left, top, width, height, {"#333", "none", "", 1.0}); }

void Panel::y_axis(Svg& svg, const std::vector<double>& ticks, int decimals, const std::string& label,
                   double label_modulo) const {
  for (double t : ticks) {
    double py = y(t);
    svg.line(left, py, left + width, py, {"#e3e3e3", "none", "", 1.0});
    svg.line(left - 5, py, left, py, {"#333", "none", "", 1.0});
    double shown = label_modulo > 0 ? std::fmod(std::fmod(t, label_modulo) + label_modulo, label_modulo) : t;
    svg.text(left - 8, py + 4, num(shown, decimals), "end");
  }
  svg.text(left - 48, top + height / 2, label, "middle", 13, -90);
}

void Panel::time_axis(Svg& svg, const std::vector<int64_t>& ticks, bool labels, const std::string& label) const {
  std::string last_day;
  for (int64_t t : ticks) {
    double px = x(double(t));
    svg.line(px, top, px, top + height, {"#e3e3e3", "none", "", 1.0});
    svg.line(px, top + height, px, top + height + 5, {"#333", "none", "", 1.0});
    if (!labels) continue;
    std::string iso = iso_utc(t);  // 2026-12-07T14:20:00Z
    bool seconds = iso.substr(17, 2) != "00" || (ticks.size() > 1 && ticks[1] - ticks[0] < 60);
    svg.text(px, top + height + 19, iso.substr(11, seconds ? 8 : 5), "middle");
    std::string day = iso.substr(0, 10);
    if (day != last_day) svg.text(px, top + height + 34, day, "middle", 11);
    last_day = day;
  }
  if (labels) svg.text(left + width / 2, top + height + 54, label, "middle", 13);
}

}  // namespace olas_records
