// memoria.cpp: el montón de la placa, el de la hal.
#include "board/memoria.h"

#include "board/hal.h"

__attribute__((weak)) void* olas_realloc(void* bloque, size_t tam) { return hal_heap_realloc(bloque, tam); }

void olas_free(void* bloque) { hal_heap_free(bloque); }
