#!/usr/bin/python3
"""The real program with --headless --remote --log against vx52-sim, with no DISPLAY and no X
server anywhere: a VISA client (PyVISA's pure-Python backend) drives a whole session (identify,
set, start, measure, step, disconnect and connect the link, start again); the state goes to
standard output as lines, one a change; SIGTERM ends the program with 0, the log and the
settings written and the output left running. A second copy in the same folder is refused with
its warning box as one line on standard error; a copy whose remote port is taken says so in one
line, ends with 255 and leaves nothing behind."""

import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vx52e2e import (Checks, Client, Network, Simulator, end, finish, log_events, open_visa,
                     sanitizer_report, start_headless, wait_exit, wait_until, workdir)

import pyvisa

check = Checks()


def said(proc, cwd, err_name):
    """What a copy that ended printed: its standard output, and its own lines on standard error."""
    out = proc.communicate(timeout=15)[0] or b""
    with open(os.path.join(cwd, err_name), encoding="utf-8", errors="replace") as f:
        err = [line for line in f.read().splitlines() if line.startswith("Vx52PSoft")]
    return out.decode(), err


def main():
    net = Network()
    d = workdir("vx52headless.")
    busy_dir = workdir("vx52headless-busy.", set_dat=None)
    sim = Simulator(d, ["--no-noise"])
    log = sim.log
    procs = []
    try:
        prog = start_headless(d, net.ns, ("--remote", str(net.port), "--log", "run.csv"),
                              stdout=subprocess.PIPE)
        procs.append(prog)
        Client(net).close()  # listening: VISA's own open does not wait for that
        inst = open_visa(net, pyvisa.ResourceManager("@py"),
                         f"TCPIP::127.0.0.1::{net.port}::SOCKET")
        q = inst.query
        check(wait_until(lambda: q("SYST:LINK?") == "ONLINE", 20.0, 0.1), "the link comes up")
        check(q("*IDN?").startswith("Vx52PSoft,VX52300P,"), "identify")
        inst.write("VOLT 230.0;:FREQ 60.0;:OUTP ON")
        check(wait_until(lambda: q("OUTP?") == "1", 5.0, 0.05), "the output runs")
        check(wait_until(lambda: float(q("MEAS:AGE?")) < 1.5, 5.0, 0.1), "a measurement arrives")
        inst.write("VOLT UP")
        check(wait_until(lambda: q("VOLT?") == "235.0", 3.0, 0.05), "VOLT UP steps")
        inst.write("OUTP OFF")
        check(wait_until(lambda: q("OUTP?") == "0", 3.0, 0.05), "the output stops")
        inst.write("SYST:LINK OFF")
        check(q("SYST:LINK?") == "OFFLINE", "SYST:LINK OFF disconnects")
        inst.write("SYST:LINK ON")
        check(wait_until(lambda: q("SYST:LINK?") == "ONLINE", 5.0, 0.1), "SYST:LINK ON connects")
        inst.write("OUTP ON")
        check(wait_until(lambda: float(q("MEAS:VOLT?")) > 234.0, 5.0, 0.1), "runs again")
        check(q("SYST:ERR?") == '0,"No error"', "no error along the way")
        inst.close()

        second = start_headless(d, net.ns, err_name="second.err")
        procs.append(second)
        check(wait_exit(second) == 255, "a second copy in the folder ends with 255")
        check(said(second, d, "second.err")[1] ==
              ["Vx52PSoft: another copy is already running", "Vx52PSoft: Warning: Application "
               "has already opened, please don't open again!"],
              "and its warning box is one line on standard error")
        busy = start_headless(busy_dir, net.ns, ("--remote", str(net.port), "--log", "b.csv"))
        procs.append(busy)
        check(wait_exit(busy) == 255, "a copy whose remote port is taken ends with 255")
        err = said(busy, busy_dir, "program.err")[1]
        check(len(err) == 1 and "cannot listen for remote control" in err[0],
              "and says so in one line: " + repr(err))
        check(sorted(os.listdir(busy_dir)) == ["Chinese.dat", "English.dat", "program.err"],
              "nothing half-started: " + repr(sorted(os.listdir(busy_dir))))

        mark = log.mark()
        time.sleep(1.2)  # a change reaches the state line within a second
        prog.send_signal(signal.SIGTERM)
        check(wait_exit(prog) == 0, "SIGTERM ends the program with 0")
        lines, err = said(prog, d, "program.err")
        lines = lines.splitlines()
        check(lines[-1].startswith("link=ONLINE output=ON set=235.0V,60.0Hz,HIGH measured=235"),
              "the state line: link, output, set values, measurement: " + lines[-1])
        check(all(a != b for a, b in zip(lines, lines[1:])), "a line only for a change")
        events = [e for _, e, _ in log_events(os.path.join(d, "run.csv"))]
        check(events[-3:] == ["exit", "disconnect", "log_stop"], "the log is closed")
        with open(os.path.join(d, "AutoSave52P.52P"), "rb") as f:
            check(b"Vol = 2350\r\n" in f.read(), "the output settings are saved")
        check(not [e for e in log.since(mark, "RX") if e.mnemonic == "CSP"],
              "the output is left running")
        check(err == [] and not sanitizer_report(d), "nothing on standard error: " + repr(err)
              + sanitizer_report(d))
    finally:
        end(*procs)
        sim.stop()
        net.close()
    return finish(check, d, busy_dir)


if __name__ == "__main__":
    sys.exit(main())
