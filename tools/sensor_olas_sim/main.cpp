// sensor_olas_sim: runs the wave-sensor firmware on a simulated board in virtual time.
#include <CLI/CLI.hpp>
#include <cstdio>

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
    for (const auto& rs : s["resets"])
      std::printf("  reset at %.3f s: %s\n", rs["t"].get<double>(), rs["cause"].get<std::string>().c_str());
    std::printf("Outputs in %s/: console.log host.log flash.bin summary.json\n", o.out_dir.c_str());
  }
  return r.exit_code;
}
