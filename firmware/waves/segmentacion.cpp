// segmentacion.cpp: la división de la señal de elevación en olas por pasos por cero ascendentes.
#include "waves/waves.h"

volatile uint8_t CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 1;

void Inicializar_Vectores_Base() {}
