#!/usr/bin/python3
"""The real program under Xvfb: the window appears, a second copy is refused
with its warning in the stored language and status 255, a small screen raises
the resolution question, the close box, SIGTERM and SIGINT end with 0 and save
the settings, and a copy killed with SIGKILL never blocks the next start."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from vx52e2e import Xserver, wait_exit  # noqa: E402

BIN = os.environ["VX52_BIN_DIR"]
PROGRAM = os.path.join(BIN, "Vx52PSoft")
failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)


def workdir(language=None):
    d = tempfile.mkdtemp(prefix="vx52proc.")
    for name in ("Vx52PSoft.uir", "English.dat", "Chinese.dat"):
        shutil.copy(os.path.join(BIN, name), d)
    if language is not None:
        with open(os.path.join(d, "Set.Dat"), "wb") as f:
            f.write(b"[FileInfo]\r\nType = 128\r\n\r\n[Value]\r\nSoftwareAddress = 1\r\n"
                    b"CommTypeRS232Port = 9\r\nCommTypeRS232Baudrate = 9600\r\n"
                    + b"Language = %d\r\n\r\n" % language)
    return d


def start(server, cwd):
    env = dict(os.environ)
    env.pop("QT_QPA_PLATFORM", None)
    env["DISPLAY"] = server.name
    return subprocess.Popen([PROGRAM], cwd=cwd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def main():
    big = Xserver(1280, 1024)
    try:
        first_dir = workdir(language=1)
        first = start(big, first_dir)
        check(big.wait_window("AC Power Source Control") is not None, "English window appears")
        check(big.wait_window("Tip", timeout=1.0) is None, "no screen question at 1280x1024")

        # Second copies speak the language stored in their own working folder.
        for language, title in ((1, "Warning"), (None, "警告")):
            second = start(big, workdir(language=language))
            box = big.wait_window(title)
            check(box is not None, f"second copy shows '{title}'")
            if box:
                big.close_box(box)
            check(wait_exit(second) == 255, f"second copy ('{title}') ends with status 255")
        check(first.poll() is None, "first copy keeps running")

        main_win = big.wait_window("AC Power Source Control")
        big.close_box(main_win)
        check(wait_exit(first) == 0, "close box ends the program with 0")
        check(os.path.exists(os.path.join(first_dir, "AutoSave52P.52P")), "close box writes the autosave file")
        with open(os.path.join(first_dir, "Set.Dat"), "rb") as f:
            soft = f.read()
        check(b"CommTypeRS232Port = 9\r\n" in soft and b"Language = 1\r\n" in soft, "close box keeps Set.Dat")

        # A killed copy leaves nothing behind that blocks the next start.
        killed = start(big, workdir())
        check(big.wait_window("交流电源控制软件") is not None, "Chinese window appears without Set.Dat")
        killed.send_signal(signal.SIGKILL)
        wait_exit(killed)
        for sig in (signal.SIGTERM, signal.SIGINT):
            d = workdir()
            proc = start(big, d)
            check(big.wait_window("交流电源控制软件") is not None, f"starts after a killed copy ({sig.name})")
            check(big.wait_window("警告", timeout=1.0) is None, "no warning after a killed copy")
            proc.send_signal(sig)
            check(wait_exit(proc) == 0, f"{sig.name} ends the program with 0")
            check(os.path.exists(os.path.join(d, "Set.Dat")), f"{sig.name} writes Set.Dat")
    finally:
        big.close()

    for width, height, asked in ((800, 600, True), (1024, 768, False), (1280, 720, True)):
        server = Xserver(width, height)
        try:
            proc = start(server, workdir())
            tip = server.wait_window("提示", timeout=8.0 if asked else 3.0)
            check((tip is not None) == asked, f"screen {width}x{height}: question {'asked' if asked else 'not asked'}")
            if tip:
                server.close_box(tip)  # answers No
            check(server.wait_window("交流电源控制软件") is not None, f"screen {width}x{height}: window appears")
            proc.send_signal(signal.SIGTERM)
            check(wait_exit(proc) == 0, f"screen {width}x{height}: ends with 0")
        finally:
            server.close()

    if failures:
        print("\n".join(["", "failed:"] + failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
