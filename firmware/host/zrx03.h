// zrx03.h: el protocolo de órdenes "$ZRX03" del controlador de la boya.
#ifndef HOST_ZRX03_H
#define HOST_ZRX03_H

#include <stdint.h>

#define TAM_TRAMA_RX_ZRX03 128

extern char ctrama_rx_zrx03[TAM_TRAMA_RX_ZRX03];  // ráfaga recibida del host
extern uint8_t ccantidad_bytes_rx_zrx03;          // bytes válidos en ctrama_rx_zrx03; 0..128
extern uint8_t creset;                            // 1 = el host pidió reiniciar tras la respuesta; 0/1

// Atiende la ráfaga recibida del host.
void procesamos_trama_zrx03();

#endif
