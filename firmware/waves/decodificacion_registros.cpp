// decodificacion_registros.cpp: decodificación de los registros del sensor y la ventana de tres
// muestras.
#include "waves/waves.h"

int32_t TernaDatos_pos1_0 = 0, TernaDatos_pos2_0 = 0, TernaDatos_pos3_0 = 0;
int32_t TernaDatos_pos1_1 = 0, TernaDatos_pos2_1 = 0, TernaDatos_pos3_1 = 0;
uint16_t TernaDatos_pos1_2 = 0, TernaDatos_pos2_2 = 0, TernaDatos_pos3_2 = 0;
int16_t TernaDatos_pos1_3 = 0, TernaDatos_pos2_3 = 0, TernaDatos_pos3_3 = 0;
float TernaDatos_pos1_4 = 0.0f, TernaDatos_pos2_4 = 0.0f, TernaDatos_pos3_4 = 0.0f;
float TernaDatos_pos1_5 = 0.0f, TernaDatos_pos2_5 = 0.0f, TernaDatos_pos3_5 = 0.0f;

void Inicializar_TernaTiempos() {}
