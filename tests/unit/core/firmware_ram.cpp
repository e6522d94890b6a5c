#include "unit/core/firmware_ram.h"

#include <cstring>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "gps/modulo_gps.h"
#include "host/zrx03.h"
#include "sensor/sensor.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"
#include "waves/waves.h"

namespace olas::test {

void FirmwareFixture::StartTickAndConsole() {
  Serial1.begin(115200);
  configureTCC0(48000, 1);
}

void FirmwareFixture::ArmSecondBoundary() {
  cacciones_cada_10milisegundos = 9;
  cacciones_cada_100milisegundos = 9;
  cacciones_cada_segundo = 9;
}

void FirmwareFixture::SetClock(int day, int month, int year, int hour, int minute, int second) {
  poner_reloj(uint8_t(year), uint8_t(month), uint8_t(day), uint8_t(hour), uint8_t(minute), uint8_t(second));
}

void FirmwareFixture::RunOneSecond() {
  ArmSecondBoundary();
  run_ms(1.5);
}

}  // namespace olas::test
