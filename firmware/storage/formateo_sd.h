// formateo_sd.h: el borrado y formateo de la tarjeta SD por orden del host: un MBR y una sola
// partición FAT16 (tarjetas de capacidad estándar) o FAT32 (SDHC) alineada a los bloques de borrado.
#ifndef STORAGE_FORMATEO_SD_H
#define STORAGE_FORMATEO_SD_H

#include <stdint.h>

#include "board/sdfat.h"

#define TAM_ETIQUETA_VOLUMEN 11
#define TAM_NOMBRE_TIPO_FAT 8

extern SdSpiCard card;               // la tarjeta en bruto, sin sistema de ficheros
extern const uint8_t chipSelect;     // pin de selección de la tarjeta para el formateo; 59 (PA13)
extern uint8_t CTE_BORRAR_SD;        // 1 = borrar toda la tarjeta antes de formatear; lo fija el host
extern uint32_t cardSizeBlocks;      // tamaño de la tarjeta; bloques de 512 bytes
extern uint32_t cardCapacityMB;      // (bloques + 2047) / 2048; MB de 2^20 bytes
extern uint8_t sectorsPerCluster;    // bloques por cluster; 2..128
extern uint8_t sectorsPerTrack;      // sectores por pista de la geometría CHS; 32 o 63
extern uint8_t numberOfHeads;        // cabezas de la geometría CHS; 2..255
extern uint32_t relSector;           // primer bloque de la partición
extern uint32_t partSize;            // bloques de la partición
extern uint8_t partType;             // tipo de partición del MBR; 0x01, 0x04, 0x06, 0x0B o 0x0C
extern uint32_t dataStart;           // primer bloque de la zona de datos (cluster 2)
extern uint32_t fatStart;            // primer bloque de la primera FAT
extern uint32_t fatSize;             // bloques de cada FAT
extern uint16_t reservedSectors;     // bloques reservados al principio de la partición
extern uint8_t cache[SD_BLOCK_SIZE];  // bloque que se compone y se escribe
extern const char noName[TAM_ETIQUETA_VOLUMEN + 1];    // etiqueta "NO NAME    "
extern const char fat16str[TAM_NOMBRE_TIPO_FAT + 1];   // "FAT16   "
extern const char fat32str[TAM_NOMBRE_TIPO_FAT + 1];   // "FAT32   "

// Borra (con CTE_BORRAR_SD = 1) y formatea la tarjeta; toda la traza va por cout. 1 = hecho; ante
// un error (sin tarjeta, una tarjeta que no se puede formatear, una escritura que falla) lo anuncia
// y devuelve 0, sin parar el equipo. Cierra antes los ficheros abiertos del registrador. Puede
// llamarse fuera de loop: sin tick no hay límites de tiempo.
extern "C" uint8_t Formatear_SD(void);  // declarada también en board/hal.h

#endif
