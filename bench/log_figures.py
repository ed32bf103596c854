#!/usr/bin/python3
"""Figures of the data log and the link monitor, the real program against vx52-sim in a private
Xvfb server, the output running: CPU without a log, with a log (the ratio of the two, measured
in this one run), with the link monitor open as well; the log's bytes per hour. The SIGKILL gap
figure comes from tests/e2e/log_kill_test.py with VX52_KILLS=20.

    /usr/bin/python3 bench/log_figures.py [SECONDS]     (default 60 per window)

Run from build/ or with VX52_BIN_DIR set."""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from vx52e2e import (TITLE_EN, Simulator, Xserver, cpu_seconds, press_keys, start_program,
                     start_running, wait_until, workdir)
from Xlib import X
from Xlib.ext import xtest

SECONDS = float(sys.argv[1]) if len(sys.argv) > 1 else 60.0
MENU_SETTINGS_X = 70  # the Settings title in the English menu bar, from the form's left


def cpu_window(prog, path=None):
    """CPU share of the program over one window, and the log's growth in it."""
    size0 = os.path.getsize(path) if path else 0
    c0, t0 = cpu_seconds(prog.pid), time.monotonic()
    time.sleep(SECONDS)  # the measuring window itself
    c1, t1 = cpu_seconds(prog.pid), time.monotonic()
    grown = (os.path.getsize(path) - size0) if path else 0
    return (c1 - c0) / (t1 - t0), grown / (t1 - t0)


def run(server, sim, d, args):
    mark = sim.log.mark()
    prog = start_program(server, d, args=args)
    win = server.wait_window(TITLE_EN)
    if win is None or not start_running(server, win, sim.log, mark):
        prog.kill()
        raise RuntimeError("the program did not start running")
    time.sleep(2.0)  # the start-up's own work settles before the window opens
    return prog, win


def open_monitor(server, win):
    ox, oy = server.form_origin(win)
    xtest.fake_input(server.dpy, X.MotionNotify, x=ox + MENU_SETTINGS_X, y=oy - 10)
    xtest.fake_input(server.dpy, X.ButtonPress, 1)
    xtest.fake_input(server.dpy, X.ButtonRelease, 1)
    server.dpy.sync()
    time.sleep(0.5)  # the menu opens
    press_keys(server, "Up", "Return")  # the last item of the Settings menu
    return server.wait_window("Link Monitor", 5.0) is not None


def main():
    server = Xserver()
    d = workdir("vx52logbench.")
    sim = Simulator(d)
    path = os.path.join(d, "bench.csv")
    try:
        prog, _ = run(server, sim, d, [])
        off, _ = cpu_window(prog)
        prog.kill()
        prog.wait()
        prog, win = run(server, sim, d, ["--log", path])
        on, rate = cpu_window(prog, path)
        monitor = open_monitor(server, win)
        with_monitor, _ = cpu_window(prog, path)
        prog.kill()
        prog.wait()
        print(f"figure CPU, output running, {SECONDS:.0f} s windows: log off {100 * off:.3f} %, "
              f"log on {100 * on:.3f} % (ratio {on / off:.3f}, difference "
              f"{100 * (on - off):+.3f} % of a core)")
        print(f"figure CPU with the link monitor open as well: {100 * with_monitor:.3f} % "
              f"(ratio to log on {with_monitor / on:.3f})" if monitor
              else "figure: the link monitor did not open")
        print(f"figure log size: {rate * 3600 / 1024:.1f} KiB per hour "
              f"({rate * 3600:.0f} bytes) with the output running")
    finally:
        sim.stop()
        server.close()


if __name__ == "__main__":
    main()
