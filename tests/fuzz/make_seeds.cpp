// Writes the seed corpora of the three fuzz targets from real frames: the simulated motion unit's
// sbgECom logs (a regular sea), the u-blox receiver log, and every command of the host protocol.
//   make_seeds OUT_DIR NMEA_LOG    (writes OUT_DIR/sensor, OUT_DIR/gps, OUT_DIR/host)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/world/sbg_frames.h"
#include "zrx03/frames.h"
#include "sim/text.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

void Write(const fs::path& dir, const std::string& name, const Bytes& data) {
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
void Append(Bytes& b, const std::string& more) { b.insert(b.end(), more.begin(), more.end()); }

// ---- sensor: settings byte, clock, then bursts with a 16-bit header (length | clock step << 11) ----

struct Sea {
  double amplitude_m = 0.8, period_s = 7, from_deg = 250, rate_hz = 4;
  uint32_t t0_us = 5000000;
  bool euler40 = false;
  int order = 0;  // 0: euler nav ship; 1: ship nav euler
};

Bytes Burst(const Sea& s, int k, uint32_t time_offset_us) {
  namespace sbg = sim::sbg;
  const double t = (k + 0.5) / s.rate_hz;
  const double elevation = s.amplitude_m * std::sin(2 * M_PI * t / s.period_s);
  const double from = s.from_deg * M_PI / 180.0;
  const double speed = 0.5 * elevation / s.amplitude_m;
  const uint32_t stamp = s.t0_us + uint32_t(t * 1e6) + time_offset_us;
  sbg::EulerLog e;
  e.time_us = stamp;
  e.yaw = float(30 * M_PI / 180);
  e.status = sbg::status::kModeNavPosition | sbg::status::kAttitudeValid | sbg::status::kHeadingValid;
  sbg::NavLog n;
  n.time_us = stamp;
  n.vel_north = float(speed * std::cos(from));
  n.vel_east = float(speed * std::sin(from));
  n.latitude = 43.36;
  n.longitude = -8.4;
  n.status = sbg::status::kModeNavPosition | sbg::status::kHeadingValid | sbg::status::kAlignValid;
  sbg::ShipMotionLog m;
  m.time_us = stamp;
  m.heave = float(-elevation);  // positive down on the wire
  m.status = sbg::heave_status::kHeaveValid;
  Bytes b;
  if (s.order == 0) {
    Append(b, sbg::encode(e, s.euler40));
    Append(b, sbg::encode(n));
    Append(b, sbg::encode(m));
  } else {
    Append(b, sbg::encode(m));
    Append(b, sbg::encode(n));
    Append(b, sbg::encode(e, s.euler40));
  }
  return b;
}

void AddBurst(Bytes& input, const Bytes& burst, uint8_t clock_step) {
  const uint16_t header = uint16_t(burst.size() | (uint32_t(clock_step) << 11));
  input.push_back(uint8_t(header));
  input.push_back(uint8_t(header >> 8));
  Append(input, burst);
}

// count samples of the sea; the clock moves one second every rate samples; then a jump of
// `jump_code` (30: 15 min, 31: 1 h) and a few samples more, so that the interval ends.
Bytes SensorInput(uint8_t flags, const Sea& s, int count, uint8_t jump_code, uint32_t jump_us) {
  Bytes in = {flags, 14, 9, 50};
  const int per_second = int(s.rate_hz);
  for (int k = 0; k < count; ++k) AddBurst(in, Burst(s, k, 0), uint8_t((k + 1) % per_second == 0 ? 1 : 0));
  if (jump_code != 0) {
    AddBurst(in, {}, jump_code);
    for (int k = count; k < count + 12; ++k) AddBurst(in, Burst(s, k, jump_us), 0);
  }
  return in;
}

void SensorSeeds(const fs::path& dir) {
  Sea s;
  // clock valid, 10-minute interval (code 3), console off
  Write(dir, "sea_clock_interval_end", SensorInput(0x01 | (3 << 3), s, 120, 30, 0));
  // no date: the interval ends by the unit's own time (a jump of 16 minutes in its stamps)
  Bytes no_date = SensorInput(0x00 | (3 << 3), s, 60, 1, 16u * 60u * 1000000u);
  Write(dir, "sea_sensor_time_jump", no_date);
  // application mode and debug trace with the console running, the 40-byte EULER, reversed order
  Sea t = s;
  t.euler40 = true;
  t.order = 1;
  t.period_s = 5;
  Write(dir, "sea_app_mode_console_euler40", SensorInput(0x80 | 0x04 | 0x02 | 0x01, t, 40, 0, 0));
  // both direction methods (hour byte 48 + 14: method 2)
  Bytes both = SensorInput(0x01 | (1 << 3), s, 60, 29, 0);
  both[1] = 48 + 14;
  Write(dir, "sea_both_direction_methods", both);
  // two samples in one burst, and a burst cut short
  Bytes in = {0x01, 23, 59, 40};
  for (int k = 0; k < 40; k += 2) {
    Bytes two = Burst(s, k, 0);
    Append(two, Burst(s, k + 1, 0));
    if (k == 20) two.resize(two.size() - 30);
    AddBurst(in, two, 1);
  }
  Write(dir, "two_samples_per_burst_midnight", in);
}

// ---- gps: settings byte, then bursts separated by FE FF ----

std::vector<std::string> Epochs(const std::string& log_path) {
  std::ifstream in(log_path);
  std::vector<std::string> epochs;
  std::string line, cur;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line.compare(0, 6, "$GPRMC") == 0 && !cur.empty()) {
      epochs.push_back(cur);
      cur.clear();
    }
    cur += line + "\r\n";
  }
  if (!cur.empty()) epochs.push_back(cur);
  return epochs;
}

std::string Talker(const std::string& epoch, const std::string& talker) {
  std::istringstream in(epoch);
  std::string line, out;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t star = line.find('*');
    if (line.size() < 3 || star == std::string::npos) continue;
    std::string body = line.substr(1, star - 1);
    body.replace(0, 2, talker);
    out += sim::nmea_sentence(body);
  }
  return out;
}

void GpsSeeds(const fs::path& dir, const std::string& log_path) {
  const std::vector<std::string> epochs = Epochs(log_path);
  const std::string sep = "\xFE\xFF";
  auto input = [&](uint8_t flags, size_t first, size_t count, const std::string& talker) {
    Bytes in = {flags};
    for (size_t i = first; i < first + count && i < epochs.size(); ++i) {
      if (i != first) Append(in, sep);
      Append(in, talker.empty() ? epochs[i] : Talker(epochs[i], talker));
    }
    return in;
  };
  const size_t fix = epochs.size() > 6 ? epochs.size() - 6 : 0;
  Write(dir, "ublox_no_fix", input(0x00, 0, 3, ""));
  Write(dir, "ublox_fix", input(0x00, fix, 3, ""));
  Write(dir, "ublox_fix_clock_correction", input(0x01 | 0x04, fix, 6, ""));
  Write(dir, "ublox_fix_gn_trace", input(0x02 | 0x08, fix + 2, 2, "GN"));
  // configuration first: ACK-ACK for each of the five CFG-MSG (GSV, GLL, RMC, VTG, ZDA), then a fix
  Bytes configured = {0x10};
  for (uint8_t id : {0x03, 0x01, 0x04, 0x05, 0x08}) {
    Bytes a = {0xB5, 0x62, 0x05, 0x01, 0x02, 0x00, 0xF0, id};  // ACK-ACK of NMEA class F0, id
    uint8_t ck_a = 0, ck_b = 0;
    for (size_t i = 2; i < a.size(); ++i) {
      ck_a = uint8_t(ck_a + a[i]);
      ck_b = uint8_t(ck_b + ck_a);
    }
    a.push_back(ck_a);
    a.push_back(ck_b);
    Append(configured, a);
    Append(configured, sep);
  }
  Append(configured, epochs[fix]);
  Write(dir, "ublox_configure_then_fix", configured);
}

// ---- host: settings byte, then frames separated by FE FF ----

void HostSeeds(const fs::path& dir) {
  // Fields become a right frame; text that already starts with '$' goes as it is.
  auto frame = [](const std::string& fields) {
    return fields[0] == '$' ? fields : zrx03::make_frame(fields) + "\r\n";
  };
  auto input = [&](uint8_t flags, const std::vector<std::string>& frames) {
    Bytes in = {flags};
    for (size_t i = 0; i < frames.size(); ++i) {
      if (i != 0) Append(in, "\xFE\xFF");
      Append(in, frame(frames[i]));
    }
    return in;
  };
  for (int s = 1; s <= 21; ++s) {
    if (s == 13 || s == 14) continue;
    Write(dir, "query_1_" + std::to_string(s), input(0x02, {"1," + std::to_string(s)}));
  }
  Write(dir, "format_1_13", input(0x02, {"1,13", "1,8"}));
  Write(dir, "erase_format_1_14", input(0x01, {"1,14"}));
  Write(dir, "settings_2_3", input(0x00, {"2", "3,6,1,0,0,3000,3,30,10,1,0,5,10,20,255", "2"}));
  Write(dir, "clock_4", input(0x00, {"4,26,12,7,14,20,30", "1,8", "4,26,2,30,10,0,0"}));
  Write(dir, "counters_5_6_8_9", input(0x02, {"5,3", "6,50", "8,12", "9,100", "1,11", "1,12"}));
  Write(dir, "card_permission_7", input(0x03, {"7,0", "1,10", "7,1", "1,9"}));
  Write(dir, "clock_settings_10_11", input(0x00, {"10,1", "11,48010", "1,16", "11,5"}));
  Write(dir, "modes_12_14_15", input(0x02, {"12,1", "14,1", "1,21", "14,0", "15,1", "1,18"}));
  Write(dir, "baud_13", input(0x00, {"13,2", "1,19", "13,0"}));
  Write(dir, "garbage_and_bad_checksum", input(0x01, {"$ZRX03,1,8*00\r\n", "$GPRMC,1*00", "1,99"}));
  // through the host port and the main loop's reception (flag 0x08): frames back to back,
  // padding, frames without a line end, a frame cut short
  const std::string q5 = zrx03::make_frame("1,5"), q8 = zrx03::make_frame("1,8");
  auto port_input = [](uint8_t flags, const std::vector<std::string>& pieces) {
    Bytes in = {flags};
    for (size_t i = 0; i < pieces.size(); ++i) {
      if (i != 0) Append(in, "\xFE\xFF");
      Append(in, pieces[i]);
    }
    return in;
  };
  Write(dir, "port_two_frames_one_burst", port_input(0x08, {q5 + "\r\n" + q8 + "\r\n"}));
  Write(dir, "port_padding_and_glued", port_input(0x0A, {std::string("\0 \0", 3) + q5 + std::string("\0", 1) + q8 + q5,
                                                         "$ZRX03,1,", "xx" + q8 + "\r\n"}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s OUT_DIR NMEA_LOG\n", argv[0]);
    return 2;
  }
  const fs::path out(argv[1]);
  if (!fs::is_regular_file(argv[2])) {
    std::fprintf(stderr, "no NMEA log at '%s'\n", argv[2]);
    return 2;
  }
  SensorSeeds(out / "sensor");
  GpsSeeds(out / "gps", argv[2]);
  HostSeeds(out / "host");
  return 0;
}
