// sd_spi.h: el protocolo de la tarjeta SD en modo SPI sobre el bus de hal.h (órdenes, respuestas,
// testigos de datos, esperas de ocupado). Lo usa SdSpiCard (tarjeta_sd.cpp), que guarda el tipo
// de la tarjeta y el error de la última operación.
//
// Cada función devuelve 0 si sale bien o un código SD_ERROR_*, y deja en *pdato lo que contestó
// la tarjeta en el paso que falló (una R1 de 0xFF: no atendió la orden, por ausente o por seguir
// ocupada). Ninguna espera es ilimitada y todas terminan con la tarjeta
// sin seleccionar, así que tras cualquier fallo el siguiente sd_arrancar parte de cero.
#ifndef BOARD_SD_SPI_H
#define BOARD_SD_SPI_H

#include <stdint.h>

// ---- Códigos de error (errorCode) y qué deja cada uno en errorData ----------------------------
#define SD_ERROR_NINGUNO 0x00
#define SD_ERROR_SIN_RESPUESTA 0x01    // nadie contesta a CMD0: no hay tarjeta (dato 0)
#define SD_ERROR_CMD0 0x02             // CMD0 contestada sin pasar a reposo (R1)
#define SD_ERROR_CMD8 0x03             // CMD8 con error de CRC u otro (R1), o eco distinto (el eco)
#define SD_ERROR_ACMD41 0x04           // no sale del reposo en 2 s, o rechaza la orden (último R1)
#define SD_ERROR_CMD58 0x05            // OCR ilegible (R1)
#define SD_ERROR_CMD16 0x06            // bloques de 512 rechazados (R1)
#define SD_ERROR_CMD9 0x07             // CSD: orden rechazada (R1) o sin testigo (el byte leído)
#define SD_ERROR_CSD 0x08              // CSD de versión o tamaño desconocidos (su primer byte)
#define SD_ERROR_CMD17 0x09            // lectura rechazada (R1)
#define SD_ERROR_TESTIGO_LECTURA 0x0A  // sin testigo en 300 ms (0xFF) o testigo de error (el testigo)
#define SD_ERROR_CMD24 0x0B            // escritura rechazada (R1)
#define SD_ERROR_RESPUESTA_DATOS 0x0C  // bloque no aceptado (la respuesta de datos)
#define SD_ERROR_OCUPADA 0x0D          // sigue ocupada pasado su límite (la orden que la ocupó)
#define SD_ERROR_ESTADO 0x0E           // CMD13 tras escribir o borrar señala error (R1 << 8 | R2)
#define SD_ERROR_ACMD23 0x0F           // pre-borrado rechazado (R1)
#define SD_ERROR_CMD25 0x10            // escritura múltiple rechazada (R1)
#define SD_ERROR_SECUENCIA 0x11        // writeData / writeStop sin writeStart
#define SD_ERROR_BORRADO 0x12          // CMD32, CMD33 o CMD38 rechazada (orden << 8 | R1)
#define SD_ERROR_DIRECCION 0x13        // bloque fuera de lo que direcciona una tarjeta SD1/SD2 (el bloque)
#define SD_ERROR_SIN_ARRANCAR 0xFF     // tarjeta sin arrancar o argumentos nulos

// ---- Tipos (los de SD_CARD_TYPE_* de sdfat.h) -----------------------------------------------
#define SD_TIPO_SD1 1   // versión 1: direcciones en bytes
#define SD_TIPO_SD2 2   // versión 2 de capacidad estándar: direcciones en bytes
#define SD_TIPO_SDHC 3  // alta capacidad: direcciones en bloques

#define SD_BYTES_BLOQUE 512u
#define SD_RELOJ_ARRANQUE_HZ 400000u  // hasta acabar el arranque

// Arranque completo: reloj lento, ciclos con la tarjeta sin seleccionar, reposo, versión,
// ACMD41 hasta lista (2 s como mucho), OCR y, al final, el reloj pedido. *ptipo = SD_TIPO_*.
uint8_t sd_arrancar(uint8_t ccs, uint32_t lreloj_hz, uint8_t* ptipo, uint32_t* pdato);
// Registro CSD (16 bytes) y los bloques de 512 que declara (0 si no se entiende).
uint8_t sd_leer_csd(uint8_t* pcsd, uint32_t* pdato);
uint32_t sd_bloques_csd(const uint8_t* pcsd);

uint8_t sd_leer_bloque(uint8_t ctipo, uint32_t lbloque, uint8_t* pdestino, uint32_t* pdato);
uint8_t sd_escribir_bloque(uint8_t ctipo, uint32_t lbloque, const uint8_t* porigen, uint32_t* pdato);
uint8_t sd_borrar(uint8_t ctipo, uint32_t lprimero, uint32_t lultimo, uint32_t* pdato);

// Escritura de varios bloques seguidos: empezar (lcuenta > 1 se anuncia para el pre-borrado),
// un bloque por llamada, parar. Cualquier otra operación cierra antes la que quedara abierta.
uint8_t sd_empezar_escritura_multiple(uint8_t ctipo, uint32_t lbloque, uint32_t lcuenta, uint32_t* pdato);
uint8_t sd_escribir_bloque_multiple(const uint8_t* porigen, uint32_t* pdato);
uint8_t sd_parar_escritura_multiple(uint32_t* pdato);

#endif
