// The firmware's entry points when it is linked statically into a test binary.
#pragma once
#include "sim/board.h"

namespace olas::test {
sim::FirmwareEntry static_firmware();
}
