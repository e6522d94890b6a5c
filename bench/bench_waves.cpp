// The wave analysis on the simulated board, with the firmware linked statically:
//   BM_SamplePipeline     one sensor burst of a sinusoidal sea scanned, decoded, windowed and run
//                         through ProcesarTernaDatos ("per_sample": wall time per sample);
//   BM_WaveResultBothMethods  one accepted wave's results with both direction methods;
//   BM_IntervalEnd1000Waves   the interval statistics, record and frame over 1000 waves.
// Run: ./build/bench/bench_waves
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "sensor/sensor.h"
#include "settings/virtual_e2prom.h"
#include "sim/board.h"
#include "sim/world/sbg_frames.h"
#include "support/static_firmware.h"
#include "waves/analisis_olas.h"

namespace {

struct Bench {
  sim::Board board{sim::Board::Config{}};
  Bench() {
    board.make_current();
    board.set_firmware(olas::test::static_firmware());
    board.power_on_reset();
    configureTCC0(48000, 1);  // watchdog restarts in the scan wait for the tick in the simulation
    CTE_AJUSTE_RELOJ = 0;
    CTE_PROCESAR_OLA_PERIODO_MINIMO = 3;
    CTE_PROCESAR_OLA_PERIODO_MAXIMO = 90;
    CTE_METODO_DIRECCION = 2;
    Inicializar_TernaTiempos();
    Inicializar_Vectores_Base();
    Comenzar_Proceso_Nuevo_Promedio_Olas();
    CTE_METODO_DIRECCION_DEFINITIVA = 2;
    CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 0;
  }
};

// Bursts of whole samples (EULER, NAV, SHIP_MOTION) of a 1 m, 8 s sea at 10 Hz; counts[i] is
// the number of samples in burst i.
std::vector<std::vector<uint8_t>> SeaBursts(int samples, std::vector<int>* counts) {
  std::vector<std::vector<uint8_t>> bursts(1);
  counts->assign(1, 0);
  for (int k = 0; k < samples; ++k) {
    uint32_t t = 1000000u + uint32_t(k) * 100000u;
    double ph = 2 * M_PI * (k + 0.5) / 80.0;
    sim::sbg::EulerLog e;
    e.time_us = t;
    e.yaw = 0.5f;
    sim::sbg::NavLog n;
    n.time_us = t;
    n.vel_north = float(0.3 * std::sin(ph));
    n.vel_east = float(-0.2 * std::sin(ph) + 0.1);
    n.status = sim::sbg::status::kHeadingValid | sim::sbg::status::kAlignValid;
    sim::sbg::ShipMotionLog s;
    s.time_us = t;
    s.heave = float(0.5 * std::sin(ph));
    std::vector<uint8_t> sample;
    for (const auto& f : {sim::sbg::encode(e), sim::sbg::encode(n), sim::sbg::encode(s)})
      sample.insert(sample.end(), f.begin(), f.end());
    if (bursts.back().size() + sample.size() > TAM_TRAMA_SENSOR_RX) {
      bursts.emplace_back();
      counts->push_back(0);
    }
    bursts.back().insert(bursts.back().end(), sample.begin(), sample.end());
    ++counts->back();
  }
  return bursts;
}

void BM_SamplePipeline(benchmark::State& state) {
  Bench b;
  std::vector<int> counts;
  const auto bursts = SeaBursts(8000, &counts);
  size_t i = 0;
  int64_t samples = 0;
  sim::Cycles virtual_cycles = 0;
  for (auto _ : state) {
    const size_t j = i++ % bursts.size();
    const auto& burst = bursts[j];
    std::memcpy(ctrama_sensor_rx, burst.data(), burst.size());
    icantidad_bytes_rx_sensor = uint32_t(burst.size());
    sim::Cycles t0 = b.board.now();
    procesamos_trama_rx_sensor();
    virtual_cycles += b.board.now() - t0;
    samples += counts[j];
    if (nOlas > 500) {
      state.PauseTiming();
      Comenzar_Proceso_Nuevo_Promedio_Olas();
      state.ResumeTiming();
    }
  }
  state.counters["per_sample"] =
      benchmark::Counter(double(samples), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["samples_per_burst"] = counts[0];
  state.counters["virtual_us_per_sample"] = double(virtual_cycles) / 48.0 / double(samples);
}
BENCHMARK(BM_SamplePipeline);

// A held wave: crest, trough and the velocity extremes of a wave from 270 with a drift. A line a
// landmark: its sample number (_0) and, where the result reads them, its sensor time (_1), heave
// (_3) and north and east velocities (_4, _5).
void HoldWave() {
  vIniOla_0 = 30, vIniOla_1 = 3000000;
  vMax1_0 = 10, vMax1_4 = 0.15f, vMax1_5 = -0.30f;
  vMax2_0 = 50, vMax2_3 = 60, vMax2_4 = 0.12f, vMax2_5 = -0.35f;
  vMin_0 = 90, vMin_3 = -55, vMin_4 = 0.08f, vMin_5 = 0.42f;
  vIntMaxVn_0 = 55, vIntMaxVn_4 = 0.2f;
  vIntMinVn_0 = 85, vIntMinVn_4 = 0.05f;
  vIntMaxVe_0 = 88, vIntMaxVe_5 = 0.45f;
  vIntMinVe_0 = 52, vIntMinVe_5 = -0.36f;
  vFinOla_0 = 110, vFinOla_1 = 11000000;
}

void BM_WaveResultBothMethods(benchmark::State& state) {
  Bench b;
  HoldWave();
  for (auto _ : state) {
    if (nOlas >= 1000) {
      state.PauseTiming();
      Comenzar_Proceso_Nuevo_Promedio_Olas();
      state.ResumeTiming();
    }
    nOlas++;
    Calcular_Parametros_Salida_Ola();
  }
}
BENCHMARK(BM_WaveResultBothMethods);

void BM_IntervalEnd1000Waves(benchmark::State& state) {
  Bench b;
  std::mt19937 rng(3);
  HoldWave();
  for (int k = 0; k < 1000; ++k) {
    vMax2_3 = int16_t(20 + rng() % 150);
    vMin_3 = int16_t(-20 - int(rng() % 150));
    vFinOla_1 = vIniOla_1 + int32_t(4000000 + rng() % 8000000);
    nOlas++;
    Calcular_Parametros_Salida_Ola();
  }
  const std::vector<uint16_t> alt(mVectorAlt, mVectorAlt + 1000), per(mVectorPer, mVectorPer + 1000);
  const uint32_t alt_sum = mAltPromedio, per_sum = mPeriodoPromedio;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(mVectorAlt, alt.data(), alt.size() * 2);
    std::memcpy(mVectorPer, per.data(), per.size() * 2);
    mAltPromedio = alt_sum;
    mPeriodoPromedio = per_sum;
    state.ResumeTiming();
    Calcular_Parametros_Salida_Ola_Promedio();
  }
}
BENCHMARK(BM_IntervalEnd1000Waves);

}  // namespace

BENCHMARK_MAIN();
