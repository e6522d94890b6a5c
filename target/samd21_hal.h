// samd21_hal.h: lo que la hal del chip ofrece al arranque y a quien depure, fuera de board/hal.h.
#ifndef TARGET_SAMD21_HAL_H
#define TARGET_SAMD21_HAL_H

#include <stdint.h>

// Relojes a 48 MHz (DFLL48M), flash con un estado de espera y SysTick como contador de ciclos.
// Lo llama Reset_Handler antes de los constructores.
void samd21_iniciar(void);

// Llamadas recibidas por las funciones de bloques de la tarjeta SD, de salida (responden "sin
// tarjeta"): el protocolo pasa a board/ sobre hal_spi_*.
struct RegistroSd {
  uint32_t init;
  uint32_t consultas;
  uint32_t lecturas;
  uint32_t escrituras;
  uint32_t borrados;
  uint8_t ultimo_cs;
  uint32_t ultimo_spi_hz;
};
extern RegistroSd g_registro_sd;

#endif
