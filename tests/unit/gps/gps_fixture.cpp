#include "unit/gps/gps_fixture.h"

#include <cstdio>
#include <cstring>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "gps/modulo_gps.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"
#include "waves/correccion_reloj.h"

namespace olas::test {

void ResetGpsRam() {
  std::memset(ctrama_rx_gps, 0, sizeof ctrama_rx_gps);
  ibytes_recibidos_trama_gps = 0;
  cpeticion_nueva_hora = 0;
  cfecha_capturada = 0;
  cgps_configurado = 0;
  creceptor_gps_mudo = 0;
  cestado_gps = 1;
  iposicion_inicio_trama_gps = iposicion_fin_trama_gps = 0;
  cgps_con_datos_validos = 0;
  chora_gps = cminuto_gps = csegundo_gps = cdia_gps = cmes_gps = cano_gps = 0;
  csatelites = 0;
  cgrados_latitud_gps = cminutos_latitud_gps = 0;
  idiez_milesimas_minutos_latitud_gps = 0;
  cnorte_sur_gps = 0;
  cgrados_longitud_gps = cminutos_longitud_gps = 0;
  idiez_milesimas_minutos_longitud_gps = 0;
  ceste_oeste_gps = 0;
  cpdop = chdop = cvdop = 99;
  cgrados_latitud = cminutos_latitud = 0;
  idiez_milesimas_minutos_latitud = 0;
  cnorte_sur = 'N';
  cgrados_longitud = cminutos_longitud = 0;
  idiez_milesimas_minutos_longitud = 0;
  ceste_oeste = 'W';
  CONT_TRAMAS_GPS = 0;

  Tiempo_Ajustar_Hora = 1;
  Tiempo_Capturar_Hora_Inicial = 1;
  Tiempo_Revision_Hora_GPS = 0;
  CONT_TIEMPO_MICRO_FINAL = 0;
  Tiempo_SBG_Ini = Tiempo_SBG_Fin = Tiempo_SBG_Diferencia = 0;
  cdia_gps_anterior = chora_gps_anterior = cminuto_gps_anterior = csegundo_gps_anterior = 0;
  cdia_comparativa = chora_comparativa = cminuto_comparativa = csegundo_comparativa = 0;
  Tiempo_Diferencia_gps = Tiempo_Diferencia_Comparativa = Tiempo_Resta = 0;
  Tiempo_Calculo = 0.0;
  CTE_AJUSTE_RELOJ = 0;  // the clock-rate side has its own tests

  std::memset(ibytes_a_escribir_sd, 0, sizeof ibytes_a_escribir_sd);
  std::memset(cbuffer_zrx03, 0, sizeof cbuffer_zrx03);
  ccalculo_checksum_nmea = 0;
  cchecksum_nmea_zrx03 = 0;
  cdatos_tx_zrx03 = 0;
  cRevision_Resets_24h = 0;
}

std::string Nmea(const std::string& body) {
  uint8_t x = 0;
  for (char c : body) x ^= uint8_t(c);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", x);
  return "$" + body + tail;
}

uint8_t XorBetween(const std::string& frame) {
  uint8_t x = 0;
  size_t star = frame.find('*');
  for (size_t i = frame.find('$') + 1; i < star; ++i) x ^= uint8_t(frame[i]);
  return x;
}

void ScriptedReceiver::on_byte(sim::Board& board, uint8_t byte, sim::Cycles t) {
  received.push_back(byte);
  // a CFG-MSG is 11 bytes from its B5 62
  if (pending_.empty() && byte != 0xB5) return;
  pending_.push_back(byte);
  if (pending_.size() == 2 && byte != 0x62) {
    pending_.clear();
    return;
  }
  if (pending_.size() < 11) return;
  commands.push_back(pending_);
  command_times.push_back(t);
  pending_.clear();
  if (answers.empty()) return;
  size_t k = std::min(commands.size(), answers.size()) - 1;
  if (!answers[k].empty()) board.device_send(3, answers[k].data(), answers[k].size());
}

GpsFixture::GpsFixture() {
  ResetGpsRam();
  StartTickAndConsole();
  Serial3.begin(9600);
  board.attach(3, &gps);
  // listening: a time is wanted and the receiver has been configured
  cpeticion_nueva_hora = 1;
  cgps_configurado = 1;
  cestado_gps = 0;
}

void GpsFixture::Batch(const std::string& text) {
  board.device_send(3, text);
  // one pass a millisecond, as the loop runs, until the batch has been taken and handled
  bool started = false;
  for (int ms = 0; ms < 5000; ++ms) {
    run_ms(1);
    paso_gps();
    if (ibytes_recibidos_trama_gps > 0) started = true;
    else if (started) return;
  }
}

std::string GpsFixture::GoodBatch(const std::string& talker, char status,
                                  const std::string& hhmmss) {
  return Nmea(talker + "GGA," + hhmmss + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") +
         Nmea(talker + "RMC," + hhmmss + "," + status +
              ",4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W") +
         Nmea(talker + "GSA,A,3,04,05,,09,12,,,24,,,,,1.52,0.95,1.21");
}

std::string GpsFixture::TakeConsole() {
  run_ms(30);
  std::string s = console.text;
  console.text.clear();
  return s;
}

}  // namespace olas::test
