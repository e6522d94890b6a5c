// The GPS receiver of a simulation run: its options (--gps, --no-gps, --replay-gps), the receiver
// attached before the MCU starts, the probe that lets it read the firmware's clock, and its part
// of summary.json.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/board.h"
#include "sim/machine.h"
#include "sim/world/gps_receiver.h"

namespace olas {

struct GpsOptions {
  bool enabled = true;              // false (--no-gps): nothing on the GPS port
  sim::GpsReceiverConfig receiver;  // start_utc is filled in by setup_gps
};

// "ttff=30s,talker=GN,fix=never,sats=3,lat=43.46,lon=-3.81,pdop=1.5,hdop=0.9,vdop=1.2" (any
// subset, applied over `base`), and "jump=BY@AT" (may be repeated): from true time AT on, the
// receiver's time is off by BY ("1d@2h", "-1h@30m"). Throws OptionError naming the bad item.
sim::GpsReceiverConfig parse_gps(const std::string& text, sim::GpsReceiverConfig base = {});

// The three options together, as given on the command line (nullopt = option absent). Checks
// that the replay log can be read. Throws OptionError naming the option and the bad value.
GpsOptions gps_options(const std::optional<std::string>& gps, bool no_gps,
                       const std::optional<std::string>& replay_gps);

struct GpsSetup {
  std::unique_ptr<sim::GpsReceiver> receiver;  // null with --no-gps
};

// Before the MCU starts: the receiver on port 3, watching pin 17. Keep the result alive for the
// whole run.
GpsSetup setup_gps(sim::Board& board, const GpsOptions& options, int64_t start_utc);

// Reads the running firmware's clock and its request for a GPS time (resolved afresh after every
// reset, since each boot loads a new image).
sim::GpsReceiver::ClockProbe firmware_clock_probe(sim::Machine& machine);

// Once the machine exists: lets the receiver record the fixes the firmware accepts.
void connect_gps(GpsSetup& gps, sim::Machine& machine);

// After the run: options, counts, and every accepted fix (true UTC, the firmware clock just
// before it was set, their difference and the clock rate in force). Also makes the last check.
nlohmann::json gps_summary(GpsSetup& gps);

}  // namespace olas
