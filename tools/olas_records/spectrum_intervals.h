// The RAW records cut into the unbroken stretches of each averaging interval, for the spectrum.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "olas_records/records.h"
#include "olas_records/spectrum.h"

namespace olas_records {

struct SpectrumInterval {
  int64_t start = 0, end = 0;  // UTC seconds, [start, end)
  bool from_res = false;       // a RES record's interval, else a fixed clock-aligned block
  std::optional<double> firmware_h13_m;
  std::vector<Stretch> stretches;
};

// Points per second: the median count of the seconds whose neighbours both hold points; nullopt
// when no second has both.
std::optional<int> points_per_second(const std::vector<RawPoint>& raw);

// Points in time order cut at every gap: a step of the time stamps other than 0 or 1 s, a second
// inside a run holding fewer than rate - 1 or more than rate + 1 points (the lost or repeated ones
// may lie anywhere in it, so the whole second is left out), a point without clock or velocity.
// The intervals: those the RES records begin (each until the next, at most for the usual spacing
// of the records, 10 to 60 min), and, for points outside them, clock-aligned blocks of that length
// (20 min without RES records). Elevation is the heave record's negative: heave is positive down.
std::vector<SpectrumInterval> spectrum_intervals(const std::vector<RawPoint>& raw, const std::vector<ResRecord>& res,
                                                 int rate);

}  // namespace olas_records
