// waves.h: el análisis de olas: decodificación de los registros del sensor, ventana de muestras,
// segmentación, dirección, resultados por ola y promedios por intervalo.
#ifndef WAVES_WAVES_H
#define WAVES_WAVES_H

#include <stdint.h>

// ---- Programación del intervalo de promedio ----
extern int32_t CTE_INTERVALO_PROMEDIO_INTERPRETADO;  // intervalo en vigor; min; 10, 15, 20, 30 o 60
extern uint8_t CTE_METODO_DIRECCION_DEFINITIVA;      // método de dirección del intervalo en curso; 0..2 (otro = ninguno)
extern uint8_t TENGO_HORA_VALIDA;                    // 1 = el reloj interno tiene fecha (cano_utc != 0)

// ---- Ventana de tres muestras (1 la más antigua, 3 la más nueva); _0 = 0 = hueco vacío ----
extern int32_t TernaDatos_pos1_0, TernaDatos_pos2_0, TernaDatos_pos3_0;     // nº de punto en el intervalo
extern int32_t TernaDatos_pos1_1, TernaDatos_pos2_1, TernaDatos_pos3_1;     // marca de tiempo del sensor; µs
extern uint16_t TernaDatos_pos1_2, TernaDatos_pos2_2, TernaDatos_pos3_2;    // rumbo; grados; 0..359
extern int16_t TernaDatos_pos1_3, TernaDatos_pos2_3, TernaDatos_pos3_3;     // elevación (heave); cm
extern float TernaDatos_pos1_4, TernaDatos_pos2_4, TernaDatos_pos3_4;       // velocidad norte; m/s
extern float TernaDatos_pos1_5, TernaDatos_pos2_5, TernaDatos_pos3_5;       // velocidad este; m/s

// ---- Segmentación ----
extern volatile uint8_t CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET;  // 1 = se descarta la próxima ola completa; 0/1

// ---- Estado del resultado promediado ----
extern uint8_t resSbgOk;  // 1 = han llegado datos del sensor en este intervalo; 0/1

// Estado inicial del análisis y listado de los ajustes (una vez, desde setup).
void Inicializar();
// Minutos de un código o valor de intervalo de promedio (10, 15, 20, 30 o 60).
int32_t Interpretar_Intervalo_Promedio(int32_t IntPromedio);
// Olvida los registros recibidos de la muestra en curso.
void Inicializar_TernaTiempos();
// Borra los nueve puntos de referencia de la ola.
void Inicializar_Vectores_Base();
// Empieza el estado de olas de un intervalo nuevo.
void Comenzar_Proceso_Nuevo_Promedio_Olas();

#endif
