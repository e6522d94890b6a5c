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

TEST(RealText, MatchesTheCLibraryForEveryValueClass) {
  int failures = 0;
  auto check = [&](float v) {
    char want[TAM_TEXTO_REAL], got[TAM_TEXTO_REAL];
    std::snprintf(want, sizeof want, "%010.4f", double(v));
    formateo_texto_real(got, v);
    const float want_read = float(std::strtod(want, nullptr)), read = lectura_texto_real(got);
    const bool same_read = std::isnan(want_read) ? std::isnan(read) : Bits(read) == Bits(want_read);
    if ((std::strcmp(want, got) != 0 || !same_read) && ++failures <= 10) {
      ADD_FAILURE() << "bits " << std::hex << Bits(v) << ": " << got << " vs " << want << ", read back "
                    << read << " vs " << want_read;
    }
  };
  auto check_around = [&](float v) {
    check(std::nextafter(v, -INFINITY));
    check(v);
    check(std::nextafter(v, INFINITY));
  };

  for (float v : {0.0f, FLT_TRUE_MIN, FromBits(0x007FFFFF), FLT_MIN, 0.00005f, 0.00015f, 2.00005f, 0.5f, 1.0f,
                  9.99995f, 99999.9999f, 99999.99995f, 100000.0f, 524287.96875f, 999999.99995f, 1e9f, 1e10f,
                  16777216.0f, 4294967296.0f, 1.8446744e19f, FLT_MAX, INFINITY, NAN}) {
    check_around(v);
    check_around(-v);
  }
  // Exact ties are odd multiples of 1/32: every one below 1000 and near the clamp; then 1e5..1e9.
  for (uint32_t k = 1; k < 1000 * 32; k += 2) check(float(k) / 32.0f);
  for (uint32_t k = 99000 * 32 + 1; k < 100001 * 32; k += 2) check(float(k) / 32.0f);
  for (double p = 1e5; p <= 1e9; p *= 10.0) {
    for (int i = -200; i <= 200; ++i) check_around(float(p + i * 0.03125));
  }
  // Seeded random: 4-decimal rounding boundaries, any bit pattern, bit patterns below 1e5.
  std::mt19937 rng(20260512);
  std::uniform_int_distribution<uint32_t> ten_thousandths(0, 999999999), any_bits,
      field_bits(0, Bits(100000.0f));
  for (int i = 0; i < 100000; ++i) check_around(float((ten_thousandths(rng) + 0.5) / 1e4));
  for (int i = 0; i < 600000; ++i) check(FromBits(any_bits(rng)));
  for (int i = 0; i < 600000; ++i) check(FromBits(field_bits(rng) | (i & 1u) << 31));
  EXPECT_EQ(failures, 0);

  // What the record shows, readable: a magnitude of -0 keeps its sign, ties go to even.
  char text[TAM_TEXTO_REAL];
  formateo_texto_real(text, -0.0f);
  EXPECT_STREQ(text, "-0000.0000");
  formateo_texto_real(text, 0.09375f);
  EXPECT_STREQ(text, "00000.0938");
}

}  // namespace
}  // namespace olas::test
