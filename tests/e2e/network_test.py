#!/usr/bin/python3
"""The source across the network, as the README sets it up: vx52-sim's terminal served on
127.0.0.1 by ser2net, and socat's pseudo-terminal linked as COM1 in the program's working folder,
started before the program. ser2net, socat and the program share a network namespace of their
own with loopback up; the simulator and the X server stay outside.

The program connects through the chain at start-up, polls, and a start and a stop from the output
lamp reach the source, with no request sent twice for want of a reply. When the server goes away,
socat ends and the program goes offline; with both started again, the connect button brings it
back. Prints what the chain adds to one exchange, against the simulator's terminal reached
directly.

Ends with 77 (skipped) without root, a network namespace, or one of the tools."""

import os
import select
import shutil
import statistics
import subprocess
import sys
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vx52e2e import (BT_CONNECT, LED_OUTPUT, LINK_AREA, OUTPUT_AREA,  # noqa: E402
                     TITLE_EN, Checks, Entry, SharedNetworkNamespace, Simulator, Xserver, sanitizer_report,
                     start_program, wait_exit, wait_until, workdir)

SKIP = 77
TCP_PORT = 7052
PROBES = 20
# Polls come a second apart; the same request again sooner is a repeat after a missed reply.
REPEAT_WITHIN = 0.6

check = Checks()


def tool(name):
    path = os.environ.get("PATH", "") + ":/usr/sbin:/sbin"
    return shutil.which(name, path=path)


def query(mnemonic, address=1):
    body = bytes([7, 0, address]) + mnemonic.encode() + b"*"
    return b"{" + body + bytes([sum(body) % 256]) + b"}"


def read_frame(fd, timeout):
    """One whole frame from a non-blocking terminal, or None at the deadline."""
    data = b""
    end = time.monotonic() + timeout
    while len(data) < 2 or len(data) < data[1] + 3:
        left = end - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            return None
        data += os.read(fd, 256)
    return data


def exchange_times(path, count):
    """Seconds from writing a query to holding its whole reply, once per exchange; None as soon
    as one goes unanswered or comes back malformed."""
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        tty.setraw(fd)
        times = []
        for i in range(count):
            mnemonic = ("RTE", "RNS")[i % 2]
            t0 = time.perf_counter()
            os.write(fd, query(mnemonic))
            reply = read_frame(fd, 1.0)
            t1 = time.perf_counter()
            if reply is None or reply[4:7] != mnemonic.encode() or \
                    not Entry(t1, "TX", reply, "").well_formed():
                return None
            times.append(t1 - t0)
        return times
    finally:
        os.close(fd)


class Chain:
    """ser2net serving the simulator's terminal on 127.0.0.1, and socat linking COM1 in the
    program's folder to it: started in this order, as the README has it."""

    def __init__(self, netns, tools, simdir, progdir):
        self.netns, self.tools, self.simdir, self.progdir = netns, tools, simdir, progdir
        self.ser2net = self.socat = None
        self.config = os.path.join(simdir, "ser2net.yaml")
        with open(self.config, "w") as f:
            f.write("connection: &vx52\n"
                    f"  accepter: tcp,127.0.0.1,{TCP_PORT}\n"
                    f"  connector: serialdev,{os.path.join(simdir, 'COM1')},9600n81,local\n"
                    "  options:\n"
                    "    kickolduser: true\n")

    def _start(self, name, argv, cwd):
        with open(os.path.join(self.simdir, name + ".log"), "ab") as log:
            return subprocess.Popen(self.netns.prefix() + [self.tools[name]] + argv, cwd=cwd,
                                    stdin=subprocess.DEVNULL, stdout=log,
                                    stderr=subprocess.STDOUT)

    def _tcp(self, state):
        """(local port, remote port) of the namespace's TCP sockets in a state."""
        with open(f"/proc/{self.netns.holder.pid}/net/tcp") as f:
            rows = [line.split() for line in f.readlines()[1:]]
        return [(int(r[1].split(":")[1], 16), int(r[2].split(":")[1], 16))
                for r in rows if r[3] == state]

    def start(self):
        # -u: no UUCP lock files in /var/lock, which a killed run would leave for the next.
        self.ser2net = self._start("ser2net", ["-n", "-u", "-c", self.config, "-P",
                                               os.path.join(self.simdir, "ser2net.pid")],
                                   self.simdir)
        if not check(wait_until(lambda: (TCP_PORT, 0) in self._tcp("0A"), 5.0),
                     f"ser2net listens on 127.0.0.1:{TCP_PORT}"):
            return False
        self.socat = self._start("socat", ["-d", "pty,link=COM1,raw,echo=0",
                                           f"tcp:127.0.0.1:{TCP_PORT}"], self.progdir)
        return check(wait_until(lambda: os.path.islink(self.link()) and any(
            remote == TCP_PORT for _, remote in self._tcp("01")), 5.0),
            "socat links COM1 and connects to ser2net")

    def link(self):
        return os.path.join(self.progdir, "COM1")

    def drop(self):
        """The server goes away; socat sees the connection end, and ends too."""
        end(self.ser2net)
        return wait_exit(self.socat, 5.0) is not None and not os.path.lexists(self.link())

    def close(self):
        end(self.socat)
        end(self.ser2net)


def end(proc):
    if proc and proc.poll() is None:
        proc.terminate()
        wait_exit(proc, 5.0)


def requests(log, mark, until=None):
    return [e for e in log.since(mark)[:None if until is None else until - mark] if e.dir == "RX"]


def repeats(log, mark, until):
    """Requests sent again right after themselves: each one follows a reply the program missed."""
    rx = requests(log, mark, until)
    return [b for a, b in zip(rx, rx[1:]) if a.bytes == b.bytes and b.t - a.t < REPEAT_WITHIN]


def unanswered(log, mark, until):
    """Requests between two marks whose next frame in the log is not a reply."""
    frames = [(i, e) for i, e in enumerate(log.since(mark), mark) if e.dir in ("RX", "TX")]
    return [a for (i, a), (_, b) in zip(frames, frames[1:] + [(None, None)])
            if i < until and a.dir == "RX" and (b is None or b.dir != "TX")]


def clean_exchanges(log, mark, until, what):
    """Every request between two marks answered, and none sent twice."""
    # The reply to the last request may not be in the log yet.
    wait_until(lambda: not unanswered(log, mark, until), 2.0)
    lost = unanswered(log, mark, until)
    check(not lost, f"{what}: each of {len(requests(log, mark, until))} requests answered"
          + (": " + ", ".join(map(repr, lost)) if lost else ""))
    again = repeats(log, mark, until)
    check(not again, f"{what}: no request sent twice for want of a reply"
          + (": " + ", ".join(map(repr, again)) if again else ""))


def sim_output(sim):
    return next((line for line in sim.status().splitlines() if line.startswith("output ")), "")


def click_and_wait(server, win, log, control, mnemonics, what):
    """Clicks a control and waits for these requests, in this order; returns the mark before."""
    mark = log.mark()
    server.click(win, control)

    def sent():
        names = [e.mnemonic for e in requests(log, mark)]
        return any(names[i:i + len(mnemonics)] == mnemonics for i in range(len(names)))
    check(wait_until(sent, 5.0), f"{what} sends {' '.join(mnemonics)}")
    return mark


def run(netns, tools):
    # Name resolution with AI_ADDRCONFIG, which ser2net 4 asks for, offers IPv4 only once there
    # is an IPv4 address besides loopback's own; one on lo itself is enough and needs no module.
    for args in (["link", "set", "lo", "up"], ["addr", "add", "10.52.0.1/32", "dev", "lo"]):
        subprocess.run(netns.prefix() + [tools["ip"]] + args, check=True)

    server = Xserver()
    simdir = workdir("vx52net-sim.", set_dat=None)
    progdir = workdir("vx52net.")
    sim = Simulator(simdir, ["--no-noise"])
    log = sim.log
    chain = Chain(netns, tools, simdir, progdir)
    prog = None
    try:
        direct = exchange_times(os.path.join(simdir, "COM1"), PROBES)
        check(direct is not None, "the simulator answers on its own terminal")
        if not chain.start():
            return
        # The probe also opens and closes COM1 before the program does, as a program going
        # offline and back would: socat must outlive a closed terminal.
        through = exchange_times(chain.link(), PROBES)
        check(through is not None, "the simulator answers through ser2net and socat")
        if direct and through:
            added = statistics.median(through) - statistics.median(direct)
            print(f"figure ser2net/socat path: +{added * 1000:.2f} ms per exchange "
                  f"(median of {PROBES}; direct {statistics.median(direct) * 1000:.2f} ms, "
                  f"through the chain {statistics.median(through) * 1000:.2f} ms, "
                  f"slowest {max(through) * 1000:.2f} ms)", flush=True)

        # ---- connect at start-up, polls, start, stop --------------------------------------------
        mark = log.mark()
        prog = start_program(server, progdir, netns)
        win = server.wait_window(TITLE_EN)
        if not check(win is not None, "the main window appears"):
            return
        wait_until(lambda: len(requests(log, mark)) >= 7, 20.0)
        names = [e.mnemonic for e in requests(log, mark)][:7]
        check(names == ["RMO", "RTE", "RNS", "RTE"] + ["RTE"] * 3,
              "connects at start-up, then polls: " + " ".join(names))
        polls = [e.t for e in requests(log, mark) if e.mnemonic == "RTE"][2:]
        gaps = [b - a for a, b in zip(polls, polls[1:])]
        check(gaps and max(gaps) < 3.0,
              "polls keep coming: gaps " + " ".join(f"{g:.2f}" for g in gaps) + " s")
        online_look = server.grab(win, LINK_AREA)
        stopped_look = server.grab(win, OUTPUT_AREA)

        started = click_and_wait(server, win, log, LED_OUTPUT, ["SNO", "CST"], "start")
        measured = log.wait(started, lambda e: e.dir == "RX" and e.mnemonic == "RNT", 5.0)
        check(measured is not None and sim_output(sim).startswith("output on"),
              "start: the source runs and is measured: " + sim_output(sim))
        click_and_wait(server, win, log, LED_OUTPUT, ["CSP"], "stop")
        check(sim_output(sim).startswith("output off"), "stop: " + sim_output(sim))
        check(bool(wait_until(lambda: server.grab(win, OUTPUT_AREA) == stopped_look, 3.0)),
              "stop: the window shows the output stopped again")
        clean_exchanges(log, mark, log.mark(), "over loopback")

        # ---- the server goes away and comes back -------------------------------------------------
        check(chain.drop(), "server gone: socat ends and takes COM1 with it")
        check(bool(wait_until(lambda: server.grab(win, LINK_AREA) != online_look, 6.0)),
              "server gone: the window shows the link offline")
        if not chain.start():
            return
        mark = log.mark()
        click_and_wait(server, win, log, BT_CONNECT, ["RMO", "RTE", "RNS", "RTE"],
                       "server back: the connect button")
        check(bool(wait_until(lambda: server.grab(win, LINK_AREA) == online_look, 3.0)),
              "server back: the window shows the model again")

        server.close_box(win)
        check(wait_exit(prog) == 0, "the close box ends the program with 0")
        clean_exchanges(log, mark, log.mark(), "after the reconnect")
        report = sanitizer_report(progdir)
        check(not report, "no sanitizer report" + (": " + report if report else ""))
    finally:
        if prog:
            end(prog)
        chain.close()
        sim.stop()
        server.close()
        if check.failures:
            print("folders kept: " + simdir + " " + progdir)
        else:
            shutil.rmtree(simdir, ignore_errors=True)
            shutil.rmtree(progdir, ignore_errors=True)


def main():
    tools = {name: tool(name) for name in ("ip", "ser2net", "socat", "nsenter", "unshare")}
    missing = [name for name, path in tools.items() if not path]
    if os.geteuid() != 0:
        print("skipped: a network namespace of its own needs root")
        return SKIP
    if missing:
        print("skipped: not installed: " + ", ".join(missing))
        return SKIP
    netns = SharedNetworkNamespace()
    if not netns.holder:
        print("skipped: no network namespace of our own")
        return SKIP
    try:
        run(netns, tools)
    finally:
        netns.close()
    return check.summary()


if __name__ == "__main__":
    sys.exit(main())
