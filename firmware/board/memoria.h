// memoria.h: el montón de la placa. Sólo lo usan los cuatro vectores de olas de cada intervalo;
// todo lo demás del firmware es memoria estática.
#ifndef BOARD_MEMORIA_H
#define BOARD_MEMORIA_H

#include <stddef.h>

// Cambia el tamaño de un bloque (o lo crea si bloque es nulo). Devuelve nulo si no hay memoria,
// y entonces el bloque anterior sigue siendo válido y suyo. Es un símbolo débil: quien enlaza el
// firmware (las pruebas) puede sustituirlo para provocar fallos, sin estado en RAM.
void* olas_realloc(void* bloque, size_t tam);
// Devuelve un bloque al montón; un bloque nulo no hace nada.
void olas_free(void* bloque);

#endif
