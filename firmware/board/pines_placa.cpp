// pines_placa.cpp: la tabla de modos de los pines de la placa.
#include "board/pines_placa.h"

#include "board/pines.h"

namespace {
struct ModoPin {
  uint8_t cpin;
  uint8_t cmodo;
};
// Sin uso por el firmware pero configurados: 21, 15, 20 y 39..42.
const ModoPin kModos[] = {
    {PIN_GPS, OUTPUT}, {PIN_SALIDA_BAJA, OUTPUT}, {PIN_SEGUNDO, OUTPUT}, {PIN_SALIDA_ALTA, OUTPUT},
    {21, INPUT},       {15, INPUT},               {20, INPUT},           {39, INPUT_PULLUP},
    {40, INPUT_PULLUP}, {41, INPUT_PULLUP},       {42, INPUT_PULLUP},    {PIN_JUMPER, INPUT_PULLUP},
};
}  // namespace

void configurar_modos_pines(bool bgps_hecho) {
  for (const ModoPin& m : kModos) {
    if (bgps_hecho && m.cpin == PIN_GPS) continue;
    pinMode(m.cpin, m.cmodo);
  }
}
