// The statically linked firmware's RAM put back to its start values, as a reset of the chip
// does. The firmware objects are joined into one object whose writable and zeroed data are
// renamed into two sections of their own (tests/CMakeLists.txt), so every firmware global
// (file-local ones too, and any added later) is restored without a list to keep.
#pragma once

#include <cstddef>
#include <cstdint>

namespace olas::test {

// The start values are the RAM as the program started: taken before the first test (or at the
// first call), after the firmware's constructors ran.
void RestoreFirmwareRam();

struct MemoryRange {
  const uint8_t* begin;
  const uint8_t* end;
  bool contains(const void* p, size_t n) const {
    auto* b = static_cast<const uint8_t*>(p);
    return b >= begin && b + n <= end;
  }
};
MemoryRange firmware_data_range();
MemoryRange firmware_zeroed_range();

}  // namespace olas::test
