// declaraciones.cpp: los interruptores de depuración compartidos.
#include "declaraciones.h"

volatile uint8_t cdebug_sensor = 0;
uint8_t cextraigo_gps = 0;
