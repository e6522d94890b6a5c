// The wave sensor's records as read back from its card (RAW points, WAV waves, RES intervals) and
// from its host link ("$RES," and "$GPS," frames), parsed into values with units.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace olas_records {

// Input the tool cannot use (a missing file, an empty window); the message names it.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

using Opt = std::optional<long>;

// Seconds since 1970-01-01T00:00:00Z; "2026-12-07T14:20:01Z" and back.
int64_t epoch_seconds(int year, int month, int day, int hour, int minute, int second);
std::string iso_utc(int64_t t);
// ISO 8601 UTC ("2026-12-07T14:20:01Z", seconds optional); nullopt when it is not one.
std::optional<int64_t> parse_iso_utc(const std::string& text);

// A decimal field of the firmware's records. A value too wide for its field comes out with a
// leading letter A..F standing for 10..15 (100 in two digits is "A0"); it is read back as that
// value. Anything else that is not digits gives nullopt.
Opt field_number(const std::string& text);

// Which method a record with a single direction (or a single direction and spread) carries.
enum class Method { velocity, drift };

struct RawPoint {
  std::optional<int64_t> t;  // none while the sensor had no valid clock (date fields 00)
  long point = 0;            // restarts at every wave's start and end and at each new file
  Opt heading_deg, heave_cm, heading_valid, align_valid;
  std::optional<double> vel_north_mps, vel_east_mps;  // none when clamped to +-99999.9999
  std::string file;
  long line = 0;
};

struct WavRecord {
  std::optional<int64_t> t;  // clock when the wave closed, to the minute
  long wave = 0;             // number within the averaging interval
  Opt height_cm, period_ds, points, dir_vel_dd, dir_drift_dd, heading_valid_pct, align_valid_pct;
  std::string file;
  long line = 0;
};

struct ResRecord {
  std::optional<int64_t> t;  // card: interval start; host frame: clock when the frame was made
  long waves = 0;
  Opt hmax_cm, h13_cm, h110_cm, hav_cm, tmax_ds, tpeak_ds, t13_ds, t110_ds, tav_ds;
  Opt dir_vel_dd, spread_vel_dd, dir_drift_dd, spread_drift_dd;
  Opt heading_valid_pct, align_valid_pct;  // none in an interval without waves
  Opt discarded_waves;                     // only in an interval without waves
  std::string file;
  long line = 0;
};

struct GpsFix {
  std::optional<int64_t> t;
  Opt satellites, pdop, hdop, vdop;
  std::optional<double> lat_deg, lon_deg;  // north and east positive
  std::string file;
  long line = 0;
};

// Lines that were skipped, each reported on stderr with its file and line.
struct Issues {
  long malformed = 0, bad_checksum = 0;
  void report(const std::string& file, long line, const std::string& what, bool checksum = false);
};

// Readers of one file each. `name` is how the file is named in the rows and messages. A file that
// cannot be opened throws InputError; a line that is not a record is skipped and reported.
std::vector<RawPoint> read_raw(const std::string& path, const std::string& name, Issues& issues);
std::vector<WavRecord> read_wav(const std::string& path, const std::string& name, Method single,
                                Issues& issues);
std::vector<ResRecord> read_res(const std::string& path, const std::string& name, Method single,
                                Issues& issues);
// The "$RES," and "$GPS," frames of a host.log; other lines are the link's other traffic.
void read_host_log(const std::string& path, const std::string& name, Method single,
                   std::vector<ResRecord>& res, std::vector<GpsFix>& gps, Issues& issues);

}  // namespace olas_records
