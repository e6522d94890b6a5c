// Scanning and decoding one full sensor burst: 1024 bytes of back-to-back EULER, NAV and
// SHIP_MOTION logs (five whole samples, two more logs and a cut one), on the simulated board.
// Run: ./build/bench/bench_sensor  ("per_byte" is wall time per burst byte; "virtual_us" is the
// MCU time the simulation charged for one burst)
#include <benchmark/benchmark.h>

#include <cstring>

#include "board/placa.h"
#include "core/reloj.h"
#include "sensor/sensor.h"
#include "settings/virtual_e2prom.h"
#include "sim/board.h"
#include "support/static_firmware.h"
#include "unit/sensor/sbg_frames.h"
#include "waves/waves.h"

namespace {

using olas::test::Bytes;

Bytes FullBurst(uint32_t t0) {
  Bytes burst;
  for (uint32_t k = 0; burst.size() < TAM_TRAMA_SENSOR_RX; ++k) {
    uint32_t t = t0 + 40000u * (k / 3);
    float phase = 0.1f * float(k);
    Bytes f = k % 3 == 0   ? olas::test::EulerFrame(t, 0.5f + phase)
              : k % 3 == 1 ? olas::test::NavFrame(t, 0.3f * phase, -0.2f * phase, 0x08000020u)
                           : olas::test::ShipFrame(t, 0.8f - phase);
    burst.insert(burst.end(), f.begin(), f.end());
  }
  burst.resize(TAM_TRAMA_SENSOR_RX);
  return burst;
}

void BM_ScanAndDecodeFullBurst(benchmark::State& state) {
  sim::Board board(sim::Board::Config{});
  board.make_current();
  board.set_firmware(olas::test::static_firmware());
  board.power_on_reset();
  configureTCC0(48000, 1);  // the scan's watchdog restarts wait for the next tick in the simulation
  Serial.begin(38400);      // the ports the wave pipeline may print on, as after setup()
  Serial1.begin(115200);
  CTE_AJUSTE_RELOJ = 0;     // the sensor link alone, without the clock-rate correction
  Inicializar_TernaTiempos();

  const Bytes burst = FullBurst(1000000);
  sim::Cycles virtual_cycles = 0;
  for (auto _ : state) {
    std::memcpy(ctrama_sensor_rx, burst.data(), burst.size());
    icantidad_bytes_rx_sensor = uint32_t(burst.size());
    sim::Cycles t0 = board.now();
    procesamos_trama_rx_sensor();
    virtual_cycles += board.now() - t0;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(burst.size()));
  // seconds per burst byte, shown with its SI prefix (52n = 52 ns)
  state.counters["per_byte"] = benchmark::Counter(
      double(burst.size()), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["virtual_us"] = double(virtual_cycles) / 48.0 / double(state.iterations());
}
BENCHMARK(BM_ScanAndDecodeFullBurst);

// The CRC alone over a whole buffer (no hal calls).
void BM_CrcOfFullBuffer(benchmark::State& state) {
  const Bytes burst = FullBurst(0);
  for (auto _ : state) benchmark::DoNotOptimize(calcCRC(burst.data(), uint16_t(burst.size()), 0));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(burst.size()));
}
BENCHMARK(BM_CrcOfFullBuffer);

}  // namespace

BENCHMARK_MAIN();
