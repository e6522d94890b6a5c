// comunicaciones_pc.h: la impresión de números de cifras fijas, el mensaje de bienvenida y los
// búferes de registros de texto (el de tramas al host entre ellos).
#ifndef COMMS_COMUNICACIONES_PC_H
#define COMMS_COMUNICACIONES_PC_H

#include <stdint.h>

#define NUMERO_BUFFERES_REGISTRO 5
#define BUFFER_ZRX03 3             // hueco del búfer de tramas al host
#define TAM_BUFFER_ZRX03 248
#define NUMERO_MAXIMO_CIFRAS 7

extern const uint32_t lvalores_decimales[NUMERO_MAXIMO_CIFRAS];  // potencias de 10, de 1 a 1000000
extern uint32_t ibytes_a_escribir_sd[NUMERO_BUFFERES_REGISTRO];  // caracteres en cada búfer de registro; 0..1024
extern char cbuffer_zrx03[TAM_BUFFER_ZRX03];  // trama al host, terminada en NUL
extern uint8_t cdatos_tx_zrx03;               // 1 = cbuffer_zrx03 espera a salir por Serial; 0/1

// Imprime laux en Serial1 con cnumero_cifras cifras (1..7, ceros a la izquierda) y el terminador
// ccon_linea: 0 nada, 1 fin de línea, otro valor ese carácter.
void transmito_variable(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccon_linea);
// Mensaje de bienvenida en Serial1 y luego en Serial.
void mensaje_bienvenida();

#endif
