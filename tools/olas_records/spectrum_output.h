// The spectral sea state per interval as CSV files and an SVG plot.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "olas_records/spectrum.h"

namespace olas_records {

struct SpectrumRow {
  int64_t start = 0, end = 0;
  size_t samples = 0, stretches = 0;
  Spectrum spectrum;
  std::optional<BulkFigures> bulk;  // none without a whole segment or energy in the band
  std::optional<double> firmware_h13_m, truth_hm0_m;
};

// One row per interval (empty figures where there are none); the bins of every interval within
// [fmin_hz, fmax_hz]. Each returns its row count; a file that cannot be written throws InputError.
size_t write_spectrum_csv(const std::string& path, const std::vector<SpectrumRow>& rows);
size_t write_spectrum_bins_csv(const std::string& path, const std::vector<SpectrumRow>& rows, double fmin_hz,
                               double fmax_hz);

// The energy density of each interval over time and frequency (with its peak), and under it Hm0
// beside the firmware's H1/3 and the true Hm0 where they are known. Throws InputError without rows.
std::string spectrum_svg(const std::vector<SpectrumRow>& rows, double fmin_hz, double fmax_hz);

}  // namespace olas_records
