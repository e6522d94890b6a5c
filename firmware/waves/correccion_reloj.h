// correccion_reloj.h: la corrección del ritmo del tick (CTE_VELOCIDAD_RELOJ) contra las marcas de
// tiempo del sensor (una medida de unos 60 s) y contra la hora GPS (entre dos horas aceptadas).
#ifndef WAVES_CORRECCION_RELOJ_H
#define WAVES_CORRECCION_RELOJ_H

#include <stdint.h>

#define VELOCIDAD_RELOJ_NOMINAL 48000         // ciclos de 48 MHz por tick de 1 ms
#define VELOCIDAD_RELOJ_CORREGIDA_MINIMA 46500
#define VELOCIDAD_RELOJ_CORREGIDA_MAXIMA 49500
#define CUENTAS_MEDIDA_SENSOR 600             // pasos de 100 ms que debe superar la medida (60 s)
#define SEGUNDOS_DESVIO_GPS_TOLERADOS 15      // desvío entre GPS y reloj que no se corrige

extern uint8_t Tiempo_Ajustar_Hora;           // 1 = queda un paso de corrección pendiente; 0/1
extern uint8_t Tiempo_Capturar_Hora_Inicial;  // 1 = la próxima muestra empieza la medida; 0/1
extern uint8_t Tiempo_Revision_Hora_GPS;      // 1 = la próxima muestra compara con el GPS; 0/1
extern uint32_t CONT_TIEMPO_MICRO_FINAL;      // pasos de 100 ms contados al acabar la medida
extern int32_t Tiempo_SBG_Ini;                // marca SHIP_MOTION al empezar la medida; µs
extern int32_t Tiempo_SBG_Fin;                // marca SHIP_MOTION al acabar la medida; µs
extern int32_t Tiempo_SBG_Diferencia;         // su diferencia (Diferencia_Timespan); µs
extern uint8_t cdia_gps_anterior;             // referencia GPS: día del mes; 0 = sin referencia
extern uint8_t chora_gps_anterior;            // referencia GPS: hora; 0..23
extern uint8_t cminuto_gps_anterior;          // referencia GPS: minuto; 0..59
extern uint8_t csegundo_gps_anterior;         // referencia GPS: segundo; 0..59
extern uint8_t cdia_comparativa;              // reloj interno justo antes de ponerlo en hora: día
extern uint8_t chora_comparativa;             // ... hora; 0..23
extern uint8_t cminuto_comparativa;           // ... minuto; 0..59
extern uint8_t csegundo_comparativa;          // ... segundo; 0..59
extern int32_t Tiempo_Diferencia_gps;          // segundos GPS desde la referencia
extern int32_t Tiempo_Diferencia_Comparativa;  // segundos del reloj interno desde la referencia
extern int32_t Tiempo_Resta;                   // GPS menos reloj interno; s
extern double Tiempo_Calculo;                  // duración de una cuenta en el cálculo GPS; ms

// Una vez por muestra completa (con CTE_AJUSTE_RELOJ = 1): compara con el GPS, empieza o acaba
// la medida contra el sensor, según lo pendiente.
void Correccion_Reloj_porWaves();
// Lado GPS, en cada hora aceptada y antes de poner el reloj: pide medida, fija la referencia o
// guarda la lectura del reloj interno para comparar.
void Captura_Hora_GPS_Correccion();

#endif
