#!/usr/bin/python3
"""Figures of the program left alone: the real program against vx52-sim.

    /usr/bin/python3 bench/unattended_figures.py [SECONDS] [ROUNDS] [cpu] [reconnect]

"cpu": a copy with --headless and a copy with its window (in Xvfb) side by side, each on its own
simulated source, online with the output running, over the same windows of SECONDS (default 30),
ROUNDS times (default 5): the median of the rounds' CPU ratios (headless to windowed; CPU of every
thread, from /proc/PID/task/*/schedstat) and the resident memory of each.
"reconnect": a headless copy loses its source for 20 s while the output runs, ROUNDS times; the
time from the port's return to online (SYST:LINK? answers ONLINE), and from the try that finds
it to online. Run from build/ or with VX52_BIN_DIR set."""

import os
import shutil
import signal
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from vx52e2e import (TITLE_EN, Client, Network, Simulator, Xserver, cpu_ns, log_events, rss_kb,
                     start_headless, start_program, wait_exit, wait_until, workdir)

NUMBERS = [a for a in sys.argv[1:] if a[:1].isdigit()]
SECONDS = float(NUMBERS[0]) if NUMBERS else 30.0
ROUNDS = int(NUMBERS[1]) if len(NUMBERS) > 1 else 5
WHAT = [a for a in sys.argv[1:] if not a[:1].isdigit()] or ["cpu", "reconnect"]
OUTAGE = 20.0


def start(net, cwd, port, server=None, extra=()):
    """A copy in its window when a server is given, else without one."""
    args = ("--remote", str(port), *extra)
    if server:
        return start_program(server, cwd, net.ns, args)
    return start_headless(cwd, net.ns, ("--quiet",) + args)


def running(client):
    if not wait_until(lambda: client.ask("SYST:LINK?") == "ONLINE", 20.0, 0.1):
        raise RuntimeError("no link")
    client.send("OUTP ON")
    if not wait_until(lambda: client.ask("OUTP?") == "1", 5.0, 0.05):
        raise RuntimeError("the output does not run")


def cpu_figures(net):
    server = Xserver()
    folders = [workdir("vx52bench-headless."), workdir("vx52bench-window.")]
    sims = [Simulator(f, ["--no-noise"]) for f in folders]
    ports = [net.port, net.other_port(1)]
    procs = []
    try:
        procs.append(start(net, folders[0], ports[0]))
        procs.append(start(net, folders[1], ports[1], server=server))
        server.wait_window(TITLE_EN)
        clients = [Client(net, p) for p in ports]
        for c in clients:
            running(c)
        time.sleep(3)  # charts filling, first measurements in
        ratios = []
        for _ in range(ROUNDS):
            before = [cpu_ns(p.pid) for p in procs]
            time.sleep(SECONDS)  # the measuring window itself
            used = [cpu_ns(p.pid) - b for p, b in zip(procs, before)]
            ratios.append(used[0] / used[1])
            print(f"round: headless {used[0] / 1e9 / SECONDS * 100:.2f} %, windowed "
                  f"{used[1] / 1e9 / SECONDS * 100:.2f} % of a core", flush=True)
        rss = [rss_kb(p.pid) / 1024 for p in procs]
        print(f"figure CPU headless / windowed, online, output running: "
              f"{statistics.median(ratios):.2f} (median of {ROUNDS} rounds of {SECONDS:.0f} s)")
        print(f"figure resident memory: headless {rss[0]:.1f} MB, windowed {rss[1]:.1f} MB")
        for c in clients:
            c.close()
    finally:
        for p in procs:
            p.send_signal(signal.SIGTERM)
            wait_exit(p)
        for s in sims:
            s.stop()
        server.close()
        for f in folders:
            shutil.rmtree(f, ignore_errors=True)


def reconnect_figures(net):
    d = workdir("vx52bench-reconnect.")
    simdir = tempfile.mkdtemp(prefix="vx52bench-reconnect-sim.")
    sim = Simulator(simdir, ["--no-noise"])
    os.symlink(os.path.join(simdir, "COM1"), os.path.join(d, "COM1"))
    proc = start(net, d, net.port, extra=("--log", "run.csv"))
    back_to_online = []
    try_to_online = []
    try:
        client = Client(net)
        running(client)
        for n in range(1, ROUNDS + 1):
            sim.command("unplug")
            gone = time.monotonic()
            wait_until(lambda: client.ask("SYST:LINK?") != "ONLINE", 5.0, 0.05)
            time.sleep(max(0.0, gone + OUTAGE - time.monotonic()))  # the outage itself
            sim.command("replug")
            back = time.monotonic()
            wait_until(lambda: client.ask("SYST:LINK?") == "ONLINE", 60.0, 0.02)
            back_to_online.append(time.monotonic() - back)
            events = log_events(os.path.join(d, "run.csv"))
            tried = [t for t, e, _ in events if e == "reconnect_try"][-1]
            restored = [t for t, e, _ in events if e == "link_restored"][-1]
            try_to_online.append(restored - tried)
            print(f"round {n}: port back to online {back_to_online[-1]:.2f} s, "
                  f"the try that found it to online {try_to_online[-1]:.2f} s", flush=True)
            client.send("OUTP ON")
            wait_until(lambda: client.ask("OUTP?") == "1", 5.0, 0.05)
        print(f"figure from the port's return to online after a {OUTAGE:.0f} s outage: "
              f"{statistics.median(back_to_online):.2f} s (median of {ROUNDS}; the wait for the "
              f"next try of the back-off, then the connect sequence)")
        print(f"figure from the successful try to online: {statistics.median(try_to_online):.2f} s")
        client.close()
    finally:
        proc.send_signal(signal.SIGTERM)
        wait_exit(proc)
        sim.stop()
        shutil.rmtree(d, ignore_errors=True)
        shutil.rmtree(simdir, ignore_errors=True)


def main():
    net = Network()
    try:
        if "cpu" in WHAT:
            cpu_figures(net)
        if "reconnect" in WHAT:
            reconnect_figures(net)
    finally:
        net.close()


if __name__ == "__main__":
    main()
