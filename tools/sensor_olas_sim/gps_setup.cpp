#include "sensor_olas_sim/gps_setup.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "sensor_olas_sim/options.h"

namespace sim {
// summary.json's "stats": every counter under its own name
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(GpsReceiverStats, power_ons, epochs, fix_epochs, sentences, bytes, ubx_in, acks,
                                   naks, nmea_in, ignored_off, epochs_dropped)
}  // namespace sim

namespace olas {

namespace {

const char* kKeys = "keys ttff, talker, fix, sats, lat, lon, pdop, hdop, vdop, saved, jump";

double number(const std::string& key, const std::string& value, double lo, double hi) {
  return parse_number(value, lo, hi, key);
}

// A duration that may be zero (an immediate fix): "30s", "2m", "1h" or plain seconds.
double ttff(const std::string& value) {
  std::string num = value;
  double unit = 1;
  if (!num.empty()) {
    char u = num.back();
    if (u == 's' || u == 'm' || u == 'h') {
      unit = u == 's' ? 1 : (u == 'm' ? 60 : 3600);
      num.pop_back();
    }
  }
  double v = 0;
  if (!is_decimal(num) || !to_double(num, &v) || v < 0 || v > kMaxDurationS)
    throw OptionError("ttff is not a duration: '" + value + "' (use 30s, 2m or 0)");
  return v * unit;
}

// "1d@2h": from true time 2h on, the receiver's time is a day ahead; "-1h@30m": an hour behind.
sim::GpsReceiverConfig::TimeJump jump(const std::string& value) {
  size_t at = value.find('@');
  if (at == std::string::npos || at == 0)
    throw OptionError("jump is not BY@AT: '" + value + "' (e.g. 1d@2h or -1h@30m)");
  std::string by = value.substr(0, at);
  bool back = by[0] == '-';
  if (back || by[0] == '+') by.erase(0, 1);
  try {
    double by_s = parse_duration(by), at_s = parse_duration(value.substr(at + 1));
    if (by_s != std::floor(by_s)) throw OptionError("");
    return {at_s, int64_t(back ? -by_s : by_s)};
  } catch (const OptionError&) {
    throw OptionError("jump is not BY@AT (positive durations, BY in whole seconds): '" + value + "' (e.g. 1d@2h or -1h@30m)");
  }
}

}  // namespace

sim::GpsReceiverConfig parse_gps(const std::string& text, sim::GpsReceiverConfig c) {
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t comma = text.find(',', pos);
    std::string item =
        text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    pos = comma == std::string::npos ? text.size() + 1 : comma + 1;
    if (item.empty()) {
      if (text.empty()) break;
      throw OptionError("empty item in '" + text + "' (" + kKeys + ")");
    }
    size_t eq = item.find('=');
    if (eq == std::string::npos)
      throw OptionError("expected KEY=VALUE, got '" + item + "' (" + kKeys + ")");
    std::string key = item.substr(0, eq), value = item.substr(eq + 1);
    if (key == "ttff") {
      c.ttff_s = ttff(value);
    } else if (key == "talker") {
      if (value != "GP" && value != "GN")
        throw OptionError("talker must be GP or GN: '" + value + "'");
      c.talker = value;
    } else if (key == "fix") {
      if (value == "never")
        c.never_fix = true;
      else if (value == "normal")
        c.never_fix = false;
      else
        throw OptionError("fix must be never or normal: '" + value + "'");
    } else if (key == "sats") {
      double v = number("sats", value, 0, sim::GpsReceiverConfig::kMaxSatellites);
      if (v != std::floor(v)) throw OptionError("sats is not a whole number: '" + value + "'");
      c.satellites = int(v);
    } else if (key == "lat") {
      c.lat_deg = number("lat", value, -90, 90);
    } else if (key == "lon") {
      c.lon_deg = number("lon", value, -180, 180);
    } else if (key == "pdop") {
      c.pdop = number("pdop", value, 0.5, 99.99);
    } else if (key == "hdop") {
      c.hdop = number("hdop", value, 0.5, 99.99);
    } else if (key == "vdop") {
      c.vdop = number("vdop", value, 0.5, 99.99);
    } else if (key == "saved") {
      if (value == "gga-gsa-off")
        c.gga_gsa_saved_off = true;
      else if (value == "default")
        c.gga_gsa_saved_off = false;
      else
        throw OptionError("saved must be default or gga-gsa-off: '" + value + "'");
    } else if (key == "jump") {
      c.time_jumps.push_back(jump(value));
    } else {
      throw OptionError("unknown key '" + key + "' in '" + item + "' (" + kKeys + ")");
    }
  }
  return c;
}

GpsOptions gps_options(const std::optional<std::string>& gps, bool no_gps,
                       const std::optional<std::string>& replay_gps) {
  GpsOptions o;
  if (no_gps) {
    if (gps) throw OptionError("--no-gps: cannot be combined with --gps '" + *gps + "'");
    if (replay_gps)
      throw OptionError("--no-gps: cannot be combined with --replay-gps '" + *replay_gps + "'");
    o.enabled = false;
    return o;
  }
  if (gps && replay_gps)
    throw OptionError("--replay-gps: '" + *replay_gps + "' replaces the receiver set by --gps '" +
                      *gps + "'; give one of them");
  if (gps) {
    try {
      o.receiver = parse_gps(*gps);
    } catch (const OptionError& e) {
      throw OptionError(std::string("--gps: ") + e.what());
    }
  }
  if (replay_gps) {
    if (replay_gps->empty()) throw OptionError("--replay-gps: no file given");
    o.receiver.replay_path = *replay_gps;
    try {
      sim::GpsReceiver::read_log(*replay_gps);  // read now, so that a bad log is an option error
    } catch (const std::runtime_error& e) {
      throw OptionError(std::string("--replay-gps: ") + e.what());
    }
  }
  return o;
}

GpsSetup setup_gps(sim::Board& board, const GpsOptions& options, int64_t start_utc) {
  GpsSetup s;
  if (!options.enabled) return s;
  sim::GpsReceiverConfig c = options.receiver;
  c.start_utc = start_utc;
  s.receiver = std::make_unique<sim::GpsReceiver>(board, c);
  s.receiver->start();
  return s;
}

sim::GpsReceiver::ClockProbe firmware_clock_probe(sim::Machine& machine) {
  return [&machine](sim::FirmwareClock& c) {
    namespace fw = sim::fw;
    c.day = machine.read(fw::cdia_utc);
    c.month = machine.read(fw::cmes_utc);
    c.year = machine.read(fw::cano_utc);
    c.hour = machine.read(fw::chora_utc);
    c.minute = machine.read(fw::cminuto_utc);
    c.second = machine.read(fw::csegundo_utc);
    c.time_wanted = machine.read(fw::cpeticion_nueva_hora);
    c.boot = machine.boots();
    c.sub_s = machine.read(fw::cacciones_cada_segundo) * 0.1 + machine.read(fw::cacciones_cada_100milisegundos) * 0.01 +
              machine.read(fw::cacciones_cada_10milisegundos) * 0.001;
    c.clock_rate = machine.read(fw::CTE_VELOCIDAD_RELOJ);
    return true;
  };
}

void connect_gps(GpsSetup& gps, sim::Machine& machine) {
  if (gps.receiver) gps.receiver->set_clock_probe(firmware_clock_probe(machine));
}

nlohmann::json gps_summary(GpsSetup& gps) {
  nlohmann::json j;
  if (!gps.receiver) {
    j["mode"] = "none";
    return j;
  }
  sim::GpsReceiver& r = *gps.receiver;
  r.check_fixes();
  const sim::GpsReceiverConfig& c = r.config();
  if (!c.replay_path.empty()) {
    j["mode"] = "replay";
    j["replay"] = {
        {"file", c.replay_path}, {"epochs", r.replay_epochs()}, {"sent", r.replay_sent()}};
  } else {
    j["mode"] = "live";
    j["receiver"] = {
        {"ttff_s", c.ttff_s},   {"talker", c.talker}, {"fix", c.never_fix ? "never" : "normal"},
        {"sats", c.satellites}, {"lat", c.lat_deg},   {"lon", c.lon_deg},
        {"pdop", c.pdop},       {"hdop", c.hdop},     {"vdop", c.vdop},
        {"saved", c.gga_gsa_saved_off ? "gga-gsa-off" : "default"}};
    for (const auto& jmp : c.time_jumps)
      j["receiver"]["jumps"].push_back({{"at_s", jmp.at_s}, {"by_s", jmp.by_s}});
  }
  const sim::GpsReceiverStats& s = r.stats();
  j["stats"] = s;
  j["fixes"] = nlohmann::json::array();
  for (const auto& f : r.fixes()) {
    nlohmann::json e = {{"t", f.t_s},
                        {"true_utc", f.true_utc},
                        {"clock_before", f.clock_before},
                        {"clock_after", f.clock_after},
                        {"clock_after_t", f.clock_after_t_s},
                        {"clock_rate", f.clock_rate}};
    e["error_s"] = f.error_s ? nlohmann::json(*f.error_s) : nlohmann::json(nullptr);
    j["fixes"].push_back(e);
  }
  return j;
}

}  // namespace olas
