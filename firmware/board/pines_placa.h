// pines_placa.h: los pines de la placa que usa el firmware (números de la tabla de pines de la
// placa) y sus modos, fijados en un solo sitio para el arranque y cada pasada del bucle.
#ifndef BOARD_PINES_PLACA_H
#define BOARD_PINES_PLACA_H

#include <stdint.h>

#define PIN_GPS 17         // PA15: alimentación del GPS, activa en bajo
#define PIN_SEGUNDO 32     // PB02: marca de segundo, baja 100 ms al empezar cada segundo
#define PIN_JUMPER 28      // PB30: puente de depuración, puesto = bajo
#define PIN_SALIDA_BAJA 35 // PA06: nivel fijo bajo
#define PIN_SALIDA_ALTA 33 // PB03: nivel fijo alto
// Selección de la tarjeta SD: el registrador la nombra 19 y el formateador 59; los dos son PA13.
#define PIN_CS_SD 19
#define PIN_CS_SD_FORMATEO 59

// Los modos de todos los pines, en el orden de la placa (sin niveles); con bgps_hecho = true se salta
// el del GPS, que el arranque pone antes que nada.
void configurar_modos_pines(bool bgps_hecho = false);

#endif
