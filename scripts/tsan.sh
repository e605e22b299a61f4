#!/usr/bin/env bash
# Builds the suite with ThreadSanitizer into build-tsan/ and runs it: every test, threads or not, so
# that each report is an error. Extra arguments go to ctest (for instance -R com. to run a part).
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
install_packages || exit 1

configure_and_build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUN_TSAN=ON -DKESTRUN_BENCH=OFF || exit 1
# halt_on_error: a race fails its test at once, with the report in the test's output.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
if ctest --test-dir build-tsan --output-on-failure --timeout 900 -j "$(nproc)" "$@"; then
  echo "tsan.sh: no race reported"
else
  echo "tsan.sh: FAILED"
  exit 1
fi
