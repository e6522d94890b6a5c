// Puts the firmware RAM owned by the core, settings and comms modules (and the stubs the loop
// touches) back to its start values, as a reset would. The unit test binary links the firmware
// statically, so nothing else does it between tests.
#pragma once

#include "support/board_fixture.h"

namespace olas::test {

void ResetFirmwareRam();

// A fresh board and the firmware RAM at its start values.
class FirmwareFixture : public BoardFixture {
 protected:
  FirmwareFixture() { ResetFirmwareRam(); }

  // Starts the 1 ms tick and the console without the rest of setup().
  void StartTickAndConsole();
  // Places the tick just before a second boundary: the next tick ends the second.
  void ArmSecondBoundary();
  // Sets the internal clock.
  void SetClock(int day, int month, int year, int hour, int minute, int second);
  // Runs the tick until the next second boundary has passed.
  void RunOneSecond();
};

}  // namespace olas::test
