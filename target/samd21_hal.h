// samd21_hal.h: lo que la hal del chip ofrece al arranque y a quien depure, fuera de board/hal.h.
#ifndef TARGET_SAMD21_HAL_H
#define TARGET_SAMD21_HAL_H

#include <stdint.h>

// Lo primero de Reset_Handler: el watchdog que encienden los fusibles no salta antes de setup().
void samd21_vigilante_a_salvo(void);
// Relojes a 48 MHz (DFLL48M), flash con un estado de espera y SysTick como contador de ciclos.
// Lo llama Reset_Handler antes de los constructores.
void samd21_iniciar(void);
// GCLK2 = OSCULP32K / 32 = 1,024 kHz, el reloj del watchdog.
void samd21_gclk2_a_1khz(void);

// SysTick cuenta de 0xFFFFFF a 0 y una interrupción suma cada vuelta.
constexpr uint32_t kRecargaSysTick = 0xFFFFFFu;

// La excepción sin manejador que paró el arranque anterior (de g_registro_fallo, reinicio.h);
// vector 0 = ninguna, o la RAM no la guardó.
struct FalloAnterior {
  uint32_t vector;  // número de excepción: 2 NMI, 3 HardFault, 16 + n la línea n del NVIC
  uint32_t pc;      // la instrucción interrumpida
};
extern FalloAnterior g_fallo_anterior;

#endif
