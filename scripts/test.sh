#!/usr/bin/env bash
# Builds everything (warnings are errors) and runs every test with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOLAS_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
# The input parsers under libFuzzer (clang, own build), three targets for 180 s each; they run
# beside the sanitised build and tests below (the fuzzers are timed, so this only saves wall time).
fuzz_log="$(mktemp)"
FUZZ_BUILD_DIR="${build}-fuzz" tests/fuzz/run.sh 180 >"$fuzz_log" 2>&1 &
fuzz_pid=$!
trap 'kill "$fuzz_pid" 2>/dev/null || true' EXIT
# The unit tests once more under AddressSanitizer and UndefinedBehaviorSanitizer (the power-cut
# sweep, mostly fsck.fat, only in the normal build).
san="${build}-sanitize"
cmake -S . -B "$san" -DCMAKE_BUILD_TYPE=Debug -DOLAS_SANITIZE=ON -DOLAS_TARGET_CHECKS=OFF -DOLAS_BENCH=OFF >/dev/null
cmake --build "$san" -j"$(nproc)" --target unit_tests
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --test-dir "$san" -L unit -E PowerCutSweep --output-on-failure -j"$(nproc)"
# The simulator there too, leaks checked: two hours of the mixed soak, a fresh firmware image
# loaded at every reset.
cmake --build "$san" -j"$(nproc)" --target soak_tests
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "$san/tests/soak_tests" --gtest_filter='Soak.MixedFaultsForDays'
fuzz_rc=0
wait "$fuzz_pid" || fuzz_rc=$?
cat "$fuzz_log"
exit "$fuzz_rc"
