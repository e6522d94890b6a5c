// Helpers of the wave-analysis scenario tests: the "RES," frames a run sent to the host, a
// reference zero-up-crossing analysis of a heave record, and the settings store of a run folder.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "sensor_olas_sim/run.h"
#include "sim/bytes_le.h"

namespace olas::scenario {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A new folder of this process (several builds may run the scenarios at the same time).
inline fs::path FreshDir(const std::string& name) {
  fs::path d = fs::temp_directory_path() / ("olas_scenario_" + name + "_" + std::to_string(getpid()));
  fs::remove_all(d);
  fs::create_directories(d);
  return d;
}

// fsck.fat -n on the volume the card image's partition table points at: "" when clean, else
// what it said.
inline std::string FsckComplaints(const fs::path& image) {
  std::string mbr(512, '\0');
  std::ifstream(image, std::ios::binary).read(mbr.data(), 512);
  const fs::path part = image.parent_path() / "partition.img";
  const fs::path report = image.parent_path() / "fsck.txt";
  const std::string cmd = "dd if=" + image.string() + " of=" + part.string() + " bs=512 skip=" +
                          std::to_string(sim::le32(&mbr[446 + 8])) + " count=" + std::to_string(sim::le32(&mbr[446 + 12])) +
                          " conv=sparse status=none && fsck.fat -n " + part.string() + " > " + report.string() + " 2>&1";
  const int rc = std::system(cmd.c_str());
  fs::remove(part);
  return WEXITSTATUS(rc) == 0 ? "" : ReadFile(report);
}

// How many times needle occurs in hay.
inline size_t Occurrences(const std::string& hay, const std::string& needle) {
  size_t n = 0;
  for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
  return n;
}

// A quiet run of the built image in a new folder of this process, from the default start.
inline RunOptions QuietRun(const std::string& name, double seconds) {
  RunOptions o;
  o.out_dir = FreshDir(name).string();
  o.duration_s = seconds;
  o.start_utc = parse_utc(kDefaultStart);
  o.firmware_image = OLAS_FIRMWARE_IMAGE;
  o.quiet = true;
  return o;
}

// One "$RES,<body>*HH\r\n" frame from host.log.
struct ResFrame {
  std::string body;
  bool checksum_ok = false;
  std::vector<int> fields;  // the body's comma-separated numbers
  int Waves() const { return fields.at(5); }
  int Hmax() const { return fields.at(6); }
  int H13() const { return fields.at(7); }
  int Field(size_t i) const { return fields.at(i); }
};

inline std::vector<ResFrame> ResFrames(const std::string& host_log) {
  std::vector<ResFrame> out;
  for (size_t p = host_log.find("$RES,"); p != std::string::npos; p = host_log.find("$RES,", p + 1)) {
    size_t star = host_log.find('*', p);
    if (star == std::string::npos || star + 4 >= host_log.size()) break;
    ResFrame f;
    f.body = host_log.substr(p + 5, star - p - 5);
    uint8_t x = 0;
    for (size_t i = p + 1; i < star; ++i) x ^= uint8_t(host_log[i]);
    static const char* hex = "0123456789ABCDEF";
    f.checksum_ok = host_log[star + 1] == hex[x >> 4] && host_log[star + 2] == hex[x & 15] &&
                    host_log.compare(star + 3, 2, "\r\n") == 0;
    std::stringstream ss(f.body);
    for (std::string item; std::getline(ss, item, ',');) f.fields.push_back(std::atoi(item.c_str()));
    out.push_back(f);
  }
  return out;
}

struct Wave {
  double height;  // same unit as the record
  double period_s;
  size_t start;   // index of the up-crossing sample that opens it
};

// Zero-up-crossing waves of x (sample interval dt): a wave runs from a sample that follows a
// negative one and is not negative to the next such sample; height = highest - lowest sample.
inline std::vector<Wave> UpCrossingWaves(const std::vector<double>& x, double dt) {
  std::vector<size_t> ups;
  for (size_t i = 1; i < x.size(); ++i)
    if (x[i - 1] < 0 && x[i] >= 0) ups.push_back(i);
  std::vector<Wave> w;
  for (size_t j = 1; j < ups.size(); ++j) {
    auto [lo, hi] = std::minmax_element(x.begin() + std::ptrdiff_t(ups[j - 1]), x.begin() + std::ptrdiff_t(ups[j]));
    w.push_back(Wave{*hi - *lo, double(ups[j] - ups[j - 1]) * dt, ups[j - 1]});
  }
  return w;
}

// Waves within the firmware's factory limits (3..90 s, 0..3000 cm; heights in cm).
inline std::vector<Wave> WithinLimits(const std::vector<Wave>& w) {
  std::vector<Wave> out;
  for (const Wave& x : w)
    if (x.period_s >= 3.0 && x.period_s <= 90.0 && x.height >= 0 && x.height <= 3000) out.push_back(x);
  return out;
}

// Mean height of the ceil(n/3) highest waves.
inline double H13(std::vector<Wave> w) {
  if (w.empty()) return 0;
  std::sort(w.begin(), w.end(), [](const Wave& a, const Wave& b) { return a.height > b.height; });
  size_t n = (w.size() + 2) / 3;
  double s = 0;
  for (size_t i = 0; i < n; ++i) s += w[i].height;
  return s / double(n);
}

inline double Hmax(const std::vector<Wave>& w) {
  double m = 0;
  for (const Wave& x : w) m = std::max(m, x.height);
  return m;
}

// A run of a few seconds in a new folder writes the factory settings; then one stored byte is
// changed before the real run boots from the same folder.
inline void StoreSettingBeforeBoot(RunOptions o, size_t address, uint8_t value) {
  o.duration_s = 5;
  o.sensor = false;
  run_simulation(o);
  fs::path flash = fs::path(o.out_dir) / "flash.bin";
  std::string bytes = ReadFile(flash);
  bytes.at(address) = char(value);
  std::ofstream(flash, std::ios::binary | std::ios::trunc) << bytes;
}

inline double Percent(double got, double want) { return want == 0 ? 0 : 100.0 * (got - want) / want; }

}  // namespace olas::scenario
