#!/usr/bin/python3
"""The real program with --remote against vx52-sim, driven by a VISA client (PyVISA with its
pure-Python backend, resource TCPIP::127.0.0.1::PORT::SOCKET): identify, set 230.0 V and
60.0 Hz, start, read the measurements, step, stop; the frames on the wire are the front
panel's for the same actions; an out-of-range voltage and a command during an alarm are refused
and send nothing. Then bad clients (random bytes, an endless line, 100 connects and drops, a
fifth client, one that does not read) while the link keeps polling and the front panel works;
*OPC? that means done and errors that never hang a line; four clients closed while the program
is stopped, then a fifth; and the README's PyVISA and pymeasure examples as a user runs them.

The program and its clients share a network namespace of their own where one can be made (the
X server stays outside); elsewhere they use a free port on this machine.

Prints the queries answered per second, the program's CPU with four clients polling MEAS:ALL?
ten times a second as a ratio to no client, and the median *OPC? time of a settings change and
of a start. VX52_E2E_SECONDS sets each CPU window (default 10), VX52_OPC_ROUNDS the rounds of
*OPC? timed (default 5)."""

import contextlib
import io
import os
import random
import re
import shutil
import signal
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vx52e2e import (LED_OUTPUT, PROGRAM, TITLE_EN, Checks, Network, Simulator, Xserver,
                     cpu_seconds, open_visa, sanitizer_report, wait_exit, wait_until, workdir)

import pyvisa

SECONDS = float(os.environ.get("VX52_E2E_SECONDS", "10"))
OPC_ROUNDS = int(os.environ.get("VX52_OPC_ROUNDS", "5"))
REMOTE_AREA = (716, 636, 120, 24)  # "REMOTE" in the link area, from data/ui/PANEL.ui

check = Checks()


def sno(entry):
    """The settings frame's text, e.g. 'SNO=2300,0600,05,05,0,1*'."""
    return entry.bytes[4:-2].decode("latin-1")


def frames_since(log, mark, count, mnemonics=("SNO", "CST", "CSP")):
    """The commands the source received since mark, once `count` of them are in its log (which
    is written a moment after *OPC? has seen them go out), or at the deadline."""
    def found():
        frames = [e for e in log.since(mark, "RX") if e.mnemonic in mnemonics]
        return frames if len(frames) >= count else None
    wait_until(found, 3.0)
    return [e for e in log.since(mark, "RX") if e.mnemonic in mnemonics]


def accepted(net, timeout=10.0, buffers=0):
    """A client the server took: it answers *IDN?. A client past the fourth is told there is no
    room and closed; it tries again."""
    def attempt():
        s = net.connect(buffers)
        try:
            s.sendall(b"*IDN?\n")
            if s.recv(256).startswith(b"Vx52PSoft,"):
                return s
        except OSError:
            pass
        s.close()
        return None
    return wait_until(attempt, timeout, 0.05)


def refused_with_a_line(s, timeout=5.0):
    """One error line, then the end of the connection."""
    s.settimeout(timeout)
    got = b""
    with contextlib.suppress(OSError):
        while chunk := s.recv(256):
            got += chunk
    return got == b'-310,"System error;too many clients, 4 at most"\n'


def readme_examples(port):
    """The Python examples of the README's remote-control section, each with the lines it must
    print: as the README's comments say, with the measured voltage near the one set."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../README.md")) as f:
        section = f.read().split("## Remote control")[1].split("\n## ")[0]
    blocks = [b.replace("::5025::", f"::{port}::")
              for b in re.findall(r"```python\n(.*?)```", section, re.S)]

    def volts(line):
        return float(line.strip("[]").split(",")[0])
    return [("PyVISA", blocks[0], lambda p: len(p) == 5 and p[0].startswith("Vx52PSoft,") and
             p[1:3] == ["1", "1;1"] and abs(volts(p[3]) - 230) < 1 and p[4] == '1;0,"No error"'),
            ("pymeasure", blocks[1], lambda p: len(p) == 5 and p[0].startswith("Vx52PSoft,") and
             p[1:3] == ["1 0", "1 True"] and abs(volts(p[3]) - 120) < 1 and p[4] == "1 []")]


def main():
    server = Xserver()
    net = Network()
    d = workdir("vx52remote.")
    sim = Simulator(d, ["--no-noise"])
    log = sim.log
    prog = None
    clients = []
    try:
        env = dict(os.environ)
        env.pop("QT_QPA_PLATFORM", None)
        env["DISPLAY"] = server.name
        with open(os.path.join(d, "program.err"), "wb") as err:
            prog = subprocess.Popen(net.ns.prefix() + [PROGRAM, "--remote", str(net.port),
                                                       "--log", "remote.csv"],
                                    cwd=d, env=env, stdout=subprocess.DEVNULL, stderr=err)
        win = server.wait_window(TITLE_EN)
        if not check(win is not None, "the main window appears"):
            return 1
        no_client_look = server.grab(win, REMOTE_AREA)

        rm = pyvisa.ResourceManager("@py")
        resource = f"TCPIP::127.0.0.1::{net.port}::SOCKET"
        inst = wait_until(lambda: open_visa(net, rm, resource), 10.0, 0.1)
        if not check(inst is not None, "a VISA client opens " + resource):
            return 1
        q = inst.query
        check(wait_until(lambda: q("SYST:LINK?") == "ONLINE", 20.0, 0.1), "the link comes up")
        check(q("*IDN?") == "Vx52PSoft,VX52300P,0,1.0", "identify: " + q("*IDN?"))
        check(bool(wait_until(lambda: server.grab(win, REMOTE_AREA) != no_client_look, 3.0)),
              "REMOTE shows in the link area while a client is connected")

        # ---- the panel's frames for the same actions --------------------------------------------
        level = q("VOLT:RANG?")
        lv = "1" if level == "HIGH" else "0"
        # A frame carries the settings as they are when it goes out: *OPC? after each keeps
        # the two apart, as an operator's two entries a second apart are.
        mark = log.mark()
        t0 = time.time()
        inst.write("SOUR:VOLT 230.0")
        check(q("*OPC?") == "1", "*OPC? after the voltage")
        first = log.wait(mark, lambda e: e.dir == "RX" and e.mnemonic == "SNO", 2.0)
        if first:
            print(f"figure VOLT line to its frame (idle link, wall clock): "
                  f"{1000 * (first.t - t0):.0f} ms", flush=True)
        inst.write("SOUR:FREQ 60.0")
        check(q("*OPC?") == "1", "*OPC? after the frequency")
        check([sno(e) for e in frames_since(log, mark, 2)] ==
              [f"SNO=2300,0500,05,05,0,{lv}*", f"SNO=2300,0600,05,05,0,{lv}*"],
              "230.0 V and 60.0 Hz go out as the panel's two settings frames")
        check((q("VOLT?"), q("FREQ?")) == ("230.0", "60.0"), "the settings read back")

        mark = log.mark()
        inst.write("OUTP ON")
        check(q("*OPC?") == "1", "*OPC? after the start")
        check(wait_until(lambda: q("OUTP?") == "1", 5.0, 0.05), "the output runs")
        check([e.mnemonic for e in frames_since(log, mark, 2)] == ["SNO", "CST"],
              "the start goes out as the panel's settings and start frames")
        check(wait_until(lambda: float(q("MEAS:AGE?")) < 1.5, 5.0, 0.1), "a measurement arrives")
        meas = [float(v) for v in q("MEAS:ALL?").split(",")]
        check(abs(meas[0] - 230.0) < 1.0 and abs(meas[2] - 60.0) < 0.2 and meas[1] > 0,
              f"MEAS:ALL? reads the running output: {meas}")
        check(q("MEAS:VOLT?;FREQ?") == f"{meas[0]:.1f};{meas[2]:.1f}",
              "single measurements agree with MEAS:ALL?")

        mark = log.mark()
        q("VOLT UP;*OPC?")
        q("VOLT DOWN;*OPC?")
        check([sno(e) for e in frames_since(log, mark, 2)] ==
              [f"SNO=2350,0600,05,05,0,{lv}*", f"SNO=2300,0600,05,05,0,{lv}*"],
              "VOLT UP and DOWN move along the ladder as the step buttons do")

        mark = log.mark()
        inst.write("VOLT 300.1")
        check(q("SYST:ERR?").startswith("-222,"), "an out-of-range voltage gives -222")
        inst.write("VOLT 231")
        q("*OPC?")
        check([sno(e) for e in frames_since(log, mark, 1)] == [f"SNO=2310,0600,05,05,0,{lv}*"],
              "and sends nothing (the next frame is the next valid setting)")

        mark = log.mark()
        inst.write("OUTP OFF")
        q("*OPC?")
        check(wait_until(lambda: q("OUTP?") == "0", 5.0, 0.05), "OUTP OFF stops the output")
        check([e.mnemonic for e in frames_since(log, mark, 1)] == ["CSP"], "the stop goes out")

        # ---- an alarm --------------------------------------------------------------------------
        inst.write("OUTP ON")
        wait_until(lambda: q("OUTP?") == "1", 5.0, 0.05)
        sim.command("overload")
        check(wait_until(lambda: q("OUTP:PROT:TRIP?") == "1", 5.0, 0.05), "the alarm shows")
        mark = log.mark()
        inst.write("VOLT 220;:OUTP ON")
        check(q("SYST:ERR?").startswith("-221,"), "a command during the alarm gives -221")
        inst.write("OUTP ON")
        check(q("SYST:ERR?").startswith("-221,"), "OUTP ON during the alarm gives -221")
        inst.write("OUTP:PROT:CLE")
        q("*OPC?")
        check([e.mnemonic for e in frames_since(log, mark, 2)] == ["CSP", "CSP"],
              "nothing is sent for them; clearing sends the panel's two stops")
        check(wait_until(lambda: q("OUTP:PROT:TRIP?") == "0", 5.0, 0.05), "the alarm clears")

        # ---- queries per second --------------------------------------------------------------
        n = 500
        t0 = time.perf_counter()
        for _ in range(n):
            q("VOLT?")
        rate = n / (time.perf_counter() - t0)
        print(f"figure queries answered per second (one VISA client, VOLT?): {rate:.0f}",
              flush=True)

        # ---- bad clients -----------------------------------------------------------------------
        inst.write("OUTP ON")
        wait_until(lambda: q("OUTP?") == "1", 5.0, 0.05)
        mark = log.mark()
        t_bad = time.time()
        rnd = random.Random(52)
        junk = net.connect()
        junk.sendall(bytes(rnd.randrange(256) for _ in range(65536)))
        endless = net.connect()
        for _ in range(64):
            endless.sendall(b"A" * 16384)
        endless.sendall(b"\n*IDN?\n")
        endless.settimeout(5)
        check(endless.recv(256).startswith(b"Vx52PSoft,"),
              "after a 1 MiB line the connection stays and answers")
        for _ in range(100):
            s = net.connect()
            s.sendall(b"*IDN?\n")
            s.close()
        # The fourth client; for now it does not read. Small buffers keep the run short.
        silent = accepted(net, buffers=65536)
        fifth = net.connect()
        check(refused_with_a_line(fifth), "a fifth client gets one error line and is closed")
        fifth.close()
        clients += [junk, endless, silent]
        silent.setblocking(False)
        line = b"MEAS:ALL?;" * 25 + b"VOLT?\n"
        sent = 0
        progress = time.monotonic()
        deadline = progress + 30.0
        # Its answers fill every buffer on the way; then the program stops reading it and TCP
        # holds it back, so its sends block for good.
        while time.monotonic() - progress < 2.0 and time.monotonic() < deadline:
            try:
                sent += silent.send(line[sent % len(line):])
                progress = time.monotonic()
            except BlockingIOError:
                time.sleep(0.01)
        check(time.monotonic() < deadline,
              f"a client that does not read is held back (after {sent} bytes of queries)")
        # More of the same, long enough to see several polls go out meanwhile.
        while time.time() - t_bad < 4.0:
            junk.sendall(bytes(rnd.randrange(256) for _ in range(4096)))
            endless.sendall(b"B" * 16384)
            s = net.connect()
            s.sendall(b"*IDN?\n")
            s.close()

        before_click = log.mark()
        server.click(win, LED_OUTPUT)
        check(log.wait(before_click, lambda e: e.dir == "RX" and e.mnemonic == "CSP", 5.0)
              is not None, "the front panel works meanwhile (output lamp sends a stop)")
        rte = [e for e in log.since(mark, "RX") if e.mnemonic == "RTE"]
        gaps = [b.t - a.t for a, b in zip(rte, rte[1:])]
        print(f"figure bad clients: {time.time() - t_bad:.1f} s, state polls {len(rte)}, "
              f"gap {min(gaps or [0]):.2f}..{max(gaps or [0]):.2f} s", flush=True)
        check(len(gaps) >= 2 and max(gaps) < 1.6, "the link keeps polling once a second throughout")
        check(q("*IDN?").startswith("Vx52PSoft,"), "the VISA client is still served")
        for s in clients:
            s.close()
        clients.clear()

        # ---- CPU: four clients polling MEAS:ALL? ten times a second ---------------------------
        inst.write("OUTP ON")
        wait_until(lambda: q("OUTP?") == "1", 5.0, 0.05)
        cpu0, t0 = cpu_seconds(prog.pid), time.time()
        time.sleep(SECONDS)  # the measuring window itself
        idle = (cpu_seconds(prog.pid) - cpu0) / (time.time() - t0)
        inst.close()
        pollers = [accepted(net) for _ in range(4)]
        cpu0, t0 = cpu_seconds(prog.pid), time.time()
        answered = 0
        while time.time() - t0 < SECONDS:
            tick = time.time()
            for s in pollers:
                s.sendall(b"MEAS:ALL?\n")
            for s in pollers:
                answered += s.recv(256).count(b"\n")
            time.sleep(max(0.0, 0.1 - (time.time() - tick)))  # ten polls a second
        busy = (cpu_seconds(prog.pid) - cpu0) / (time.time() - t0)
        print(f"figure CPU, output running: no client {100 * idle:.2f} %, four clients polling "
              f"MEAS:ALL? 10/s {100 * busy:.2f} % (ratio {busy / idle if idle else 0:.2f}; "
              f"{answered} answers)", flush=True)
        check(answered >= 4 * 10 * SECONDS * 0.8, "the four pollers are answered")

        for s in pollers:
            s.close()

        # ---- *OPC? means done; errors never hang a client ----------------------------------------
        inst = wait_until(lambda: open_visa(net, rm, resource), 10.0, 0.1)
        q = inst.query
        q("OUTP OFF;*OPC?")
        check(q("OUTP ON;*OPC?;:OUTP?") == "1;1", "OUTP ON;*OPC?;:OUTP? answers 1;1 on one line")
        check(q("VOLT UP;*OPC?;:SYST:ERR?") == '1;0,"No error"',
              "a step right after is taken")
        check(q("VOLT 999;*OPC?") == "1", "VOLT 999;*OPC? answers 1")
        check(q("SYST:ERR?").startswith("-222,"), "and queues -222")
        settings, starts = [], []
        for i in range(OPC_ROUNDS):
            # At a moment of the poll cycle of its own, as a client's command comes.
            time.sleep(rnd.random())
            t0 = time.perf_counter()
            q(f"VOLT {231 + i % 2}.0;*OPC?")
            settings.append(time.perf_counter() - t0)
            q("OUTP OFF;*OPC?")
            time.sleep(rnd.random())
            t0 = time.perf_counter()
            q("OUTP ON;*OPC?")
            starts.append(time.perf_counter() - t0)
        print(f"figure *OPC? at 9600 baud, median of {OPC_ROUNDS}: settings change "
              f"{1000 * statistics.median(settings):.0f} ms, OUTP ON "
              f"{1000 * statistics.median(starts):.0f} ms", flush=True)
        q("OUTP OFF;*OPC?")
        inst.close()

        # ---- closed clients free their places even while the program is stopped -----------------
        four = [accepted(net) for _ in range(4)]
        check(all(four), "four clients are served")
        os.kill(prog.pid, signal.SIGSTOP)
        try:
            for s in four:
                if s:
                    s.close()
            time.sleep(0.3)
            late = net.connect()  # the kernel takes it while the program is stopped
        finally:
            os.kill(prog.pid, signal.SIGCONT)
        late.sendall(b"*IDN?\n")
        late.settimeout(5)
        check(late.recv(256).startswith(b"Vx52PSoft,"),
              "a fifth client after four closed while the program was stopped is served")
        late.close()

        # ---- the README's examples, as a user runs them -----------------------------------------
        for name, code, want in readme_examples(net.port):
            out = io.StringIO()
            try:
                with net.inside(), contextlib.redirect_stdout(out):
                    exec(compile(code, "README " + name, "exec"), {})
                failure = ""
            except Exception as e:  # a time-out or anything else the user would see
                failure = f"{type(e).__name__}: {e}"
            printed = out.getvalue().splitlines()
            check(not failure and want(printed),
                  f"the README's {name} example runs through: {printed} {failure}")

        check(prog.poll() is None, "the program survived every client")
        server.close_box(win)
        check(wait_exit(prog) == 0, "the close box ends the program with 0")
        with open(os.path.join(d, "remote.csv")) as f:
            rows = f.read()
        check(",set_change,u_v 220.0->230.0 remote\n" in rows
              and ",set_change,f_hz 50.0->60.0 remote\n" in rows,
              "the data log records the remote settings with the detail remote")
        report = sanitizer_report(d)
        check(not report, "no sanitizer report" + (": " + report if report else ""))
    finally:
        for s in clients:
            s.close()
        if prog and prog.poll() is None:
            prog.kill()
            prog.wait()
        sim.stop()
        net.close()
        server.close()
    if check.failures:
        print("working folder kept: " + d)
    else:
        shutil.rmtree(d, ignore_errors=True)
    return check.summary()


if __name__ == "__main__":
    sys.exit(main())
