// sdfat.cpp: de momento sin tarjeta: cada operación responde como ante una tarjeta ausente
// (false / 0 / -1), así el resto del firmware ya sigue sus caminos de fallo.
#include "board/sdfat.h"

FatFile* FatFile::cwd_ = nullptr;

namespace {
// Atributos internos de un FatFile abierto (0 = cerrado).
constexpr uint8_t kAtributoFichero = 0x01;
constexpr uint8_t kAtributoDirectorio = 0x02;
}  // namespace

// ---- SdSpiCard ------------------------------------------------------------------------------

bool SdSpiCard::begin(uint8_t, uint32_t) {
  tipo_ = 0;
  return false;
}
uint32_t SdSpiCard::cardSize() { return 0; }
bool SdSpiCard::erase(uint32_t, uint32_t) { return false; }
bool SdSpiCard::readBlock(uint32_t, uint8_t*) { return false; }
bool SdSpiCard::writeBlock(uint32_t, const uint8_t*) { return false; }
bool SdSpiCard::writeStart(uint32_t, uint32_t) { return false; }
bool SdSpiCard::writeData(const uint8_t*) { return false; }
bool SdSpiCard::writeStop() { return false; }

// ---- FatVolume ------------------------------------------------------------------------------

bool FatVolume::init(SdSpiCard* card, uint8_t part) {
  tarjeta_ = card;
  return init(part);
}

bool FatVolume::init(uint8_t) {
  tipo_fat_ = 0;
  clusters_ = 0;
  bloques_por_cluster_ = 0;
  return false;
}

int32_t FatVolume::freeClusterCount() { return -1; }

const uint8_t* FatVolume::cacheFatBlock(uint32_t) { return nullptr; }

// ---- FatFile --------------------------------------------------------------------------------

bool FatFile::openRoot(FatVolume*) { return false; }
bool FatFile::exists(const char*) { return false; }
bool FatFile::mkdir(FatFile*, const char*, bool) { return false; }
bool FatFile::open(FatFile*, const char*, oflag_t) { return false; }
bool FatFile::open(const char* path, oflag_t oflag) {
  if (cwd_ == nullptr) return false;
  return open(cwd_, path, oflag);
}
bool FatFile::openNext(FatFile*, oflag_t) { return false; }

bool FatFile::getName(char* name, size_t size) {
  if (name != nullptr && size > 0) name[0] = '\0';
  return false;
}

int FatFile::read() { return -1; }
int FatFile::read(void*, size_t) { return -1; }
int FatFile::write(const void*, size_t) { return -1; }
bool FatFile::seekSet(uint32_t) { return false; }
bool FatFile::sync() { return !isOpen(); }

bool FatFile::close() {
  atributos_ = 0;
  modo_ = 0;
  return true;
}

bool FatFile::isDir() const { return (atributos_ & kAtributoDirectorio) != 0; }
bool FatFile::isFile() const { return (atributos_ & kAtributoFichero) != 0; }

// ---- SdFat ----------------------------------------------------------------------------------

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
