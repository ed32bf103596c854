#!/usr/bin/python3
"""Fault soak: the real program against vx52-sim in a private Xvfb server for a
bounded time, while the simulator gets faults at random (silence, corrupt,
wrongaddr, stray, late, refuse, state 1/3/4, overload, overcurrent load, unplug
and replug) and an operator clicks start, stop, clear alarm and connect.

Checks, printed as ok / FAIL lines, exit status 1 on any failure:
  - the program never dies and never freezes (the logo keeps moving, the tick
    keeps polling), and uses little CPU;
  - polls keep their period: two state queries with only measurements between
    them are 20 ticks (1 s) apart;
  - every loss of the instrument ends in a clean offline window: no request
    reaches the instrument until connect is clicked, and no message box;
  - resident memory does not grow beyond a small bound after warm-up;
  - the close box (the output stopped first) ends the program with 0, and
    Set.Dat and AutoSave52P.52P come back byte for byte, with no temporary file left behind.

Usage: bench/soak.py [MINUTES] [--seed N] [--faults a,b,...] [--keep]
MINUTES may be a fraction (1 = 60 s, the short run for CI; default 10)."""

import argparse
import os
import random
import statistics
import sys
import time

try:
    import Xlib  # noqa: F401
except ImportError:
    # python3-xlib comes with the system's Python; another python3 first on PATH lacks it.
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    raise

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from vx52e2e import (BT_CONNECT, LED_OUTPUT, LINK_AREA, PROGRAM, SET_DAT, TITLE_EN, Checks,
                     Simulator, Xserver, autosave_bytes, cpu_seconds, rss_kb, sanitizer_report,
                     start_program, wait_exit, wait_until, workdir)

BT_CLEAR_ALARM = (22, 600, 298, 40)
PIC_LOGO = (10, 8, 150, 52)
WAIT_TITLES = {"Please Wait", "请稍候"}

FAULTS = ["silence", "corrupt", "wrongaddr", "stray", "late", "refuse", "state1", "state3",
          "state4", "overload", "overcurrent", "unplug"]
ACTIONS = ["start_stop", "clear_alarm"]

# Resident memory may settle during the first part of the run (charts filling, fonts, caches);
# after that it must stay within this many kB of where it was.
RSS_GROWTH_LIMIT_KB = 4096
# A stall this long without a repaint or a poll counts as a hang.
HANG_SECONDS = 3.0

check = Checks()


class Soak:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.server = Xserver()
        self.dir = workdir("vx52soak.", autosave=autosave_bytes(2200, 500, 1, 5, 5))
        self.sim = Simulator(self.dir)
        self.log = self.sim.log
        # The operator reconnects here: the program's own tries would keep the
        # window from the offline look the soak waits for.
        self.prog = start_program(self.server, self.dir, args=["--no-reconnect"])
        self.win = None
        self.plugged = True
        self.counts = {}
        self.rss = []            # (seconds since start, kB)
        self.offline_spans = []  # (from, to) wall times in which no request may arrive
        self.offline_since = None
        self.boxes = []
        self.last_logo = None
        self.logo_changed_at = time.monotonic()
        self.hangs = 0
        self.t_start = time.monotonic()

    # ---- watching ------------------------------------------------------------------------
    def look(self):
        return self.server.grab(self.win, LINK_AREA)

    def online(self):
        return self.look() == self.online_look

    def watch(self, seconds):
        """Looks after the program for a while: alive, repainting, no message box, memory;
        notes when the window turns offline."""
        end = time.monotonic() + seconds
        while True:
            if self.prog.poll() is not None:
                raise RuntimeError(f"the program ended with {self.prog.returncode}")
            now = time.monotonic()
            logo = self.server.grab(self.win, PIC_LOGO)
            if logo != self.last_logo:
                self.last_logo, self.logo_changed_at = logo, now
            elif now - self.logo_changed_at > HANG_SECONDS:
                self.hangs += 1
                self.logo_changed_at = now
            for wid, title in self.server.windows().items():
                if wid != self.win and title not in WAIT_TITLES and wid not in self.boxes:
                    self.boxes.append(wid)
                    print(f"  message box '{title}' at {now - self.t_start:.1f} s", flush=True)
                    self.server.close_box(wid)
            self.rss.append((now - self.t_start, rss_kb(self.prog.pid)))
            link = self.look()
            if link == self.offline_look and self.offline_since is None:
                self.offline_since = time.time()
            if now >= end:
                return
            time.sleep(min(0.1, max(0.0, end - now)))

    def connect(self):
        """Clicks connect, as the operator does once the window shows the link offline."""
        if self.offline_since is None or not self.plugged:
            return
        self.offline_spans.append((self.offline_since, time.time()))
        self.offline_since = None
        self.server.click(self.win, BT_CONNECT)
        self.count("connect click")
        # The connect sequence takes six exchanges at most; give it time to finish.
        if not wait_until(lambda: self.online(), 5.0, 0.1):
            self.count("connect click without link")

    def count(self, what):
        self.counts[what] = self.counts.get(what, 0) + 1

    # ---- faults and operator actions -----------------------------------------------------
    def episode(self, kind):
        self.count(kind)
        hold = self.rng.uniform(0.1, 2.0)
        sim = self.sim
        if kind in ("silence", "corrupt", "wrongaddr", "stray", "refuse"):
            sim.command(kind + " on")
            self.watch(hold)
            sim.command(kind + " off")
        elif kind == "late":
            sim.command(f"late on {self.rng.randint(100, 900)}")
            self.watch(hold)
            sim.command("late off")
        elif kind.startswith("state"):
            sim.command("state " + kind[-1])
            self.watch(hold)
            sim.command("state normal")
        elif kind == "overload":
            sim.command("overload")
        elif kind == "overcurrent":
            sim.command("load 5")  # 44 A at 220 V, above the 20 A limit while running
            self.watch(hold)
            sim.command("load 100")
        elif kind == "unplug":
            was_online = self.offline_since is None
            sim.command("unplug")
            self.plugged = False
            # The program needs at most a poll and three reply waits to notice.
            self.watch(hold + 2.0)
            if was_online:
                self.count("unplug while online")
                if self.offline_since is not None:
                    self.count("unplug noticed")
            sim.command("replug")
            self.plugged = True
        elif kind == "start_stop":
            self.server.click(self.win, LED_OUTPUT)
        elif kind == "clear_alarm":
            self.server.click(self.win, BT_CLEAR_ALARM)

    def run(self):
        self.win = self.server.wait_window(TITLE_EN)
        if not check(self.win is not None, "the main window appears"):
            return
        if not check(wait_until(lambda: len(self.log.since(0, "RX")) >= 5, 20.0),
                     "connects at start-up and polls"):
            return
        self.online_look = self.look()
        self.sim.command("silence on")
        wait_until(lambda: self.look() != self.online_look, 5.0, 0.05)
        self.offline_look = self.look()
        self.sim.command("silence off")
        self.offline_since = time.time()
        self.connect()
        check(self.online(), "connect button brings the link back")

        faults = self.args.faults
        deadline = self.t_start + self.args.minutes * 60
        cpu0, t0 = cpu_seconds(self.prog.pid), time.monotonic()
        sim_cpu0 = cpu_seconds(self.sim.proc.pid)
        # Shuffled rounds, so that even a short run meets every fault.
        bag = []
        while time.monotonic() < deadline - 3:
            if not bag:
                bag = faults + ACTIONS
                self.rng.shuffle(bag)
            self.episode(bag.pop())
            self.watch(self.rng.uniform(0.3, 1.5))
            self.connect()
        self.watch(max(0.0, deadline - time.monotonic()))
        span = time.monotonic() - t0
        self.cpu = (cpu_seconds(self.prog.pid) - cpu0) / span
        self.sim_cpu = (cpu_seconds(self.sim.proc.pid) - sim_cpu0) / span

    # ---- verdicts ------------------------------------------------------------------------
    def verdict(self):
        entries = self.log.update()
        rx = [e for e in entries if e.dir == "RX"]
        print(f"episodes: {', '.join(f'{k} {v}' for k, v in sorted(self.counts.items()))}")
        print(f"figure requests {len(rx)}, replies {len([e for e in entries if e.dir == 'TX'])}, "
              f"CPU program {100 * self.cpu:.2f} %, simulator {100 * self.sim_cpu:.2f} %")
        check(self.hangs == 0, f"the window kept repainting (stalls over {HANG_SECONDS} s: "
              f"{self.hangs})")
        check(self.cpu < 0.25, f"the program uses little CPU ({100 * self.cpu:.2f} %)")
        check(not self.boxes, f"no message box ({len(self.boxes)})")
        failed = self.counts.get("connect click without link", 0)
        check(failed == 0, f"every connect click brought the link up ({failed} did not)")
        unplugs = self.counts.get("unplug while online", 0)
        check(self.counts.get("unplug noticed", 0) == unplugs,
              f"every unplug while online took the window offline ({unplugs})")
        check(all(e.well_formed() for e in rx), "every request is well-formed")

        # Poll period: a state query that follows a poll, answered at once, and the next state
        # query with only answered measurement queries between them, no fault and no operator
        # action in the way: 20 ticks apart. (The first poll after a connect comes 25 ticks
        # after the sequence's own state query, and a repeated request keeps the schedule of
        # the first one: neither starts a period.)
        gaps = []
        last = None
        clean = False
        waiting = False  # the latest request is not answered yet
        previous = ""
        for e in entries:
            if e.dir == "RX":
                repeat = waiting
                waiting = True
                if e.mnemonic == "RTE":
                    if last is not None and clean and not repeat:
                        gaps.append(e.t - last.t)
                    last = e
                    clean = previous in ("RTE", "RNT") and not repeat
                elif e.mnemonic != "RNT" or repeat:
                    clean = False
                previous = e.mnemonic
            elif e.dir == "TX" and waiting and e.well_formed():
                waiting = False
            else:
                clean = False  # a fault, a note, or a reply the program cannot take
        if gaps:
            med = statistics.median(gaps)
            print(f"figure poll period: {len(gaps)} clean periods, median {med:.3f} s, "
                  f"min {min(gaps):.3f} s, max {max(gaps):.3f} s")
            check(0.95 <= med <= 1.05, f"the tick keeps its period (median {med:.3f} s)")
            check(max(gaps) < 1.5, f"no poll came late by more than 10 ticks "
                  f"(max {max(gaps):.3f} s)")
        else:
            check(False, "clean poll periods to measure")

        leaks = []
        for t0, t1 in self.offline_spans:
            leaks += [e for e in rx if t0 < e.t < t1]
        check(not leaks, f"{len(self.offline_spans)} offline spans without a request "
              + (f"(found {leaks[:3]})" if leaks else ""))

        warm = [kb for t, kb in self.rss if t >= 0.25 * (self.rss[-1][0])]
        with open(PROGRAM, "rb") as f:
            sanitized = b"__asan_init" in f.read()
        if sanitized:
            # Its quarantine keeps freed memory for a while on purpose.
            print(f"figure VmRSS: {self.rss[0][1]} .. {max(kb for _, kb in self.rss)} kB, "
                  "not judged: AddressSanitizer build")
        elif warm:
            growth = max(warm) - warm[0]
            print(f"figure VmRSS: start {self.rss[0][1]} kB, after warm-up {warm[0]} kB, "
                  f"max {max(warm)} kB, end {warm[-1]} kB")
            check(growth < RSS_GROWTH_LIMIT_KB,
                  f"memory stays within {RSS_GROWTH_LIMIT_KB} kB after warm-up (+{growth} kB)")

    def finish(self):
        # A running output would make the close box ask first: the operator stops it.
        if self.online() and "\noutput on" in self.sim.status():
            self.server.click(self.win, LED_OUTPUT)
            check(wait_until(lambda: "\noutput off" in self.sim.status(), 5.0, 0.2),
                  "the output stops before the close box")
            # The window takes no close while its wait box is up, and asks while
            # the stop is not confirmed yet.
            wait_until(lambda: not set(self.server.windows().values()) & WAIT_TITLES, 5.0, 0.1)
            self.watch(1.0)
        self.server.close_box(self.win)
        code = wait_exit(self.prog)
        check(code == 0, f"the close box ends the program with 0 ({code})")
        with open(os.path.join(self.dir, "Set.Dat"), "rb") as f:
            check(f.read() == SET_DAT, "Set.Dat intact")
        with open(os.path.join(self.dir, "AutoSave52P.52P"), "rb") as f:
            check(f.read() == autosave_bytes(2200, 500, 1, 5, 5), "AutoSave52P.52P intact")
        report = sanitizer_report(self.dir)
        check(not report, "no sanitizer report" + (": " + report if report else ""))
        expected = {"English.dat", "Chinese.dat", "Set.Dat", "AutoSave52P.52P",
                    "sim.log", "sim.ctl", "COM1", "program.err"}
        extra = sorted(set(os.listdir(self.dir)) - expected)
        check(not extra, "no temporary file left behind" + (f" ({extra})" if extra else ""))

    def close(self):
        if self.prog.poll() is None:
            self.prog.kill()
            self.prog.wait()
        self.sim.stop()
        self.server.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("minutes", nargs="?", type=float, default=10.0)
    parser.add_argument("--seed", type=int, default=int(time.time()) % 100000)
    parser.add_argument("--faults", default=",".join(FAULTS),
                        help="comma-separated, from: " + " ".join(FAULTS))
    parser.add_argument("--keep", action="store_true", help="keep the working folder")
    args = parser.parse_args()
    args.faults = [f for f in args.faults.split(",") if f]
    unknown = [f for f in args.faults if f not in FAULTS]
    if unknown:
        parser.error("unknown fault " + ", ".join(unknown))
    print(f"soak: {args.minutes:g} min, seed {args.seed}, faults {' '.join(args.faults)}",
          flush=True)

    started = time.monotonic()
    soak = Soak(args)
    try:
        soak.run()
        if not check.failures:
            soak.verdict()
            soak.finish()
    except RuntimeError as e:
        check(False, str(e))
    finally:
        soak.close()
        print(f"working folder {soak.dir}" if args.keep else "", end="")
        if not args.keep:
            import shutil
            shutil.rmtree(soak.dir, ignore_errors=True)
    print(f"wall time {time.monotonic() - started:.1f} s")
    return check.summary()


if __name__ == "__main__":
    sys.exit(main())
