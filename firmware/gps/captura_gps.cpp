// captura_gps.cpp: la regla de aceptación de una hora GPS y lo que sigue a una hora aceptada:
// reloj interno, posición, trazas y la trama "GPS," al host.
#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "gps/modulo_gps.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"
#include "waves/correccion_reloj.h"

#define HEMISFERIO_DESCONOCIDO '0'  // sin posición en el último GGA: la trama conserva su forma

uint8_t cgrados_latitud = 0;
uint8_t cminutos_latitud = 0;
uint32_t idiez_milesimas_minutos_latitud = 0;
uint8_t cnorte_sur = 'N';
uint8_t cgrados_longitud = 0;
uint8_t cminutos_longitud = 0;
uint32_t idiez_milesimas_minutos_longitud = 0;
uint8_t ceste_oeste = 'W';
uint8_t CONT_TRAMAS_GPS = 0;

uint8_t hora_gps_aceptable() {
  if (csatelites < SATELITES_MINIMOS) return 0;
  if (cgps_con_datos_validos != 1) return 0;
  if (cpdop > DOP_MAXIMO_ACEPTADO || chdop > DOP_MAXIMO_ACEPTADO || cvdop > DOP_MAXIMO_ACEPTADO)
    return 0;
  if (chora_gps == 0 && cminuto_gps == 0 && csegundo_gps == 0 && cdia_gps == 0 && cmes_gps == 0 &&
      cano_gps == 0) {
    return 0;
  }
  return 1;
}

static char letra_hemisferio(uint8_t cletra) {
  return cletra != 0 ? char(cletra) : HEMISFERIO_DESCONOCIDO;
}

void composicion_trama_gps() {
  comienzo_trama_zrx03("GPS,");
  insertamos_variable_buffer(cbuffer_zrx03, cano_gps, 2, ',', BUFFER_ZRX03);
  insertamos_variable_buffer(cbuffer_zrx03, cmes_gps, 2, ',', BUFFER_ZRX03);
  insertamos_variable_buffer(cbuffer_zrx03, cdia_gps, 2, ',', BUFFER_ZRX03);
  insertamos_variable_buffer(cbuffer_zrx03, chora_gps, 2, ',', BUFFER_ZRX03);
  insertamos_variable_buffer(cbuffer_zrx03, cminuto_gps, 2, ',', BUFFER_ZRX03);
  insertamos_variable_buffer(cbuffer_zrx03, csegundo_gps, 2, ',', BUFFER_ZRX03);
  insertamos_variable_buffer(cbuffer_zrx03, csatelites, 2, ',', BUFFER_ZRX03);
  insertamos_variable_buffer(cbuffer_zrx03, cgrados_latitud, 2, ',', BUFFER_ZRX03);
  insertamos_variable_buffer(cbuffer_zrx03, cminutos_latitud, 2, ',', BUFFER_ZRX03);
  insertamos_variable_buffer(cbuffer_zrx03, idiez_milesimas_minutos_latitud, 5, ',', BUFFER_ZRX03);
  inserto_caracter_buffer(cbuffer_zrx03, letra_hemisferio(cnorte_sur), BUFFER_ZRX03);
  inserto_caracter_buffer(cbuffer_zrx03, ',', BUFFER_ZRX03);
  insertamos_variable_buffer(cbuffer_zrx03, cgrados_longitud, 3, ',', BUFFER_ZRX03);
  insertamos_variable_buffer(cbuffer_zrx03, cminutos_longitud, 2, ',', BUFFER_ZRX03);
  insertamos_variable_buffer(cbuffer_zrx03, idiez_milesimas_minutos_longitud, 5, ',', BUFFER_ZRX03);
  inserto_caracter_buffer(cbuffer_zrx03, letra_hemisferio(ceste_oeste), BUFFER_ZRX03);
  inserto_caracter_buffer(cbuffer_zrx03, ',', BUFFER_ZRX03);
  insertamos_variable_buffer(cbuffer_zrx03, cpdop, 2, ',', BUFFER_ZRX03);
  insertamos_variable_buffer(cbuffer_zrx03, chdop, 2, ',', BUFFER_ZRX03);
  insertamos_variable_buffer(cbuffer_zrx03, cvdop, 2, CARACTER_FINAL_NADA, BUFFER_ZRX03);
  cierre_trama_zrx03();
}

static void fecha_consola(uint8_t cdia, uint8_t cmes, uint8_t cano, uint8_t chora, uint8_t cminuto,
                          uint8_t csegundo) {
  transmito_variable(cdia, 2, '/');
  transmito_variable(cmes, 2, '/');
  transmito_variable(cano, 2, ' ');
  transmito_variable(chora, 2, ':');
  transmito_variable(cminuto, 2, ':');
  transmito_variable(csegundo, 2, 0);
}

void resumen_gps() {
  Serial1.print("Satelites:");
  Serial1.print(csatelites);
  Serial1.print('\t');
  Serial1.print("Calidad:");
  transmito_variable(cpdop / 10, 1, '.');
  transmito_variable(cpdop % 10, 1, '/');
  transmito_variable(chdop / 10, 1, '.');
  transmito_variable(chdop % 10, 1, '/');
  transmito_variable(cvdop / 10, 1, '.');
  transmito_variable(cvdop % 10, 1, '\t');
  Serial1.print("Fecha:");
  fecha_consola(cdia_gps, cmes_gps, cano_gps, chora_gps, cminuto_gps, csegundo_gps);
  Serial1.print('\t');
  Serial1.print("Posicion:");
  transmito_variable(cgrados_latitud_gps, 2, ' ');
  transmito_variable(cminutos_latitud_gps, 2, '.');
  transmito_variable(idiez_milesimas_minutos_latitud_gps, 4, 0);
  Serial1.print(letra_hemisferio(cnorte_sur_gps));
  Serial1.print(' ');
  transmito_variable(cgrados_longitud_gps, 3, ' ');
  transmito_variable(cminutos_longitud_gps, 2, '.');
  transmito_variable(idiez_milesimas_minutos_longitud_gps, 4, 0);
  Serial1.print(letra_hemisferio(ceste_oeste_gps));
  linea();
}

void aceptacion_hora_gps() {
  if (CTE_AJUSTE_RELOJ == 1) Captura_Hora_GPS_Correccion();

  poner_reloj(cano_gps, cmes_gps, cdia_gps, chora_gps, cminuto_gps, csegundo_gps);

  CONT_TRAMAS_GPS = uint8_t(CONT_TRAMAS_GPS + 1);
  if (CONT_TRAMAS_GPS == 1) cRevision_Resets_24h = 1;

  cgrados_latitud = cgrados_latitud_gps;
  cminutos_latitud = cminutos_latitud_gps;
  idiez_milesimas_minutos_latitud = idiez_milesimas_minutos_latitud_gps;
  cnorte_sur = cnorte_sur_gps;
  cgrados_longitud = cgrados_longitud_gps;
  cminutos_longitud = cminutos_longitud_gps;
  idiez_milesimas_minutos_longitud = idiez_milesimas_minutos_longitud_gps;
  ceste_oeste = ceste_oeste_gps;

  Serial1.print("Fecha capturada:");
  fecha_consola(cdia_gps, cmes_gps, cano_gps, chora_gps, cminuto_gps, csegundo_gps);
  linea();

  cpeticion_nueva_hora = 0;
  cfecha_capturada = 1;
  choras_sin_sincronizacion_gps = 0;

  // La fecha de la trama es la recién puesta en el reloj; se toma de los campos GPS porque el tick
  // puede haber avanzado ya el reloj interno.
  composicion_trama_gps();
  cdatos_tx_zrx03 = 1;
  cmostramos_hora = 1;
}
