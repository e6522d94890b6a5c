// zrx03.cpp: las órdenes "$ZRX03" del controlador de la boya y sus respuestas.
#include "host/zrx03.h"

char ctrama_rx_zrx03[TAM_TRAMA_RX_ZRX03];
uint8_t ccantidad_bytes_rx_zrx03 = 0;
uint8_t creset = 0;

void procesamos_trama_zrx03() {}
