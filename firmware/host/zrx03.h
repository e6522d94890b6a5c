// zrx03.h: el protocolo de órdenes "$ZRX03" del controlador de la boya: comprobación de la trama,
// lectura de sus campos, las órdenes 1 a 15 y la respuesta "$OLA,".
#ifndef HOST_ZRX03_H
#define HOST_ZRX03_H

#include <stdint.h>

#define TAM_TRAMA_RX_ZRX03 128
#define SILENCIO_TRAMA_HOST_MS 100  // silencio que cierra una trama sin LF
#define MAXIMO_VALOR_CAMPO_ZRX03 9999999u  // 7 cifras: más es una trama mal formada

// Órdenes y subórdenes que existen.
#define COMANDO_CONSULTAS 1
#define PRIMER_COMANDO_AJUSTES 2
#define ULTIMO_COMANDO_AJUSTES 15
#define PRIMERA_SUBORDEN 1
#define ULTIMA_SUBORDEN 21

// Estados de la respuesta.
#define ESTADO_ACEPTADA 1
#define ESTADO_RECHAZADA 33

extern char ctrama_rx_zrx03[TAM_TRAMA_RX_ZRX03];  // ráfaga recibida del host
extern uint8_t ccantidad_bytes_rx_zrx03;          // bytes válidos en ctrama_rx_zrx03; 0..128
extern uint8_t crecibiendo_trama_zrx03;           // 1 = hay una trama a medio recibir; 0/1
extern uint8_t cfin_checksum_zrx03;               // bytes de la trama al acabar su checksum; 0 = sin '*' aún
extern const char m_trama_zrx03[7];               // etiqueta de las órdenes, "$ZRX03"
extern uint8_t creset;                            // 1 = el host pidió reiniciar tras la respuesta; 0/1; sólo en RAM
extern uint8_t CTE_USO_APP_ZRX03;                 // 1 = modo aplicación: líneas "#PTO," y "#OLA," al host; sólo en RAM
extern const uint8_t CTD_TAM_DATOS_SBG;           // bytes de ctrama_sensor_rx que devuelve la suborden 3; 75

// Atiende la ráfaga recibida del host: reenvío en modo transparente, checksum, etiqueta, orden y
// respuesta en cbuffer_zrx03 con cdatos_tx_zrx03 = 1. Lo mal formado o desconocido no se responde.
void procesamos_trama_zrx03();

// ---- Campos de la trama en curso (zrx03.cpp) ----
// 1 si el campo ccampo trae cifras y deja su valor en *plvalor; 0 si está vacío o no existe, y
// entonces *plvalor no cambia.
uint8_t campo_zrx03(uint8_t ccampo, uint32_t* plvalor);

// ---- Respuesta en cbuffer_zrx03 (zrx03.cpp): "$OLA,CC" y luego cada campo con su ',' delante ----
void comienzo_respuesta_zrx03(uint8_t ccomando);
// ',' y lvalor con cnumero_cifras cifras decimales.
void campo_respuesta_zrx03(uint32_t lvalor, uint8_t cnumero_cifras);
// lvalor con cnumero_cifras cifras, pegado a lo anterior.
void cifras_respuesta_zrx03(uint32_t lvalor, uint8_t cnumero_cifras);
// Texto tal cual.
void texto_respuesta_zrx03(const char* pctexto);
// '*', el checksum, CR LF y el NUL; la deja marcada para el envío.
void cierre_respuesta_zrx03();

// ---- Las órdenes: cada una hace lo suyo y compone su respuesta entera ----
// Órdenes 2 a 15 (comandos_config.cpp).
void comandos_configuracion(uint8_t ccomando);
// Orden 1 con la suborden csuborden, 1 a 21 (comandos_estado.cpp).
void comando_consultas(uint8_t csuborden);

#endif
