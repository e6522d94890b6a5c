// --set NAME=VALUE: stored settings written into the flash byte store before the first boot, as
// a programming jig would, in the firmware's own layout (32 bytes at the start of the 1024-byte
// store, two-byte values big-endian, the record marked valid in byte 1024). A blank store is
// first given the firmware's defaults, so that the first boot loads the preset instead of
// writing its defaults over it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/board.h"

namespace olas {

struct StoredSetting {
  const char* name;     // the firmware's own name of the setting
  int address;          // in the byte store
  int width;            // 1 or 2 bytes
  uint32_t lo, hi;      // accepted values
  uint32_t fallback;    // the firmware's default
  const char* meaning;
};

// Every setting --set accepts, in store order.
const std::vector<StoredSetting>& stored_settings();

struct SettingValue {
  const StoredSetting* setting = nullptr;
  uint32_t value = 0;
};

// "NAME=VALUE": the name as the firmware calls it (case-insensitive), the value a whole number
// in its range; CTE_METODO_DIRECCION also takes velocity, drift or both, CTE_INTERVALO_PROMEDIO
// only the codes the firmware knows. Throws OptionError naming the bad name or value.
SettingValue parse_setting(const std::string& text);

// The help text listing the names, ranges and defaults.
std::string settings_help();

// Writes the values into the byte store `flash` (the whole flash area); a later value of the same
// setting wins. Returns {name: value} of what was written.
nlohmann::json apply_settings(sim::FlashArea& flash, const std::vector<SettingValue>& values);

}  // namespace olas
