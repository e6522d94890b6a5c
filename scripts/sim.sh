#!/usr/bin/env bash
# Builds the simulator if needed and runs it; arguments go to sensor_olas_sim.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target sensor_olas_sim olas_records >/dev/null
exec "$build/tools/sensor_olas_sim" "$@"
