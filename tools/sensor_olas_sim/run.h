// One simulation run: the firmware on the simulated board in its world, and its outputs.
#pragma once

#include <nlohmann/json.hpp>

#include "sensor_olas_sim/options.h"

namespace olas {

struct RunResult {
  nlohmann::json summary;  // as written to summary.json
  int exit_code = 0;
};

// Runs the simulation and writes console.log, host.log, flash.bin and summary.json into
// options.out_dir. Progress goes to stderr unless quiet.
RunResult run_simulation(const RunOptions& options);

}  // namespace olas
