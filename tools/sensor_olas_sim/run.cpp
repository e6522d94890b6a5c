#include "sensor_olas_sim/run.h"

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "sim/board.h"
#include "sim/machine.h"
#include "sim/world/motion_unit.h"
#include "sim/world/recorder.h"
#include "sim/world/sea.h"

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

// A new card comes formatted by the firmware's own formatter: a separate copy of the image,
// run on the scratch board that setup_card made current, with the card in its slot.
bool format_with_firmware(const std::string& image) {
  void* h = dlopen(image.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) throw std::runtime_error(std::string("cannot load firmware: ") + dlerror());
  auto format = reinterpret_cast<void (*)()>(dlsym(h, "_Z12Formatear_SDv"));
  if (!format) {
    dlclose(h);
    throw std::runtime_error("firmware image lacks Formatear_SD");
  }
  try {
    format();
  } catch (...) {
    dlclose(h);
    throw;
  }
  dlclose(h);
  return true;
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
  board.attach(1, &console);
  install_sigint_handler();  // Ctrl-C ends the run cleanly, outputs written
  HostLink host(board, o.host, o.out_dir);
  host.attach();
  GpsSetup gps = setup_gps(board, o.gps, o.start_utc);
  CardSetup card = setup_card(board, o.card, out, [&](sim::Board&, sim::SdCard&) {
    return format_with_firmware(firmware_image(o));
  });
  if (!card.format_error.empty()) throw std::runtime_error("card format failed: " + card.format_error);
  if (o.jumper) board.set_external(28, 0);
  if (o.starve_watchdog_s) board.starve_watchdog_from(board.cycles_for(*o.starve_watchdog_s));

  // The sea exists for the unit to ride: not without a unit, nor when it replays a recording.
  const bool replay = o.sensor && !o.motion_unit.replay_path.empty();
  std::optional<sim::Sea> sea;
  if (o.sensor && !replay) {
    sim::SeaConfig sea_cfg = o.sea;
    sea_cfg.seed = o.seed;
    sea.emplace(sea_cfg);
  }
  std::unique_ptr<sim::MotionUnit> unit;
  if (o.sensor) {
    sim::MotionUnitConfig unit_cfg = o.motion_unit;
    unit_cfg.seed = o.seed;
    unit = std::make_unique<sim::MotionUnit>(board, sea ? &*sea : nullptr, unit_cfg);
    unit->start();
  }

  sim::Machine machine(board, firmware_image(o));
  connect_gps(gps, machine);
  const sim::Cycles end = board.cycles_for(o.duration_s);
  const sim::Cycles step = board.cycles_for(host.step_seconds(60.0));
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
      host.step();
      if (progress && (!host.realtime() || t % board.cycles_for(1.0) < step))
        show_progress(board.seconds(t), o.duration_s, wall_s());
      if (sigint_received()) break;
    }
  } catch (const std::exception& e) {
    error = e.what();
    result.exit_code = 1;
  }
  if (progress) std::fprintf(stderr, "\n");
  double wall = wall_s();
  double virt = board.seconds(board.now());
  console.flush();
  if (unit) unit->flush_capture();
  board.save_flash();

  nlohmann::json s;
  s["schema_version"] = 1;
  s["options"] = {{"duration_s", o.duration_s},
                  {"start", format_utc(o.start_utc)},
                  {"clock_ppm", o.clock_ppm},
                  {"jumper", o.jumper},
                  {"seed", o.seed},
                  {"sensor", o.sensor}};
  if (o.sensor) {
    const auto& m = o.motion_unit;
    auto& so = s["options"];
    if (replay) so["replay_sensor"] = m.replay_path;
    else so["rate"] = m.rate_hz;
    so["euler40"] = m.euler40;
    so["sensor_order"] = nlohmann::json::array();
    for (auto id : m.order) so["sensor_order"].push_back(log_name(id));
    if (!m.capture_path.empty()) so["capture_sensor"] = m.capture_path;
    so["sensor_corrupt"] = m.corrupt_probability;
    for (auto id : sim::MotionUnitConfig::kLogs)
      so["sensor_missing"][log_name(id)] = m.missing_probability[size_t(sim::MotionUnitConfig::log_index(id))];
    so["sensor_silence"] = nlohmann::json::array();
    for (const auto& q : m.silences) so["sensor_silence"].push_back({{"from_s", q.from_s}, {"duration_s", q.duration_s}});
  }
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
  s["motion_unit"] = nullptr;
  if (unit) {
    const auto& st = unit->stats();
    s["motion_unit"] = {{"source", replay ? "replay" : "sea"},
                        {"samples", st.samples},
                        {"frames", st.frames},
                        {"bytes", st.bytes},
                        {"bytes_corrupted", st.bytes_corrupted},
                        {"logs_missing", st.logs_missing},
                        {"samples_silenced", st.samples_silenced}};
  }
  s["sea"] = nullptr;
  if (sea) {
    const auto& t = sea->truth();
    const auto& c = sea->config();
    s["sea"] = {{"hm0_m", t.hm0_m},
                {"tp_s", t.tp_s},
                {"tz_s", t.tz_s},
                {"mean_dir_deg", t.mean_dir_deg},
                {"spread_deg", t.spread_deg},
                {"spreading_s", t.spreading_s},
                {"gamma", c.gamma},
                {"components", c.components},
                {"drift", {{"speed_mps", c.drift_mps}, {"toward_deg", c.drift_toward_deg}}}};
  }
  s["host"] = host.finish();
  s["gps"] = gps_summary(gps);
  s["card"] = card.card ? collect_card(card, out) : nlohmann::json(nullptr);
  if (!error.empty()) s["error"] = error;
  std::ofstream((out / "summary.json").string()) << s.dump(2) << "\n";
  result.summary = std::move(s);
  if (!error.empty()) std::fprintf(stderr, "sensor_olas_sim: %s\n", error.c_str());
  return result;
}

}  // namespace olas
