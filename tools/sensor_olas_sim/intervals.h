// The averaging intervals of a run for summary.json: each averaged record the firmware made (the
// RES line read back from the card, the "$RES," frame received on the host link), matched by
// interval, beside the truth of the same interval computed from the true heave the motion unit
// sampled.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/world/sea.h"

namespace olas {

// One averaged record: the firmware's clock fields and its statistics as written (cm, tenths of
// a second, tenths of a degree, percent).
struct ResRecord {
  int day = 0, month = 0, year = 0, hour = 0, minute = 0;
  std::vector<uint32_t> stats;  // 10 statistics, 0, 2 or 4 direction fields, 2 percentages
};

// A card line "07,12,26,14,20,00154 0354 ..." or a host frame "$RES,07,12,26,14,40,00154,...*66"
// (its checksum must match). nullopt for anything else.
std::optional<ResRecord> parse_res_line(const std::string& line);
std::optional<ResRecord> parse_res_frame(const std::string& frame);

// RECORD of summary.json (metres, seconds, degrees); `method` is the firmware's direction method
// (0 velocity, 1 drift, 2 both) and decides which direction fields a single pair belongs to.
nlohmann::json record_json(const ResRecord& r, int method);

// TRUTH of summary.json over [from_s, to_s] (virtual seconds), from the true heave record; zero
// up-crossing waves, Hm0 = 4 std; the spectral peak period and mean direction are the sea's. Null
// when the record holds no sample there.
nlohmann::json heave_truth(const sim::HeaveRecord& record, double from_s, double to_s, const sim::SeaTruth& sea);

// A "$RES," frame as the host controller received it.
struct ResArrival {
  double t_s = 0;           // virtual time its line end arrived
  std::string frame;        // without CR LF
  int interval_min = 0;     // the firmware's averaging interval then; 0 = unknown
  int method = 0;           // the firmware's direction method then
  double from_s = 0;        // the interval in virtual time: back by the interval from its
                            // arrival, not before the boot nor the previous frame of that boot
  nlohmann::json truth;     // TRUTH of [from_s, t_s], computed on arrival (or null)
};

// The "intervals" array: host frames in arrival order, each with the card line of the same
// interval (the latest begun within the hour before the frame's end); card lines without a frame
// are placed by their start (the firmware's clock against true time from `start_utc`) and have
// no truth, lacking an arrival time. Frames with a bad checksum are left out. `card_method` is
// the direction method for card-only lines.
nlohmann::json build_intervals(const std::vector<ResArrival>& host, const std::vector<std::string>& card_lines,
                               int card_method, int64_t start_utc);

}  // namespace olas
