// The sample stream end to end: genuine sbgECom frames replayed to the firmware image, and what
// the firmware made of them as its window trace (debug jumper) shows it. A clean sine reaches the
// wave analysis whole, sample by sample, interval after interval; a damaged stream loses exactly
// the damaged samples and never joins logs of two instants.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "scenario/sample_stream.h"
#include "scenario/wave_checks.h"

namespace olas::scenario {
namespace {

constexpr double kUnitStart = 30.0;   // after the start-up's configuration of the absent receiver
constexpr uint32_t kDtUs = 100000;    // 10 samples per second
constexpr uint32_t kT0 = 4000000000u;  // the unit's counter wraps within the first interval

// 50 cm, 8 s: 80 samples a wave, half a sample off its zeros (a sample of exactly 0 would move
// each wave's start one sample on, by the segmentation's start and end rules).
int SineCm(size_t k) { return int(std::lround(50.0 * std::sin(2.0 * M_PI * (double(k) + 0.5) / 80.0))); }

struct Replayed {
  fs::path dir;
  nlohmann::json summary;
  std::string console;
  std::vector<TracedWindow> windows;
  std::vector<ResFrame> frames;
};

Replayed Replay(const std::string& name, const std::vector<uint8_t>& stream, double seconds) {
  RunOptions o = QuietRun(name, kUnitStart + seconds);
  Replayed r;
  r.dir = o.out_dir;
  const fs::path path = r.dir / "stream.sbg";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));
  o.jumper = true;
  o.gps.enabled = false;  // no receiver: intervals by sensor time
  o.card.enabled = false;
  o.clock_ppm = 0.0;
  o.motion_unit.start_s = kUnitStart;
  o.motion_unit.replay_path = path.string();
  auto run = run_simulation(o);
  EXPECT_EQ(run.exit_code, 0) << run.summary.dump();
  r.summary = run.summary;
  r.console = ReadFile(r.dir / "console.log");
  r.windows = TracedWindows(r.console);
  r.frames = ResFrames(ReadFile(r.dir / "host.log"));
  return r;
}

// The time the sensor's counter rule gives between two stamps (its 2 us offsets across the sign
// change and the wrap included), as the wave period in whole tenths of a second.
int PeriodTenths(uint32_t from, uint32_t to) {
  const int32_t a = int32_t(from), b = int32_t(to);
  uint32_t ua = a < 0 ? uint32_t(a) - 2u : uint32_t(a), ub = b < 0 ? uint32_t(b) - 2u : uint32_t(b);
  uint32_t us = ua < ub ? ub - ua : uint32_t(b) - uint32_t(a) - 2u;
  return int(float(us) / 1000000.0f * 10.0f);
}

// The record's height and period fields from the waves of one interval: Hmax, H1/3, H1/10, Hav,
// Tmax, Tpeak (the highest wave's, the first of equals), T1/3, T1/10 (periods of the same highest
// waves; among equal heights the later waves count as the higher), Tav.
std::vector<int> Statistics(std::vector<std::pair<int, int>> waves /* height cm, period tenths */) {
  const size_t n = waves.size();
  int hmax = 0, tmax = 0, tpeak = 0;
  long hsum = 0, tsum = 0;
  for (auto [h, t] : waves) {
    if (h > hmax) hmax = h, tpeak = t;
    tmax = std::max(tmax, t);
    hsum += h;
    tsum += t;
  }
  std::stable_sort(waves.begin(), waves.end(), [](auto a, auto b) { return a.first < b.first; });
  auto top = [&](size_t k, bool period) {
    long s = 0;
    for (size_t i = n - k; i < n; ++i) s += period ? waves[i].second : waves[i].first;
    return int(s / long(k));
  };
  const size_t third = (n + 2) / 3, tenth = (n + 9) / 10;
  return {hmax, top(third, false), top(tenth, false), int(std::lround(double(hsum) / double(n))),
          tmax, tpeak, top(third, true), top(tenth, true), int(std::lround(double(tsum) / double(n)))};
}

TEST(SampleStream, ASineReachesTheAnalysisWholeAndEveryIntervalHasItsWaves) {
  const size_t samples = 2 * 36000 + 100;  // two hours and a little: six intervals close
  std::vector<uint8_t> stream;
  for (size_t k = 0; k < samples; ++k) AppendSample(stream, kT0 + uint32_t(k) * kDtUs, SineCm(k), 0.1f, -0.2f);
  Replayed r = Replay("sine", stream, double(samples) / 10.0 + 1.0);
  EXPECT_EQ(r.summary["dropped"]["sensor"], 0);

  // Every sample after the first two was the middle of a processed window, in order.
  ASSERT_EQ(r.windows.size(), samples - 2);
  for (size_t i = 0; i < r.windows.size(); ++i) {
    const TracedSlot& m = r.windows[i].slot[1];
    ASSERT_EQ(m.t_us, kT0 + uint32_t(i + 1) * kDtUs) << "window " << i;
    ASSERT_EQ(m.heave_cm, SineCm(i + 1)) << "window " << i;
  }

  // The reference: the up-crossing waves of the middles each interval received (an interval
  // ends where the firmware says so in its trace), each counted where it ends.
  std::vector<size_t> ends;  // first window of the next interval
  for (size_t p = r.console.find("HACER_PROMEDIO_POR_TIEMPO_SUPERADO"); p != std::string::npos;
       p = r.console.find("HACER_PROMEDIO_POR_TIEMPO_SUPERADO", p + 1))
    ends.push_back(size_t(std::lower_bound(r.windows.begin(), r.windows.end(), p,
                                           [](const TracedWindow& w, size_t at) { return w.at < at; }) -
                          r.windows.begin()));
  ASSERT_EQ(ends.size(), 6u);
  ASSERT_EQ(r.frames.size(), 6u);
  std::vector<size_t> ups;
  for (size_t i = 1; i < r.windows.size(); ++i)
    if (r.windows[i - 1].slot[1].heave_cm < 0 && r.windows[i].slot[1].heave_cm >= 0) ups.push_back(i);
  for (size_t j = 1; j < ends.size(); ++j) {
    std::vector<std::pair<int, int>> waves;
    for (size_t u = 1; u < ups.size(); ++u) {
      if (ups[u] < ends[j - 1] || ups[u] >= ends[j]) continue;
      int lo = 0, hi = 0;
      for (size_t i = ups[u - 1]; i < ups[u]; ++i) {
        lo = std::min(lo, r.windows[i].slot[1].heave_cm);
        hi = std::max(hi, r.windows[i].slot[1].heave_cm);
      }
      waves.push_back({hi - lo, PeriodTenths(r.windows[ups[u - 1]].slot[1].t_us, r.windows[ups[u]].slot[1].t_us)});
    }
    const ResFrame& f = r.frames[j];
    SCOPED_TRACE(f.body);
    EXPECT_EQ(f.Waves(), 150);
    EXPECT_EQ(f.Waves(), int(waves.size()));
    EXPECT_EQ(f.Field(10), 80) << "Tmax";
    const std::vector<int> want = Statistics(waves);
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(f.Field(6 + i), want[i]) << "field " << 6 + i;
  }
  if (!HasFailure()) fs::remove_all(r.dir);
}

TEST(SampleStream, LostLogsAndAZeroCrcCostOnlyTheirOwnSamples) {
  const size_t samples = 3000;
  const std::set<size_t> damaged = {1000, 1500, 2000, 2500};
  std::vector<uint8_t> stream;
  for (size_t k = 0; k < samples; ++k) {
    // velocities and heading change every sample, so a log of another instant would show
    auto f = SampleFrames(kT0 + uint32_t(k) * kDtUs, SineCm(k), 0.001f * float(k % 997), -0.002f * float(k % 499),
                          0.001f * float(k % 3000) - 1.5f);
    if (k == 1000) f.erase(f.begin());      // no EULER
    if (k == 1500) f.erase(f.begin() + 1);  // no NAV
    if (k == 2000) f.pop_back();            // no SHIP_MOTION
    if (k == 2500) {
      // the status field (the payload's last two bytes) chosen so that the frame's CRC is 0, as
      // one genuine frame in 65 536 has it: its framing rejects it
      std::vector<uint8_t>& s = f[2];
      const size_t crc_at = s.size() - 3;
      uint16_t c = sim::sbg::crc16(s.data() + 2, crc_at - 4);
      SetPayloadByte(s, sim::sbg::kShipMotionPayload - 2, uint8_t(c & 0xFF));
      SetPayloadByte(s, sim::sbg::kShipMotionPayload - 1, uint8_t(c >> 8));
      ASSERT_EQ(s[crc_at], 0);
      ASSERT_EQ(s[crc_at + 1], 0);
    }
    for (const auto& x : f) stream.insert(stream.end(), x.begin(), x.end());
  }
  Replayed r = Replay("damaged", stream, double(samples) / 10.0 + 1.0);
  const UnitStream unit = UnitSamples(std::string(stream.begin(), stream.end()));

  // every window is made of its own instants' logs; the newest slots are every sample but the
  // damaged ones, in order
  std::vector<size_t> newest;
  for (const TracedWindow& w : r.windows)
    for (const TracedSlot& s : w.slot) {
      auto it = unit.by_time.find(s.t_us);
      ASSERT_NE(it, unit.by_time.end()) << s.t_us;
      ASSERT_TRUE(SameAsUnit(s, it->second)) << "sample " << (s.t_us - kT0) / kDtUs;
    }
  for (const TracedWindow& w : r.windows) newest.push_back((w.slot[2].t_us - kT0) / kDtUs);
  std::vector<size_t> want;
  for (size_t k = 2; k < samples; ++k)
    if (!damaged.count(k)) want.push_back(k);
  EXPECT_EQ(newest, want);
  // the wave each damaged sample fell in is discarded and counted
  EXPECT_EQ(Occurrences(r.console, "Ola descartada por hueco"), damaged.size());
  if (!HasFailure()) fs::remove_all(r.dir);
}

}  // namespace
}  // namespace olas::scenario
