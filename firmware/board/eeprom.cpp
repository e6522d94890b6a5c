// eeprom.cpp: el almacén de bytes como un solo registro en el área flash:
// bytes 0..1023 los datos, byte 1024 la marca de válido (1 = grabado; 0xFF = flash borrada).
#include "board/eeprom.h"

#include <string.h>

#include "board/hal.h"

EEPROMClass EEPROM;

namespace {
constexpr uint32_t kOffsetValido = EEPROM_EMULATION_SIZE;
constexpr uint32_t kTamRegistro = EEPROM_EMULATION_SIZE + 1;
constexpr uint8_t kMarcaValido = 1;
static_assert(kTamRegistro <= HAL_FLASH_AREA_SIZE, "el registro no cabe en el área flash");
}  // namespace

void EEPROMClass::cargar() {
  uint8_t marca = 0xFF;
  hal_flash_read(kOffsetValido, &marca, 1);
  valido_ = (marca == kMarcaValido) ? 1 : 0;
  if (valido_) {
    hal_flash_read(0, datos_, EEPROM_EMULATION_SIZE);
  } else {
    memset(datos_, 0xFF, sizeof(datos_));
  }
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
  valido_ = 1;
  // Primero la fila de la marca y la marca al final: un corte a medias deja el almacén
  // inválido (valores por defecto), nunca válido con filas ya borradas (todo 0xFF).
  const uint32_t fila_marca = kOffsetValido - kOffsetValido % HAL_FLASH_ROW_SIZE;
  hal_flash_erase_row(fila_marca);
  for (uint32_t fila = 0; fila < kTamRegistro; fila += HAL_FLASH_ROW_SIZE) {
    if (fila != fila_marca) hal_flash_erase_row(fila);
  }
  hal_flash_write(0, datos_, EEPROM_EMULATION_SIZE);
  uint8_t marca = kMarcaValido;
  hal_flash_write(kOffsetValido, &marca, 1);
  cambiado_ = 0;
}

bool EEPROMClass::isValid() {
  if (!cargado_) cargar();
  return valido_ == 1;
}
