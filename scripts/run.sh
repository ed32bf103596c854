#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program against the simulated
# power source. The simulator is linked as the configured serial port in the
# program's working folder (build/bin), so the program finds a live instrument
# at start-up. Without a display the program runs under Xvfb for a while and
# leaves a screenshot of its window.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh"

bin="${VX52_BUILD_DIR:-$top/build}/bin"
cd "$bin"

# The port the program will open: the one stored in Set.Dat, else port 1.
port=$(sed -n 's/^[[:space:]]*CommTypeRS232Port[[:space:]]*=[[:space:]]*\([0-9]*\).*/\1/p' Set.Dat 2>/dev/null | head -n 1 || true)
port=${port:-1}
address=$(sed -n 's/^[[:space:]]*SoftwareAddress[[:space:]]*=[[:space:]]*\([0-9]*\).*/\1/p' Set.Dat 2>/dev/null | head -n 1 || true)
address=${address:-1}

sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

if [ -x ./vx52-sim ]; then
  ./vx52-sim --dir "$bin" --port "$port" --address "$address" --log "$bin/sim-frames.log" </dev/null &
  sim_pid=$!
  for _ in $(seq 1 50); do [ -e "COM$port" ] && break; sleep 0.1; done
  echo "Simulated power source on COM$port (address $address); frame log: $bin/sim-frames.log"
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  ./Vx52PSoft
else
  seconds=${VX52_RUN_SECONDS:-8}
  shot="$bin/screenshot.png"
  echo "No display: running the program under Xvfb for $seconds s"
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "
    ./Vx52PSoft & pid=\$!
    sleep $seconds
    import -window root -crop 1024x768+0+0 '$shot'
    kill -TERM \$pid; wait \$pid"
  echo "Screenshot of the window: $shot"
fi
