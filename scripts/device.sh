#!/usr/bin/env bash
# The unit's own build: cross-builds the device target (aarch64) with its tests and benchmarks into
# build-device/ and runs the suite under qemu-aarch64.
#
# usage: scripts/device.sh [--build-only | --configure-only | --ci] [ctest arguments...]
#
# --configure-only stops once build-device/ is configured, for scripts that build only the targets
# they need (scripts/count_device.py). --ci builds and runs the subset that .ci/run has time for on
# two cores (CI_PROGRAMS below): the code whose behaviour depends on the instruction set or the
# device target (threads and futexes, the DSP and amp-model kernels and their NEON forms, the
# effects, the engine and USB audio, the drivers and their ioctls, text and JSON parsing with
# aarch64's unsigned char, the protocol, the instruction counter) and the end-to-end test that the
# device build runs none of the unit's commands off the unit; the screens, the widget layer, the
# application's click suite, the other end-to-end tests and the soak run in the two host suites and
# here without --ci.
# Host packages added when missing: the cross compiler and qemu-user. The arm64 libraries come as
# Debian .debs fetched by a private apt configuration (its own lists, state and cache below
# build-device/apt, architecture arm64) and unpacked into build-device/sysroot; the host's own
# packages and dpkg architectures are left alone. Exits non-zero on any failure.
set -uo pipefail
. "$(dirname "$0")/common.sh"
usage_on_help "$@"
cd "$(dirname "$0")/.."

build=${KESTRUN_DEVICE_BUILD:-build-device}
sysroot=$PWD/$build/sysroot
aptdir=$PWD/$build/apt

# The -dev packages the device target links against, with the runtime libraries qemu loads. Their
# dependencies are followed only through library packages: tools (python3, perl, -bin packages) are
# never needed to link, and the C library's headers come with the cross compiler.
DEVICE_PACKAGES=(
  libc6 libstdc++6 libgcc-s1
  libasound2-dev zlib1g-dev libglib2.0-dev libbluetooth-dev libconcurrentqueue-dev
  libeigen3-dev nlohmann-json3-dev libfreetype-dev libpng-dev
  libgtest-dev libgmock-dev libbenchmark-dev
)
SKIPPED='^(libc6-dev|libc-dev-bin|linux-libc-dev|libcrypt-dev|libnsl-dev|libtirpc-dev|libstdc\+\+-[0-9]+-dev|libgcc-[0-9]+-dev|lib.*-dev-bin|libpython.*|libperl.*)$'

install_host_tools() {
  local missing=()
  for p in g++-aarch64-linux-gnu qemu-user; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    apt-get update
    # No recommends: qemu-user would bring binfmt registration, which changes how the whole
    # machine runs foreign binaries. The suite calls qemu-aarch64 explicitly.
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

private_apt() {
  local tool=$1; shift
  "$tool" -o APT::Architecture=arm64 -o APT::Architectures=arm64 \
    -o Dir::State="$aptdir/state" -o Dir::State::status="$aptdir/state/status" \
    -o Dir::Cache="$aptdir/cache" -o Dir::Etc::Preferences=/dev/null \
    -o Dir::Etc::PreferencesParts="$aptdir/preferences.d" -o APT::Sandbox::User=root "$@"
}

make_sysroot() {
  local stamp=$sysroot/.packages
  local wanted="${DEVICE_PACKAGES[*]}"
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ]; then return 0; fi
  echo "Making the arm64 sysroot in $sysroot"
  mkdir -p "$aptdir/state/lists/partial" "$aptdir/cache/archives/partial" "$aptdir/preferences.d" "$aptdir/debs"
  : > "$aptdir/state/status"
  private_apt apt-get -q update || return 1

  # Library dependencies, breadth first.
  local -A seen=()
  local frontier=("${DEVICE_PACKAGES[@]}") next p
  while [ ${#frontier[@]} -gt 0 ]; do
    for p in "${frontier[@]}"; do seen[$p]=1; done
    next=()
    while read -r p; do
      [[ $p =~ ^(lib|zlib1g) ]] || continue
      [[ $p =~ $SKIPPED ]] && continue
      [ -n "${seen[$p]:-}" ] && continue
      seen[$p]=1
      next+=("$p")
    done < <(private_apt apt-cache depends --no-recommends --no-suggests --no-conflicts --no-breaks \
               --no-replaces --no-enhances "${frontier[@]}" |
             sed -n 's/^ *|\{0,1\}\(Pre\)\{0,1\}Depends: \([^<][^ ]*\)$/\2/p' | sed 's/:arm64$//' | sort -u)
    frontier=("${next[@]}")
  done
  local packages=("${!seen[@]}")
  echo "Fetching ${#packages[@]} arm64 packages"
  (cd "$aptdir/debs" && private_apt apt-get -q download "${packages[@]}") || return 1

  rm -rf "$sysroot"
  mkdir -p "$sysroot"
  local deb
  for deb in "$aptdir"/debs/*.deb; do dpkg-deb -x "$deb" "$sysroot" || return 1; done
  # Absolute links (libz.so -> /lib/...) must point into the sysroot, not at the host's files.
  local link target
  while IFS= read -r link; do
    target=$(readlink "$link")
    [[ $target = /* ]] && ln -sfn "$sysroot$target" "$link"
  done < <(find "$sysroot" -type l)
  echo "$wanted" > "$stamp"
}

CI_PROGRAMS=(tests_platform tests_porting tests_params tests_base tests_dsp tests_driver tests_audio
             tests_effects tests_nam tests_com tests_e2e kestrun nam-run count_probe)
CI_TESTS='^(platform|porting|params|base|dsp|driver|audio|effects|nam|com|count)\.|^e2e\.Guard\.'

stop_after=
ci=0
case "${1:-}" in
  --build-only) stop_after=build; shift ;;
  --configure-only) stop_after=configure; shift ;;
  --ci) ci=1; shift ;;
esac

install_packages || exit 1
install_host_tools || exit 1
make_sysroot || { echo "device.sh: cannot make the sysroot"; exit 1; }

configure_build "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUN_TARGET=device \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/aarch64-linux-gnu.cmake" -DKESTRUN_SYSROOT="$sysroot" || exit 1
[ "$stop_after" = configure ] && exit 0
if [ $ci = 1 ]; then
  cmake --build "$build" --target "${CI_PROGRAMS[@]}" || exit 1
  set -- -R "$CI_TESTS" "$@"
else
  cmake --build "$build" || exit 1
fi
[ "$stop_after" = build ] && exit 0

# Emulation is several times slower than the unit: a longer time-out per test. The engine's timing
# tests (fade against the compile thread, late amp-model workers) depend on how qemu schedules the
# threads; a test is taken as failed when it fails three times in a row. One test more than there are
# cores: the two-minute soak, started first, mostly waits.
ctest --test-dir "$build" --output-on-failure --timeout 900 -j "$(( $(nproc) + 1 ))" --repeat until-pass:3 "$@"
status=$?
if [ $status -eq 0 ]; then echo "device.sh: aarch64 suite passed"; else echo "device.sh: aarch64 suite FAILED"; fi
exit $status
