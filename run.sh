#!/usr/bin/env bash
# usage: ./run.sh
#
# Installs the Debian packages that are missing (as root), builds the program into build/ and starts
# it. It runs until Ctrl-C or SIGTERM. Where it keeps its files and how it plays and listens come
# from the environment, for instance:
#   KESTRUN_ROOT=/tmp/second KESTRUN_TCP_PORT=8081 ./run.sh      a second copy beside the first
#   KESTRUN_AUDIO_IN=alsa:default KESTRUN_AUDIO_OUT=alsa:default ./run.sh
# README.md tells the rest.
set -euo pipefail
. "$(dirname "$0")/scripts/common.sh"
usage_on_help "$@"
cd "$(dirname "$0")"
install_packages
# Only what is run: the program and the amp-model tool (test.sh builds the rest).
configure_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target kestrun nam-run

export KESTRUN_ROOT=${KESTRUN_ROOT:-$HOME/.local/state/kestrun}
mkdir -p "$KESTRUN_ROOT"
# In a terminal, its keys work the host panel (see README.md).
[ -t 0 ] && export KESTRUN_PANEL_KEYS=${KESTRUN_PANEL_KEYS:-1}
echo "kestrun: root folder $KESTRUN_ROOT (stored settings in $KESTRUN_ROOT/home/storage, shell commands recorded in $KESTRUN_ROOT/shell.log)"
exec build/kestrun
