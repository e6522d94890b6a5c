// The firmware image with the simulated GPS receiver (and the motion unit where the clock-rate
// correction needs sensor time): the first fix from a cold start, the receiver's power through a
// synchronisation cycle, a day with a fast oscillator, a board without GPS; and the run's GPS
// options and summary.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "scenario/wave_checks.h"
#include "sensor_olas_sim/gps_setup.h"
#include "sensor_olas_sim/options.h"
#include "sim/board.h"
#include "sim/machine.h"
#include "sim/world/motion_unit.h"
#include "sim/world/recorder.h"
#include "sim/world/sea.h"
#include "sim/text.h"

namespace {

namespace fs = std::filesystem;
using olas::scenario::ReadFile;

const int64_t kStart = 1796653200;  // 2026-12-07T14:20:00Z

// A board with a blank flash (factory settings), the console and host recorded, optionally the
// motion unit on its sea and the GPS receiver, and the firmware image.
struct World {
  struct Setup {
    double ppm = 0;
    bool sensor = false;
    double sensor_hz = 10;
    double sensor_clock_ppm = 0;
    std::optional<sim::GpsReceiverConfig> gps = sim::GpsReceiverConfig{};
  };

  World(const std::string& name, const Setup& s)
      : dir(fresh(name)),
        board(config(dir, s.ppm)),
        console((dir / "console.log").string(), 115200),
        host((dir / "host.log").string(), 38400) {
    board.make_current();
    board.attach(1, &console);
    board.attach(0, &host);
    if (s.sensor) {
      sea.emplace(sim::SeaConfig{});
      sim::MotionUnitConfig u;
      u.rate_hz = s.sensor_hz;
      u.clock_ppm = s.sensor_clock_ppm;
      unit = std::make_unique<sim::MotionUnit>(board, &*sea, u);
      unit->start();
    }
    if (s.gps) {
      olas::GpsOptions o;
      o.receiver = *s.gps;
      gps = olas::setup_gps(board, o, kStart);
    }
    // every write to pin 17 (after the receiver's own watcher)
    auto previous = board.on_pin_write;
    board.on_pin_write = [this, previous](int pin, uint8_t level, sim::Cycles t) {
      if (previous) previous(pin, level, t);
      if (pin == 17) pin17.push_back({board.seconds(t), level});
    };
    machine = std::make_unique<sim::Machine>(board, OLAS_FIRMWARE_IMAGE);
    olas::connect_gps(gps, *machine);
  }
  ~World() {
    console.flush();
    host.flush();
  }

  static fs::path fresh(const std::string& name) {
    fs::path d = fs::temp_directory_path() / ("olas_scenario_gps_" + name);
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
  }
  static sim::Board::Config config(const fs::path& dir, double ppm) {
    sim::Board::Config c;
    c.ppm = ppm;
    c.flash_file = (dir / "flash.bin").string();
    return c;
  }

  void run_to(double true_s) { machine->run_until(board.cycles_for(true_s)); }
  template <class T>
  T read(sim::FirmwareGlobal<T> g) {
    return machine->read(g);
  }
  // The firmware's clock now, in Unix seconds (with the tick's part of the second).
  double firmware_utc() {
    sim::FirmwareClock c;
    EXPECT_TRUE(olas::firmware_clock_probe(*machine)(c));
    return double(sim::unix_from_civil(2000 + c.year, c.month, c.day, c.hour, c.minute, c.second)) +
           c.sub_s;
  }
  double true_utc() { return double(kStart) + board.seconds(board.now()); }
  sim::GpsReceiver& receiver() { return *gps.receiver; }

  struct PinEvent {
    double t;
    uint8_t level;
  };
  fs::path dir;
  sim::Board board;
  sim::Recorder console, host;
  std::optional<sim::Sea> sea;
  std::unique_ptr<sim::MotionUnit> unit;
  olas::GpsSetup gps;
  std::vector<PinEvent> pin17;
  std::unique_ptr<sim::Machine> machine;
};

std::vector<std::string> gps_frames(const std::string& host) {
  std::vector<std::string> out;
  for (size_t p = host.find("$GPS,"); p != std::string::npos; p = host.find("$GPS,", p + 1))
    out.push_back(host.substr(p, host.find("\r\n", p) + 2 - p));
  return out;
}

bool checksum_ok(const std::string& frame) {
  size_t star = frame.find('*');
  if (star == std::string::npos || star + 5 != frame.size()) return false;
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", sim::nmea_xor(frame));
  return frame.substr(star + 1) == std::string(hex) + "\r\n";
}

TEST(GpsScenario, ColdStartTakesTrueUtcWithinAMinute) {
  World w("cold", {});
  w.run_to(60);
  ASSERT_EQ(w.read(sim::fw::cfecha_capturada), 1);
  EXPECT_EQ(uint8_t(w.read(sim::fw::cpeticion_nueva_hora)), 0);
  EXPECT_LT(std::fabs(w.firmware_utc() - w.true_utc()), 1.0);

  ASSERT_EQ(w.receiver().fixes().size(), 1u);
  const auto& fix = w.receiver().fixes()[0];
  EXPECT_GT(fix.t_s, 30.0);  // after the time to first fix
  EXPECT_LT(fix.t_s, 33.0);
  EXPECT_FALSE(fix.error_s.has_value());  // the clock had no date before its first fix
  EXPECT_EQ(fix.clock_before.substr(0, 9), "00/00/00 ");

  w.host.flush();
  auto frames = gps_frames(ReadFile(w.dir / "host.log"));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_TRUE(checksum_ok(frames[0])) << frames[0];
  EXPECT_EQ(frames[0].substr(0, 20), "$GPS,26,12,07,14,20,");
  EXPECT_EQ(frames[0].substr(22, frames[0].find('*') - 21),
            ",08,43,27,73800,N,003,48,59400,W,01,00,01*");
  // the receiver was configured as the firmware wants it, then switched off
  EXPECT_EQ(w.receiver().stats().acks, 7u);  // five as the u-blox set-up, then GGA and GSA on
  EXPECT_FALSE(w.receiver().powered());
  EXPECT_TRUE(w.board.resets().empty());
}

TEST(GpsScenario, ReceiverPowerFollowsTheSynchronisationCycle) {
  World w("cycle", {});
  w.run_to(4 * 3600.0 + 120);
  // transitions of the pin after start-up (setup toggles it once)
  std::vector<World::PinEvent> ev;
  for (const auto& e : w.pin17)
    if (e.t > 0.5 && (ev.empty() || ev.back().level != e.level)) ev.push_back(e);
  ASSERT_GE(ev.size(), 3u);
  EXPECT_EQ(ev[0].level, 1);  // off after the first fix
  EXPECT_GT(ev[0].t, 30.0);
  EXPECT_LT(ev[0].t, 34.0);
  // factory settings: a new time every 4 hours, counted in hour boundaries of the clock, which
  // was set at 14:20:3x: the request comes at 18:00:00
  EXPECT_EQ(ev[1].level, 0);
  EXPECT_NEAR(ev[1].t, 3 * 3600.0 + 40 * 60, 3.0);
  EXPECT_EQ(ev.back().level, 1);
  ASSERT_EQ(w.receiver().fixes().size(), 2u);
  ASSERT_TRUE(w.receiver().fixes()[1].error_s.has_value());
  EXPECT_LT(std::fabs(*w.receiver().fixes()[1].error_s), 1.5);  // an exact oscillator
  w.host.flush();
  EXPECT_EQ(gps_frames(ReadFile(w.dir / "host.log")).size(), 2u);
  EXPECT_TRUE(w.board.resets().empty());
}

TEST(GpsScenario, WithoutGpsTheConfigurationGivesUpAndTheSensorIsServedAgain) {
  World::Setup s;
  s.sensor = true;
  s.gps.reset();
  World w("none", s);
  w.run_to(10);
  uint64_t dropped_during = w.board.stats(2).dropped;
  EXPECT_GT(dropped_during, 0u);  // the loop is held by the configuration
  w.run_to(26);
  w.console.flush();
  std::string console = ReadFile(w.dir / "console.log");
  size_t done = console.find("Tramas necesarias configuradas");
  ASSERT_NE(done, std::string::npos);
  EXPECT_EQ(console.find("Rx ACK"), std::string::npos);
  uint64_t dropped_after_config = w.board.stats(2).dropped;
  uint64_t delivered = w.board.stats(2).delivered;
  w.run_to(100);
  EXPECT_TRUE(w.board.resets().empty());
  // samples flow again: no more bytes lost, the sensor-time measurement starts and ends
  EXPECT_EQ(w.board.stats(2).dropped, dropped_after_config);
  EXPECT_GT(w.board.stats(2).delivered, delivered + 60 * 10 * 100);
  w.console.flush();
  console = ReadFile(w.dir / "console.log");
  // the sensor-time measurement starts in the receiver's start-up second and ends a minute later
  EXPECT_NE(console.find("TIEMPOS Inicio:"), std::string::npos);
  const size_t rate_at = console.find("CALCULO MICRO vs SBG: ", done);
  ASSERT_NE(rate_at, std::string::npos);
  // an exact oscillator: 47999 counts make the tick's 48000 cycles
  EXPECT_NEAR(std::stoi(console.substr(rate_at + 22)), 47999, 1);
  EXPECT_EQ(w.read(sim::fw::cfecha_capturada), 0);
}

void print_fixes(World& w) {
  const auto& fixes = w.receiver().fixes();
  std::printf("\n  fix  true UTC                   clock before            error (s)   rate\n");
  for (size_t i = 0; i < fixes.size(); ++i) {
    const auto& f = fixes[i];
    std::printf("  %3zu  %s   %s   %9s   %d\n", i + 1, f.true_utc.c_str(), f.clock_before.c_str(),
                f.error_s ? std::to_string(*f.error_s).c_str() : "-", f.clock_rate);
  }
  std::printf("  final CTE_VELOCIDAD_RELOJ %d\n", w.read(sim::fw::CTE_VELOCIDAD_RELOJ));
}

TEST(GpsScenario, FastOscillatorOverADayStaysWithinBounds) {
  World::Setup s;
  s.ppm = 300;
  s.sensor = true;
  s.sensor_hz = 1;  // the correction needs the sensor's time stamps, not many of them
  World w("day", s);
  w.run_to(24 * 3600.0);
  print_fixes(w);
  const auto& fixes = w.receiver().fixes();
  ASSERT_EQ(fixes.size(), 7u);  // at start-up, then every 4 hours of the clock
  for (const auto& f : fixes) {
    if (f.error_s) {
      EXPECT_LT(std::fabs(*f.error_s), 30.0) << f.true_utc;
    }
  }
  const double target = 48000 * (1 + 300e-6);
  EXPECT_NEAR(w.read(sim::fw::CTE_VELOCIDAD_RELOJ), target, 0.0015 * target);
  EXPECT_EQ(olas::gps_summary(w.gps)["fixes"].size(), fixes.size());
  EXPECT_TRUE(w.board.resets().empty());
}

TEST(GpsScenario, GpsComparisonCorrectsWhatTheSensorMeasurementMissed) {
  // A motion unit whose own clock runs 2000 ppm fast: the start-up measurement against it sets
  // about 48000 where 48096 is right for this 2000-ppm oscillator, so the clock gains about 29 s
  // in 4 hours, more than the 15 s the comparison with GPS lets pass.
  World::Setup s;
  s.ppm = 2000;
  s.sensor = true;
  s.sensor_hz = 1;
  s.sensor_clock_ppm = 2000;
  World w("fast", s);
  w.run_to(12 * 3600.0);
  print_fixes(w);
  const auto& fixes = w.receiver().fixes();
  ASSERT_EQ(fixes.size(), 4u);
  // the second fix is the reference, the third finds the clock fast and corrects
  EXPECT_NEAR(fixes[2].clock_rate, 48000, 3);
  ASSERT_TRUE(fixes[2].error_s && fixes[3].error_s);
  EXPECT_GT(std::fabs(*fixes[2].error_s), 15.0);
  EXPECT_LT(std::fabs(*fixes[3].error_s), 3.0);
  const double right = 48001 * (1 + 2000e-6) - 1;
  EXPECT_NEAR(fixes[3].clock_rate, right, right * 0.0002);
  EXPECT_TRUE(w.board.resets().empty());
}

// ---- the run's GPS options ----

std::string option_error(const std::optional<std::string>& gps, bool no_gps,
                         const std::optional<std::string>& replay) {
  try {
    olas::gps_options(gps, no_gps, replay);
  } catch (const olas::OptionError& e) {
    return e.what();
  }
  return "";
}

TEST(GpsOptions, ParsesEveryKeyOverTheDefaults) {
  auto o = olas::gps_options(
      std::string("ttff=2m,talker=GN,fix=never,sats=3,lat=-33.5,lon=151.25,pdop=2.5"), false,
      std::nullopt);
  EXPECT_TRUE(o.enabled);
  EXPECT_EQ(o.receiver.ttff_s, 120.0);
  EXPECT_EQ(o.receiver.talker, "GN");
  EXPECT_TRUE(o.receiver.never_fix);
  EXPECT_EQ(o.receiver.satellites, 3);
  EXPECT_EQ(o.receiver.lat_deg, -33.5);
  EXPECT_EQ(o.receiver.lon_deg, 151.25);
  EXPECT_EQ(o.receiver.pdop, 2.5);
  EXPECT_EQ(o.receiver.hdop, 0.95);
  EXPECT_EQ(olas::parse_gps("ttff=0").ttff_s, 0.0);
  EXPECT_EQ(olas::parse_gps("ttff=45s").ttff_s, 45.0);
  EXPECT_EQ(olas::parse_gps("").ttff_s, 30.0);
  EXPECT_FALSE(olas::gps_options(std::nullopt, true, std::nullopt).enabled);
  fs::path log = fs::path(__FILE__).parent_path() / "../data/nmea/ublox-lea-5h.log";
  auto r = olas::gps_options(std::nullopt, false, log.string());
  EXPECT_EQ(r.receiver.replay_path, log.string());
}

TEST(GpsOptions, BadValuesAreNamed) {
  struct Case {
    std::string gps, expect;
  };
  for (const Case& c : std::vector<Case>{{"ttff=abc", "'abc'"},
                                         {"ttff=-3s", "'-3s'"},
                                         {"talker=GL", "'GL'"},
                                         {"fix=maybe", "'maybe'"},
                                         {"sats=13", "'13'"},
                                         {"sats=2.5", "'2.5'"},
                                         {"lat=91", "'91'"},
                                         {"lon=east", "'east'"},
                                         {"hdop=0", "'0'"},
                                         {"colour=red", "'colour'"},
                                         {"sats", "'sats'"},
                                         {"sats=4,,lat=1", "'sats=4,,lat=1'"}}) {
    std::string e = option_error(c.gps, false, std::nullopt);
    EXPECT_EQ(e.rfind("--gps: ", 0), 0u) << c.gps << " -> " << e;
    EXPECT_NE(e.find(c.expect), std::string::npos) << c.gps << " -> " << e;
  }
  std::string e = option_error(std::string("sats=4"), true, std::nullopt);
  EXPECT_NE(e.find("--no-gps"), std::string::npos) << e;
  EXPECT_NE(e.find("'sats=4'"), std::string::npos) << e;
  e = option_error(std::nullopt, true, std::string("x.log"));
  EXPECT_NE(e.find("'x.log'"), std::string::npos) << e;
  e = option_error(std::string("sats=4"), false, std::string("x.log"));
  EXPECT_NE(e.find("--replay-gps"), std::string::npos) << e;
  e = option_error(std::nullopt, false, std::string("/no/such/file.log"));
  EXPECT_EQ(e.rfind("--replay-gps: ", 0), 0u) << e;
  EXPECT_NE(e.find("'/no/such/file.log'"), std::string::npos) << e;
  fs::path garbage = fs::temp_directory_path() / "olas_gps_garbage.log";
  std::ofstream(garbage) << "# nothing\n\x01\x02\x03\n";
  e = option_error(std::nullopt, false, garbage.string());
  EXPECT_NE(e.find("no NMEA sentence"), std::string::npos) << e;
  fs::remove(garbage);
}

TEST(GpsOptions, SummaryWithoutGpsAndWithAReplay) {
  olas::GpsSetup none;
  EXPECT_EQ(olas::gps_summary(none)["mode"], "none");

  sim::Board board(sim::Board::Config{});
  olas::GpsOptions o;
  o.receiver.replay_path =
      (fs::path(__FILE__).parent_path() / "../data/nmea/ublox-lea-5h.log").string();
  auto s = olas::setup_gps(board, o, kStart);
  auto j = olas::gps_summary(s);
  EXPECT_EQ(j["mode"], "replay");
  EXPECT_EQ(j["replay"]["epochs"], 20);  // the start-up text, then one per RMC
  EXPECT_EQ(j["replay"]["sent"], 0);
  EXPECT_EQ(j["fixes"].size(), 0u);
}

}  // namespace
