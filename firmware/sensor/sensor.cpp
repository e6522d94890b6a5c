// sensor.cpp: recepción de las ráfagas del sensor inercial y su troceado en tramas.
#include "sensor/sensor.h"

uint8_t ctrama_sensor_rx[TAM_TRAMA_SENSOR_RX];
uint32_t icantidad_bytes_rx_sensor = 0;
uint8_t cbuffer_sensor_lleno = 0;

void procesamos_trama_rx_sensor() {}
