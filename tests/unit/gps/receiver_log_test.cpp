// The GPS step against receivers rather than single batches: a real u-blox LEA-5H log replayed as
// the receiver sent it (checked against gpsd's decoding of the same log), and the simulated live
// receiver from power-up to the first accepted fix.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "board/placa.h"
#include "comms/comunicaciones_pc.h"
#include "core/reloj.h"
#include "gps/modulo_gps.h"
#include "sim/world/gps_receiver.h"
#include "unit/gps/gps_fixture.h"

namespace olas::test {
namespace {

namespace fs = std::filesystem;

const fs::path kLog = fs::path(__FILE__).parent_path() / "../../data/nmea/ublox-lea-5h.log";

class ReceiverLog : public GpsFixture {
 protected:
  ReceiverLog() {
    pinMode(17, OUTPUT);
    digitalWrite(17, HIGH);  // receiver off until the step asks for it
    cgps_configurado = 0;
    cestado_gps = 1;
  }
  // The loop's GPS step, pass after pass, until a frame is queued or `seconds` have gone by.
  void RunGpsStep(double seconds) {
    const sim::Cycles end = board.now() + board.cycles_for(seconds);
    while (board.now() < end && cdatos_tx_zrx03 == 0) {
      paso_gps();
      run_ms(1);
    }
  }
  // First "lat" and "lon" of gpsd's decoding.
  static std::pair<double, double> GpsdPosition() {
    std::ifstream in(kLog.string() + ".chk");
    std::stringstream ss;
    ss << in.rdbuf();
    std::smatch m;
    std::string text = ss.str();
    EXPECT_TRUE(std::regex_search(text, m, std::regex("\"lat\":([-0-9.]+),\"lon\":([-0-9.]+)")));
    return {std::stod(m[1]), std::stod(m[2])};
  }
};

TEST_F(ReceiverLog, RealLogSetsTheClockToItsFirstValidRmcAndGpsdsPosition) {
  sim::GpsReceiverConfig cfg;
  cfg.replay_path = kLog.string();
  sim::GpsReceiver rx(board, cfg);
  rx.start();

  cpeticion_nueva_hora = 1;
  RunGpsStep(1.9);
  // the receiver's start-up text came first: nothing set by it
  EXPECT_EQ(rx.replay_sent(), 1u);
  EXPECT_EQ(cano_utc, 0);
  EXPECT_EQ(cdatos_tx_zrx03, 0);

  RunGpsStep(5);
  ASSERT_EQ(cdatos_tx_zrx03, 1);
  EXPECT_EQ(rx.replay_sent(), 2u);  // the first epoch with an RMC was enough
  EXPECT_EQ(cdia_utc, 21);
  EXPECT_EQ(cmes_utc, 8);
  EXPECT_EQ(cano_utc, 10);
  EXPECT_EQ(chora_utc, 8);
  EXPECT_EQ(cminuto_utc, 37);
  EXPECT_EQ(csegundo_utc, 23);
  // the receiver acknowledged all five commands; a replay does not obey them
  EXPECT_EQ(rx.stats().acks, 7u);  // GSV, GLL, RMC, VTG, ZDA, then GGA and GSA on

  std::string frame(cbuffer_zrx03);
  const std::string body = "GPS,10,08,21,08,37,23,06,51,55,55442,N,004,34,65873,E,03,02,02";
  ASSERT_EQ(frame.substr(0, body.size() + 1), "$" + body);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", XorBetween(frame));
  EXPECT_EQ(frame.substr(body.size() + 1), tail);

  // the frame's position is gpsd's to the frame's precision (1e-5 minute)
  auto [lat, lon] = GpsdPosition();
  double frame_lat =
      cgrados_latitud + (cminutos_latitud + idiez_milesimas_minutos_latitud * 1e-5) / 60.0;
  double frame_lon =
      cgrados_longitud + (cminutos_longitud + idiez_milesimas_minutos_longitud * 1e-5) / 60.0;
  EXPECT_NEAR(frame_lat, lat, 0.5e-5 / 60.0);
  EXPECT_NEAR(frame_lon, lon, 0.5e-5 / 60.0);
}

TEST_F(ReceiverLog, LiveReceiverFromPowerUpToTheFirstFix) {
  sim::GpsReceiverConfig cfg;
  cfg.start_utc = sim::unix_from_civil(2026, 12, 7, 14, 20, 0);
  cfg.ttff_s = 5;
  cfg.talker = "GN";
  cfg.lat_deg = -33.856789;
  cfg.lon_deg = 151.215432;
  sim::GpsReceiver rx(board, cfg);
  rx.start();
  EXPECT_FALSE(rx.powered());

  cpeticion_nueva_hora = 1;
  sim::Cycles t0 = board.now();
  RunGpsStep(10);
  ASSERT_EQ(cdatos_tx_zrx03, 1);
  // switched on by the step, configured, then fixed after its time to first fix
  EXPECT_TRUE(rx.powered());
  EXPECT_EQ(rx.stats().acks, 7u);  // GSV, GLL, RMC, VTG, ZDA, then GGA and GSA on
  EXPECT_EQ(rx.rate(0x03), 0);  // GSV off
  EXPECT_EQ(rx.rate(0x04), 1);  // RMC on
  double t = board.seconds(board.now() - t0);
  EXPECT_GT(t, 5.0);
  EXPECT_LT(t, 7.0);
  // the clock is the fix's whole second: true UTC at most a second earlier than now
  int64_t fw = sim::unix_from_civil(2000 + cano_utc, cmes_utc, cdia_utc, chora_utc, cminuto_utc,
                                    csegundo_utc);
  double truth = double(cfg.start_utc) + board.seconds(board.now());
  EXPECT_LE(double(fw), truth);
  EXPECT_GT(double(fw), truth - 1.0);
  EXPECT_EQ(std::string(cbuffer_zrx03).substr(0, 63),
            "$GPS,26,12,07,14,20,0" + std::to_string(csegundo_utc) +
                ",08,33,51,40734,S,151,12,92592,E,01,00,01");

  // the next pass switches it off, and it forgets its configuration
  paso_gps();
  run_ms(15);
  EXPECT_FALSE(rx.powered());
  EXPECT_EQ(rx.rate(0x03), 1);
}

}  // namespace
}  // namespace olas::test
