# Sourced by the benchmark scripts: a scratch folder that goes at exit, the
# simulated power source started in it on COM1, and two text helpers.
work=$(mktemp -d /tmp/vx52bench.XXXXXX)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# start_sim BUILD_DIR: the build's vx52-sim answers on "$work/COM1".
start_sim() {
  "$1/bin/vx52-sim" --dir "$work" --port 1 --log "$work/sim.log" </dev/null >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 1 50); do [ -e "$work/COM1" ] && break; sleep 0.1; done
}

field() { sed -n "s/.*\b$1 \([-0-9.]*\).*/\1/p"; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
