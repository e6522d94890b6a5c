// modulo_gps.h: el receptor GPS: encendido, configuración, lectura de sentencias NMEA y captura
// de la hora.
#ifndef GPS_MODULO_GPS_H
#define GPS_MODULO_GPS_H

#include <stdint.h>

#define TAM_TRAMA_RX_GPS 256

extern char ctrama_rx_gps[TAM_TRAMA_RX_GPS];    // ráfaga recibida del GPS
extern uint32_t ibytes_recibidos_trama_gps;     // bytes válidos en ctrama_rx_gps; 0..256
extern volatile uint8_t cpeticion_nueva_hora;   // 1 = se quiere una hora GPS; 0/1
extern uint8_t cfecha_capturada;                // 1 = el GPS ya dio fecha desde el arranque; 0/1
extern uint8_t cgps_configurado;                // 1 = receptor encendido y configurado; 0/1
extern volatile uint8_t cestado_gps;            // 0 = receptor encendido (pin 17 bajo), otro = apagado

// El paso del GPS en cada pasada del bucle.
void paso_gps();

#endif
