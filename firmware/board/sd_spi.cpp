// sd_spi.cpp: el protocolo de la tarjeta SD en modo SPI (ver sd_spi.h). Los límites de espera son
// los de un controlador real: arranque 2 s, testigo de lectura 300 ms, ocupado de escritura 600 ms,
// borrado según los bloques. Se miden con el contador de ciclos de la hal y cada espera alimenta el
// watchdog, porque un borrado grande dura más que su periodo.
#include "board/sd_spi.h"

#include "board/hal.h"
#include "board/wdt.h"

namespace {

// Órdenes (las de aplicación van tras CMD55).
constexpr uint8_t kCmd0 = 0;    // a reposo; entra en modo SPI
constexpr uint8_t kCmd8 = 8;    // tensión y patrón: sólo la versión 2 la conoce
constexpr uint8_t kCmd9 = 9;    // CSD
constexpr uint8_t kCmd13 = 13;  // estado (R2)
constexpr uint8_t kCmd16 = 16;  // longitud de bloque
constexpr uint8_t kCmd17 = 17;  // leer un bloque
constexpr uint8_t kCmd24 = 24;  // escribir un bloque
constexpr uint8_t kCmd25 = 25;  // escribir varios
constexpr uint8_t kCmd32 = 32;  // primer bloque a borrar
constexpr uint8_t kCmd33 = 33;  // último
constexpr uint8_t kCmd38 = 38;  // borrar
constexpr uint8_t kCmd55 = 55;  // la siguiente es de aplicación
constexpr uint8_t kCmd58 = 58;  // OCR
constexpr uint8_t kAcmd23 = 23;  // bloques que se van a escribir: la tarjeta puede borrarlos antes
constexpr uint8_t kAcmd41 = 41;  // arranque

constexpr uint8_t kR1Reposo = 0x01;
constexpr uint8_t kR1Ilegal = 0x04;
constexpr uint8_t kR1Version1 = kR1Reposo | kR1Ilegal;  // respuesta de una tarjeta 1.x a CMD8
constexpr uint8_t kSinRespuesta = 0xFF;  // MISO en alto: nadie contesta

constexpr uint8_t kTestigoBloque = 0xFE;    // lectura, y escritura de un bloque
constexpr uint8_t kTestigoMultiple = 0xFC;  // cada bloque de una escritura múltiple
constexpr uint8_t kTestigoParada = 0xFD;    // fin de la escritura múltiple
constexpr uint8_t kDatosAceptados = 0x05;   // respuesta de datos, 5 bits bajos

constexpr uint32_t kArgCmd8 = 0x1AA;        // 2,7-3,6 V y el patrón de comprobación 0xAA
constexpr uint32_t kArgHcs = 0x40000000u;   // el anfitrión admite alta capacidad
constexpr uint8_t kOcrListo = 0x80;         // primer byte del OCR: arranque acabado
constexpr uint8_t kOcrCcs = 0x40;           // primer byte del OCR: alta capacidad
constexpr uint32_t kMaxArgAcmd23 = 0x7FFFFFu;
constexpr uint32_t kMaxBloqueEnBytes = 0x7FFFFFu;  // el último que cabe en 32 bits como bytes

constexpr uint32_t kMsArranque = 2000;
constexpr uint32_t kMsLista = 300;  // antes de cada orden, por si sigue ocupada
constexpr uint32_t kMsLectura = 300;
constexpr uint32_t kMsEscritura = 600;
constexpr uint32_t kMsBorradoBase = 1000;
constexpr uint32_t kBloquesPorMsBorrado = 256;  // y 1 ms más por cada 128 KB
constexpr uint8_t kIntentosCmd0 = 10;
constexpr uint8_t kBytesHastaR1 = 10;   // la R1 llega como mucho 8 bytes después de la orden
constexpr uint8_t kBytesArranque = 10;  // 80 ciclos de reloj: al menos 74 antes de la primera orden
constexpr uint32_t kCiclosPorMs = HAL_CPU_HZ / 1000u;

uint8_t cescritura_multiple = 0;  // 1 = entre empezar y parar una escritura múltiple

uint8_t intercambiar(uint8_t c) { return hal_spi_transfer(c); }

// Sin seleccionar, y un byte más para que la tarjeta suelte MISO.
void soltar() {
  hal_spi_select(0);
  intercambiar(0xFF);
}

// CRC7 de las órdenes (x^7 + x^3 + 1).
uint8_t crc7(const uint8_t* p, uint8_t n) {
  uint8_t crc = 0;
  for (uint8_t i = 0; i < n; ++i) {
    uint8_t c = p[i];
    for (uint8_t b = 0; b < 8; ++b) {
      crc = static_cast<uint8_t>(crc << 1);
      if ((c ^ crc) & 0x80) crc ^= 0x09;
      c = static_cast<uint8_t>(c << 1);
    }
  }
  return crc & 0x7F;
}

// Lee hasta que llegue 0xFF (cfin_ocupado = 1) o algo distinto de 0xFF (0: un testigo), como mucho
// lms ms. Devuelve el último byte leído.
uint8_t esperar(uint8_t cfin_ocupado, uint32_t lms) {
  uint8_t c = intercambiar(0xFF);
  if ((c == 0xFF) == (cfin_ocupado == 1)) return c;
  const uint64_t fin = hal_cycles() + uint64_t(lms) * kCiclosPorMs;
  for (;;) {
    c = intercambiar(0xFF);
    if ((c == 0xFF) == (cfin_ocupado == 1) || hal_cycles() >= fin) return c;
    sodaq_wdt_reset();
  }
}

// Selecciona la tarjeta, espera a que esté libre (salvo para CMD0, que debe llegar aunque no lo
// esté) y envía la orden. Devuelve la R1 (0xFF si no contesta); la tarjeta queda seleccionada.
uint8_t orden(uint8_t ccmd, uint32_t larg) {
  hal_spi_select(1);
  // ocupada, MISO en bajo se leería como una R1 sin errores
  if (ccmd != kCmd0 && esperar(1, kMsLista) != 0xFF) return kSinRespuesta;
  uint8_t trama[6] = {static_cast<uint8_t>(0x40 | ccmd), static_cast<uint8_t>(larg >> 24),
                      static_cast<uint8_t>(larg >> 16), static_cast<uint8_t>(larg >> 8),
                      static_cast<uint8_t>(larg), 0};
  trama[5] = static_cast<uint8_t>((crc7(trama, 5) << 1) | 1);
  hal_spi_transfer_block(trama, nullptr, 6);
  uint8_t r1 = kSinRespuesta;
  for (uint8_t i = 0; i < kBytesHastaR1 && (r1 & 0x80); ++i) r1 = intercambiar(0xFF);
  return r1;
}

uint8_t orden_app(uint8_t ccmd, uint32_t larg) {
  const uint8_t r1 = orden(kCmd55, 0);
  if (r1 & static_cast<uint8_t>(~kR1Reposo)) return r1;
  return orden(ccmd, larg);
}

uint8_t fallo(uint8_t ccodigo, uint32_t ldato, uint32_t* pdato) {
  soltar();
  *pdato = ldato;
  return ccodigo;
}

// SD1 y SD2 cuentan en bytes, SDHC en bloques.
uint8_t direccion(uint8_t ctipo, uint32_t lbloque, uint32_t* pdir) {
  if (ctipo == SD_TIPO_SDHC) {
    *pdir = lbloque;
    return 1;
  }
  if (lbloque > kMaxBloqueEnBytes) return 0;
  *pdir = lbloque * SD_BYTES_BLOQUE;
  return 1;
}

// Tras escribir o borrar: la tarjeta dice si lo hizo (protegida, error interno...).
uint8_t comprobar_estado(uint32_t* pdato) {
  const uint8_t r1 = orden(kCmd13, 0);
  const uint8_t r2 = intercambiar(0xFF);
  if (r1 != 0 || r2 != 0) return fallo(SD_ERROR_ESTADO, uint32_t(r1) << 8 | r2, pdato);
  soltar();
  return SD_ERROR_NINGUNO;
}

// Separación, testigo, bloque y CRC (sin comprobar: 0xFFFF); devuelve la respuesta de datos.
uint8_t enviar_bloque(uint8_t ctestigo, const uint8_t* porigen) {
  const uint8_t cabecera[2] = {0xFF, ctestigo};
  hal_spi_transfer_block(cabecera, nullptr, 2);
  hal_spi_transfer_block(porigen, nullptr, SD_BYTES_BLOQUE);
  uint8_t cola[3];
  hal_spi_transfer_block(nullptr, cola, 3);
  return cola[2] & 0x1F;
}

uint8_t cerrar_escritura_abierta(uint32_t* pdato) {
  return cescritura_multiple == 1 ? sd_parar_escritura_multiple(pdato) : uint8_t(SD_ERROR_NINGUNO);
}

}  // namespace

uint8_t sd_arrancar(uint8_t ccs, uint32_t lreloj_hz, uint8_t* ptipo, uint32_t* pdato) {
  *ptipo = 0;
  *pdato = 0;
  cescritura_multiple = 0;
  hal_spi_begin(ccs, SD_RELOJ_ARRANQUE_HZ);
  hal_spi_select(0);
  hal_spi_transfer_block(nullptr, nullptr, kBytesArranque);

  uint8_t r1 = kSinRespuesta;
  for (uint8_t i = 0; i < kIntentosCmd0 && r1 != kR1Reposo; ++i) {
    r1 = orden(kCmd0, 0);
    soltar();
  }
  if (r1 == kSinRespuesta) return SD_ERROR_SIN_RESPUESTA;
  if (r1 != kR1Reposo) {
    *pdato = r1;
    return SD_ERROR_CMD0;
  }

  uint8_t ctipo = SD_TIPO_SD1;
  r1 = orden(kCmd8, kArgCmd8);
  if (r1 == kR1Version1) {
    soltar();
  } else {
    uint8_t eco[4];
    hal_spi_transfer_block(nullptr, eco, 4);
    if (r1 != kR1Reposo) return fallo(SD_ERROR_CMD8, r1, pdato);
    const uint32_t leco = uint32_t(eco[0]) << 24 | uint32_t(eco[1]) << 16 | uint32_t(eco[2]) << 8 | eco[3];
    if ((leco & 0xFFFu) != kArgCmd8) return fallo(SD_ERROR_CMD8, leco, pdato);
    soltar();
    ctipo = SD_TIPO_SD2;
  }

  const uint32_t larg = ctipo == SD_TIPO_SD2 ? kArgHcs : 0;
  const uint64_t fin = hal_cycles() + uint64_t(kMsArranque) * kCiclosPorMs;
  for (;;) {
    r1 = orden_app(kAcmd41, larg);
    soltar();
    if (r1 == 0) break;
    if (r1 != kR1Reposo || hal_cycles() >= fin) {
      *pdato = r1;
      return SD_ERROR_ACMD41;
    }
    sodaq_wdt_reset();
  }

  if (ctipo == SD_TIPO_SD2) {
    r1 = orden(kCmd58, 0);
    uint8_t ocr[4];
    hal_spi_transfer_block(nullptr, ocr, 4);
    if (r1 != 0 || (ocr[0] & kOcrListo) == 0) return fallo(SD_ERROR_CMD58, r1, pdato);
    soltar();
    if (ocr[0] & kOcrCcs) ctipo = SD_TIPO_SDHC;
  }
  if (ctipo != SD_TIPO_SDHC) {
    // una tarjeta estándar puede traer otra longitud de bloque por omisión
    r1 = orden(kCmd16, SD_BYTES_BLOQUE);
    if (r1 != 0) return fallo(SD_ERROR_CMD16, r1, pdato);
    soltar();
  }
  hal_spi_clock(lreloj_hz);
  *ptipo = ctipo;
  return SD_ERROR_NINGUNO;
}

uint8_t sd_leer_csd(uint8_t* pcsd, uint32_t* pdato) {
  const uint8_t c = cerrar_escritura_abierta(pdato);
  if (c != SD_ERROR_NINGUNO) return c;
  const uint8_t r1 = orden(kCmd9, 0);
  if (r1 != 0) return fallo(SD_ERROR_CMD9, r1, pdato);
  const uint8_t testigo = esperar(0, kMsLectura);
  if (testigo != kTestigoBloque) return fallo(SD_ERROR_CMD9, testigo, pdato);
  hal_spi_transfer_block(nullptr, pcsd, 16);
  hal_spi_transfer_block(nullptr, nullptr, 2);  // CRC
  soltar();
  return SD_ERROR_NINGUNO;
}

uint32_t sd_bloques_csd(const uint8_t* pcsd) {
  switch (pcsd[0] >> 6) {
    case 0: {  // versión 1: (C_SIZE + 1) * 2^(C_SIZE_MULT + 2) bloques de 2^READ_BL_LEN bytes
      const uint8_t clong = pcsd[5] & 0x0F;
      if (clong < 9 || clong > 11) return 0;
      const uint32_t ltam = (uint32_t(pcsd[6] & 0x03) << 10) | (uint32_t(pcsd[7]) << 2) | (pcsd[8] >> 6);
      const uint8_t cmult = static_cast<uint8_t>(((pcsd[9] & 0x03) << 1) | (pcsd[10] >> 7));
      return (ltam + 1) << (cmult + 2 + clong - 9);
    }
    case 1: {  // versión 2: (C_SIZE + 1) unidades de 512 KB
      const uint32_t ltam = (uint32_t(pcsd[7] & 0x3F) << 16) | (uint32_t(pcsd[8]) << 8) | pcsd[9];
      if (ltam >= 0x3FFFFFu) return 0;  // 2 TB no caben en números de bloque de 32 bits
      return (ltam + 1) << 10;
    }
    default:
      return 0;
  }
}

uint8_t sd_leer_bloque(uint8_t ctipo, uint32_t lbloque, uint8_t* pdestino, uint32_t* pdato) {
  uint32_t ldir = 0;
  if (!direccion(ctipo, lbloque, &ldir)) {
    *pdato = lbloque;
    return SD_ERROR_DIRECCION;
  }
  const uint8_t c = cerrar_escritura_abierta(pdato);
  if (c != SD_ERROR_NINGUNO) return c;
  const uint8_t r1 = orden(kCmd17, ldir);
  if (r1 != 0) return fallo(SD_ERROR_CMD17, r1, pdato);
  const uint8_t testigo = esperar(0, kMsLectura);
  if (testigo != kTestigoBloque) return fallo(SD_ERROR_TESTIGO_LECTURA, testigo, pdato);
  hal_spi_transfer_block(nullptr, pdestino, SD_BYTES_BLOQUE);
  hal_spi_transfer_block(nullptr, nullptr, 2);  // CRC
  soltar();
  return SD_ERROR_NINGUNO;
}

uint8_t sd_escribir_bloque(uint8_t ctipo, uint32_t lbloque, const uint8_t* porigen, uint32_t* pdato) {
  uint32_t ldir = 0;
  if (!direccion(ctipo, lbloque, &ldir)) {
    *pdato = lbloque;
    return SD_ERROR_DIRECCION;
  }
  const uint8_t c = cerrar_escritura_abierta(pdato);
  if (c != SD_ERROR_NINGUNO) return c;
  const uint8_t r1 = orden(kCmd24, ldir);
  if (r1 != 0) return fallo(SD_ERROR_CMD24, r1, pdato);
  const uint8_t respuesta = enviar_bloque(kTestigoBloque, porigen);
  if (respuesta != kDatosAceptados) {
    // La tarjeta guarda el motivo en su estado hasta que se lee: leído aquí, la siguiente
    // comprobación no lo hereda.
    esperar(1, kMsEscritura);
    soltar();
    uint32_t lestado = 0;
    comprobar_estado(&lestado);
    *pdato = respuesta;
    return SD_ERROR_RESPUESTA_DATOS;
  }
  if (esperar(1, kMsEscritura) != 0xFF) return fallo(SD_ERROR_OCUPADA, kCmd24, pdato);
  soltar();
  return comprobar_estado(pdato);
}

uint8_t sd_borrar(uint8_t ctipo, uint32_t lprimero, uint32_t lultimo, uint32_t* pdato) {
  uint32_t ldir_primero = 0, ldir_ultimo = 0;
  if (!direccion(ctipo, lprimero, &ldir_primero) || !direccion(ctipo, lultimo, &ldir_ultimo)) {
    *pdato = lultimo;
    return SD_ERROR_DIRECCION;
  }
  const uint8_t c = cerrar_escritura_abierta(pdato);
  if (c != SD_ERROR_NINGUNO) return c;
  uint8_t r1 = orden(kCmd32, ldir_primero);
  if (r1 != 0) return fallo(SD_ERROR_BORRADO, uint32_t(kCmd32) << 8 | r1, pdato);
  soltar();
  r1 = orden(kCmd33, ldir_ultimo);
  if (r1 != 0) return fallo(SD_ERROR_BORRADO, uint32_t(kCmd33) << 8 | r1, pdato);
  soltar();
  r1 = orden(kCmd38, 0);
  if (r1 != 0) return fallo(SD_ERROR_BORRADO, uint32_t(kCmd38) << 8 | r1, pdato);
  const uint32_t lms = kMsBorradoBase + (lultimo - lprimero) / kBloquesPorMsBorrado;
  if (esperar(1, lms) != 0xFF) return fallo(SD_ERROR_OCUPADA, kCmd38, pdato);
  soltar();
  return comprobar_estado(pdato);
}

uint8_t sd_empezar_escritura_multiple(uint8_t ctipo, uint32_t lbloque, uint32_t lcuenta, uint32_t* pdato) {
  uint32_t ldir = 0;
  if (!direccion(ctipo, lbloque, &ldir)) {
    *pdato = lbloque;
    return SD_ERROR_DIRECCION;
  }
  const uint8_t c = cerrar_escritura_abierta(pdato);
  if (c != SD_ERROR_NINGUNO) return c;
  uint8_t r1 = 0;
  if (lcuenta > 1) {
    r1 = orden_app(kAcmd23, lcuenta > kMaxArgAcmd23 ? kMaxArgAcmd23 : lcuenta);
    if (r1 != 0) return fallo(SD_ERROR_ACMD23, r1, pdato);
    soltar();
  }
  r1 = orden(kCmd25, ldir);
  if (r1 != 0) return fallo(SD_ERROR_CMD25, r1, pdato);
  soltar();
  cescritura_multiple = 1;
  return SD_ERROR_NINGUNO;
}

uint8_t sd_escribir_bloque_multiple(const uint8_t* porigen, uint32_t* pdato) {
  if (cescritura_multiple != 1) {
    *pdato = 0;
    return SD_ERROR_SECUENCIA;
  }
  hal_spi_select(1);
  // Un fallo deja la escritura abierta: la parada sigue haciendo falta.
  if (esperar(1, kMsEscritura) != 0xFF) return fallo(SD_ERROR_OCUPADA, kCmd25, pdato);
  const uint8_t respuesta = enviar_bloque(kTestigoMultiple, porigen);
  if (respuesta != kDatosAceptados) return fallo(SD_ERROR_RESPUESTA_DATOS, respuesta, pdato);
  if (esperar(1, kMsEscritura) != 0xFF) return fallo(SD_ERROR_OCUPADA, kCmd25, pdato);
  soltar();
  return SD_ERROR_NINGUNO;
}

uint8_t sd_parar_escritura_multiple(uint32_t* pdato) {
  if (cescritura_multiple != 1) {
    *pdato = 0;
    return SD_ERROR_SECUENCIA;
  }
  cescritura_multiple = 0;
  hal_spi_select(1);
  if (esperar(1, kMsEscritura) != 0xFF) return fallo(SD_ERROR_OCUPADA, kCmd25, pdato);
  const uint8_t parada[2] = {kTestigoParada, 0xFF};  // la tarjeta se ocupa un byte después
  hal_spi_transfer_block(parada, nullptr, 2);
  if (esperar(1, kMsEscritura) != 0xFF) return fallo(SD_ERROR_OCUPADA, kCmd25, pdato);
  soltar();
  return comprobar_estado(pdato);
}
