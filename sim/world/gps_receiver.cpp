#include "sim/world/gps_receiver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include "sim/text.h"

namespace sim {

namespace {

// NMEA message ids of class 0xF0, as UBX CFG-MSG names them.
constexpr uint8_t kGga = 0x00, kGll = 0x01, kGsa = 0x02, kGsv = 0x03, kRmc = 0x04, kVtg = 0x05,
                  kZda = 0x08;
constexpr uint8_t kClassNmea = 0xF0;
constexpr uint8_t kClassCfg = 0x06, kIdCfgMsg = 0x01;
constexpr uint8_t kClassAck = 0x05, kIdAck = 0x01, kIdNak = 0x00;
constexpr int kUart1 = 1;                // CFG-MSG with one rate per port: the receiver's UART 1
constexpr size_t kMaxUbxPayload = 1024;  // longer lengths are noise, not frames
constexpr size_t kMaxNmeaIn = 100;
// More than this waiting means the 9600-baud line cannot keep up: new epochs are dropped.
constexpr size_t kMaxQueuedBytes = 2000;

// Satellites the simulated sky holds: the first `satellites` are used in the solution, and two
// more are in view without being used.
constexpr int kPrns[] = {2, 5, 7, 9, 13, 15, 18, 20, 24, 27, 29, 30, 8, 12};

std::string two(int v) {
  char b[16];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

std::string fixed2(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.2f", v);
  return b;
}

// ddmm.mmmmm / dddmm.mmmmm and the hemisphere letter, as u-blox writes them.
std::string angle(double deg, int deg_digits, char pos, char neg, char* hemi) {
  *hemi = deg < 0 ? neg : pos;
  double a = std::fabs(deg);
  int64_t total = std::llround(a * 60.0 * 100000.0);  // in 1e-5 minutes
  int64_t d = total / (60 * 100000LL);
  int64_t rest = total % (60 * 100000LL);
  char b[32];
  std::snprintf(b, sizeof b, "%0*lld%02lld.%05lld", deg_digits, static_cast<long long>(d),
                static_cast<long long>(rest / 100000), static_cast<long long>(rest % 100000));
  return b;
}

std::string iso_ms(double unix_s) {
  double whole = std::floor(unix_s);
  int ms = int(std::llround((unix_s - whole) * 1000.0));
  if (ms == 1000) {
    whole += 1;
    ms = 0;
  }
  CivilTime c = civil_from_unix(int64_t(whole));
  char b[40];
  std::snprintf(b, sizeof b, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", c.year, c.month, c.day, c.hour,
                c.minute, c.second, ms);
  return b;
}

bool is_rmc(const std::vector<uint8_t>& item) {
  return item.size() >= 6 && item[0] == '$' && item[3] == 'R' && item[4] == 'M' && item[5] == 'C';
}

}  // namespace

// ---- calendar ------------------------------------------------------------------------------

// Howard Hinnant's days_from_civil / civil_from_days.
int64_t unix_from_civil(int year, int month, int day, int hour, int minute, int second) {
  return days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

CivilTime civil_from_unix(int64_t unix_s) {
  int64_t days = unix_s >= 0 ? unix_s / 86400 : -((-unix_s + 86399) / 86400);
  int64_t secs = unix_s - days * 86400;
  CivilDate d = civil_from_days(days);
  return CivilTime{d.year, d.month, d.day, int(secs / 3600), int(secs % 3600 / 60), int(secs % 60)};
}

// ---- framing -------------------------------------------------------------------------------

std::string GpsReceiver::sentence(const std::string& body) { return nmea_sentence(body); }

std::vector<uint8_t> GpsReceiver::ubx(uint8_t cls, uint8_t id,
                                      const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> f;
  f.reserve(payload.size() + 8);
  for (uint8_t b : {uint8_t(0xB5), uint8_t(0x62), cls, id, uint8_t(payload.size() & 0xFF),
                    uint8_t(payload.size() >> 8)})
    f.push_back(b);
  for (uint8_t b : payload) f.push_back(b);
  uint8_t a = 0, b = 0;
  for (size_t i = 2; i < f.size(); ++i) {
    a = uint8_t(a + f[i]);
    b = uint8_t(b + a);
  }
  f.push_back(a);
  f.push_back(b);
  return f;
}

int64_t GpsReceiverConfig::time_offset(double t_s) const {
  int64_t off = 0;
  for (const auto& j : time_jumps)
    if (t_s >= j.at_s) off += j.by_s;
  return off;
}

// ---- set-up and power ----------------------------------------------------------------------

GpsReceiver::GpsReceiver(Board& board, const GpsReceiverConfig& config)
    : board_(board), config_(config) {
  config_.satellites = std::clamp(config_.satellites, 0, GpsReceiverConfig::kMaxSatellites);
  reset_config();
  if (!config_.replay_path.empty()) replay_ = read_log(config_.replay_path);
}

void GpsReceiver::reset_config() {
  // The u-blox default: the six standard sentences every epoch, ZDA off (or the saved one).
  rates_.assign(16, 0);
  for (uint8_t id : {kGga, kGll, kGsa, kGsv, kRmc, kVtg}) rates_[id] = 1;
  if (config_.gga_gsa_saved_off) rates_[kGga] = rates_[kGsa] = 0;
}

uint8_t GpsReceiver::rate(uint8_t nmea_id) const {
  return nmea_id < rates_.size() ? rates_[nmea_id] : 0;
}

void GpsReceiver::start() {
  board_.attach(GpsReceiverConfig::kPort, this);
  auto previous = board_.on_pin_write;
  std::weak_ptr<int> alive = alive_;
  board_.on_pin_write = [this, previous, alive](int pin, uint8_t level, Cycles t) {
    if (previous) previous(pin, level, t);
    if (pin == GpsReceiverConfig::kPowerPin && !alive.expired()) power_check();
  };
  power_check();
}

bool GpsReceiver::pin_powered() const {
  // Only a driven low level powers it: a floating pin (after an MCU reset) is not an enable.
  return board_.pin_mode(GpsReceiverConfig::kPowerPin) == 1 &&
         board_.pin_level(GpsReceiverConfig::kPowerPin) == 0;
}

void GpsReceiver::power_check() {
  bool on = pin_powered();
  if (on == powered_) return;
  powered_ = on;
  ++gen_;
  // Whatever was still to be sent dies with the power; bytes already on the wire arrive.
  out_.clear();
  out_bytes_ = 0;
  pumping_ = false;
  in_ = In::Idle;
  if (on) {
    power_on_s_ = now_s();
    ++stats_.power_ons;
    schedule_epoch(int64_t(std::ceil(power_on_s_ + config_.boot_s)));
  } else {
    reset_config();
    check_fixes();
  }
}

void GpsReceiver::schedule_epoch(int64_t k) {
  uint64_t gen = gen_;
  std::weak_ptr<int> alive = alive_;
  board_.schedule(board_.cycles_for(double(k) + config_.latency_s), [this, gen, k, alive] {
    if (!alive.expired() && gen == gen_) epoch(k);
  });
}

// ---- output --------------------------------------------------------------------------------

std::vector<std::string> GpsReceiver::live_epoch(int64_t utc, bool fix,
                                                 uint64_t epoch_index) const {
  const std::string& t = config_.talker;
  auto on = [&](uint8_t id) { return rate(id) != 0 && epoch_index % rate(id) == 0; };
  std::vector<std::string> s;
  int used = fix ? config_.satellites : 0;
  if (!fix) {
    if (on(kRmc)) s.push_back(sentence(t + "RMC,,V,,,,,,,,,,N"));
    if (on(kVtg)) s.push_back(sentence(t + "VTG,,,,,,,,,N"));
    if (on(kGga)) s.push_back(sentence(t + "GGA,,,,,,0,00,99.99,,,,,,"));
    if (on(kGsa)) s.push_back(sentence(t + "GSA,A,1,,,,,,,,,,,,,99.99,99.99,99.99"));
    if (on(kGsv)) s.push_back(sentence("GPGSV,1,1,00"));
    if (on(kGll)) s.push_back(sentence(t + "GLL,,,,,,V,N"));
    if (on(kZda)) s.push_back(sentence(t + "ZDA,,,,,,"));
    return s;
  }
  CivilTime c = civil_from_unix(utc);
  std::string hms = two(c.hour) + two(c.minute) + two(c.second) + ".00";
  char ns, ew;
  std::string lat = angle(config_.lat_deg, 2, 'N', 'S', &ns);
  std::string lon = angle(config_.lon_deg, 3, 'E', 'W', &ew);
  std::string pos = lat + "," + ns + "," + lon + "," + ew;
  if (on(kRmc))
    s.push_back(sentence(t + "RMC," + hms + ",A," + pos + ",0.012,," + two(c.day) + two(c.month) +
                         two(c.year % 100) + ",,,A"));
  if (on(kVtg)) s.push_back(sentence(t + "VTG,,T,,M,0.012,N,0.022,K,A"));
  if (on(kGga)) {
    char alt[64];
    std::snprintf(alt, sizeof alt, "%.1f,M,50.2,M,,", config_.alt_m);
    s.push_back(sentence(t + "GGA," + hms + "," + pos + ",1," + two(used) + "," +
                         fixed2(config_.hdop) + "," + alt));
  }
  if (on(kGsa)) {
    std::string b = t + "GSA,A," + (used >= 4 ? "3" : "2");
    for (int i = 0; i < 12; ++i) b += "," + (i < used ? two(kPrns[i]) : std::string());
    b += "," + fixed2(config_.pdop) + "," + fixed2(config_.hdop) + "," + fixed2(config_.vdop);
    s.push_back(sentence(b));
  }
  if (on(kGsv)) {
    int view = std::min<int>(used + 2, int(std::size(kPrns)));
    int lines = (view + 3) / 4;
    for (int l = 0; l < lines; ++l) {
      std::string b =
          "GPGSV," + std::to_string(lines) + "," + std::to_string(l + 1) + "," + two(view);
      for (int i = l * 4; i < std::min(view, l * 4 + 4); ++i) {
        int el = 10 + (kPrns[i] * 37) % 75, az = (kPrns[i] * 97) % 360;
        char sv[40];
        std::snprintf(sv, sizeof sv, ",%02d,%02d,%03d,", kPrns[i], el, az);
        b += sv;
        if (i < used) b += two(30 + (kPrns[i] * 7) % 18);
      }
      s.push_back(sentence(b));
    }
  }
  if (on(kGll)) s.push_back(sentence(t + "GLL," + pos + "," + hms + ",A,A"));
  if (on(kZda))
    s.push_back(sentence(t + "ZDA," + hms + "," + two(c.day) + "," + two(c.month) + "," +
                         std::to_string(c.year) + ",00,00"));
  return s;
}

void GpsReceiver::epoch(int64_t k) {
  power_check();
  if (!powered_) return;
  schedule_epoch(k + 1);

  std::vector<std::vector<uint8_t>> items;
  if (!config_.replay_path.empty()) {
    if (replay_next_ >= replay_.size()) return;  // the log has ended: silence
    items = replay_[replay_next_++];
  } else {
    bool fix =
        !config_.never_fix && config_.satellites >= 3 && double(k) - power_on_s_ >= config_.ttff_s;
    for (auto& s : live_epoch(config_.start_utc + k + config_.time_offset(double(k)), fix, live_epochs_)) {
      items.emplace_back(s.begin(), s.end());
      ++stats_.sentences;
    }
    ++live_epochs_;
    if (fix) ++stats_.fix_epochs;
  }
  if (items.empty()) return;
  if (out_bytes_ > kMaxQueuedBytes) {
    ++stats_.epochs_dropped;
    return;
  }
  ++stats_.epochs;
  for (size_t i = 0; i < items.size(); ++i)
    queue(std::move(items[i]), false, i + 1 == items.size());
}

void GpsReceiver::queue(std::vector<uint8_t> bytes, bool front, bool epoch_end) {
  out_bytes_ += bytes.size();
  if (front)
    out_.push_front(Message{std::move(bytes), epoch_end});
  else
    out_.push_back(Message{std::move(bytes), epoch_end});
  if (!pumping_) pump();
}

// One message at a time on the wire, so that an answer waits at most for the message being sent.
void GpsReceiver::pump() {
  if (out_.empty() || !powered_) {
    pumping_ = false;
    return;
  }
  pumping_ = true;
  Message m = std::move(out_.front());
  out_.pop_front();
  out_bytes_ -= m.bytes.size();
  board_.device_send(GpsReceiverConfig::kPort, m.bytes.data(), m.bytes.size());
  stats_.bytes += m.bytes.size();
  Cycles byte_time = Cycles(std::llround(10.0L * board_.true_hz() / GpsReceiverConfig::kBaud));
  Cycles done = board_.now() + byte_time * m.bytes.size();
  uint64_t gen = gen_;
  bool epoch_end = m.epoch_end;
  std::weak_ptr<int> alive = alive_;
  board_.schedule(done, [this, gen, epoch_end, alive] {
    if (alive.expired() || gen != gen_) return;
    if (epoch_end) reading();
    pump();
  });
}

// ---- input ---------------------------------------------------------------------------------

void GpsReceiver::on_byte(Board&, uint8_t byte, Cycles) {
  power_check();
  if (!powered_ || now_s() < power_on_s_ + config_.boot_s) {
    ++stats_.ignored_off;
    return;
  }
  switch (in_) {
    case In::Idle:
      if (byte == 0xB5)
        in_ = In::Sync2;
      else if (byte == '$') {
        in_ = In::Nmea;
        in_nmea_len_ = 1;
      }
      return;
    case In::Sync2:
      in_ = byte == 0x62 ? In::Class : (byte == 0xB5 ? In::Sync2 : In::Idle);
      return;
    case In::Class:
      in_cls_ = byte;
      in_ = In::Id;
      return;
    case In::Id:
      in_id_ = byte;
      in_ = In::Len1;
      return;
    case In::Len1:
      in_len_ = byte;
      in_ = In::Len2;
      return;
    case In::Len2:
      in_len_ = uint16_t(in_len_ | (uint16_t(byte) << 8));
      in_payload_.clear();
      if (in_len_ > kMaxUbxPayload)
        in_ = In::Idle;
      else
        in_ = in_len_ ? In::Payload : In::CkA;
      return;
    case In::Payload:
      in_payload_.push_back(byte);
      if (in_payload_.size() == in_len_) in_ = In::CkA;
      return;
    case In::CkA:
      in_cka_ = byte;
      in_ = In::CkB;
      return;
    case In::CkB: {
      in_ = In::Idle;
      std::vector<uint8_t> expect = ubx(in_cls_, in_id_, in_payload_);
      bool ok = expect[expect.size() - 2] == in_cka_ && expect.back() == byte;
      on_ubx(in_cls_, in_id_, in_payload_, ok);
      return;
    }
    case In::Nmea:
      if (byte == '\n') {
        ++stats_.nmea_in;
        in_ = In::Idle;
      } else if (++in_nmea_len_ > kMaxNmeaIn) {
        in_ = In::Idle;
      }
      return;
  }
}

void GpsReceiver::on_ubx(uint8_t cls, uint8_t id, const std::vector<uint8_t>& payload,
                         bool checksum_ok) {
  ++stats_.ubx_in;
  if (!checksum_ok) {
    ++stats_.naks;
    queue(ubx(kClassAck, kIdNak, {cls, id}), true, false);
    return;
  }
  if (cls != kClassCfg) return;  // polls and other classes: not modelled, no answer
  if (id == kIdCfgMsg) {
    if (payload.size() == 2) return;  // a poll of the current rate: not modelled
    if (payload.size() == 3 || payload.size() == 8) {
      uint8_t r = payload.size() == 3 ? payload[2] : payload[2 + kUart1];
      if (payload[0] == kClassNmea && payload[1] < rates_.size()) rates_[payload[1]] = r;
    }
  }
  ++stats_.acks;
  queue(ubx(kClassAck, kIdAck, {cls, id}), true, false);
}

// ---- fixes the firmware accepts ------------------------------------------------------------

void GpsReceiver::reading() {
  FirmwareClock c;
  if (!probe_ || !probe_(c)) return;
  compare(c);
  last_ = Reading{c, now_s()};
}

void GpsReceiver::check_fixes() {
  FirmwareClock c;
  if (!probe_ || !probe_(c)) return;
  compare(c);
}

void GpsReceiver::compare(const FirmwareClock& now) {
  if (!last_ || last_->clock.boot != now.boot || last_->clock.time_wanted == 0 ||
      now.time_wanted != 0)
    return;
  // The fix came from the epoch whose end was last read: the clock then is the one it replaced.
  const FirmwareClock& c = last_->clock;
  GpsFixRecord r;
  r.t_s = last_->t_s;
  double true_utc = double(config_.start_utc) + last_->t_s;
  r.true_utc = iso_ms(true_utc);
  auto shown = [](const FirmwareClock& k) {
    char b[48];
    int ms = std::min(999, int(k.sub_s * 1000.0));
    std::snprintf(b, sizeof b, "%02u/%02u/%02u %02u:%02u:%02u.%03d", k.day, k.month, k.year, k.hour, k.minute,
                  k.second, ms);
    return std::string(b);
  };
  r.clock_before = shown(c);
  // a replayed log's time is not the run's true time: what the firmware took shows here
  r.clock_after = shown(now);
  r.clock_after_t_s = now_s();
  if (c.year != 0 && c.month >= 1 && c.month <= 12 && c.day >= 1 && c.day <= 31) {
    double fw = double(unix_from_civil(2000 + c.year, c.month, c.day, c.hour, c.minute, c.second)) +
                c.sub_s;
    r.error_s = fw - true_utc;
  }
  r.clock_rate = c.clock_rate;
  fixes_.push_back(r);
  last_->clock.time_wanted = 0;
}

// ---- replay --------------------------------------------------------------------------------

GpsReceiver::Epochs GpsReceiver::read_log(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open GPS log '" + path + "'");
  Epochs epochs;
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::vector<uint8_t>> epoch;
  std::vector<std::vector<uint8_t>> glued;  // UBX frames a sentence follows without a line end
  bool any_nmea = false;
  size_t i = 0;
  while (i < data.size()) {
    std::vector<uint8_t> item;
    if (data[i] == 0xB5 && i + 6 <= data.size() && data[i + 1] == 0x62) {
      // A binary UBX frame, as recorded: its length decides where it ends, not a line end.
      size_t n = 8 + (size_t(data[i + 4]) | (size_t(data[i + 5]) << 8));
      n = std::min(n, data.size() - i);
      item.assign(data.begin() + i, data.begin() + i + n);
      i += n;
      if (i < data.size() && data[i] == '$') {
        glued.push_back(std::move(item));  // it goes with what it is glued to
        continue;
      }
    } else {
      size_t e = i;
      while (e < data.size() && data[e] != '\n') ++e;
      size_t end = e;
      if (end > i && data[end - 1] == '\r') --end;
      bool comment = data[i] == '#';
      bool blank = end == i;
      if (!comment && !blank) {
        item.assign(data.begin() + i, data.begin() + end);
        item.push_back('\r');
        item.push_back('\n');
      }
      i = e + 1;
      if (item.empty()) continue;
      if (item[0] == '$') any_nmea = true;
    }
    // An epoch begins at each RMC; what comes before the first one is an epoch of its own.
    if (is_rmc(item) && !epoch.empty()) {
      epochs.push_back(std::move(epoch));
      epoch.clear();
    }
    for (auto& g : glued) epoch.push_back(std::move(g));
    glued.clear();
    epoch.push_back(std::move(item));
  }
  for (auto& g : glued) epoch.push_back(std::move(g));
  if (!epoch.empty()) epochs.push_back(std::move(epoch));
  if (!any_nmea) throw std::runtime_error("no NMEA sentence in GPS log '" + path + "'");
  return epochs;
}

}  // namespace sim
