#!/usr/bin/env bash
# Kills the running program (SIGKILL, as a power cut) again and again while it writes settings and
# presets, restarting it each time, and checks what the stored files hold.
# usage: scripts/kill-loop.sh [KILLS]      (40 by default; builds build/ first)
set -euo pipefail
. "$(dirname "$0")/common.sh"
usage_on_help "$@"
cd "$(dirname "$0")/.."
kills=${1:-40}
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
KESTRUN_KILLS=$kills ./build/tests/e2e/tests_e2e --gtest_filter='Durability.*' | grep -vE '^(I|W|ERROR) \('
