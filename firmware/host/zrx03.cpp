// zrx03.cpp: la trama "$ZRX03" recibida: reenvío transparente, checksum, forma de la trama,
// lectura de campos, reparto a las órdenes, y la composición de la respuesta "$OLA,".
#include "host/zrx03.h"

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "gps/modulo_gps.h"
#include "sensor/sensor.h"

#define LONGITUD_ETIQUETA 6  // "$ZRX03"

char ctrama_rx_zrx03[TAM_TRAMA_RX_ZRX03];
uint8_t ccantidad_bytes_rx_zrx03 = 0;
uint8_t crecibiendo_trama_zrx03 = 0;
uint8_t cfin_checksum_zrx03 = 0;
const char m_trama_zrx03[7] = "$ZRX03";
uint8_t creset = 0;
uint8_t CTE_USO_APP_ZRX03 = 0;
const uint8_t CTD_TAM_DATOS_SBG = 75;

// Bytes de la ráfaga en curso que se leen: nunca más que el búfer, aunque la cuenta mienta.
static uint32_t ilongitud_trama_zrx03 = 0;

static uint8_t es_cifra(char c) { return (c >= '0' && c <= '9') ? 1 : 0; }

// Lo que el checksum no mira: la etiqueta entera, campos sólo de cifras (valor de 7 cifras como
// mucho, con ceros delante o no) y, tras las dos cifras del checksum, nada más que CR o LF. Así una
// letra o un signo nunca se leen como parte de un número.
static uint8_t trama_bien_formada() {
  const uint32_t ilongitud = ilongitud_trama_zrx03;
  if (ilongitud <= LONGITUD_ETIQUETA || comparacion(0, ctrama_rx_zrx03, m_trama_zrx03, 0) != 1) return 0;
  uint32_t i = LONGITUD_ETIQUETA;
  if (ctrama_rx_zrx03[i] != ',' && ctrama_rx_zrx03[i] != '*') return 0;

  uint32_t lvalor = 0;
  for (; i < ilongitud && ctrama_rx_zrx03[i] != '*'; ++i) {
    char c = ctrama_rx_zrx03[i];
    if (c == ',') {
      lvalor = 0;
    } else if (es_cifra(c) == 1) {
      lvalor = lvalor * 10u + uint32_t(c - '0');
      if (lvalor > MAXIMO_VALOR_CAMPO_ZRX03) return 0;
    } else {
      return 0;
    }
  }
  // El checksum ya exigió el '*' y sus dos cifras dentro de la ráfaga.
  for (i += 3; i < ilongitud; ++i) {
    if (ctrama_rx_zrx03[i] != '\r' && ctrama_rx_zrx03[i] != '\n') return 0;
  }
  return 1;
}

uint8_t campo_zrx03(uint8_t ccampo, uint32_t* plvalor) {
  uint8_t cvacio = 1;
  uint32_t lvalor = extraccion_dato_nmea(ccampo, ctrama_rx_zrx03, 0, ilongitud_trama_zrx03, &cvacio);
  if (cvacio != 0) return 0;
  *plvalor = lvalor;
  return 1;
}

void procesamos_trama_zrx03() {
  ilongitud_trama_zrx03 =
      ccantidad_bytes_rx_zrx03 < TAM_TRAMA_RX_ZRX03 ? ccantidad_bytes_rx_zrx03 : TAM_TRAMA_RX_ZRX03;

  // En modo transparente toda ráfaga va al sensor tal cual, sea o no una orden.
  if (CTE_MODO_TRANSPARENTE == 1) {
    Serial2.write(reinterpret_cast<const uint8_t*>(ctrama_rx_zrx03), ilongitud_trama_zrx03);
  }

  uint8_t ccorrecto = comprobacion_checksum_nmea(ctrama_rx_zrx03, 0, ilongitud_trama_zrx03);
  Serial1.print(ccorrecto);
  Serial1.println("_Fin Comprobar_checksum");
  if (ccorrecto != 1 || trama_bien_formada() != 1) return;

  uint32_t lcomando = 0;
  campo_zrx03(1, &lcomando);
  const uint8_t ccomando = uint8_t(lcomando % 256u);
  if (ccomando >= PRIMER_COMANDO_AJUSTES && ccomando <= ULTIMO_COMANDO_AJUSTES) {
    comandos_configuracion(ccomando);
  } else if (ccomando == COMANDO_CONSULTAS) {
    uint32_t lsuborden = 0;
    campo_zrx03(2, &lsuborden);
    const uint8_t csuborden = uint8_t(lsuborden % 256u);
    if (csuborden >= PRIMERA_SUBORDEN && csuborden <= ULTIMA_SUBORDEN) comando_consultas(csuborden);
  }
}

void comienzo_respuesta_zrx03(uint8_t ccomando) {
  comienzo_trama_zrx03("OLA,");
  insertamos_variable_buffer(cbuffer_zrx03, ccomando, 2, CARACTER_FINAL_NADA, BUFFER_ZRX03);
}

void campo_respuesta_zrx03(uint32_t lvalor, uint8_t cnumero_cifras) {
  inserto_caracter_buffer(cbuffer_zrx03, ',', BUFFER_ZRX03);
  insertamos_variable_buffer(cbuffer_zrx03, lvalor, cnumero_cifras, CARACTER_FINAL_NADA, BUFFER_ZRX03);
}

void cifras_respuesta_zrx03(uint32_t lvalor, uint8_t cnumero_cifras) {
  insertamos_variable_buffer(cbuffer_zrx03, lvalor, cnumero_cifras, CARACTER_FINAL_NADA, BUFFER_ZRX03);
}

void texto_respuesta_zrx03(const char* pctexto) { insertamos_mensaje_buffer(cbuffer_zrx03, pctexto, BUFFER_ZRX03); }

void cierre_respuesta_zrx03() {
  cierre_trama_zrx03();
  cdatos_tx_zrx03 = 1;
}
