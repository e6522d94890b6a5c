// tarjeta_sd.cpp: la tarjeta en bruto sobre las funciones hal_sd_*. Tras un fallo guarda el
// código y el dato de error de la tarjeta para quien los quiera mostrar.
#include "board/hal.h"
#include "board/sdfat.h"

namespace {
// Código propio cuando la operación ni llega a la tarjeta (no arrancada).
constexpr uint8_t kErrorSinArrancar = 0xFF;
}  // namespace

bool SdSpiCard::begin(uint8_t csPin, uint32_t spiHz) {
  codigo_error_ = 0;
  dato_error_ = 0;
  tipo_ = 0;
  if (!hal_sd_init(csPin, spiHz)) {
    codigo_error_ = hal_sd_error_code();
    dato_error_ = hal_sd_error_data();
    if (codigo_error_ == 0) codigo_error_ = kErrorSinArrancar;
    return false;
  }
  tipo_ = hal_sd_type();
  if (tipo_ == 0) {
    codigo_error_ = kErrorSinArrancar;
    return false;
  }
  return true;
}

uint32_t SdSpiCard::cardSize() {
  if (tipo_ == 0) return 0;
  return hal_sd_blocks();
}

// Un solo sitio para anotar el error de la última operación fallida.
static bool resultado(uint8_t ok, uint8_t* codigo, uint32_t* dato) {
  if (ok) return true;
  *codigo = hal_sd_error_code();
  *dato = hal_sd_error_data();
  if (*codigo == 0) *codigo = kErrorSinArrancar;
  return false;
}

bool SdSpiCard::erase(uint32_t firstBlock, uint32_t lastBlock) {
  if (tipo_ == 0 || lastBlock < firstBlock) {
    codigo_error_ = kErrorSinArrancar;
    return false;
  }
  return resultado(hal_sd_erase(firstBlock, lastBlock), &codigo_error_, &dato_error_);
}

bool SdSpiCard::readBlock(uint32_t block, uint8_t* dst) {
  if (tipo_ == 0 || dst == nullptr) {
    codigo_error_ = kErrorSinArrancar;
    return false;
  }
  return resultado(hal_sd_read(block, dst), &codigo_error_, &dato_error_);
}

bool SdSpiCard::writeBlock(uint32_t block, const uint8_t* src) {
  if (tipo_ == 0 || src == nullptr) {
    codigo_error_ = kErrorSinArrancar;
    return false;
  }
  return resultado(hal_sd_write(block, src), &codigo_error_, &dato_error_);
}

bool SdSpiCard::writeStart(uint32_t block, uint32_t eraseCount) {
  if (tipo_ == 0) {
    codigo_error_ = kErrorSinArrancar;
    return false;
  }
  return resultado(hal_sd_write_start(block, eraseCount), &codigo_error_, &dato_error_);
}

bool SdSpiCard::writeData(const uint8_t* src) {
  if (tipo_ == 0 || src == nullptr) {
    codigo_error_ = kErrorSinArrancar;
    return false;
  }
  return resultado(hal_sd_write_data(src), &codigo_error_, &dato_error_);
}

bool SdSpiCard::writeStop() {
  if (tipo_ == 0) {
    codigo_error_ = kErrorSinArrancar;
    return false;
  }
  return resultado(hal_sd_write_stop(), &codigo_error_, &dato_error_);
}
