// sdfat.h: tarjeta SD por SPI y sistema de ficheros FAT16/FAT32 (interfaz estilo SdFat).
// Todo en memoria estática; los bloques pasan por las funciones hal_sd_*. Toda operación
// devuelve false / 0 / -1 si falla y nunca detiene el firmware.
// Los objetos globales (miSD, card, ficheros) los define el módulo que los usa.
#ifndef BOARD_SDFAT_H
#define BOARD_SDFAT_H

#include <stddef.h>
#include <stdint.h>

// ---- Modos de apertura (codificación propia de la placa, no la del sistema anfitrión) ------
typedef uint16_t oflag_t;
#define O_READ 0
#define O_RDONLY 0
#define O_WRONLY 1
#define O_WRITE O_WRONLY
#define O_RDWR 2
#define O_ACCMODE 3
#define O_APPEND 0x08
#define O_CREAT 0x200
#define O_TRUNC 0x400
#define O_EXCL 0x800
#define FILE_READ O_RDONLY
#define FILE_WRITE (O_RDWR | O_CREAT | O_APPEND)

// ---- Reloj SPI y tipos de tarjeta ------------------------------------------------------------
#define SD_SCK_HZ(hz) (static_cast<uint32_t>(hz))
#define SD_SCK_MHZ(mhz) (static_cast<uint32_t>(mhz) * 1000000u)
#define SD_CARD_TYPE_SD1 1
#define SD_CARD_TYPE_SD2 2
#define SD_CARD_TYPE_SDHC 3

#define SD_BLOCK_SIZE 512u

// La tarjeta en bruto: bloques de 512 bytes.
class SdSpiCard {
 public:
  constexpr SdSpiCard() : tipo_(0), codigo_error_(0), dato_error_(0) {}
  bool begin(uint8_t csPin, uint32_t spiHz = SD_SCK_MHZ(12));
  uint32_t cardSize();  // bloques; 0 si no hay tarjeta
  bool erase(uint32_t firstBlock, uint32_t lastBlock);
  bool readBlock(uint32_t block, uint8_t* dst);
  bool writeBlock(uint32_t block, const uint8_t* src);
  // Escritura de varios bloques seguidos: writeStart, un writeData por bloque, writeStop.
  bool writeStart(uint32_t block, uint32_t eraseCount);
  bool writeData(const uint8_t* src);
  bool writeStop();
  uint8_t errorCode() const { return codigo_error_; }  // 0 = sin error
  uint32_t errorData() const { return dato_error_; }
  uint8_t type() const { return tipo_; }  // SD_CARD_TYPE_*; 0 sin tarjeta

 private:
  uint8_t tipo_;
  uint8_t codigo_error_;
  uint32_t dato_error_;
};

// Un volumen FAT en una partición de la tarjeta (0 = la tarjeta entera sin tabla de particiones).
class FatVolume {
 public:
  constexpr FatVolume()
      : tarjeta_(nullptr),
        tipo_fat_(0),
        bloques_por_cluster_(0),
        clusters_(0),
        inicio_fat_(0),
        bloques_por_fat_(0),
        inicio_raiz_(0),
        inicio_datos_(0) {}
  constexpr explicit FatVolume(SdSpiCard* tarjeta) : FatVolume() { tarjeta_ = tarjeta; }

  bool init(SdSpiCard* card, uint8_t part);
  bool init(uint8_t part);  // con la tarjeta ya asociada (init anterior o SdFat)
  uint8_t fatType() const { return tipo_fat_; }  // 12, 16, 32; 0 sin volumen
  uint32_t clusterCount() const { return clusters_; }  // el último cluster es clusterCount() + 1
  uint8_t blocksPerCluster() const { return bloques_por_cluster_; }
  uint32_t fatStartBlock() const { return inicio_fat_; }
  uint32_t blocksPerFat() const { return bloques_por_fat_; }
  uint32_t rootDirStart() const { return inicio_raiz_; }
  uint32_t dataStartBlock() const { return inicio_datos_; }
  int32_t freeClusterCount();  // recorre toda la FAT; -1 si falla
  // Un bloque de la FAT (número absoluto en la tarjeta) leído a través de la caché; null si falla.
  const uint8_t* cacheFatBlock(uint32_t block);
  SdSpiCard* card() const { return tarjeta_; }

 private:
  SdSpiCard* tarjeta_;
  uint8_t tipo_fat_;
  uint8_t bloques_por_cluster_;
  uint32_t clusters_;
  uint32_t inicio_fat_;
  uint32_t bloques_por_fat_;
  uint32_t inicio_raiz_;  // FAT16: primer bloque del directorio raíz; FAT32: su primer cluster
  uint32_t inicio_datos_;
  // El driver FAT añadirá aquí su caché de un bloque.
};

// Un fichero o directorio abierto. Las rutas usan "/" y nombres 8.3.
class FatFile {
 public:
  constexpr FatFile()
      : atributos_(0), modo_(0), posicion_(0), tamano_(0) {}

  bool openRoot(FatVolume* vol);
  bool exists(const char* path);  // relativo a este directorio
  // Crea el directorio path dentro de parent (con pFlag, también los intermedios que falten).
  bool mkdir(FatFile* parent, const char* path, bool pFlag = true);
  bool open(FatFile* dir, const char* path, oflag_t oflag = O_READ);
  bool open(const char* path, oflag_t oflag = O_READ);  // relativo al directorio de trabajo
  bool openNext(FatFile* dir, oflag_t oflag = O_READ);  // siguiente entrada de dir
  bool getName(char* name, size_t size);
  int read();  // siguiente byte o -1
  int read(void* buf, size_t nbyte);
  int write(const void* buf, size_t nbyte);  // bytes escritos o -1
  bool seekSet(uint32_t pos);
  void rewind() { seekSet(0); }
  bool sync();
  bool close();
  bool isOpen() const { return atributos_ != 0; }
  bool isDir() const;
  bool isFile() const;
  uint32_t fileSize() const { return tamano_; }
  uint32_t curPosition() const { return posicion_; }

  // Directorio de trabajo para open(path) y SdFat::open/exists/mkdir.
  static void setCwd(FatFile* dir) { cwd_ = dir; }
  static FatFile* cwd() { return cwd_; }

 private:
  static FatFile* cwd_;
  uint8_t atributos_;  // 0 = cerrado
  uint8_t modo_;       // lectura, escritura, añadir
  uint32_t posicion_;
  uint32_t tamano_;
  // El driver FAT añadirá aquí su volumen, clusters y la posición de la entrada de directorio.
};

// Fichero de datos tal como lo usan los módulos (ffichero_raw...).
class File : public FatFile {
 public:
  constexpr File() : FatFile() {}
  explicit operator bool() const { return isOpen(); }
};

// Tarjeta, volumen y directorio de trabajo juntos.
class SdFat {
 public:
  constexpr SdFat() : tarjeta_(), volumen_(&tarjeta_), trabajo_() {}
  SdFat(const SdFat&) = delete;
  SdFat& operator=(const SdFat&) = delete;

  // Arranca la tarjeta, monta la partición 1 (o la tarjeta entera) y abre la raíz como directorio
  // de trabajo.
  bool begin(uint8_t csPin, uint32_t spiHz = SD_SCK_MHZ(12));
  SdSpiCard* card() { return &tarjeta_; }
  FatVolume* vol() { return &volumen_; }
  FatFile* vwd() { return &trabajo_; }  // directorio de trabajo
  bool exists(const char* path);
  bool mkdir(const char* path, bool pFlag = true);
  File open(const char* path, oflag_t oflag = O_READ);

 private:
  SdSpiCard tarjeta_;
  FatVolume volumen_;
  FatFile trabajo_;
};

#endif
