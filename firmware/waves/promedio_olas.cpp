// promedio_olas.cpp: el estado de olas de cada intervalo de promedio.
#include "waves/waves.h"

uint8_t resSbgOk = 0;

void Comenzar_Proceso_Nuevo_Promedio_Olas() {}
