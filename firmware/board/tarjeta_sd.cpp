// tarjeta_sd.cpp: la tarjeta en bruto sobre el protocolo SPI de sd_spi.cpp. Guarda el tipo (de él
// depende si las direcciones van en bytes o en bloques) y, tras un fallo, el código y el dato de
// error para quien los quiera mostrar.
#include "board/sd_spi.h"
#include "board/sdfat.h"

static_assert(SD_CARD_TYPE_SD1 == SD_TIPO_SD1 && SD_CARD_TYPE_SD2 == SD_TIPO_SD2 &&
                  SD_CARD_TYPE_SDHC == SD_TIPO_SDHC && SD_BLOCK_SIZE == SD_BYTES_BLOQUE,
              "los tipos y el bloque de sdfat.h son los del protocolo");

// Un solo sitio para anotar el error de la última operación fallida (el código se obtiene antes:
// el orden en que se evalúan los argumentos no está fijado).
static bool resultado(uint8_t ccodigo, uint32_t ldato, uint8_t* pcodigo, uint32_t* pdato) {
  if (ccodigo == SD_ERROR_NINGUNO) return true;
  *pcodigo = ccodigo;
  *pdato = ldato;
  return false;
}

bool SdSpiCard::begin(uint8_t csPin, uint32_t spiHz) {
  tipo_ = 0;
  codigo_error_ = SD_ERROR_NINGUNO;
  dato_error_ = 0;
  uint8_t ctipo = 0;
  uint32_t ldato = 0;
  const uint8_t ccodigo = sd_arrancar(csPin, spiHz, &ctipo, &ldato);
  if (!resultado(ccodigo, ldato, &codigo_error_, &dato_error_)) return false;
  tipo_ = ctipo;
  return true;
}

// Se lee el CSD cada vez: una tarjeta retirada da 0, y así la nota quien pregunta cada minuto.
uint32_t SdSpiCard::cardSize() {
  if (tipo_ == 0) return 0;
  uint8_t csd[16];
  uint32_t ldato = 0;
  const uint8_t ccodigo = sd_leer_csd(csd, &ldato);
  if (!resultado(ccodigo, ldato, &codigo_error_, &dato_error_)) return 0;
  const uint32_t lbloques = sd_bloques_csd(csd);
  if (lbloques == 0) resultado(SD_ERROR_CSD, csd[0], &codigo_error_, &dato_error_);
  return lbloques;
}

bool SdSpiCard::erase(uint32_t firstBlock, uint32_t lastBlock) {
  if (tipo_ == 0 || lastBlock < firstBlock) return resultado(SD_ERROR_SIN_ARRANCAR, 0, &codigo_error_, &dato_error_);
  uint32_t ldato = 0;
  const uint8_t ccodigo = sd_borrar(tipo_, firstBlock, lastBlock, &ldato);
  return resultado(ccodigo, ldato, &codigo_error_, &dato_error_);
}

bool SdSpiCard::readBlock(uint32_t block, uint8_t* dst) {
  if (tipo_ == 0 || dst == nullptr) return resultado(SD_ERROR_SIN_ARRANCAR, 0, &codigo_error_, &dato_error_);
  uint32_t ldato = 0;
  const uint8_t ccodigo = sd_leer_bloque(tipo_, block, dst, &ldato);
  return resultado(ccodigo, ldato, &codigo_error_, &dato_error_);
}

bool SdSpiCard::writeBlock(uint32_t block, const uint8_t* src) {
  if (tipo_ == 0 || src == nullptr) return resultado(SD_ERROR_SIN_ARRANCAR, 0, &codigo_error_, &dato_error_);
  uint32_t ldato = 0;
  const uint8_t ccodigo = sd_escribir_bloque(tipo_, block, src, &ldato);
  return resultado(ccodigo, ldato, &codigo_error_, &dato_error_);
}

bool SdSpiCard::writeStart(uint32_t block, uint32_t eraseCount) {
  if (tipo_ == 0) return resultado(SD_ERROR_SIN_ARRANCAR, 0, &codigo_error_, &dato_error_);
  uint32_t ldato = 0;
  const uint8_t ccodigo = sd_empezar_escritura_multiple(tipo_, block, eraseCount, &ldato);
  return resultado(ccodigo, ldato, &codigo_error_, &dato_error_);
}

bool SdSpiCard::writeData(const uint8_t* src) {
  if (tipo_ == 0 || src == nullptr) return resultado(SD_ERROR_SIN_ARRANCAR, 0, &codigo_error_, &dato_error_);
  uint32_t ldato = 0;
  const uint8_t ccodigo = sd_escribir_bloque_multiple(src, &ldato);
  return resultado(ccodigo, ldato, &codigo_error_, &dato_error_);
}

bool SdSpiCard::writeStop() {
  if (tipo_ == 0) return resultado(SD_ERROR_SIN_ARRANCAR, 0, &codigo_error_, &dato_error_);
  uint32_t ldato = 0;
  const uint8_t ccodigo = sd_parar_escritura_multiple(&ldato);
  return resultado(ccodigo, ldato, &codigo_error_, &dato_error_);
}
