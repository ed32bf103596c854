#!/usr/bin/python3
"""The real program under Xvfb, from working folders without the layout
resource: the window appears, a second copy is refused with its warning in the
stored language and status 255, a small screen raises the resolution question
(counted in device pixels, whatever Qt's scaling), the close box, SIGTERM and
SIGINT end with 0 and save the settings, and a copy killed with SIGKILL never
blocks the next start. A start without a display, or with the layout resource
beside the program missing, unreadable or short of a panel, says so in one line
and ends with 255.

The copies it starts share a network namespace of their own where one can be
made, so they meet no other copy's single-instance guard."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from vx52e2e import SharedNetworkNamespace, Xserver, wait_exit  # noqa: E402

BIN = os.environ["VX52_BIN_DIR"]
SOURCE = os.environ["VX52_SOURCE_DIR"]
RCC = os.environ.get("VX52_RCC", "/usr/lib/qt6/libexec/rcc")
PROGRAM = os.path.join(BIN, "Vx52PSoft")
failures = []
folders = []
netns = SharedNetworkNamespace()


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)
    return cond


def workdir(language=None):
    d = tempfile.mkdtemp(prefix="vx52proc.")
    folders.append(d)
    for name in ("English.dat", "Chinese.dat"):
        shutil.copy(os.path.join(BIN, name), d)
    if language is not None:
        with open(os.path.join(d, "Set.Dat"), "wb") as f:
            f.write(b"[FileInfo]\r\nType = 128\r\n\r\n[Value]\r\nSoftwareAddress = 1\r\n"
                    b"CommTypeRS232Port = 9\r\nCommTypeRS232Baudrate = 9600\r\n"
                    + b"Language = %d\r\n\r\n" % language)
    return d


def start(server, cwd, scale=None):
    env = dict(os.environ)
    env.pop("QT_QPA_PLATFORM", None)
    env["DISPLAY"] = server.name
    if scale:
        env["QT_SCALE_FACTOR"] = str(scale)
    return subprocess.Popen(netns.prefix() + [PROGRAM], cwd=cwd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def early_exit(program, display):
    """Status and standard error of a start that is meant to fail."""
    env = dict(os.environ)
    for name in ("QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    if display:
        env["DISPLAY"] = display
    try:
        done = subprocess.run(netns.prefix() + [program], cwd=workdir(), env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, timeout=20)
    except subprocess.TimeoutExpired:
        return None, []
    return done.returncode, done.stderr.decode("utf-8", "replace").splitlines()


def layout_without(folder, panel):
    """The layout resource built again without one of its panels."""
    ui = os.path.join(SOURCE, "data", "ui")
    qrc = os.path.join(folder, "short.qrc")
    with open(qrc, "w") as f:
        f.write('<RCC><qresource prefix="/">\n')
        for name in ("PANEL.ui", "COMMPANEL.ui", "WAITPANEL.ui", "ABOUTPANEL.ui", "MENUBAR.ui",
                     "logo.png"):
            if name != panel + ".ui":
                f.write(f'<file alias="{name}">{os.path.join(ui, name)}</file>\n')
        f.write("</qresource></RCC>\n")
    uir = os.path.join(folder, "Vx52PSoft.uir")
    subprocess.run([RCC, "--binary", "-o", uir, qrc], check=True)
    os.remove(qrc)


def early_exits(server):
    status, err = early_exit(PROGRAM, None)
    check(status == 255, f"no display: ends with 255 (got {status})")
    check(len(err) == 1 and err[0].startswith("Vx52PSoft: no display: "),
          f"no display: one line on standard error ({err})")

    # A copy of the program in a folder of its own, with its layout resource in three states.
    beside = tempfile.mkdtemp(prefix="vx52beside.")
    program = shutil.copy(PROGRAM, beside)
    uir = os.path.join(beside, "Vx52PSoft.uir")
    for state in ("missing", "unreadable", "short of a panel"):
        if state == "unreadable":
            with open(uir, "wb") as f:
                f.write(b"not a layout resource")
        elif state == "short of a panel":
            os.remove(uir)
            layout_without(beside, "WAITPANEL")
        expected = {"missing": f"Vx52PSoft: the layout resource {uir} is missing",
                    "unreadable": f"Vx52PSoft: the layout resource {uir} cannot be read",
                    "short of a panel": f"Vx52PSoft: WAITPANEL is missing from the layout resource {uir}"}[state]
        status, err = early_exit(program, server.name)
        ours = [line for line in err if line.startswith("Vx52PSoft:")]
        check(status == 255, f"layout {state}: ends with 255 (got {status})")
        check(ours == [expected], f"layout {state}: says so in one line ({ours})")
    shutil.rmtree(beside, ignore_errors=True)


def main():
    big = Xserver(1280, 1024)
    try:
        first_dir = workdir(language=1)
        first = start(big, first_dir)
        check(big.wait_window("AC Power Source Control") is not None, "English window appears")
        check(big.wait_window("Tip", timeout=1.0) is None, "no screen question at 1280x1024")

        # Second copies speak the language stored in their own working folder. The guard is
        # kept per working folder, so a second copy is one started where a copy runs already:
        # beside the English first copy, and beside a Chinese one in a folder without Set.Dat.
        chinese_dir = workdir()
        chinese = start(big, chinese_dir)
        check(big.wait_window("交流电源控制软件") is not None, "a copy in a second folder runs beside the first")
        for language, title in ((1, "Warning"), (None, "警告")):
            second = start(big, first_dir if language == 1 else chinese_dir)
            box = big.wait_window(title)
            check(box is not None, f"second copy shows '{title}'")
            if box:
                big.close_box(box)
            check(wait_exit(second) == 255, f"second copy ('{title}') ends with status 255")
            said = second.stderr.read().decode("utf-8", "replace")
            check("Vx52PSoft: another copy is already running\n" in said,
                  f"second copy ('{title}') says why on standard error")
        check(first.poll() is None, "first copy keeps running")
        chinese.send_signal(signal.SIGTERM)
        check(wait_exit(chinese) == 0, "the copy in the second folder ends with 0")

        main_win = big.wait_window("AC Power Source Control")
        big.close_box(main_win)
        check(wait_exit(first) == 0, "close box ends the program with 0")
        check(os.path.exists(os.path.join(first_dir, "AutoSave52P.52P")), "close box writes the autosave file")
        with open(os.path.join(first_dir, "Set.Dat"), "rb") as f:
            soft = f.read()
        check(b"CommTypeRS232Port = 9\r\n" in soft and b"Language = 1\r\n" in soft, "close box keeps Set.Dat")

        # A killed copy leaves nothing behind that blocks the next start.
        # (In the killed copy's folder: a copy elsewhere would never meet its guard.)
        d = workdir()
        killed = start(big, d)
        check(big.wait_window("交流电源控制软件") is not None, "Chinese window appears without Set.Dat")
        killed.send_signal(signal.SIGKILL)
        wait_exit(killed)
        for sig in (signal.SIGTERM, signal.SIGINT):
            if os.path.exists(os.path.join(d, "Set.Dat")):
                os.remove(os.path.join(d, "Set.Dat"))
            proc = start(big, d)
            check(big.wait_window("交流电源控制软件") is not None, f"starts after a killed copy ({sig.name})")
            check(big.wait_window("警告", timeout=1.0) is None, "no warning after a killed copy")
            proc.send_signal(sig)
            check(wait_exit(proc) == 0, f"{sig.name} ends the program with 0")
            check(os.path.exists(os.path.join(d, "Set.Dat")), f"{sig.name} writes Set.Dat")
    finally:
        big.close()

    # Device pixels decide: at 200 % a 1280x1024 screen is still large enough, and 800x600 is not.
    for width, height, cases in ((800, 600, ((1, True), (2, True))), (1024, 768, ((1, False),)),
                                 (1280, 720, ((1, True),)), (1280, 1024, ((2, False),))):
        server = Xserver(width, height)
        try:
            if width == 1280 and height == 1024:
                early_exits(server)
            for scale, asked in cases:
                what = f"screen {width}x{height} at {scale * 100} %"
                proc = start(server, workdir(), scale)
                tip = server.wait_window("提示", timeout=8.0 if asked else 3.0)
                check((tip is not None) == asked, f"{what}: question {'asked' if asked else 'not asked'}")
                if tip:
                    server.close_box(tip)  # answers No
                check(server.wait_window("交流电源控制软件") is not None, f"{what}: window appears")
                proc.send_signal(signal.SIGTERM)
                code = wait_exit(proc)
                if not check(code == 0, f"{what}: ends with 0 ({code})"):
                    print(proc.stderr.read().decode("utf-8", "replace")[-3000:])
        finally:
            server.close()

    if failures:
        print("\n".join(["", "failed:"] + failures + ["working folders kept: " + " ".join(folders)]))
        return 1
    for d in folders:
        shutil.rmtree(d, ignore_errors=True)
    return 0


if __name__ == "__main__":
    try:
        status = main()
    finally:
        netns.close()
    sys.exit(status)
