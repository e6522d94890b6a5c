// CSV files of the sensor's records: a header row with units in the column names, ISO 8601 UTC
// times, one row per record, empty cells where a value is absent.
#pragma once

#include <string>
#include <vector>

#include "olas_records/records.h"

namespace olas_records {

// Each writes `path` and returns the number of rows; a file that cannot be written throws InputError.
// Direction columns appear only for the methods some record carries.
size_t write_raw_csv(const std::string& path, const std::vector<RawPoint>& rows);
size_t write_wav_csv(const std::string& path, const std::vector<WavRecord>& rows);
// `time_column`: "start_utc" for the card's records, "end_utc" for the host's frames.
size_t write_res_csv(const std::string& path, const std::vector<ResRecord>& rows, const std::string& time_column);
size_t write_gps_csv(const std::string& path, const std::vector<GpsFix>& rows);

// 157 cm -> "1.57", 85 tenths -> "8.5"; empty for none.
std::string hundredths(const Opt& v);
std::string tenths(const Opt& v);

}  // namespace olas_records
