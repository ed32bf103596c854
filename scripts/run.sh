#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program against the simulated
# power source. The demo has a working folder of its own, build/demo, with the
# language files and help documents linked in; the simulator is linked there
# as the configured serial port, so the program finds a live instrument at
# start-up. The program finds its layout resource beside itself in build/bin.
# Without a display the program runs under Xvfb for a while and leaves a
# screenshot of its window.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh"

build="${VX52_BUILD_DIR:-$top/build}"
bin="$build/bin"
demo="$build/demo"
mkdir -p "$demo"
cd "$demo"
for f in English.dat Chinese.dat Vx52P_PC_Software_EN.chm Vx52P_PC_Software_CN.chm; do
  ln -sfn "$bin/$f" "$f"
done

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
trap 'exit 130' INT TERM HUP

# The simulator takes COM<port> only when nothing has that name, and says so
# otherwise; the demo does not go on against whatever the name leads to.
"$bin/vx52-sim" --dir "$demo" --port "$port" --address "$address" --log "$demo/sim-frames.log" \
  </dev/null >"$demo/sim.out" &
sim_pid=$!
until grep -q '^ready ' "$demo/sim.out" 2>/dev/null; do
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    wait "$sim_pid" || true
    sim_pid=""
    echo "The simulated power source did not start (see above); nothing was run." >&2
    exit 1
  fi
  sleep 0.1
done
echo "Simulated power source on $demo/COM$port (address $address); frame log: $demo/sim-frames.log"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$bin/Vx52PSoft"
else
  seconds=${VX52_RUN_SECONDS:-8}
  shot="$demo/screenshot.png"
  echo "No display: running the program under Xvfb for $seconds s"
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "
    '$bin/Vx52PSoft' & pid=\$!
    sleep $seconds
    import -window root -crop 1024x768+0+0 '$shot'
    kill -TERM \$pid; wait \$pid"
  echo "Screenshot of the window: $shot"
fi
