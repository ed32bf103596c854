#!/usr/bin/python3
"""The real program with --headless --remote --log against vx52-sim, with no DISPLAY and no X
server anywhere: a VISA client (PyVISA's pure-Python backend) drives a whole session (identify,
set, start, measure, step, disconnect and connect the link, start again); the state goes to
standard output as lines at most a second apart, and only when it changes; SIGTERM ends the
program with 0, the log and the settings written and the output left running. A second copy in
the same folder is refused with its warning as one line on standard error; a copy whose remote
port is taken says so in one line, ends with 255 and leaves nothing behind; --quiet prints no
state."""

import os
import shutil
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vx52e2e import (Checks, Client, Network, Simulator, end, finish, log_events, open_visa,
                     start_headless, wait_exit, wait_until, workdir)

import pyvisa

check = Checks()


class Headless:
    """The program without a display; its standard output read line by line as it comes."""

    def __init__(self, net, cwd, *args, err="program.err"):
        self.lines = []
        self.err_path = os.path.join(cwd, err)
        self.proc = start_headless(cwd, net.ns, args, stdout=subprocess.PIPE, err_name=err)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.append((time.monotonic(), raw.decode("utf-8", "replace").rstrip("\n")))

    def stderr(self):
        with open(self.err_path, encoding="utf-8", errors="replace") as f:
            return [line for line in f.read().splitlines() if line.startswith("Vx52PSoft")]


def main():
    net = Network()
    d = workdir("vx52headless.")
    sim = Simulator(d, ["--no-noise"])
    log = sim.log
    others = []
    prog = None
    try:
        prog = Headless(net, d, "--remote", str(net.port), "--log", "run.csv")
        Client(net).close()  # listening: VISA's own open does not wait for that
        rm = pyvisa.ResourceManager("@py")
        inst = wait_until(lambda: open_visa(net, rm, f"TCPIP::127.0.0.1::{net.port}::SOCKET"),
                          10.0, 0.1)
        if not check(inst is not None, "a VISA client reaches the program without a display"):
            return 1
        q = inst.query
        check(wait_until(lambda: q("SYST:LINK?") == "ONLINE", 20.0, 0.1), "the link comes up")
        check(q("*IDN?").startswith("Vx52PSoft,VX52300P,"), "identify")
        inst.write("VOLT 230.0;:FREQ 60.0")
        inst.write("OUTP ON")
        check(q("*OPC?") == "1" and wait_until(lambda: q("OUTP?") == "1", 5.0, 0.05),
              "the output runs")
        check(wait_until(lambda: float(q("MEAS:AGE?")) < 1.5, 5.0, 0.1), "a measurement arrives")
        meas = [float(v) for v in q("MEAS:ALL?").split(",")]
        check(abs(meas[0] - 230.0) < 1.0 and abs(meas[2] - 60.0) < 0.2, f"MEAS:ALL? {meas}")
        inst.write("VOLT UP")
        check(wait_until(lambda: q("VOLT?") == "235.0", 3.0, 0.05), "VOLT UP steps")
        inst.write("OUTP OFF")
        check(wait_until(lambda: q("OUTP?") == "0", 3.0, 0.05), "the output stops")
        inst.write("SYST:LINK OFF")
        check(q("SYST:LINK?") == "OFFLINE", "SYST:LINK OFF disconnects")
        inst.write("SYST:LINK ON")
        check(q("SYST:LINK?") in ("CONNECTING", "ONLINE"), "SYST:LINK ON connects")
        check(wait_until(lambda: q("SYST:LINK?") == "ONLINE", 5.0, 0.1), "and the link is up")
        inst.write("OUTP ON")
        check(wait_until(lambda: q("OUTP?") == "1", 5.0, 0.05), "the output runs again")
        check(q("SYST:ERR?") == '0,"No error"', "no error along the way")
        final = "link=ONLINE output=ON set=235.0V,60.0Hz,HIGH measured=235.0V,"
        wait_until(lambda: prog.lines and prog.lines[-1][1].startswith(final), 5.0)
        inst.close()

        # ---- the state on standard output --------------------------------------------------------
        lines = list(prog.lines)
        texts = [text for _, text in lines]
        check(bool(texts) and texts[0].startswith("link="), "state lines: " + repr(texts[:2]))
        check(texts[-1].startswith(final),
              "the last state line shows the link, output, set values and measurement: "
              + texts[-1])
        check(all(a != b for a, b in zip(texts, texts[1:])), "a line only when the state changes")
        gaps = [b - a for (a, _), (b, _) in zip(lines, lines[1:])]
        check(all(g > 0.9 for g in gaps), f"at most a line a second (closest {min(gaps):.2f} s)")

        # ---- other copies ------------------------------------------------------------------------
        second = Headless(net, d, err="second.err")
        others.append(second)
        check(wait_exit(second.proc) == 255, "a second copy in the folder ends with 255")
        check(second.stderr() == ["Vx52PSoft: another copy is already running",
                                  "Vx52PSoft: Warning: Application has already opened, please "
                                  "don't open again!"],
              "and its warning box is one line on standard error: " + repr(second.stderr()))
        busy_dir = workdir("vx52headless-busy.", set_dat=None)
        busy = Headless(net, busy_dir, "--remote", str(net.port), "--log", "busy.csv")
        others.append(busy)
        check(wait_exit(busy.proc) == 255, "a copy whose remote port is taken ends with 255")
        said = busy.stderr()
        check(len(said) == 1 and "cannot listen for remote control" in said[0],
              "and says so in one line: " + repr(said))
        check(sorted(os.listdir(busy_dir)) == ["Chinese.dat", "English.dat", "program.err"],
              "nothing half-started: " + repr(sorted(os.listdir(busy_dir))))
        quiet = Headless(net, busy_dir, "--quiet")
        others.append(quiet)
        time.sleep(1.5)  # a state line would come on the first tick
        quiet.proc.send_signal(signal.SIGTERM)
        check(wait_exit(quiet.proc) == 0 and quiet.lines == [], "--quiet prints no state")
        shutil.rmtree(busy_dir, ignore_errors=True)

        # ---- SIGTERM -------------------------------------------------------------------------------
        mark = log.mark()
        prog.proc.send_signal(signal.SIGTERM)
        check(wait_exit(prog.proc) == 0, "SIGTERM ends the program with 0")
        events = [e for _, e, _ in log_events(os.path.join(d, "run.csv"))]
        check(events[-3:] == ["exit", "disconnect", "log_stop"], "the log is closed: "
              + " ".join(events[-3:]))
        with open(os.path.join(d, "AutoSave52P.52P"), "rb") as f:
            check(b"Vol = 2350\r\n" in f.read(), "the output settings are saved")
        check(os.path.exists(os.path.join(d, "Set.Dat")), "Set.Dat is written")
        check(not [e for e in log.since(mark, "RX") if e.mnemonic == "CSP"],
              "the output is left running")
        check(prog.stderr() == [], "nothing on standard error: " + repr(prog.stderr()))
    finally:
        end(*[p.proc for p in [prog] + others if p])
        sim.stop()
        net.close()
    return finish(check, d)


if __name__ == "__main__":
    sys.exit(main())
