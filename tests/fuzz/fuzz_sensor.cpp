// Fuzz target: motion-unit bursts through the sensor receive buffer, the sbgECom framing and the
// whole wave pipeline (decoding, point records, segmentation, per-wave results, interval ends).
//
// Input: a settings byte, three clock bytes (hour, minute, second; the hour byte / 24 also picks
// the direction method), then bursts, each a 16-bit
// little-endian header (low 11 bits: burst length, at most the 1024-byte buffer; high 5 bits: how
// far the clock moves after the burst) followed by the burst's bytes.
#include <cstdint>
#include <cstring>

#include "board/placa.h"
#include "declaraciones.h"
#include "fuzz/harness.h"
#include "host/zrx03.h"
#include "sensor/sensor.h"
#include "settings/virtual_e2prom.h"
#include "waves/waves.h"

namespace {

constexpr size_t kMaxBursts = 2048;

// Averaging intervals the host may choose (minutes; 0 stands for the default).
constexpr int32_t kIntervals[8] = {0, 1, 2, 10, 15, 20, 30, 60};

// Seconds the clock moves after a burst, by the header's 5-bit code.
uint32_t ClockStep(uint8_t code) {
  if (code == 31) return 3600;
  if (code == 30) return 900;
  if (code == 29) return 60;
  return code;  // 0..28 s
}

void Settings(uint8_t flags, uint8_t hour, uint8_t minute, uint8_t second) {
  if ((flags & 0x01) != 0) {
    olas::fuzz::Session::SetClock(7, 12, 26, uint8_t(hour % 24), uint8_t(minute % 60), uint8_t(second % 60));
  }
  CTE_USO_APP_ZRX03 = (flags >> 1) & 1;
  cdebug_sensor = (flags >> 2) & 1;
  CTE_INTERVALO_PROMEDIO = kIntervals[(flags >> 3) & 7];
  CTE_INTERVALO_PROMEDIO_INTERPRETADO = Interpretar_Intervalo_Promedio(CTE_INTERVALO_PROMEDIO);
  CTE_AJUSTE_RELOJ = (flags >> 6) & 1;
  // The hour byte's spare range picks the direction method (0 velocity, 1 drift, 2 both).
  CTE_METODO_DIRECCION = uint8_t(hour / 24 % 3);
  CTE_METODO_DIRECCION_DEFINITIVA = CTE_METODO_DIRECCION;
  if ((flags & 0x80) != 0) {
    // The console and the host link running: every trace line is formatted and sent.
    Serial1.begin(115200);
    Serial.begin(38400);
  }
}

void Run(const uint8_t* data, size_t size) {
  if (size < 4) return;
  Settings(data[0], data[1], data[2], data[3]);
  size_t at = 4;
  for (size_t n = 0; n < kMaxBursts && at + 2 <= size; ++n) {
    const uint16_t header = uint16_t(data[at] | (data[at + 1] << 8));
    at += 2;
    // As the main loop receives a burst: behind the frame a full buffer cut (carried over), the
    // count and the full mark, then the scan.
    const size_t carried = ibytes_arrastrados_sensor;
    ibytes_arrastrados_sensor = 0;
    size_t length = header & 0x7FFu;
    if (length > TAM_TRAMA_SENSOR_RX - carried) length = TAM_TRAMA_SENSOR_RX - carried;
    if (length > size - at) length = size - at;
    std::memcpy(ctrama_sensor_rx + carried, data + at, length);
    icantidad_bytes_rx_sensor = uint32_t(carried + length);
    cbuffer_sensor_lleno = icantidad_bytes_rx_sensor == TAM_TRAMA_SENSOR_RX ? 1 : 0;
    at += length;
    resSbgOk = 1;
    procesamos_trama_rx_sensor();
    cbuffer_sensor_lleno = 0;
    olas::fuzz::Session::AdvanceClock(ClockStep(uint8_t(header >> 11)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  olas::fuzz::Session session;
  olas::fuzz::Guarded([&] { Run(data, size); });
  return 0;
}
