#!/usr/bin/env bash
# Soak of the host program (scripts/soak.py): builds build/ and runs kestrun with audio for MINUTES
# (default 30) under three TCP clients, the serial pseudo-terminal and a MIDI stream, printing
# requests, latency percentiles, RSS, descriptors, threads and audio overruns over time; ends with a
# kill -9 and a restart that must bring the stored state back.
#
# usage: scripts/soak.sh [MINUTES] [soak.py options...]    (scripts/soak.py --help lists them)
set -uo pipefail
. "$(dirname "$0")/common.sh"
usage_on_help "$@"
cd "$(dirname "$0")/.."
install_packages || exit 1

minutes=${1:-30}
shift $(( $# > 0 ? 1 : 0 ))
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo || exit 1
exec python3 scripts/soak.py --program build/kestrun --seconds "$(( minutes * 60 ))" "$@"
