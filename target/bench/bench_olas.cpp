// bench_olas.cpp: instrucciones del propio código del firmware en un Cortex-M0 emulado (el
// micro:bit de QEMU con -icount shift=0: una instrucción = 1 ns de tiempo virtual).
//
// Cuenta: SysTick va con el reloj de 16 MHz del modelo, así que un tic = 62,5 instrucciones. Cada
// medida empieza justo tras un flanco de SysTick y, cuando vuelve el código medido, sondea (4
// instrucciones por vuelta) hasta el flanco siguiente; tics * 62,5 - vueltas * 4, menos lo que
// cuesta medir una función vacía, da las instrucciones con un error de unas pocas. Un bucle de
// longitud conocida comprueba el método (y que -icount está en vigor) antes que nada.
//
// Cargas:
//   a  una ráfaga del sensor de 1024 bytes (5 muestras completas y el principio cortado de una
//      sexta), como la deja el bucle al llenarse el búfer: troceado, CRC, decodificación,
//      ventana, registro de punto, ProcesarTernaDatos y arrastre; en régimen, tras dos olas
//   a-worst  la ráfaga de (a) con las velocidades cuyo registro de punto más cuesta
//   b  los resultados de una ola con los dos métodos de dirección (Calcular_Parametros_Salida_Ola)
//   c  el final de un intervalo de 200 olas (Calcular_Parametros_Salida_Ola_Promedio)
//   d  el final de un intervalo de 60 minutos con 1200 olas (de 3 s), en el peor de tres órdenes
// target/instruction-counts lee las líneas "<nombre>: <n> instructions, ..." y "ring: ...".
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

// BENCH_WITHOUT_WAVE_ANALYSIS: compila como si no estuviera (para probar ese camino).
#if __has_include("waves/analisis_olas.h") && !defined(BENCH_WITHOUT_WAVE_ANALYSIS)
#include "waves/analisis_olas.h"
#define BENCH_WAVE_ANALYSIS 1
// Declaradas pero aún sin definir: la dirección es nula en vez de un enlace fallido.
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

// Sondea el valor de SysTick hasta que cambia; devuelve las vueltas (4 instrucciones cada una).
// bench_spin: n vueltas de un bucle de 2 instrucciones, para calibrar.
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

// ---- SysTick como contador de instrucciones ---------------------------------------------------

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
  if (SCB_ICSR & (1u << 26)) {  // una vuelta cuya interrupción aún no ha corrido
    value = SYST_CVR;
    ++wraps;
  }
  return (static_cast<uint64_t>(wraps) << 24) + (kReload - value);
}

void start_counter() {
  SYST_RVR = kReload;
  SYST_CVR = 0;
  SYST_CSR = 0x7u;  // reloj del núcleo, interrupción, en marcha
}

// Instrucciones de fn, sin descontar aún lo que cuesta medir.
uint64_t raw_count(void (*fn)()) {
  bench_wait_edge();
  uint64_t t0 = ticks();
  fn();
  uint32_t polls = bench_wait_edge();
  uint64_t t1 = ticks();
  // 62,5 instrucciones por tic del reloj de 16 MHz a 1 ns por instrucción
  return (t1 - t0) * 125u / 2u - static_cast<uint64_t>(polls) * kInstructionsPerPoll;
}

uint64_t g_overhead = 0;

void empty_workload() {}

uint64_t count(void (*fn)()) {
  uint64_t raw = raw_count(fn);
  return raw > g_overhead ? raw - g_overhead : 0;
}

// ---- Máximo de la pila -----------------------------------------------------------------------

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

// ---- Informe -----------------------------------------------------------------------------

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

// ---- Ráfagas del sensor: tramas sbgECom de verdad ----------------------------------------

constexpr uint8_t kIdEuler = 6;
constexpr uint8_t kIdNav = 8;
constexpr uint8_t kIdShip = 9;
constexpr uint16_t kPayloadEuler = 32;
constexpr uint16_t kPayloadNav = 72;
constexpr uint16_t kPayloadShip = 46;
constexpr uint32_t kFrameExtra = 9;  // sincronismo (2), id, clase, longitud (2), CRC (2), fin
constexpr uint32_t kSampleBytes =
    3 * kFrameExtra + kPayloadEuler + kPayloadNav + kPayloadShip;  // 177

constexpr float kPi = 3.14159265f;
constexpr int32_t kSamplePeriodUs = 100000;  // 10 Hz
constexpr int32_t kSamplesPerWave = 80;      // olas de 8 s
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

// Una trama en dst; devuelve su longitud.
uint32_t put_frame(uint8_t* dst, uint8_t id, const uint8_t* payload, uint16_t length) {
  dst[0] = 0xFF;
  dst[1] = 0x5A;
  dst[2] = id;
  dst[3] = 0;  // clase 0
  dst[4] = static_cast<uint8_t>(length);
  dst[5] = static_cast<uint8_t>(length >> 8);
  memcpy(dst + 6, payload, length);
  uint16_t crc = crc_kermit(dst + 2, 4u + length);
  dst[6 + length] = static_cast<uint8_t>(crc);
  dst[7 + length] = static_cast<uint8_t>(crc >> 8);
  dst[8 + length] = 0x33;
  return kFrameExtra + length;
}

// Con g_fixed_velocity cada muestra lleva g_velocity al norte y su opuesta al este (lo que cuesta
// el registro de punto depende de los valores que escribe).
bool g_fixed_velocity = false;
float g_velocity = 0.0f;

// Muestra k de un mar regular: olas de 1 m y 8 s desde 30 grados, con una deriva pequeña.
uint32_t put_sample(uint8_t* dst, int32_t k) {
  uint32_t stamp = static_cast<uint32_t>(kTimeBase + k * kSamplePeriodUs);
  float phase = 2.0f * kPi * static_cast<float>(k) / static_cast<float>(kSamplesPerWave);
  float heave = 0.5f * sinf(phase);                          // m
  float orbital = 0.5f * (2.0f * kPi / 8.0f) * sinf(phase);  // m/s, en fase con la elevación
  float north = orbital * 0.866f + 0.05f;
  float east = orbital * 0.5f + 0.02f;
  if (g_fixed_velocity) {
    north = g_velocity;
    east = -g_velocity;
  }
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
  put_u32(payload + 68, (1u << 5) | (1u << 27));  // rumbo y alineación válidos
  n += put_frame(dst + n, kIdNav, payload, kPayloadNav);

  memset(payload, 0, sizeof payload);
  put_u32(payload + 0, stamp);
  put_float(payload + 16, heave);
  n += put_frame(dst + n, kIdShip, payload, kPayloadShip);
  return n;
}

// Una ráfaga de las muestras first..first+count-1 en ctrama_sensor_rx; con fill, completada hasta
// los 1024 bytes del búfer con el principio cortado de la siguiente, como deja el bucle una ráfaga
// que llenó el búfer (el troceado lleva la trama cortada al principio).
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
  cbuffer_sensor_lleno = fill ? 1 : 0;
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

// El CRC del firmware sobre id..carga de las tres tramas de una muestra, como en el troceado.
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

// ---- Los puntos de referencia de una ola -------------------------------------------------

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

// Una ola completa y aceptada de unos `height` cm y `samples` puntos, como la deja la segmentación
// para Calcular_Parametros_Salida_Ola; nOlas ya la cuenta.
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

enum class Order { kRandom, kDescending, kTallestThenRising, kChain };

// Puesto (1 = la más baja) de la ola i de m en el orden en cadena: la segunda más alta, la más
// alta, luego uno de cada dos puestos bajando y los otros subiendo (m = 8: 7 8 6 4 2 1 3 5). Cada
// partición de la ordenación emparejada tiene entonces de pivote a la segunda más alta con la más
// alta detrás: deja una altura a su derecha, intercambia todas las demás y deja a su izquierda el
// mismo dibujo.
int32_t chain_rank(int32_t i, int32_t m) {
  if (m == 1) return 1;
  if (i == 0) return m - 1;
  if (i == 1) return m;
  const int32_t falling = (m - 1) / 2;
  if (i < 2 + falling) return m - 2 * (i - 1);
  return (m % 2 == 0 ? 1 : 2) + 2 * (i - 2 - falling);
}

// Alturas de un intervalo de `waves` olas en el orden dado. Lo que cuesta cada elemento en la
// ordenación (antes de la primera altura que no es menor, después, y cada intercambio) hace del
// orden en cadena el más caro en particiones, a unos miles de instrucciones del máximo en 1200
// olas; le siguen la más alta primero (particiones sin intercambios) y el orden descendente.
int16_t height_of(int32_t i, int32_t waves, Order order) {
  switch (order) {
    case Order::kDescending:
      return static_cast<int16_t>(100 + waves - i);
    case Order::kTallestThenRising:
      return static_cast<int16_t>(i == 0 ? 100 + waves : 100 + i - 1);
    case Order::kChain:
      return static_cast<int16_t>(100 + chain_rank(i, waves));
    case Order::kRandom:
    default:
      return static_cast<int16_t>(40 + next_random() % 300u);
  }
}

// Un intervalo de `waves` olas aceptadas por el propio código de cada ola del firmware; cada ola
// dura `samples` muestras a 10 Hz (0: de 5 a 11 s al azar). false si las listas no crecieron.
bool fill_interval(int32_t waves, Order order, int32_t samples = 0) {
  Comenzar_Proceso_Nuevo_Promedio_Olas();
  HHini = 10;
  MMini = 0;
  SSini = 1;
  for (int32_t i = 0; i < waves; ++i) {
    int16_t height = height_of(i, waves, order);
    int32_t length = samples != 0 ? samples : 50 + static_cast<int32_t>(next_random() % 60u);
    float turn = 0.5f + 0.4f * static_cast<float>(next_random() % 100u) / 100.0f;
    set_wave(height, length, turn);
    Calcular_Parametros_Salida_Ola();
  }
  // Un bloque que no pudo crecer para su lista: se mediría un intervalo más corto.
  for (uint8_t k = 0; k < NUMERO_VECTORES_OLA; ++k) {
    if (Valores_Vector_Ola(k) != static_cast<uint32_t>(waves)) {
      semi_write("bench: the heap did not hold the interval's arrays (");
      semi_write_u32(Valores_Vector_Ola(k));
      semi_write(" of ");
      semi_write_u32(static_cast<uint32_t>(waves));
      semi_write(" waves)\n");
      return false;
    }
  }
  return true;
}

#endif

bool calibrate() {
  start_counter();
  g_overhead = raw_count(empty_workload);
  constexpr uint32_t kTurns = 100000;
  uint64_t expected = 2u * kTurns + 2u;  // el bucle, el argumento y la vuelta de la llamada
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

  // Lo que guarda el anillo de recepción del sensor: sus bytes útiles y los de una muestra en las
  // tramas de arriba (el guion lo pasa a tiempo a 50 muestras por segundo).
  semi_write("ring: ");
  semi_write_u32(Serial2.capacidad_rx());
  semi_write(" bytes, ");
  semi_write_u32(kSampleBytes);
  semi_write(" bytes a sample\n");

  // El arranque de verdad (bienvenida, ajustes de un almacén en blanco, estado de olas) y luego
  // una hora válida que no avanza: ningún intervalo acaba durante las medidas.
  report("setup", measure(setup), nullptr);
  cdia_utc = 7;
  cmes_utc = 12;
  cano_utc = 26;
  chora_utc = 10;
  cminuto_utc = 5;
  csegundo_utc = 0;
  CTE_METODO_DIRECCION_DEFINITIVA = 2;  // los dos métodos de dirección

  // (a) dos olas completas (la primera se descarta) para llegar al régimen, luego un búfer lleno
  // en el flanco de subida de una cresta
  const int32_t first = 4 * kSamplesPerWave + 10;
  feed_samples(first - 3 * kSamplesPerWave - 5, first - 1);
  uint32_t bytes = build_burst(first, 5, true);
  int32_t points_before = contPtosOlaActual;
  Measure a = measure(workload_burst);
  static char detail[96];
  strcpy(detail, "burst ");
  append_u32(detail, bytes);
  strcat(detail, " bytes, ");
  append_u32(detail, static_cast<uint32_t>(contPtosOlaActual - points_before));
  strcat(detail, " samples");
  report("a", a, detail);
  // en qué se va (a), por muestra
  report("a.crc", measure(workload_crc), "CRC of one sample's three frames");
  report("a.float-field", measure(workload_float_field),
         "one \"%010.4f\" velocity field with its read-back check");
  report("a.point-record", measure(Guardar_Datos_Procesados_RAW), "one point record");
  report("a.waves-step", measure(ProcesarTernaDatos), "ProcesarTernaDatos on one window");

  // El registro de punto cuesta según las velocidades que escribe: la más cara de estas (al norte,
  // y su opuesta al este) va en cada muestra de una ráfaga como la de (a).
  static const float kVelocities[] = {0.0f,       0.00005f,  0.35f,      -1.23456f, 9.99995f,
                                      123.4567f,  4321.098f, 12345.67f,  65535.99f, 99999.99f,
                                      123456.0f};
  static const char* const kVelocityTexts[] = {"0",         "0.00005",  "0.35",     "-1.23456",
                                               "9.99995",   "123.4567", "4321.098", "12345.67",
                                               "65535.99",  "99999.99", "123456"};
  uint32_t dearest = 0;
  uint64_t dearest_count = 0;
  for (uint32_t i = 0; i < sizeof kVelocities / sizeof kVelocities[0]; ++i) {
    TernaDatos_pos2_4 = kVelocities[i];
    TernaDatos_pos2_5 = -kVelocities[i];
    uint64_t n = count(Guardar_Datos_Procesados_RAW);
    if (n > dearest_count) {
      dearest_count = n;
      dearest = i;
    }
  }
  TernaDatos_pos2_4 = kVelocities[dearest];
  TernaDatos_pos2_5 = -kVelocities[dearest];
  strcpy(detail, "the dearest point record, velocity ");
  strcat(detail, kVelocityTexts[dearest]);
  report("a.point-record-worst", measure(Guardar_Datos_Procesados_RAW), detail);
  g_fixed_velocity = true;
  g_velocity = kVelocities[dearest];
  bytes = build_burst(first + 5, 5, true);
  points_before = contPtosOlaActual;
  Measure worst = measure(workload_burst);
  g_fixed_velocity = false;
  strcpy(detail, "burst ");
  append_u32(detail, bytes);
  strcat(detail, " bytes, ");
  append_u32(detail, static_cast<uint32_t>(contPtosOlaActual - points_before));
  strcat(detail, " samples with the dearest point records");
  report("a-worst", worst, detail);

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
    if (!fill_interval(200, Order::kRandom)) return 5;
    report("c", measure(workload_interval), "200 waves");
    if (!fill_interval(200, Order::kDescending)) return 5;
    report("c-descending", measure(workload_interval), "200 waves in descending height");
    // Un intervalo de 60 minutos guarda a lo sumo 1200 olas del periodo mínimo de 3 s; (d) es el
    // más caro de tres órdenes.
    static const Order kOrders[] = {Order::kChain, Order::kTallestThenRising, Order::kDescending};
    static const char* const kOrderNames[] = {
        "d-chain", "d-tallest-then-rising", "d-descending"};
    static const char* const kOrderTexts[] = {
        "1200 waves, second tallest, tallest, every second height falling, the others rising",
        "1200 waves, the tallest first, the others rising", "1200 waves in descending height"};
    Measure dearest_interval = {0, 0, 0};
    uint32_t dearest_order = 0;
    for (uint32_t k = 0; k < sizeof kOrders / sizeof kOrders[0]; ++k) {
      if (!fill_interval(1200, kOrders[k], 30)) return 5;
      Measure m = measure(workload_interval);
      report(kOrderNames[k], m, kOrderTexts[k]);
      if (m.instructions > dearest_interval.instructions) {
        dearest_interval = m;
        dearest_order = k;
      }
    }
    strcpy(detail, "1200 waves, the dearest order: ");
    strcat(detail, kOrderNames[dearest_order]);
    report("d", dearest_interval, detail);
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
