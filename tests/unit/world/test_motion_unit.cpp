// The motion unit on a board with a stand-in MCU that keeps every byte reaching Serial2 and its
// time: bursts, time stamps and their wrap, status, faults, replay and capture.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim/board.h"
#include "sim/bytes_le.h"
#include "sim/world/motion_unit.h"
#include "unit/world/port_listener.h"

namespace {

namespace fs = std::filesystem;
using sim::Board;
using sim::Cycles;
using sim::MotionUnit;
using sim::MotionUnitConfig;

using Rx = olas::test::RxByte;

struct Frame {
  Cycles t_first;  // arrival of its first byte
  std::vector<uint8_t> bytes;
  uint8_t id() const { return bytes[2]; }
  uint32_t u32(size_t at) const {
    return sim::le32(&bytes[6 + at]);
  }
  float f32(size_t at) const {
    uint32_t b = u32(at);
    float v;
    std::memcpy(&v, &b, 4);
    return v;
  }
};

struct UnitRun {
  std::vector<Rx> rx;
  std::vector<Frame> frames;
  sim::MotionUnitStats stats;
  std::vector<float> truth;  // the sea's heave record
  Cycles byte_time = 0;
  Cycles at(double s) const { return Cycles(std::llround(s * 48e6)); }
};

// Runs a unit (over a sea made from sea_cfg unless replaying) for `seconds` of true time.
UnitRun run_unit(MotionUnitConfig cfg, double seconds, sim::SeaConfig sea_cfg = {}) {
  Board board(Board::Config{});
  olas::test::ListenOn(board, 2, 115200);
  sea_cfg.seed = cfg.seed;
  sim::Sea sea(sea_cfg);
  MotionUnit unit(board, &sea, cfg);
  unit.start();
  const Cycles end = board.cycles_for(seconds);
  while (board.now() < end) board.hal_delay(uint32_t(std::min<Cycles>(end - board.now(), 1u << 30)));
  unit.flush_capture();

  UnitRun r;
  r.rx = olas::test::ReceivedBytes();
  r.stats = unit.stats();
  r.truth = sea.heave_record().heave_m;
  r.byte_time = board.cycles_for(10.0 / 115200);
  std::vector<uint8_t> bytes;
  for (const auto& b : r.rx) bytes.push_back(b.byte);
  for (size_t i = 0; i < bytes.size();) {
    if (auto len = sim::sbg::frame_at(bytes.data() + i, bytes.size() - i)) {
      r.frames.push_back({r.rx[i].t, {bytes.begin() + long(i), bytes.begin() + long(i + *len)}});
      i += *len;
    } else {
      ++i;
    }
  }
  return r;
}

std::vector<uint8_t> bytes_of(const UnitRun& r) {
  std::vector<uint8_t> b;
  for (const auto& x : r.rx) b.push_back(x.byte);
  return b;
}

// Per process, so that builds tested side by side do not share files.
fs::path temp_file(const std::string& name) {
  return fs::temp_directory_path() / ("olas_world_" + std::to_string(getpid()) + "_" + name);
}

TEST(MotionUnit, OneBurstPerSampleInLogOrderWithOneTimeStamp) {
  MotionUnitConfig cfg;
  cfg.start_s = 1.0;
  cfg.clock_at_zero_us = 5000000;
  UnitRun r = run_unit(cfg, 2.05);  // samples at 1.0, 1.1, ... 2.0
  ASSERT_EQ(r.frames.size(), 33u);
  EXPECT_EQ(r.stats.samples, 11u);
  EXPECT_EQ(r.stats.frames, 33u);
  EXPECT_EQ(r.stats.bytes, 11u * (41 + 81 + 55));
  EXPECT_EQ(r.rx.size(), r.stats.bytes);
  ASSERT_EQ(r.truth.size(), 11u);
  for (size_t k = 0; k < 11; ++k) {
    const Frame& e = r.frames[3 * k];
    const Frame& n = r.frames[3 * k + 1];
    const Frame& s = r.frames[3 * k + 2];
    SCOPED_TRACE(k);
    EXPECT_EQ(e.id(), 6);
    EXPECT_EQ(n.id(), 8);
    EXPECT_EQ(s.id(), 9);
    EXPECT_EQ(e.bytes.size(), 41u);
    // The burst starts at the sample instant and its frames follow back to back.
    EXPECT_NEAR(double(e.t_first), double(r.at(1.0 + 0.1 * k) + r.byte_time), 2.0);
    EXPECT_EQ(n.t_first, e.t_first + 41 * r.byte_time);
    EXPECT_EQ(s.t_first, n.t_first + 81 * r.byte_time);
    uint32_t ts = 5000000u + 1000000u + 100000u * uint32_t(k);
    EXPECT_EQ(e.u32(0), ts);
    EXPECT_EQ(n.u32(0), ts);
    EXPECT_EQ(s.u32(0), ts);
    EXPECT_EQ(s.f32(16), -r.truth[k]);  // heave positive down on the wire
    float yaw = e.f32(12);
    EXPECT_LE(std::abs(yaw), 3.1416f);
  }

  cfg.order = {sim::sbg::LogId::ShipMotion, sim::sbg::LogId::EkfEuler, sim::sbg::LogId::EkfNav};
  cfg.euler40 = true;
  cfg.rate_hz = 50;
  UnitRun fast = run_unit(cfg, 1.499);
  ASSERT_EQ(fast.frames.size(), 3u * 25);
  EXPECT_EQ(fast.frames[0].id(), 9);
  EXPECT_EQ(fast.frames[1].id(), 6);
  EXPECT_EQ(fast.frames[1].bytes.size(), 49u);
  EXPECT_EQ(fast.frames[3].u32(0) - fast.frames[0].u32(0), 20000u);
}

TEST(MotionUnit, HeadingValidAndAlignedAfterSettling) {
  MotionUnitConfig cfg;
  cfg.start_s = 0.5;
  cfg.settle_s = 0.25;
  UnitRun r = run_unit(cfg, 1.0);
  const uint32_t both = (1u << 5) | (1u << 27);
  for (const Frame& f : r.frames) {
    if (f.id() == 9) continue;
    size_t status_at = f.id() == 8 ? 68 : 28;
    bool settled = f.t_first > r.at(0.75);
    EXPECT_EQ(f.u32(status_at) & both, settled ? both : 0u) << f.t_first;
  }
}

TEST(MotionUnit, ClockCountsTrueTimeAndWraps) {
  MotionUnitConfig cfg;
  cfg.start_s = 0.0;
  cfg.clock_at_zero_us = 0xFFFFFFFFu - 250000u;
  UnitRun r = run_unit(cfg, 0.65);
  std::vector<uint32_t> ts;
  for (const Frame& f : r.frames)
    if (f.id() == 9) ts.push_back(f.u32(0));
  ASSERT_EQ(ts.size(), 7u);
  int wraps = 0;
  for (size_t i = 1; i < ts.size(); ++i) {
    EXPECT_EQ(uint32_t(ts[i] - ts[i - 1]), 100000u);
    wraps += ts[i] < ts[i - 1];
  }
  EXPECT_EQ(wraps, 1);

  // The default start of the clock comes from the seed; any long run sees it wrap.
  Board board(Board::Config{});
  sim::Sea sea{sim::SeaConfig{}};
  MotionUnitConfig a, b;
  b.seed = 2;
  MotionUnit ua(board, &sea, a), ua2(board, &sea, a), ub(board, &sea, b);
  EXPECT_EQ(ua.clock_us(0), ua2.clock_us(0));
  EXPECT_NE(ua.clock_us(0), ub.clock_us(0));
  EXPECT_EQ(ua.clock_us(10.0 + 4294.967296), ua.clock_us(10.0));
}

TEST(MotionUnit, FaultsAreDeterministicForASeed) {
  MotionUnitConfig cfg;
  cfg.start_s = 0.2;
  cfg.seed = 7;
  cfg.corrupt_probability = 0.01;
  cfg.missing_probability = {0, 0.3, 0};
  cfg.silences = {{0.95, 0.5}};
  UnitRun a = run_unit(cfg, 2.95);  // samples at 0.2 .. 2.9
  UnitRun b = run_unit(cfg, 2.95);
  EXPECT_EQ(bytes_of(a), bytes_of(b));
  EXPECT_EQ(a.stats.bytes_corrupted, b.stats.bytes_corrupted);
  EXPECT_EQ(a.stats.logs_missing, b.stats.logs_missing);

  EXPECT_EQ(a.stats.samples_silenced, 5u);  // 1.0 .. 1.4
  EXPECT_EQ(a.stats.samples, 28u - 5u);
  EXPECT_EQ(a.stats.frames, 3 * a.stats.samples - a.stats.logs_missing);
  EXPECT_GT(a.stats.logs_missing, 0u);
  EXPECT_GT(a.stats.bytes_corrupted, 0u);
  EXPECT_LT(a.stats.bytes_corrupted, a.stats.bytes / 30);
  EXPECT_EQ(a.truth.size(), 28u);  // the truth goes on through the silence
  for (const Rx& x : a.rx) EXPECT_FALSE(x.t > a.at(0.95) && x.t < a.at(1.45)) << x.t;

  cfg.seed = 8;
  EXPECT_NE(bytes_of(run_unit(cfg, 2.95)), bytes_of(a));

  cfg = MotionUnitConfig{};
  cfg.start_s = 0;
  cfg.missing_probability = {0, 0, 1};
  UnitRun no_ship = run_unit(cfg, 1.0);
  EXPECT_EQ(no_ship.frames.size(), 20u);
  for (const Frame& f : no_ship.frames) EXPECT_NE(f.id(), 9);
}

TEST(MotionUnit, ReplaySendsEachFrameWhenItsTimeStampSays) {
  using namespace sim::sbg;
  const uint32_t t0 = 0xFFFFFFFFu - 49999u;  // the recording's clock wraps after 50 ms
  auto ship = [](uint32_t ts) {
    ShipMotionLog s;
    s.time_us = ts;
    return encode(s);
  };
  auto nav = [](uint32_t ts) {
    NavLog n;
    n.time_us = ts;
    return encode(n);
  };
  std::vector<std::vector<uint8_t>> parts = {
      {'x', 'y'}, nav(t0), ship(t0), {0xFF, 0x00, 'z'}, ship(t0 + 100000), ship(t0 + 250000), ship(t0 + 250000)};
  parts[5][10] ^= 0x40;  // a damaged frame: passes as it came, right after what precedes it
  fs::path rec = temp_file("replay.bin");
  {
    std::ofstream out(rec, std::ios::binary);
    for (const auto& p : parts) out.write(reinterpret_cast<const char*>(p.data()), std::streamsize(p.size()));
  }
  MotionUnitConfig cfg;
  cfg.replay_path = rec.string();
  cfg.start_s = 0.5;
  UnitRun r = run_unit(cfg, 1.5);

  std::vector<uint8_t> sent;
  for (const auto& p : parts) sent.insert(sent.end(), p.begin(), p.end());
  EXPECT_EQ(bytes_of(r), sent);
  ASSERT_EQ(r.frames.size(), 4u);  // the damaged one is not a frame any more
  const Cycles bt = r.byte_time;
  EXPECT_NEAR(double(r.rx[0].t), double(r.at(0.5) + bt), 2.0);            // leading bytes at the start
  EXPECT_EQ(r.frames[0].t_first, r.rx[0].t + 2 * bt);                       // then the first frame
  EXPECT_EQ(r.frames[1].t_first, r.frames[0].t_first + 81 * bt);           // same instant: back to back
  EXPECT_NEAR(double(r.frames[2].t_first), double(r.at(0.6) + bt), 2.0);  // 100 ms later, across the wrap
  size_t damaged = 2 + 81 + 55 + 3 + 55;
  EXPECT_EQ(r.rx[damaged].t, r.frames[2].t_first + 55 * bt);
  EXPECT_NEAR(double(r.frames[3].t_first), double(r.at(0.75) + bt), 2.0);
  EXPECT_EQ(r.stats.frames, 4u);
  EXPECT_EQ(r.stats.samples, 3u);
  fs::remove(rec);
}

TEST(MotionUnit, CaptureReplaysAsTheSameStreamAtTheSameTimes) {
  fs::path cap = temp_file("capture.bin");
  MotionUnitConfig cfg;
  cfg.start_s = 0.3;
  cfg.capture_path = cap.string();
  UnitRun live = run_unit(cfg, 1.95);
  std::ifstream in(cap, std::ios::binary);
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(file, bytes_of(live));

  MotionUnitConfig again;
  again.start_s = 0.3;
  again.replay_path = cap.string();
  UnitRun replayed = run_unit(again, 1.95);
  ASSERT_EQ(bytes_of(replayed), bytes_of(live));
  for (size_t i = 0; i < live.rx.size(); ++i) ASSERT_EQ(replayed.rx[i].t, live.rx[i].t) << i;
  EXPECT_EQ(replayed.stats.samples, live.stats.samples);
  fs::remove(cap);
}

}  // namespace
