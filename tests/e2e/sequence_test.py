#!/usr/bin/python3
"""Test profiles run by the real program against vx52-sim at 9600 baud, unattended
(--sequence ... --exit-when-done) and from a VISA client (SEQuence:...):

- a profile that cannot be run: its errors on standard error, one a line, status 255 and
  nothing sent; no link in 10 s: status 2;
- six steps with ramps, twice: every settings frame within 0.5 s of its schedule and within the
  limits in force, the stop at the end with the source stopped, the CSV report's rows made of
  the data log's measurements, the HTML report's structure; status 0;
- a current over i_max_a made by the simulator's load: the step FAILs and the output stops
  (status 1); an alarm: nothing but polls after it, ABORTED (2); the link pulled: INTERRUPTED,
  nothing sent after it (2);
- the remote commands: LOAD's -256 and -224, COUNt, STARt, STATe?, -221 for a set command while
  the run is on, ABORt.

Prints the figures: settings frames against their schedule (median and worst), the time from
an over-limit measurement to the stop frame, and the program's CPU during a run against idle
online. VX52_E2E_SECONDS sets the CPU windows (default 10)."""

import csv
import html.parser
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vx52e2e import (PROGRAM, PROGRAM_ERR, TITLE_EN, Checks, SharedNetworkNamespace, Simulator, Xserver,
                     cpu_seconds, sanitizer_report, start_program, wait_exit, wait_until, workdir)
from remote_test import Network, open_visa

import pyvisa

SECONDS = float(os.environ.get("VX52_E2E_SECONDS", "10"))
HEADER = ("voltage_v,frequency_hz,dwell_s,ramp_s,settle_s,v_min,v_max,i_max_a,p_max_w,"
          "f_tol_hz,note\n")
# Six steps with ramps: nominal, brown-out, over-voltage, 60 Hz, a ramp down, 50 Hz again.
TIMED = HEADER + (
    "230,50,3,,1,225,235,3.0,,0.5,nominal\n"
    "207,,4,2,2.5,200,212,3.0,,,brown-out\n"
    "253,,4,2,2.5,248,258,3.0,,,over-voltage\n"
    "230,60,3,,1,,,3.0,,0.5,60 Hz\n"
    "150,,3,1,1.5,145,155,,,,\"down, 60 Hz\"\n"
    "240,50,3,,1,,,,700,0.5,50 Hz\n")
LONG = HEADER + "230,50,20,,1,,,3.0,,,\n220,,20,,1,,,3.0,,,\n"
SHORT = HEADER + "230,50,3,,1,,,3.0,,,\n220,,20,,1,,,3.0,,,\n"
BAD2 = HEADER + "300.5,50,5,,,,,,,,\n230,70,0.5,,,,,,,,\n230,,5,,,240,230,,,,\n"
BAD2_LINES = ["line 2, column voltage_v: outside 1.0 V to 300.0 V",
              "line 3, column frequency_hz: neither in 45.0-65.0 Hz nor one of "
              "100, 120, 200, 240, 400 Hz",
              "line 3, column dwell_s: outside 1.0 s to 604800.0 s",
              "line 4, column v_min: must be less than v_max"]

check = Checks()


def write(d, name, text):
    with open(os.path.join(d, name), "w") as f:
        f.write(text)


def stamp(text):
    """Seconds since 1970 from the log's and the report's time format."""
    import datetime
    return datetime.datetime.fromisoformat(text).timestamp()


def sno(entry):
    """(volts, hertz, range) of a settings frame, e.g. SNO=2300,0500,05,05,0,1*."""
    data = entry.bytes[8:-3].decode("latin-1").split(",")
    return int(data[0]) / 10, int(data[1]) / 10, int(data[5])


def schedule(profile_text, repeats):
    """(seconds after the run's start, volts, hertz) of every settings frame a run sends, as
    the profile says: step k at the sum of the dwells before it; a ramp in equal shares a
    second, the frequency at the step's start; nothing for the first step, set before the
    start."""
    rows = list(csv.DictReader(profile_text.splitlines()))
    out, t, v0, f0, first = [], 0.0, None, None, True
    for _ in range(repeats):
        for r in rows:
            v = float(r["voltage_v"])
            f = float(r["frequency_hz"]) if r["frequency_hz"] else f0
            ramp = int(r["ramp_s"] or 0)
            if not first:
                if ramp and v != v0:
                    if f != f0:
                        out.append((t, v0, f))
                    for j in range(1, ramp + 1):
                        share = (v - v0) * j / ramp
                        out.append((t + j, round(v0 + share, 1), f))
                elif (v, f) != (v0, f0):
                    out.append((t, v, f))
            first = False
            v0, f0 = v, f
            t += float(r["dwell_s"])
    return out


def stalled(polls, t):
    """How far apart the state polls around t are: once a second while the program runs."""
    before = max((p for p in polls if p <= t), default=t)
    after = min((p for p in polls if p > t), default=t)
    return after - before


def read_rows(path):
    with open(path, newline="") as f:
        return list(csv.reader(f))


def reports(d, folder="."):
    names = sorted(os.listdir(os.path.join(d, folder)))
    csvs = [n for n in names if n.startswith("run-") and n.endswith(".csv")]
    return [os.path.join(d, folder, n) for n in csvs]


class Page(html.parser.HTMLParser):
    """What the report page is made of."""

    def __init__(self):
        super().__init__()
        self.tags, self.ids, self.external, self.rows, self.outcome = [], {}, [], {}, ""
        self._table = None
        self._in_outcome = False

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        self.tags.append(tag)
        if "id" in a:
            self.ids[a["id"]] = tag
        for key in ("src", "href"):
            if key in a and not a[key].startswith("#"):
                self.external.append(a[key])
        if tag == "table":
            self._table = a.get("id")
        if tag == "tr" and self._table:
            self.rows[self._table] = self.rows.get(self._table, 0) + 1
        self._in_outcome = a.get("id") == "outcome"

    def handle_endtag(self, tag):
        if tag == "table":
            self._table = None

    def handle_data(self, data):
        if self._in_outcome:
            self.outcome += data.strip()


def run_unattended(server, netns, d, args, sim=None, during=None, timeout=120):
    """The program with --sequence ... --exit-when-done; during(prog) runs while it does.
    Returns (status, standard error)."""
    prog = start_program(server, d, netns, ["--exit-when-done", *args])
    try:
        if during:
            during(prog)
        status = wait_exit(prog, timeout)
    finally:
        if prog.poll() is None:
            prog.kill()
            prog.wait()
    with open(os.path.join(d, PROGRAM_ERR), errors="replace") as f:
        return status, f.read()


def frames(log, mnemonics=None, direction="RX"):
    return [e for e in log.update() if e.dir == direction and
            (mnemonics is None or e.mnemonic in mnemonics)]


def unloadable_and_no_link(server, netns):
    d = workdir("vx52seq.")
    sim = Simulator(d)
    try:
        write(d, "bad.csv", BAD2)
        status, err = run_unattended(server, netns, d, ["--sequence", "bad.csv"])
        lines = [l for l in err.splitlines() if l.startswith("line ")]
        check(status == 255, f"a profile with errors ends with 255 ({status})")
        check(lines == BAD2_LINES, "its errors on standard error, one a line, in line order:\n  "
              + "\n  ".join(lines))
        write(d, "bin.csv", HEADER + "230,50,5,,,,,,,,\n\x00\x01\x02")
        status, err = run_unattended(server, netns, d, ["--sequence", "bin.csv"])
        check(status == 255 and "line 3, column -: not text" in err,
              "a binary file: 255, line 3 is not text")
        check(not frames(sim.log), "nothing was sent for either")
    finally:
        sim.stop()
    write(d, "run.csv", LONG)
    os.remove(os.path.join(d, "sim.log"))
    t0 = time.monotonic()
    status, err = run_unattended(server, netns, d, ["--sequence", "run.csv"])
    check(status == 2 and "after 10 s" in err,
          f"no link: status 2 after {time.monotonic() - t0:.1f} s ({status})")
    shutil.rmtree(d, ignore_errors=True)


def timed_run(server, netns):
    """Returns the delays of the settings frames, in seconds."""
    d = workdir("vx52seq.")
    sim = Simulator(d, ["--seed", "17"])
    delays = []
    try:
        write(d, "run.csv", TIMED)
        os.mkdir(os.path.join(d, "reports"))
        status, _ = run_unattended(server, netns, d, ["--sequence", "run.csv", "--repeat", "2",
                                                      "--range", "HIGH", "--report", "reports",
                                                      "--log", "data.csv"])
        check(status == 0, f"six steps with ramps, twice: PASS, status 0 ({status})")
        found = reports(d, "reports")
        if not check(len(found) == 1, f"one CSV report in the --report folder ({found})"):
            return delays
        rows = read_rows(found[0])
        check(rows[0] == ["repeat", "step", "start", "end", "set_v", "set_hz", "v_min", "v_mean",
                          "v_max", "i_max_a", "p_max_w", "f_min_hz", "f_max_hz", "verdict",
                          "reason"] and rows[-1] == ["outcome", "PASS"],
              "the report's header and outcome row")
        steps = rows[1:-1]
        check([(r[0], r[1]) for r in steps] == [(str(k), str(s)) for k in (1, 2)
                                                for s in range(1, 7)],
              "one row per step run, in order")

        # The frames on the wire against the schedule from the run's start.
        log = sim.log.update()
        start = stamp(steps[0][2])
        rx = [e for e in log if e.dir == "RX"]
        cst = max(i for i, e in enumerate(rx) if e.mnemonic == "CST")
        sent = [e for e in rx[cst:] if e.mnemonic == "SNO"]
        planned = schedule(TIMED, 2)
        check(len(sent) == len(planned),
              f"as many settings frames as the schedule has ({len(sent)} of {len(planned)})")
        polls = [e.t for e in rx if e.mnemonic == "RTE"]
        late = []
        for e, (at, v, f) in zip(sent, planned):
            delays.append(e.t - (start + at))
            volts, hertz, level = sno(e)
            if (volts, hertz, level) != (v, f, 1) or delays[-1] < -0.05:
                check(False, f"frame {e.text} at {e.t - start:.3f} s for {v} V {f} Hz at {at} s")
            elif delays[-1] > 0.5:
                late.append((e, stalled(polls, e.t)))
        for e, stall in late:
            print(f"note {e.text} {1000 * (e.t - start):.0f} ms after the start: the program's own "
                  f"state polls around it are {stall:.2f} s apart", flush=True)
        check(all(stall > 1.4 for _, stall in late),
              "every settings frame within 0.5 s of its schedule, with its values (a later one "
              "only while the whole program stood still: its state polls, once a second, late too)")
        before = [sno(e) for e in rx[:cst] if e.mnemonic == "SNO"]
        check(all(1.0 <= v <= 300.0 and 45.0 <= f <= 65.0
                  for v, f, _ in before + [sno(e) for e in sent]),
              "no frame outside the limits in force (HIGH: 1.0-300.0 V, 45.0-65.0 Hz)")
        last = [e.mnemonic for e in rx if e.mnemonic in ("SNO", "CST", "CSP")][-1]
        check(last == "CSP" and "output off" in sim.status(),
              "the run ends with the stop command and the source stopped")

        # The report's numbers are the data log's measurements after each step's settle time.
        measured = [(stamp(r[0]), r) for r in read_rows(os.path.join(d, "data.csv"))[1:]
                    if r[2] == "measure"]
        settles = [float(r["settle_s"]) for r in csv.DictReader(TIMED.splitlines())] * 2
        mismatched = []
        for row, settle in zip(steps, settles):
            lo, hi = stamp(row[2]) + settle, stamp(row[3])
            # A reading that lands on the settle boundary may fall on either side of it.
            sure = [m for t, m in measured if lo + 0.03 < t <= hi]
            edge = [m for t, m in measured if lo - 0.03 <= t <= lo + 0.03]
            if not any(summary(sure + extra) == row[6:13] for extra in ([], edge)):
                mismatched.append((row[:2], row[6:13], summary(sure)))
        check(not mismatched, "each row's V, I, P and f figures are those of the data log's "
              f"measurements ({mismatched})")

        page = Page()
        with open(found[0][:-4] + ".html") as f:
            page.feed(f.read())
        check(page.outcome == "PASS" and page.ids.get("chart") == "svg"
              and page.rows.get("steps") == len(steps) + 1 and "script" not in page.tags
              and not page.external,
              f"the HTML report: outcome {page.outcome}, inline chart, a row per step, no script, "
              f"no external file ({page.external})")
        with open(os.path.join(d, "data.csv")) as f:
            events = [r[12] for r in csv.reader(f) if r[2] == "event"]
        check(events.count("seq_start") == 1 and events.count("seq_step") == 12
              and events.count("seq_end") == 1 and "seq_fail" not in events,
              "the data log has seq_start, twelve seq_step and seq_end")
    finally:
        sim.stop()
    if not check.failures:
        shutil.rmtree(d, ignore_errors=True)
    return delays


def summary(rows):
    """The report's v_min..f_max_hz from data-log measure rows."""
    if not rows:
        return [""] * 7
    v = [round(float(r[3]) * 10) for r in rows]
    mean = (2 * sum(v) + len(v)) // (2 * len(v))
    return ["%.1f" % (min(v) / 10), "%.1f" % (mean / 10), "%.1f" % (max(v) / 10),
            "%.3f" % max(float(r[4]) for r in rows), str(max(round(float(r[6]) * 1000) for r in rows)),
            "%.1f" % min(float(r[5]) for r in rows), "%.1f" % max(float(r[5]) for r in rows)]


def after_start(log):
    """What the source received since the run's start command."""
    rx = frames(log)
    starts = [i for i, e in enumerate(rx) if e.mnemonic == "CST"]
    return rx[starts[-1]:] if starts else []


def ends(server, netns):
    """A failed limit, an alarm and a pulled link, each in a run of its own. Returns the time
    from the over-limit measurement to the stop frame."""
    to_stop = None
    for case in ("limit", "alarm", "unplug", "unplug, unattended", "signal"):
        d = workdir("vx52seq.")
        sim = Simulator(d)
        log = sim.log
        write(d, "run.csv", SHORT)
        at = {}

        def second_step_settled():
            # Two measurements after the second step's setting: past its settle time.
            rx = after_start(log)
            sets = [i for i, e in enumerate(rx) if e.mnemonic == "SNO"]
            return sets and [e.mnemonic for e in rx[sets[0]:]].count("RNT") >= 2

        def during(prog):
            wait_until(second_step_settled, 20)
            at["mark"] = log.mark()
            at["t"] = time.time()
            if case == "limit":
                sim.command("load 50")
                wait_until(lambda: [e for e in log.since(at["mark"], "RX") if e.mnemonic == "CSP"],
                           5)
                sim.command("load 100")
            elif case == "alarm":
                sim.command("overload")
            else:
                sim.command("unplug")

        if case == "signal":
            # Ended by a signal, no question can be asked: the run stops the
            # output and writes its report, then the program ends.
            prog = start_program(server, d, netns, ["--sequence", "run.csv"])
            wait_until(second_step_settled, 20)
            at["mark"] = log.mark()
            prog.terminate()
            status = wait_exit(prog)
        elif case == "unplug":
            # Left running, the program must stay quiet on a line that comes back (connecting
            # again by itself, the default, is reconnect_test.py's).
            prog = start_program(server, d, netns, ["--sequence", "run.csv", "--no-reconnect"])
            during(prog)
            wait_until(lambda: reports(d), 10)
            sim.command("replug")
            replugged = log.mark()
            time.sleep(3)  # long enough for three polls, were the link still in use
            quiet = not log.since(replugged, "RX")
            prog.terminate()
            status = wait_exit(prog)
        else:
            status, _ = run_unattended(server, netns, d, ["--sequence", "run.csv"], sim, during)
        found = reports(d)
        rows = read_rows(found[0]) if found else [[], []]
        after = log.since(at.get("mark", 0))
        if case == "limit":
            over = next((e for e in after if e.dir == "TX" and "RNT=" in e.text
                         and float(e.text.split(",")[1]) > 3.0), None)
            stop = next((e for e in after if e.dir == "RX" and e.mnemonic == "CSP"), None)
            if over and stop:
                to_stop = stop.t - over.t
            check(status == 1 and rows[-1] == ["outcome", "FAIL"] and rows[-2][13] == "FAIL"
                  and rows[-2][14].startswith("i_max_a: "),
                  f"over i_max_a: the step FAILs ({rows[-2][14:]}), status {status}")
            check(stop is not None and stop.t - at["t"] <= 3.0 and "output off" in sim.status(),
                  "the output is stopped within 3 s of the current's rise")
        elif case == "alarm":
            alarm = next((i for i, e in enumerate(after) if e.dir == "TX" and "RTE=4" in e.text),
                         None)
            later = sorted({e.mnemonic for e in after[alarm:] if e.dir == "RX"}) if alarm else ["?"]
            check(status == 2 and rows[-1] == ["outcome", "ABORTED"],
                  f"an alarm mid-run: ABORTED, status {status}")
            check(alarm is not None and set(later) <= {"RTE"},
                  f"nothing but state polls after the alarm ({later})")
        elif case == "signal":
            sent = [e.mnemonic for e in log.since(at["mark"], "RX") if e.mnemonic != "RTE"]
            check(status == 0 and rows[-1] == ["outcome", "ABORTED"] and "CSP" in sent
                  and "SNO" not in sent and "output off" in sim.status(),
                  f"SIGTERM during a run: the output stopped, the report ABORTED, status {status} "
                  f"({sent})")
        elif case == "unplug":
            check(rows[-1] == ["outcome", "INTERRUPTED"] and quiet and status == 0,
                  f"the link pulled mid-run: INTERRUPTED, nothing sent after it ({rows[-1]})")
        else:
            check(status == 2 and rows[-1] == ["outcome", "INTERRUPTED"],
                  f"the link pulled in an unattended run: status {status}")
        sim.stop()
        if not check.failures:
            shutil.rmtree(d, ignore_errors=True)
    return to_stop


def remote(server):
    """Returns the CPU ratio of a run to idle online."""
    net = Network()  # the program and the client in a namespace of their own
    d = workdir("vx52seq.")
    sim = Simulator(d)
    write(d, "good.csv", LONG)
    write(d, "bad.csv", BAD2)
    prog = None
    ratio = None
    try:
        env = dict(os.environ)
        env.pop("QT_QPA_PLATFORM", None)
        env["DISPLAY"] = server.name
        with open(os.path.join(d, PROGRAM_ERR), "wb") as err:
            prog = subprocess.Popen(net.ns.prefix() + [PROGRAM, "--remote", str(net.port)],
                                    cwd=d, env=env, stdout=subprocess.DEVNULL, stderr=err)
        check(server.wait_window(TITLE_EN) is not None, "the main window appears")
        rm = pyvisa.ResourceManager("@py")
        inst = wait_until(lambda: open_visa(net, rm, f"TCPIP::127.0.0.1::{net.port}::SOCKET"),
                          10.0, 0.1)
        if not check(inst is not None, "a VISA client connects"):
            return None
        q = inst.query
        check(wait_until(lambda: q("SYST:LINK?") == "ONLINE", 20.0, 0.1), "the link comes up")
        check(q("SEQ:STAT?") == "IDLE", "SEQ:STAT? before anything: IDLE")
        inst.write('SEQ:LOAD "missing.csv"')
        check(q("SYST:ERR?").startswith("-256,"), "a missing file: -256")
        inst.write('SEQuence:LOAD "bad.csv"')
        errors = [q("SYST:ERR?") for _ in range(5)]
        expected = [f'-224,"Illegal parameter value;{line}"' for line in BAD2_LINES]
        check(errors == expected + ['0,"No error"'],
              "a profile with errors: -224 with the first, SYST:ERR? gives the rest:\n  "
              + "\n  ".join(errors))
        inst.write("SEQ:STAR")
        check(q("SYST:ERR?").startswith("-221,"), "it cannot be started: -221")
        inst.write('SEQ:LOAD "good.csv";COUN 1')
        check(q("SEQ:STAT?;COUN?") == "IDLE;1", "a clean profile loaded, count 1: IDLE")

        t0, c0 = time.monotonic(), cpu_seconds(prog.pid)
        time.sleep(SECONDS)
        idle = (cpu_seconds(prog.pid) - c0) / (time.monotonic() - t0)

        inst.write("SEQ:STAR")
        check(wait_until(lambda: q("SEQ:STAT?").startswith("RUNNING,1,1") and q("OUTP?") == "1",
                         10.0, 0.1), "SEQ:STAR starts it: RUNNING,1,1")
        mark = sim.log.mark()
        inst.write("VOLT 100")
        check(q("SYST:ERR?").startswith("-221,"), "a set command during the run: -221")
        inst.write("SEQ:COUN 3")
        check(q("SYST:ERR?").startswith("-221,"), "its settings too: -221")
        t0, c0 = time.monotonic(), cpu_seconds(prog.pid)
        time.sleep(SECONDS)
        running = (cpu_seconds(prog.pid) - c0) / (time.monotonic() - t0)
        ratio = running / idle if idle > 0 else None
        print(f"figure CPU of one core: idle online {100 * idle:.2f} %, "
              f"a run on {100 * running:.2f} %", flush=True)
        check(not [e for e in sim.log.since(mark, "RX") if e.mnemonic == "SNO"
                   and sno(e)[0] == 100.0], "nothing of the refused command reached the source")
        inst.write("SEQ:ABOR")
        check(wait_until(lambda: q("SEQ:STAT?") == "ABORTED", 10.0, 0.1) and q("OUTP?") == "0",
              "SEQ:ABOR: ABORTED, the output off")
        inst.close()
        prog.terminate()
        check(wait_exit(prog) == 0, "the program ends")
        report = sanitizer_report(d)
        check(not report, "no sanitizer report" + (": " + report if report else ""))
    finally:
        if prog and prog.poll() is None:
            prog.kill()
            prog.wait()
        sim.stop()
        net.close()
    if not check.failures:
        shutil.rmtree(d, ignore_errors=True)
    return ratio


def main():
    server = Xserver()
    netns = SharedNetworkNamespace()
    try:
        unloadable_and_no_link(server, netns)
        delays = timed_run(server, netns)
        if delays:
            print(f"figure settings frames after their schedule: median "
                  f"{1000 * statistics.median(delays):.0f} ms, worst {1000 * max(delays):.0f} ms "
                  f"({len(delays)} frames)", flush=True)
        to_stop = ends(server, netns)
        if to_stop is not None:
            print(f"figure over-limit measurement (the source's reply) to the stop frame: "
                  f"{1000 * to_stop:.0f} ms", flush=True)
        ratio = remote(server)
        if ratio:
            print(f"figure CPU during a run / idle online: {ratio:.2f}", flush=True)
    finally:
        netns.close()
        server.close()
    return check.summary()


if __name__ == "__main__":
    sys.exit(main())
