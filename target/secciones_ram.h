// secciones_ram.h: lo que todo arranque hace antes de main con los símbolos del guion del
// enlazador: copiar .data de la flash, poner .bss a cero y llamar a los constructores. Lo usan la
// imagen del chip, la prueba de arranque y la imagen del banco.
#ifndef TARGET_SECCIONES_RAM_H
#define TARGET_SECCIONES_RAM_H

#include <stdint.h>

extern "C" {
extern uint32_t __data_load__[];
extern uint32_t __data_start__[];
extern uint32_t __data_end__[];
extern uint32_t __bss_start__[];
extern uint32_t __bss_end__[];
extern void (*__preinit_array_start[])(void);
extern void (*__preinit_array_end[])(void);
extern void (*__init_array_start[])(void);
extern void (*__init_array_end[])(void);
}

inline void preparar_data_y_bss() {
  const uint32_t* origen = __data_load__;
  for (uint32_t* p = __data_start__; p < __data_end__;) *p++ = *origen++;
  for (uint32_t* p = __bss_start__; p < __bss_end__;) *p++ = 0;
}

inline void llamar_constructores() {
  for (auto f = __preinit_array_start; f < __preinit_array_end; ++f) (*f)();
  for (auto f = __init_array_start; f < __init_array_end; ++f) (*f)();
}

#endif
