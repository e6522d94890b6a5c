// The simulated GPS receiver on a board with a stand-in MCU that powers it through pin 17, keeps
// every byte reaching Serial3 with its time, and sends it UBX frames: the epochs and their
// sentences, the fix, the UBX answers and configuration, power, replay, and the fixes it records.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include "sim/board.h"
#include "sim/world/gps_receiver.h"
#include "sim/text.h"
#include "unit/world/port_listener.h"

namespace {

namespace fs = std::filesystem;
using sim::Board;
using sim::Cycles;
using sim::GpsReceiver;
using sim::GpsReceiverConfig;

std::vector<olas::test::RxByte>& g_rx = olas::test::ReceivedBytes();

struct Line {
  std::string text;  // without CR LF
  double t;          // arrival of its first byte, true seconds
};

class GpsReceiverTest : public ::testing::Test {
 protected:
  explicit GpsReceiverTest(double ppm = 0) : board(Board::Config{ppm, 1000, 5000, ""}) {
    olas::test::ListenOn(board, 3, 9600);
    board.pin_set_mode(17, 1);
    board.pin_write(17, 1);
  }
  void Start(GpsReceiverConfig cfg) {
    cfg.start_utc = kStart;
    rx = std::make_unique<GpsReceiver>(board, cfg);
    rx->start();
  }
  void Power(bool on) { board.pin_write(17, on ? 0 : 1); }
  void RunTo(double true_s) {
    const Cycles end = board.cycles_for(true_s);
    while (board.now() < end)
      board.hal_delay(uint32_t(std::min<Cycles>(end - board.now(), 1u << 30)));
  }
  void Send(const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) {
      while (!board.uart_tx_ready(3)) {
      }
      board.uart_tx_put(3, b);
    }
  }
  // Lines received since `from` (index into g_rx); checks each one's checksum and CR LF.
  std::vector<Line> Lines(size_t from = 0) {
    std::vector<Line> out;
    std::string cur;
    Cycles t0 = 0;
    for (size_t i = from; i < g_rx.size(); ++i) {
      if (cur.empty()) t0 = g_rx[i].t;
      cur.push_back(char(g_rx[i].byte));
      if (g_rx[i].byte == '\n') {
        EXPECT_GE(cur.size(), 2u);
        EXPECT_EQ(cur[cur.size() - 2], '\r') << cur;
        cur.resize(cur.size() - 2);
        if (!cur.empty() && cur[0] == '$') {
          size_t star = cur.find('*');
          EXPECT_NE(star, std::string::npos) << cur;
          char hex[3];
          std::snprintf(hex, sizeof hex, "%02X", sim::nmea_xor(cur));
          EXPECT_EQ(cur.substr(star + 1), hex) << cur;
        }
        out.push_back({cur, board.seconds(t0)});
        cur.clear();
      }
    }
    return out;
  }
  static std::string Id(const std::string& line) {
    return line.size() >= 6 ? line.substr(3, 3) : "";
  }
  std::vector<uint8_t> BytesFrom(size_t from) {
    std::vector<uint8_t> b;
    for (size_t i = from; i < g_rx.size(); ++i) b.push_back(g_rx[i].byte);
    return b;
  }

  static constexpr int64_t kStart = 1796653200;  // 2026-12-07T14:20:00Z
  Board board;
  std::unique_ptr<GpsReceiver> rx;
};

class GpsReceiverFastClock : public GpsReceiverTest {
 protected:
  GpsReceiverFastClock() : GpsReceiverTest(300.0) {}
};

TEST_F(GpsReceiverTest, SilentUntilPoweredThenNoFixThenFixAfterTtff) {
  GpsReceiverConfig cfg;
  cfg.ttff_s = 3;
  Start(cfg);
  RunTo(1.9);
  EXPECT_TRUE(g_rx.empty());
  EXPECT_FALSE(rx->powered());

  Power(true);  // at 1.9 s: first epoch at 3 s (after booting), fix from 4.9 s on
  RunTo(7.9);
  auto lines = Lines();
  std::vector<std::string> rmc;
  std::map<std::string, int> count;
  for (const auto& l : lines) {
    ++count[Id(l.text)];
    if (Id(l.text) == "RMC") rmc.push_back(l.text);
  }
  ASSERT_EQ(rmc.size(), 5u);  // epochs at 3, 4, 5, 6, 7 s
  EXPECT_EQ(rmc[0], "$GPRMC,,V,,,,,,,,,,N*53");
  EXPECT_EQ(rmc[1], "$GPRMC,,V,,,,,,,,,,N*53");
  EXPECT_EQ(rmc[2].substr(0, 50), "$GPRMC,142005.00,A,4327.73800,N,00348.59400,W,0.01");
  EXPECT_NE(rmc[2].find(",071226,"), std::string::npos);
  EXPECT_EQ(rmc[4].substr(0, 17), "$GPRMC,142007.00,");
  // the u-blox default output: each of the six in every epoch (GSV over several lines)
  for (const char* id : {"VTG", "GGA", "GSA", "GLL"}) EXPECT_EQ(count[id], 5) << id;
  EXPECT_EQ(count["ZDA"], 0);
  EXPECT_GE(count["GSV"], 5);
  EXPECT_EQ(rx->stats().fix_epochs, 3u);

  // the epoch's first byte leaves shortly after the whole second, in the u-blox order
  for (const auto& l : lines) {
    if (Id(l.text) == "RMC") {
      double frac = l.t - std::floor(l.t);
      EXPECT_NEAR(frac, 0.1, 0.002) << l.text;
    }
  }
  std::vector<std::string> order;
  for (const auto& l : lines)
    if (l.text.substr(0, 17) == "$GPRMC,142007.00," || (!order.empty() && order.size() < 7))
      order.push_back(Id(l.text));
  EXPECT_EQ(order, (std::vector<std::string>{"RMC", "VTG", "GGA", "GSA", "GSV", "GSV", "GSV"}));
}

TEST_F(GpsReceiverTest, FixSentencesCarryTheConfiguredSolution) {
  GpsReceiverConfig cfg;
  cfg.ttff_s = 0;
  cfg.satellites = 6;
  cfg.pdop = 2.5;
  cfg.hdop = 1.25;
  cfg.vdop = 2.0;
  cfg.lat_deg = -12.5;
  cfg.lon_deg = 0.000001;
  Power(true);
  Start(cfg);
  RunTo(1.9);
  auto lines = Lines();
  std::map<std::string, std::string> first;
  for (const auto& l : lines) first.emplace(Id(l.text), l.text);
  EXPECT_EQ(first["GGA"].substr(0, 65),
            "$GPGGA,142001.00,1230.00000,S,00000.00006,E,1,06,1.25,12.0,M,50.2");
  EXPECT_EQ(first["GSA"].substr(0, 50), "$GPGSA,A,3,02,05,07,09,13,15,,,,,,,2.50,1.25,2.00*");
  EXPECT_EQ(first["GLL"].substr(0, 48), "$GPGLL,1230.00000,S,00000.00006,E,142001.00,A,A*");
  EXPECT_EQ(first["GSV"].substr(0, 13), "$GPGSV,2,1,08");
}

TEST_F(GpsReceiverTest, TalkerNeverFixAndTooFewSatellites) {
  GpsReceiverConfig cfg;
  cfg.ttff_s = 0;
  cfg.talker = "GN";
  cfg.satellites = 3;  // a 2D fix, which the firmware refuses
  Power(true);
  Start(cfg);
  RunTo(1.9);
  auto lines = Lines();
  std::map<std::string, std::string> first;
  for (const auto& l : lines) first.emplace(l.text.substr(0, 6), l.text);
  EXPECT_EQ(first.count("$GNRMC"), 1u);
  EXPECT_EQ(first.count("$GNGGA"), 1u);
  EXPECT_EQ(first.count("$GPGSV"), 1u);  // satellites in view stay per constellation
  EXPECT_NE(first["$GNGGA"].find(",1,03,"), std::string::npos);
  EXPECT_EQ(first["$GNGSA"].substr(0, 10), "$GNGSA,A,2");
}

TEST_F(GpsReceiverTest, NeverFixesWhenToldOrWithFewerThanThreeSatellites) {
  GpsReceiverConfig never;
  never.ttff_s = 0;
  never.never_fix = true;
  Power(true);
  Start(never);
  RunTo(60);
  for (const auto& l : Lines()) {
    if (Id(l.text) == "RMC") {
      EXPECT_EQ(l.text, "$GPRMC,,V,,,,,,,,,,N*53");
    }
  }
  EXPECT_EQ(rx->stats().epochs, 59u);
  EXPECT_EQ(rx->stats().fix_epochs, 0u);

  // a second receiver on the same board replaces the first, which must fall silent
  GpsReceiverConfig two;
  two.ttff_s = 0;
  two.satellites = 2;
  Start(two);
  size_t from = g_rx.size();
  RunTo(65.5);
  EXPECT_EQ(rx->stats().fix_epochs, 0u);
  EXPECT_EQ(rx->stats().epochs, 5u);
  size_t rmc = 0;
  for (const auto& l : Lines(from)) rmc += Id(l.text) == "RMC";
  EXPECT_EQ(rmc, 5u);
}

TEST_F(GpsReceiverTest, CfgMsgIsAcknowledgedAndObeyedUntilPowerOff) {
  GpsReceiverConfig cfg;
  cfg.ttff_s = 0;
  Power(true);
  Start(cfg);
  RunTo(2.5);  // in the middle of the 2 s epoch's output
  size_t from = g_rx.size();
  Send(GpsReceiver::ubx(0x06, 0x01, {0xF0, 0x03, 0x00}));  // GSV off
  Cycles sent = board.now();
  RunTo(2.95);
  // the answer comes after the sentence being sent, not after the whole epoch
  std::vector<uint8_t> got = BytesFrom(from);
  const std::vector<uint8_t> ack = {0xB5, 0x62, 0x05, 0x01, 0x02, 0x00, 0x06, 0x01, 0x0F, 0x38};
  auto at = std::search(got.begin(), got.end(), ack.begin(), ack.end());
  ASSERT_NE(at, got.end());
  EXPECT_LT(board.seconds(g_rx[from + size_t(at - got.begin())].t - sent), 0.1);
  EXPECT_EQ(rx->rate(0x03), 0);

  // the 8-byte form (one rate per port) switches ZDA on for the UART, and a bad checksum gets NAK
  Send(GpsReceiver::ubx(0x06, 0x01, {0xF0, 0x08, 0, 1, 0, 0, 0, 0}));
  auto bad = GpsReceiver::ubx(0x06, 0x01, {0xF0, 0x04, 0x00});
  bad.back() ^= 0x55;
  from = g_rx.size();
  Send(bad);
  RunTo(3.0);
  got = BytesFrom(from);
  const std::vector<uint8_t> nak = {0xB5, 0x62, 0x05, 0x00, 0x02, 0x00, 0x06, 0x01, 0x0E, 0x33};
  EXPECT_NE(std::search(got.begin(), got.end(), nak.begin(), nak.end()), got.end());
  EXPECT_EQ(rx->rate(0x04), 1);  // the bad frame changed nothing
  EXPECT_EQ(rx->stats().acks, 2u);
  EXPECT_EQ(rx->stats().naks, 1u);
  from = g_rx.size();
  RunTo(3.9);
  std::map<std::string, int> count;
  for (const auto& l : Lines(from)) ++count[Id(l.text)];
  EXPECT_EQ(count["GSV"], 0);
  EXPECT_EQ(count["ZDA"], 1);
  EXPECT_EQ(count["RMC"], 1);

  // switched off and on: back to the default output
  Power(false);
  RunTo(4.5);
  EXPECT_EQ(rx->rate(0x03), 1);
  Power(true);
  from = g_rx.size();
  RunTo(6.9);
  count.clear();
  for (const auto& l : Lines(from)) ++count[Id(l.text)];
  EXPECT_GT(count["GSV"], 0);
  EXPECT_EQ(count["ZDA"], 0);
}

TEST_F(GpsReceiverTest, IgnoresInputWhileOffAndNoiseAlways) {
  GpsReceiverConfig cfg;
  Start(cfg);
  Send(GpsReceiver::ubx(0x06, 0x01, {0xF0, 0x03, 0x00}));
  RunTo(0.5);
  EXPECT_TRUE(g_rx.empty());
  EXPECT_GT(rx->stats().ignored_off, 0u);

  Power(true);
  RunTo(1.02);  // booted
  // noise, an absurd length, a text poll, then a good frame still works
  Send({0x00, 0xB5, 0x00, 0xB5, 0x62, 0x06, 0x01, 0xFF, 0xFF, 0x01});
  std::string poll = "$PUBX,03*30\r\n";
  Send(std::vector<uint8_t>(poll.begin(), poll.end()));
  Send(GpsReceiver::ubx(0x06, 0x01, {0xF0, 0x01, 0x00}));
  Send(GpsReceiver::ubx(0x0A, 0x04, {}));  // not a CFG frame: no answer
  RunTo(1.3);
  EXPECT_EQ(rx->stats().acks, 1u);
  EXPECT_EQ(rx->stats().nmea_in, 1u);
  EXPECT_EQ(rx->rate(0x01), 0);
}

TEST_F(GpsReceiverFastClock, EpochsFollowTrueTimeNotTheBoardsOscillator) {
  GpsReceiverConfig cfg;
  cfg.ttff_s = 0;
  Power(true);
  Start(cfg);
  RunTo(600.5);
  Line last;
  for (const auto& l : Lines())
    if (Id(l.text) == "RMC") last = l;
  EXPECT_EQ(last.text.substr(0, 17), "$GPRMC,143000.00,");  // 14:20:00 + 600 s of true time
  EXPECT_NEAR(last.t, 600.1 + 10.0 / 9600,
              1e-4);  // timed by the oscillator it would come 0.18 s early
  EXPECT_EQ(rx->stats().epochs, 600u);
  EXPECT_EQ(rx->stats().epochs_dropped, 0u);
}

TEST_F(GpsReceiverTest, ReplaysALogEpochByEpoch) {
  fs::path log = fs::temp_directory_path() / "olas_world_replay.log";
  {
    std::ofstream out(log, std::ios::binary);
    out << "# a comment\n$GPTXT,01,01,02,hello*00\n\n";
    out << "$GPRMC,000001.00,A,,,,,,,010101,,,A*00\r\n$GPGGA,first*00\n";
    const auto ack = GpsReceiver::ubx(0x05, 0x01, {0x06, 0x0A});  // binary, with a 0x0A inside
    out.write(reinterpret_cast<const char*>(ack.data()), std::streamsize(ack.size()));
    out << "#\n$GNRMC,000002.00,A*00\n$GPGSA,second*00\n";
  }
  GpsReceiverConfig cfg;
  cfg.replay_path = log.string();
  Start(cfg);
  EXPECT_EQ(rx->replay_epochs(), 3u);
  Power(true);
  RunTo(1.5);
  std::string got(g_rx.size(), ' ');
  for (size_t i = 0; i < g_rx.size(); ++i) got[i] = char(g_rx[i].byte);
  EXPECT_EQ(got, "$GPTXT,01,01,02,hello*00\r\n");
  // a power cut pauses the log; it goes on where it stopped
  Power(false);
  RunTo(5);
  Power(true);
  RunTo(9);
  got.assign(g_rx.size(), ' ');
  for (size_t i = 0; i < g_rx.size(); ++i) got[i] = char(g_rx[i].byte);
  const auto a = GpsReceiver::ubx(0x05, 0x01, {0x06, 0x0A});
  std::string ack_text(a.begin(), a.end());
  EXPECT_EQ(
      got,
      "$GPTXT,01,01,02,hello*00\r\n$GPRMC,000001.00,A,,,,,,,010101,,,A*00\r\n$GPGGA,first*00\r\n" +
          ack_text + "$GNRMC,000002.00,A*00\r\n$GPGSA,second*00\r\n");
  EXPECT_EQ(rx->replay_sent(), 3u);
  // resumed at the first whole second after booting again, then one epoch per second
  double first = board.seconds(g_rx[got.find("$GPRMC")].t);
  double second = board.seconds(g_rx[got.find("$GNRMC")].t);
  EXPECT_NEAR(first, 6.1, 0.002);
  EXPECT_NEAR(second - first, 1.0, 1e-6);

  fs::remove(log);
  EXPECT_THROW(GpsReceiver::read_log((fs::temp_directory_path() / "olas_no_such.log").string()),
               std::runtime_error);
  fs::path empty = fs::temp_directory_path() / "olas_world_empty.log";
  std::ofstream(empty) << "# only comments\n\n";
  EXPECT_THROW(GpsReceiver::read_log(empty.string()), std::runtime_error);
  fs::remove(empty);
}

TEST_F(GpsReceiverTest, RecordsEachFixTheFirmwareAccepts) {
  GpsReceiverConfig cfg;
  cfg.ttff_s = 0;
  Start(cfg);
  // a firmware whose clock runs 2.5 s behind true time, accepting the 3 s epoch
  sim::FirmwareClock fw;
  fw.boot = 1;
  fw.time_wanted = 1;
  fw.clock_rate = 48000;
  rx->set_clock_probe([&](sim::FirmwareClock& c) {
    double t = board.seconds(board.now()) - 2.5;
    int64_t unix_t = kStart + int64_t(std::floor(t));
    sim::CivilTime ct = sim::civil_from_unix(unix_t);
    fw.year = uint8_t(ct.year % 100);
    fw.month = uint8_t(ct.month);
    fw.day = uint8_t(ct.day);
    fw.hour = uint8_t(ct.hour);
    fw.minute = uint8_t(ct.minute);
    fw.second = uint8_t(ct.second);
    fw.sub_s = t - std::floor(t);
    c = fw;
    return true;
  });
  Power(true);
  RunTo(3.9);
  fw.time_wanted = 0;  // the firmware took the 3 s epoch
  fw.clock_rate = 48010;
  RunTo(4.9);
  ASSERT_EQ(rx->fixes().size(), 1u);
  const auto& f = rx->fixes()[0];
  EXPECT_GT(f.t_s, 3.1);
  EXPECT_LT(f.t_s, 3.9);
  ASSERT_TRUE(f.error_s.has_value());
  EXPECT_NEAR(*f.error_s, -2.5, 0.002);
  EXPECT_EQ(f.clock_rate, 48000);  // the rate in force before the fix
  EXPECT_EQ(f.true_utc.substr(0, 20), "2026-12-07T14:20:03.");
  EXPECT_EQ(f.clock_before.substr(0, 17), "07/12/26 14:20:01");

  // a request dropped by a new boot is no fix; a clock without a date records no error
  fw.boot = 2;
  fw.time_wanted = 1;
  RunTo(5.9);
  fw.boot = 3;
  fw.time_wanted = 0;
  RunTo(6.8);
  EXPECT_EQ(rx->fixes().size(), 1u);
  fw.time_wanted = 1;
  fw.year = 0;
  rx->set_clock_probe([&](sim::FirmwareClock& c) {
    c = fw;
    return true;
  });
  RunTo(7.8);
  fw.time_wanted = 0;
  Power(false);  // the power-off check finds it
  ASSERT_EQ(rx->fixes().size(), 2u);
  EXPECT_FALSE(rx->fixes()[1].error_s.has_value());
  rx->check_fixes();
  EXPECT_EQ(rx->fixes().size(), 2u);
}

}  // namespace
