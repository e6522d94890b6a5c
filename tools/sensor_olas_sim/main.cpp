// sensor_olas_sim: runs the wave-sensor firmware on a simulated board in virtual time.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "sensor_olas_sim/options.h"
#include "sensor_olas_sim/run.h"

int main(int argc, char** argv) {
  olas::RunOptions o;
  std::string duration = "3h", start = olas::kDefaultStart, starve;
  CLI::App app{"Runs the wave-sensor firmware on a simulated board, in virtual time."};
  app.add_option("--duration", duration, "virtual time to run: 90s, 20m, 3h, 2d")->capture_default_str();
  app.add_option("--out", o.out_dir, "output folder (console.log, host.log, flash.bin, summary.json)")
      ->capture_default_str();
  app.add_option("--start", start, "true UTC at virtual time 0 (ISO 8601)")->capture_default_str();
  app.add_option("--clock-ppm", o.clock_ppm, "error of the board's oscillator, in ppm")->capture_default_str();
  app.add_flag("--jumper", o.jumper, "debug jumper fitted (pin 28 low)");
  app.add_option("--starve-watchdog", starve, "fault: from this virtual time on, watchdog restarts are lost");
  app.add_option("--firmware", o.firmware_image, "firmware image (shared library) to run");
  app.add_flag("--quiet", o.quiet, "no progress and no summary on the terminal");

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
    auto named = [](const char* option, auto parse) {
      try {
        return parse();
      } catch (const olas::OptionError& e) {
        throw olas::OptionError(std::string(option) + ": " + e.what());
      }
    };
    o.duration_s = named("--duration", [&] { return olas::parse_duration(duration); });
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
    const auto& replay_path = o.motion_unit.replay_path;
    if (!replay_path.empty() && (!std::filesystem::is_regular_file(replay_path) || !std::ifstream(replay_path, std::ios::binary)))
      throw olas::OptionError("--replay-sensor: cannot read '" + replay_path + "'");
    const auto& capture_path = o.motion_unit.capture_path;
    if (!capture_path.empty() && !std::ofstream(capture_path, std::ios::binary | std::ios::app))
      throw olas::OptionError("--capture-sensor: cannot write '" + capture_path + "'");
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

  olas::RunResult r;
  try {
    r = olas::run_simulation(o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sensor_olas_sim: %s\n", e.what());
    return 1;
  }
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
    for (const auto& rs : s["resets"])
      std::printf("  reset at %.3f s: %s\n", rs["t"].get<double>(), rs["cause"].get<std::string>().c_str());
    std::printf("Outputs in %s/: console.log host.log flash.bin summary.json\n", o.out_dir.c_str());
  }
  return r.exit_code;
}
