// A board with the tick, the console and the host link running, the firmware RAM at its start
// values, and every accepted sensor frame recorded.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "unit/core/firmware_ram.h"
#include "unit/sensor/sbg_frames.h"

namespace olas::test {

class SensorLinkFixture : public FirmwareFixture {
 protected:
  SensorLinkFixture();
  ~SensorLinkFixture() override;

  // Back to the start values, recording hook in place (for a second run within one test).
  void ResetRam();
  // Puts bytes into the burst buffer as the main loop would, and scans them.
  void ScanBurst(const Bytes& burst);
  // Hands one frame straight to the decoder.
  static void Decode(const Bytes& frame);
  // Feeds one complete sample (EULER, NAV, SHIP_MOTION) to the decoder.
  static void DecodeSample(uint32_t t, float yaw_rad, float vn, float ve, float heave_m);
  // Text that reached the console / the host link after letting the ports drain.
  std::string ConsoleText();
  std::string HostText();

  // (message id, length) of every frame the scan accepted, in order; they are decoded too.
  static std::vector<std::pair<int, int>> accepted;

 private:
  static void Record(const uint8_t* frame, uint8_t length);
};

}  // namespace olas::test
