// The spectral sea state of a heave and horizontal-velocity record: Welch's averaged periodogram of
// the heave, the first four directional moments from the cross-spectra (Longuet-Higgins,
// Cartwright & Smith 1963), and the bulk figures (Hm0, Tp, Tm01, Tm02, mean and peak direction,
// directional spread after Kuik, van Vledder & Holthuijsen 1988).
//
// Conventions: elevation positive up; directions in nautical degrees (clockwise from north) that
// the waves come FROM, so a1 = <cos theta>, b1 = <sin theta>, a2 = <cos 2 theta>, b2 = <sin 2 theta>.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace olas_records {

// An unbroken run of evenly spaced samples.
struct Stretch {
  std::vector<double> elevation_m, north_mps, east_mps;
  size_t size() const { return elevation_m.size(); }
};

struct Spectrum {
  double df_hz = 0;
  std::vector<double> freq_hz, density_m2hz, a1, b1, a2, b2;  // bins 0 .. segment / 2
  size_t segments = 0;
  double edf = 0;  // equivalent degrees of freedom of each bin's density
};

// Welch's method: segments of `segment` samples, periodic Hann window, linear trend removed from
// each, at least 50 % overlap, spread evenly over each stretch so that both of its ends are used.
// Stretches shorter than one segment add nothing; segments never bridge two stretches.
Spectrum welch(const std::vector<Stretch>& stretches, double rate_hz, size_t segment);

struct BulkFigures {
  double hm0_m = 0, tp_s = 0, tm01_s = 0, tm02_s = 0;
  double dm_deg = 0, dp_deg = 0, spread_deg = 0;
};

// Moments over the bins within [fmin_hz, fmax_hz]; nullopt without segments or energy there.
std::optional<BulkFigures> bulk_figures(const Spectrum& s, double fmin_hz, double fmax_hz);

}  // namespace olas_records
