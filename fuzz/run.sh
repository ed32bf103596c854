#!/usr/bin/env bash
# Builds the libFuzzer targets of the byte parsers with clang and runs each for
# a bounded time on a fresh copy of its seed corpus.
#
#   fuzz/run.sh [seconds per target]        (default 60)
#
# The build goes to build-fuzz/ (VX52_FUZZ_BUILD_DIR overrides it); each target
# works in build-fuzz/fuzz-runs/<target>/ with its corpus copy and its log, and
# a crashing input is left there as crash-<sha1> (or leak-, timeout-, oom-).
# Replay one with: build-fuzz/fuzz/fuzz_<target> <file>
# Prints one line per target and exits non-zero when any target failed.
set -euo pipefail

SECONDS_PER_TARGET=${1:-60}
if ! [[ "$SECONDS_PER_TARGET" =~ ^[0-9]+$ ]] || [ "$SECONDS_PER_TARGET" -lt 1 ]; then
  echo "usage: $0 [seconds per target]" >&2
  exit 2
fi

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${VX52_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
TARGETS=(reply model ini getint cut remote)

# ---- packages: what the program needs, then clang and libFuzzer -------------------
"$ROOT/scripts/install-deps.sh"
PACKAGES=(clang libclang-rt-dev)
missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

# ---- build ---------------------------------------------------------------------------
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DVX52_FUZZ=ON \
  -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$BUILD" vx52fuzz

# ---- run -----------------------------------------------------------------------------
# Undefined behaviour and memory errors stop a run; an input that takes more
# than 10 s counts as a hang.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

RUNS="$BUILD/fuzz-runs"
run_target() {
  local t=$1 dir="$RUNS/$1"
  rm -rf "$dir"
  mkdir -p "$dir/corpus"
  cp "$ROOT/fuzz/corpus/$t/"* "$dir/corpus/"
  set +e
  "$BUILD/fuzz/fuzz_$t" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus" >"$dir/log" 2>&1
  echo $? >"$dir/status"
  set -e
}

# As many targets at once as there are cores.
jobs_max=$(nproc)
for t in "${TARGETS[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs_max" ]; do
    wait -n || true
  done
  run_target "$t" &
done
wait

failed=0
for t in "${TARGETS[@]}"; do
  dir="$RUNS/$t"
  status=$(cat "$dir/status")
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log" | tail -1)
  stats=$(grep -E '^#[0-9]+' "$dir/log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' || true)
  artifact=$(ls "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-* 2>/dev/null | head -1 || true)
  if [ "$status" -eq 0 ] && [ -z "$artifact" ]; then
    result="ok"
  else
    result="FAILED (exit $status) ${artifact:-see $dir/log}"
    failed=1
  fi
  printf 'fuzz_%-7s %10s runs %7s/s  %-32s %s\n' "$t" "${runs:-?}" "${rate:-?}" "${stats:-cov: ?}" "$result"
done

if [ "$failed" -ne 0 ]; then
  for t in "${TARGETS[@]}"; do
    dir="$RUNS/$t"
    if [ "$(cat "$dir/status")" -ne 0 ]; then
      echo "---- fuzz_$t: $dir/log (end)"
      grep -vE '^#[0-9]+' "$dir/log" | tail -40
    fi
  done
fi
exit "$failed"
