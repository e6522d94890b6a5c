// Scenarios of the command line: --scenario FILE, a JSON object whose keys are the long options
// without their dashes ({"duration": "6h", "sea": "hs=3,tp=10", "no-gps": true}), read through
// CLI11's config mechanism so that options on the command line win; and --preset NAME, a named
// scenario applied under both.
#pragma once

#include <CLI/CLI.hpp>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace olas {

// Reads a scenario file for CLI11. Unknown keys, values of the wrong kind and text that is not a
// JSON object throw CLI::ConfigError naming them.
class JsonScenario : public CLI::Config {
 public:
  explicit JsonScenario(const CLI::App& app) : app_(app) {}
  std::string to_config(const CLI::App* app, bool default_also, bool write_description,
                        std::string prefix) const override;
  std::vector<CLI::ConfigItem> from_config(std::istream& input) const override;

 private:
  const CLI::App& app_;
};

// The named scenarios, each a JSON object like a scenario file.
const std::map<std::string, nlohmann::json>& presets();
std::string preset_help();

// Gives the preset's values to the options that the command line and the scenario left unset
// (nor set through an option that conflicts with them). Throws OptionError for an unknown name.
void apply_preset(CLI::App& app, const std::string& name);

}  // namespace olas
