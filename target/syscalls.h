// syscalls.h: el montón acotado (lo usan las olas del intervalo).
#ifndef TARGET_SYSCALLS_H
#define TARGET_SYSCALLS_H

#include <stdint.h>

extern uint32_t g_heap_maximo;   // bytes del montón pedidos a _sbrk, como mucho, desde el arranque
uint32_t heap_disponible(void);  // tamaño del montón entre los símbolos del enlazador

#endif
