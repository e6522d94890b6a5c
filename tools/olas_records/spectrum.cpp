#include "olas_records/spectrum.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>

namespace olas_records {
namespace {

constexpr double kPi = 3.14159265358979323846;

double wrap360(double deg) {
  double w = std::fmod(deg, 360.0);
  return w < 0 ? w + 360.0 : w;
}

// One real-to-complex transform of a fixed length. FFTW_ESTIMATE: the plan, and so every bit of
// the output, does not depend on timing measurements.
class Transform {
 public:
  explicit Transform(size_t n)
      : in_(fftw_alloc_real(n), fftw_free),
        out_(fftw_alloc_complex(n / 2 + 1), fftw_free),
        plan_(fftw_plan_dft_r2c_1d(int(n), in_.get(), out_.get(), FFTW_ESTIMATE), fftw_destroy_plan) {}
  double* input() { return in_.get(); }
  std::complex<double> bin(size_t k) const { return {out_.get()[k][0], out_.get()[k][1]}; }
  void run() { fftw_execute(plan_.get()); }

 private:
  std::unique_ptr<double, decltype(&fftw_free)> in_;
  std::unique_ptr<fftw_complex, decltype(&fftw_free)> out_;
  std::unique_ptr<fftw_plan_s, decltype(&fftw_destroy_plan)> plan_;
};

// Segment starts within n samples: the fewest with at least 50 % overlap that reach both ends.
std::vector<size_t> segment_starts(size_t n, size_t length) {
  if (n < length) return {};
  if (n == length) return {0};
  size_t k = size_t(std::ceil(double(n - length) / (double(length) / 2))) + 1;
  std::vector<size_t> starts;
  for (size_t i = 0; i < k; ++i) starts.push_back(size_t(std::llround(double(i) * double(n - length) / double(k - 1))));
  return starts;
}

// The windowed segment with its least-squares line removed.
void prepare(const std::vector<double>& x, size_t from, const std::vector<double>& window, double* out) {
  const size_t n = window.size();
  const double centre = (double(n) - 1) / 2;
  double mean = 0, slope = 0, sxx = 0;
  for (size_t i = 0; i < n; ++i) mean += x[from + i];
  mean /= double(n);
  for (size_t i = 0; i < n; ++i) {
    slope += (double(i) - centre) * x[from + i];
    sxx += (double(i) - centre) * (double(i) - centre);
  }
  slope = sxx > 0 ? slope / sxx : 0;
  for (size_t i = 0; i < n; ++i) out[i] = (x[from + i] - mean - slope * (double(i) - centre)) * window[i];
}

}  // namespace

Spectrum welch(const std::vector<Stretch>& stretches, double rate_hz, size_t segment) {
  Spectrum s;
  bool fits = false;
  for (const Stretch& st : stretches) fits = fits || st.size() >= segment;
  if (segment < 4 || !(rate_hz > 0) || !fits) return s;
  const size_t bins = segment / 2 + 1;
  std::vector<double> window(segment);
  double power = 0;
  for (size_t i = 0; i < segment; ++i) {
    window[i] = 0.5 * (1 - std::cos(2 * kPi * double(i) / double(segment)));
    power += window[i] * window[i];
  }
  // Correlation of the window with itself shifted, for the variance of overlapping segments.
  auto overlap = [&](size_t shift) {
    if (shift >= segment) return 0.0;
    double c = 0;
    for (size_t i = 0; i + shift < segment; ++i) c += window[i] * window[i + shift];
    return c / power;
  };

  std::vector<double> zz(bins), nn(bins), ee(bins), zn(bins), ze(bins), ne(bins);
  Transform z(segment), n(segment), e(segment);
  double correlation = 0;  // sum over segment pairs of the squared window overlap
  for (const Stretch& st : stretches) {
    if (st.north_mps.size() != st.size() || st.east_mps.size() != st.size()) continue;
    std::vector<size_t> starts = segment_starts(st.size(), segment);
    for (size_t a : starts) {
      prepare(st.elevation_m, a, window, z.input());
      prepare(st.north_mps, a, window, n.input());
      prepare(st.east_mps, a, window, e.input());
      z.run();
      n.run();
      e.run();
      for (size_t k = 0; k < bins; ++k) {
        std::complex<double> cz = z.bin(k), cn = n.bin(k), ce = e.bin(k);
        zz[k] += std::norm(cz);
        nn[k] += std::norm(cn);
        ee[k] += std::norm(ce);
        zn[k] += (cz * std::conj(cn)).real();
        ze[k] += (cz * std::conj(ce)).real();
        ne[k] += (cn * std::conj(ce)).real();
      }
      for (size_t b : starts) {
        double r = overlap(a > b ? a - b : b - a);
        correlation += r * r;
      }
    }
    s.segments += starts.size();
  }
  s.df_hz = rate_hz / double(segment);
  if (s.segments == 0) return s;
  s.edf = 2.0 * double(s.segments) * double(s.segments) / correlation;
  for (size_t k = 0; k < bins; ++k) {
    bool edge = k == 0 || 2 * k == segment;  // no mirror image to fold in
    s.freq_hz.push_back(double(k) * s.df_hz);
    s.density_m2hz.push_back(zz[k] * (edge ? 1.0 : 2.0) / (rate_hz * power * double(s.segments)));
    // The water under a crest moves the way the wave travels: velocity in phase with elevation,
    // pointing away from where the wave comes from, hence the minus signs.
    double horizontal = nn[k] + ee[k], norm1 = std::sqrt(zz[k] * horizontal);
    s.a1.push_back(norm1 > 0 ? -zn[k] / norm1 : 0.0);
    s.b1.push_back(norm1 > 0 ? -ze[k] / norm1 : 0.0);
    s.a2.push_back(horizontal > 0 ? (nn[k] - ee[k]) / horizontal : 0.0);
    s.b2.push_back(horizontal > 0 ? 2 * ne[k] / horizontal : 0.0);
  }
  return s;
}

std::optional<BulkFigures> bulk_figures(const Spectrum& s, double fmin_hz, double fmax_hz) {
  if (s.segments == 0) return std::nullopt;
  double m0 = 0, m1 = 0, m2 = 0, a1 = 0, b1 = 0;
  size_t first = s.freq_hz.size(), last = 0, peak = 0;
  for (size_t k = 0; k < s.freq_hz.size(); ++k) {
    double f = s.freq_hz[k], e = s.density_m2hz[k] * s.df_hz;
    if (f < fmin_hz || f > fmax_hz || f <= 0) continue;
    first = std::min(first, k);
    last = k;
    if (s.density_m2hz[k] > s.density_m2hz[peak] || peak < first) peak = k;
    m0 += e;
    m1 += e * f;
    m2 += e * f * f;
    a1 += e * s.a1[k];
    b1 += e * s.b1[k];
  }
  if (!(m0 > 0) || !(m2 > 0)) return std::nullopt;
  BulkFigures b;
  b.hm0_m = 4 * std::sqrt(m0);
  b.tm01_s = m0 / m1;
  b.tm02_s = std::sqrt(m0 / m2);
  // The peak between bins: the vertex of the parabola through the highest bin and its neighbours.
  double fp = s.freq_hz[peak];
  if (peak > first && peak < last) {
    double l = s.density_m2hz[peak - 1], c = s.density_m2hz[peak], r = s.density_m2hz[peak + 1];
    double curve = l - 2 * c + r;
    if (curve < 0) fp += std::clamp(0.5 * (l - r) / curve, -0.5, 0.5) * s.df_hz;
  }
  b.tp_s = 1 / fp;
  b.dm_deg = wrap360(std::atan2(b1, a1) * 180 / kPi);
  b.dp_deg = wrap360(std::atan2(s.b1[peak], s.a1[peak]) * 180 / kPi);
  double r1 = std::min(1.0, std::hypot(a1, b1) / m0);
  b.spread_deg = std::sqrt(2 * (1 - r1)) * 180 / kPi;
  return b;
}

}  // namespace olas_records
