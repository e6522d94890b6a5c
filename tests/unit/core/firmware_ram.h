// A fresh board and the firmware RAM at its start values, with helpers for the tick and clock.
#pragma once

#include "support/board_fixture.h"

namespace olas::test {

class FirmwareFixture : public BoardFixture {
 protected:

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
