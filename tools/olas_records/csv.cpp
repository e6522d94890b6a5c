#include "olas_records/csv.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>

namespace olas_records {
namespace {

template <class Row>
struct Column {
  std::string name;
  std::function<std::string(const Row&)> cell;
  bool optional = false;  // left out when no row has a value
};

std::string quoted(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

template <class Row>
size_t write_table(const std::string& path, const std::vector<Column<Row>>& all, const std::vector<Row>& rows) {
  std::vector<const Column<Row>*> columns;
  for (const Column<Row>& c : all) {
    bool used = !c.optional;
    for (size_t i = 0; !used && i < rows.size(); ++i) used = !c.cell(rows[i]).empty();
    if (used) columns.push_back(&c);
  }
  std::ofstream out(path, std::ios::binary);
  if (!out) throw InputError("cannot write '" + path + "'");
  for (size_t k = 0; k < columns.size(); ++k) out << (k ? "," : "") << columns[k]->name;
  out << "\n";
  for (const Row& r : rows) {
    for (size_t k = 0; k < columns.size(); ++k) out << (k ? "," : "") << quoted(columns[k]->cell(r));
    out << "\n";
  }
  out.flush();
  if (!out) throw InputError("cannot write '" + path + "'");
  return rows.size();
}

std::string plain(const Opt& v) { return v ? std::to_string(*v) : ""; }
std::string time_cell(const std::optional<int64_t>& t) { return t ? iso_utc(*t) : ""; }
std::string fixed(const std::optional<double>& v, int decimals) {
  if (!v) return "";
  char b[48];
  std::snprintf(b, sizeof b, "%.*f", decimals, *v);
  return b;
}

std::string scaled(const Opt& v, long scale, int decimals) {
  if (!v) return "";
  long a = std::labs(*v);
  char b[48];
  std::snprintf(b, sizeof b, "%s%ld.%0*ld", *v < 0 ? "-" : "", a / scale, decimals, a % scale);
  return b;
}

}  // namespace

std::string hundredths(const Opt& v) { return scaled(v, 100, 2); }
std::string tenths(const Opt& v) { return scaled(v, 10, 1); }

size_t write_raw_csv(const std::string& path, const std::vector<RawPoint>& rows) {
  using C = Column<RawPoint>;
  std::vector<C> cols = {
      {"time_utc", [](const RawPoint& r) { return time_cell(r.t); }},
      {"point", [](const RawPoint& r) { return std::to_string(r.point); }},
      {"heading_deg", [](const RawPoint& r) { return plain(r.heading_deg); }},
      {"heave_m", [](const RawPoint& r) { return hundredths(r.heave_cm); }},
      {"vel_north_mps", [](const RawPoint& r) { return fixed(r.vel_north_mps, 4); }},
      {"vel_east_mps", [](const RawPoint& r) { return fixed(r.vel_east_mps, 4); }},
      {"heading_valid", [](const RawPoint& r) { return plain(r.heading_valid); }},
      {"align_valid", [](const RawPoint& r) { return plain(r.align_valid); }},
      {"file", [](const RawPoint& r) { return r.file; }},
      {"line", [](const RawPoint& r) { return std::to_string(r.line); }},
  };
  return write_table(path, cols, rows);
}

size_t write_wav_csv(const std::string& path, const std::vector<WavRecord>& rows) {
  using C = Column<WavRecord>;
  std::vector<C> cols = {
      {"time_utc", [](const WavRecord& r) { return time_cell(r.t); }},
      {"wave", [](const WavRecord& r) { return std::to_string(r.wave); }},
      {"height_m", [](const WavRecord& r) { return hundredths(r.height_cm); }},
      {"period_s", [](const WavRecord& r) { return tenths(r.period_ds); }},
      {"points", [](const WavRecord& r) { return plain(r.points); }},
      {"dir_vel_deg", [](const WavRecord& r) { return tenths(r.dir_vel_dd); }, true},
      {"dir_drift_deg", [](const WavRecord& r) { return tenths(r.dir_drift_dd); }, true},
      {"heading_valid_pct", [](const WavRecord& r) { return plain(r.heading_valid_pct); }},
      {"align_valid_pct", [](const WavRecord& r) { return plain(r.align_valid_pct); }},
      {"file", [](const WavRecord& r) { return r.file; }},
      {"line", [](const WavRecord& r) { return std::to_string(r.line); }},
  };
  return write_table(path, cols, rows);
}

size_t write_res_csv(const std::string& path, const std::vector<ResRecord>& rows, const std::string& time_column) {
  using C = Column<ResRecord>;
  std::vector<C> cols = {
      {time_column, [](const ResRecord& r) { return time_cell(r.t); }},
      {"waves", [](const ResRecord& r) { return std::to_string(r.waves); }},
      {"hmax_m", [](const ResRecord& r) { return hundredths(r.hmax_cm); }},
      {"h13_m", [](const ResRecord& r) { return hundredths(r.h13_cm); }},
      {"h110_m", [](const ResRecord& r) { return hundredths(r.h110_cm); }},
      {"hav_m", [](const ResRecord& r) { return hundredths(r.hav_cm); }},
      {"tmax_s", [](const ResRecord& r) { return tenths(r.tmax_ds); }},
      {"tpeak_s", [](const ResRecord& r) { return tenths(r.tpeak_ds); }},
      {"t13_s", [](const ResRecord& r) { return tenths(r.t13_ds); }},
      {"t110_s", [](const ResRecord& r) { return tenths(r.t110_ds); }},
      {"tav_s", [](const ResRecord& r) { return tenths(r.tav_ds); }},
      {"dir_vel_deg", [](const ResRecord& r) { return tenths(r.dir_vel_dd); }, true},
      {"spread_vel_deg", [](const ResRecord& r) { return tenths(r.spread_vel_dd); }, true},
      {"dir_drift_deg", [](const ResRecord& r) { return tenths(r.dir_drift_dd); }, true},
      {"spread_drift_deg", [](const ResRecord& r) { return tenths(r.spread_drift_dd); }, true},
      {"heading_valid_pct", [](const ResRecord& r) { return plain(r.heading_valid_pct); }},
      {"align_valid_pct", [](const ResRecord& r) { return plain(r.align_valid_pct); }},
      {"discarded_waves", [](const ResRecord& r) { return plain(r.discarded_waves); }},
      {"file", [](const ResRecord& r) { return r.file; }},
      {"line", [](const ResRecord& r) { return std::to_string(r.line); }},
  };
  return write_table(path, cols, rows);
}

size_t write_gps_csv(const std::string& path, const std::vector<GpsFix>& rows) {
  using C = Column<GpsFix>;
  std::vector<C> cols = {
      {"time_utc", [](const GpsFix& r) { return time_cell(r.t); }},
      {"satellites", [](const GpsFix& r) { return plain(r.satellites); }},
      {"lat_deg", [](const GpsFix& r) { return fixed(r.lat_deg, 6); }},
      {"lon_deg", [](const GpsFix& r) { return fixed(r.lon_deg, 6); }},
      {"pdop", [](const GpsFix& r) { return plain(r.pdop); }},
      {"hdop", [](const GpsFix& r) { return plain(r.hdop); }},
      {"vdop", [](const GpsFix& r) { return plain(r.vdop); }},
      {"file", [](const GpsFix& r) { return r.file; }},
      {"line", [](const GpsFix& r) { return std::to_string(r.line); }},
  };
  return write_table(path, cols, rows);
}

}  // namespace olas_records
