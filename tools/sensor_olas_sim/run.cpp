#include "sensor_olas_sim/run.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "sim/board.h"
#include "sim/machine.h"
#include "sim/world/recorder.h"

namespace olas {
namespace fs = std::filesystem;

namespace {

constexpr const char* kPortNames[sim::kPorts] = {"host", "console", "sensor", "gps"};

std::string firmware_image(const RunOptions& o) {
  if (!o.firmware_image.empty()) return o.firmware_image;
  if (const char* env = std::getenv("OLAS_FIRMWARE_IMAGE")) return env;
  return OLAS_DEFAULT_IMAGE;
}

void show_progress(double done_s, double total_s, double wall_s) {
  int width = 30;
  int filled = int(width * done_s / total_s);
  std::fprintf(stderr, "\r[%.*s%*s] %5.1f%%  %.0f s virtual  %.0fx ", filled,
               "==============================", width - filled, "", 100.0 * done_s / total_s, done_s,
               wall_s > 0 ? done_s / wall_s : 0.0);
  std::fflush(stderr);
}

}  // namespace

RunResult run_simulation(const RunOptions& o) {
  RunResult result;
  fs::create_directories(o.out_dir);
  const fs::path out(o.out_dir);

  sim::Board::Config cfg;
  cfg.ppm = o.clock_ppm;
  cfg.flash_file = (out / "flash.bin").string();
  sim::Board board(cfg);
  board.make_current();

  sim::Recorder console((out / "console.log").string(), 115200);
  sim::Recorder host((out / "host.log").string(), 38400);
  board.attach(1, &console);
  board.attach(0, &host);
  if (o.jumper) board.set_external(28, 0);
  if (o.starve_watchdog_s) board.starve_watchdog_from(board.cycles_for(*o.starve_watchdog_s));

  sim::Machine machine(board, firmware_image(o));
  const sim::Cycles end = board.cycles_for(o.duration_s);
  const sim::Cycles step = board.cycles_for(60.0);
  const bool progress = !o.quiet && isatty(STDERR_FILENO);

  std::string error;
  auto wall0 = std::chrono::steady_clock::now();
  auto wall_s = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  };
  try {
    for (sim::Cycles t = 0; t < end;) {
      t = std::min(end, t + step);
      machine.run_until(t);
      if (progress) show_progress(board.seconds(t), o.duration_s, wall_s());
    }
  } catch (const std::exception& e) {
    error = e.what();
    result.exit_code = 1;
  }
  if (progress) std::fprintf(stderr, "\n");
  double wall = wall_s();
  double virt = board.seconds(board.now());
  console.flush();
  host.flush();
  board.save_flash();

  nlohmann::json s;
  s["schema_version"] = 1;
  s["options"] = {{"duration_s", o.duration_s},
                  {"start", format_utc(o.start_utc)},
                  {"clock_ppm", o.clock_ppm},
                  {"jumper", o.jumper}};
  s["virtual_s"] = virt;
  s["wall_s"] = wall;
  s["speed"] = wall > 0 ? virt / wall : 0.0;
  s["boots"] = machine.boots();
  s["resets"] = nlohmann::json::array();
  for (const auto& r : board.resets())
    s["resets"].push_back({{"t", board.seconds(r.t)}, {"cause", r.cause}});
  for (int p = 0; p < sim::kPorts; ++p) {
    s["dropped"][kPortNames[p]] = board.stats(p).dropped;
    s["framing_errors"][kPortNames[p]] = board.stats(p).framing_errors;
  }
  if (!error.empty()) s["error"] = error;
  std::ofstream((out / "summary.json").string()) << s.dump(2) << "\n";
  result.summary = std::move(s);
  if (!error.empty()) std::fprintf(stderr, "sensor_olas_sim: %s\n", error.c_str());
  return result;
}

}  // namespace olas
