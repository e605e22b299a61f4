#!/usr/bin/env bash
# usage: scripts/tsan.sh [--ci] [ctest arguments...]
#
# Builds the suite with ThreadSanitizer into build-tsan/ and runs all of it (the two-minute soak
# included), so that every test that starts threads, and the whole program under load, is checked.
# Extra arguments go to ctest (for instance -R com. or -LE soak).
#
# With --ci (what .ci/run runs): only the tests whose races the sanitizer alone can judge, and only
# the programs they need: threads and their pause, the storage registry and node values read on other
# threads, list elements, the chain's hand-over (the fade, coefficient sets, the USB streams) and the
# amp-model players' list snapshots.
#
# Every report fails the run, whether or not its test passed: the sanitizer writes each process's
# reports to build-tsan/tsan-reports/, which must stay empty. The suppressions in tests/tsan.supp
# cover third-party libraries only. A test that fails without a report is tried once more: the
# instrumented code runs several times slower, which some timing tests do not allow for when the
# machine is busy.
set -uo pipefail
. "$(dirname "$0")/common.sh"
usage_on_help "$@"
cd "$(dirname "$0")/.."
install_packages || exit 1

ci=0
[ "${1:-}" = "--ci" ] && { ci=1; shift; }
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUN_TSAN=ON -DKESTRUN_BENCH=OFF)
if [ $ci = 1 ]; then
  configure_build build-tsan "${options[@]}" &&
    cmake --build build-tsan --target tests_porting tests_params tests_dsp tests_audio tests_effects || exit 1
else
  configure_and_build build-tsan "${options[@]}" || exit 1
fi
reports=$PWD/build-tsan/tsan-reports
rm -rf "$reports" && mkdir -p "$reports"
export TSAN_OPTIONS="second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp log_path=$reports/report ${TSAN_OPTIONS:-}"
status=0
if [ $ci = 1 ]; then
  ctest --test-dir build-tsan --output-on-failure --timeout 900 -j "$(nproc)" --repeat until-pass:2 \
    -R '^(porting\.Task|params|dsp\.DoubleBuffer|audio|effects\.(NamPlayer|ChainFade|IrLoader))\.' "$@" || status=1
else
  # The tests that start the whole program (end to end, soak) run two at a time: the instrumented
  # program takes seconds to start, and several at once miss their tests' timings.
  whole='^(e2e|soak)\.'
  ctest --test-dir build-tsan --output-on-failure --timeout 900 -j "$(nproc)" --repeat until-pass:2 -E "$whole" "$@" ||
    status=1
  ctest --test-dir build-tsan --output-on-failure --timeout 900 -j 2 --repeat until-pass:2 -R "$whole" "$@" ||
    status=1
fi
if compgen -G "$reports/report*" >/dev/null; then
  cat "$reports"/report*
  echo "tsan.sh: $(grep -h '^SUMMARY: ThreadSanitizer' "$reports"/report* | wc -l) reports in $(ls "$reports" | wc -l) processes"
  status=1
fi
if [ $status -eq 0 ]; then echo "tsan.sh: no race reported"; else echo "tsan.sh: FAILED"; fi
exit $status
