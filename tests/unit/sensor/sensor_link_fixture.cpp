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

SensorLinkFixture::SensorLinkFixture() { ResetRam(); }

void SensorLinkFixture::ResetRam() {
  RestoreFirmwareRam();
  CTE_AJUSTE_RELOJ = 0;  // the clock-rate correction has its own tests
  StartTickAndConsole();  // the scan's watchdog restarts need a running tick in the simulation
  Serial.begin(38400);
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
