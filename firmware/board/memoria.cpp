// memoria.cpp: el montón de la placa, sobre el de la biblioteca estándar.
#include "board/memoria.h"

#include <stdlib.h>

__attribute__((weak)) void* olas_realloc(void* bloque, size_t tam) { return realloc(bloque, tam); }

void olas_free(void* bloque) { free(bloque); }
