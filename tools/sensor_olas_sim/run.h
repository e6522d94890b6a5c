// One simulation run: the firmware on the simulated board in its world, and its outputs.
#pragma once

#include <nlohmann/json.hpp>

#include "sensor_olas_sim/options.h"

namespace olas {

struct RunResult {
  nlohmann::json summary;  // as written to summary.json
  int exit_code = 0;       // 1: the run stopped on an error, or an output could not be written
  bool interrupted = false;  // stopped before its duration (a signal or an error)
  int signal = 0;            // the signal that stopped it (SIGINT, SIGTERM, SIGHUP), else 0
};

// Runs the simulation and writes console.log, host.log, flash.bin and summary.json into
// options.out_dir (each as NAME.tmp, renamed into place at the end). Progress goes to stderr
// unless quiet. Throws OptionError for a firmware image that is not one, std::runtime_error when
// the run cannot start (the folder is locked by another run, the card cannot be made): then
// nothing new is left in the folder.
RunResult run_simulation(const RunOptions& options);

// The firmware image a run loads: --firmware, else $OLAS_FIRMWARE_IMAGE, else the built one.
std::string firmware_image(const RunOptions& options);
// Throws OptionError unless the image loads and has the firmware's entry points.
void check_firmware_image(const std::string& image);
// Bytes received on a link as JSON-safe text: each byte of 0x80 and above as the code point of
// the same value, so nothing is lost and the summary stays valid UTF-8.
std::string link_text(const std::string& bytes);

}  // namespace olas
