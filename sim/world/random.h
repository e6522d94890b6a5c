// Seeded randomness of the world, made from the engine's raw bits only, so that a seed gives the
// same world with every standard library (std distributions are not portable bit for bit).
#pragma once

#include <cstdint>
#include <random>

namespace sim {

// An independent stream for each user of one seed (sea, faults, clock), so that switching a
// fault on does not change the sea.
inline uint64_t mix_seed(uint64_t seed, uint64_t stream) {
  uint64_t z = seed + 0x9E3779B97F4A7C15ull * (stream + 1);  // splitmix64
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Uniform in [0, 1) with 53 random bits.
inline double uniform01(std::mt19937_64& rng) { return double(rng() >> 11) * 0x1.0p-53; }

}  // namespace sim
