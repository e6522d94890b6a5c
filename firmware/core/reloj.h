// reloj.h: el tick de 1 ms (TCC0), sus cuentas atrás y divisores, el reloj interno UTC y las
// esperas activas. Todo lo que comparte con el bucle es volatile: la interrupción lo cambia.
#ifndef CORE_RELOJ_H
#define CORE_RELOJ_H

#include <stdint.h>

// ---- Cuentas atrás: el usuario pone un valor inicial, el tick resta 1 por periodo hasta 0 ----
extern volatile uint8_t cretardo_en_milisegundos;               // espera de retardo_milisegundos; ms
extern volatile uint8_t ctimeout_rx_zrx03;                      // silencio que cierra una ráfaga del host; ms
extern volatile uint8_t ctimeout_entre_bytes_tramas_gps;        // silencio que cierra una ráfaga del GPS; ms
extern volatile uint8_t ctimeout_rx_sensor;                     // silencio que cierra una ráfaga del sensor; ms
extern volatile uint8_t ctime_out_respuesta_gps_en_10_miliseg;  // espera de respuesta del GPS; decenas de ms
extern volatile uint8_t cretardo_tiempo;                        // espera de retardo_tiempo; décimas de s
extern volatile uint8_t cretardo_encendido_gps;                 // arranque del receptor GPS encendido; décimas de s
extern volatile uint8_t csegundos_retardo_gestion_sd;           // pausa del ciclo de la tarjeta; s
extern volatile uint8_t ctimeout_reset_general;                 // reset general por falta de olas; s (0 = inactivo)
extern volatile uint8_t ctimeout_salir_bucle;                   // límite de los bucles largos de la tarjeta; s

// ---- Divisores del tick (0..9 cada uno) ----
extern volatile uint8_t cacciones_cada_10milisegundos;   // ticks dentro de los 10 ms en curso
extern volatile uint8_t cacciones_cada_100milisegundos;  // pasos de 10 ms dentro de los 100 ms en curso
extern volatile uint8_t cacciones_cada_segundo;          // pasos de 100 ms dentro del segundo en curso

// ---- Otro estado del tick ----
extern volatile int32_t CONT_TIEMPO_MICRO_ACUMULADO;  // pasos de 100 ms para el ajuste del reloj; -1 = parado
extern volatile uint8_t cnivel_jumper;                // nivel aceptado del pin 28 (1 = sin puente); 0/1
extern volatile uint8_t cseguridad_jumper_high;       // lecturas altas seguidas contra el nivel aceptado; 0..10
extern volatile uint8_t cseguridad_jumper_low;        // lecturas bajas seguidas contra el nivel aceptado; 0..10
extern volatile uint8_t cconfiguracion_timer_tcc0_primera_vez;  // 1 = falta conectar el reloj de TCC0

// ---- Reloj interno UTC (0 en todos = sin fecha; cano_utc = 0 = fecha no válida) ----
extern volatile uint8_t cdia_utc;     // día del mes; 1..31
extern volatile uint8_t cmes_utc;     // mes; 1..12 (0 = sin fecha)
extern volatile uint8_t cano_utc;     // año dentro del siglo; 0..99 (100 tras el 31/12/99)
extern volatile uint8_t chora_utc;    // hora; 0..23
extern volatile uint8_t cminuto_utc;  // minuto; 0..59
extern volatile uint8_t csegundo_utc; // segundo; 0..59
extern const uint8_t cmeses[12];      // días de cada mes, enero primero (febrero 28)

// ---- Peticiones que levanta el reloj ----
extern volatile uint8_t cmostramos_hora;               // 1 = el bucle imprime la hora; 0/1
extern volatile uint8_t choras_sin_sincronizacion_gps; // horas desde la última hora GPS; 0..255
extern volatile uint8_t cdia_nuevo_por_guardar;        // 1 = cambió el día y falta guardar el contador de ficheros; 0/1
extern volatile uint8_t creset_falta_de_olas;          // 1 = acabó la cuenta atrás del reinicio por falta de olas; 0/1

// Programa TCC0: interrupción cada match + 1 ciclos (divisor 1, 2, 4, 8, 64, 256 o 1024; otro = 1).
void configureTCC0(uint16_t match, uint16_t ipreescaler);
// El trabajo de cada tick (sólo lo llama TCC0_Handler, declarado en board/hal.h).
void interrupcion_timer_cada_miliseg();
// Paso de minuto, hora y día, cuando los segundos dan la vuelta.
void refrescamos_reloj_interno();
// En el bucle, tras un cambio de día: "Nuevo Directorio" y el contador de ficheros guardado a 0.
void guardar_cambio_de_dia();
#define SEGUNDOS_DIA 86400u
// Pone los seis campos del reloj de una vez, con el tick retenido.
void poner_reloj(uint8_t cano, uint8_t cmes, uint8_t cdia, uint8_t chora, uint8_t cminuto, uint8_t csegundo);
// El reloj leído de una vez, en segundos desde el 1/1 del año 0 del siglo (hasta el año 135).
uint32_t segundos_reloj();
// La fecha del día siguiente en el calendario del reloj (febrero de 29 días los años múltiplos de
// 4; tras el mes 0, sin fecha, viene el 1 de enero).
void dia_siguiente(uint8_t& cano, uint8_t& cmes, uint8_t& cdia);
// Días desde el 1/1 del año 0 del siglo hasta esa fecha del calendario del reloj.
uint32_t dias_desde_2000(uint8_t cano, uint8_t cmes, uint8_t cdia);
// Esperas activas de ctiempo ms / décimas de s (0 cuenta como 1) que alimentan el watchdog.
void retardo_milisegundos(uint8_t ctiempo);
void retardo_tiempo(uint8_t ctiempo);

#endif
