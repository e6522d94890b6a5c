// The firmware image fed by the motion unit riding the synthetic sea: every sample reaches the
// three-sample window in order, corrupted bytes cost only the damaged samples, and the
// simulator's sea and sensor options.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "scenario/wave_checks.h"
#include "sensor_olas_sim/run.h"
#include "sim/board.h"
#include "sim/machine.h"
#include "sim/world/motion_unit.h"
#include "sim/world/sea.h"

namespace {
namespace fs = std::filesystem;
using olas::scenario::FreshDir;
using olas::scenario::Occurrences;
using olas::scenario::QuietRun;
using olas::scenario::ReadFile;

// Per process, so that builds tested side by side do not share folders.
// The heave in whole centimetres as the firmware keeps it: the unit's float (positive down)
// times 100 in single precision, rounded away from zero.
int16_t firmware_cm(float heave_up_m) {
  float cm = -heave_up_m * 100.0f;
  return int16_t(cm > 0 ? std::ceil(cm) : cm < 0 ? std::floor(cm) : 0.0f);
}

// A frame that reached the wire unchanged.
bool intact_frame(const uint8_t* frame, size_t len) { return sim::sbg::frame_at(frame, len).has_value(); }

// A frame the firmware takes: sync, a CRC that matches (the end byte is never looked at) and is
// not 0 (1 in 65536 frames has a CRC of 0, which its framing rejects by design).
bool accepted(const uint8_t* frame, size_t len) {
  uint16_t stored = uint16_t(frame[len - 3] | frame[len - 2] << 8);
  return frame[0] == 0xFF && frame[1] == 0x5A && stored != 0 && sim::sbg::crc16(frame + 2, len - 5) == stored;
}

// What the firmware held right after the burst of one sample.
struct AfterSample {
  int32_t count;  // contPtosOlaActual
  int32_t n;      // the newest window slot: number, sensor time, heave, velocities
  uint32_t time_us;
  int16_t heave_cm;
  float vel_north, vel_east;
};

// The firmware image on a board with the motion unit on a 2 m, 8 s sea, observed after the
// burst of every sample; the unit's bytes are captured to tell which frames were intact.
class SeaSensor : public ::testing::Test {
 protected:
  // The unit starts after the firmware's start-up, whose GPS configuration holds the loop for
  // about 4 s when no receiver answers (sensor bytes are lost meanwhile, by design).
  static constexpr double kUnitStart = 30.0;
  static constexpr size_t kBurst = 41 + 81 + 55;

  void run(sim::MotionUnitConfig cfg, double minutes) {
    capture_ = FreshDir("sensor_" + std::to_string(cfg.seed)) / "sensor.bin";
    cfg.start_s = kUnitStart;
    cfg.capture_path = capture_.string();
    sim::SeaConfig sc;
    sc.hs_m = 2.0;
    sc.tp_s = 8.0;
    sc.seed = cfg.seed;
    sea_ = std::make_unique<sim::Sea>(sc);
    unit_ = std::make_unique<sim::MotionUnit>(board_, sea_.get(), cfg);
    unit_->start();
    sim::Machine machine(board_, OLAS_FIRMWARE_IMAGE);
    machine.run_until(board_.cycles_for(cfg.start_s - 0.05));
    const auto* count = &machine.read(sim::fw::contPtosOlaActual);
    const auto* n = &machine.read(sim::fw::TernaDatos_pos3_0);
    const auto* time_us = &machine.read(sim::fw::TernaDatos_pos3_1);
    const auto* heave = &machine.read(sim::fw::TernaDatos_pos3_3);
    const auto* vn = &machine.read(sim::fw::TernaDatos_pos3_4);
    const auto* ve = &machine.read(sim::fw::TernaDatos_pos3_5);
    const size_t samples = size_t(std::llround(minutes * 60 * cfg.rate_hz));
    for (size_t k = 0; k < samples; ++k) {
      // 60 ms on, the burst has been sent, framed and decoded
      machine.run_until(board_.cycles_for(time_of(k) + 0.06));
      seen_.push_back({*count, *n, uint32_t(*time_us), *heave, *vn, *ve});
    }
    window_middle_ = machine.read(sim::fw::TernaDatos_pos2_0);
    unit_->flush_capture();
    wire_ = ReadFile(capture_);
    fs::remove_all(capture_.parent_path());
  }
  double time_of(size_t k) const { return unit_->config().start_s + double(k) / unit_->config().rate_hz; }
  const uint8_t* burst(size_t k) const { return reinterpret_cast<const uint8_t*>(wire_.data()) + kBurst * k; }
  bool intact(size_t k) const {
    const uint8_t* b = burst(k);
    return intact_frame(b, 41) && accepted(b, 41) && intact_frame(b + 41, 81) && accepted(b + 41, 81) &&
           intact_frame(b + 122, 55) && accepted(b + 122, 55);
  }
  // The newest window slot holds sample k of the sea.
  void expect_newest_is(size_t k) {
    const AfterSample& a = seen_[k];
    sim::SeaState st = sea_->sample(k);  // exactly what the unit sent
    EXPECT_EQ(a.n, a.count) << "sample " << k;
    EXPECT_EQ(a.time_us, unit_->clock_us(time_of(k))) << "sample " << k;
    EXPECT_EQ(a.heave_cm, firmware_cm(sea_->heave_record().heave_m[k])) << "sample " << k;
    EXPECT_EQ(a.vel_north, float(st.vel_north_mps)) << "sample " << k;
    EXPECT_EQ(a.vel_east, float(st.vel_east_mps)) << "sample " << k;
  }

  sim::Board board_{sim::Board::Config{}};
  std::unique_ptr<sim::Sea> sea_;
  std::unique_ptr<sim::MotionUnit> unit_;
  fs::path capture_;
  std::vector<AfterSample> seen_;
  int32_t window_middle_ = 0;
  std::string wire_;
};

TEST_F(SeaSensor, TenMinutesAtTenSamplesPerSecondReachTheWindowInOrder) {
  sim::MotionUnitConfig cfg;
  cfg.seed = 5;
  run(cfg, 10.0);
  ASSERT_EQ(seen_.size(), 6000u);
  ASSERT_EQ(wire_.size(), 6000u * kBurst);
  for (size_t k = 0; k < seen_.size(); ++k)
    ASSERT_TRUE(intact(k)) << "sample " << k << ": this seed gives a frame whose CRC is 0; pick another";

  for (size_t k = 0; k < seen_.size(); ++k) {
    ASSERT_EQ(seen_[k].count, int32_t(k + 1)) << "sample " << k;
    if (k >= 2) expect_newest_is(k);  // the window fills from its oldest slot
  }
  EXPECT_EQ(window_middle_, 5999);
  EXPECT_EQ(unit_->stats().samples, 6000u);
  EXPECT_EQ(board_.stats(2).dropped, 0u);
  EXPECT_EQ(board_.stats(2).framing_errors, 0u);
  EXPECT_TRUE(board_.resets().empty());
}

TEST_F(SeaSensor, CorruptedBytesCostOnlyTheDamagedSamples) {
  sim::MotionUnitConfig cfg;
  cfg.seed = 12;
  cfg.corrupt_probability = 0.01;
  run(cfg, 10.0);
  ASSERT_EQ(wire_.size(), seen_.size() * kBurst);
  // The firmware completes a sample on whichever log fills its triple last, keeping the latest
  // log of each kind: after a damaged burst its assembly may run one log out of step with the
  // bursts (until the next damage), so a record can join logs of two neighbouring instants.
  size_t intact_samples = 0, completed = 0, in_step = 0;
  std::optional<size_t> last_ship;  // the latest earlier sample whose ship log got through
  for (size_t k = 0; k < seen_.size(); ++k) {
    const AfterSample& a = seen_[k];
    bool arrived = a.count > (k ? seen_[k - 1].count : 0);
    completed += arrived;
    std::optional<size_t> ship_before = last_ship;
    if (accepted(burst(k) + 122, 55)) last_ship = k;
    if (!intact(k)) continue;
    ++intact_samples;
    EXPECT_TRUE(arrived) << "intact sample " << k << " completed no sample";
    if (a.count < 3) continue;  // the window is not full yet
    // The newest record is made of real logs, never of a damaged frame: time stamp and
    // velocities of one navigation log (an earlier one stays while ship logs are lost: the
    // firmware keeps the one closest in time to a ship log); heave of this burst's ship log,
    // or of the latest one before it when an earlier log completed the sample.
    size_t nav = k;
    while (nav > 0 && k - nav < 100 && a.time_us != unit_->clock_us(time_of(nav))) --nav;
    ASSERT_EQ(a.time_us, unit_->clock_us(time_of(nav))) << "sample " << k;
    sim::SeaState st = sea_->sample(nav);
    EXPECT_EQ(a.vel_north, float(st.vel_north_mps)) << "sample " << k;
    EXPECT_EQ(a.vel_east, float(st.vel_east_mps)) << "sample " << k;
    const auto& truth = sea_->heave_record().heave_m;
    EXPECT_TRUE(a.heave_cm == firmware_cm(truth[k]) || (ship_before && a.heave_cm == firmware_cm(truth[*ship_before])))
        << "sample " << k << ": " << a.heave_cm;
    in_step += nav == k && a.heave_cm == firmware_cm(truth[k]);
  }
  EXPECT_GT(unit_->stats().bytes_corrupted, 6000u);
  EXPECT_GT(intact_samples, 600u);  // 0.99^177: about one sample in six
  EXPECT_GE(completed, intact_samples);
  EXPECT_GT(in_step, 100u);
  EXPECT_EQ(board_.stats(2).dropped, 0u);
  EXPECT_TRUE(board_.resets().empty());
}

olas::RunOptions tool_options(const std::string& name, double seconds) {
  olas::RunOptions o = QuietRun(name, seconds);
  o.gps.enabled = false;  // the sensor path alone
  o.card.enabled = false;
  return o;
}

// The "Round=" values of the firmware's heave trace, in order.
std::vector<int> traced_cm(const std::string& console) {
  std::vector<int> cm;
  for (size_t p = console.find("auxHeave="); p != std::string::npos; p = console.find("auxHeave=", p + 1)) {
    size_t r = console.find(", Round=", p);
    if (r != std::string::npos) cm.push_back(std::atoi(console.c_str() + r + 8));
  }
  return cm;
}

TEST(SeaSensorTool, AMinuteWithTheJumperShowsEverySampleAndReplaysTheSame) {
  auto o = tool_options("tool_sea", 60);
  const fs::path out = o.out_dir;
  o.jumper = true;
  o.sea = olas::parse_sea("hs=2,tp=8", o.sea);
  o.motion_unit.capture_path = (out / "sensor.bin").string();
  auto r = olas::run_simulation(o);
  ASSERT_EQ(r.exit_code, 0) << r.summary.dump();
  std::string console = ReadFile(out / "console.log");
  EXPECT_EQ(Occurrences(console, "ERROR FLOAT TO STRING"), 0u);

  // One trace line per sample from 1 s to 59.9 s (590), except those lost while the start-up's
  // configuration of the absent receiver held the loop (the sensor's ring keeps the first 2.3 s of
  // them): the sea's heaves in order, with that one hole.
  std::vector<int> cm = traced_cm(console);
  EXPECT_EQ(Occurrences(console, "auxHeave="), cm.size());
  ASSERT_GE(cm.size(), 350u);
  ASSERT_LE(cm.size(), 590u);
  sim::SeaConfig sc = o.sea;
  sc.seed = o.seed;
  sim::Sea truth(sc);
  truth.start_record(o.motion_unit.start_s, o.motion_unit.rate_hz);
  auto want = [&](size_t k) { return firmware_cm(float(truth.sample(k).heave_m)); };
  size_t before_hole = 0;
  while (before_hole < cm.size() && cm[before_hole] == want(before_hole)) ++before_hole;
  EXPECT_GE(before_hole, 20u);  // the ring's 2.3 s
  const size_t after_hole = 590 - (cm.size() - before_hole);
  for (size_t i = before_hole; i < cm.size(); ++i)
    ASSERT_EQ(cm[i], want(after_hole + i - before_hole)) << "sample " << after_hole + i - before_hole;

  const auto& m = r.summary["motion_unit"];
  EXPECT_EQ(m["source"], "sea");
  EXPECT_EQ(m["samples"], 590);
  EXPECT_EQ(m["frames"], 3 * 590);
  EXPECT_EQ(m["bytes_corrupted"], 0);
  const auto& sea = r.summary["sea"];
  EXPECT_NEAR(sea["hm0_m"].get<double>(), 2.0, 0.02);
  EXPECT_EQ(sea["tp_s"], 8.0);
  EXPECT_NEAR(sea["mean_dir_deg"].get<double>(), 270.0, 2.0);
  EXPECT_EQ(sea["drift"]["toward_deg"], 90.0);

  auto p = tool_options("tool_replay", 60);
  const fs::path again = p.out_dir;
  p.jumper = true;
  p.motion_unit.replay_path = (out / "sensor.bin").string();
  auto rr = olas::run_simulation(p);
  ASSERT_EQ(rr.exit_code, 0) << rr.summary.dump();
  EXPECT_EQ(rr.summary["motion_unit"]["source"], "replay");
  EXPECT_EQ(rr.summary["motion_unit"]["frames"], 3 * 590);
  EXPECT_TRUE(rr.summary["sea"].is_null());
  EXPECT_EQ(traced_cm(ReadFile(again / "console.log")), cm);
  fs::remove_all(out);
  fs::remove_all(again);
}

int run_tool(const std::string& args, std::string* err) {
  fs::path log = FreshDir("tool_stderr") / "stderr.txt";
  std::string cmd = std::string(OLAS_SIM_EXE) + " " + args + " >/dev/null 2>" + log.string();
  int status = std::system(cmd.c_str());
  *err = ReadFile(log);
  return WEXITSTATUS(status);
}

TEST(SeaSensorTool, BadSeaAndSensorOptionsAreNamedAndExitWithStatusTwo) {
  struct Case {
    const char* args;
    const char* named;
  };
  for (const Case& c : {Case{"--sea hs=x", "--sea"}, Case{"--sea hs=2,wind=3", "wind"}, Case{"--sea tp=0", "--sea"},
                        Case{"--sea spread=90", "spread"}, Case{"--sea stormy", "--sea"}, Case{"--seed -4", "--seed"},
                        Case{"--rate 0", "--rate"}, Case{"--rate 51", "--rate"}, Case{"--rate 2.5", "--rate"},
                        Case{"--drift 0.3", "--drift"}, Case{"--drift 0.3,400", "--drift"},
                        Case{"--sensor-corrupt 1.5", "--sensor-corrupt"}, Case{"--sensor-missing gyro", "gyro"},
                        Case{"--sensor-missing nav:2", "--sensor-missing"}, Case{"--sensor-silence 5m", "--sensor-silence"},
                        Case{"--sensor-order euler,nav,nav", "--sensor-order"},
                        Case{"--replay-sensor /nonexistent/olas.bin", "--replay-sensor"},
                        Case{"--capture-sensor /nonexistent/dir/cap.bin", "--capture-sensor"},
                        Case{"--no-sensor --sea calm", "--no-sensor"}}) {
    std::string err;
    EXPECT_EQ(run_tool(std::string("--quiet --duration 1s --out ") + FreshDir("bad_opts").string() + " " + c.args, &err), 2)
        << c.args;
    EXPECT_NE(err.find(c.named), std::string::npos) << c.args << ": " << err;
  }
  std::string err;
  fs::path out = FreshDir("good_opts");
  EXPECT_EQ(run_tool("--quiet --duration 5s --out " + out.string() +
                         " --sea calm --seed 3 --rate 50 --drift 0.3,45 --euler40 --sensor-corrupt 0.001"
                         " --sensor-missing euler:0.5,nav --sensor-silence 2s+1s --sensor-silence 0+0.5s",
                     &err),
            0)
      << err;
  auto summary = nlohmann::json::parse(ReadFile(out / "summary.json"));
  EXPECT_EQ(summary["options"]["rate"], 50.0);
  EXPECT_EQ(summary["options"]["euler40"], true);
  EXPECT_EQ(summary["options"]["sensor_missing"]["nav"], 1.0);
  EXPECT_EQ(summary["options"]["sensor_silence"].size(), 2u);
  EXPECT_EQ(summary["sea"]["hm0_m"], 0.0);
  EXPECT_EQ(summary["motion_unit"]["samples_silenced"], 50);  // 2 s .. 3 s at 50/s
  EXPECT_EQ(summary["motion_unit"]["samples"], 150);           // from 1 s to 5 s, less the silence
  fs::remove_all(out);
  fs::remove_all(FreshDir("bad_opts"));
  fs::remove_all(FreshDir("tool_stderr"));
}

}  // namespace
