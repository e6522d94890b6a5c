// The integer-only "%010.4f" field and its read-back, against the host C library: every value
// class, then seeded random bit patterns over the whole float range and over the field's range.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "comms/texto_real.h"

namespace olas::test {
namespace {

uint32_t Bits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

float FromBits(uint32_t b) {
  float f;
  std::memcpy(&f, &b, sizeof f);
  return f;
}

std::string Text(float v) {
  char text[TAM_TEXTO_REAL];
  formateo_texto_real(text, v);
  return text;
}

// Empty when the firmware's text is snprintf's and its read-back is float(strtod()) bit for bit.
std::string Mismatch(float v) {
  char want[TAM_TEXTO_REAL];
  std::snprintf(want, sizeof want, "%010.4f", double(v));
  const std::string got = Text(v);
  char where[48];
  std::snprintf(where, sizeof where, " for bits 0x%08X (%s)", unsigned(Bits(v)), want);
  if (got != want) return "text " + got + where;
  const float want_read = float(std::strtod(want, nullptr));
  const float read = lectura_texto_real(got.c_str());
  if (std::isnan(want_read) ? !std::isnan(read) : Bits(read) != Bits(want_read)) return std::string("read-back") + where;
  return {};
}

TEST(RealText, MatchesTheCLibraryForEveryValueClass) {
  int failures = 0;
  auto check = [&](float v) {
    const std::string m = Mismatch(v);
    if (!m.empty() && ++failures <= 10) ADD_FAILURE() << m;
  };
  auto check_around = [&](float v) {
    check(std::nextafter(v, -INFINITY));
    check(v);
    check(std::nextafter(v, INFINITY));
  };

  // What the record relies on, readable: the caller passes magnitudes (so also -0), ties to even.
  EXPECT_EQ(Text(12.5f), "00012.5000");
  EXPECT_EQ(Text(-0.0f), "-0000.0000");
  EXPECT_EQ(Text(0.03125f), "00000.0312");
  EXPECT_EQ(Text(0.09375f), "00000.0938");
  EXPECT_EQ(Text(99999.9921875f), "99999.9922");
  EXPECT_EQ(Text(123456.7f), "123456.703");
  EXPECT_EQ(Text(NAN), "       nan");

  for (float v : {0.0f, FLT_TRUE_MIN, FromBits(0x007FFFFF), FLT_MIN, 0.00005f, 0.00015f, 2.00005f, 0.5f, 1.0f,
                  9.99995f, 99999.9999f, 99999.99995f, 100000.0f, 524287.96875f, 999999.99995f, 1e9f, 1e10f,
                  16777216.0f, 4294967296.0f, 1.8446744e19f, FLT_MAX, INFINITY, NAN}) {
    check_around(v);
    check_around(-v);
  }
  check(-NAN);

  // Exact ties are odd multiples of 1/32: every one below 1000 and around the clamp, and 1e5..1e9.
  for (uint32_t k = 1; k < 1000 * 32; k += 2) check(float(k) / 32.0f);
  for (uint32_t k = 99000 * 32 + 1; k < 100001 * 32; k += 2) check(float(k) / 32.0f);
  for (double p = 1e5; p <= 1e9; p *= 10.0) {
    for (int i = -200; i <= 200; ++i) check_around(float(p + i * 0.03125));
  }

  // Seeded random: 4-decimal rounding boundaries, any bit pattern, bit patterns below 1e5.
  std::mt19937 rng(20260512);
  std::uniform_int_distribution<uint32_t> tenths_of_thousandths(0, 999999999);
  for (int i = 0; i < 100000; ++i) check_around(float((tenths_of_thousandths(rng) + 0.5) / 1e4));
  std::uniform_int_distribution<uint32_t> any_bits;
  for (int i = 0; i < 600000; ++i) check(FromBits(any_bits(rng)));
  std::uniform_int_distribution<uint32_t> field_bits(0, Bits(100000.0f));
  for (int i = 0; i < 600000; ++i) check(FromBits(field_bits(rng) | (i & 1u) << 31));

  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace olas::test
