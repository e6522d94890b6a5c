// The chip's heap (target/monton.h) on a host arena: random grows, shrinks and frees keep every
// block's bytes and give the whole arena back; a 1200-wave interval's four arrays fit the heap the
// chip's link reserves.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "../../../target/monton.h"

namespace {
alignas(8) uint8_t g_arena[64 * 1024];
size_t g_top = 0, g_peak = 0, g_limit = sizeof g_arena;
}  // namespace

extern "C" void* _sbrk(ptrdiff_t delta) {
  if (delta > ptrdiff_t(g_limit - g_top) || -delta > ptrdiff_t(g_top)) return reinterpret_cast<void*>(-1);
  void* old = g_arena + g_top;
  g_top = size_t(ptrdiff_t(g_top) + delta);
  g_peak = std::max(g_peak, g_top);
  return old;
}

namespace {

TEST(ChipHeap, KeepsEveryBlockWholeAndFitsA1200WaveInterval) {
  struct Live { uint8_t* p = nullptr; size_t size = 0; uint8_t tag = 0; };
  auto intact = [](const Live& b) {
    for (size_t i = 0; i < b.size; ++i)
      if (b.p[i] != uint8_t(b.tag + i)) return false;
    return true;
  };
  std::mt19937 rng(12345);
  std::vector<Live> live(6);
  for (int step = 0; step < 5000; ++step) {
    Live& b = live[rng() % live.size()];
    if (rng() % 8 == 0) {
      monton::liberar(b.p);
      b = Live{};
      continue;
    }
    size_t want = 1 + rng() % (rng() % 4 == 0 ? 3000 : 200);
    g_limit = rng() % 16 == 0 ? g_top + 64 : sizeof g_arena;  // now and then the heap is full
    auto* q = static_cast<uint8_t*>(monton::cambiar(b.p, want));
    g_limit = sizeof g_arena;
    if (q != nullptr) {  // else the old block must be as it was: checked below
      ASSERT_EQ(reinterpret_cast<uintptr_t>(q) % 8, 0u);
      ASSERT_TRUE(intact({q, std::min(b.size, want), b.tag})) << step;
      b = {q, want, uint8_t(rng())};
      for (size_t i = 0; i < want; ++i) q[i] = uint8_t(b.tag + i);
    }
    for (const Live& x : live) ASSERT_TRUE(intact(x)) << step;  // an overlap breaks one of them
  }
  for (Live& b : live) monton::liberar(b.p);
  EXPECT_EQ(g_top, 0u) << "every byte goes back to _sbrk";

  void* arrays[4];
  for (auto& a : arrays) a = monton::cambiar(nullptr, 2);
  g_peak = g_top;
  for (size_t waves = 1; waves <= 1200; ++waves)
    for (auto& a : arrays) ASSERT_NE(a = monton::cambiar(a, (waves + 1) * 2), nullptr) << waves;
  EXPECT_LE(g_peak, 12800u) << "__tamano_minimo_heap in target/samd21j18a.ld";
}

}  // namespace
