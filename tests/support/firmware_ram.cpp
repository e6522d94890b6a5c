#include "support/firmware_ram.h"

#include <gtest/gtest.h>

#include <vector>

#include "board/memoria.h"
#include "waves/analisis_olas.h"

extern "C" {
// Provided by the linker for the two renamed sections.
extern uint8_t __start_olas_fw_data[], __stop_olas_fw_data[];
extern uint8_t __start_olas_fw_bss[], __stop_olas_fw_bss[];
}

namespace olas::test {
namespace {

struct Snapshot {
  std::vector<uint8_t> data, zeroed;
};

// Byte by byte through volatile pointers: the sections hold the sanitizer's poisoned red zones
// between globals, which an intercepted memcpy would report.
#if defined(__clang__) || defined(__GNUC__)
__attribute__((no_sanitize("address")))
#endif
void copy_bytes(volatile uint8_t* dst, const volatile uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = src[i];
}

Snapshot& snapshot() {
  static Snapshot s = [] {
    Snapshot t;
    t.data.resize(size_t(__stop_olas_fw_data - __start_olas_fw_data));
    t.zeroed.resize(size_t(__stop_olas_fw_bss - __start_olas_fw_bss));
    copy_bytes(t.data.data(), __start_olas_fw_data, t.data.size());
    copy_bytes(t.zeroed.data(), __start_olas_fw_bss, t.zeroed.size());
    return t;
  }();
  return s;
}

// Takes the snapshot before the first test can touch the firmware.
class SnapshotAtStart : public ::testing::Environment {
 public:
  void SetUp() override { snapshot(); }
};
[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new SnapshotAtStart);

}  // namespace

void RestoreFirmwareRam() {
  Snapshot& s = snapshot();
  // The heap is RAM too: its only blocks are the interval's four wave arrays.
  for (uint16_t** p : {&mVectorAlt, &mVectorPer, &mVectorDirMetVel, &mVectorDirMetDer}) {
    olas_free(*p);
    *p = nullptr;
  }
  copy_bytes(__start_olas_fw_data, s.data.data(), s.data.size());
  copy_bytes(__start_olas_fw_bss, s.zeroed.data(), s.zeroed.size());
}

MemoryRange firmware_data_range() { return {__start_olas_fw_data, __stop_olas_fw_data}; }
MemoryRange firmware_zeroed_range() { return {__start_olas_fw_bss, __stop_olas_fw_bss}; }

}  // namespace olas::test
