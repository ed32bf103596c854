#!/usr/bin/python3
"""Figures of the data log and the link monitor: the real program against vx52-sim, the output
running. A round runs two copies side by side over the same window, one with what is measured
and one without, each with its own Xvfb server and simulated source, so whatever else the machine
does falls on both alike; the figures are the medians over the rounds of each round's ratio and
difference. CPU is what the kernel counted on every thread of a copy, to the nanosecond
(/proc/PID/task/*/schedstat), not clock ticks.

    /usr/bin/python3 bench/log_figures.py [SECONDS] [ROUNDS] [aa] [log] [monitor]

SECONDS per window (default 60), ROUNDS (default 5). The comparisons named, by default log and
monitor: "log" the log on against off (and the log's bytes per hour), "monitor" the link
monitor open against closed (the log on in both), "aa" two equal copies (no log, no monitor):
how far two copies differ with nothing between them, the floor under any difference the others
show. Run from build/ or with VX52_BIN_DIR set (another build's bin folder measures that build). The gap after a SIGKILL comes from tests/e2e/log_kill_test.py with VX52_KILLS=20; the
in-process figures (one process, the log or the monitor switched on and off in turn, and the
tick's cost) from bench_app ab, the log's pieces one by one from bench_log (bench/run.sh)."""

import os
import shutil
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from vx52e2e import (TITLE_EN, Simulator, Xserver, cpu_ns, press_keys, start_program,
                     start_running, workdir)
from Xlib import X
from Xlib.ext import xtest

NUMBERS = [a for a in sys.argv[1:] if a[:1].isdigit()]
SECONDS = float(NUMBERS[0]) if NUMBERS else 60.0
ROUNDS = int(NUMBERS[1]) if len(NUMBERS) > 1 else 5
WHAT = [a for a in sys.argv[1:] if not a[:1].isdigit()] or ["log", "monitor"]
MENU_SETTINGS_X = 70  # the Settings title in the English menu bar, from the form's left


def open_monitor(server, win):
    ox, oy = server.form_origin(win)
    xtest.fake_input(server.dpy, X.MotionNotify, x=ox + MENU_SETTINGS_X, y=oy - 10)
    xtest.fake_input(server.dpy, X.ButtonPress, 1)
    xtest.fake_input(server.dpy, X.ButtonRelease, 1)
    server.dpy.sync()
    time.sleep(0.5)  # the menu opens
    press_keys(server, "Up", "Return")  # the last item of the Settings menu
    return server.wait_window("Link Monitor", 5.0) is not None


class Copy:
    """One program with its own X server, folder and simulated source, the output running."""

    def __init__(self, log=False, monitor=False):
        self.server = Xserver()
        self.dir = workdir("vx52logbench.")
        self.sim = Simulator(self.dir)
        self.log = os.path.join(self.dir, "bench.csv") if log else None
        self.prog = None
        mark = self.sim.log.mark()
        self.prog = start_program(self.server, self.dir,
                                  args=["--log", self.log] if log else [])
        win = self.server.wait_window(TITLE_EN)
        if win is None or not start_running(self.server, win, self.sim.log, mark):
            self.close()
            raise RuntimeError("the program did not start running")
        if monitor and not open_monitor(self.server, win):
            self.close()
            raise RuntimeError("the link monitor did not open")

    def reading(self):
        return cpu_ns(self.prog.pid), (os.path.getsize(self.log) if self.log else 0)

    def close(self):
        if self.prog:
            self.prog.kill()
            self.prog.wait()
        self.sim.stop()
        self.server.close()
        shutil.rmtree(self.dir, ignore_errors=True)


def round_of(with_kw, without_kw, first_with):
    """CPU shares (with, without) over one window, and the with-copy's log growth per second."""
    kws = [with_kw, without_kw] if first_with else [without_kw, with_kw]
    copies = []
    try:
        for kw in kws:
            copies.append(Copy(**kw))
        if not first_with:
            copies.reverse()
        time.sleep(2.0)  # the start-up's own work settles
        r0 = [c.reading() for c in copies]
        t0 = time.monotonic()
        time.sleep(SECONDS)  # the measuring window itself
        r1 = [c.reading() for c in copies]
        t1 = time.monotonic()
    finally:
        for c in copies:
            c.close()
    wall = t1 - t0
    share = [(b[0] - a[0]) / 1e9 / wall for a, b in zip(r0, r1)]
    return share[0], share[1], (r1[0][1] - r0[0][1]) / wall


def compare(name, with_kw, without_kw):
    ratios, diffs, ons, offs, rates = [], [], [], [], []
    for r in range(ROUNDS):
        on, off, rate = round_of(with_kw, without_kw, r % 2 == 0)
        ratios.append(on / off)
        diffs.append(100 * (on - off))
        ons.append(100 * on)
        offs.append(100 * off)
        rates.append(rate)
        print(f"  {name} round {r + 1}: without {100 * off:.3f} %, with {100 * on:.3f} % "
              f"(ratio {on / off:.3f}, difference {100 * (on - off):+.3f} % of a core)",
              flush=True)
    med = statistics.median
    print(f"figure {name}, {ROUNDS} rounds of {SECONDS:.0f} s: without {med(offs):.3f} %, "
          f"with {med(ons):.3f} % of a core; ratio {med(ratios):.3f} (median of the rounds), "
          f"difference {med(diffs):+.3f} % of a core (rounds {min(diffs):+.3f} to "
          f"{max(diffs):+.3f})", flush=True)
    return med(rates)


def main():
    if "aa" in WHAT:
        compare("two equal copies", {}, {})
    if "log" in WHAT:
        rate = compare("log on against off", {"log": True}, {})
        print(f"figure log size: {rate * 3600 / 1024:.1f} KiB per hour ({rate * 3600:.0f} "
              f"bytes) with the output running")
    if "monitor" in WHAT:
        compare("link monitor open against closed, log on", {"log": True, "monitor": True},
                {"log": True})


if __name__ == "__main__":
    main()
