#include "sensor_olas_sim/run.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <set>

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

// The outputs a run makes in its folder: written as NAME.tmp and renamed into place at the end.
const char* const kOutputs[] = {"console.log", "host.log", "host-exchanges.log", "flash.bin",
                                "summary.json", "card.img", "card"};

// The output folder of one run: made if missing and locked against a second run, and what was
// there before remembered, so that a start that fails can leave the folder as it found it.
class OutputFolder {
 public:
  explicit OutputFolder(const fs::path& dir) : dir_(dir) {
    std::error_code ec;
    dir_new_ = !fs::exists(dir_, ec);
    fs::create_directories(dir_, ec);
    if (ec) throw std::runtime_error("cannot make the output folder " + dir_.string() + ": " + ec.message());
    fd_ = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open the output folder " + dir_.string());
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd_);
      fd_ = -1;
      throw std::runtime_error("the output folder " + dir_.string() + " is in use by another run");
    }
    for (const char* name : kOutputs)
      if (fs::exists(dir_ / name, ec)) existed_.insert(name);
  }
  ~OutputFolder() {
    if (fd_ >= 0) ::close(fd_);
  }
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  std::string temp(const std::string& name) const { return (dir_ / (name + ".tmp")).string(); }
  // NAME.tmp becomes NAME; on failure the old NAME stays as it was. Returns the error, or "".
  std::string commit(const std::string& name, bool written_ok) const {
    const std::string tmp = temp(name), final_path = (dir_ / name).string();
    if (written_ok && std::rename(tmp.c_str(), final_path.c_str()) == 0) return "";
    std::remove(tmp.c_str());
    return "cannot write " + final_path;
  }
  // A start that failed: the temporary files and the outputs that were not there go.
  void discard_new() const {
    std::error_code ec;
    for (const char* name : kOutputs) {
      fs::remove(temp(name), ec);
      if (!existed_.count(name)) fs::remove_all(dir_ / name, ec);
    }
    if (dir_new_) fs::remove(dir_, ec);  // only if empty
  }

 private:
  fs::path dir_;
  bool dir_new_ = false;
  int fd_ = -1;
  std::set<std::string> existed_;
};

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
  // a path, never a name for the loader to look up in the library path
  void* h = dlopen(fs::absolute(image).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) throw std::runtime_error(std::string("cannot load firmware: ") + dlerror());
  bool formatted = false;
  try {
    formatted = sim::probe_format(h)() == 1;
  } catch (...) {
    dlclose(h);
    throw;
  }
  dlclose(h);
  return formatted;
}

}  // namespace

std::string firmware_image(const RunOptions& o) {
  if (!o.firmware_image.empty()) return o.firmware_image;
  if (const char* env = std::getenv("OLAS_FIRMWARE_IMAGE")) return env;
  return OLAS_DEFAULT_IMAGE;
}

void check_firmware_image(const std::string& image) {
  std::error_code ec;
  if (!fs::is_regular_file(image, ec)) throw OptionError("--firmware: cannot read '" + image + "'");
  // a path, never a name for the loader to look up in the library path
  void* h = dlopen(fs::absolute(image).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) throw OptionError("--firmware: '" + image + "' is not a firmware image: " + dlerror());
  const bool ours = sim::is_firmware_image(h);
  dlclose(h);
  if (!ours) throw OptionError("--firmware: '" + image + "' is a library but not this firmware (no setup, loop, Formatear_SD)");
}

RunResult run_simulation(const RunOptions& o) {
  RunResult result;
  const std::string image = fs::absolute(firmware_image(o)).string();
  check_firmware_image(image);
  // Ctrl-C, SIGTERM, SIGHUP end the run cleanly with its outputs written, also when they come
  // while it starts (the run then stops after its first step)
  install_sigint_handler();
  const fs::path out(o.out_dir);
  OutputFolder folder(out);
  // Until the firmware is about to start, a failure leaves the folder as it was found.
  struct StartGuard {
    const OutputFolder& folder;
    bool armed = true;
    ~StartGuard() {
      if (armed) folder.discard_new();
    }
  } start_guard{folder};

  sim::Board::Config cfg;
  cfg.ppm = o.clock_ppm;
  cfg.flash_file = (out / "flash.bin").string();
  sim::Board board(cfg);
  board.make_current();
  const nlohmann::json settings_written = apply_settings(board.flash(), o.settings);
  if (!o.settings.empty()) board.save_flash();

  sim::Recorder console(folder.temp("console.log"), 115200);
  board.attach(1, &console);
  HostLink host(board, o.host, o.out_dir, ".tmp");
  host.attach();
  GpsSetup gps = setup_gps(board, o.gps, o.start_utc);
  CardSetup card = setup_card(board, o.card, out, [&](sim::Board&, sim::SdCard&) {
    return format_with_firmware(image);
  });
  if (!card.format_error.empty())
    throw std::runtime_error("the firmware could not format the new card image " + card.image.string() + ": " +
                             card.format_error);
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

  sim::Machine machine(board, image);
  connect_gps(gps, machine);
  start_guard.armed = false;

  // Every "$RES," frame, with the interval it closes and the truth of that interval, taken now:
  // the firmware's settings of the moment and a heave record that keeps only its last hours.
  std::vector<ResArrival> arrivals;
  host.on_line = [&](const std::string& line) {
    const size_t at = line.rfind("$RES,");  // binary bytes may come before it
    if (at == std::string::npos) return;
    ResArrival a;
    a.t_s = board.seconds(board.now());
    a.frame = line.substr(at);
    a.interval_min = int(machine.read(sim::fw::CTE_INTERVALO_PROMEDIO_INTERPRETADO));
    a.method = int(machine.read(sim::fw::CTE_METODO_DIRECCION_DEFINITIVA));
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
  bool completed = false;
  try {
    for (sim::Cycles t = 0; t < end;) {
      t = std::min(end, t + step);
      machine.run_until(t);
      host.step();
      if (progress && (!host.realtime() || t % board.cycles_for(1.0) < step))
        show_progress(board.seconds(t), o.duration_s, wall_s());
      if (sigint_received()) break;
    }
    completed = !sigint_received();
  } catch (const std::exception& e) {
    error = e.what();
    result.exit_code = 1;
  }
  if (progress) std::fprintf(stderr, "\n");
  double wall = wall_s();
  double virt = board.seconds(board.now());
  result.signal = stop_signal();
  result.interrupted = !completed;
  // Write errors: the first one names the run's error, each is printed.
  std::vector<std::string> write_errors;
  auto attempt = [&](const std::function<void()>& fn) {
    try {
      fn();
    } catch (const std::exception& e) {
      write_errors.push_back(e.what());
    }
  };
  auto committed = [&](const std::string& name, bool ok) {
    std::string e = folder.commit(name, ok);
    if (!e.empty()) write_errors.push_back(e);
  };
  console.flush();
  committed("console.log", console.ok());
  if (card.card) attempt([&] { card.card->flush(); });
  if (unit && !unit->flush_capture())
    write_errors.push_back("cannot write the sensor capture '" + o.motion_unit.capture_path + "'");
  attempt([&] { board.save_flash(); });

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
  const auto& ring_peak = machine.read(sim::fw::imaximo_rx_uart);
  for (int p = 0; p < sim::kPorts; ++p) {
    s["dropped"][kPortNames[p]] = board.stats(p).dropped;
    s["framing_errors"][kPortNames[p]] = board.stats(p).framing_errors;
    s["ring_peak"][kPortNames[p]] = ring_peak[p];
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
  committed("host.log", host.controller().log_ok());
  committed("host-exchanges.log", host.controller().exchanges_ok());
  s["gps"] = gps_summary(gps);
  s["card"] = nullptr;
  attempt([&] { s["card"] = card.card ? collect_card(card, out) : nlohmann::json(nullptr); });
  s["settings_preset"] = settings_written;
  {
    const int method = machine.read(sim::fw::CTE_METODO_DIRECCION);
    s["intervals"] = build_intervals(arrivals, new_res_lines(card), method, o.start_utc);
  }
  host.on_line = nullptr;
  s["interrupted"] = result.interrupted;
  if (result.signal) s["signal"] = signal_name(result.signal);
  if (error.empty() && !write_errors.empty()) error = write_errors.front();
  if (!error.empty()) s["error"] = error;
  {
    std::ofstream summary(folder.temp("summary.json"), std::ios::binary | std::ios::trunc);
    // bytes no text can hold (a random card's names) become U+FFFD rather than stop the summary
    summary << s.dump(2, ' ', true, nlohmann::json::error_handler_t::replace) << "\n";
    summary.close();
    committed("summary.json", bool(summary));
  }
  if (!write_errors.empty()) result.exit_code = 1;
  result.summary = std::move(s);
  if (!error.empty()) std::fprintf(stderr, "sensor_olas_sim: %s\n", error.c_str());
  for (size_t i = 1; i < write_errors.size(); ++i)
    if (write_errors[i] != error) std::fprintf(stderr, "sensor_olas_sim: %s\n", write_errors[i].c_str());
  return result;
}

}  // namespace olas
