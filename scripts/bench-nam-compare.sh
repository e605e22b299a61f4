#!/usr/bin/env bash
# Times the amp-model runtime of this build against another build of bench_nam (for instance the main
# branch built in a worktree of its own), alternating the two programs round by round so that both see
# the same machine load, and keeps each model's best (least CPU time per frame) of all rounds.
#
# usage: scripts/bench-nam-compare.sh OTHER_BENCH_NAM [ROUNDS] [THIS_BENCH_NAM]
#   ROUNDS defaults to 7; THIS_BENCH_NAM to build/bench/bench_nam. KESTRUN_NAM_BASELINE=1 in the
#   environment times this build's baseline kernels on a core that has FMA.
set -euo pipefail
. "$(dirname "$0")/common.sh"
usage_on_help "$@"
cd "$(dirname "$0")/.."
other=${1:?usage: $0 OTHER_BENCH_NAM [ROUNDS] [THIS_BENCH_NAM]}
rounds=${2:-7}
this=${3:-build/bench/bench_nam}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One round of one program: "name cpu-ns-per-frame" lines. bench_nam's exit status speaks of its own
# check against the plain implementation, not of these timings.
measure() {
  # Plain seconds: Debian's benchmark library (1.7) reads no unit and ignores "0.2s" with a complaint.
  { "$1" --benchmark_filter='^(wavenet|lstm)_' --benchmark_min_time=0.2 --benchmark_format=csv 2>/dev/null || true; } |
    awk -F, '$1 ~ /^"(wavenet|lstm)_/ { gsub(/"/, "", $1); print $1, $4 }'
}

for ((r = 1; r <= rounds; r++)); do
  # Alternate which program goes first.
  if ((r % 2)); then
    measure "$this" >>"$work/this"; measure "$other" >>"$work/other"
  else
    measure "$other" >>"$work/other"; measure "$this" >>"$work/this"
  fi
done

echo "best of $rounds rounds, CPU time per 16-sample frame, programs alternated:"
awk '
  FNR == 1 { file++ }
  { k = file SUBSEP $1; if (!(k in best) || $2 < best[k]) best[k] = $2 }
  END {
    printf "%-18s %14s %14s %9s\n", "model", "this ns/smp", "other ns/smp", "speed-up"
    n = split("wavenet_standard wavenet_lite wavenet_feather wavenet_nano lstm_1x16 lstm_2x8", order, " ")
    for (i = 1; i <= n; i++) {
      a = 1 SUBSEP order[i]; b = 2 SUBSEP order[i]
      if (!(a in best) || !(b in best)) continue
      printf "%-18s %14.1f %14.1f %8.2fx\n", order[i], best[a] / 16, best[b] / 16, best[b] / best[a]
    }
  }' "$work/this" "$work/other"
