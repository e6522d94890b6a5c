#!/usr/bin/env bash
# The firmware on its real chip: cross-builds it for the ATSAMD21J18A (warnings are errors), checks
# its flash and static RAM against their budgets (target/size-report), the instruction counts
# of the sensor burst and the per-wave results on an emulated Cortex-M0
# (target/instruction-counts) and the chip's start-up path on it (target/startup-check).
# Build folder: $TARGET_BUILD_DIR, default build-target.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
export TARGET_BUILD_DIR="${TARGET_BUILD_DIR:-$PWD/build-target}"
cmake -S target -B "$TARGET_BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$PWD/target/toolchain-cortex-m0plus.cmake" \
  -DOLAS_WERROR=ON >/dev/null

passed=0
failed=0
for check in target/size-report target/instruction-counts target/startup-check; do
  echo "== $check"
  if "$check"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
  echo
done
echo "target-checks: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
