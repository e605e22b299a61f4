#!/usr/bin/env bash
# usage: . scripts/common.sh    (sourced by run.sh, test.sh and the scripts that build)
#
# The Debian packages the build needs (install_packages), the build itself (configure_build DIR
# [cmake options...], configure_and_build DIR [cmake options...]) and the scripts' --help
# (usage_on_help "$@"). To build one target by hand:
#   . scripts/common.sh && configure_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
#     cmake --build build --target kestrun

KESTRUN_PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config
  libasound2-dev zlib1g-dev libglib2.0-dev libbluetooth-dev libconcurrentqueue-dev
  libeigen3-dev nlohmann-json3-dev libfreetype-dev libpng-dev fonts-dejavu-core fonts-dejavu-extra
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  dbus-daemon python3 python3-dbus python3-gi bash clang-format git
)

# install_packages [extra packages...]: installs the missing ones of KESTRUN_PACKAGES and the extras
# (one apt-get update, then one install; nothing when all are present).
install_packages() {
  local missing=()
  for p in "${KESTRUN_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
  fi
}

# configure_build DIR [cmake options...]
configure_build() {
  local dir=$1; shift
  local launcher=()
  # The test programs' precompiled headers are cached only with this sloppiness.
  command -v ccache >/dev/null &&
    launcher=("-DCMAKE_CXX_COMPILER_LAUNCHER=env;CCACHE_SLOPPINESS=pch_defines,time_macros;ccache"
              -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$dir" -G Ninja "${launcher[@]}" "$@"
}

# configure_and_build DIR [cmake options...]: everything (program, tools, tests, benchmarks).
configure_and_build() {
  configure_build "$@" && cmake --build "$1"
}

# usage_on_help "$@": -h or --help among a script's arguments prints the comment at the script's head
# (from its second line to the first line that is no comment) and ends the script with status 0.
# Called before the script changes folder, while $0 still names it from where it was started.
usage_on_help() {
  local argument
  for argument in "$@"; do
    case $argument in
    -h | --help)
      sed -n '2,${/^#/!q;s/^# \{0,1\}//p}' "$0"
      exit 0
      ;;
    esac
  done
}

# Run by itself rather than sourced, it only says what it is for.
[ "${BASH_SOURCE[0]}" != "$0" ] || usage_on_help --help
