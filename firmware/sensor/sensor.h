// sensor.h: la recepción de las ráfagas del sensor inercial y su troceado en tramas sbgECom.
#ifndef SENSOR_SENSOR_H
#define SENSOR_SENSOR_H

#include <stdint.h>

#define TAM_TRAMA_SENSOR_RX 1024
#define TAM_TRAMA_PROCESADA 256

// Identificadores de los registros de clase 0 que se aceptan.
#define ID_SBG_EKF_EULER 6
#define ID_SBG_EKF_NAV 8
#define ID_SBG_SHIP_MOTION 9

extern uint8_t ctrama_sensor_rx[TAM_TRAMA_SENSOR_RX];  // ráfaga recibida del sensor
extern uint32_t icantidad_bytes_rx_sensor;             // bytes válidos en ctrama_sensor_rx; 0..1024
extern uint8_t cbuffer_sensor_lleno;                   // 1 = la ráfaga acabó por llenar el búfer; 0/1
extern uint32_t ibytes_arrastrados_sensor;             // bytes de una trama cortada por el búfer lleno, ya al
                                                       // principio de ctrama_sensor_rx para la ráfaga siguiente; 0..255
extern uint8_t ctrama_reciente;                        // 1 = la trama que se decodifica acaba de llegar (no
                                                       // esperaba en el anillo); 0/1
extern uint8_t crafaga_en_vivo;                        // 1 = la ráfaga se leyó según llegaba (el anillo nunca
                                                       // guardaba más de unos 2 ms de bytes); 0/1
extern uint8_t cprocesada[TAM_TRAMA_PROCESADA];        // trama candidata copiada de la ráfaga, sincronismo en 0
extern uint8_t CTE_MODO_TRANSPARENTE;                  // 1 = la ráfaga va tal cual al host (lo fija el host); otro = normal
extern const uint8_t DATA_START;                       // posición de la carga útil dentro de la trama; 6
// Destino de cada trama buena (ProcesarTramaBinaria); las pruebas lo cambian para observar el troceado.
extern void (*pprocesado_trama_sensor)(const uint8_t* trama, uint8_t clongitud_trama);

// Trocea y decodifica la ráfaga recibida (o la reenvía al host en modo transparente).
void procesamos_trama_rx_sensor();
// Posición del siguiente par 0xFF 0x5A desde iposicion; >= icantidad_bytes_rx_sensor si no hay.
uint32_t busqueda_inicio_trama_sensor(uint32_t iposicion);
// Posición de la aparición número cveces_a_encontrar (desde 1) de cdato desde iposicion_inicio en
// pctrama (un búfer de TAM_TRAMA_SENSOR_RX bytes); >= icantidad_bytes_rx_sensor si no está.
uint32_t ibusqueda_dato_frame(const uint8_t* pctrama, uint8_t cdato, uint8_t cveces_a_encontrar,
                              uint32_t iposicion_inicio);
// CRC-16/KERMIT de pBuffer[iposicion_inicio .. bufferSize - 1] (bufferSize es índice final).
uint16_t calcCRC(const uint8_t* pBuffer, uint16_t bufferSize, uint16_t iposicion_inicio);

#endif
