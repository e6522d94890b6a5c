// One pass of the main loop: the clock display, the burst rules of the sensor and host ports,
// the queued host answer and the reset the host asks for.
#include <algorithm>
#include <cstring>
#include <string>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "gps/modulo_gps.h"
#include "host/zrx03.h"
#include "sensor/sensor.h"
#include "settings/virtual_e2prom.h"
#include "unit/core/firmware_ram.h"
#include "unit/sensor/sbg_frames.h"
#include "waves/waves.h"

namespace olas::test {
namespace {

constexpr sim::Cycles kMs = 48000;
constexpr sim::Cycles kHostByte = 12500;  // 10 bits at 38400 baud

class LoopTest : public FirmwareFixture {
 protected:
  void SetUp() override {
    board.attach(2, &sensor);
    setup();
    // these tests look at the burst rules alone: no GPS time wanted, no card logging
    cpeticion_nueva_hora = 0;
    CTE_PERMITIR_ESCRITURA_SD = 0;
    run_ms(50);
    console.text.clear();
    host.text.clear();
    cmostramos_hora = 0;  // a clock print would hold the pass for longer than the sensor ring lasts
  }
  // Queues a host answer the way the record builders do.
  void QueueAnswer(const std::string& answer) {
    std::memset(cbuffer_zrx03, 0, sizeof cbuffer_zrx03);
    std::memcpy(cbuffer_zrx03, answer.data(), answer.size());
    ibytes_a_escribir_sd[3] = uint32_t(answer.size());
    cdatos_tx_zrx03 = 1;
  }
  // Sends text from the host; returns when its last byte will have arrived.
  sim::Cycles HostSends(const std::string& s) {
    board.device_send(0, s);
    return board.now() + s.size() * kHostByte;
  }
  std::string HostFrame() const { return std::string(ctrama_rx_zrx03, ccantidad_bytes_rx_zrx03); }
  // Passes of the loop for about ms milliseconds; returns the longest pass, in ms.
  double Passes(double ms) {
    sim::Cycles end = board.now() + sim::Cycles(ms * kMs), longest = 0;
    while (board.now() < end) {
      sim::Cycles t = board.now();
      loop();
      longest = std::max(longest, board.now() - t);
    }
    return double(longest) / kMs;
  }

  Capture sensor{115200};
};

TEST_F(LoopTest, FirstPassPrintsTheUnsetClock) {
  ASSERT_EQ(csegundo_utc, 0);  // setup and its settings took less than a second
  cacciones_cada_segundo = 0;
  cmostramos_hora = 1;
  loop();
  run_ms(20);
  const std::string stars(63, '*');
  EXPECT_EQ(console.text, "\r\n" + stars + "\r\n\t\t00/00/00\t00:00:00\r\n" + stars + "\r\n");
  EXPECT_EQ(cmostramos_hora, 0);

  // a year past 99 prints whole
  SetClock(1, 1, 100, 0, 0, 7);
  cmostramos_hora = 1;
  console.text.clear();
  loop();
  run_ms(20);
  EXPECT_NE(console.text.find("\t\t01/01/100\t00:00:07\r\n"), std::string::npos);
}

TEST_F(LoopTest, SensorBurstKeepsAtMost1024BytesAndLosesNone) {
  std::string data(1026, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 7 + 3);

  // fewer than 1024 bytes: handed over after the 2 ms silence
  board.device_send(2, data.substr(0, 1000));
  sim::Cycles last = board.now() + 1000 * 4167;  // 10 bits at 115200 baud
  run_ms(0.2);
  resSbgOk = 0;
  loop();
  EXPECT_EQ(icantidad_bytes_rx_sensor, 1000u);
  EXPECT_EQ(std::memcmp(ctrama_sensor_rx, data.data(), 1000), 0);
  EXPECT_EQ(resSbgOk, 1);
  // the burst waited for the silence; the rest of the pass polls idle ports for a tick or two
  EXPECT_GE(board.now(), last + 1 * kMs);
  EXPECT_LE(board.now(), last + 5 * kMs);

  // 1026 bytes: the burst ends on its 1024th byte, the other two wait in the ring
  run_ms(5);
  board.device_send(2, data);
  run_ms(0.2);
  loop();
  EXPECT_EQ(icantidad_bytes_rx_sensor, 1024u);
  EXPECT_EQ(std::memcmp(ctrama_sensor_rx, data.data(), 1024), 0);
  EXPECT_EQ(cbuffer_sensor_lleno, 0);
  run_ms(1);
  ASSERT_EQ(Serial2.available(), 2);
  EXPECT_EQ(Serial2.read(), uint8_t(data[1024]));
  EXPECT_EQ(Serial2.read(), uint8_t(data[1025]));
  EXPECT_EQ(board.stats(2).dropped, 0u);
}

TEST_F(LoopTest, ABacklogOfFramesInTheSensorRingIsDecodedWhole) {
  // 12 samples (2124 bytes) piled up in the ring while the loop was busy: the bursts are cut at
  // 1024 bytes, and the frame each cut splits is carried into the next burst
  CTE_AJUSTE_RELOJ = 0;
  Bytes backlog;
  for (uint32_t k = 0; k < 12; ++k) {
    Bytes s = Concat({EulerFrame(1000000 + 100000 * k, 0.5f), NavFrame(1000000 + 100000 * k, 0.1f, 0.2f),
                      ShipFrame(1000000 + 100000 * k, 0.3f + 0.01f * float(k))});
    backlog.insert(backlog.end(), s.begin(), s.end());
  }
  board.device_send(2, backlog.data(), backlog.size());
  run_ms(200);  // all of it waits in the ring
  EXPECT_EQ(Serial2.available(), int(backlog.size()));
  const int32_t before = contPtosOlaActual;
  const uint32_t lost = CONTADOR_MUESTRAS_PERDIDAS;
  Passes(20);
  EXPECT_EQ(contPtosOlaActual - before, 12);
  EXPECT_EQ(CONTADOR_MUESTRAS_PERDIDAS, lost);
  EXPECT_EQ(board.stats(2).dropped, 0u);
}

TEST_F(LoopTest, HostFramesAreTakenFromTheirDollarToTheirChecksumWithoutHoldingTheLoop) {
  // a frame with its CR LF is taken at once
  HostSends("$ZRX03,2*41\r\n");
  Passes(5);
  EXPECT_EQ(HostFrame(), "$ZRX03,2*41\r\n");
  Passes(20);  // its answer goes out

  // two frames back to back, the first without a line end, padding and garbage around them:
  // each is handled, in order, the second once the first's answer has left
  host.text.clear();
  HostSends(std::string("\0 xx$ZRX03,1,5*57$ZRX03,1,19*6A\r\n\0\0", 35));
  Passes(100);
  EXPECT_EQ(HostFrame(), "$ZRX03,1,19*6A\r\n");
  const size_t first = host.text.find("$OLA,01,01,05,"), second = host.text.find("$OLA,01,01,19,");
  EXPECT_NE(first, std::string::npos) << host.text;
  EXPECT_NE(second, std::string::npos) << host.text;
  EXPECT_LT(first, second);

  // without a line end a 60 ms gap keeps one frame, ended by the silence after its checksum ...
  sim::Cycles last = HostSends("$ZRX03,");
  board.schedule(last + 60 * kMs - kHostByte, [this] { board.device_send(0, "2*41"); });
  EXPECT_LT(Passes(200), 5.0);  // the loop is never held while the frame comes in
  EXPECT_EQ(HostFrame(), "$ZRX03,2*41");

  // ... and after a 120 ms gap the rest has no '$': it is no frame and is skipped
  ccantidad_bytes_rx_zrx03 = 0;
  last = HostSends("$ZRX03,");
  board.schedule(last + 120 * kMs - kHostByte, [this] { board.device_send(0, "2*41\r\n"); });
  Passes(110);
  EXPECT_EQ(HostFrame(), "$ZRX03,");
  Passes(150);
  EXPECT_EQ(HostFrame(), "$ZRX03,");

  // a host line that chatters a byte every 50 ms for a second holds no pass
  for (int i = 0; i < 20; ++i) board.schedule(board.now() + sim::Cycles(i) * 50 * kMs, [this] { board.device_send(0, "x"); });
  EXPECT_LT(Passes(1000), 5.0);
}

TEST_F(LoopTest, HostBurstLongerThanTheBufferKeepsItsFirst128Bytes) {
  std::string burst = "$";
  for (size_t i = 1; i < 200; ++i) burst.push_back(char('A' + i % 26));
  HostSends(burst);
  Passes(200);
  EXPECT_EQ(ccantidad_bytes_rx_zrx03, 128);
  EXPECT_EQ(HostFrame(), burst.substr(0, 128));
  EXPECT_EQ(Serial.available(), 0);
  EXPECT_EQ(board.stats(0).dropped, 0u);
}

TEST_F(LoopTest, WaitingAnswerIsSentAndHostInputWaitsForTheNextPass) {
  const std::string answer = "$OLA,02,04*1F\r\n";
  QueueAnswer(answer);
  cpeticion_nueva_hora = 1;
  cgps_configurado = 1;
  cestado_gps = 0;
  ccantidad_bytes_rx_zrx03 = 99;
  sim::Cycles last = HostSends("$ZRX03,2*41\r\n");
  run_ms(double(last - board.now()) / kMs + 1);
  loop();
  run_ms(10);
  EXPECT_EQ(host.text, answer);
  EXPECT_EQ(cdatos_tx_zrx03, 0);
  EXPECT_EQ(ccantidad_bytes_rx_zrx03, 99);
  EXPECT_EQ(Serial.available(), 13);
  // with a frame waiting the GPS step switched the receiver off, even though a time is wanted
  EXPECT_EQ(cgps_configurado, 0);
  EXPECT_EQ(cestado_gps, 1);

  cpeticion_nueva_hora = 0;  // keep the GPS configuration out of the next pass
  loop();
  EXPECT_EQ(HostFrame(), "$ZRX03,2*41\r\n");
}

TEST_F(LoopTest, NoWavesResetIsAnnouncedAndHaltsFromTheLoop) {
  ctimeout_reset_general = 1;
  sim::Cycles t0 = board.now();
  EXPECT_THROW(Passes(10000), sim::McuReset);
  EXPECT_NE(console.text.find("0,RESET GENERAL POR FALTA DE OLAS (LOOP)\r\n"), std::string::npos);
  ASSERT_FALSE(board.resets().empty());
  EXPECT_EQ(board.resets().back().cause, "watchdog after halt");
  // the request at the next second mark, the reset about 4 s after the last watchdog restart
  double at = double(board.resets().back().t - t0) / 48e6;
  EXPECT_GT(at, 4.0);
  EXPECT_LT(at, 5.1);
  creset_falta_de_olas = 0;
}

TEST_F(LoopTest, RequestedResetWaitsForTheAnswerThenStopsAboutOneSecondLater) {
  const std::string answer = "$OLA,01,09,01*2A\r\n";
  QueueAnswer(answer);
  creset = 1;
  sim::Cycles t0 = board.now();
  EXPECT_THROW(loop(), sim::McuReset);
  EXPECT_EQ(host.text, answer);
  ASSERT_FALSE(board.resets().empty());
  EXPECT_EQ(board.resets().back().cause, "watchdog after halt");
  // 0.9 to 1 s of waiting, then the 4 s watchdog period
  double at = double(board.resets().back().t - t0) / 48e6;
  EXPECT_GE(at, 4.9);
  EXPECT_LE(at, 5.01);
}

}  // namespace
}  // namespace olas::test
