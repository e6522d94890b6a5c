// eeprom.cpp: el almacén de bytes como un registro en el área flash: bytes 0..1023 los datos, byte
// 1024 la marca de válido (1 = grabado; 0xFF = flash borrada). Los primeros 32 bytes (los ajustes
// y contadores) llevan su CRC en los bytes 32 y 33, y cada grabación deja antes una copia de ellos
// con su CRC y su marca en la cola libre de la fila de la marca: un corte en cualquier paso deja
// legible el registro anterior o el nuevo, con las mismas cinco filas borradas por grabación.
#include "board/eeprom.h"

#include <string.h>

#include "board/bytes_le.h"
#include "board/crc16.h"
#include "board/hal.h"

EEPROMClass EEPROM;

namespace {
constexpr uint32_t kOffsetValido = EEPROM_OFFSET_VALIDO;
constexpr uint32_t kTamRegistro = EEPROM_EMULATION_SIZE + 1;
constexpr uint8_t kMarcaValido = 1;
constexpr uint32_t kOffsetCrc = EEPROM_BYTES_PROTEGIDOS;  // CRC de los protegidos, byte bajo primero
constexpr uint32_t kOffsetCopia = EEPROM_OFFSET_COPIA;
constexpr uint32_t kTamCopia = EEPROM_BYTES_PROTEGIDOS + 3;  // datos, CRC y marca de la copia
constexpr uint32_t kFilaMarca = kOffsetValido - kOffsetValido % HAL_FLASH_ROW_SIZE;
static_assert(kTamRegistro <= HAL_FLASH_AREA_SIZE, "el registro no cabe en el área flash");
static_assert(kOffsetCopia + kTamCopia <= HAL_FLASH_AREA_SIZE, "la copia no cabe en el área flash");
static_assert(kOffsetCopia / HAL_FLASH_ROW_SIZE == kOffsetValido / HAL_FLASH_ROW_SIZE, "copia y marca en la misma fila");

// Semilla 0xFFFF: con 0, unas filas a cero darían CRC 0 y pasarían por buenas.
constexpr uint16_t kSemillaCrc = 0xFFFFu;
uint16_t crc_protegidos(const uint8_t* p) { return crc16_kermit(p, EEPROM_BYTES_PROTEGIDOS, kSemillaCrc); }
bool crc_correcto(const uint8_t* p) {
  return crc_protegidos(p) == ld_16(p + EEPROM_BYTES_PROTEGIDOS);
}
}  // namespace

// El registro marcado; si no, una copia válida; si no, unas filas de datos cuyo CRC cuadra (el
// corte llegó justo tras borrar la fila de la marca). Sin nada de eso, el almacén no es válido.
void EEPROMClass::cargar() {
  uint8_t marca = 0xFF;
  hal_flash_read(kOffsetValido, &marca, 1);
  valido_ = 0;
  if (marca == kMarcaValido) {
    hal_flash_read(0, datos_, EEPROM_EMULATION_SIZE);
    valido_ = 1;
  } else {
    uint8_t copia[kTamCopia];
    hal_flash_read(kOffsetCopia, copia, kTamCopia);
    if (copia[kTamCopia - 1] == kMarcaValido && crc_correcto(copia)) {
      memset(datos_, 0xFF, sizeof(datos_));
      memcpy(datos_, copia, EEPROM_BYTES_PROTEGIDOS + 2);
      valido_ = 1;
    } else {
      hal_flash_read(0, datos_, EEPROM_EMULATION_SIZE);
      valido_ = crc_correcto(datos_) ? 1 : 0;
    }
  }
  if (!valido_) memset(datos_, 0xFF, sizeof(datos_));
  cambiado_ = 0;
  cargado_ = 1;
}

uint8_t EEPROMClass::read(int address) {
  if (!cargado_) cargar();
  if (address < 0 || address >= EEPROM_EMULATION_SIZE) return 0xFF;
  return datos_[address];
}

void EEPROMClass::write(int address, uint8_t value) {
  if (!cargado_) cargar();
  if (address < 0 || address >= EEPROM_EMULATION_SIZE) return;
  if (datos_[address] == value) return;
  datos_[address] = value;
  cambiado_ = 1;
}

void EEPROMClass::commit() {
  if (!cargado_) cargar();
  if (!cambiado_) return;
  const uint16_t crc = crc_protegidos(datos_);
  st_16(datos_ + kOffsetCrc, crc);
  // 1) La fila de la marca primero: ya nada dice "válido" de unas filas que se van a borrar, y
  //    las de datos siguen enteras con su CRC. 2) La copia de lo nuevo, con su marca. 3) Las filas
  //    de datos y los datos. 4) La marca.
  // Un paso que falla corta ahí, como un corte de corriente en ese paso (la flash queda con el
  // registro anterior o la copia nueva), y el cambio sigue pendiente para el siguiente commit.
  if (!hal_flash_erase_row(kFilaMarca)) return;
  uint8_t copia[kTamCopia];
  memcpy(copia, datos_, EEPROM_BYTES_PROTEGIDOS + 2);
  copia[kTamCopia - 1] = kMarcaValido;
  if (!hal_flash_write(kOffsetCopia, copia, kTamCopia)) return;
  for (uint32_t fila = 0; fila < kTamRegistro; fila += HAL_FLASH_ROW_SIZE) {
    if (fila != kFilaMarca && !hal_flash_erase_row(fila)) return;
  }
  if (!hal_flash_write(0, datos_, EEPROM_EMULATION_SIZE)) return;
  uint8_t marca = kMarcaValido;
  if (!hal_flash_write(kOffsetValido, &marca, 1)) return;
  valido_ = 1;
  cambiado_ = 0;
}

bool EEPROMClass::isValid() {
  if (!cargado_) cargar();
  return valido_ == 1;
}
