// modulo_gps.cpp: el paso del GPS en el bucle principal.
#include "gps/modulo_gps.h"

#include "comms/comunicaciones_pc.h"

char ctrama_rx_gps[TAM_TRAMA_RX_GPS];
uint32_t ibytes_recibidos_trama_gps = 0;
volatile uint8_t cpeticion_nueva_hora = 0;
uint8_t cfecha_capturada = 0;
uint8_t cgps_configurado = 0;
volatile uint8_t cestado_gps = 1;

void paso_gps() {
  // Sin hora pedida, o con una trama al host esperando, el receptor se apaga; la pasada
  // siguiente lo vuelve a encender y configurar si sigue haciendo falta.
  if (cpeticion_nueva_hora == 0 || cdatos_tx_zrx03 != 0) {
    cgps_configurado = 0;
    cestado_gps = 1;
    return;
  }
}
