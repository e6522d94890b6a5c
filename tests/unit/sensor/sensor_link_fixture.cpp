#include "unit/sensor/sensor_link_fixture.h"

#include <cstring>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "host/zrx03.h"
#include "sensor/sensor.h"
#include "settings/virtual_e2prom.h"
#include "waves/analisis_olas.h"
#include "waves/waves.h"

namespace olas::test {

std::vector<std::pair<int, int>> SensorLinkFixture::accepted;

void ResetSensorLinkRam() {
  std::memset(ctrama_sensor_rx, 0, sizeof ctrama_sensor_rx);
  std::memset(cprocesada, 0, sizeof cprocesada);
  icantidad_bytes_rx_sensor = 0;
  ibytes_arrastrados_sensor = 0;
  cbuffer_sensor_lleno = 0;
  ctrama_reciente = 1;
  CTE_MODO_TRANSPARENTE = 0;
  CTE_USO_APP_ZRX03 = 0;
  CTE_AJUSTE_RELOJ = 0;  // the clock-rate correction has its own tests
  pprocesado_trama_sensor = ProcesarTramaBinaria;

  TernaDatos0 = 0;
  TernaDatos1 = 0;
  TernaDatos2 = TernaDatos3 = 0.0f;
  Inicializar_TernaTiempos();
  contPtosOlaActual = 0;
  mFlagHeading_Pto = mFlagAlign_Pto = 0;
  mFlagHeading = mFlagAlign = 0;
  TIEMPO_INI = TIEMPO_FIN = 0;
  Inicializar_Ventana();
  CONTADOR_MUESTRAS_PERDIDAS = 0;
  cventanas_tras_hueco = 0;
  TernaDatos_pos1_1 = TernaDatos_pos2_1 = TernaDatos_pos3_1 = 0;
  TernaDatos_pos1_2 = TernaDatos_pos2_2 = TernaDatos_pos3_2 = 0;
  TernaDatos_pos1_3 = TernaDatos_pos2_3 = TernaDatos_pos3_3 = 0;
  TernaDatos_pos1_4 = TernaDatos_pos2_4 = TernaDatos_pos3_4 = 0.0f;
  TernaDatos_pos1_5 = TernaDatos_pos2_5 = TernaDatos_pos3_5 = 0.0f;
  vIniOla_0 = -1;
  ContNumPtosOla = 0;
  TENGO_HORA_VALIDA = 0;

  std::memset(ibytes_a_escribir_sd, 0, sizeof ibytes_a_escribir_sd);
  std::memset(cbuffer_raw, 0, sizeof cbuffer_raw);
  std::memset(cbuffer_wav, 0, sizeof cbuffer_wav);
  std::memset(cbuffer_res, 0, sizeof cbuffer_res);
  std::memset(cbuffer_zrx03, 0, sizeof cbuffer_zrx03);
  std::memset(cbuffer_promedio, 0, sizeof cbuffer_promedio);
  ccalculo_checksum_nmea = 0;
  cchecksum_nmea_zrx03 = 0;
}

SensorLinkFixture::SensorLinkFixture() {
  ResetRam();
  StartTickAndConsole();  // the scan's watchdog restarts need a running tick in the simulation
  Serial.begin(38400);
}

void SensorLinkFixture::ResetRam() {
  ResetSensorLinkRam();
  accepted.clear();
  pprocesado_trama_sensor = &SensorLinkFixture::Record;
}

SensorLinkFixture::~SensorLinkFixture() { pprocesado_trama_sensor = ProcesarTramaBinaria; }

void SensorLinkFixture::Record(const uint8_t* frame, uint8_t length) {
  accepted.emplace_back(frame[2], length);
  ProcesarTramaBinaria(frame, length);
}

void SensorLinkFixture::ScanBurst(const Bytes& burst) {
  ASSERT_LE(burst.size(), sizeof ctrama_sensor_rx);
  std::memcpy(ctrama_sensor_rx, burst.data(), burst.size());
  icantidad_bytes_rx_sensor = uint32_t(burst.size());
  procesamos_trama_rx_sensor();
}

void SensorLinkFixture::Decode(const Bytes& frame) { ProcesarTramaBinaria(frame.data(), uint8_t(frame.size())); }

void SensorLinkFixture::DecodeSample(uint32_t t, float yaw_rad, float vn, float ve, float heave_m) {
  Decode(EulerFrame(t, yaw_rad));
  Decode(NavFrame(t, vn, ve));
  Decode(ShipFrame(t, heave_m));
}

std::string SensorLinkFixture::ConsoleText() {
  run_ms(50);
  return console.text;
}

std::string SensorLinkFixture::HostText() {
  run_ms(80);
  return host.text;
}

}  // namespace olas::test
