// sensor_olas_sim as a product: every averaged record beside the truth of its interval, the
// summary against its published schema, and scenarios, presets and stored settings through the
// command.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "scenario/wave_checks.h"
#include "sensor_olas_sim/run.h"
#include "sim/world/sea.h"

namespace {
namespace fs = std::filesystem;
using olas::scenario::ReadFile;

fs::path fresh_dir(const std::string& name) {
  fs::path d = fs::temp_directory_path() / ("olas_product_" + name + "_" + std::to_string(getpid()));
  fs::remove_all(d);
  fs::create_directories(d);
  return d;
}

// Runs the command; returns its exit status and what it printed (stdout and stderr).
int run_tool(const std::string& args, std::string* printed) {
  fs::path log = fs::temp_directory_path() / ("olas_product_output_" + std::to_string(getpid()));
  std::string cmd = std::string(OLAS_SIM_EXE) + " " + args + " >" + log.string() + " 2>&1";
  int status = std::system(cmd.c_str());
  *printed = ReadFile(log);
  return WEXITSTATUS(status);
}

double angle_between(double a, double b) {
  double d = std::fmod(std::fabs(a - b), 360.0);
  return d > 180 ? 360 - d : d;
}

// The default scenario: 3 hours of the default sea at 10 samples/s, with GPS and card.
TEST(SimProduct, DefaultRunMatchesTheTruthOfEveryIntervalAndItsSchema) {
  const fs::path out = fresh_dir("default");
  olas::RunOptions o;
  o.out_dir = out.string();
  o.start_utc = olas::parse_utc(olas::kDefaultStart);
  o.firmware_image = OLAS_FIRMWARE_IMAGE;
  o.quiet = true;
  const auto s = olas::run_simulation(o).summary;
  EXPECT_EQ(s["schema_version"], 2);
  EXPECT_TRUE(s["settings_preset"].empty());

  // the loop's longest block fits the sensor's ring: no byte of the unit is lost
  EXPECT_EQ(s["dropped"]["sensor"], 0);
  EXPECT_LT(s["ring_peak"]["sensor"].get<int>(), 4095);
  const auto& intervals = s["intervals"];
  // 14:20 to 17:00, and 17:00-17:20 when it closes before the run ends: within a second or two
  // of it, on the side the first minute's clock-rate measurement (one count in 600) decides
  ASSERT_GE(intervals.size(), 8u);
  ASSERT_LE(intervals.size(), 9u);
  for (const auto& i : intervals) {
    SCOPED_TRACE(i.dump());
    ASSERT_TRUE(i["host"].is_object() && i["card"].is_object() && i["truth"].is_object());
    EXPECT_EQ(i["host"], i["card"]);
    const auto& f = i["host"];
    const auto& t = i["truth"];
    EXPECT_LT(std::fabs(f["h13_m"].get<double>() / t["h13_m"].get<double>() - 1), 0.12);
    EXPECT_LT(angle_between(f["dir_vel_deg"].get<double>(), t["mean_dir_deg"].get<double>()), 10.0);
    EXPECT_TRUE(f["dir_drift_deg"].is_null());
    // each window is its own: from one frame to the next, about 20 minutes
    EXPECT_NEAR(t["to_s"].get<double>() - t["from_s"].get<double>(), 1200.0, 20.0);
  }
  EXPECT_EQ(intervals[0]["start"], "2026-12-07T14:20:00Z");
  EXPECT_EQ(intervals[7]["end"], "2026-12-07T17:00:00Z");

  // The summary written to disk validates against docs/summary.schema.json.
  const fs::path schema = fs::path(__FILE__).parent_path() / "../../docs/summary.schema.json";
  const std::string check =
      "/usr/bin/python3 -c 'import json, sys, jsonschema; "
      "jsonschema.validate(json.load(open(sys.argv[2])), json.load(open(sys.argv[1])), "
      "cls=jsonschema.Draft7Validator)' " +
      schema.string() + " " + (out / "summary.json").string() + " 2>&1";
  EXPECT_EQ(std::system(check.c_str()), 0) << "summary.json does not follow " << schema;
}

TEST(SimProduct, ScenarioPresetAndStoredSettingsThroughTheCommand) {
  const fs::path dir = fresh_dir("command");
  std::ofstream(dir / "s.json") << R"({"duration": "5m", "sea": "hs=3,tp=10", "no-gps": true, "seed": 2})";
  std::string printed;
  // the command line over the scenario over the preset; the stored settings before the first boot
  ASSERT_EQ(run_tool("--scenario " + (dir / "s.json").string() +
                         " --duration 11m --preset swell --set CTE_METODO_DIRECCION=both"
                         " --set cte_intervalo_promedio=10 --quiet --out " + (dir / "out").string(),
                     &printed),
            0)
      << printed;
  EXPECT_EQ(printed, "");  // --quiet
  const auto s = nlohmann::json::parse(ReadFile(dir / "out" / "summary.json"));
  EXPECT_EQ(s["options"]["duration_s"], 660.0);
  EXPECT_EQ(s["options"]["preset"], "swell");
  EXPECT_EQ(s["options"]["seed"], 2);
  EXPECT_NEAR(s["sea"]["hm0_m"].get<double>(), 3.0, 1e-9);  // the scenario's sea keys...
  EXPECT_EQ(s["sea"]["tp_s"], 10.0);
  EXPECT_EQ(s["sea"]["gamma"], 7.0);                        // ... over the preset's
  EXPECT_EQ(s["gps"]["mode"], "none");
  EXPECT_EQ(s["settings_preset"], nlohmann::json({{"CTE_METODO_DIRECCION", 2}, {"CTE_INTERVALO_PROMEDIO", 10}}));
  ASSERT_EQ(s["intervals"].size(), 1u);  // 10 minutes of sensor time: no clock, so no times
  const auto& i = s["intervals"][0];
  EXPECT_TRUE(i["start"].is_null() && i["card"].is_null());
  EXPECT_TRUE(i["host"]["dir_vel_deg"].is_number() && i["host"]["dir_drift_deg"].is_number()) << i.dump();
  EXPECT_TRUE(i["host"]["spread_vel_deg"].is_number() && i["host"]["spread_drift_deg"].is_number()) << i.dump();

  // Bad scenarios, presets and settings: exit 2, the bad key or value named, nothing run.
  struct Bad {
    std::string scenario, args, named;
  };
  for (const Bad& b : {Bad{R"({"colour": "red"})", "", "'colour'"},
                       Bad{R"({"duration": "soon"})", "", "'soon'"},
                       Bad{R"({"rate": [1, 2], "sea": {"hs": 1}})", "", "'sea'"},
                       Bad{R"({"duration": "1h",)", "", "not JSON"},
                       Bad{"", "--preset hurricane", "'hurricane'"},
                       Bad{"", "--set CTE_METODO_DIRECCION=sideways", "'sideways'"},
                       Bad{"", "--set CTE_INTERVALO_PROMEDIO=25", "'25'"},
                       Bad{"", "--set NO_SUCH_SETTING=1", "'NO_SUCH_SETTING'"}}) {
    std::ofstream(dir / "bad.json") << b.scenario;
    std::string args = b.scenario.empty() ? b.args : "--scenario " + (dir / "bad.json").string();
    EXPECT_EQ(run_tool(args + " --out " + (dir / "bad").string(), &printed), 2) << args;
    EXPECT_NE(printed.find(b.named), std::string::npos) << args << ": " << printed;
  }
  EXPECT_FALSE(fs::exists(dir / "bad"));
}

// The true heave record keeps its last hours only, and still answers for them.
TEST(SimProduct, HeaveRecordStaysBounded) {
  sim::Sea sea(sim::SeaConfig{});
  sea.start_record(1.0, 10.0);
  sea.keep_record(60.0);
  for (uint64_t k = 0; k < 5000; ++k) sea.sample(k);
  const auto& r = sea.heave_record();
  EXPECT_EQ(r.end_k(), 5000u);
  EXPECT_GE(r.heave_m.size(), 600u);
  EXPECT_LE(r.heave_m.size(), 1200u);
  EXPECT_FALSE(r.has(0));
  EXPECT_TRUE(r.has(4999) && r.has(5000 - 600));
  EXPECT_EQ(r.at(4321), float(sea.sample(4321).heave_m));
}

}  // namespace
