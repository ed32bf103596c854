#!/usr/bin/env bash
# Online CPU of this build against another build, in one sitting: the two
# bench_app programs take turns against one simulated power source, output
# running with full strip charts (or stopped), and the medians of the rounds
# are compared. The other build's bench_app must be built from this bench_app.cpp.
# Usage: bench/compare_cpu.sh OTHER_BUILD_DIR [rounds] [seconds-per-run] [running|stopped]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
this=${VX52_BUILD_DIR:-$top/build}
other=${1:?usage: compare_cpu.sh OTHER_BUILD_DIR [rounds] [seconds] [running|stopped]}
rounds=${2:-5}
secs=${3:-60}
mode=${4:-running}
. "$top/bench/common.sh"

for b in this other; do
  dir=${!b}
  mkdir -p "$work/$b"
  cp "$dir/bin/Vx52PSoft.uir" "$dir/bin/English.dat" "$dir/bin/Chinese.dat" "$work/$b/"
done
start_sim "$this"
ln -s "$work/COM1" "$work/this/COM1"
ln -s "$work/COM1" "$work/other/COM1"

for r in $(seq 1 "$rounds"); do
  for b in this other; do
    dir=${!b}
    line=$(cd "$work/$b" && xvfb-run -a -s "-screen 0 1280x1024x24" "$dir/bench/bench_app" ticking "$secs" "$mode" 2>/dev/null)
    echo "round $r $b: $line" >&2
    echo "$b $line" >>"$work/runs"
  done
done

row() { printf '%-44s %12s %12s\n' "$1" "$2" "$3"; }
row "median of $rounds runs of ${secs} s, online, $mode" "this" "other"
for f in cpu_pct cpu_s tick_median_us tick_p99_us rss_mb requests_per_min chart_points; do
  row "$f" "$(grep '^this ' "$work/runs" | field $f | median)" "$(grep '^other ' "$work/runs" | field $f | median)"
done
ratios=$(paste <(grep '^other ' "$work/runs" | field cpu_s) <(grep '^this ' "$work/runs" | field cpu_s) |
  awk '$2 > 0 {print $1 / $2}')
row "CPU other / this, median of the rounds" "$(echo "$ratios" | median)" ""
