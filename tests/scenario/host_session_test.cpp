// Two hours at sea with the host controller following a script: a sea and motion unit, a GPS
// receiver, a blank card that the host has the sensor format, settings changed and surviving a
// restart the host asks for, the link speed changed both ways, card writing off and on, and a
// frame with a wrong checksum. Every expectation of the script must hold, every frame the host
// received must carry a right checksum, and the card must hold the day's files afterwards.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "scenario/wave_checks.h"
#include "sensor_olas_sim/host_setup.h"
#include "sensor_olas_sim/options.h"
#include "sim/board.h"
#include "sim/fat_image_reader.h"
#include "sim/machine.h"
#include "sim/sd_card.h"
#include "sim/world/gps_receiver.h"
#include "sim/world/motion_unit.h"
#include "sim/world/recorder.h"
#include "sim/world/sea.h"

namespace {
namespace fs = std::filesystem;
using olas::scenario::ReadFile;

size_t count(const std::string& hay, const std::string& needle) {
  size_t n = 0;
  for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
  return n;
}

TEST(HostSession, TwoHoursAtSeaFollowingTheHostScript) {
  const fs::path out = fs::temp_directory_path() / "olas_scenario_host_session";
  fs::remove_all(out);
  fs::create_directories(out);
  const fs::path script = fs::path(__FILE__).parent_path() / "data" / "two_hours_at_sea.host";
  const int64_t start_utc = olas::parse_utc(olas::kDefaultStart);  // 2026-12-07 14:20:00

  sim::Board board(sim::Board::Config{});
  board.make_current();
  sim::Recorder console((out / "console.log").string(), 115200);
  board.attach(1, &console);
  sim::Sea sea(sim::SeaConfig{});
  sim::MotionUnit unit(board, &sea, sim::MotionUnitConfig{});
  unit.start();
  sim::GpsReceiverConfig gps_cfg;
  gps_cfg.start_utc = start_utc;
  sim::GpsReceiver gps(board, gps_cfg);
  gps.start();
  sim::SdCard card((out / "card.img").string(), 1ull << 30);  // blank: the host has it formatted
  board.set_card(&card);

  olas::HostOptions ho;
  ho.script = script.string();
  olas::check_host_options(ho);
  olas::HostLink link(board, ho, out.string());
  EXPECT_FALSE(link.realtime());
  link.attach();
  sim::Machine machine(board, OLAS_FIRMWARE_IMAGE);
  const sim::Cycles end = board.cycles_for(2 * 3600.0);
  for (sim::Cycles t = 0; t < end;) {
    t = std::min(end, t + board.cycles_for(link.step_seconds(60.0)));
    machine.run_until(t);
    link.step();
  }
  nlohmann::json host = link.finish();
  console.flush();

  // every expectation held
  for (const auto& e : host["expectations"])
    EXPECT_TRUE(e["met"].get<bool>()) << "script line " << e["line"] << ": expected \"" << e["text"].get<std::string>()
                                      << "\", got \"" << e["answer"].get<std::string>() << "\"";
  EXPECT_EQ(host["expectations_failed"], 0) << host.dump(2);
  EXPECT_EQ(host["bad_checksums"], 0);
  EXPECT_EQ(host["answers"], host["expectations"].size());  // one answer per frame, none to the bad one

  // one restart, the one the host asked for, about 5 s after its answer at 01:05:00
  ASSERT_EQ(board.resets().size(), 1u);
  EXPECT_EQ(board.resets()[0].cause, "watchdog after halt");
  EXPECT_NEAR(board.seconds(board.resets()[0].t), 3905.0, 1.5);

  // what the host heard: the averaged records and GPS fixes among the answers
  const std::string log = ReadFile(out / "host.log");
  EXPECT_GE(count(log, "$RES,"), 5u);
  EXPECT_GE(count(log, "$GPS,26,12,07,"), 2u);
  EXPECT_EQ(count(log, "Firmware:1_7_2"), 2u);
  EXPECT_GT(count(log, "#PTO,"), 100u);
  EXPECT_GE(host["unsolicited"]["RES"].get<int>(), 5);
  EXPECT_EQ(board.stats(0).dropped, 0u);

  // the zrx03 tool decodes the whole log without a complaint
  const std::string tool = (fs::path(OLAS_SIM_EXE).parent_path() / "zrx03" / "zrx03").string();
  const std::string decoded = (out / "decoded.txt").string();
  int status = std::system((tool + " decode - <" + (out / "host.log").string() + " >" + decoded + " 2>&1").c_str());
  EXPECT_EQ(WEXITSTATUS(status), 0) << ReadFile(decoded).substr(0, 2000);

  // the card the sensor formatted holds the day's directory and its files
  sim::FatImageReader reader(out / "card.img");
  EXPECT_EQ(reader.fat_type(), 16);
  auto ends = [](const std::string& s, const char* tail) {
    return s.size() > 4 && s.compare(s.size() - 4, 4, tail) == 0;
  };
  size_t res = 0, raw = 0, wav = 0;
  for (const auto& f : reader.list()) {
    if (f.path.rfind("261207/", 0) != 0 || f.is_dir) continue;
    if (ends(f.path, ".res") && f.size > 0) ++res;
    if (ends(f.path, ".raw")) ++raw;
    if (ends(f.path, ".wav") && f.size > 0) ++wav;
  }
  EXPECT_EQ(res, 1u);  // one per day, found again after the restart and after writing came back
  EXPECT_GE(raw, 6u);  // a new one every interval, and at each remount
  EXPECT_GE(wav, 6u);
}

}  // namespace
