// waves.h: el análisis de olas: decodificación de los registros del sensor, ventana de muestras,
// segmentación, dirección, resultados por ola y promedios por intervalo.
#ifndef WAVES_WAVES_H
#define WAVES_WAVES_H

#include <stdint.h>

// ---- Programación del intervalo de promedio ----
extern int32_t CTE_INTERVALO_PROMEDIO_INTERPRETADO;  // intervalo en vigor; min; 10, 15, 20, 30 o 60
extern uint8_t CTE_METODO_DIRECCION_DEFINITIVA;      // método de dirección del intervalo en curso; 0..2 (otro = ninguno)
extern uint8_t TENGO_HORA_VALIDA;                    // 1 = el reloj interno tiene fecha (cano_utc != 0)

// ---- Terna de la muestra en curso (último valor de cada registro del sensor) ----
#define TIEMPO_NO_RECIBIDO (-1000)  // marca de tiempo de un registro que aún no ha llegado
extern uint16_t TernaDatos0;       // rumbo (EKF_EULER); grados; 0..360
extern int16_t TernaDatos1;        // elevación (SHIP_MOTION); cm
extern float TernaDatos2;          // velocidad norte (EKF_NAV); m/s
extern float TernaDatos3;          // velocidad este (EKF_NAV); m/s
extern int32_t TernaTiempos0;      // marca del último EKF_EULER aceptado; µs; -1000 = no llegó
extern int32_t TernaTiempos1;      // marca del último SHIP_MOTION aceptado; µs; -1000 = no llegó
extern int32_t TernaTiempos2;      // marca del último EKF_NAV aceptado; µs; -1000 = no llegó
extern int32_t contPtosOlaActual;  // número de la última muestra del intervalo; 0 al empezar intervalo
extern uint8_t mFlagHeading_Pto;   // 1 = el último EKF_NAV traía el rumbo válido (bit 5); 0/1
extern uint8_t mFlagAlign_Pto;     // 1 = el último EKF_NAV traía la alineación válida (bit 27); 0/1
extern uint16_t mFlagHeading;      // EKF_NAV con rumbo válido desde el inicio de la ola
extern uint16_t mFlagAlign;        // EKF_NAV con alineación válida desde el inicio de la ola
extern int32_t TIEMPO_INI;         // marca de la primera muestra del intervalo sin hora válida; µs; 0 = ninguna
extern int32_t TIEMPO_FIN;         // marca de la última muestra del intervalo sin hora válida; µs
extern uint8_t cmuestra_perdida;   // 1 = se perdió una muestra desde la última que entró en la ventana; 0/1
extern uint32_t CONTADOR_MUESTRAS_PERDIDAS;  // muestras a medias o a cero descartadas desde el arranque
extern uint32_t iperiodo_muestreo_us;        // periodo del sensor aprendido del flujo; µs; 0 = aún no

// ---- Ventana de tres muestras (1 la más antigua, 3 la más nueva) ----
extern uint8_t cmuestras_ventana;  // huecos ocupados, desde el 1; 0..3
extern int32_t TernaDatos_pos1_0, TernaDatos_pos2_0, TernaDatos_pos3_0;     // nº de punto en el intervalo
extern int32_t TernaDatos_pos1_1, TernaDatos_pos2_1, TernaDatos_pos3_1;     // marca de tiempo del sensor; µs
extern uint16_t TernaDatos_pos1_2, TernaDatos_pos2_2, TernaDatos_pos3_2;    // rumbo; grados; 0..360
extern int16_t TernaDatos_pos1_3, TernaDatos_pos2_3, TernaDatos_pos3_3;     // elevación (heave); cm
extern float TernaDatos_pos1_4, TernaDatos_pos2_4, TernaDatos_pos3_4;       // velocidad norte; m/s
extern float TernaDatos_pos1_5, TernaDatos_pos2_5, TernaDatos_pos3_5;       // velocidad este; m/s

// ---- Segmentación ----
extern volatile uint8_t CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET;  // 1 = se descarta la próxima ola completa; 0/1

// ---- Registro de punto (RAW) ----
extern uint32_t ContNumPtosOla;  // nº del próximo registro de punto de la ola o del fichero; 0..99999

// ---- Estado del resultado promediado ----
extern uint8_t resSbgOk;  // 1 = han llegado datos del sensor en este intervalo; 0/1

// Estado inicial del análisis y listado de los ajustes (una vez, desde setup).
void Inicializar();
// Minutos de un código o valor de intervalo de promedio (10, 15, 20, 30 o 60).
int32_t Interpretar_Intervalo_Promedio(int32_t IntPromedio);
// Olvida los registros recibidos de la muestra en curso (las tres marcas a -1000).
void Inicializar_TernaTiempos();
// Ventana vacía (números de punto a 0) y periodo del sensor por aprender.
void Inicializar_Ventana();
// Al empezar un intervalo: renumera juntos la ventana y los puntos de referencia en uso, de modo
// que el primero de ellos sea el punto 1 del intervalo nuevo.
void Renumerar_Puntos_Intervalo();
// Decodifica una trama buena del sensor (sincronismo en trama[0], clongitud_trama bytes) y, si
// completa una muestra, la pasa por la ventana, el registro de punto y la detección de olas.
void ProcesarTramaBinaria(const uint8_t* trama, uint8_t clongitud_trama);
// Decodificadores: 0 = hecho, 1 = trama demasiado corta (lo escrito antes del fallo se queda).
uint8_t ProcesarTramaShipMotion(const uint8_t* trama, int32_t& TimeStampOut, float& HeaveOut,
                                uint8_t clongitud_trama);  // HeaveOut en cm
uint8_t ProcesarTrama_Navegacion_Posicion_Velocidad(const uint8_t* trama, int32_t& TimeStampOut, float& VNorte,
                                                    float& VEste, uint8_t clongitud_trama);
uint8_t ProcesarTrama_AngulosEuler(const uint8_t* trama, int32_t& TimeStampOut, float& Yawout,
                                   uint8_t clongitud_trama);  // Yawout en grados, 0..360
// Escribe el punto central de la ventana como registro RAW en cbuffer_raw.
void Guardar_Datos_Procesados_RAW();
// Detección de olas sobre la ventana (una vez por ventana completa).
void ProcesarTernaDatos();
// Borra los nueve puntos de referencia de la ola.
void Inicializar_Vectores_Base();
// Empieza el estado de olas de un intervalo nuevo.
void Comenzar_Proceso_Nuevo_Promedio_Olas();

// El resto del análisis de olas y la corrección del reloj, con sus propias cabeceras.
#include "waves/analisis_olas.h"
#include "waves/correccion_reloj.h"

#endif
