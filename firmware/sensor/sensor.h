// sensor.h: la recepción de las ráfagas del sensor inercial y su troceado en tramas sbgECom.
#ifndef SENSOR_SENSOR_H
#define SENSOR_SENSOR_H

#include <stdint.h>

#define TAM_TRAMA_SENSOR_RX 1024

extern uint8_t ctrama_sensor_rx[TAM_TRAMA_SENSOR_RX];  // ráfaga recibida del sensor
extern uint32_t icantidad_bytes_rx_sensor;             // bytes válidos en ctrama_sensor_rx; 0..1024
extern uint8_t cbuffer_sensor_lleno;                   // 1 = la ráfaga desbordó el búfer; 0/1

// Trocea y decodifica la ráfaga recibida (o la reenvía al host en modo transparente).
void procesamos_trama_rx_sensor();

#endif
