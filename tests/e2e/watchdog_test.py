#!/usr/bin/python3
"""The watchdog of the real program (--headless --remote --log) against vx52-sim: a client
starts the output, arms the watchdog with 3 s and goes away, as a script that dies does. The
stop frame goes out 3 s (and one tick) after its last command; OUTP:PROT:TRIP? answers 1 until
OUTP:PROT:CLE, and the log holds the trip. A delay outside 1-3600 s is refused with -222.

Prints the time from the last command to the stop frame."""

import os
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vx52e2e import (Checks, Client, Network, Simulator, end, finish, log_events,
                     start_headless, wait_exit, wait_until, workdir)

DELAY = 3.0
TICK = 0.05

check = Checks()


def main():
    net = Network()
    d = workdir("vx52watchdog.")
    sim = Simulator(d, ["--no-noise"])
    log = sim.log
    prog = None
    try:
        prog = start_headless(d, net.ns, ("--quiet", "--remote", str(net.port), "--log", "run.csv"))
        script = Client(net)
        check(wait_until(lambda: script.ask("SYST:LINK?") == "ONLINE", 20.0, 0.1),
              "the link comes up")
        script.send("OUTP ON")
        check(wait_until(lambda: script.ask("OUTP?") == "1", 5.0, 0.05), "the output runs")
        refused = []
        for value in ("0", "3601", "-1", "0.4"):
            script.send("OUTP:PROT:WDOG:DEL " + value)
            refused.append(script.ask("SYST:ERR?").split(",")[0])
        check(refused == ["-222"] * 4, "delays outside 1-3600 s are refused with -222: "
              + " ".join(refused))
        check(script.ask("OUTP:PROT:WDOG?;WDOG:DEL?") == "0;10", "off, 10 s, until set")
        script.send("OUTP:PROT:WDOG:DEL 3 S")
        check(script.ask("OUTP:PROT:WDOG:DEL?") == "3", "a delay of 3 s")
        mark = log.mark()
        script.send("OUTP:PROT:WDOG ON")
        last = time.time()
        script.close()  # the script dies; its watchdog stays on

        stop = log.wait(mark, lambda e: e.dir == "RX" and e.mnemonic == "CSP", DELAY + 2.0)
        check(stop is not None, "a stop frame goes out")
        if stop:
            gap = stop.t - last
            print(f"figure from the last command to the stop frame: {gap:.3f} s", flush=True)
            check(DELAY <= gap + 0.01 and gap <= DELAY + 2 * TICK + 0.01,
                  f"{DELAY:.0f} s and one tick after the last command ({gap:.3f} s)")
        check([e.mnemonic for e in log.since(mark, "RX") if e.mnemonic in ("CSP", "CST")] ==
              ["CSP"], "one stop and nothing else")

        later = Client(net)
        check(wait_until(lambda: later.ask("OUTP?") == "0", 3.0, 0.05), "the output is stopped")
        check(later.ask("OUTP:PROT:TRIP?") == "1", "TRIPped? answers 1")
        check(later.ask("OUTP:PROT:WDOG?") == "1", "the watchdog is still on")
        later.send("OUTP:PROT:CLE")
        check(later.ask("OUTP:PROT:TRIP?") == "0", "CLEar: TRIPped? answers 0")
        later.send("OUTP:PROT:WDOG OFF")
        later.close()
        events = [(e, x) for _, e, x in log_events(os.path.join(d, "run.csv"))]
        trips = [x for e, x in events if e == "watchdog"]
        check(len(trips) == 1 and "3 s" in trips[0], "the log holds the trip: " + repr(trips))
        check([e for e, _ in events].index("watchdog") < [e for e, _ in events].index("output_off"),
              "before the output's stop")

        prog.send_signal(signal.SIGTERM)
        check(wait_exit(prog) == 0, "SIGTERM ends the program with 0")
    finally:
        end(prog)
        sim.stop()
        net.close()
    return finish(check, d)


if __name__ == "__main__":
    sys.exit(main())
