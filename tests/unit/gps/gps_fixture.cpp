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
#include "sim/text.h"

namespace olas::test {

void ResetGpsRam() {
  RestoreFirmwareRam();
  CTE_AJUSTE_RELOJ = 0;  // the clock-rate side has its own tests
}

std::string Nmea(const std::string& body) { return sim::nmea_sentence(body); }

uint8_t XorBetween(const std::string& frame) { return sim::nmea_xor(frame.substr(frame.find('$'))); }

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

void GpsFixture::BatchOnRequest(const std::string& text) {
  cdatos_tx_zrx03 = 0;
  cpeticion_nueva_hora = 1;
  Batch(text);
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
