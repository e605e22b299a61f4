#!/usr/bin/env bash
# usage: ./test.sh [--device]
#
# Builds and runs the whole test suite twice: a normal build (build/) and an
# AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/). With --device, then also the
# unit's own build: cross-built for aarch64, with the part of its suite that CI has time for run
# under qemu (scripts/device.sh --ci, build-device/).
# Exits non-zero on any failure.
set -uo pipefail
. "$(dirname "$0")/scripts/common.sh"
usage_on_help "$@"
cd "$(dirname "$0")"
device=0
[ "${1:-}" = "--device" ] && device=1
install_packages || exit 1

# One test more than there are cores: the two-minute soak, started first, mostly waits.
jobs=$(( $(nproc) + 1 ))
status=0
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo || exit 1
ctest --test-dir build --output-on-failure --timeout 300 -j "$jobs" || status=1
configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DKESTRUN_SANITIZE=ON -DKESTRUN_BENCH=OFF || exit 1
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --timeout 600 -j "$jobs" || status=1

# The aarch64 suite's subset that fits CI's time on two cores (scripts/device.sh says which);
# scripts/device.sh by itself builds and runs all of it.
[ $device = 1 ] && { scripts/device.sh --ci || status=1; }

if [ $status -eq 0 ]; then echo "test.sh: all suites passed"; else echo "test.sh: FAILED"; fi
exit $status
