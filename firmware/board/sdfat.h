// sdfat.h: tarjeta SD por SPI y sistema de ficheros FAT16/FAT32 (interfaz estilo SdFat).
// Todo en memoria estática; los bloques pasan por el protocolo SPI de sd_spi.h. Toda operación
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
// Bloques en la caché del volumen: el de datos de RAW y de WAV, la FAT en uso y el bloque de
// directorio de la entrada de cada uno, sin que ninguno eche a otro mientras se registra.
#define SD_BLOQUES_CACHE 5

// La tarjeta en bruto: bloques de 512 bytes. cardSize() lee el CSD en cada llamada.
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
  // La última operación fallida: SD_ERROR_* de sd_spi.h (0 = ninguna) y lo que contestó la tarjeta.
  uint8_t errorCode() const { return codigo_error_; }
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
        inicio_datos_(0),
        inicio_volumen_(0),
        bloque_fsinfo_(0),
        siguiente_libre_(0),  // init lo pone en 2; todo a cero deja el objeto en .bss
        entradas_raiz_(0),
        num_fats_(0),
        fsinfo_invalido_(0),
        generacion_(0),
        ranura_actual_(0),
        reloj_cache_(0),
        bloque_cache_{},
        uso_cache_{},
        estado_cache_{},
        cache_{} {}
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
  uint8_t fatCount() const { return num_fats_; }
  uint32_t volumeStartBlock() const { return inicio_volumen_; }
  // Escribe en la tarjeta los bloques de la caché con cambios; false si alguna escritura falla.
  bool cacheSync();

 private:
  friend class FatFile;
  friend class SdFat;
  // Caché de SD_BLOQUES_CACHE bloques: leer (si no está, sustituye al usado hace más tiempo,
  // mejor uno sin cambios) o preparar un bloque nuevo sin leerlo (lleno de ceros). null si falla.
  uint8_t* cacheLeer(uint32_t bloque);
  uint8_t* cachePreparar(uint32_t bloque);
  // Marca con cambios el último bloque que devolvieron cacheLeer o cachePreparar.
  void cacheMarcarSucio() { estado_cache_[ranura_actual_] |= 2u; }
  // Escribe ya el último bloque devuelto si tiene cambios.
  bool cacheEscribirActual() { return escribirRanura(ranura_actual_); }
  // Un bloque de datos lleno: se escribe y deja libre su ranura (si la escritura falla, sigue
  // pendiente en ella).
  void cacheSoltarActual() {
    if (escribirRanura(ranura_actual_)) estado_cache_[ranura_actual_] = 0;
  }
  uint8_t buscarRanura(uint32_t bloque) const;
  // El bloque está en la caché con cambios que aún no llegaron a la tarjeta.
  bool cachePendiente(uint32_t bloque) const {
    const uint8_t r = buscarRanura(bloque);
    return r < SD_BLOQUES_CACHE && (estado_cache_[r] & 2u) != 0;
  }
  uint8_t ranuraLibre();
  bool escribirRanura(uint8_t r);
  bool fallo();
  uint8_t* ocuparRanura(uint8_t r, uint32_t bloque);
  bool esBloqueFat(uint32_t b) const { return b >= inicio_fat_ && b < inicio_fat_ + bloques_por_fat_; }
  bool fatLeer(uint32_t cluster, uint32_t* valor);
  bool fatEscribir(uint32_t cluster, uint32_t valor);
  // Reserva un cluster libre (marcado fin de cadena) y lo enlaza tras 'anterior' (0 = ninguno).
  bool reservarCluster(uint32_t anterior, uint32_t* nuevo);
  bool invalidarFsInfo();
  bool clusterValido(uint32_t c) const { return c >= 2 && c <= clusters_ + 1; }
  bool esFinDeCadena(uint32_t v) const;
  uint32_t bloqueDeCluster(uint32_t c) const {
    return inicio_datos_ + (c - 2) * bloques_por_cluster_;
  }

  SdSpiCard* tarjeta_;
  uint8_t tipo_fat_;
  uint8_t bloques_por_cluster_;
  uint32_t clusters_;
  uint32_t inicio_fat_;
  uint32_t bloques_por_fat_;
  uint32_t inicio_raiz_;  // FAT16: primer bloque del directorio raíz; FAT32: su primer cluster
  uint32_t inicio_datos_;
  uint32_t inicio_volumen_;
  uint32_t bloque_fsinfo_;   // 0 = sin FSInfo
  uint32_t siguiente_libre_;  // por dónde seguir buscando clusters libres
  uint16_t entradas_raiz_;   // FAT16: entradas del directorio raíz
  uint8_t num_fats_;         // copias de la FAT que se escriben
  uint8_t fsinfo_invalido_;  // 1 = ya marcado como desconocido en esta sesión
  uint8_t generacion_;       // cambia en cada init: los ficheros de un montaje anterior caducan
  uint8_t ranura_actual_;    // la del último bloque devuelto
  uint32_t reloj_cache_;     // cuenta de accesos: el uso más antiguo sale primero
  uint32_t bloque_cache_[SD_BLOQUES_CACHE];
  uint32_t uso_cache_[SD_BLOQUES_CACHE];
  uint8_t estado_cache_[SD_BLOQUES_CACHE];  // bit 0: válida; bit 1: con cambios
  uint8_t cache_[SD_BLOQUES_CACHE][SD_BLOCK_SIZE];
};

// Un fichero o directorio abierto. Las rutas usan "/" y nombres 8.3; un nombre en minúsculas
// se guarda con los bits de caja NT (0x08 nombre, 0x10 extensión) y se lee tal como se escribió.
// Fechas: las de dateTimeCallback si se ha dado; si no, fijas (1-1-2020 00:00:00).
class FatFile {
 public:
  constexpr FatFile()
      : atributos_(0),
        modo_(0),
        posicion_(0),
        tamano_(0),
        volumen_(nullptr),
        primer_cluster_(0),
        cluster_actual_(0),
        indice_cluster_(0),
        bloque_entrada_(0),
        indice_entrada_(0),
        generacion_(0) {}

  bool openRoot(FatVolume* vol);
  bool exists(const char* path);  // relativo a este directorio
  // Crea el directorio path dentro de parent (con pFlag, también los intermedios que falten).
  // Falla si ya existe. Si sale bien, este objeto queda abierto sobre el directorio nuevo.
  bool mkdir(FatFile* parent, const char* path, bool pFlag = true);
  // Un objeto ya abierto se cierra (y sincroniza) antes de abrir el nuevo.
  bool open(FatFile* dir, const char* path, oflag_t oflag = O_READ);
  bool open(const char* path, oflag_t oflag = O_READ);  // relativo al directorio de trabajo
  bool openNext(FatFile* dir, oflag_t oflag = O_READ);  // siguiente entrada de dir
  bool getName(char* name, size_t size);
  int read();  // siguiente byte o -1
  int read(void* buf, size_t nbyte);
  // Bytes escritos (menos que nbyte si la tarjeta se llena a medias) o -1 si no cupo ninguno.
  int write(const void* buf, size_t nbyte);
  bool seekSet(uint32_t pos);
  void rewind() { seekSet(0); }
  bool sync();
  bool close();
  bool isOpen() const { return atributos_ != 0; }
  bool isDir() const;
  bool isFile() const;
  uint32_t fileSize() const { return tamano_; }
  uint32_t curPosition() const { return posicion_; }
  uint32_t firstCluster() const { return primer_cluster_; }

  // Directorio de trabajo para open(path) y SdFat::open/exists/mkdir.
  static void setCwd(FatFile* dir) { cwd_ = dir; }
  static FatFile* cwd() { return cwd_; }
  // Fecha y hora de las entradas que se crean o modifican, en formato FAT
  // (fecha: (año-1980)<<9 | mes<<5 | día; hora: h<<11 | min<<5 | seg/2). null = fijas.
  static void dateTimeCallback(void (*fn)(uint16_t* fecha, uint16_t* hora)) { fecha_hora_ = fn; }

 private:
  static FatFile* cwd_;
  static void (*fecha_hora_)(uint16_t* fecha, uint16_t* hora);

  static FatFile deEntrada(FatVolume* vol, uint32_t cluster, uint32_t bloque, uint8_t indice);
  bool abrirEntrada(FatVolume* vol, uint32_t bloque, uint8_t indice, const uint8_t* entrada,
                    oflag_t oflag);
  bool buscar(const uint8_t nombre[11], uint8_t* entrada, uint32_t* bloque, uint8_t* indice);
  bool prepararRuta(FatFile* dir, const char* path, FatFile* actual);
  // Un componente de una ruta y lo que su búsqueda en un directorio encontró.
  struct Componente {
    uint8_t nombre[11];
    uint8_t caja;
    uint8_t entrada[32];  // su entrada de directorio
    uint8_t indice;
    uint32_t bloque;
    bool hallado;
  };
  bool buscarComponente(const char* inicio, size_t largo, Componente* c);
  bool crearEntrada(const uint8_t nombre[11], uint8_t caja, uint8_t atributo, uint32_t cluster,
                    uint32_t* bloque, uint8_t* indice);
  bool bloqueDePosicion(uint32_t pos, bool crear, uint32_t* bloque);
  bool clusterDeIndice(uint32_t indice, bool crear, uint32_t* cluster);
  bool comprobarCadena(uint32_t* ultimo);
  bool crearDirectorio(FatFile* padre, const uint8_t nombre[11], uint8_t caja);
  bool truncarACero();
  uint32_t bytesPorCluster() const;
  bool vigente() const;  // abierto y del montaje actual del volumen

  uint8_t atributos_;  // 0 = cerrado
  uint8_t modo_;       // lectura, escritura, añadir, entrada pendiente de actualizar
  uint32_t posicion_;
  uint32_t tamano_;
  FatVolume* volumen_;
  uint32_t primer_cluster_;   // 0 = sin clusters (o raíz FAT16)
  uint32_t cluster_actual_;   // cluster número indice_cluster_ de la cadena (0 = ninguno)
  uint32_t indice_cluster_;
  uint32_t bloque_entrada_;   // bloque de su entrada de directorio (0 = raíz, sin entrada)
  uint8_t indice_entrada_;    // entrada dentro del bloque (0..15)
  uint8_t generacion_;        // la del volumen al abrir
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
  // Sin punteros en la construcción: el objeto entero (con la caché) va a .bss y no ocupa flash.
  constexpr SdFat() : tarjeta_(), volumen_(), trabajo_() {}
  SdFat(const SdFat&) = delete;
  SdFat& operator=(const SdFat&) = delete;

  // Arranca la tarjeta, monta la partición 1 (o la tarjeta entera) y abre la raíz como directorio
  // de trabajo.
  bool begin(uint8_t csPin, uint32_t spiHz = SD_SCK_MHZ(12));
  SdSpiCard* card() { return &tarjeta_; }
  FatVolume* vol() {
    volumen_.tarjeta_ = &tarjeta_;
    return &volumen_;
  }
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
