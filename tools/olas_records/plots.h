// The two plots, as SVG text: the heave with the waves the sensor detected, and the sea state of
// every averaging interval, the firmware's against the true sea.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "olas_records/records.h"

namespace olas_records {

// Heave over [from, from + span) (from: the first timed record + offset_s when not given), the
// start of every wave (the point number restarts) and the height of each wave the WAV records
// hold (matched by number of points and time). Throws InputError when the window holds no record.
std::string heave_svg(const std::vector<RawPoint>& raw, const std::vector<WavRecord>& wav,
                      std::optional<int64_t> from, int64_t offset_s, int64_t span_s);

struct Interval {
  int64_t start = 0, end = 0;
  struct Firmware {
    long waves = 0;
    double hmax_m = 0, h13_m = 0;
    std::optional<double> dir_vel_deg, dir_drift_deg;
  };
  std::optional<Firmware> firmware;
  struct Truth {
    std::optional<double> hmax_m, h13_m, dir_deg, hm0_m;
  };
  std::optional<Truth> truth;
};

// summary.json "intervals" (card record, else host frame, beside the truth); nullopt without that
// key. Throws InputError on an entry that does not follow the schema, naming it.
std::optional<std::vector<Interval>> intervals_from_summary(const nlohmann::json& summary);
// The firmware's alone: card records (interval start) or, without them, host frames (interval end).
std::vector<Interval> intervals_from_records(const std::vector<ResRecord>& card, const std::vector<ResRecord>& host);

// H1/3, Hmax and mean direction per interval. Throws InputError with no interval to plot.
std::string intervals_svg(const std::vector<Interval>& intervals);

}  // namespace olas_records
