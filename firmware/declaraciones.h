// declaraciones.h: lo que comparten de verdad todos los módulos: la identidad del equipo y los
// interruptores de la traza de depuración.
#ifndef DECLARACIONES_H
#define DECLARACIONES_H

#include <stdint.h>

// Identidad que muestra el mensaje de bienvenida.
#define VERSION_HARDWARE_MAYOR 1u
#define VERSION_HARDWARE_MENOR 0u
#define VERSION_FIRMWARE_MAYOR 1u
#define VERSION_FIRMWARE_MENOR 7u
#define VERSION_FIRMWARE_REVISION 2u

extern volatile uint8_t cdebug_sensor;  // 1 = traza extra (puente del pin 28 puesto); lo fija el tick; 0/1
extern uint8_t cextraigo_gps;           // 1 = traza del tráfico GPS en la consola; lo fija el host; 0/1

#endif
