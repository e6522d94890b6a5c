// bench_olas.cpp: instruction counts of the firmware's own code on an emulated Cortex-M0
// (QEMU micro:bit with -icount shift=0: one instruction = 1 ns of virtual time).
//
// Counting: SysTick runs from the 16 MHz core clock of the model, so one tick = 62.5 instructions.
// Each measurement starts right after a SysTick edge and, when the code under test returns,
// polls (4 instructions per poll) up to the next edge; ticks * 62.5 - polls * 4, less the cost of
// measuring an empty function, is the instruction count to within a few instructions. A loop
// of known length checks the method (and that -icount is in force) before anything else.
//
// Workloads:
//   a  one 1024-byte sensor burst (5 complete samples, then the cut start of a sixth): framing,
//      CRC, decoding, window, point record, ProcesarTernaDatos; steady state after two waves
//   b  one wave's results with both direction methods (Calcular_Parametros_Salida_Ola)
//   c  the end of an interval with 200 waves (Calcular_Parametros_Salida_Ola_Promedio)
// Output lines "<name>: <n> instructions, ..." are read by target/instruction-counts.
#include <math.h>
#include <stdint.h>
#include <string.h>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "hal_bench.h"
#include "semihosting.h"
#include "sensor/sensor.h"
#include "syscalls.h"
#include "waves/waves.h"

// BENCH_WITHOUT_WAVE_ANALYSIS: build as if it had not landed (to check that path).
#if __has_include("waves/analisis_olas.h") && !defined(BENCH_WITHOUT_WAVE_ANALYSIS)
#include "waves/analisis_olas.h"
#define BENCH_WAVE_ANALYSIS 1
// Declared but not yet defined: the address is null instead of a failed link.
void Calcular_Parametros_Salida_Ola() __attribute__((weak));
void Calcular_Parametros_Salida_Ola_Promedio() __attribute__((weak));
#else
#define BENCH_WAVE_ANALYSIS 0
#endif

extern "C" {
extern uint32_t __StackLimit[];
extern uint32_t __StackTop[];
uint32_t bench_wait_edge(void);
void bench_spin(uint32_t n);
}

// Polls SysTick's current value until it changes; returns the number of polls (4 instructions
// each). bench_spin: n turns of a 2-instruction loop, for calibration.
__asm__(
    ".pushsection .text.bench_wait_edge,\"ax\",%progbits\n"
    ".syntax unified\n"
    ".thumb\n"
    ".global bench_wait_edge\n"
    ".type bench_wait_edge, %function\n"
    ".thumb_func\n"
    "bench_wait_edge:\n"
    "  ldr r1, =0xE000E018\n"
    "  ldr r2, [r1]\n"
    "  movs r0, #0\n"
    "1:\n"
    "  adds r0, r0, #1\n"
    "  ldr r3, [r1]\n"
    "  cmp r3, r2\n"
    "  beq 1b\n"
    "  bx lr\n"
    ".ltorg\n"
    ".size bench_wait_edge, .-bench_wait_edge\n"
    ".popsection\n"
    ".pushsection .text.bench_spin,\"ax\",%progbits\n"
    ".thumb\n"
    ".global bench_spin\n"
    ".type bench_spin, %function\n"
    ".thumb_func\n"
    "bench_spin:\n"
    "2:\n"
    "  subs r0, r0, #1\n"
    "  bne 2b\n"
    "  bx lr\n"
    ".size bench_spin, .-bench_spin\n"
    ".popsection\n");

namespace {

// ---- SysTick as an instruction counter -------------------------------------------------------

#define SYST_CSR (*reinterpret_cast<volatile uint32_t*>(0xE000E010u))
#define SYST_RVR (*reinterpret_cast<volatile uint32_t*>(0xE000E014u))
#define SYST_CVR (*reinterpret_cast<volatile uint32_t*>(0xE000E018u))
#define SCB_ICSR (*reinterpret_cast<volatile uint32_t*>(0xE000ED04u))

constexpr uint32_t kReload = 0xFFFFFFu;
constexpr uint32_t kInstructionsPerPoll = 4;
volatile uint32_t g_wraps = 0;

uint64_t ticks() {
  uint32_t wraps = g_wraps;
  uint32_t value = SYST_CVR;
  if (SCB_ICSR & (1u << 26)) {  // a wrap whose interrupt has not run yet
    value = SYST_CVR;
    ++wraps;
  }
  return (static_cast<uint64_t>(wraps) << 24) + (kReload - value);
}

void start_counter() {
  SYST_RVR = kReload;
  SYST_CVR = 0;
  SYST_CSR = 0x7u;  // core clock, interrupt, enable
}

// Instructions of fn, not yet corrected for the measuring itself.
uint64_t raw_count(void (*fn)()) {
  bench_wait_edge();
  uint64_t t0 = ticks();
  fn();
  uint32_t polls = bench_wait_edge();
  uint64_t t1 = ticks();
  // 62.5 instructions per tick of the 16 MHz clock at 1 ns per instruction
  return (t1 - t0) * 125u / 2u - static_cast<uint64_t>(polls) * kInstructionsPerPoll;
}

uint64_t g_overhead = 0;

void empty_workload() {}

uint64_t count(void (*fn)()) {
  uint64_t raw = raw_count(fn);
  return raw > g_overhead ? raw - g_overhead : 0;
}

// ---- Stack high-water mark -------------------------------------------------------------------

constexpr uint32_t kPaint = 0xC5A5C5A5u;

void paint_stack() {
  uint32_t sp;
  __asm__ volatile("mov %0, sp" : "=r"(sp));
  for (uint32_t* p = __StackLimit; reinterpret_cast<uint32_t>(p) < sp - 64u; ++p) *p = kPaint;
}

uint32_t stack_used() {
  const uint32_t* p = __StackLimit;
  while (p < __StackTop && *p == kPaint) ++p;
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(__StackTop) -
                               reinterpret_cast<uintptr_t>(p));
}

// ---- Report ------------------------------------------------------------------------------

struct Measure {
  uint64_t instructions;
  uint32_t console_bytes;
  uint32_t stack_bytes;
};

Measure measure(void (*fn)()) {
  paint_stack();
  uint32_t before = g_bench_uart_bytes[1];
  Measure m;
  m.instructions = count(fn);
  m.console_bytes = g_bench_uart_bytes[1] - before;
  m.stack_bytes = stack_used();
  return m;
}

void report(const char* name, const Measure& m, const char* detail) {
  if (g_bench_echo) semi_write("\n");
  semi_write(name);
  semi_write(": ");
  semi_write_u32(static_cast<uint32_t>(m.instructions));
  semi_write(" instructions");
  if (detail != nullptr) {
    semi_write(", ");
    semi_write(detail);
  }
  semi_write(", console ");
  semi_write_u32(m.console_bytes);
  semi_write(" bytes, stack ");
  semi_write_u32(m.stack_bytes);
  semi_write(" bytes\n");
}

void not_available(const char* name, const char* what) {
  semi_write(name);
  semi_write(": not yet available (");
  semi_write(what);
  semi_write(" is not in the firmware yet)\n");
}

// ---- Sensor bursts: genuine sbgECom framing ----------------------------------------------

constexpr uint8_t kIdEuler = 6;
constexpr uint8_t kIdNav = 8;
constexpr uint8_t kIdShip = 9;
constexpr uint16_t kPayloadEuler = 32;
constexpr uint16_t kPayloadNav = 72;
constexpr uint16_t kPayloadShip = 46;
constexpr uint32_t kFrameExtra = 9;  // sync (2), id, class, length (2), CRC (2), end
constexpr uint32_t kSampleBytes =
    3 * kFrameExtra + kPayloadEuler + kPayloadNav + kPayloadShip;  // 177

constexpr float kPi = 3.14159265f;
constexpr int32_t kSamplePeriodUs = 100000;  // 10 Hz
constexpr int32_t kSamplesPerWave = 80;      // 8 s waves
constexpr int32_t kTimeBase = 40000000;

uint16_t crc_kermit(const uint8_t* p, uint32_t n) {
  uint16_t crc = 0;
  for (uint32_t i = 0; i < n; ++i) {
    crc = static_cast<uint16_t>(crc ^ p[i]);
    for (int b = 0; b < 8; ++b)
      crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408u)
                       : static_cast<uint16_t>(crc >> 1);
  }
  return crc;
}

void put_u32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void put_float(uint8_t* p, float f) {
  uint32_t v;
  memcpy(&v, &f, sizeof v);
  put_u32(p, v);
}

// One frame at dst: returns its length.
uint32_t put_frame(uint8_t* dst, uint8_t id, const uint8_t* payload, uint16_t length) {
  dst[0] = 0xFF;
  dst[1] = 0x5A;
  dst[2] = id;
  dst[3] = 0;  // class 0
  dst[4] = static_cast<uint8_t>(length);
  dst[5] = static_cast<uint8_t>(length >> 8);
  memcpy(dst + 6, payload, length);
  uint16_t crc = crc_kermit(dst + 2, 4u + length);
  dst[6 + length] = static_cast<uint8_t>(crc);
  dst[7 + length] = static_cast<uint8_t>(crc >> 8);
  dst[8 + length] = 0x33;
  return kFrameExtra + length;
}

// Sample k of a regular sea: 1 m waves of 8 s from 30 degrees, with a small drift.
uint32_t put_sample(uint8_t* dst, int32_t k) {
  uint32_t stamp = static_cast<uint32_t>(kTimeBase + k * kSamplePeriodUs);
  float phase = 2.0f * kPi * static_cast<float>(k) / static_cast<float>(kSamplesPerWave);
  float heave = 0.5f * sinf(phase);                          // m
  float orbital = 0.5f * (2.0f * kPi / 8.0f) * sinf(phase);  // m/s, in phase with the heave
  float north = orbital * 0.866f + 0.05f;
  float east = orbital * 0.5f + 0.02f;
  float yaw = 0.6f + 0.01f * sinf(phase);  // rad

  uint8_t payload[kPayloadNav];
  uint32_t n = 0;

  memset(payload, 0, sizeof payload);
  put_u32(payload + 0, stamp);
  put_float(payload + 12, yaw);
  n += put_frame(dst + n, kIdEuler, payload, kPayloadEuler);

  memset(payload, 0, sizeof payload);
  put_u32(payload + 0, stamp);
  put_float(payload + 4, north);
  put_float(payload + 8, east);
  put_u32(payload + 68, (1u << 5) | (1u << 27));  // heading and alignment valid
  n += put_frame(dst + n, kIdNav, payload, kPayloadNav);

  memset(payload, 0, sizeof payload);
  put_u32(payload + 0, stamp);
  put_float(payload + 16, heave);
  n += put_frame(dst + n, kIdShip, payload, kPayloadShip);
  return n;
}

// A burst of samples first..first+count-1 in ctrama_sensor_rx; with fill, completed to the
// buffer's 1024 bytes with the cut start of the next sample.
uint32_t build_burst(int32_t first, int32_t count, bool fill) {
  uint32_t n = 0;
  for (int32_t k = first; k < first + count; ++k) n += put_sample(ctrama_sensor_rx + n, k);
  if (fill) {
    uint8_t next[kSampleBytes];
    put_sample(next, first + count);
    memcpy(ctrama_sensor_rx + n, next, TAM_TRAMA_SENSOR_RX - n);
    n = TAM_TRAMA_SENSOR_RX;
  }
  icantidad_bytes_rx_sensor = n;
  return n;
}

void feed_samples(int32_t first, int32_t last) {
  for (int32_t k = first; k <= last; k += 5) {
    int32_t count = last - k + 1 < 5 ? last - k + 1 : 5;
    build_burst(k, count, false);
    procesamos_trama_rx_sensor();
  }
}

void workload_burst() {
  procesamos_trama_rx_sensor();
}

// The firmware's CRC over the id..payload of a sample's three frames, as the scan does it.
void workload_crc() {
  uint32_t offset = 0;
  const uint16_t payloads[3] = {kPayloadEuler, kPayloadNav, kPayloadShip};
  for (uint16_t payload : payloads) {
    calcCRC(ctrama_sensor_rx + offset, static_cast<uint16_t>(6u + payload), 2);
    offset += kFrameExtra + payload;
  }
}

void workload_float_field() {
  ibytes_a_escribir_sd[BUFFER_RAW] = 0;
  insertamos_variable_float_buffer_v02(cbuffer_raw, TernaDatos_pos2_4, 9, 4, ',', BUFFER_RAW);
}

void append_u32(char* text, uint32_t value) {
  char digits[11];
  char* p = &digits[sizeof digits - 1];
  *p = '\0';
  do {
    *--p = static_cast<char>('0' + value % 10u);
    value /= 10u;
  } while (value != 0);
  strcat(text, p);
}

#if BENCH_WAVE_ANALYSIS

// ---- One wave's landmarks ----------------------------------------------------------------

uint32_t g_lcg = 12345u;
uint32_t next_random() {
  g_lcg = g_lcg * 1664525u + 1013904223u;
  return g_lcg >> 8;
}

void set_point(int32_t& n, int32_t& t, uint16_t& heading, int16_t& heave, float& north, float& east,
               int32_t number, int16_t h, float vn, float ve) {
  n = number;
  t = kTimeBase + number * kSamplePeriodUs;
  heading = 34;
  heave = h;
  north = vn;
  east = ve;
}

// A complete, accepted wave of height about `height` cm and `samples` points, as the segmentation
// leaves it for Calcular_Parametros_Salida_Ola; nOlas already counts it.
void set_wave(int16_t height, int32_t samples, float turn) {
  const int32_t start = 10;
  int16_t crest = static_cast<int16_t>(height / 2);
  int16_t trough = static_cast<int16_t>(crest - height);
  float vn = 0.35f * cosf(turn);
  float ve = 0.35f * sinf(turn);
  set_point(vMax1_0, vMax1_1, vMax1_2, vMax1_3, vMax1_4, vMax1_5, start - samples / 4, crest,
            vn + 0.05f, ve + 0.02f);
  set_point(vIniOla_0, vIniOla_1, vIniOla_2, vIniOla_3, vIniOla_4, vIniOla_5, start, 0, 0.05f,
            0.02f);
  set_point(vMax2_0, vMax2_1, vMax2_2, vMax2_3, vMax2_4, vMax2_5, start + samples / 4, crest,
            vn + 0.05f, ve + 0.02f);
  set_point(vIntMaxVn_0, vIntMaxVn_1, vIntMaxVn_2, vIntMaxVn_3, vIntMaxVn_4, vIntMaxVn_5,
            start + samples / 4 + 1, crest, vn + 0.06f, ve + 0.02f);
  set_point(vIntMinVn_0, vIntMinVn_1, vIntMinVn_2, vIntMinVn_3, vIntMinVn_4, vIntMinVn_5,
            start + 3 * samples / 4 - 1, trough, -vn + 0.04f, -ve + 0.02f);
  set_point(vIntMaxVe_0, vIntMaxVe_1, vIntMaxVe_2, vIntMaxVe_3, vIntMaxVe_4, vIntMaxVe_5,
            start + samples / 4 + 2, crest, vn + 0.05f, ve + 0.03f);
  set_point(vIntMinVe_0, vIntMinVe_1, vIntMinVe_2, vIntMinVe_3, vIntMinVe_4, vIntMinVe_5,
            start + 3 * samples / 4 - 2, trough, -vn + 0.05f, -ve + 0.01f);
  set_point(vMin_0, vMin_1, vMin_2, vMin_3, vMin_4, vMin_5, start + 3 * samples / 4, trough,
            -vn + 0.05f, -ve + 0.02f);
  set_point(vFinOla_0, vFinOla_1, vFinOla_2, vFinOla_3, vFinOla_4, vFinOla_5, start + samples, 0,
            0.05f, 0.02f);
  mFlagHeading = static_cast<uint16_t>(samples);
  mFlagAlign = static_cast<uint16_t>(samples - 1);
  ++nOlas;
}

void workload_wave() {
  Calcular_Parametros_Salida_Ola();
}
void workload_interval() {
  Calcular_Parametros_Salida_Ola_Promedio();
}

// An interval of `waves` accepted waves through the firmware's own per-wave code.
void fill_interval(int32_t waves, bool descending) {
  Comenzar_Proceso_Nuevo_Promedio_Olas();
  HHini = 10;
  MMini = 0;
  SSini = 1;
  for (int32_t i = 0; i < waves; ++i) {
    int16_t height = descending ? static_cast<int16_t>(400 - i)
                                : static_cast<int16_t>(40 + next_random() % 300u);
    int32_t samples = 50 + static_cast<int32_t>(next_random() % 60u);
    float turn = 0.5f + 0.4f * static_cast<float>(next_random() % 100u) / 100.0f;
    set_wave(height, samples, turn);
    Calcular_Parametros_Salida_Ola();
  }
}

#endif

bool calibrate() {
  start_counter();
  g_overhead = raw_count(empty_workload);
  constexpr uint32_t kTurns = 100000;
  uint64_t expected = 2u * kTurns + 2u;  // the loop, the call's argument and return
  uint64_t measured = count([] { bench_spin(kTurns); });
  semi_write("calibration: ");
  semi_write_u32(static_cast<uint32_t>(expected));
  semi_write(" expected, ");
  semi_write_u32(static_cast<uint32_t>(measured));
  semi_write(" measured (overhead ");
  semi_write_u32(static_cast<uint32_t>(g_overhead));
  semi_write(")\n");
  uint64_t error = measured > expected ? measured - expected : expected - measured;
  return error <= 16;
}

}  // namespace

extern "C" void SysTick_Handler(void) {
  g_wraps = g_wraps + 1;
}

int bench_main() {
  static char cmdline[96];
  semi_cmdline(cmdline, sizeof cmdline);
  g_bench_echo = strstr(cmdline, "echo") != nullptr;

  if (!calibrate()) {
    semi_write("calibration failed: is QEMU running with -icount shift=0?\n");
    return 1;
  }

  // The real start-up (banner, settings from a blank store, wave state), then a valid clock
  // that stands still: no interval ends during the bench.
  report("setup", measure(setup), nullptr);
  cdia_utc = 7;
  cmes_utc = 12;
  cano_utc = 26;
  chora_utc = 10;
  cminuto_utc = 5;
  csegundo_utc = 0;
  CTE_METODO_DIRECCION_DEFINITIVA = 2;  // both direction methods

  // (a) two complete waves (the first is discarded) to reach the steady state, then a full
  // buffer on the rising flank of a crest
  const int32_t first = 4 * kSamplesPerWave + 10;
  feed_samples(first - 3 * kSamplesPerWave - 5, first - 1);
  uint32_t bytes = build_burst(first, 5, true);
  int32_t points_before = contPtosOlaActual;
  Measure a = measure(workload_burst);
  static char detail[64];
  strcpy(detail, "burst ");
  append_u32(detail, bytes);
  strcat(detail, " bytes, ");
  append_u32(detail, static_cast<uint32_t>(contPtosOlaActual - points_before));
  strcat(detail, " samples");
  report("a", a, detail);
  // where (a) goes, per sample
  report("a.crc", measure(workload_crc), "CRC of one sample's three frames");
  report("a.float-field", measure(workload_float_field),
         "one \"%010.4f\" velocity field with its read-back check");
  report("a.point-record", measure(Guardar_Datos_Procesados_RAW), "one point record");
  report("a.waves-step", measure(ProcesarTernaDatos), "ProcesarTernaDatos on one window");

#if BENCH_WAVE_ANALYSIS
  if (&Calcular_Parametros_Salida_Ola != nullptr) {
    Comenzar_Proceso_Nuevo_Promedio_Olas();
    CTE_METODO_DIRECCION_DEFINITIVA = 2;
    set_wave(120, 81, 0.6f);
    report("b", measure(workload_wave), "both direction methods");
  } else {
    not_available("b", "Calcular_Parametros_Salida_Ola");
  }
  if (&Calcular_Parametros_Salida_Ola != nullptr &&
      &Calcular_Parametros_Salida_Ola_Promedio != nullptr) {
    CTE_METODO_DIRECCION_DEFINITIVA = 2;
    fill_interval(200, false);
    report("c", measure(workload_interval), "200 waves");
    fill_interval(200, true);
    report("c-descending", measure(workload_interval),
           "200 waves in descending height (quicksort's worst case)");
  } else {
    not_available("c", "Calcular_Parametros_Salida_Ola_Promedio");
  }
#else
  not_available("b", "Calcular_Parametros_Salida_Ola");
  not_available("c", "Calcular_Parametros_Salida_Ola_Promedio");
#endif

  semi_write("heap: ");
  semi_write_u32(g_heap_maximo);
  semi_write(" of ");
  semi_write_u32(heap_disponible());
  semi_write(" bytes used at most\n");
  return 0;
}
