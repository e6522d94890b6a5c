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

#include "sensor_olas_sim/intervals.h"
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

// "2d03h", "3h20m", "12m05s", "42s".
std::string span_text(double s) {
  long v = long(s + 0.5);
  char buf[32];
  if (v >= 86400) std::snprintf(buf, sizeof buf, "%ldd%02ldh", v / 86400, v % 86400 / 3600);
  else if (v >= 3600) std::snprintf(buf, sizeof buf, "%ldh%02ldm", v / 3600, v % 3600 / 60);
  else if (v >= 60) std::snprintf(buf, sizeof buf, "%ldm%02lds", v / 60, v % 60);
  else std::snprintf(buf, sizeof buf, "%lds", v);
  return buf;
}

void show_progress(double done_s, double total_s, double wall_s) {
  int width = 30;
  int filled = int(width * done_s / total_s);
  std::fprintf(stderr, "\r[%.*s%*s] %5.1f%%  %s of %s virtual  %.0fx real time ", filled,
               "==============================", width - filled, "", 100.0 * done_s / total_s,
               span_text(done_s).c_str(), span_text(total_s).c_str(), wall_s > 0 ? done_s / wall_s : 0.0);
  std::fflush(stderr);
}

// The latest boot at or before virtual time t.
double boot_before(const sim::Board& board, sim::Cycles t) {
  double boot = 0;
  for (const auto& r : board.resets())
    if (r.t <= t) boot = board.seconds(r.t);
  return boot;
}

// A new card comes formatted by the firmware's own formatter: a separate copy of the image,
// run on the scratch board that setup_card made current, with the card in its slot.
bool format_with_firmware(const std::string& image) {
  void* h = dlopen(image.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) throw std::runtime_error(std::string("cannot load firmware: ") + dlerror());
  auto format = reinterpret_cast<uint8_t (*)()>(dlsym(h, "_Z12Formatear_SDv"));
  if (!format) {
    dlclose(h);
    throw std::runtime_error("firmware image lacks Formatear_SD");
  }
  bool formatted = false;
  try {
    formatted = format() == 1;
  } catch (...) {
    dlclose(h);
    throw;
  }
  dlclose(h);
  return formatted;
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
  const nlohmann::json settings_written = apply_settings(board.flash(), o.settings);
  if (!o.settings.empty()) board.save_flash();

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
    sea->keep_record(o.truth_keep_s);
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

  // Every "$RES," frame, with the interval it closes and the truth of that interval, taken now:
  // the firmware's settings of the moment and a heave record that keeps only its last hours.
  std::vector<ResArrival> arrivals;
  host.on_line = [&](const std::string& line) {
    if (line.rfind("$RES,", 0) != 0) return;
    ResArrival a;
    a.t_s = board.seconds(board.now());
    a.frame = line;
    const auto* minutes = machine.global<int32_t>("CTE_INTERVALO_PROMEDIO_INTERPRETADO");
    const auto* method = machine.global<uint8_t>("CTE_METODO_DIRECCION_DEFINITIVA");
    a.interval_min = minutes ? int(*minutes) : 0;
    a.method = method ? int(*method) : 0;
    a.from_s = std::max(a.t_s - 60.0 * (a.interval_min > 0 ? a.interval_min : 60), boot_before(board, board.now()));
    if (!arrivals.empty() && arrivals.back().t_s > a.from_s) a.from_s = arrivals.back().t_s;
    if (sea) {
      const auto& rec = sea->heave_record();
      a.from_s = std::max(a.from_s, rec.t0_s);
      a.truth = heave_truth(rec, a.from_s, a.t_s, sea->truth());
    }
    arrivals.push_back(std::move(a));
  };
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
  s["schema_version"] = 2;
  s["options"] = {{"duration_s", o.duration_s},
                  {"start", format_utc(o.start_utc)},
                  {"clock_ppm", o.clock_ppm},
                  {"jumper", o.jumper},
                  {"seed", o.seed},
                  {"sensor", o.sensor},
                  {"scenario", o.scenario.empty() ? nlohmann::json(nullptr) : nlohmann::json(o.scenario)},
                  {"preset", o.preset.empty() ? nlohmann::json(nullptr) : nlohmann::json(o.preset)}};
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
  // The most bytes each receive ring held, as the firmware counts them since its last boot: how
  // close the loop's longest block came to losing bytes.
  const auto* ring_peak = machine.global<uint16_t>("imaximo_rx_uart");
  for (int p = 0; p < sim::kPorts; ++p) {
    s["dropped"][kPortNames[p]] = board.stats(p).dropped;
    s["framing_errors"][kPortNames[p]] = board.stats(p).framing_errors;
    s["ring_peak"][kPortNames[p]] = ring_peak ? nlohmann::json(ring_peak[p]) : nlohmann::json(nullptr);
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
  s["settings_preset"] = settings_written;
  {
    const auto* method = machine.global<uint8_t>("CTE_METODO_DIRECCION");
    s["intervals"] = build_intervals(arrivals, new_res_lines(card), method ? int(*method) : 0, o.start_utc);
  }
  host.on_line = nullptr;
  if (!error.empty()) s["error"] = error;
  std::ofstream((out / "summary.json").string()) << s.dump(2) << "\n";
  result.summary = std::move(s);
  if (!error.empty()) std::fprintf(stderr, "sensor_olas_sim: %s\n", error.c_str());
  return result;
}

}  // namespace olas
