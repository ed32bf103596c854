#!/usr/bin/python3
"""The data log of the real program against vx52-sim: started with --log, killed with SIGKILL in
the middle of a running output, started again on the same file. After every kill the file reads
with Python's csv module into whole rows (one header, then rows of 14 fields, ending in a line
end), the appended runs never cut what was there, and the gap between the last row and the kill
is printed. A log the program cannot open ends the start with one line and status 255.

VX52_KILLS sets the number of kills (default 3; 20 for the figure)."""

import csv
import datetime
import io
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vx52e2e import (PROGRAM, TITLE_EN, Checks, Simulator, Xserver, start_program,
                     start_running, wait_until, workdir)

KILLS = int(os.environ.get("VX52_KILLS", "3"))
HEADER = ("time,elapsed_s,kind,u_v,i_a,f_hz,p_kw,set_u_v,set_f_hz,range,output,link,event,"
          "detail").split(",")

check = Checks()


def read_rows(path):
    with open(path, "rb") as f:
        data = f.read()
    text = data.decode("utf-8")
    rows = list(csv.reader(io.StringIO(text, newline="")))
    return data, rows


def measure_count(path):
    try:
        return sum(1 for r in read_rows(path)[1] if len(r) > 2 and r[2] == "measure")
    except (OSError, UnicodeDecodeError):
        return 0


def main():
    server = Xserver()
    d = workdir("vx52log.")
    sim = Simulator(d, ["--no-noise"])
    path = os.path.join(d, "run.csv")
    gaps = []
    kept = b""
    try:
        for k in range(KILLS):
            mark = sim.log.mark()
            prog = start_program(server, d, args=["--log", "run.csv"])
            win = server.wait_window(TITLE_EN)
            if not check(win is not None and start_running(server, win, sim.log, mark),
                         f"run {k + 1}: the window appears and the output runs"):
                prog.kill()
                prog.wait()
                break
            before = measure_count(path)
            # Kill at a varying point of the poll cycle.
            wait_until(lambda: measure_count(path) >= before + 2, 10.0)
            time.sleep(0.13 * (k % 8))  # moves the kill across the second between two rows
            killed_at = datetime.datetime.now().astimezone()
            os.kill(prog.pid, signal.SIGKILL)
            prog.wait()

            data, rows = read_rows(path)
            check(data.startswith(kept), f"run {k + 1}: what the runs before wrote is unchanged")
            kept = data
            check(data.endswith(b"\n") and b"\r" not in data and not data.startswith(b"\xef\xbb\xbf"),
                  f"run {k + 1}: LF line ends, no byte-order mark, the last line whole")
            check(rows[0] == HEADER and HEADER not in rows[1:],
                  f"run {k + 1}: one header, at the top")
            check(all(len(r) == 14 for r in rows), f"run {k + 1}: every row has 14 fields")
            measures = [r for r in rows[1:] if r[2] == "measure"]
            starts = [r for r in rows[1:] if r[12] == "log_start"]
            check(len(starts) == k + 1 and measures, f"run {k + 1}: appended, with measurements")
            last = datetime.datetime.fromisoformat(rows[-1][0])
            gaps.append((killed_at - last).total_seconds())
        print(f"figure log after SIGKILL: {len(gaps)} kills, gap from the last row to the kill "
              f"{min(gaps):.3f}..{max(gaps):.3f} s" if gaps else "figure: no kill", flush=True)
        check(gaps and max(gaps) < 2.0, "at most about a second of rows is missing after a kill")

        # A log that cannot be opened stops the start: unattended runs must not go unlogged.
        env = dict(os.environ, DISPLAY=server.name)
        env.pop("QT_QPA_PLATFORM", None)
        for args, said in ((["--log", "/dev/full"], "No space left on device"),
                           (["--log", os.path.join(d, "no", "such", "dir.csv")], "No such file"),
                           (["--bogus"], "unknown option --bogus")):
            r = subprocess.run(["unshare", "-n", PROGRAM, *args] if os.geteuid() == 0
                               else [PROGRAM, *args], cwd=d, env=env, capture_output=True,
                               text=True, timeout=30)
            lines = [l for l in r.stderr.splitlines() if l.startswith("Vx52PSoft:")]
            check(r.returncode == 255 and len(lines) == 1 and said in lines[0],
                  f"{' '.join(args)}: status 255 and one line: {r.returncode} {lines}")
    finally:
        sim.stop()
        server.close()
    return check.summary()


if __name__ == "__main__":
    sys.exit(main())
