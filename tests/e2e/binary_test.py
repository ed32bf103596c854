#!/usr/bin/python3
"""The real program against vx52-sim in a private Xvfb server: it connects at
start-up and identifies the model, polls, survives every fault the simulator
can inject, goes offline without a message when the instrument falls silent or
is unplugged, and comes back from the connect button. Prints the exchanges per
minute and the CPU of both processes while online, stopped and running.

VX52_E2E_SECONDS sets each measuring window (default 10; 60 for the full
figures)."""

import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vx52e2e import (BT_CONNECT, LED_OUTPUT, LINK_AREA, OUTPUT_AREA, SET_DAT, TITLE_EN,
                     Checks, Simulator, Xserver, autosave_bytes, cpu_seconds, sanitizer_report,
                     start_program, wait_exit, wait_until, workdir)

SECONDS = float(os.environ.get("VX52_E2E_SECONDS", "10"))
# A loss of the instrument shows after three missed replies of 250 ms each, once the next poll
# is due (at most a second away); windows that must stay free of frames are longer than a poll.
OFFLINE_WITHIN = 5.0
QUIET_WINDOW = 2.5

check = Checks()


def rx_between(log, t0, t1, mnemonic):
    return [e for e in log.since(0, "RX") if t0 <= e.t < t1 and e.mnemonic == mnemonic]


def measure(name, sim, prog, log):
    """Frames and CPU over one measuring window."""
    cpu_p, cpu_s = cpu_seconds(prog.pid), cpu_seconds(sim.proc.pid)
    t0 = time.time()
    time.sleep(SECONDS)  # the measuring window itself
    t1 = time.time()
    cpu_p, cpu_s = cpu_seconds(prog.pid) - cpu_p, cpu_seconds(sim.proc.pid) - cpu_s
    rte = rx_between(log, t0, t1, "RTE")
    rnt = rx_between(log, t0, t1, "RNT")
    span = t1 - t0
    per_min = 60.0 / span
    gaps = [b.t - a.t for a, b in zip(rte, rte[1:])]
    print(f"figure {name}: {len(rte) * per_min:.1f} state queries/min, "
          f"{len(rnt) * per_min:.1f} measurement queries/min, over {span:.1f} s; "
          f"CPU program {cpu_p * per_min:.2f} s/min ({100 * cpu_p / span:.2f} %), "
          f"simulator {cpu_s * per_min:.2f} s/min ({100 * cpu_s / span:.2f} %)"
          + (f"; state query gap {min(gaps):.2f}..{max(gaps):.2f} s" if gaps else ""),
          flush=True)
    return rte, rnt, gaps


def next_rx(log, mark, timeout=3.0):
    return log.wait(mark, lambda e: e.dir == "RX", timeout)


def reply_to(log, request, timeout=2.0):
    """The simulator's reply that follows a request, if any."""
    i = log.entries.index(request)
    return log.wait(i + 1, lambda e: e.dir == "TX", timeout)


def brief_fault(sim, log, name, is_faulty):
    """Fault on for one exchange only; the program must repeat the request and be answered."""
    mark = log.mark()
    sim.command(name + " on")
    bad = log.wait(mark, lambda e: is_faulty(e), 5.0)
    sim.command(name + " off")
    if not check(bad is not None, f"{name}: one exchange hit"):
        return
    i = log.entries.index(bad)
    request = bad if bad.dir == "RX" else [e for e in log.entries[:i] if e.dir == "RX"][-1]
    again = next_rx(log, i + 1)
    ok = (again is not None and again.bytes == request.bytes)
    check(ok, f"{name}: the program repeats {request.mnemonic}"
          + (f" after {again.t - request.t:.2f} s" if again else ""))
    answer = reply_to(log, again) if again else None
    check(answer is not None and answer.well_formed(),
          f"{name}: the repeated {request.mnemonic} is answered and the link stays up")


def link_look(server, win):
    return server.grab(win, LINK_AREA)


def wait_look(server, win, rect, pred, timeout):
    """The first picture of a rectangle of the form for which pred holds, or None."""
    def look():
        img = server.grab(win, rect)
        return img if pred(img) else None
    return wait_until(look, timeout, 0.05)


def no_box(server, before, what):
    """No top-level window mapped now that was not there before: a message box would be one."""
    new = {w: t for w, t in server.windows().items() if w not in before}
    check(not new, f"{what}: no message box" + (f" (found {new})" if new else ""))


def quiet(log, seconds):
    """No request reaches the instrument for this long (an online program polls every second)."""
    mark = log.mark()
    time.sleep(seconds)  # the observation window itself
    return log.since(mark, "RX") == []


def reconnect(server, win, log, what):
    mark = log.mark()
    server.click(win, BT_CONNECT)
    rmo = log.wait(mark, lambda e: e.dir == "RX" and e.mnemonic == "RMO", 5.0)
    check(rmo is not None, f"{what}: the connect button sends the model query")
    # The sequence ends with a state query; the first poll a second later means it is over.
    done = log.wait(mark, lambda e: e.dir == "RX" and e.mnemonic == "RNS", 10.0)
    if done:
        after = log.entries.index(done) + 1
        polls = log.wait_index(after, lambda e: e.dir == "RX" and e.mnemonic == "RTE", 5.0)
        final_poll = polls is not None and log.wait(
            polls + 1, lambda e: e.dir == "RX" and e.mnemonic == "RTE", 5.0)
        check(bool(final_poll), f"{what}: connect sequence ends and polling resumes")
    else:
        check(False, f"{what}: connect sequence reads the settings")


def main():
    server = Xserver()
    d = workdir("vx52e2e.")
    sim = Simulator(d, ["--no-noise"])
    log = sim.log
    prog = None
    try:
        # A lost link stays lost here until the connect button: retrying by itself after a
        # loss, the default, is reconnect_test.py's.
        prog = start_program(server, d, args=("--no-reconnect",))
        win = server.wait_window(TITLE_EN)
        if not check(win is not None, "the main window appears"):
            return 1

        # ---- start-up: silent connect, model query, connect sequence, polls ----------------
        first_poll = wait_until(lambda: len(log.since(0, "RX")) >= 5, 20.0)
        rx = log.since(0, "RX")
        check([e.mnemonic for e in rx[:5]] == ["RMO", "RTE", "RNS", "RTE", "RTE"],
              "connects at start-up: RMO RTE RNS RTE, then polls: "
              + " ".join(e.mnemonic for e in rx[:5]))
        check(all(e.well_formed() and e.bytes[7:8] == b"*" and len(e.bytes) == 10 for e in rx),
              "every request is a well-formed 10-byte query at address 1")
        model = [e for e in log.entries if e.dir == "TX" and e.bytes[4:8] == b"RMO="]
        check(model and model[0].bytes[8:16] == b"VX52300P", "the model reply names VX52300P")
        check(first_poll, "polls after the connect sequence")
        online_look = link_look(server, win)
        stopped_look = server.grab(win, OUTPUT_AREA)

        rte, rnt, gaps = measure("online, output stopped", sim, prog, log)
        check(len(rte) >= 2 and not rnt, "stopped: state queries only")
        check(gaps and max(gaps) < 3.0, "stopped: state queries keep coming")
        check(all(e.well_formed() for e in log.since(0, "RX")), "requests stay well-formed")

        # ---- running -----------------------------------------------------------------------
        mark = log.mark()
        server.click(win, LED_OUTPUT)
        cst = log.wait(mark, lambda e: e.dir == "RX" and e.mnemonic == "CST", 5.0)
        sent = [e.mnemonic for e in log.since(mark, "RX")]
        check(cst is not None and sent[-2:] == ["SNO", "CST"],
              "the output lamp sends the settings, then the start: " + " ".join(sent))
        check(log.wait(mark, lambda e: e.dir == "RX" and e.mnemonic == "RNT", 5.0) is not None,
              "running: measurement queries start")
        running_look = server.grab(win, OUTPUT_AREA)
        check(running_look != stopped_look, "running: the output area changes")
        rte, rnt, gaps = measure("online, output running", sim, prog, log)
        check(len(rte) >= 2 and len(rnt) >= 2 and abs(len(rte) - len(rnt)) <= 2,
              "running: state and measurement queries alternate")
        check(gaps and max(gaps) < 3.0, "running: state queries keep coming")

        # ---- faults while running --------------------------------------------------------------
        mark = log.mark()
        sim.command("refuse on")
        refused = log.wait(mark, lambda e: e.dir == "TX" and e.bytes[4:9] == b"RNT=!", 5.0)
        sim.command("refuse off")
        if check(refused is not None, "refuse: a measurement query is refused"):
            after = next_rx(log, log.entries.index(refused) + 1)
            check(after is not None and after.mnemonic == "RTE",
                  "refuse: the refused query is not repeated; polling goes on")

        # A reply 400 ms late misses its 250 ms wait; the request goes again and the late reply
        # is read in the next wait. Three misses in a row would show as three requests and then
        # nothing.
        mark = log.mark()
        sim.command("late on")
        held = wait_until(lambda: len(log.since(mark, "RX")) >= 8, 8.0)
        sim.command("late off")
        check(held, "late: the program keeps asking while every reply is 400 ms late")
        check(log.wait(log.mark(), lambda e: e.dir == "RX", 3.0) is not None,
              "late: still polling after the replies are on time again")

        brief_fault(sim, log, "corrupt",
                    lambda e: e.dir == "TX" and len(e.bytes) > 3
                    and sum(e.bytes[1:-2]) % 256 != e.bytes[-2])
        brief_fault(sim, log, "wrongaddr", lambda e: e.dir == "TX" and e.bytes[3:4] != b"\x01")
        brief_fault(sim, log, "stray", lambda e: e.dir == "TX" and e.bytes[:1] != b"{")
        brief_fault(sim, log, "silence", lambda e: e.dir == "RX" and "silence" in e.text)

        mark = log.mark()
        sim.command("state 4")
        alarm = log.wait(mark, lambda e: e.dir == "TX" and e.bytes[4:9] == b"RTE=4", 5.0)
        check(alarm is not None, "state 4: reported")
        alarm_look = wait_look(server, win, OUTPUT_AREA,
                               lambda img: img not in (running_look, stopped_look), 3.0)
        check(bool(alarm_look), "state 4: the window shows the alarm")
        if alarm:
            i = log.entries.index(alarm)
            check(quiet_of(log, i, "RNT", 2.5), "state 4: no measurement queries in alarm")
        mark = log.mark()
        sim.command("state normal")
        check(log.wait(mark, lambda e: e.dir == "RX" and e.mnemonic == "RNT", 5.0) is not None,
              "state normal: the running instrument is measured again")
        check(bool(wait_look(server, win, OUTPUT_AREA, lambda img: img == running_look, 3.0)),
              "state normal: the window shows the running output again")

        for state in ("1", "3"):
            mark = log.mark()
            sim.command("state " + state)
            reported = log.wait(
                mark, lambda e: e.dir == "TX" and e.bytes[4:9] == b"RTE=" + state.encode(), 5.0)
            stop = reported and next_rx(log, log.entries.index(reported) + 1)
            check(bool(stop) and stop.mnemonic == "CSP",
                  f"state {state}: the program answers with a stop")
            sim.command("state normal")
        check(bool(wait_look(server, win, OUTPUT_AREA, lambda img: img == stopped_look, 3.0)),
              "after the stops the window shows the output stopped")
        check(prog.poll() is None, "the program survived every fault")

        # ---- silence: three missed replies take the link down ---------------------------------
        before = set(server.windows())
        mark = log.mark()
        sim.command("silence on")
        missed = wait_until(lambda: len([e for e in log.since(mark, "RX")
                                         if "silence" in e.text]) >= 3, OFFLINE_WITHIN)
        check(missed, "silence: three requests go unanswered")
        offline_look = wait_look(server, win, LINK_AREA, lambda img: img != online_look, 3.0)
        check(bool(offline_look), "silence: the window shows the link offline")
        check(quiet(log, QUIET_WINDOW), "silence: no further request after the third miss")
        sim.command("silence off")
        check(quiet(log, QUIET_WINDOW), "silence over: the program stays offline until asked")
        no_box(server, before, "silence")
        reconnect(server, win, log, "after silence")
        check(bool(wait_look(server, win, LINK_AREA, lambda img: img == online_look, 3.0)),
              "after silence: the window shows the model again")

        # ---- unplug and replug ----------------------------------------------------------------
        before = set(server.windows())
        cpu0 = cpu_seconds(prog.pid)
        sim.command("unplug")
        t0 = time.time()
        gone = wait_look(server, win, LINK_AREA, lambda img: img == offline_look, OFFLINE_WITHIN)
        check(bool(gone), "unplug: the window shows the link offline")
        no_box(server, before, "unplug")
        time.sleep(QUIET_WINDOW)  # watching the offline program
        cpu = cpu_seconds(prog.pid) - cpu0
        span = time.time() - t0
        print(f"figure unplugged: program CPU {100 * cpu / span:.2f} % over {span:.1f} s",
              flush=True)
        check(cpu < 0.5 * span, "unplug: the program does not spin on the vanished port")
        sim.command("model VX52999P")
        sim.command("replug")
        check(quiet(log, QUIET_WINDOW), "replug: nothing reaches the instrument until connect")
        no_box(server, before, "replug")
        reconnect(server, win, log, "after replug")
        renamed = wait_look(server, win, LINK_AREA,
                            lambda img: img not in (online_look, offline_look), 3.0)
        model = [e for e in log.entries if e.dir == "TX" and e.bytes[4:8] == b"RMO="]
        check(bool(renamed) and model[-1].bytes[8:16] == b"VX52999P",
              "after replug: the window shows the new model name")

        # ---- close ------------------------------------------------------------------------------
        server.close_box(win)
        check(wait_exit(prog) == 0, "the close box ends the program with 0")
        with open(os.path.join(d, "Set.Dat"), "rb") as f:
            check(f.read() == SET_DAT, "Set.Dat written back unchanged")
        with open(os.path.join(d, "AutoSave52P.52P"), "rb") as f:
            check(f.read() == autosave_bytes(2200, 500, 1, 5, 5),
                  "AutoSave52P.52P holds the settings read from the instrument")
        report = sanitizer_report(d)
        check(not report, "no sanitizer report" + (": " + report if report else ""))
    finally:
        if prog and prog.poll() is None:
            prog.kill()
            prog.wait()
        sim.stop()
        server.close()
    if check.failures:
        print("working folder kept: " + d)
    else:
        shutil.rmtree(d, ignore_errors=True)
    return check.summary()


def quiet_of(log, index, mnemonic, seconds):
    """No request with this mnemonic for `seconds` after entry `index`."""
    t = log.entries[index].t
    wait_until(lambda: log.update() and log.entries[-1].t > t + seconds, seconds + 2.0)
    return not [e for e in log.entries[index:] if e.dir == "RX" and e.mnemonic == mnemonic
                and e.t <= t + seconds]


if __name__ == "__main__":
    sys.exit(main())
