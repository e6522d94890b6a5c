// Simulator speed: virtual time per wall time for the firmware on its board.
// Run: ./build/bench/bench_sim  (the "speed" counter is virtual seconds per wall second;
// --benchmark_filter=DefaultRun for the command's default scenario alone)
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <filesystem>

#include "sensor_olas_sim/run.h"
#include "sim/board.h"
#include "sim/machine.h"
#include "sim/world/recorder.h"

namespace {

void run_idle(benchmark::State& state, double virtual_s) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / "olas_bench_idle";
  for (auto _ : state) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    sim::Board board(sim::Board::Config{});
    board.make_current();
    sim::Recorder console((dir / "console.log").string(), 115200);
    sim::Recorder host((dir / "host.log").string(), 38400);
    board.attach(1, &console);
    board.attach(0, &host);
    sim::Machine machine(board, OLAS_FIRMWARE_IMAGE);
    auto t0 = std::chrono::steady_clock::now();
    machine.run_until(board.cycles_for(virtual_s));
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.counters["speed"] = virtual_s / wall;
    state.counters["virtual_s"] = virtual_s;
  }
  fs::remove_all(dir);
}

// A simulated day of the idle firmware (no device attached).
void BM_IdleDay(benchmark::State& state) { run_idle(state, 86400.0); }
BENCHMARK(BM_IdleDay)->Unit(benchmark::kSecond)->Iterations(1);

// A simulated hour, for quicker comparisons.
void BM_IdleHour(benchmark::State& state) { run_idle(state, 3600.0); }
BENCHMARK(BM_IdleHour)->Unit(benchmark::kMillisecond)->Iterations(3);

// The whole default run of sensor_olas_sim (3 h: the sea at 10 samples/s, GPS, a new 4 GB card
// made and formatted, summary.json with every interval's truth). The product's floor is 1000x
// real time and 10 s of wall time.
void BM_DefaultRun(benchmark::State& state) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / "olas_bench_default";
  for (auto _ : state) {
    fs::remove_all(dir);
    olas::RunOptions o;
    o.out_dir = dir.string();
    o.start_utc = olas::parse_utc(olas::kDefaultStart);
    o.firmware_image = OLAS_FIRMWARE_IMAGE;
    o.quiet = true;
    auto t0 = std::chrono::steady_clock::now();
    std::clock_t c0 = std::clock();
    auto r = olas::run_simulation(o);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double cpu = double(std::clock() - c0) / CLOCKS_PER_SEC;
    state.counters["speed"] = o.duration_s / wall;
    state.counters["wall_s"] = wall;
    // on a machine shared with other work the wall time says little: the process's own time
    state.counters["cpu_speed"] = o.duration_s / cpu;
    state.counters["intervals"] = double(r.summary["intervals"].size());
    if (o.duration_s / cpu < 1000 || cpu > 10) state.SkipWithError("below 1000x real time or over 10 s");
  }
  fs::remove_all(dir);
}
BENCHMARK(BM_DefaultRun)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
