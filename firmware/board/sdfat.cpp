// sdfat.cpp: tarjeta, volumen y directorio de trabajo juntos. El driver está repartido en
// tarjeta_sd.cpp (la tarjeta en bruto), fat_volumen.cpp (volumen, caché, FAT) y
// fat_fichero.cpp (ficheros y directorios).
#include "board/sdfat.h"

bool SdFat::begin(uint8_t csPin, uint32_t spiHz) {
  trabajo_.close();
  if (!tarjeta_.begin(csPin, spiHz)) return false;
  if (!volumen_.init(&tarjeta_, 1) && !volumen_.init(&tarjeta_, 0)) return false;
  if (!trabajo_.openRoot(&volumen_)) return false;
  FatFile::setCwd(&trabajo_);
  return true;
}

bool SdFat::exists(const char* path) { return trabajo_.exists(path); }

bool SdFat::mkdir(const char* path, bool pFlag) {
  FatFile directorio;
  return directorio.mkdir(&trabajo_, path, pFlag);
}

File SdFat::open(const char* path, oflag_t oflag) {
  File fichero;
  fichero.open(&trabajo_, path, oflag);
  return fichero;
}
