#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer + UndefinedBehaviorSanitizer into
# build-fuzz/ and runs each for a bounded time on its seed corpus (tests/data/fuzz/TARGET/).
#
# usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     default: 20 s each, every target
#
# New inputs go to build-fuzz/corpus/TARGET (the seeds in the repository are not touched), crashing
# inputs to build-fuzz/crashes/. Prints one line per target (runs, coverage, crashes) and exits
# non-zero when any target crashed.
set -uo pipefail
. "$(dirname "$0")/common.sh"
usage_on_help "$@"
cd "$(dirname "$0")/.."
install_packages clang libclang-rt-dev || exit 1

seconds=${1:-20}
shift $(( $# > 0 ? 1 : 0 ))
CC=clang CXX=clang++ configure_and_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUN_FUZZ=ON \
  -DKESTRUN_TESTS=OFF -DKESTRUN_BENCH=OFF || exit 1

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in build-fuzz/fuzz/fuzz_*; do targets+=("${t##*/fuzz_}"); done
fi

status=0
summary=()
for t in "${targets[@]}"; do
  seeds=tests/data/fuzz/$t
  corpus=build-fuzz/corpus/$t
  log=build-fuzz/fuzz_$t.log
  mkdir -p "$corpus" build-fuzz/crashes
  dict=()
  [ -f "$seeds.dict" ] && dict=(-dict="$seeds.dict")
  echo "fuzz_$t: ${seconds} s"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "build-fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/crashes/$t-" "${dict[@]}" "$corpus" "$seeds" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  # libFuzzer stops at the first crash, leak, timeout or memory blow-up.
  crashes=0
  if [ $rc -ne 0 ]; then
    status=1
    crashes=1
    tail -60 "$log"
  fi
  summary+=("$(printf '%-16s runs %10s  coverage %6s  crashes %s' "$t" "${runs:-0}" "${cov:-0}" "$crashes")")
done

printf '%s\n' "${summary[@]}"
if [ $status -eq 0 ]; then echo "fuzz.sh: no crash"; else echo "fuzz.sh: FAILED"; fi
exit $status
