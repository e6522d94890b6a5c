// comunicaciones_pc.h: la impresión de números de cifras fijas, el mensaje de bienvenida y los
// búferes de registros de texto (el de tramas al host entre ellos).
#ifndef COMMS_COMUNICACIONES_PC_H
#define COMMS_COMUNICACIONES_PC_H

#include <stdint.h>

#define NUMERO_BUFFERES_REGISTRO 5
// Huecos (índice en ibytes_a_escribir_sd) y capacidad de cada búfer de registro.
#define BUFFER_RAW 0               // registro de punto
#define BUFFER_WAV 1               // registro por ola
#define BUFFER_RES 2               // registro promediado para la tarjeta
#define BUFFER_ZRX03 3             // hueco del búfer de tramas al host
#define BUFFER_PROMEDIO 4          // cuerpo de la última trama promediada
#define TAM_BUFFER_RAW 1024
#define TAM_BUFFER_WAV 248
#define TAM_BUFFER_RES 248
#define TAM_BUFFER_ZRX03 248
#define TAM_BUFFER_PROMEDIO 79
#define NUMERO_MAXIMO_CIFRAS 7
#define NUMERO_MAXIMO_CIFRAS_HEX 8
// Códigos de carácter final de los campos numéricos (otro valor: ese carácter).
#define CARACTER_FINAL_NADA 0
#define CARACTER_FINAL_CRLF 1

extern const uint32_t lvalores_decimales[NUMERO_MAXIMO_CIFRAS];  // potencias de 10, de 1 a 1000000
extern const uint32_t lvalores_hexadecimales[NUMERO_MAXIMO_CIFRAS_HEX];  // potencias de 16, de 0x1 a 0x10000000
extern const char cvalores_ascii[17];                            // cifras "0123456789ABCDEF"
extern uint32_t ibytes_a_escribir_sd[NUMERO_BUFFERES_REGISTRO];  // caracteres en cada búfer de registro; 0..capacidad-1
extern char cbuffer_raw[TAM_BUFFER_RAW];            // registro de punto (hueco 0)
extern char cbuffer_wav[TAM_BUFFER_WAV];            // registro por ola (hueco 1)
extern char cbuffer_res[TAM_BUFFER_RES];            // registro promediado para la tarjeta (hueco 2)
extern char cbuffer_zrx03[TAM_BUFFER_ZRX03];        // trama al host, terminada en NUL (hueco 3)
extern char cbuffer_promedio[TAM_BUFFER_PROMEDIO];  // cuerpo de la última trama "RES," para el host (hueco 4)
extern uint8_t cdatos_tx_zrx03;                     // 1 = cbuffer_zrx03 espera a salir por Serial; 0/1
extern uint8_t ccalculo_checksum_nmea;              // 1 = cada carácter añadido entra en el checksum; otro = no
extern uint8_t cchecksum_nmea_zrx03;                // XOR de lo añadido con el checksum activo

// Imprime laux en Serial1 con cnumero_cifras cifras (1..7, ceros a la izquierda) y el terminador
// ccon_linea: 0 nada, 1 fin de línea, otro valor ese carácter.
void transmito_variable(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccon_linea);
// Mensaje de bienvenida en Serial1 y luego en Serial.
void mensaje_bienvenida();

// ---- Búferes de registro: cada función escribe en el contador de su hueco ctipo y lo avanza.
// Sólo escriben en uno de los cinco búferes, y nunca más allá de su capacidad menos el NUL: lo
// que no cabe se corta (ni se guarda ni entra en el checksum).
void inserto_caracter_buffer(char* pcbuffer, char ccaracter, uint8_t ctipo);
void insertamos_mensaje_buffer(char* pcbuffer, const char* pcmensaje, uint8_t ctipo);
// laux con cnumero_cifras cifras decimales (1..7, ceros a la izquierda) y el carácter final;
// un cociente inicial de 10..15 sale como 'A'..'F' (100 con 2 cifras: "A0"), mayor como '?'.
void insertamos_variable_buffer(char* pcbuffer, uint32_t laux, uint8_t cnumero_cifras, char ccaracter_final,
                                uint8_t ctipo);
// "DD,MM,AA,HH,MM," (la cabecera de fecha de los registros y tramas de olas).
void insertamos_fecha_buffer(char* pcbuffer, uint8_t cdia, uint8_t cmes, uint8_t cano, uint8_t chora,
                             uint8_t cminuto, uint8_t ctipo);
// Lo mismo en hexadecimal en mayúsculas (1..8 cifras).
void insertamos_variable_hex_buffer(char* pcbuffer, uint32_t laux, uint8_t cnumero_cifras, char ccaracter_final,
                                    uint8_t ctipo);
// Signo ('-' o ' ') y la magnitud con "%010.4f" (11 caracteres), y el carácter final; las cifras
// y decimales pedidos no cambian el formato.
void insertamos_variable_float_buffer_v02(char* pcbuffer, float fvalor, uint8_t cnumero_cifras,
                                          uint8_t cnumero_decimales, char ccaracter_final, uint8_t ctipo);
// NUL tras el último carácter (sin contarlo); deja el contador dentro del búfer.
void cierre_registro_buffer(char* pcbuffer, uint8_t ctipo);
// Envía por Serial la trama de cbuffer_zrx03 hasta su NUL y deja cdatos_tx_zrx03 a 0.
void envio_trama_zrx03();
// Trama al host en cbuffer_zrx03 (antes sale la que esperaba, si la hay): '$' y la etiqueta
// (p. ej. "RES,") con el checksum en marcha...
void comienzo_trama_zrx03(const char* pcetiqueta);
// ...y '*', las dos cifras hexadecimales del checksum, CR LF y el NUL.
void cierre_trama_zrx03();
// 1 si pctrama_comparada está en pctrama_comparar desde iinicio; clongitud_comparada 0 = la del
// patrón, otra que no coincida con ella = 0. Nunca lee fuera de un búfer de recepción o registro.
uint8_t comparacion(uint32_t iinicio, const char* pctrama_comparar, const char* pctrama_comparada,
                    uint8_t clongitud_comparada);

#endif
