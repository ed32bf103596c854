#!/usr/bin/python3
"""Start-up through the installed launcher against start-up of build/bin/Vx52PSoft,
interleaved in one run: time from starting the command to the first tick, seen as
the first request that reaches the simulated power source (the start-up connect
queues it and only the tick sends). Each round starts the launcher with a fresh
XDG_DATA_HOME, which includes making the working folder and its links, then
once more with the folder made.

Usage: bench/launcher_start.py [rounds]   (needs a built tree and Xvfb)"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("VX52_BUILD_DIR") or os.path.join(TOP, "build")
os.environ.setdefault("VX52_BIN_DIR", os.path.join(BUILD, "bin"))
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))
from vx52e2e import BIN, PROGRAM, SharedNetworkNamespace, Simulator, Xserver, wait_exit  # noqa: E402


def first_tick_s(server, netns, command, cwd, workdir, env):
    """Seconds from starting the command to the first request on the wire, or None."""
    for stale in ("sim.log", "sim.ctl"):  # a previous run's frames are not this run's
        if os.path.exists(os.path.join(workdir, stale)):
            os.remove(os.path.join(workdir, stale))
    sim = Simulator(workdir)
    try:
        t0 = time.time()
        proc = subprocess.Popen(netns.prefix() + command, cwd=cwd, env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        first = sim.log.wait(0, lambda e: e.dir == "RX", 30)
        proc.terminate()
        wait_exit(proc)
        return first.t - t0 if first else None
    finally:
        sim.stop()


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 7
    root = tempfile.mkdtemp(prefix="vx52launch.")
    prefix = os.path.join(root, "prefix")
    subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix], check=True,
                   stdout=subprocess.DEVNULL)
    launcher = os.path.join(prefix, "bin", "vx52psoft")
    server = Xserver(1280, 1024)
    netns = SharedNetworkNamespace()
    env = dict(os.environ, DISPLAY=server.name)
    env.pop("QT_QPA_PLATFORM", None)
    times = {"launcher": [], "launcher, folder made": [], "build/bin": []}
    try:
        for r in range(rounds):
            home = os.path.join(root, "home%d" % r)
            work = os.path.join(home, ".local", "share", "Vx52PSoft")
            os.makedirs(work)
            direct = os.path.join(root, "direct%d" % r)
            os.makedirs(direct)
            for name in ("English.dat", "Chinese.dat"):
                os.symlink(os.path.join(BIN, name), os.path.join(direct, name))
            # Alternate which goes first, so neither always meets a warmer cache. The
            # launcher's second start finds its working folder made.
            launched = [("launcher", [launcher], root, work, dict(env, HOME=home)),
                        ("launcher, folder made", [launcher], root, work, dict(env, HOME=home))]
            direct_run = [("build/bin", [PROGRAM], direct, direct, env)]
            runs = launched + direct_run if r % 2 == 0 else direct_run + launched
            for name, command, cwd, workdir, run_env in runs:
                t = first_tick_s(server, netns, command, cwd, workdir, run_env)
                if t is not None:
                    times[name].append(t)
    finally:
        server.close()
        netns.close()
        shutil.rmtree(root, ignore_errors=True)
    for name, values in times.items():
        print("%-22s first tick after %s s (median of %d)" % (
            name, "%.3f" % statistics.median(values) if values else "-", len(values)))
    for name in ("launcher", "launcher, folder made"):
        if times[name] and times["build/bin"]:
            print("ratio %s / build/bin: %.2f" % (
                name, statistics.median(times[name]) / statistics.median(times["build/bin"])))
    return 0 if all(len(v) == rounds for v in times.values()) else 1


if __name__ == "__main__":
    sys.exit(main())
