#include "unit/waves/waves_fixture.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "board/memoria.h"
#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "host/zrx03.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"
#include "waves/analisis_olas.h"
#include "sim/text.h"

namespace olas::test {
namespace {
int64_t realloc_budget = -1;
int64_t realloc_calls = 0;
}  // namespace

void SetReallocBudget(int64_t successes) { realloc_budget = successes; }
int64_t ReallocCalls() { return realloc_calls; }

}  // namespace olas::test

// Replaces the firmware's weak heap hook for the whole unit test binary.
void* olas_realloc(void* bloque, size_t tam) {
  ++olas::test::realloc_calls;
  if (olas::test::realloc_budget == 0) return nullptr;
  if (olas::test::realloc_budget > 0) --olas::test::realloc_budget;
  return realloc(bloque, tam);
}

namespace olas::test {

void ResetWavesRam() {
  SetReallocBudget(-1);
  // settings at their factory values where the analysis reads them
  CTE_PROCESAR_OLA_ALTURA_MINIMA = 0;
  CTE_PROCESAR_OLA_ALTURA_MAXIMA = 3000;
  CTE_PROCESAR_OLA_PERIODO_MINIMO = 3;
  CTE_PROCESAR_OLA_PERIODO_MAXIMO = 90;
  CTE_INTERVALO_PROMEDIO = 0;
  CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = 1;
  CTE_METODO_DIRECCION = 0;
  CTE_AJUSTE_RELOJ = 0;  // the clock-rate correction is not under test here
  CTE_USO_APP_ZRX03 = 0;
  cdebug_sensor = 0;

  // decoder and window
  Inicializar_TernaTiempos();
  TernaDatos0 = 0;
  TernaDatos1 = 0;
  TernaDatos2 = TernaDatos3 = 0.0f;
  Inicializar_Ventana();
  CONTADOR_MUESTRAS_PERDIDAS = 0;
  cventanas_tras_hueco = 0;
  contPtosOlaActual = 0;
  TIEMPO_INI = TIEMPO_FIN = 0;
  mFlagHeading = mFlagAlign = 0;
  mFlagHeading_Pto = mFlagAlign_Pto = 0;
  ContNumPtosOla = 0;

  // analysis
  Inicializar_Vectores_Base();
  Comenzar_Proceso_Nuevo_Promedio_Olas();
  CTE_METODO_DIRECCION_DEFINITIVA = 0;
  CTE_INTERVALO_PROMEDIO_INTERPRETADO = 15;
  TENGO_HORA_VALIDA = 0;
  CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 1;
  YY_ini = MM_ini = DD_ini = 0;
  HHini = MMini = SSini = 0;
  HHfin = MMfin = SSfin = 0;
  lhora_muestra_anterior = 0;
  CONTADOR_CERO_OLAS = 0;
  ctam_trama_promedio = 0;
  resSdOk = 0;
  resSbgOk = 0;
  yy_ola = mm_ola = dd_ola = HH_ola = MM_ola = 0;

  // records and card requests
  std::memset(ibytes_a_escribir_sd, 0, sizeof(ibytes_a_escribir_sd));
  std::memset(cbuffer_wav, 0, sizeof(cbuffer_wav));
  std::memset(cbuffer_res, 0, sizeof(cbuffer_res));
  std::memset(cbuffer_zrx03, 0, sizeof(cbuffer_zrx03));
  std::memset(cbuffer_promedio, 0, sizeof(cbuffer_promedio));
  cdatos_tx_zrx03 = 0;
  ccalculo_checksum_nmea = 0;
  std::memset(ccreacion_nuevo_fichero, 0, sizeof(ccreacion_nuevo_fichero));
  std::memset(cescritura_sd, 0, sizeof(cescritura_sd));
  ctarjeta_sd_inicializada = 0;
  ctimeout_reset_general = 0;
}

float HeaveMetresFor(int cm) {
  float f = float(cm) / 100.0f;
  auto converted = [](float m) {
    float c = m * 100.0f;
    return c > 0 ? std::ceil(c) : (c < 0 ? std::floor(c) : 0.0f);
  };
  for (int i = 0; i < 8 && converted(f) != float(cm); ++i) {
    f = std::nextafter(f, converted(f) > float(cm) ? -1e9f : 1e9f);
  }
  if (converted(f) != float(cm)) throw std::logic_error("no float converts to this heave");
  return f;
}

WavesTest::WavesTest() {
  ResetWavesRam();
  Serial1.begin(115200);
  Serial.begin(38400);
  TakeConsole();
}

WavesTest::~WavesTest() { FreeWaveArrays(); }

void FreeWaveArrays() {
  // the heap blocks go back so that leak checkers see a clean run
  SetReallocBudget(-1);
  for (uint16_t** p : {&mVectorAlt, &mVectorPer, &mVectorDirMetVel, &mVectorDirMetDer}) {
    olas_free(*p);
    *p = nullptr;
  }
}

namespace {
using Bytes = std::vector<uint8_t>;

void put_u32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
void put_f32(Bytes& b, size_t at, float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  put_u32(b, at, v);
}
// Sync, id, class 0, length, payload, CRC (not checked by the decoder), end byte.
void decode(uint8_t id, const Bytes& payload) {
  Bytes f = {0xFF, 0x5A, id, 0, uint8_t(payload.size()), uint8_t(payload.size() >> 8)};
  f.insert(f.end(), payload.begin(), payload.end());
  f.insert(f.end(), {0, 0, 0x33});
  ProcesarTramaBinaria(f.data(), uint8_t(f.size()));
}
}  // namespace

void SampleFeed::Sample(uint32_t t_us, int heave_cm, float vn, float ve, uint16_t heading, uint32_t nav_status) {
  Bytes euler(32, 0);
  put_u32(euler, 0, t_us);
  put_f32(euler, 12, float(double(heading) * 3.14159265359 / 180.0));
  decode(6, euler);
  Bytes nav(72, 0);
  put_u32(nav, 0, t_us);
  put_f32(nav, 4, vn);
  put_f32(nav, 8, ve);
  put_u32(nav, 68, nav_status);
  decode(8, nav);
  Bytes ship(48, 0);
  put_u32(ship, 0, t_us);
  put_f32(ship, 16, HeaveMetresFor(heave_cm));
  decode(9, ship);
}

int SampleFeed::SineHeaveCm(const Sine& s, int64_t k) {
  double t = (double(k) + 0.5) / s.rate_hz;
  return int(std::lround(s.amplitude_cm * std::sin(2 * M_PI * t / s.period_s)));
}

void SampleFeed::FeedSine(const Sine& s, int64_t first, int64_t count) {
  const double from = s.from_deg * M_PI / 180.0;
  for (int64_t k = first; k < first + count; ++k) {
    int h = SineHeaveCm(s, k);
    double share = double(h) / s.amplitude_cm;
    // velocity toward the bearing the waves come from under a crest, away under a trough
    float vn = float(s.speed_mps * share * std::cos(from));
    float ve = float(s.speed_mps * share * std::sin(from));
    uint32_t t = s.t0_us + uint32_t(double(k) * 1e6 / s.rate_hz);
    if (s.clock0_s >= 0) ClockSecondsOfDay(s.clock0_s + int64_t(double(k) / s.rate_hz));
    Sample(t, h, vn, ve);
  }
}

void SampleFeed::Clock(int day, int month, int year, int h, int m, int s) {
  poner_reloj(uint8_t(year), uint8_t(month), uint8_t(day), uint8_t(h), uint8_t(m), uint8_t(s));
}

void SampleFeed::ClockSecondsOfDay(int64_t s) {
  if (cano_utc == 0) Clock(7, 12, 26, 0, 0, 0);
  s %= 86400;
  chora_utc = uint8_t(s / 3600);
  cminuto_utc = uint8_t(s / 60 % 60);
  csegundo_utc = uint8_t(s % 60);
}

std::string WavesTest::TakeConsole() {
  run_ms(30);
  std::string t = console.text;
  console.text.clear();
  return t;
}

std::string WavesTest::TakeHost() {
  run_ms(30);
  std::string t = host.text;
  host.text.clear();
  return t;
}

void SetLandmark(const char* name, const LandmarkValues& v) {
  struct Ref {
    const char* name;
    int32_t* n;
    int32_t* t;
    int16_t* h;
    float* vn;
    float* ve;
  };
  static const Ref refs[] = {
      {"vIniOla", &vIniOla_0, &vIniOla_1, &vIniOla_3, &vIniOla_4, &vIniOla_5},
      {"vFinOla", &vFinOla_0, &vFinOla_1, &vFinOla_3, &vFinOla_4, &vFinOla_5},
      {"vMax1", &vMax1_0, &vMax1_1, &vMax1_3, &vMax1_4, &vMax1_5},
      {"vMax2", &vMax2_0, &vMax2_1, &vMax2_3, &vMax2_4, &vMax2_5},
      {"vMin", &vMin_0, &vMin_1, &vMin_3, &vMin_4, &vMin_5},
      {"vIntMaxVn", &vIntMaxVn_0, &vIntMaxVn_1, &vIntMaxVn_3, &vIntMaxVn_4, &vIntMaxVn_5},
      {"vIntMinVn", &vIntMinVn_0, &vIntMinVn_1, &vIntMinVn_3, &vIntMinVn_4, &vIntMinVn_5},
      {"vIntMaxVe", &vIntMaxVe_0, &vIntMaxVe_1, &vIntMaxVe_3, &vIntMaxVe_4, &vIntMaxVe_5},
      {"vIntMinVe", &vIntMinVe_0, &vIntMinVe_1, &vIntMinVe_3, &vIntMinVe_4, &vIntMinVe_5},
  };
  for (const Ref& r : refs) {
    if (std::strcmp(r.name, name) != 0) continue;
    *r.n = v.n;
    *r.t = v.t;
    *r.h = v.heave;
    *r.vn = v.vn;
    *r.ve = v.ve;
    return;
  }
  throw std::logic_error(name);
}

uint8_t FrameChecksum(const std::string& frame) { return sim::nmea_xor(frame); }

}  // namespace olas::test
