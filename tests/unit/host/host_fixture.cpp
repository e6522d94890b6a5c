#include "unit/host/host_fixture.h"

#include <cstdio>
#include <cstring>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "declaraciones.h"
#include "gps/modulo_gps.h"
#include "host/zrx03.h"
#include "sensor/sensor.h"
#include "waves/analisis_olas.h"
#include "waves/correccion_reloj.h"
#include "waves/waves.h"
#include "sim/text.h"

namespace olas::test {

std::string HostFrame(const std::string& body) {
  uint8_t x = 0;
  for (size_t i = 1; i < body.size(); ++i) x = uint8_t(x ^ uint8_t(body[i]));
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", x);
  return body + tail;
}

bool ChecksumRight(const std::string& answer) {
  size_t star = answer.find('*');
  if (answer.empty() || answer[0] != '$' || star == std::string::npos || answer.size() != star + 5) return false;
  if (answer.compare(star + 3, 2, "\r\n") != 0) return false;
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", sim::nmea_xor(answer));
  return answer.compare(star + 1, 2, hex) == 0;
}

std::string Body(const std::string& answer) {
  size_t star = answer.find('*');
  if (answer.empty() || answer[0] != '$' || star == std::string::npos) return "";
  return answer.substr(1, star - 1);
}

HostTest::HostTest() {
  board.attach(2, &sensor);
  setup();
  run_ms(50);
  cpeticion_nueva_hora = 0;  // no GPS receiver on this board: the loop would keep configuring one
  cmostramos_hora = 0;
  // the first passes try the absent card and then pause its cycle for a minute
  LoopFor(20);
  console.text.clear();
  host.text.clear();
}

std::string HostTest::Handle(const std::string& bytes) {
  std::memset(ctrama_rx_zrx03, 0, sizeof ctrama_rx_zrx03);
  size_t n = bytes.size() < sizeof ctrama_rx_zrx03 ? bytes.size() : sizeof ctrama_rx_zrx03;
  std::memcpy(ctrama_rx_zrx03, bytes.data(), n);
  ccantidad_bytes_rx_zrx03 = uint8_t(n);
  cdatos_tx_zrx03 = 0;
  sodaq_wdt_reset();  // as every loop pass does
  procesamos_trama_zrx03();
  Serial1.flush();  // the console lines are on the wire before the test looks at them
  run_ms(0.1);
  if (cdatos_tx_zrx03 != 1) return "";
  cdatos_tx_zrx03 = 0;
  return std::string(cbuffer_zrx03, strnlen(cbuffer_zrx03, sizeof cbuffer_zrx03));
}

std::string HostTest::Ask(const std::string& body) {
  std::string answer = Handle(HostFrame(body));
  if (answer.empty()) return "";
  EXPECT_TRUE(ChecksumRight(answer)) << answer;
  EXPECT_EQ(ibytes_a_escribir_sd[BUFFER_ZRX03], answer.size());
  return Body(answer);
}

void HostTest::LoopFor(double ms) {
  sim::Cycles end = board.now() + sim::Cycles(ms * 48000.0);
  while (board.now() < end) {
    loop();
    run_ms(1);
  }
}

void HostTest::SendAndLoop(const std::string& bytes, double ms) {
  board.device_send(0, bytes);
  LoopFor(ms);
}

}  // namespace olas::test
