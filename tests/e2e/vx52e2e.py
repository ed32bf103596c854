"""Shared pieces for runs of the real program against the simulated power source:
private Xvfb servers, the vx52-sim process with its control FIFO and frame log,
the program in a working folder of its own, and readings from /proc.

Every wait here is for a condition, with a deadline; nothing sleeps to let
time pass."""

import contextlib
import ctypes
import datetime
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import time

from Xlib import X, display as xdisplay
from Xlib.ext import xtest
from Xlib.protocol import event as xevent

HERE = os.path.dirname(os.path.abspath(__file__))
BIN = os.environ.get("VX52_BIN_DIR") or os.path.join(HERE, "..", "..", "build", "bin")
PROGRAM = os.path.join(BIN, "Vx52PSoft")
SIMULATOR = os.path.join(BIN, "vx52-sim")

TITLE_EN = "AC Power Source Control"
# Size of the main panel's form in data/ui/PANEL.ui; the menu bar sits above it.
FORM_W, FORM_H = 1000, 680
# Control rectangles (x, y, w, h) on the form, from data/ui/PANEL.ui.
BT_CONNECT = (850, 632, 132, 32)
LED_OUTPUT = (22, 474, 104, 104)
LINK_AREA = (356, 632, 176, 32)      # link lamp and offline caption / model name
OUTPUT_AREA = (8, 460, 324, 212)     # output lamp, running / stopped / alarm texts

CLK_TCK = os.sysconf("SC_CLK_TCK")

SET_DAT = (b"[FileInfo]\r\nType = 128\r\n\r\n[Value]\r\nSoftwareAddress = 1\r\n"
           b"CommTypeRS232Port = 1\r\nCommTypeRS232Baudrate = 9600\r\nLanguage = 1\r\n\r\n")


def autosave_bytes(vol, freq, level, up, down):
    return (b"[FileInfo]\r\nType = 65\r\n\r\n[Value]\r\n"
            + b"Vol = %d\r\nFreq = %d\r\nVolLevel = %d\r\nUp2U = %d\r\nDown2U = %d\r\n\r\n"
            % (vol, freq, level, up, down))


def wait_until(cond, timeout, step=0.02):
    """cond() until it gives something true or the deadline passes; returns its last value."""
    end = time.monotonic() + timeout
    while True:
        value = cond()
        if value or time.monotonic() >= end:
            return value
        time.sleep(step)


class Xserver:
    def __init__(self, width=1280, height=1024):
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", f"{width}x{height}x24",
             "-nolisten", "tcp"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(r, 16)
            if not chunk:
                break
            number += chunk
        os.close(r)
        self.name = ":" + number.decode().strip()
        self.dpy = xdisplay.Display(self.name)
        self.root = self.dpy.screen().root

    def close(self):
        try:
            self.dpy.close()
        finally:
            self.proc.terminate()
            self.proc.wait()

    def windows(self):
        """Titles of the mapped top-level windows, by window id."""
        out = {}
        net_name = self.dpy.intern_atom("_NET_WM_NAME")
        utf8 = self.dpy.intern_atom("UTF8_STRING")
        for w in self.root.query_tree().children:
            try:
                if w.get_attributes().map_state != X.IsViewable:
                    continue
                prop = w.get_full_property(net_name, utf8)
                title = prop.value.decode("utf-8") if prop else (w.get_wm_name() or "")
                out[w.id] = title if isinstance(title, str) else title.decode("latin-1")
            except Exception:
                pass
        return out

    def wait_window(self, title, timeout=20.0):
        def find():
            for wid, t in self.windows().items():
                if t == title:
                    return wid
            return None
        return wait_until(find, timeout, 0.1)

    def form_origin(self, wid):
        """Root position of the main panel's form: below the menu bar of the window."""
        w = self.dpy.create_resource_object("window", wid)
        g = w.get_geometry()
        pos = w.translate_coords(self.root, 0, 0)
        return -pos.x, -pos.y + (g.height - FORM_H)

    def grab(self, wid, rect):
        """Raw pixels of a rectangle of the form."""
        ox, oy = self.form_origin(wid)
        x, y, w, h = rect
        return self.root.get_image(ox + x, oy + y, w, h, X.ZPixmap, 0xFFFFFFFF).data

    def click(self, wid, rect):
        """A left click at the middle of a rectangle of the form, as the mouse makes it; the
        pointer then moves off the window so no hover look stays behind."""
        ox, oy = self.form_origin(wid)
        x, y, w, h = rect
        xtest.fake_input(self.dpy, X.MotionNotify, x=ox + x + w // 2, y=oy + y + h // 2)
        xtest.fake_input(self.dpy, X.ButtonPress, 1)
        xtest.fake_input(self.dpy, X.ButtonRelease, 1)
        xtest.fake_input(self.dpy, X.MotionNotify, x=1, y=1)
        self.dpy.sync()

    def close_box(self, wid):
        """What a window manager sends when the operator clicks the close box."""
        w = self.dpy.create_resource_object("window", wid)
        protocols = self.dpy.intern_atom("WM_PROTOCOLS")
        delete = self.dpy.intern_atom("WM_DELETE_WINDOW")
        ev = xevent.ClientMessage(window=w, client_type=protocols,
                                  data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        w.send_event(ev)
        self.dpy.flush()


class Entry:
    """One line of the frame log."""
    __slots__ = ("t", "dir", "bytes", "text")

    def __init__(self, t, direction, data, text):
        self.t, self.dir, self.bytes, self.text = t, direction, data, text

    @property
    def mnemonic(self):
        return self.bytes[4:7].decode("latin-1") if len(self.bytes) >= 7 else ""

    def well_formed(self, address=1):
        """Start mark, length, 0, address, checksum and end mark all in place."""
        b = self.bytes
        return (len(b) >= 10 and b[0] == 0x7B and b[1] + 3 == len(b) and b[2] == 0
                and b[3] == address and b[-1] == 0x7D and sum(b[1:-2]) % 256 == b[-2])

    def __repr__(self):
        return f"{self.t:.3f} {self.dir} {self.text}"


def parse_line(line):
    parts = line.rstrip("\n").split(None, 3)
    if len(parts) < 3:
        return None
    try:
        t = datetime.datetime.strptime(parts[0] + " " + parts[1],
                                       "%Y-%m-%d %H:%M:%S.%f").timestamp()
    except ValueError:
        return None
    rest = parts[3] if len(parts) > 3 else ""
    if parts[2] in ("RX", "TX"):
        hexpart, _, text = rest.partition("|")
        try:
            data = bytes(int(h, 16) for h in hexpart.split())
        except ValueError:
            return None
        return Entry(t, parts[2], data, text.strip())
    return Entry(t, "--", b"", rest.strip())


class FrameLog:
    """The simulator's frame log, read as it grows."""

    def __init__(self, path):
        self.path = path
        self.entries = []
        self._offset = 0
        self._partial = ""

    def update(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self._offset)
                chunk = f.read()
        except FileNotFoundError:
            return self.entries
        self._offset += len(chunk)
        text = self._partial + chunk.decode("utf-8", "replace")
        lines = text.split("\n")
        self._partial = lines.pop()
        for line in lines:
            e = parse_line(line)
            if e:
                self.entries.append(e)
        return self.entries

    def mark(self):
        """Position after everything logged so far."""
        self.update()
        return len(self.entries)

    def since(self, mark, direction=None):
        self.update()
        return [e for e in self.entries[mark:] if direction is None or e.dir == direction]

    def wait(self, mark, pred, timeout):
        """First entry after mark for which pred holds, or None at the deadline."""
        def find():
            for e in self.since(mark):
                if pred(e):
                    return e
            return None
        return wait_until(find, timeout)

    def wait_index(self, mark, pred, timeout):
        """Index of the first entry after mark for which pred holds, or None."""
        def find():
            self.update()
            for i in range(mark, len(self.entries)):
                if pred(self.entries[i]):
                    return i + 1  # 0 would read as "not found"
            return None
        found = wait_until(find, timeout)
        return found - 1 if found else None


class Simulator:
    def __init__(self, workdir, extra=()):
        self.log_path = os.path.join(workdir, "sim.log")
        self.control = os.path.join(workdir, "sim.ctl")
        self.answers = []
        self.proc = subprocess.Popen(
            [SIMULATOR, "--dir", workdir, "--port", "1", "--log", self.log_path,
             "--control", self.control, *extra],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
            text=True)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        if not wait_until(lambda: any(a.startswith("ready ") for a in self.answers), 10):
            raise RuntimeError("vx52-sim did not get ready: %r" % self.answers)
        self.log = FrameLog(self.log_path)

    def _read(self):
        for line in self.proc.stdout:
            self.answers.append(line.rstrip("\n"))

    def command(self, line):
        """Sends a command and waits until the simulator has answered it."""
        before = len(self.answers)
        with open(self.control, "w") as f:
            f.write(line + "\n")
        if not wait_until(lambda: len(self.answers) > before, 5):
            raise RuntimeError("vx52-sim did not answer " + line)
        return self.answers[before]

    def status(self):
        before = len(self.answers)
        with open(self.control, "w") as f:
            f.write("status\n")
        wait_until(lambda: any(a.startswith("requests ") for a in self.answers[before:]), 5)
        return "\n".join(self.answers[before:])

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def workdir(prefix, set_dat=SET_DAT, autosave=None):
    """A working folder as an operator has one: settings and language files, and no layout
    resource, which the program finds beside itself."""
    d = tempfile.mkdtemp(prefix=prefix)
    for name in ("English.dat", "Chinese.dat"):
        shutil.copy(os.path.join(BIN, name), d)
    if set_dat is not None:
        with open(os.path.join(d, "Set.Dat"), "wb") as f:
            f.write(set_dat)
    if autosave is not None:
        with open(os.path.join(d, "AutoSave52P.52P"), "wb") as f:
            f.write(autosave)
    return d


def _own_network_namespace():
    """The single-instance guard is an abstract socket, one per network namespace. A run of
    our own in a namespace of its own neither refuses nor is refused by a copy that someone
    else runs on the same machine. Needs root; the X connection falls back to the socket
    file, and unshare execs the program, so the pid stays the program's."""
    unshare = shutil.which("unshare")
    if os.geteuid() != 0 or not unshare:
        return []
    ok = subprocess.run([unshare, "-n", "true"], stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL).returncode == 0
    return [unshare, "-n"] if ok else []


class SharedNetworkNamespace:
    """A network namespace of our own, held open by a small process, for every copy of the
    program that one test starts: the copies meet each other's single-instance guard, but never
    that of a copy someone else runs on the machine, nor that of a parallel test run. Where no
    namespace can be made, prefix() is empty and the copies run as they are.

    X servers stay outside: a server in a namespace of its own can pick a display number that
    one outside already has and take over its socket file."""

    def __init__(self):
        self.holder = None
        base = _own_network_namespace()
        nsenter = shutil.which("nsenter")
        if not base or not nsenter:
            return
        self.holder = subprocess.Popen(base + ["cat"], stdin=subprocess.PIPE,
                                       stdout=subprocess.DEVNULL)
        ours = os.readlink("/proc/self/ns/net")
        path = f"/proc/{self.holder.pid}/ns/net"
        if not wait_until(lambda: os.readlink(path) != ours, 5):
            raise RuntimeError("no network namespace of our own")
        self._prefix = [nsenter, "--net=" + path]

    def prefix(self):
        return self._prefix if self.holder else []

    def close(self):
        if self.holder:
            self.holder.stdin.close()
            self.holder.wait()
            self.holder = None


class Network:
    """Where the program and its clients meet: a namespace of their own with its loopback up,
    entered by this process only around the creation of a client socket."""

    CLONE_NEWNET = 0x40000000

    def __init__(self):
        self.ns = SharedNetworkNamespace()
        self.path = None
        if self.ns.holder:
            self.path = f"/proc/{self.ns.holder.pid}/ns/net"
            subprocess.run(self.ns.prefix() + ["ip", "link", "set", "lo", "up"], check=True)
            self.port = 5025
        else:
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                self.port = s.getsockname()[1]
        self.libc = ctypes.CDLL("libc.so.6", use_errno=True)

    @contextlib.contextmanager
    def inside(self):
        if not self.path:
            yield
            return
        own = os.open("/proc/thread-self/ns/net", os.O_RDONLY)
        target = os.open(self.path, os.O_RDONLY)
        try:
            if self.libc.setns(target, self.CLONE_NEWNET) != 0:
                raise OSError(ctypes.get_errno(), "setns")
            yield
        finally:
            self.libc.setns(own, self.CLONE_NEWNET)
            os.close(own)
            os.close(target)

    def connect(self, buffers=0, port=None):
        """A client socket to port (self.port unless given); buffers, when given, sizes its
        kernel buffers before it connects."""
        with self.inside():
            s = socket.socket()
            if buffers:
                s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, buffers)
                s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, buffers)
            s.settimeout(5)
            s.connect(("127.0.0.1", port or self.port))
            return s

    def other_port(self, k):
        """A port for the k-th of several programs (0 is self.port)."""
        if self.path:
            return self.port + k
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            return s.getsockname()[1]

    def close(self):
        self.ns.close()


class Client:
    """A remote-control client on a plain socket: a line out, and for a query its answer."""

    def __init__(self, net, port=None, timeout=10.0):
        def attempt():
            try:
                return net.connect(port=port)
            except OSError:
                return None
        self.sock = wait_until(attempt, timeout, 0.05)
        if self.sock is None:
            raise RuntimeError("no remote-control server on port %s" % (port or net.port))
        self.sock.settimeout(10)
        self.lines = self.sock.makefile("rb")

    def send(self, line):
        self.sock.sendall(line.encode() + b"\n")

    def ask(self, line):
        self.send(line)
        return self.lines.readline().decode().rstrip("\n")

    def close(self):
        self.lines.close()
        self.sock.close()


def log_events(path):
    """The event rows of a data log as (elapsed seconds, event, detail)."""
    import csv
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    head = rows[0]
    at, kind, event, detail = (head.index(n) for n in ("elapsed_s", "kind", "event", "detail"))
    return [(float(r[at]), r[event], r[detail]) for r in rows[1:] if r[kind] == "event"]


def open_visa(net, rm, resource):
    try:
        with net.inside():
            inst = rm.open_resource(resource, read_termination="\n", write_termination="\n",
                                    timeout=5000)
        return inst
    except Exception:
        return None


PROGRAM_ERR = "program.err"


def start_program(server, cwd, netns=None, args=()):
    """The program in cwd on the server's display; its diagnostics go to cwd/program.err (a
    file, not a pipe, so a long run can never block on a full pipe). It runs in a network
    namespace of its own, or in the shared one given."""
    env = dict(os.environ)
    env.pop("QT_QPA_PLATFORM", None)
    env["DISPLAY"] = server.name
    prefix = netns.prefix() if netns else _own_network_namespace()
    with open(os.path.join(cwd, PROGRAM_ERR), "wb") as err:
        return subprocess.Popen(prefix + [PROGRAM, *args], cwd=cwd, env=env,
                                stdout=subprocess.DEVNULL, stderr=err)


def start_headless(cwd, netns, args=(), stdout=subprocess.DEVNULL, err_name=PROGRAM_ERR):
    """The program with --headless in cwd, with no display in its environment at all; its
    diagnostics go to cwd/err_name. It runs in the network namespace given."""
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        env.pop(name, None)
    with open(os.path.join(cwd, err_name), "wb") as err:
        return subprocess.Popen(netns.prefix() + [PROGRAM, "--headless", *args], cwd=cwd,
                                env=env, stdout=stdout, stderr=err)


def end(*procs):
    """Kills what is still running of the processes given."""
    for proc in procs:
        if proc and proc.poll() is None:
            proc.kill()
            proc.wait()


def finish(check, *folders):
    """The run's summary; its folders are kept for a look when a check failed."""
    if check.failures:
        print("working folders kept: " + " ".join(folders))
    else:
        for folder in folders:
            shutil.rmtree(folder, ignore_errors=True)
    return check.summary()


def sanitizer_report(cwd):
    """What a sanitizer build of the program reported, if anything."""
    with open(os.path.join(cwd, PROGRAM_ERR), "r", errors="replace") as f:
        text = f.read()
    hits = [line for line in text.splitlines()
            if "Sanitizer" in line or "runtime error" in line]
    return "\n".join(hits)


def wait_exit(proc, timeout=15.0):
    try:
        return proc.wait(timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        return None


def cpu_seconds(pid):
    """User plus system CPU time of a process so far."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def cpu_ns(pid):
    """CPU time of every thread of the process so far, in nanoseconds (to the nanosecond, not
    in clock ticks)."""
    import glob
    total = 0
    for path in glob.glob(f"/proc/{pid}/task/*/schedstat"):
        try:
            with open(path) as f:
                total += int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass  # a thread that ended meanwhile
    return total


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


class Checks:
    def __init__(self):
        self.failures = []

    def __call__(self, cond, what):
        print(("ok   " if cond else "FAIL ") + what, flush=True)
        if not cond:
            self.failures.append(what)
        return cond

    def summary(self):
        if self.failures:
            print("\n".join(["", "failed:"] + self.failures), flush=True)
            return 1
        return 0


def press_keys(server, *keysyms):
    """Keys as the keyboard sends them, to whichever window has the focus."""
    from Xlib import XK
    for name in keysyms:
        code = server.dpy.keysym_to_keycode(XK.string_to_keysym(name))
        xtest.fake_input(server.dpy, X.KeyPress, code)
        xtest.fake_input(server.dpy, X.KeyRelease, code)
    server.dpy.sync()


def start_running(server, win, log, mark=0, timeout=20.0):
    """After the connect at start-up (its frames logged after mark), the output lamp's click
    starts the output; True once the first measurement query has gone out."""
    def polling():
        sent = [e.mnemonic for e in log.since(mark, "RX")]
        return "RNS" in sent and sent[sent.index("RNS"):].count("RTE") >= 2
    if not wait_until(polling, timeout):
        return False
    mark = log.mark()
    server.click(win, LED_OUTPUT)
    return log.wait(mark, lambda e: e.dir == "RX" and e.mnemonic == "RNT", 5.0) is not None
