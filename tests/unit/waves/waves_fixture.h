// A board with the console and host link running (no tick: the tests set the clock themselves),
// and the RAM of the sample window, the wave analysis and the record buffers at start values.
// Samples go through the real decoder and window (ProcesarTramaBinaria) into ProcesarTernaDatos.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "unit/core/firmware_ram.h"

namespace olas::test {

// Allocation failure seam: the next `successes` calls to olas_realloc succeed, every later one
// fails until reset with -1 (never fail).
void SetReallocBudget(int64_t successes);
int64_t ReallocCalls();

void ResetWavesRam();
// Returns the four wave arrays to the heap (a test's end).
void FreeWaveArrays();

// A float in metres whose conversion by the decoder (x 100, rounded away from zero) is exactly cm.
float HeaveMetresFor(int cm);

// Feeding samples through the decoder and the window, and setting the clock without the tick.
struct SampleFeed {
  // One complete sample (EULER, NAV, SHIP_MOTION, all stamped t_us) through the decoder.
  static void Sample(uint32_t t_us, int heave_cm, float vn = 0.1f, float ve = 0.1f, uint16_t heading = 45,
                     uint32_t nav_status = 0x08000020u);
  // Samples of a sinusoidal heave (amplitude cm, period s) at rate Hz with the velocities of a
  // wave coming from `from_deg` (velocity in phase with the heave), half a sample off the zero
  // crossings; sample k is at t0 + k / rate. Sets the clock from clock0 (seconds of the day) on.
  struct Sine {
    double amplitude_cm = 50, period_s = 8, rate_hz = 10, from_deg = 270, speed_mps = 0.4;
    uint32_t t0_us = 1000000;
    int64_t clock0_s = -1;  // -1: leave the clock alone
  };
  static void FeedSine(const Sine& s, int64_t first, int64_t count);
  static int SineHeaveCm(const Sine& s, int64_t k);
  static void Clock(int day, int month, int year, int h, int m, int s);
  static void ClockSecondsOfDay(int64_t s);
};

class WavesTest : public FirmwareFixture, public SampleFeed {
 protected:
  WavesTest();
  ~WavesTest() override;

  // Console (Serial1) and host (Serial) text after letting the ports drain; cleared on read.
  std::string TakeConsole();
  std::string TakeHost();
};

// Landmark record helpers (the nine records are plain globals).
struct LandmarkValues {
  int32_t n;
  int32_t t;
  int16_t heave;
  float vn;
  float ve;
};
void SetLandmark(const char* name, const LandmarkValues& v);

// Checksum of a "$...*HH" frame: XOR of the characters between '$' and '*'.
uint8_t FrameChecksum(const std::string& frame);

}  // namespace olas::test
