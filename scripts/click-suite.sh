#!/usr/bin/env bash
# The click suite at full length: every switch, mode change, preset load and knob sweep of every
# block of the running unit, REPEATS times each (default 100) over a steady tone and over plucked
# notes, three cases at a time. Prints each change's worst click index and the worst per block; exits
# non-zero when any change clicked more than the signal's own step plus one step of the fade.
#
# usage: scripts/click-suite.sh [REPEATS]
set -uo pipefail
. "$(dirname "$0")/common.sh"
usage_on_help "$@"
cd "$(dirname "$0")/.."
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1

repeats=${1:-100}
logs=$(mktemp -d)
build/tests/tests_app --gtest_list_tests --gtest_filter='Clicks.*' | sed -n 's/^  \([A-Za-z]*\).*/\1/p' |
  xargs -P 3 -I{} sh -c "KESTRUN_CLICK_REPEATS=$repeats build/tests/tests_app --gtest_filter=Clicks.{} > $logs/{}.log 2>&1; echo \$? > $logs/{}.rc"

status=0
for log in "$logs"/*.log; do
  grep '^click' "$log" | grep -v WORST
  [ "$(cat "${log%.log}.rc")" = 0 ] || { status=1; grep -A3 'Failure' "$log"; }
done
echo
grep -h 'WORST' "$logs"/*.log
if [ $status -eq 0 ]; then
  echo "click-suite: no change clicked"
  rm -rf "$logs"
else
  echo "click-suite: FAILED (logs kept in $logs)"
fi
exit $status
