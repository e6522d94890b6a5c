// Simulator speed: virtual time per wall time for the firmware on its board.
// Run: ./build/bench/bench_sim  (the "speed" counter is virtual seconds per wall second)
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>

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

}  // namespace

BENCHMARK_MAIN();
