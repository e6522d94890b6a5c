// crc16.h: CRC-16/KERMIT (polinomio 0x1021 reflejado, 0x8408; valor inicial 0; sin XOR final), el
// de las tramas sbgECom y el del registro del almacén de bytes. "123456789" da 0x2189.
#ifndef BOARD_CRC16_H
#define BOARD_CRC16_H

#include <stdint.h>

// CRC de los n bytes de p, siguiendo desde crc (0 para empezar).
uint16_t crc16_kermit(const uint8_t* p, uint32_t n, uint16_t crc = 0);

#endif
