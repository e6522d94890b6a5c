// Scenario files and presets of the command line (see scenario.h).
#include "sensor_olas_sim/scenario.h"

#include <istream>
#include <iterator>

#include "sensor_olas_sim/options.h"

namespace olas {

namespace {

// A preset's value stays out when one of these was given: they contradict it.
const std::map<std::string, std::vector<std::string>>& conflicts() {
  static const std::map<std::string, std::vector<std::string>> kConflicts = {
      {"no-gps", {"gps", "replay-gps"}},
      {"no-card", {"card", "card-size", "card-event", "card-full", "card-absent"}},
      {"card-event", {"no-card", "card-absent"}},
  };
  return kConflicts;
}

// The option a scenario key names: the long option without its dashes.
const CLI::Option* option_named(const CLI::App& app, const std::string& key) {
  if (key.empty() || key[0] == '-') return nullptr;
  return app.get_option_no_throw("--" + key);
}

std::vector<std::string> inputs_of(const std::string& key, const nlohmann::json& v, const std::string& where) {
  auto scalar = [&](const nlohmann::json& x) -> std::string {
    if (x.is_string()) return x.get<std::string>();
    if (x.is_boolean()) return x.get<bool>() ? "true" : "false";
    if (x.is_number_integer() || x.is_number_unsigned()) return x.dump();
    if (x.is_number_float()) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.17g", x.get<double>());
      return buf;
    }
    throw CLI::ConfigError(where + ": key '" + key + "' has a value of the wrong kind: " + x.dump() +
                           " (use a string, a number, true/false or a list of them)");
  };
  std::vector<std::string> in;
  if (v.is_array()) {
    for (const auto& x : v) in.push_back(scalar(x));
    if (in.empty()) throw CLI::ConfigError(where + ": key '" + key + "' has an empty list");
  } else {
    in.push_back(scalar(v));
  }
  return in;
}

std::string key_list(const CLI::App& app) {
  std::string keys;
  for (const CLI::Option* op : app.get_options()) {
    if (!op->get_configurable() || op->get_lnames().empty()) continue;
    keys += (keys.empty() ? "" : ", ") + op->get_lnames().front();
  }
  return keys;
}

}  // namespace

std::string JsonScenario::to_config(const CLI::App* app, bool default_also, bool, std::string) const {
  nlohmann::json j = nlohmann::json::object();
  for (const CLI::Option* op : app->get_options()) {
    if (!op->get_configurable() || op->get_lnames().empty()) continue;
    const std::string key = op->get_lnames().front();
    if (op->count() > 0) {
      const auto& r = op->results();
      j[key] = r.size() == 1 ? nlohmann::json(r.front()) : nlohmann::json(r);
    } else if (default_also && !op->get_default_str().empty()) {
      j[key] = op->get_default_str();
    }
  }
  return j.dump(2) + "\n";
}

std::vector<CLI::ConfigItem> JsonScenario::from_config(std::istream& input) const {
  const std::string where = "--scenario";
  nlohmann::json j;
  // Options nest two deep at most; a deeper file is refused while it is read, before anything
  // (the error message's dump, the destructor) walks it recursively.
  constexpr int kMaxDepth = 16;
  bool too_deep = false;
  try {
    j = nlohmann::json::parse(std::string(std::istreambuf_iterator<char>(input), {}),
                              [&](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
                                if (depth > kMaxDepth) {
                                  too_deep = true;
                                  throw std::length_error("nested too deep");
                                }
                                return true;
                              });
  } catch (const nlohmann::json::exception& e) {
    throw CLI::ConfigError(where + ": not JSON: " + e.what());
  } catch (const std::length_error&) {
    if (!too_deep) throw;
    throw CLI::ConfigError(where + ": values nested more than " + std::to_string(kMaxDepth) + " deep");
  }
  if (!j.is_object())
    throw CLI::ConfigError(where + ": expected a JSON object of options, got " + j.dump().substr(0, 80));
  std::vector<CLI::ConfigItem> items;
  for (const auto& [key, value] : j.items()) {
    const CLI::Option* op = option_named(app_, key);
    if (!op || !op->get_configurable())
      throw CLI::ConfigError(where + ": unknown key '" + key + "' (keys are the long options: " + key_list(app_) + ")");
    CLI::ConfigItem item;
    item.name = key;
    item.inputs = inputs_of(key, value, where);
    items.push_back(std::move(item));
  }
  return items;
}

const std::map<std::string, nlohmann::json>& presets() {
  static const std::map<std::string, nlohmann::json> kPresets = {
      {"calm", {{"sea", "hs=0.4,tp=6,spread=30"}}},
      {"moderate", {{"sea", "hs=1.5,tp=7"}}},
      {"storm", {{"sea", "hs=6,tp=12,spread=30"}, {"drift", "0.6,90"}}},
      {"swell", {{"sea", "hs=1.5,tp=14,spread=10,gamma=7"}}},
      {"no-gps", {{"no-gps", true}}},
      {"no-card", {{"no-card", true}}},
      {"card-trouble", {{"card-event", "remove@40m,insert@70m,fail-writes@2h"}}},
  };
  return kPresets;
}

std::string preset_help() {
  std::string h;
  for (const auto& [name, j] : presets()) h += "\n  " + name + ": " + j.dump();
  return h;
}

void apply_preset(CLI::App& app, const std::string& name) {
  auto it = presets().find(name);
  if (it == presets().end()) {
    std::string names;
    for (const auto& p : presets()) names += (names.empty() ? "" : ", ") + p.first;
    throw OptionError("--preset: unknown preset '" + name + "' (" + names + ")");
  }
  auto given = [&](const std::string& key) {
    const CLI::Option* op = option_named(app, key);
    return op && op->count() > 0;
  };
  for (const auto& [key, value] : it->second.items()) {
    CLI::Option* op = app.get_option_no_throw("--" + key);
    if (!op || op->count() > 0) continue;
    bool skip = false;
    for (const CLI::Option* ex : op->get_excludes()) skip = skip || ex->count() > 0;
    auto c = conflicts().find(key);
    if (c != conflicts().end())
      for (const auto& other : c->second) skip = skip || given(other);
    if (skip) continue;
    op->add_result(inputs_of(key, value, "--preset " + name));
    op->run_callback();
  }
}

}  // namespace olas
