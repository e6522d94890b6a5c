// The stored-settings layout is one list shared by the firmware and the simulator's --set writer:
// every setting written at its default before the first boot leaves the same store, byte for
// byte, as the firmware's own defaults on a blank store.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "scenario/wave_checks.h"
#include "sensor_olas_sim/run.h"
#include "settings/disposicion_ajustes.h"

namespace {
namespace fs = std::filesystem;

std::string RunTenMinutes(const std::string& name, const std::vector<std::string>& settings) {
  fs::path out = fs::temp_directory_path() / ("olas_layout_" + name + "_" + std::to_string(getpid()));
  fs::remove_all(out);
  olas::RunOptions o;
  o.out_dir = out.string();
  o.start_utc = olas::parse_utc(olas::kDefaultStart);
  o.firmware_image = OLAS_FIRMWARE_IMAGE;
  o.duration_s = 600;
  o.quiet = true;
  for (const std::string& s : settings) o.settings.push_back(olas::parse_setting(s));
  olas::run_simulation(o);
  return olas::scenario::ReadFile(out / "flash.bin");
}

TEST(SettingsLayout, EverySettingAtItsDefaultStoresWhatTheFirmwaresDefaultsStore) {
  std::vector<std::string> defaults;
#define AT_DEFAULT(global, address, bytes, fallback) defaults.push_back(#global "=" + std::to_string(fallback));
  AJUSTES_DEL_GRUPO(AT_DEFAULT)
  AJUSTES_SUELTOS(AT_DEFAULT)
#undef AT_DEFAULT
  const std::string blank = RunTenMinutes("blank", {});
  ASSERT_FALSE(blank.empty());
  EXPECT_EQ(RunTenMinutes("preset", defaults), blank);
}

}  // namespace
