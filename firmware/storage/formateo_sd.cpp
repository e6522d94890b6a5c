// formateo_sd.cpp: borrado rápido y formateo FAT16/FAT32 de la tarjeta en bruto. La traza va por
// cout; un error se anuncia y el formateo se deja (sin parar el equipo: no ganaría nada).
#include "storage/formateo_sd.h"

#include <string.h>

#include "board/fat_formato.h"
#include "board/placa.h"
#include "core/reloj.h"
#include "storage/gestion_sd.h"

SdSpiCard card;
const uint8_t chipSelect = PIN_CS_SD_FORMATEO;
uint8_t CTE_BORRAR_SD = 0;
uint32_t cardSizeBlocks = 0;
uint32_t cardCapacityMB = 0;
uint8_t sectorsPerCluster = 0;
uint8_t sectorsPerTrack = 0;
uint8_t numberOfHeads = 0;
uint32_t relSector = 0;
uint32_t partSize = 0;
uint8_t partType = 0;
uint32_t dataStart = 0;
uint32_t fatStart = 0;
uint32_t fatSize = 0;
uint16_t reservedSectors = 0;
uint8_t cache[SD_BLOCK_SIZE];
const char noName[TAM_ETIQUETA_VOLUMEN + 1] = "NO NAME    ";
const char fat16str[TAM_NOMBRE_TIPO_FAT + 1] = "FAT16   ";
const char fat32str[TAM_NOMBRE_TIPO_FAT + 1] = "FAT32   ";

static_assert(sizeof(cardSizeBlocks) == 4 && sizeof(relSector) == 4 && sizeof(reservedSectors) == 2,
              "anchos de los campos del disco");

#define SEGUNDOS_BORRADO 44
#define SEGUNDOS_FORMATEO 120
#define BLOQUES_POR_BORRADO 262144u   // bloques de cada orden de borrado
#define BORRADOS_POR_LINEA 32
#define BLOQUES_ALINEACION_FAT16 128u  // bloques de borrado de una tarjeta estándar
#define BLOQUES_ALINEACION_FAT32 8192u  // 4 MB: unidad de asignación de una SDHC
#define ENTRADAS_RAIZ_FAT16 512u
#define BLOQUES_RAIZ_FAT16 32u
#define CLUSTERS_MINIMOS_FAT16 4085u
#define CLUSTERS_MAXIMOS_FAT16 65524u
#define CLUSTERS_MINIMOS_FAT32 65525u
#define BLOQUES_POR_CLUSTER_MAXIMOS 128u  // 64 KB
#define BLOQUES_MAXIMOS_TIPO_0B 16450560u  // fin de partición que aún alcanza la geometría CHS
#define CILINDRO_MAXIMO_CHS 1023u
#define MEDIO_DISCO_FIJO 0xF8u

using namespace fat;

// ---- Errores: se anuncian y el formateo se deja; siempre false ----
static bool sdErrorHalt() {
  if (card.errorCode() != 0) {
    cout << "SD error: " << hex << int(card.errorCode()) << ',' << card.errorData() << dec << endl;
  }
  cout.flush();
  return false;
}

static bool sdError(const char* pcmensaje) {
  cout << "error: " << pcmensaje << endl;
  return sdErrorHalt();
}

// ---- Bloques ----
static void clearCache(bool addSignature) {
  memset(cache, 0, sizeof cache);
  if (addSignature) {
    cache[kFirma] = 0x55;
    cache[kFirma + 1] = 0xAA;
  }
}

static bool writeCache(uint32_t block) { return card.writeBlock(block, cache); }

// Ceros en count bloques desde first, en una sola escritura de varios bloques.
static bool clearFatDir(uint32_t first, uint32_t count) {
  clearCache(false);
  if (!card.writeStart(first, count)) return sdError("Clear FAT/DIR writeStart failed");
  ctimeout_salir_bucle = SEGUNDOS_FORMATEO;
  for (uint32_t i = 0; i < count; i++) {
    if (ctimeout_salir_bucle == 0) break;
    sodaq_wdt_reset();
    if ((i & 0xFFu) == 0) cout << '.';
    if (!card.writeData(cache)) {
      card.writeStop();
      return sdError("Clear FAT/DIR writeData failed");
    }
  }
  cout << endl;
  // También al agotarse el tiempo: una escritura múltiple sin cerrar deja la tarjeta sin atender
  // a las órdenes siguientes.
  if (!card.writeStop()) return sdError("Clear FAT/DIR writeStop failed");
  return true;
}

// ---- Geometría CHS del MBR ----
static uint16_t lbnToCylinder(uint32_t lbn) {
  return uint16_t(lbn / (uint32_t(numberOfHeads) * sectorsPerTrack));
}
static uint8_t lbnToHead(uint32_t lbn) {
  return uint8_t((lbn % (uint32_t(numberOfHeads) * sectorsPerTrack)) / sectorsPerTrack);
}
static uint8_t lbnToSector(uint32_t lbn) { return uint8_t(lbn % sectorsPerTrack + 1); }

static uint32_t volSerialNumber() { return (cardSizeBlocks << 8) + micros(); }

static bool initSizes() {
  if (cardCapacityMB <= 6) {
    return sdError("Card is too small.");
  } else if (cardCapacityMB <= 16) {
    sectorsPerCluster = 2;
    numberOfHeads = 2;
  } else if (cardCapacityMB <= 32) {
    sectorsPerCluster = 4;
    numberOfHeads = 4;
  } else if (cardCapacityMB <= 64) {
    sectorsPerCluster = 8;
    numberOfHeads = 8;
  } else if (cardCapacityMB <= 128) {
    sectorsPerCluster = 16;
    numberOfHeads = 8;
  } else if (cardCapacityMB <= 504) {
    sectorsPerCluster = 32;
    numberOfHeads = 16;
  } else if (cardCapacityMB <= 1008) {
    sectorsPerCluster = 32;
    numberOfHeads = 32;
  } else if (cardCapacityMB <= 1024) {
    sectorsPerCluster = 32;
    numberOfHeads = 64;
  } else if (cardCapacityMB <= 2016) {
    sectorsPerCluster = 64;
    numberOfHeads = 64;
  } else if (cardCapacityMB <= 4032) {
    sectorsPerCluster = 64;
    numberOfHeads = 128;
  } else if (cardCapacityMB <= 32768) {
    sectorsPerCluster = 64;
    numberOfHeads = 255;
  } else {
    sectorsPerCluster = 128;
    numberOfHeads = 255;
  }
  sectorsPerTrack = cardCapacityMB <= 256 ? 32 : 63;
  cout << "Blocks/Cluster: " << int(sectorsPerCluster) << endl;
  return true;
}

// Inicio o fin de la partición en CHS (cabeza, sector con los 2 bits altos del cilindro, cilindro).
static void escribir_chs(uint8_t* p, uint32_t lbn) {
  uint16_t icilindro = lbnToCylinder(lbn);
  p[0] = lbnToHead(lbn);
  p[1] = uint8_t(((icilindro >> 2) & 0xC0u) | lbnToSector(lbn));
  p[2] = uint8_t(icilindro);
}

static bool writeMbr() {
  clearCache(true);
  uint8_t* p = &cache[kMbrTabla];
  p[0] = 0;  // no arrancable
  if (lbnToCylinder(relSector) > CILINDRO_MAXIMO_CHS) return sdError("MBR CHS");
  escribir_chs(p + kMbrChsInicio, relSector);
  p[kMbrTipo] = partType;
  uint32_t ifin = relSector + partSize - 1;
  if (lbnToCylinder(ifin) <= CILINDRO_MAXIMO_CHS) {
    escribir_chs(p + kMbrChsFin, ifin);
  } else {
    p[kMbrChsFin] = 0xFE;
    p[kMbrChsFin + 1] = 0xFF;
    p[kMbrChsFin + 2] = 0xFF;
  }
  st_32(p + kMbrInicio, relSector);
  st_32(p + kMbrTamano, partSize);
  if (!writeCache(0)) return sdError("write MBR");
  return true;
}

// Los campos comunes del sector de arranque (hasta el total de 32 bits) en cache.
static void sector_arranque_comun(uint16_t ientradas_raiz, uint16_t ibloques_fat16) {
  clearCache(true);
  cache[0] = 0xEB;
  cache[1] = 0x00;
  cache[2] = 0x90;
  memset(&cache[3], ' ', 8);  // OEM
  st_16(&cache[kBytesPorSector], SD_BLOCK_SIZE);
  cache[kSectoresPorCluster] = sectorsPerCluster;
  st_16(&cache[kSectoresReservados], reservedSectors);
  cache[kNumFats] = 2;
  st_16(&cache[kEntradasRaiz], ientradas_raiz);
  st_16(&cache[kTotalSectores16], 0);
  cache[kMedio] = MEDIO_DISCO_FIJO;
  st_16(&cache[kSectoresPorFat16], ibloques_fat16);
  st_16(&cache[kSectoresPorPista], sectorsPerTrack);
  st_16(&cache[kCabezas], numberOfHeads);
  st_32(&cache[kSectoresOcultos], relSector);
  st_32(&cache[kTotalSectores32], partSize);
}

// Unidad, firma extendida, número de serie, etiqueta y tipo, desde p (36 en FAT16, 64 en FAT32).
static void sector_arranque_extendido(uint8_t* p, const char* pctipo) {
  p[0] = 0x80;
  p[1] = 0;
  p[2] = 0x29;
  st_32(p + 3, volSerialNumber());
  memcpy(p + 7, noName, TAM_ETIQUETA_VOLUMEN);
  memcpy(p + 18, pctipo, TAM_NOMBRE_TIPO_FAT);
}

// Disposición FAT16 con los bloques por cluster en vigor; false si el número de clusters no cabe.
static bool disposicion_fat16(uint32_t* nc) {
  for (dataStart = 2 * BLOQUES_ALINEACION_FAT16;; dataStart += BLOQUES_ALINEACION_FAT16) {
    sodaq_wdt_reset();
    // Sin sitio para los datos no hay cuenta que valga (y la resta no debe dar la vuelta).
    if (dataStart >= cardSizeBlocks) return false;
    *nc = (cardSizeBlocks - dataStart) / sectorsPerCluster;
    fatSize = (*nc + 2 + 255) / 256;
    if (dataStart >= 2 * fatSize + BLOQUES_ALINEACION_FAT16 + 1 + BLOQUES_RAIZ_FAT16) break;
  }
  relSector = dataStart - 2 * fatSize - 1 - BLOQUES_RAIZ_FAT16;
  return *nc >= CLUSTERS_MINIMOS_FAT16 && *nc <= CLUSTERS_MAXIMOS_FAT16;
}

static bool makeFat16() {
  uint32_t nc = 0;
  // Una tarjeta estándar de 2017 a 2048 MB da demasiados clusters de 32 KB para FAT16: con el
  // doble de grandes cabe.
  bool bcabe = disposicion_fat16(&nc);
  if (!bcabe && nc > CLUSTERS_MAXIMOS_FAT16 && sectorsPerCluster < BLOQUES_POR_CLUSTER_MAXIMOS) {
    sectorsPerCluster = uint8_t(sectorsPerCluster * 2);
    cout << "Blocks/Cluster: " << int(sectorsPerCluster) << endl;
    bcabe = disposicion_fat16(&nc);
  }
  if (!bcabe) return sdError("Bad cluster count");
  reservedSectors = 1;
  fatStart = relSector + reservedSectors;
  partSize = nc * sectorsPerCluster + 2 * fatSize + reservedSectors + BLOQUES_RAIZ_FAT16;
  if (partSize < 32680) {
    partType = 0x01;
  } else if (partSize < 65536) {
    partType = 0x04;
  } else {
    partType = 0x06;
  }
  if (!writeMbr()) return false;
  sodaq_wdt_reset();

  sector_arranque_comun(ENTRADAS_RAIZ_FAT16, uint16_t(fatSize));
  sector_arranque_extendido(&cache[kExtendidoFat16], fat16str);
  if (!writeCache(relSector)) return sdError("FAT16 write PBS failed");
  sodaq_wdt_reset();

  if (!clearFatDir(fatStart, dataStart - fatStart)) return false;
  clearCache(false);
  cache[0] = MEDIO_DISCO_FIJO;
  cache[1] = 0xFF;
  cache[2] = 0xFF;
  cache[3] = 0xFF;
  if (!writeCache(fatStart) || !writeCache(fatStart + fatSize)) return sdError("FAT16 reserve failed");
  return true;
}

// Disposición FAT32 con los bloques por cluster en vigor; false si el número de clusters no cabe.
static bool disposicion_fat32(uint32_t* nc) {
  relSector = BLOQUES_ALINEACION_FAT32;
  for (dataStart = 2 * BLOQUES_ALINEACION_FAT32;; dataStart += BLOQUES_ALINEACION_FAT32) {
    sodaq_wdt_reset();
    if (dataStart >= cardSizeBlocks) return false;
    *nc = (cardSizeBlocks - dataStart) / sectorsPerCluster;
    fatSize = (*nc + 2 + 127) / 128;
    if (dataStart >= relSector + 9 + 2 * fatSize) break;
  }
  return *nc >= CLUSTERS_MINIMOS_FAT32;
}

static bool makeFat32() {
  uint32_t nc = 0;
  // Una SDHC de poco más de 2 GB da pocos clusters de 32 KB para FAT32: con la mitad caben.
  bool bcabe = disposicion_fat32(&nc);
  while (!bcabe && dataStart < cardSizeBlocks && sectorsPerCluster > 1) {
    sectorsPerCluster = uint8_t(sectorsPerCluster / 2);
    cout << "Blocks/Cluster: " << int(sectorsPerCluster) << endl;
    bcabe = disposicion_fat32(&nc);
  }
  if (!bcabe) return sdError("Bad cluster count");
  reservedSectors = uint16_t(dataStart - relSector - 2 * fatSize);
  fatStart = relSector + reservedSectors;
  partSize = nc * sectorsPerCluster + dataStart - relSector;
  partType = (relSector + partSize <= BLOQUES_MAXIMOS_TIPO_0B) ? 0x0B : 0x0C;
  if (!writeMbr()) return false;
  sodaq_wdt_reset();

  sector_arranque_comun(0, 0);
  st_32(&cache[kSectoresPorFat32], fatSize);
  st_16(&cache[kBanderasExt], 0);  // FAT reflejadas
  st_16(&cache[kVersionFs], 0);
  st_32(&cache[kClusterRaiz], 2);
  st_16(&cache[kSectorFsInfo], 1);
  st_16(&cache[kCopiaArranque], 6);
  sector_arranque_extendido(&cache[kExtendidoFat32], fat32str);
  if (!writeCache(relSector) || !writeCache(relSector + 6)) return sdError("FAT32 write PBS failed");
  sodaq_wdt_reset();

  clearCache(true);
  if (!writeCache(relSector + 2) || !writeCache(relSector + 8)) return sdError("FAT32 PBS ext failed");

  clearCache(true);
  st_32(&cache[0], kFsInfoFirma1);
  st_32(&cache[kFsInfoPosFirma2], kFsInfoFirma2);
  st_32(&cache[kFsInfoLibres], 0xFFFFFFFFu);     // desconocido
  st_32(&cache[kFsInfoSiguiente], 0xFFFFFFFFu);  // desconocido
  if (!writeCache(relSector + 1) || !writeCache(relSector + 7)) return sdError("FAT32 FSINFO failed");
  sodaq_wdt_reset();

  if (!clearFatDir(fatStart, 2 * fatSize + sectorsPerCluster)) return false;
  clearCache(false);
  st_32(&cache[0], 0x0FFFFFF8u);
  st_32(&cache[4], 0x0FFFFFFFu);
  st_32(&cache[8], 0x0FFFFFFFu);  // el directorio raíz ocupa el cluster 2
  if (!writeCache(fatStart) || !writeCache(fatStart + fatSize)) return sdError("FAT32 reserve failed");
  return true;
}

static bool eraseCard() {
  cout << "Erasing\n";
  ctimeout_salir_bucle = SEGUNDOS_BORRADO;
  uint32_t ifirst = 0;
  uint8_t cpuntos = 0;
  do {
    if (ctimeout_salir_bucle == 0) break;
    sodaq_wdt_reset();
    uint32_t ilast = ifirst + BLOQUES_POR_BORRADO - 1;
    if (ilast >= cardSizeBlocks || ilast < ifirst) ilast = cardSizeBlocks - 1;
    if (!card.erase(ifirst, ilast)) return sdError("erase failed");
    cout << '.';
    if (++cpuntos % BORRADOS_POR_LINEA == 0) cout << endl;
    ifirst = ilast + 1;
  } while (ifirst != 0 && ifirst < cardSizeBlocks);
  if (cpuntos % BORRADOS_POR_LINEA != 0) cout << endl;
  if (!card.readBlock(0, cache)) return sdError("readBlock");
  // "0x" y dos cifras: 0x00 en la mayoría de tarjetas, 0xFF en otras.
  cout << "All data set to 0x" << hex << uppercase << setfill('0') << setw(2) << int(cache[0]);
  cout << dec << nouppercase << setfill(' ') << endl;
  cout << "Erase done\n";
  return true;
}

static bool formatCard() {
  cout << "Formatting\n";
  if (!initSizes()) return false;
  bool bhecho;
  if (card.type() == SD_CARD_TYPE_SDHC) {
    cout << "FAT32\n";
    bhecho = makeFat32();
  } else {
    cout << "FAT16\n";
    bhecho = makeFat16();
  }
  if (bhecho) cout << "Format done\n";
  return bhecho;
}

uint8_t Formatear_SD() {
  // Los ficheros del registrador se guardan antes: nada de su caché debe caer luego en la tarjeta
  // recién formateada.
  cerrar_ficheros_sd();

  delay(10);
  while (Serial.available() > 0) {
    sodaq_wdt_reset();
    Serial.read();
  }

  cout << "\nFormateo de la tarjeta SD.\n"
          "El borrado usa la orden de borrado rápido de la propia tarjeta.\n"
          "Las tarjetas de más de 2 GB quedan en FAT32; las demás, en FAT16.\n"
          "Se perderán todos los datos de la tarjeta.\n\n";

  if (!card.begin(chipSelect, SD_SCK_MHZ(12))) {
    cout << "\nSD initialization failure!\n"
            "Is the SD card inserted correctly?\n"
            "Is chip select correct at the top of this program?\n";
    sdError("card.begin failed");
    return 0;
  }
  cardSizeBlocks = card.cardSize();
  if (cardSizeBlocks == 0) {
    sdError("cardSize");
    return 0;
  }
  cardCapacityMB = cardSizeBlocks / 2048 + (cardSizeBlocks % 2048 != 0 ? 1 : 0);
  cout << "Card Size: " << double(cardCapacityMB) * 1.048576 << " MB, (MB = 1,000,000 bytes)" << endl;

  if (CTE_BORRAR_SD == 1 && !eraseCard()) return 0;
  return formatCard() ? 1 : 0;
}
