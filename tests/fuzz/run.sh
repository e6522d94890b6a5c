#!/usr/bin/env bash
# Builds the fuzz targets (if needed) and runs sensor, gps and host in parallel for TIME seconds
# each, from a copy of the seed corpora and the regression inputs, with a fixed seed. Prints
# executions and coverage per target; fails if any target found a crash (its input is kept under
# the output folder).
#   tests/fuzz/run.sh [TIME]     (default 60; FUZZ_BUILD_DIR=build-fuzz, FUZZ_OUT=a new temporary folder,
#                                 FUZZ_FLAGS=more libFuzzer flags, e.g. "-fork=1 -ignore_crashes=1")
set -euo pipefail
cd "$(dirname "$0")/../.."
time_s=${1:-60}
case "$time_s" in
  ''|*[!0-9]*) echo "run.sh: TIME must be a whole number of seconds, not '$time_s'" >&2; exit 2 ;;
esac
build=${FUZZ_BUILD_DIR:-build-fuzz}
out=${FUZZ_OUT:-$(mktemp -d "${TMPDIR:-/tmp}/olas-fuzz.XXXXXX")}
targets=(sensor gps host)

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOLAS_WERROR=ON \
    -DOLAS_FUZZ=ON -DOLAS_TARGET_CHECKS=OFF -DOLAS_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}" >/dev/null

declare -A max_len=([sensor]=32768 [gps]=4096 [host]=2048)
pids=()
for t in "${targets[@]}"; do
  mkdir -p "$out/$t/corpus" "$out/$t/crashes"
  cp tests/fuzz/corpus/"$t"/* "$out/$t/corpus/"
  # The regression inputs too: libFuzzer replays them first, under the sanitizers.
  if [ -d tests/fuzz/regressions/"$t" ]; then
    for f in tests/fuzz/regressions/"$t"/*; do
      [ -f "$f" ] && cp "$f" "$out/$t/corpus/regression-$(basename "$f")"
    done
  fi
  # The targets' own temporary files (the host's card image) go to the output folder too.
  TMPDIR="$out/$t" "$build/tests/fuzz/fuzz_$t" "$out/$t/corpus" -max_total_time="$time_s" -seed=1 \
    -dict="tests/fuzz/$t.dict" -max_len="${max_len[$t]}" -timeout=30 -rss_limit_mb=2048 \
    -artifact_prefix="$out/$t/crashes/" ${FUZZ_FLAGS:-} >"$out/$t/log" 2>&1 &
  pids+=($!)
done

status=0
failed=0
for i in "${!targets[@]}"; do
  t=${targets[$i]}
  rc=0
  wait "${pids[$i]}" || rc=$?
  last=$(grep -E '^#[0-9]+.* cov: ' "$out/$t/log" | tail -1 || true)
  execs=$(sed -n 's/^#\([0-9]*\).*/\1/p' <<<"$last")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9/]*[a-zA-Z]*\).*/\1/p' <<<"$last")
  crashes=$(find "$out/$t/crashes" -type f | wc -l)
  printf '%-7s executions %-10s cov %-6s ft %-6s corpus %-12s crashes %s\n' \
    "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$crashes"
  if [ "$rc" -ne 0 ] || [ "$crashes" -ne 0 ]; then
    status=1
    failed=$((failed + 1))
    echo "fuzz_$t failed (exit $rc); log: $out/$t/log" >&2
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|the MCU reset|artifact_prefix|Test unit written)' "$out/$t/log" | head -20 >&2 || true
  fi
done
echo "fuzz output: $out"
echo "fuzz: $(( ${#targets[@]} - failed )) passed, $failed failed"
exit "$status"
