// fat_formato.h: campos de disco de FAT16/FAT32 y su lectura/escritura byte a byte en
// little-endian (nunca con conversiones de puntero: el Cortex-M0+ no admite accesos desalineados).
// Uso interno del driver FAT de board/.
#ifndef BOARD_FAT_FORMATO_H
#define BOARD_FAT_FORMATO_H

#include <stdint.h>

namespace fat {

inline uint16_t ld_16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ld_32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void st_16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void st_32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Registro de arranque maestro (MBR)
constexpr uint16_t kMbrTabla = 0x1BE;  // cuatro entradas de 16 bytes
constexpr uint16_t kMbrTipo = 4;
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
constexpr uint16_t kSectoresPorFat16 = 22;
constexpr uint16_t kTotalSectores32 = 32;
constexpr uint16_t kSectoresPorFat32 = 36;
constexpr uint16_t kBanderasExt = 40;  // bit 7: sólo una FAT activa (bits 0-3)
constexpr uint16_t kClusterRaiz = 44;
constexpr uint16_t kSectorFsInfo = 48;

// FSInfo
constexpr uint32_t kFsInfoFirma1 = 0x41615252u;  // "RRaA" en el byte 0
constexpr uint32_t kFsInfoFirma2 = 0x61417272u;  // "rrAa" en el byte 484
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
