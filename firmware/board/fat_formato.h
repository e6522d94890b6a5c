// fat_formato.h: la disposición en disco de FAT16/FAT32 (MBR, sector de arranque, FSInfo,
// entradas de directorio), una sola descripción para el driver, el formateador y el arranque de la
// tarjeta; los campos se leen y escriben byte a byte en little-endian (board/bytes_le.h).
#ifndef BOARD_FAT_FORMATO_H
#define BOARD_FAT_FORMATO_H

#include <stdint.h>

#include "board/bytes_le.h"

namespace fat {

using ::ld_16;
using ::ld_32;
using ::st_16;
using ::st_32;

// Registro de arranque maestro (MBR)
constexpr uint16_t kMbrTabla = 0x1BE;  // cuatro entradas de 16 bytes
constexpr uint16_t kMbrChsInicio = 1;  // cabeza, sector y cilindro (3 bytes)
constexpr uint16_t kMbrTipo = 4;
constexpr uint16_t kMbrChsFin = 5;
constexpr uint16_t kMbrInicio = 8;
constexpr uint16_t kMbrTamano = 12;
constexpr uint16_t kFirma = 510;  // 0x55 0xAA en MBR, sector de arranque y FSInfo

// Sector de arranque (BPB)
constexpr uint16_t kBytesPorSector = 11;
constexpr uint16_t kSectoresPorCluster = 13;
constexpr uint16_t kSectoresReservados = 14;
constexpr uint16_t kNumFats = 16;
constexpr uint16_t kEntradasRaiz = 17;
constexpr uint16_t kTotalSectores16 = 19;
constexpr uint16_t kMedio = 21;
constexpr uint16_t kSectoresPorFat16 = 22;
constexpr uint16_t kSectoresPorPista = 24;
constexpr uint16_t kCabezas = 26;
constexpr uint16_t kSectoresOcultos = 28;
constexpr uint16_t kTotalSectores32 = 32;
constexpr uint16_t kExtendidoFat16 = 36;  // unidad, firma, serie, etiqueta y tipo
constexpr uint16_t kSectoresPorFat32 = 36;
constexpr uint16_t kBanderasExt = 40;  // bit 7: sólo una FAT activa (bits 0-3)
constexpr uint16_t kVersionFs = 42;
constexpr uint16_t kClusterRaiz = 44;
constexpr uint16_t kSectorFsInfo = 48;
constexpr uint16_t kCopiaArranque = 50;
constexpr uint16_t kExtendidoFat32 = 64;

// FSInfo
constexpr uint32_t kFsInfoFirma1 = 0x41615252u;  // "RRaA" en el byte 0
constexpr uint32_t kFsInfoFirma2 = 0x61417272u;  // "rrAa" en el byte 484
constexpr uint16_t kFsInfoPosFirma2 = 484;
constexpr uint16_t kFsInfoLibres = 488;
constexpr uint16_t kFsInfoSiguiente = 492;

// Entrada de directorio (32 bytes)
constexpr uint8_t kTamEntrada = 32;
constexpr uint8_t kEntradasPorBloque = 16;
constexpr uint8_t kDirNombre = 0;  // 11 bytes: 8 nombre + 3 extensión, con espacios
constexpr uint8_t kDirAtributo = 11;
constexpr uint8_t kDirCaja = 12;  // bits NT de minúsculas
constexpr uint8_t kDirHoraCreacion = 14;
constexpr uint8_t kDirFechaCreacion = 16;
constexpr uint8_t kDirFechaAcceso = 18;
constexpr uint8_t kDirClusterAlto = 20;
constexpr uint8_t kDirHoraEscritura = 22;
constexpr uint8_t kDirFechaEscritura = 24;
constexpr uint8_t kDirClusterBajo = 26;
constexpr uint8_t kDirTamano = 28;

constexpr uint8_t kEntradaLibre = 0x00;  // y todas las siguientes
constexpr uint8_t kEntradaBorrada = 0xE5;
constexpr uint8_t kCajaNombre = 0x08;
constexpr uint8_t kCajaExtension = 0x10;

constexpr uint8_t kAtrSoloLectura = 0x01;
constexpr uint8_t kAtrOculto = 0x02;
constexpr uint8_t kAtrSistema = 0x04;
constexpr uint8_t kAtrEtiqueta = 0x08;
constexpr uint8_t kAtrDirectorio = 0x10;
constexpr uint8_t kAtrArchivo = 0x20;
constexpr uint8_t kAtrNombreLargo = 0x0F;  // las cuatro primeras juntas

}  // namespace fat

#endif
