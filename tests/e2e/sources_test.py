#!/usr/bin/python3
"""Two sources from one PC: two copies of the real program (--headless), each in a working
folder of its own given by --workdir, each on its own vx52-sim and remote port, driven from one
script. The frames of each copy reach only its own source. A third copy whose port leads to a
device the first copy holds is refused the port with the reason, and sends it nothing."""

import os
import signal
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vx52e2e import (Checks, Client, Network, Simulator, end, finish, start_headless, wait_exit,
                     wait_until, workdir)

check = Checks()


def settings(log, mark=0):
    return [e.bytes[4:-2].decode("latin-1") for e in log.since(mark, "RX")
            if e.mnemonic in ("SNO", "CST", "CSP")]


def main():
    net = Network()
    folders = [workdir("vx52sources-a."), workdir("vx52sources-b."), workdir("vx52sources-c.")]
    here = tempfile.mkdtemp(prefix="vx52sources.")
    sims = [Simulator(folders[0], ["--no-noise"]), Simulator(folders[1], ["--no-noise"])]
    # The third copy's port is the first source's terminal.
    os.symlink(os.path.join(folders[0], "COM1"), os.path.join(folders[2], "COM1"))
    ports = [net.port, net.other_port(1), net.other_port(2)]
    progs = []

    def start(folder, port):
        # Started from elsewhere: the folder it works in is the option's.
        progs.append(start_headless(here, net.ns, ("--quiet", "--workdir", folder, "--remote",
                                                   str(port)),
                                    err_name=os.path.basename(folder) + ".err"))
        return Client(net, port)

    try:
        a, b = (start(folder, port) for folder, port in zip(folders[:2], ports[:2]))
        check(wait_until(lambda: (a.ask("SYST:LINK?"), b.ask("SYST:LINK?")) ==
                         ("ONLINE", "ONLINE"), 20.0, 0.1), "both copies come online")
        c = start(folders[2], ports[2])
        marks = [sim.log.mark() for sim in sims]
        a.send("VOLT 120.0")
        b.send("VOLT 240.0")
        a.send("OUTP ON")
        check((a.ask("*OPC?"), b.ask("*OPC?")) == ("1", "1"), "both have sent what they were told")
        check(wait_until(lambda: a.ask("OUTP?") == "1", 5.0, 0.05), "the first source runs")
        got_a = settings(sims[0].log, marks[0])
        got_b = settings(sims[1].log, marks[1])
        check(got_a[:1] == ["SNO=1200,0500,05,05,0,1*"] and "CST*" in got_a and
              not [f for f in got_a if "2400" in f], "the first source gets only its own frames: "
              + " ".join(got_a))
        check(got_b == ["SNO=2400,0500,05,05,0,1*"], "the second only its own: " + " ".join(got_b))
        check(b.ask("OUTP?") == "0", "and its output stays off")

        mark = sims[0].log.mark()
        c.send("SYST:LINK ON")
        error = c.ask("SYST:ERR?")
        check(error.startswith("-240,") and "in use by another program" in error,
              "a third copy on the first source's device is refused with the reason: " + error)
        # Without a window every failed connect is tried again later.
        check(c.ask("SYST:LINK?") == "CONNECTING", "and tries again later")
        check(not [e for e in sims[0].log.since(mark, "RX") if e.mnemonic == "RMO"],
              "its model query never reaches the source")
        check(a.ask("SYST:LINK?") == "ONLINE", "the first copy keeps its link")
        for client in (a, b, c):
            client.close()

        for prog in progs:
            prog.send_signal(signal.SIGTERM)
        check([wait_exit(p) for p in progs] == [0, 0, 0], "SIGTERM ends every copy with 0")
        check(all(os.path.exists(os.path.join(f, "Set.Dat")) for f in folders) and
              not os.path.exists(os.path.join(here, "Set.Dat")),
              "each copy wrote its settings in its own folder")
    finally:
        end(*progs)
        for sim in sims:
            sim.stop()
        net.close()
    return finish(check, *folders, here)


if __name__ == "__main__":
    sys.exit(main())
