// A small SVG writer for line and bar charts: panels with linear axes, time axes in UTC, ticks,
// labels and legends. Output depends only on the data (fixed number formats, no clock, no ids).
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace olas_records {

// Maps a data interval onto a pixel interval (a pixel interval may run backwards, as y does).
struct Scale {
  double d0 = 0, d1 = 1, p0 = 0, p1 = 1;
  double operator()(double v) const { return p0 + (v - d0) / (d1 - d0) * (p1 - p0); }
};

// Round tick positions covering [lo, hi] (about `target` of them), steps of 1, 2 or 5 x 10^k;
// lo and hi are widened to whole steps.
std::vector<double> nice_ticks(double& lo, double& hi, int target);
// Round UTC tick times (10 s .. 1 year) within [lo, hi], about `target` of them.
std::vector<int64_t> time_ticks(int64_t lo, int64_t hi, int target);

std::string num(double v, int decimals = 1);  // fixed decimals, "-0.0" written "0.0"
std::string escape(const std::string& text);

struct Style {
  std::string stroke = "#000", fill = "none", dash;  // dash: e.g. "6 4"
  double width = 1.0, opacity = 1.0;
};

struct LegendEntry {
  std::string label;
  Style line;
  std::string marker;  // "", "circle", "square", "bar"
};

class Svg {
 public:
  Svg(int width, int height, const std::string& title);
  void line(double x1, double y1, double x2, double y2, const Style& s);
  // Breaks the line wherever a point is NaN.
  void polyline(const std::vector<std::pair<double, double>>& points, const Style& s);
  void rect(double x, double y, double w, double h, const Style& s, const std::string& tooltip = "");
  void marker(const std::string& kind, double x, double y, const Style& s, const std::string& tooltip = "");
  // anchor: "start", "middle" or "end"; rotate: degrees about (x, y)
  void text(double x, double y, const std::string& text, const std::string& anchor = "start", int size = 12,
            int rotate = 0, const std::string& weight = "normal");
  void legend(double x, double y, const std::vector<LegendEntry>& entries);
  void begin_group(const std::string& id);
  void end_group();
  std::string str() const;

 private:
  std::ostringstream body_;
  int width_, height_;
};

// A plotting area with its frame, grid and tick labels.
struct Panel {
  double left, top, width, height;
  Scale x, y;
  // y ticks with labels (decimals) and the y axis label (rotated); gridlines across.
  void y_axis(Svg& svg, const std::vector<double>& ticks, int decimals, const std::string& label,
              double label_modulo = 0) const;
  // time ticks along the bottom; labels HH:MM or HH:MM:SS, the date under the first and where it changes
  void time_axis(Svg& svg, const std::vector<int64_t>& ticks, bool labels, const std::string& label) const;
  void frame(Svg& svg) const;
};

}  // namespace olas_records
