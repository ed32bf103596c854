#!/usr/bin/env bash
# Builds the benchmarks and prints one table of figures (medians of several
# runs where a run is short). Needs Xvfb; starts its own simulated power
# source for the online figures; the running figures are those of full strip
# charts. The data log and the link monitor are measured in one process,
# switched on and off in turn (bench_app ab), and the log's pieces one by one
# (bench_log); bench/log_figures.py gives the same for the real program.
# Usage: bench/run.sh [seconds-per-ticking-run]. With VX52_COMPARE_BUILD
# set to another build folder, its online CPU is compared with this build's
# (bench/compare_cpu.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh" >/dev/null
build=${VX52_BUILD_DIR:-$top/build}
secs=${1:-60}
. "$top/bench/common.sh"
cp "$build/bin/English.dat" "$build/bin/Chinese.dat" "$work/"
cd "$work"

xrun() { xvfb-run -a -s "-screen 0 1280x1024x24" "$@" 2>/dev/null; }

row() { printf '%-58s %14s  %s\n' "$1" "$2" "$3"; }
row "figure" "value" "aim / limit"
row "----------------------------------------------------------" "--------------" "-----------"

starts=$(for _ in 1 2 3 4 5; do xrun "$build/bench/bench_app" startup | field first_tick_ms; done | median)
row "cold start to first tick, ms (median of 5)" "$starts" "< 300"
refresh=$(xrun "$build/bench/bench_app" refresh 500)
row "RefreshOutputState, state unchanged, us (median)" "$(echo "$refresh" | field refresh_unchanged_median_us)" ""
row "RefreshOutputState, state changed (panel redrawn), us" "$(echo "$refresh" | field refresh_changed_median_us)" ""

start_sim "$build"

for mode in stopped running; do
  line=$(xrun "$build/bench/bench_app" ticking "$secs" "$mode")
  row "online, output $mode: CPU of one core over ${secs} s, %" "$(echo "$line" | field cpu_pct)" "< 2"
  row "online, output $mode: CPU seconds per minute" "$(echo "$line" | awk '{for(i=1;i<=NF;i++) if($i=="cpu_s") c=$(i+1); else if($i=="wall_s") w=$(i+1)} END {printf "%.2f", c*60/w}')" ""
  row "online, output $mode: resident memory at the end, MB" "$(echo "$line" | field rss_mb)" "< 60"
  row "online, output $mode: requests per minute" "$(echo "$line" | field requests_per_min)" "~60 / ~120"
  row "online, output $mode: one tick, median us" "$(echo "$line" | field tick_median_us)" ""
  row "online, output $mode: one tick, 99th percentile us" "$(echo "$line" | field tick_p99_us)" "< 50000"
  row "online, output $mode: points on each strip chart" "$(echo "$line" | field chart_points)" "600 running"
done

# Windows of a quarter of a ticking run, five rounds each: the equal windows
# ("none") show how far two windows differ with nothing switched.
ab_secs=$(awk -v s="$secs" 'BEGIN {print s / 4}')
for what in none log monitor; do
  line=$(xrun "$build/bench/bench_app" ab "$ab_secs" 5 "$what")
  case $what in
    none) label="two equal windows";;
    log) label="data log on against off";;
    monitor) label="link monitor open (10,000 frames) against closed";;
  esac
  row "$label: ratio (median of 5 rounds)" "$(echo "$line" | field ratio_median)" ""
  row "$label: difference, % of a core" "$(echo "$line" | field diff_median_pct)" "$([ "$what" = log ] && echo "< 0.1")"
  row "$label: rounds' differences, lowest to highest" "$(echo "$line" | field diff_min_pct) $(echo "$line" | field diff_max_pct)" ""
  if [ "$what" != none ]; then
    row "$label: tick with it on, median / 99th percentile us" "$(echo "$line" | field tick_on_median_us) / $(echo "$line" | field tick_on_p99_us)" ""
  fi
done
logpath=$("$build/bench/bench_log" "$work")
row "data log: one row formatted, us CPU" "$(echo "$logpath" | field log_format_row_us)" ""
row "data log: one row written (no sync due), us CPU" "$(echo "$logpath" | field log_row_written_us)" ""
row "data log: one row and its sync, us CPU" "$(echo "$logpath" | field log_row_and_sync_us)" "$(echo "$logpath" | field wall_us) us wall"
row "data log: a callback's end with nothing changed, us CPU" "$(echo "$logpath" | field log_observe_unchanged_us)" ""
row "data log: CPU per hour at a row a second, ms" "$(echo "$logpath" | field log_cpu_per_hour_ms)" ""
row "data log: the same, % of a core" "$(echo "$logpath" | field log_cpu_pct)" "< 0.1"

link=$("$build/bench/bench_link")
row "measurement replies decoded per second" "$(echo "$link" | field decode_rnt_per_s)" ""
row "state replies decoded per second (incl. alarm-text refresh)" "$(echo "$link" | field decode_rte_per_s)" ""
row "model replies checked per second" "$(echo "$link" | field decode_model_per_s)" ""
row "settings requests encoded per second" "$(echo "$link" | field encode_sno_per_s)" ""
echo "$link" | grep '^wire' | while read -r _ _ baud _ name _ wire _ wait _ margin; do
  row "wire time $name at $baud baud, ms (reply read after)" "$wire" "$wait ms wait, margin $margin"
done

remote=$("$build/bench/bench_remote")
row "remote: MEAS:ALL? lines answered per second (no socket)" "$(echo "$remote" | field remote_meas_all_per_s)" ""
row "remote: VOLT? lines answered per second (no socket)" "$(echo "$remote" | field remote_volt_query_per_s)" ""
row "remote: refused VOLT lines per second (no socket)" "$(echo "$remote" | field remote_refused_set_per_s)" ""

for step in 60 1; do
  report=$("$build/bench/bench_report" 1 "$step" "$work")
  row "test run report, one hour of ${step} s steps: CSV / HTML, KB" "$(echo "$report" | awk '{for(i=1;i<=NF;i++) if($i=="csv_bytes") c=$(i+1); else if($i=="html_bytes") h=$(i+1)} END {printf "%.0f / %.0f", c/1024, h/1024}')" ""
  row "test run report, one hour of ${step} s steps: writing, ms CPU" "$(echo "$report" | field write_cpu_ms)" ""
done

persist=$("$build/bench/bench_persist" "$work" 2>/dev/null || true)
echo "$persist" | sed 's/^/  /'

if [ -n "${VX52_COMPARE_BUILD:-}" ]; then
  VX52_BUILD_DIR="$build" bash "$top/bench/compare_cpu.sh" "$VX52_COMPARE_BUILD" 5 "$secs" 2>/dev/null
fi
