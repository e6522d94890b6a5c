// eeprom.h: almacén de 1024 bytes guardado como un registro de 1025 (datos + válido) en el área flash,
// con una copia de sus primeros bytes para que un corte durante la grabación no los pierda.
#ifndef BOARD_EEPROM_H
#define BOARD_EEPROM_H

#include <stdint.h>

#define EEPROM_EMULATION_SIZE 1024
// Bytes del principio (ajustes y contadores) que sobreviven a un corte en mitad de una grabación:
// llevan su CRC en los dos bytes siguientes (32 y 33, que nadie más usa).
#define EEPROM_BYTES_PROTEGIDOS 32
// Disposición en el área flash: la marca de válido tras los datos y, en la página siguiente de la
// misma fila, la copia de los bytes protegidos con su CRC y su propia marca.
#define EEPROM_OFFSET_VALIDO EEPROM_EMULATION_SIZE
#define EEPROM_OFFSET_COPIA (EEPROM_OFFSET_VALIDO + 64)

class EEPROMClass {
 public:
  // constexpr: el global queda a cero (sin cargar) antes de cualquier constructor dinámico.
  constexpr EEPROMClass() : datos_{}, valido_(0), cargado_(0), cambiado_(0) {}
  uint8_t read(int address);
  void write(int address, uint8_t value);
  void update(int address, uint8_t value) { write(address, value); }
  void commit();
  bool isValid();
  uint16_t length() { return EEPROM_EMULATION_SIZE; }

 private:
  void cargar();
  uint8_t datos_[EEPROM_EMULATION_SIZE];  // copia en RAM
  uint8_t valido_;                         // 1 = el registro se grabó alguna vez
  uint8_t cargado_;                        // 1 = ya se leyó de la flash
  uint8_t cambiado_;                       // 1 = hay algo que grabar
};

extern EEPROMClass EEPROM;

#endif
