// sensor_olas_sim: runs the wave-sensor firmware on a simulated board in virtual time.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "sensor_olas_sim/options.h"
#include "sensor_olas_sim/run.h"
#include "sensor_olas_sim/scenario.h"
#include "sensor_olas_sim/settings_preset.h"
#include "sim/world/motion_unit.h"

namespace {

std::string number(const nlohmann::json& v, const char* format) {
  if (!v.is_number()) return "-";
  char buf[32];
  std::snprintf(buf, sizeof buf, format, v.get<double>());
  return buf;
}

// "14:20" from "2026-12-07T14:20:00Z"; "--:--" when unknown.
std::string hhmm(const nlohmann::json& t) {
  return t.is_string() && t.get<std::string>().size() >= 16 ? t.get<std::string>().substr(11, 5) : "--:--";
}

// One line per averaging interval: the firmware's record (host frame, else card line) beside
// the truth of the same interval.
void print_intervals(const nlohmann::json& intervals) {
  if (intervals.empty()) {
    std::printf("No averaging interval ended.\n");
    return;
  }
  std::printf("\nAveraging intervals: the firmware's record | the truth of the same interval (heights m, periods s, "
              "directions deg from)\n");
  std::printf("%-5s %-5s | %5s %5s %5s %5s %5s %5s %11s | %5s %5s %5s %5s %5s %5s\n", "start", "end", "waves",
              "Hmax", "H1/3", "H1/10", "T1/3", "Tav", "dir", "waves", "Hmax", "H1/3", "H1/10", "Tz", "dir");
  for (const auto& i : intervals) {
    const auto& f = i["host"].is_object() ? i["host"] : i["card"];
    std::string dir = number(f["dir_vel_deg"], "%.1f");
    if (f["dir_drift_deg"].is_number())
      dir = f["dir_vel_deg"].is_number() ? dir + "/" + number(f["dir_drift_deg"], "%.1f") : number(f["dir_drift_deg"], "%.1f");
    const auto& t = i["truth"];
    const bool truth = t.is_object();
    auto tv = [&](const char* key, const char* format) { return truth ? number(t[key], format) : std::string("-"); };
    const char* mark = i["host"].is_object() && i["card"].is_object() && i["host"] != i["card"] ? " (card differs)"
                       : !i["card"].is_object()                                                  ? " (no card record)"
                       : !i["host"].is_object()                                                  ? " (card only)"
                                                                                                 : "";
    std::printf("%-5s %-5s | %5s %5s %5s %5s %5s %5s %11s | %5s %5s %5s %5s %5s %5s%s\n", hhmm(i["start"]).c_str(),
                hhmm(i["end"]).c_str(), number(f["waves"], "%.0f").c_str(), number(f["hmax_m"], "%.2f").c_str(),
                number(f["h13_m"], "%.2f").c_str(), number(f["h110_m"], "%.2f").c_str(),
                number(f["t13_s"], "%.1f").c_str(), number(f["tav_s"], "%.1f").c_str(), dir.c_str(),
                tv("waves", "%.0f").c_str(), tv("hmax_m", "%.2f").c_str(), tv("h13_m", "%.2f").c_str(),
                tv("h110_m", "%.2f").c_str(), tv("tz_s", "%.1f").c_str(), tv("mean_dir_deg", "%.1f").c_str(), mark);
  }
}

void print_outputs(const std::string& out, const nlohmann::json& s) {
  std::printf("\nOutputs in %s/:\n", out.c_str());
  std::printf("  summary.json        the run, and every interval beside its truth\n");
  std::printf("  console.log         the firmware's debug console\n");
  std::printf("  host.log            what the host controller received (host-exchanges.log: its frames)\n");
  std::printf("  flash.bin           the settings store, kept for the next run in this folder\n");
  if (s["card"].is_object() && s["card"].contains("files")) {
    std::string res;
    size_t files = 0;
    for (const auto& f : s["card"]["files"]) {
      ++files;
      const auto p = f["path"].get<std::string>();
      if (p.size() > 4 && p.compare(p.size() - 4, 4, ".res") == 0) res += " card/" + p;
    }
    std::printf("  card.img, card/     the SD card and its %zu files copied out (results:%s)\n", files,
                res.empty() ? " none" : res.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  olas::RunOptions o;
  std::string duration = "3h", start = olas::kDefaultStart, starve, clock_ppm = "150";
  CLI::App app{"Runs the wave-sensor firmware on a simulated board, in virtual time."};
  app.add_option("--duration", duration, "virtual time to run: 90s, 20m, 3h, 2d")->capture_default_str();
  app.add_option("--out", o.out_dir, "output folder (console.log, host.log, flash.bin, summary.json)")
      ->capture_default_str();
  app.add_option("--start", start, "true UTC at virtual time 0 (ISO 8601)")->capture_default_str();
  app.add_option("--clock-ppm", clock_ppm, "error of the board's oscillator, in ppm (-20000..20000)")
      ->capture_default_str();
  app.add_flag("--jumper", o.jumper, "debug jumper fitted (pin 28 low)");
  app.add_option("--starve-watchdog", starve, "fault: from this virtual time on, watchdog restarts are lost");
  app.add_option("--firmware", o.firmware_image, "firmware image (shared library) to run");
  app.add_flag("--quiet", o.quiet, "nothing on the terminal unless something fails");
  app.config_formatter(std::make_shared<olas::JsonScenario>(app));
  app.set_config("--scenario", "",
                 "read options from a JSON object whose keys are the long options without dashes, e.g. "
                 "{\"duration\": \"6h\", \"sea\": \"hs=3,tp=10\", \"no-gps\": true}; the command line wins");
  std::string preset;
  std::vector<std::string> settings;
  auto* preset_opt = app.add_option("--preset", preset, "a named scenario (below); explicit options override it");
  app.add_option("--set", settings,
                 "NAME=VALUE: a stored setting written into the flash store before the first boot; repeatable");
  app.footer("Presets:" + olas::preset_help() + "\n\nSettings for --set (names as the firmware's):" +
             olas::settings_help() + "\n  CTE_METODO_DIRECCION also takes velocity, drift or both.");

  // The world around the motion sensor.
  std::string sea, seed, rate, drift, corrupt, missing, order;
  std::vector<std::string> silences;
  bool no_sensor = false;
  auto* sea_opt = app.add_option("--sea", sea, "the sea: hs=2,tp=9,dir=270,spread=25,gamma=3.3 (any subset) or calm");
  app.add_option("--seed", seed, "seed of the world's randomness (sea, sensor clock, faults); default 1");
  auto* rate_opt = app.add_option("--rate", rate, "motion unit samples per second, 1..50; default 10");
  auto* drift_opt = app.add_option("--drift", drift, "buoy drift SPEED,DIR: m/s and degrees toward; default 0.2,90");
  auto* euler40 = app.add_flag("--euler40", o.motion_unit.euler40, "the unit sends the 40-byte EKF_EULER of 5.x firmware");
  auto* order_opt = app.add_option("--sensor-order", order, "order of the logs in a burst; default euler,nav,ship");
  auto* capture = app.add_option("--capture-sensor", o.motion_unit.capture_path, "save every byte the unit sends to FILE");
  auto* replay = app.add_option("--replay-sensor", o.motion_unit.replay_path,
                                "replay a recorded sbgECom stream (paced by its time stamps) instead of the sea");
  auto* corrupt_opt = app.add_option("--sensor-corrupt", corrupt, "fault: probability that a sent byte is corrupted");
  auto* missing_opt = app.add_option("--sensor-missing", missing,
                                     "fault: LOG[:P],... logs (euler, nav, ship) left out with probability P (default 1)");
  auto* silence_opt = app.add_option("--sensor-silence", silences, "fault: FROM+DURATION of silence (e.g. 5m+30s); repeatable");
  app.add_flag("--no-sensor", no_sensor, "no motion unit on Serial2")
      ->excludes(sea_opt)->excludes(rate_opt)->excludes(drift_opt)->excludes(euler40)->excludes(order_opt)
      ->excludes(capture)->excludes(replay)->excludes(corrupt_opt)->excludes(missing_opt)->excludes(silence_opt);
  replay->excludes(sea_opt)->excludes(rate_opt)->excludes(drift_opt)->excludes(euler40)->excludes(order_opt);
  // GPS receiver, SD card and host controller
  std::string gps_text, replay_gps, card_image, card_size, card_events;
  bool no_gps = false, no_card = false;
  auto* gps_opt = app.add_option("--gps", gps_text,
                                 "GPS receiver: ttff=30s,talker=GP|GN,fix=normal|never,sats=8,lat=,lon=,pdop=,hdop=,vdop=");
  auto* replay_gps_opt = app.add_option("--replay-gps", replay_gps, "send a recorded receiver log instead of the receiver");
  app.add_flag("--no-gps", no_gps, "no GPS receiver on Serial3");
  app.add_option("--card", card_image, "card image file; default OUT/card.img (made and formatted when missing)");
  app.add_option("--card-size", card_size, "size of a new card image: 4G (default), 2G, 512M; 2G and below is a standard card");
  app.add_option("--card-event", card_events, "card events: remove@2h,insert@3h,fail-writes@1h,full@4h");
  app.add_flag("--card-full", o.card.full, "the card takes no writes");
  app.add_flag("--card-absent", o.card.absent, "the card starts out of its slot");
  app.add_flag("--no-card", no_card, "no card at all");
  olas::add_host_options(app, o.host);
  try {
    app.parse(argc, argv);
    // an option given with nothing after it ("--sea ''", "seed": "") is a mistake, not a default
    for (const CLI::Option* op : app.get_options()) {
      if (op->count() == 0 || op->get_type_size() == 0) continue;
      for (const std::string& r : op->results())
        if (r.empty()) throw olas::OptionError(op->get_name() + ": empty value");
    }
    const bool sea_given = sea_opt->count() > 0;
    if (preset_opt->count()) {
      olas::apply_preset(app, preset);
      o.preset = preset;
      // a preset's sea under an explicit one: keys not given keep the preset's values
      const auto& p = olas::presets().at(preset);
      if (sea_given && p.contains("sea")) o.sea = olas::parse_sea(p["sea"].get<std::string>(), o.sea);
    }
    if (auto* scenario = app.get_config_ptr(); scenario && scenario->count())
      o.scenario = scenario->as<std::string>();
    auto named = [](const char* option, auto parse) {
      try {
        return parse();
      } catch (const olas::OptionError& e) {
        throw olas::OptionError(std::string(option) + ": " + e.what());
      }
    };
    o.duration_s = named("--duration", [&] { return olas::parse_duration(duration); });
    o.clock_ppm = named("--clock-ppm", [&] { return olas::parse_clock_ppm(clock_ppm); });
    o.start_utc = named("--start", [&] { return olas::parse_utc(start); });
    if (!starve.empty())
      o.starve_watchdog_s = named("--starve-watchdog", [&] { return olas::parse_duration(starve); });

    o.sensor = !no_sensor;
    if (!seed.empty()) o.seed = named("--seed", [&] { return olas::parse_seed(seed); });
    if (!sea.empty()) o.sea = named("--sea", [&] { return olas::parse_sea(sea, o.sea); });
    if (!drift.empty()) named("--drift", [&] { olas::parse_drift(drift, o.sea); return 0; });
    if (!rate.empty()) o.motion_unit.rate_hz = named("--rate", [&] { return olas::parse_rate(rate); });
    if (!order.empty()) o.motion_unit.order = named("--sensor-order", [&] { return olas::parse_log_order(order); });
    if (!corrupt.empty())
      o.motion_unit.corrupt_probability = named("--sensor-corrupt", [&] { return olas::parse_probability(corrupt); });
    if (!missing.empty())
      o.motion_unit.missing_probability = named("--sensor-missing", [&] { return olas::parse_missing(missing); });
    for (const auto& s : silences)
      o.motion_unit.silences.push_back(named("--sensor-silence", [&] { return olas::parse_silence(s); }));
    o.gps = olas::gps_options(gps_opt->count() ? std::optional<std::string>(gps_text) : std::nullopt, no_gps,
                              replay_gps_opt->count() ? std::optional<std::string>(replay_gps) : std::nullopt);
    o.card.enabled = !no_card;
    o.card.image = card_image;
    if (!card_size.empty()) o.card.size_bytes = named("--card-size", [&] { return olas::parse_card_size(card_size); });
    if (!card_events.empty())
      o.card.events = named("--card-event", [&] { return olas::parse_card_events(card_events); });
    olas::check_host_options(o.host);
    for (const auto& s : settings) o.settings.push_back(named("--set", [&] { return olas::parse_setting(s); }));
    const auto& replay_path = o.motion_unit.replay_path;
    if (!replay_path.empty() && (!std::filesystem::is_regular_file(replay_path) || !std::ifstream(replay_path, std::ios::binary)))
      throw olas::OptionError("--replay-sensor: cannot read '" + replay_path + "'");
    if (!replay_path.empty() && !sim::MotionUnit::recording_has_frame(replay_path))
      std::fprintf(stderr, "sensor_olas_sim: warning: --replay-sensor: no sbgECom frame in '%s'; its bytes are sent as they are\n",
                   replay_path.c_str());
    const auto& capture_path = o.motion_unit.capture_path;
    if (!capture_path.empty() && !std::ofstream(capture_path, std::ios::binary | std::ios::app))
      throw olas::OptionError("--capture-sensor: cannot write '" + capture_path + "'");
    if (!card_image.empty() && std::filesystem::exists(card_image) && !std::filesystem::is_regular_file(card_image))
      std::fprintf(stderr, "sensor_olas_sim: warning: --card: '%s' is not a file; the firmware will find no card in it\n",
                   card_image.c_str());
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  } catch (const olas::OptionError& e) {
    std::fprintf(stderr, "sensor_olas_sim: %s\n", e.what());
    return 2;
  }

  // past a size limit (ulimit -f) a write fails and is reported, instead of killing the process
  std::signal(SIGXFSZ, SIG_IGN);
  olas::RunResult r;
  try {
    r = olas::run_simulation(o);
  } catch (const olas::OptionError& e) {
    std::fprintf(stderr, "sensor_olas_sim: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sensor_olas_sim: %s\n", e.what());
    return 1;
  }
  const auto& sj = r.summary;
  int exit_code = r.exit_code;
  // what the user must hear of even with --quiet
  if (sj.contains("card") && sj["card"].is_object() && sj["card"].contains("error"))
    std::fprintf(stderr, "sensor_olas_sim: warning: the card image %s holds no volume that can be read: %s\n",
                 sj["card"].value("image", std::string("?")).c_str(), sj["card"]["error"].get<std::string>().c_str());
  for (const auto& e : sj.value("host", nlohmann::json::object()).value("expectations", nlohmann::json::array())) {
    if (e["met"].get<bool>()) continue;
    const std::string answer = e["answer"].get<std::string>();
    std::fprintf(stderr, "sensor_olas_sim: host script line %d: expected \"%s\" %s\n", e["line"].get<int>(),
                 e["text"].get<std::string>().c_str(),
                 answer.empty() ? "but no answer came" : ("in the answer, got " + answer).c_str());
    if (exit_code == 0) exit_code = 1;
  }
  if (r.interrupted && sj.contains("virtual_s"))
    std::fprintf(stderr, "sensor_olas_sim: stopped %s at %.0f s of %.0f s; outputs written, summary marked interrupted\n",
                 r.signal ? ("by " + olas::signal_name(r.signal)).c_str() : "by an error",
                 sj["virtual_s"].get<double>(), o.duration_s);
  if (r.signal) exit_code = 128 + r.signal;
  if (!o.quiet) {
    const auto& s = r.summary;
    std::printf("Simulated %.0f s in %.2f s of wall time (%.0fx real time); %zu reset(s).\n",
                s["virtual_s"].get<double>(), s["wall_s"].get<double>(), s["speed"].get<double>(),
                s["resets"].size());
    if (s["motion_unit"].is_object()) {
      const auto& m = s["motion_unit"];
      std::printf("Motion unit (%s): %llu samples, %llu frames, %llu bytes corrupted.\n",
                  m["source"].get<std::string>().c_str(), m["samples"].get<unsigned long long>(),
                  m["frames"].get<unsigned long long>(), m["bytes_corrupted"].get<unsigned long long>());
    }
    if (s["sea"].is_object()) {
      const auto& t = s["sea"];
      std::printf("Sea: Hm0 %.2f m, Tp %.1f s, Tz %.1f s, from %.0f deg, spread %.0f deg.\n", t["hm0_m"].get<double>(),
                  t["tp_s"].get<double>(), t["tz_s"].get<double>(), t["mean_dir_deg"].get<double>(),
                  t["spread_deg"].get<double>());
    }
    if (!s["settings_preset"].empty()) std::printf("Settings preset: %s\n", s["settings_preset"].dump().c_str());
    for (const auto& rs : s["resets"])
      std::printf("  reset at %.3f s: %s\n", rs["t"].get<double>(), rs["cause"].get<std::string>().c_str());
    print_intervals(s["intervals"]);
    print_outputs(o.out_dir, s);
  }
  return exit_code;
}
