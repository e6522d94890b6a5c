// nucleo.h: el arranque (setup) y el bucle principal (loop), declarados como entradas de la
// placa en board/hal.h, y el paso de la fila de usuario de la NVM.
#ifndef CORE_NUCLEO_H
#define CORE_NUCLEO_H

#include <stdint.h>

#include "board/hal.h"

// Valores de fusibles de la fila de usuario que quiere el firmware (arranque protegido 8 KB,
// BOD33 con reset, watchdog activo al encender).
#define FILA_USUARIO_PALABRA_0 0xDAE0C7FAu
#define FILA_USUARIO_PALABRA_1 0xFFFFFC5Du

// Escribe la fila de usuario una sola vez por placa: nada si ya está o si el chip está protegido.
void check_boot_protection();

#endif
