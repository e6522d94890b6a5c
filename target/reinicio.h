// reinicio.h: el arranque común a la imagen del chip y a la prueba de arranque del banco.
#ifndef TARGET_REINICIO_H
#define TARGET_REINICIO_H

#include <stdint.h>

extern "C" {
typedef void (*Vector)(void);
// Cada imagen define su tabla con este nombre: Reset_Handler toma de ella la pila.
extern const Vector g_vectores[];
// Pila de la tabla, interrupciones cortadas y limpias, watchdog a salvo, .data, .bss, relojes,
// constructores, setup() y loop() para siempre.
void Reset_Handler(void);
// Excepción sin dueño: anota cuál fue y espera sin alimentar el watchdog a que reinicie el chip.
void Default_Handler(void);

// Lo que Default_Handler deja para el arranque siguiente, fuera de .bss; un depurador lo lee por
// su nombre. control = vector ^ pc ^ una marca: la RAM del encendido no pasa por un fallo.
struct RegistroFallo {
  uint32_t vector;
  uint32_t pc;
  uint32_t control;
};
extern RegistroFallo g_registro_fallo;
}

#endif
