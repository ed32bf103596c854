#!/usr/bin/python3
"""The real program in a private X server loses vx52-sim while the output runs and a data log
is on, and connects again by itself. The program's COM1 is a link to the simulator's own name
for its terminal, as a name under /dev/serial/by-id/ leads to an adapter: it dangles while the
source is away.

First the source is away for 20 s: the tries come 1, 2, 4, 8 and 16 s apart (each counted
from the end of the try before, the first from the loss), within a tick; the try that finds
the source back is the connect sequence with its stop frames; no start frame goes out after
the loss, and the test run that the loss interrupted stays interrupted; the log holds
link_lost, the run's end, the tries, connect and link_restored in that order. Then
the source comes back on another pseudo-terminal (as an adapter that re-enumerates), and the
next try follows the name to it.

Prints the time from the port's return to online."""

import os
import signal
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vx52e2e import (TITLE_EN, Checks, Client, Network, Simulator, Xserver, end, finish,
                     log_events, sanitizer_report, start_program, wait_exit, wait_until, workdir)

OUTAGE = 20.0
TICK = 0.05
# The waits before tries 1 to 5.
WAITS = [1.0, 2.0, 4.0, 8.0, 16.0]

check = Checks()


def names(events, since=0):
    return [e for _, e, _ in events[since:]]


def main():
    server = Xserver()
    net = Network()
    d = workdir("vx52reconnect.")
    simdir = tempfile.mkdtemp(prefix="vx52reconnect-sim.")
    sim = Simulator(simdir, ["--no-noise"])
    os.symlink(os.path.join(simdir, "COM1"), os.path.join(d, "COM1"))
    log = sim.log
    csv_path = os.path.join(d, "run.csv")
    prog = None
    spare = None
    try:
        prog = start_program(server, d, net.ns, ("--remote", str(net.port), "--log", "run.csv"))
        check(server.wait_window(TITLE_EN) is not None, "the main window appears")
        client = Client(net)
        check(wait_until(lambda: client.ask("SYST:LINK?") == "ONLINE", 20.0, 0.1),
              "the link comes up")
        # A test run holds the output on; the loss interrupts it for good.
        with open(os.path.join(d, "run.csv.profile"), "w") as f:
            f.write("voltage_v,frequency_hz,dwell_s\n230,50,600\n")
        client.send('SEQ:LOAD "run.csv.profile";:SEQ:STAR')
        check(wait_until(lambda: client.ask("OUTP?") == "1", 5.0, 0.05), "a test run starts")

        # ---- away for 20 s --------------------------------------------------------------------
        sim.command("unplug")
        unplugged = time.monotonic()
        check(wait_until(lambda: client.ask("SYST:LINK?") == "CONNECTING", 5.0, 0.1),
              "SYST:LINK? answers CONNECTING while the link is tried again")
        time.sleep(max(0.0, unplugged + OUTAGE - time.monotonic()))  # the outage itself
        mark = log.mark()
        sim.command("replug")
        back = time.monotonic()
        check(wait_until(lambda: client.ask("SYST:LINK?") == "ONLINE", 30.0, 0.05),
              "the link is restored by itself")
        print(f"figure from the port's return to online: {time.monotonic() - back:.2f} s")

        events = log_events(csv_path)
        at_loss = names(events).index("link_lost")
        tries = [t for t, e, _ in events if e == "reconnect_try"]
        lost_at = events[at_loss][0]
        gaps = [b - a for a, b in zip([lost_at] + tries, tries)]
        print("figure waits before the tries: " + " ".join(f"{g:.3f}" for g in gaps), flush=True)
        check(len(tries) == 5 and all(abs(g - w) <= TICK for g, w in zip(gaps, WAITS)),
              "tries 1, 2, 4, 8 and 16 s apart, within a tick")
        # The stop of the connect sequence is answered before the sequence ends.
        check(names(events, at_loss) == ["link_lost", "seq_end"] + ["reconnect_try"] * 5 +
              ["connect", "output_stopped_on_connect", "link_restored"],
              "the log: " + " ".join(names(events, at_loss)))
        sent = [e.mnemonic for e in log.since(mark, "RX")]
        check(sent[:6] == ["RMO", "RTE", "CSP", "CSP", "RNS", "RTE"],
              "the try is the connect sequence with its stops: " + " ".join(sent[:6]))
        check(not [e for e in log.since(mark, "RX") if e.mnemonic in ("CST", "SNO")],
              "no start frame, no setting after the loss")
        check(wait_until(lambda: client.ask("OUTP?") == "0", 3.0, 0.1) and
              client.ask("SEQ:STAT?") == "INTERRUPTED", "the output stays off, the run interrupted")

        # ---- back on another terminal -------------------------------------------------------------
        old = os.path.realpath(os.path.join(d, "COM1"))
        sim.command("unplug")
        check(wait_until(lambda: names(log_events(csv_path)).count("link_lost") == 2, 5.0),
              "the second loss is logged")
        spare = os.openpty()  # takes the terminal number the simulator gave up
        mark = log.mark()
        sim.command("replug")
        new = os.path.realpath(os.path.join(d, "COM1"))
        check(new != old, f"the source is back on another terminal ({old} -> {new})")
        check(wait_until(lambda: names(log_events(csv_path)).count("link_restored") == 2, 10.0),
              "the next try follows the name to it")
        check(log.wait(mark, lambda e: e.dir == "RX" and e.mnemonic == "RMO", 1.0) is not None,
              "the frames reach the new terminal")
        client.close()

        prog.send_signal(signal.SIGTERM)
        check(wait_exit(prog) == 0, "SIGTERM ends the program with 0")
        report = sanitizer_report(d)
        check(not report, "no sanitizer report" + (": " + report if report else ""))
    finally:
        if spare:
            os.close(spare[0])
            os.close(spare[1])
        end(prog)
        sim.stop()
        net.close()
        server.close()
    return finish(check, d, simdir)


if __name__ == "__main__":
    sys.exit(main())
