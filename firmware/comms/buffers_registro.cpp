// buffers_registro.cpp: los cinco búferes de registros de texto, sus contadores, los campos de
// ancho fijo, el checksum NMEA de las tramas al host y la comparación de etiquetas.
#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "comms/texto_real.h"
#include "gps/modulo_gps.h"
#include "host/zrx03.h"
#include "sensor/sensor.h"

#define CIFRA_DESCONOCIDA '?'   // cociente mayor que 15: no hay cifra en la tabla
#define TOLERANCIA_REAL 0.001f

const uint32_t lvalores_hexadecimales[NUMERO_MAXIMO_CIFRAS_HEX] = {0x1u,     0x10u,     0x100u,     0x1000u,
                                                                    0x10000u, 0x100000u, 0x1000000u, 0x10000000u};
const char cvalores_ascii[17] = "0123456789ABCDEF";
uint32_t ibytes_a_escribir_sd[NUMERO_BUFFERES_REGISTRO];
char cbuffer_raw[TAM_BUFFER_RAW];
char cbuffer_wav[TAM_BUFFER_WAV];
char cbuffer_res[TAM_BUFFER_RES];
char cbuffer_zrx03[TAM_BUFFER_ZRX03];
char cbuffer_promedio[TAM_BUFFER_PROMEDIO];
uint8_t ccalculo_checksum_nmea = 0;
uint8_t cchecksum_nmea_zrx03 = 0;

static_assert(sizeof(lvalores_hexadecimales[0]) == 4, "las potencias de 16 son de 32 bits");
static_assert(sizeof(ibytes_a_escribir_sd[0]) == 4, "los contadores son de 32 bits");

// Capacidad del búfer de registro que empieza en pcbuffer; 0 si no es ninguno de los cinco.
static uint32_t capacidad_buffer(const char* pcbuffer) {
  if (pcbuffer == cbuffer_raw) return TAM_BUFFER_RAW;
  if (pcbuffer == cbuffer_wav) return TAM_BUFFER_WAV;
  if (pcbuffer == cbuffer_res) return TAM_BUFFER_RES;
  if (pcbuffer == cbuffer_zrx03) return TAM_BUFFER_ZRX03;
  if (pcbuffer == cbuffer_promedio) return TAM_BUFFER_PROMEDIO;
  return 0;
}

void inserto_caracter_buffer(char* pcbuffer, char ccaracter, uint8_t ctipo) {
  uint32_t icapacidad = capacidad_buffer(pcbuffer);
  if (icapacidad == 0 || ctipo >= NUMERO_BUFFERES_REGISTRO) return;
  uint32_t& icontador = ibytes_a_escribir_sd[ctipo];
  // Siempre queda sitio para el NUL: un registro que no cabe se corta.
  if (icontador + 1 >= icapacidad) return;
  pcbuffer[icontador] = ccaracter;
  if (ccalculo_checksum_nmea == 1) cchecksum_nmea_zrx03 = uint8_t(cchecksum_nmea_zrx03 ^ uint8_t(ccaracter));
  icontador++;
}

void insertamos_mensaje_buffer(char* pcbuffer, const char* pcmensaje, uint8_t ctipo) {
  if (pcmensaje == nullptr) return;
  for (const char* p = pcmensaje; *p != '\0'; ++p) inserto_caracter_buffer(pcbuffer, *p, ctipo);
}

static void caracter_final(char* pcbuffer, char ccaracter_final, uint8_t ctipo) {
  if (ccaracter_final == CARACTER_FINAL_NADA) return;
  if (ccaracter_final == CARACTER_FINAL_CRLF) {
    inserto_caracter_buffer(pcbuffer, '\r', ctipo);
    inserto_caracter_buffer(pcbuffer, '\n', ctipo);
  } else {
    inserto_caracter_buffer(pcbuffer, ccaracter_final, ctipo);
  }
}

// Cifras por división con la tabla de potencias: el ancho es fijo y lo que no cabe no se recorta.
static void cifras_buffer(char* pcbuffer, uint32_t laux, uint8_t cnumero_cifras, const uint32_t* lpotencias,
                          uint8_t cmaximo_cifras, uint8_t ctipo) {
  if (cnumero_cifras > cmaximo_cifras) cnumero_cifras = cmaximo_cifras;
  for (int k = int(cnumero_cifras) - 1; k >= 0; --k) {
    uint32_t cociente = laux / lpotencias[k];
    inserto_caracter_buffer(pcbuffer, cociente < 16 ? cvalores_ascii[cociente] : CIFRA_DESCONOCIDA, ctipo);
    laux %= lpotencias[k];
  }
}

void insertamos_variable_buffer(char* pcbuffer, uint32_t laux, uint8_t cnumero_cifras, char ccaracter_final,
                                uint8_t ctipo) {
  cifras_buffer(pcbuffer, laux, cnumero_cifras, lvalores_decimales, NUMERO_MAXIMO_CIFRAS, ctipo);
  caracter_final(pcbuffer, ccaracter_final, ctipo);
}

void insertamos_fecha_buffer(char* pcbuffer, uint8_t cdia, uint8_t cmes, uint8_t cano, uint8_t chora,
                             uint8_t cminuto, uint8_t ctipo) {
  const uint8_t ccampos[] = {cdia, cmes, cano, chora, cminuto};
  for (uint8_t ccampo : ccampos) insertamos_variable_buffer(pcbuffer, ccampo, 2, ',', ctipo);
}

void insertamos_variable_hex_buffer(char* pcbuffer, uint32_t laux, uint8_t cnumero_cifras, char ccaracter_final,
                                    uint8_t ctipo) {
  cifras_buffer(pcbuffer, laux, cnumero_cifras, lvalores_hexadecimales, NUMERO_MAXIMO_CIFRAS_HEX, ctipo);
  caracter_final(pcbuffer, ccaracter_final, ctipo);
}

void insertamos_variable_float_buffer_v02(char* pcbuffer, float fvalor, uint8_t cnumero_cifras,
                                          uint8_t cnumero_decimales, char ccaracter_final, uint8_t ctipo) {
  (void)cnumero_cifras;
  (void)cnumero_decimales;
  if (fvalor < 0.0f) {
    fvalor = -fvalor;
    inserto_caracter_buffer(pcbuffer, '-', ctipo);
  } else {
    inserto_caracter_buffer(pcbuffer, ' ', ctipo);
  }
  // Con 100000 o más se cortan decimales y el campo guarda su ancho; si pierde cifras enteras,
  // la comprobación de abajo lo avisa.
  char ctexto[TAM_TEXTO_REAL];
  formateo_texto_real(ctexto, fvalor);
  insertamos_mensaje_buffer(pcbuffer, ctexto, ctipo);

  float fleido = lectura_texto_real(ctexto);
  float fdiferencia = fleido > fvalor ? fleido - fvalor : fvalor - fleido;
  if (fdiferencia > TOLERANCIA_REAL) {
    Serial1.print("ERROR FLOAT TO STRING: ");
    Serial1.print(fvalor, 4);
    Serial1.print("<>");
    Serial1.print(ctexto);
    Serial1.print("; ");
  }
  caracter_final(pcbuffer, ccaracter_final, ctipo);
}

void cierre_registro_buffer(char* pcbuffer, uint8_t ctipo) {
  uint32_t icapacidad = capacidad_buffer(pcbuffer);
  if (icapacidad == 0 || ctipo >= NUMERO_BUFFERES_REGISTRO) return;
  // Un contador puesto a mano más allá del búfer se recorta: el escritor de la tarjeta lo usa.
  if (ibytes_a_escribir_sd[ctipo] > icapacidad - 1) ibytes_a_escribir_sd[ctipo] = icapacidad - 1;
  pcbuffer[ibytes_a_escribir_sd[ctipo]] = '\0';
}

void envio_trama_zrx03() {
  for (uint16_t i = 0; i < TAM_BUFFER_ZRX03 && cbuffer_zrx03[i] != '\0'; ++i) Serial.write(uint8_t(cbuffer_zrx03[i]));
  cdatos_tx_zrx03 = 0;
}

void comienzo_trama_zrx03(const char* pcetiqueta) {
  // Una trama que aún espera (la respuesta a una orden, cuando el intervalo acaba en la misma
  // pasada) sale antes de que la nueva ocupe su búfer: las dos llegan, por orden.
  if (cdatos_tx_zrx03 == 1) envio_trama_zrx03();
  ibytes_a_escribir_sd[BUFFER_ZRX03] = 0;
  cchecksum_nmea_zrx03 = 0;
  ccalculo_checksum_nmea = 0;
  inserto_caracter_buffer(cbuffer_zrx03, '$', BUFFER_ZRX03);
  ccalculo_checksum_nmea = 1;
  insertamos_mensaje_buffer(cbuffer_zrx03, pcetiqueta, BUFFER_ZRX03);
}

void cierre_trama_zrx03() {
  ccalculo_checksum_nmea = 0;
  inserto_caracter_buffer(cbuffer_zrx03, '*', BUFFER_ZRX03);
  insertamos_variable_hex_buffer(cbuffer_zrx03, cchecksum_nmea_zrx03, 2, CARACTER_FINAL_CRLF, BUFFER_ZRX03);
  cierre_registro_buffer(cbuffer_zrx03, BUFFER_ZRX03);
}

// Bytes que se pueden leer desde p si cae dentro de un búfer conocido; sin límite si no.
static uint32_t bytes_legibles(const char* p) {
  struct Zona {
    const void* inicio;
    uint32_t tam;
  };
  static const Zona kZonas[] = {
      {ctrama_rx_gps, TAM_TRAMA_RX_GPS},       {ctrama_rx_zrx03, TAM_TRAMA_RX_ZRX03},
      {ctrama_sensor_rx, TAM_TRAMA_SENSOR_RX}, {cbuffer_raw, TAM_BUFFER_RAW},
      {cbuffer_wav, TAM_BUFFER_WAV},           {cbuffer_res, TAM_BUFFER_RES},
      {cbuffer_zrx03, TAM_BUFFER_ZRX03},       {cbuffer_promedio, TAM_BUFFER_PROMEDIO},
  };
  uintptr_t dir = reinterpret_cast<uintptr_t>(p);
  for (const Zona& z : kZonas) {
    uintptr_t inicio = reinterpret_cast<uintptr_t>(z.inicio);
    if (dir >= inicio && dir < inicio + z.tam) return uint32_t(inicio + z.tam - dir);
  }
  return UINT32_MAX;
}

uint8_t comparacion(uint32_t iinicio, const char* pctrama_comparar, const char* pctrama_comparada,
                    uint8_t clongitud_comparada) {
  if (pctrama_comparar == nullptr || pctrama_comparada == nullptr) return 0;
  uint8_t clongitud = 0;
  while (pctrama_comparada[clongitud] != '\0' && clongitud < 255) clongitud++;
  if (clongitud_comparada != 0 && clongitud_comparada != clongitud) return 0;
  uint32_t ilegibles = bytes_legibles(pctrama_comparar);
  for (uint32_t i = 0; i < clongitud; ++i) {
    // Lo que quedaría fuera del búfer no coincide.
    if (ilegibles != UINT32_MAX && (iinicio >= ilegibles || i >= ilegibles - iinicio)) return 0;
    if (pctrama_comparar[iinicio + i] != pctrama_comparada[i]) return 0;
  }
  return 1;
}
