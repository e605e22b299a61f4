#!/usr/bin/env bash
# Builds the host build and starts the unit's program in it.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/common.sh
install_packages
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo

export KESTRUN_ROOT=${KESTRUN_ROOT:-$HOME/.local/state/kestrun}
mkdir -p "$KESTRUN_ROOT"
# In a terminal, its keys work the host panel (see README.md).
[ -t 0 ] && export KESTRUN_PANEL_KEYS=${KESTRUN_PANEL_KEYS:-1}
echo "kestrun: root folder $KESTRUN_ROOT (stored settings in $KESTRUN_ROOT/home/storage, shell commands recorded in $KESTRUN_ROOT/shell.log)"
exec build/kestrun
