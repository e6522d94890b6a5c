// comandos_estado.cpp: la orden 1 y sus subórdenes: consultas de contadores, registros y estado,
// petición de hora GPS, reinicio y formateo de la tarjeta.
#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "gps/modulo_gps.h"
#include "host/zrx03.h"
#include "sensor/sensor.h"
#include "settings/virtual_e2prom.h"
#include "storage/formateo_sd.h"
#include "storage/gestion_sd.h"
#include "waves/analisis_olas.h"
#include "waves/correccion_reloj.h"
#include "waves/waves.h"

#define PREFIJO_REGISTRO_PUNTO 14         // "$OLA,01,01,07,"
#define CIERRE_RESPUESTA 6                // "*hh", CR, LF y el NUL
#define SEGUNDOS_DIFERENCIA_MAXIMOS 15000u  // 250 minutos

static void comienzo_consulta(uint8_t csuborden) {
  comienzo_respuesta_zrx03(COMANDO_CONSULTAS);
  campo_respuesta_zrx03(ESTADO_ACEPTADA, 2);
  campo_respuesta_zrx03(csuborden, 2);
}

// Respuesta de un solo campo tras la suborden.
static void consulta_valor(uint8_t csuborden, uint32_t lvalor, uint8_t cnumero_cifras) {
  comienzo_consulta(csuborden);
  campo_respuesta_zrx03(lvalor, cnumero_cifras);
  cierre_respuesta_zrx03();
}

// Respuesta "01" sin más: las subórdenes 1, 2, y 4 y 7 sin registro.
static void consulta_solo_estado(uint8_t cestado) {
  comienzo_respuesta_zrx03(COMANDO_CONSULTAS);
  campo_respuesta_zrx03(cestado, 2);
  cierre_respuesta_zrx03();
}

// 3: la última trama del sensor en hexadecimal, también a la consola.
static void consulta_trama_sensor() {
  comienzo_consulta(3);
  texto_respuesta_zrx03(",");
  static_assert(TAM_TRAMA_SENSOR_RX >= 255, "la suborden 3 lee hasta CTD_TAM_DATOS_SBG bytes del búfer");
  for (uint8_t i = 0; i < CTD_TAM_DATOS_SBG; ++i) {
    insertamos_variable_hex_buffer(cbuffer_zrx03, ctrama_sensor_rx[i], 2, ' ', BUFFER_ZRX03);
  }
  cierre_respuesta_zrx03();
  Serial1.print(cbuffer_zrx03);
}

// 4: el cuerpo del último registro promediado, sólo si tiene la longitud esperada.
static void consulta_registro_promedio() {
  if (ctam_trama_promedio != CTE_TAM_TRAMA_RES || CTE_TAM_TRAMA_RES > TAM_BUFFER_PROMEDIO) {
    consulta_solo_estado(ESTADO_ACEPTADA);
    return;
  }
  comienzo_consulta(4);
  texto_respuesta_zrx03(",");
  for (uint32_t i = 0; i < CTE_TAM_TRAMA_RES; ++i) inserto_caracter_buffer(cbuffer_zrx03, cbuffer_promedio[i], BUFFER_ZRX03);
  cierre_respuesta_zrx03();
}

// 7: el último registro de punto sin su fin de línea.
static void consulta_registro_punto() {
  uint32_t ilongitud = ibytes_a_escribir_sd[BUFFER_RAW];
  if (ilongitud > TAM_BUFFER_RAW - 1) ilongitud = TAM_BUFFER_RAW - 1;
  Serial1.print("LongRAW=");
  Serial1.println(ilongitud);
  Serial1.write(cbuffer_raw, ilongitud);
  if (ilongitud == 0) {
    consulta_solo_estado(ESTADO_ACEPTADA);
    return;
  }
  // Nunca más de lo que deja sitio al cierre de la respuesta.
  uint32_t icopiar = ilongitud >= 2 ? ilongitud - 2 : 0;
  const uint32_t icabe = TAM_BUFFER_ZRX03 - PREFIJO_REGISTRO_PUNTO - CIERRE_RESPUESTA;
  if (icopiar > icabe) icopiar = icabe;
  comienzo_consulta(7);
  texto_respuesta_zrx03(",");
  for (uint32_t i = 0; i < icopiar; ++i) inserto_caracter_buffer(cbuffer_zrx03, cbuffer_raw[i], BUFFER_ZRX03);
  cierre_respuesta_zrx03();
}

static void consulta_estado_general() {
  comienzo_consulta(8);
  campo_respuesta_zrx03(cdia_utc, 2);
  campo_respuesta_zrx03(cmes_utc, 2);
  campo_respuesta_zrx03(cano_utc, 2);
  campo_respuesta_zrx03(chora_utc, 2);
  campo_respuesta_zrx03(cminuto_utc, 2);
  campo_respuesta_zrx03(lectura_variable_porcentaje_SD(), 3);
  campo_respuesta_zrx03(lectura_variable_contador_reinicios(), 5);
  campo_respuesta_zrx03(dd_ola, 2);
  campo_respuesta_zrx03(mm_ola, 2);
  campo_respuesta_zrx03(yy_ola, 2);
  campo_respuesta_zrx03(HH_ola, 2);
  campo_respuesta_zrx03(MM_ola, 2);
  campo_respuesta_zrx03(resSbgOk, 1);
  campo_respuesta_zrx03(resSdOk, 1);
  cierre_respuesta_zrx03();
}

// 13 y 14: formatear (y antes borrar) la tarjeta; la respuesta llega cuando acaba. Si no se pudo,
// no hay respuesta (el formateo ya lo contó en la consola).
static void formateo_tarjeta(uint8_t csuborden, uint8_t cborrar) {
  ccreacion_nuevo_directorio = 0;
  for (uint8_t t = 0; t < NUMERO_TIPOS_FICHERO; ++t) ccreacion_nuevo_fichero[t] = FICHERO_NINGUNO;
  CTE_BORRAR_SD = cborrar;
  const uint8_t checho = Formatear_SD();
  ctarjeta_sd_inicializada = 0;
  if (checho == 0) return;
  comienzo_consulta(csuborden);
  texto_respuesta_zrx03(",");
  cierre_respuesta_zrx03();
}

// 17: signo (0 negativo) y minutos y segundos pegados, o 250 solo a partir de 250 minutos.
static void consulta_diferencia_reloj() {
  Serial1.print("TIEMPO RESTA = ");
  Serial1.println(Tiempo_Resta);
  const int64_t idiferencia = Tiempo_Resta;
  const uint32_t imagnitud = uint32_t(idiferencia < 0 ? -idiferencia : idiferencia);
  comienzo_consulta(17);
  campo_respuesta_zrx03(idiferencia < 0 ? 0 : 1, 1);
  if (imagnitud > SEGUNDOS_DIFERENCIA_MAXIMOS) {
    campo_respuesta_zrx03(SEGUNDOS_DIFERENCIA_MAXIMOS / 60u, 3);
  } else {
    campo_respuesta_zrx03(imagnitud / 60u, 3);
    cifras_respuesta_zrx03(imagnitud % 60u, 2);
  }
  cierre_respuesta_zrx03();
}

void comando_consultas(uint8_t csuborden) {
  switch (csuborden) {
    case 1: {
      uint8_t cestado = 2;
      creceptor_gps_mudo = 0;  // el host pide hora: se vuelve a configurar el receptor
      if (cpeticion_nueva_hora == 0) {
        cpeticion_nueva_hora = 1;
        cestado = 1;
      }
      consulta_solo_estado(cestado);
      break;
    }
    case 2:
      creset = 1;
      consulta_solo_estado(ESTADO_ACEPTADA);
      break;
    case 3:
      consulta_trama_sensor();
      break;
    case 4:
      consulta_registro_promedio();
      break;
    case 5:
      consulta_valor(5, lectura_variable_contador_reinicios(), 5);
      break;
    case 6:
      consulta_valor(6, lectura_variable_porcentaje_SD(), 3);
      break;
    case 7:
      consulta_registro_punto();
      break;
    case 8:
      consulta_estado_general();
      break;
    case 9:
      consulta_valor(9, CTE_PERMITIR_ESCRITURA_SD_EEPROM, 3);
      break;
    case 10:
      consulta_valor(10, CTE_PERMITIR_ESCRITURA_SD, 3);
      break;
    case 11:
      consulta_valor(11, lectura_variable_contador_Ficheros(), 5);
      break;
    case 12:
      consulta_valor(12, lectura_variable_Tope_Maximo_Ficheros(), 5);
      break;
    case 13:
      formateo_tarjeta(13, 0);
      break;
    case 14:
      formateo_tarjeta(14, 1);
      break;
    case 15:
      consulta_valor(15, CTE_AJUSTE_RELOJ, 3);
      break;
    case 16:
      consulta_valor(16, uint32_t(CTE_VELOCIDAD_RELOJ), 5);
      break;
    case 17:
      consulta_diferencia_reloj();
      break;
    case 18:
      consulta_valor(18, CTE_USO_APP_ZRX03, 1);
      break;
    case 19:
      consulta_valor(19, lectura_variable_Baudrate_ZRX(), 1);
      break;
    case 20:
      consulta_valor(20, cdebug_sensor, 1);
      break;
    case 21:
      consulta_valor(21, CTE_MODO_TRANSPARENTE, 1);
      break;
    default:
      break;  // no llega: el reparto sólo pasa 1 a 21
  }
}
