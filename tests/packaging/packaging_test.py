#!/usr/bin/python3
"""The program as a user gets it.

  packaging_test.py install   `cmake --install` into a scratch prefix: every file in
                              its place, the menu entry, AppStream entry and manual
                              page pass their validators, the launcher prepares the
                              working folder (links made, dead links renewed, the
                              user's own files kept) and passes its arguments on,
                              and the installed program, started by the launcher from
                              another folder, shows its window in a private X server,
                              finds its languages and writes its settings in the
                              working folder and nowhere else.
  packaging_test.py deb       `cpack -G DEB`: the package's name, file list and
                              relations; skipped (77) without cpack or dpkg-dev.
  packaging_test.py unit      the service template, installed into a scratch prefix,
                              passes `systemd-analyze verify` (the systemd package is
                              installed for it when missing and this runs as root;
                              skipped (77) where neither is possible).
"""

import gzip
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from vx52e2e import Checks, SharedNetworkNamespace, Xserver, wait_exit  # noqa: E402

BUILD = os.environ["VX52_BUILD_DIR"]
SKIP = 77
ICON_SIZES = (16, 32, 48, 64, 128, 256)
DATA = ("English.dat", "Chinese.dat", "Vx52P_PC_Software_EN.chm", "Vx52P_PC_Software_CN.chm")
# What the installation holds, relative to its prefix.
FILES = (["bin/vx52psoft", "lib/vx52psoft/Vx52PSoft", "lib/vx52psoft/Vx52PSoft.uir"]
         + ["lib/vx52psoft/" + name for name in DATA]
         + ["lib/vx52psoft/help/%s/%s.html" % (lang, page) for lang in ("en", "cn")
            for page in ("index", "connect", "output", "alarms", "charts", "files", "log", "remote",
                         "sequence", "keys")]
         + ["share/applications/vx52psoft.desktop",
            "share/metainfo/org.vx52psoft.vx52psoft.metainfo.xml",
            "share/man/man1/vx52psoft.1.gz",
            "share/doc/vx52psoft/copyright",
            "share/doc/vx52psoft/changelog.gz",
            "lib/systemd/system/vx52psoft@.service",
            "share/icons/hicolor/scalable/apps/vx52psoft.svg"]
         + ["share/icons/hicolor/%dx%d/apps/vx52psoft.png" % (n, n) for n in ICON_SIZES])
TITLE_CN = "交流电源控制软件"
TITLE_EN = "AC Power Source Control"

check = Checks()


def run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def validators(prefix):
    desktop = run(["desktop-file-validate",
                   os.path.join(prefix, "share/applications/vx52psoft.desktop")])
    check(desktop.returncode == 0 and not desktop.stdout.strip(),
          "desktop entry passes desktop-file-validate " + desktop.stdout.strip())
    meta = run(["appstreamcli", "validate", "--no-net",
                os.path.join(prefix, "share/metainfo/org.vx52psoft.vx52psoft.metainfo.xml")])
    check(meta.returncode == 0, "metainfo passes appstreamcli validate --no-net "
          + ("" if meta.returncode == 0 else meta.stdout))
    # The page is installed compressed, as Debian keeps manual pages.
    with gzip.open(os.path.join(prefix, "share/man/man1/vx52psoft.1.gz"), "rt") as f:
        source = f.read()
    page = os.path.join(prefix, "vx52psoft.1")
    with open(page, "w") as f:
        f.write(source)
    groff = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z", page],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    check(groff.returncode == 0 and not groff.stderr.strip(),
          "manual page formats without a warning " + groff.stderr.strip())
    # Every option the program takes has its line in the manual page.
    usage = run([os.path.join(prefix, "lib/vx52psoft/Vx52PSoft"), "--help"]).stdout
    options = sorted(set(re.findall(r"^\s+(--[a-z][a-z-]*)", usage, re.M)))
    with open(page) as f:
        text = f.read().replace("\\-", "-")
    missing = [o for o in options if not re.search(r"^\.BI? +" + re.escape(o) + r"\b", text, re.M)]
    check(options and not missing, f"manual page lists every option ({options}, missing {missing})")
    sizes = {n: png_size(os.path.join(prefix, "share/icons/hicolor/%dx%d/apps/vx52psoft.png" % (n, n)))
             for n in ICON_SIZES}
    check(all(sizes[n] == (n, n) for n in ICON_SIZES), f"icons have their sizes ({sizes})")


def launcher_runs(root, prefix):
    """The launcher with --version: no display needed, the working folder prepared all the same."""
    launcher = os.path.join(prefix, "bin", "vx52psoft")
    lib = os.path.join(prefix, "lib", "vx52psoft")
    elsewhere = os.path.join(root, "elsewhere")
    os.makedirs(elsewhere, exist_ok=True)
    cases = [
        # what, XDG_DATA_HOME (None: unset), working folder made, relative to the case's home
        ("XDG_DATA_HOME set", "xdg", "xdg/Vx52PSoft"),
        ("XDG_DATA_HOME unset", None, ".local/share/Vx52PSoft"),
        ("XDG_DATA_HOME relative", "relative", ".local/share/Vx52PSoft"),
        ("XDG_DATA_HOME empty", "", ".local/share/Vx52PSoft"),
    ]
    for i, (what, xdg, made) in enumerate(cases):
        home = os.path.join(root, "home%d" % i)
        os.makedirs(home)
        env = dict(os.environ, HOME=home)
        env.pop("XDG_DATA_HOME", None)
        if xdg is not None:
            env["XDG_DATA_HOME"] = os.path.join(home, xdg) if xdg == "xdg" else xdg
        out = run([launcher, "--version", "--"], cwd=elsewhere, env=env)
        check(out.returncode == 0 and re.fullmatch(r"Vx52PSoft \d+(\.\d+)+\n", out.stdout),
              f"{what}: arguments reach the program ({out.stdout.strip()!r})")
        work = os.path.join(home, made)
        links = {n: os.path.realpath(os.path.join(work, n)) for n in DATA + ("help",)}
        check(all(links[n] == os.path.realpath(os.path.join(lib, n))
                  and os.path.islink(os.path.join(work, n)) for n in links),
              f"{what}: working folder {made} made, language and help files linked")
    check(os.listdir(elsewhere) == [], "the folder the launcher ran from stays empty")

    # --workdir, as the service gives it: the folder named is prepared instead, nothing is
    # made in the default one, and the program runs in it.
    given = os.path.join(root, "service-folder")
    os.makedirs(given)
    env = dict(os.environ)
    env.pop("HOME", None)
    env.pop("XDG_DATA_HOME", None)
    out = run([launcher, "--workdir", given, "--version"], cwd=elsewhere, env=env)
    check(out.returncode == 0 and all(os.path.islink(os.path.join(given, n)) for n in DATA),
          "--workdir: that folder is prepared, without HOME or XDG_DATA_HOME " + out.stdout.strip())
    out = run([launcher, "--workdir=" + os.path.join(root, "missing"), "--version"], cwd=elsewhere,
              env=env)
    check(out.returncode == 255 and out.stdout.count("\n") == 1 and "missing" in out.stdout,
          "--workdir naming no folder: the program's one line and 255 " + out.stdout.strip())

    # A folder in use: a file of the user's own stays, a dead link is renewed, a live
    # link to somewhere else stays.
    work = os.path.join(root, "home0", "xdg", "Vx52PSoft")
    own = os.path.join(work, "English.dat")
    os.remove(own)
    with open(own, "w") as f:
        f.write("[Item]\n0001 = mine\n")
    os.remove(os.path.join(work, "Chinese.dat"))
    os.symlink(os.path.join(root, "removed", "Chinese.dat"), os.path.join(work, "Chinese.dat"))
    os.remove(os.path.join(work, "help"))
    os.symlink(elsewhere, os.path.join(work, "help"))
    env = dict(os.environ, HOME=os.path.join(root, "home0"),
               XDG_DATA_HOME=os.path.join(root, "home0", "xdg"))
    run([launcher, "--version"], cwd=elsewhere, env=env)
    with open(own) as f:
        check(not os.path.islink(own) and "mine" in f.read(), "the user's own English.dat is kept")
    check(os.path.realpath(os.path.join(work, "Chinese.dat")) == os.path.join(os.path.realpath(lib), "Chinese.dat"),
          "a dead Chinese.dat link is renewed")
    check(os.readlink(os.path.join(work, "help")) == elsewhere, "a live link of the user's is kept")


def screenshot(server, name):
    shots = os.path.join(BUILD, "screenshots")
    os.makedirs(shots, exist_ok=True)
    if shutil.which("import"):
        subprocess.run(["import", "-display", server.name, "-window", "root", "-crop", "1024x768+0+0",
                        os.path.join(shots, name)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def installed_program_runs(root, prefix):
    netns = SharedNetworkNamespace()
    server = Xserver(1280, 1024)
    home = os.path.join(root, "user")
    start_in = os.path.join(root, "started-from")
    os.makedirs(home)
    os.makedirs(start_in)
    work = os.path.join(home, "data", "Vx52PSoft")
    env = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, "data"), DISPLAY=server.name)
    env.pop("QT_QPA_PLATFORM", None)
    try:
        for title, shot in ((TITLE_CN, "installed_first_start.png"), (TITLE_EN, "installed_english.png")):
            with open(os.path.join(root, "program.err"), "wb") as err:
                proc = subprocess.Popen(netns.prefix() + [os.path.join(prefix, "bin", "vx52psoft")],
                                        cwd=start_in, env=env, stdout=subprocess.DEVNULL, stderr=err)
            shown = server.wait_window(title)
            check(shown is not None, f"installed program shows its window titled {title}")
            if shown:
                screenshot(server, shot)
            proc.send_signal(signal.SIGTERM)
            check(wait_exit(proc) == 0, f"{title}: SIGTERM ends it with 0")
            written = sorted(os.path.relpath(os.path.join(d, f), root)
                             for d, _, files in os.walk(root) for f in files
                             if f in ("Set.Dat", "AutoSave52P.52P"))
            check(written == [os.path.relpath(os.path.join(work, f), root)
                              for f in ("AutoSave52P.52P", "Set.Dat")],
                  f"{title}: settings written in the working folder and nowhere else ({written})")
            # The next start speaks English: the English texts come through the link. Its
            # port is a plain file, which cannot be opened as one, so the quiet connect
            # attempt ends at once whatever serial ports this machine has.
            with open(os.path.join(work, "Set.Dat"), "rb") as f:
                settings = f.read()
            settings = re.sub(rb"Language = \d", b"Language = 1", settings)
            settings = re.sub(rb"CommTypeRS232Port = \d+", b"CommTypeRS232Port = 10", settings)
            with open(os.path.join(work, "Set.Dat"), "wb") as f:
                f.write(settings)
            open(os.path.join(work, "COM10"), "w").close()
    finally:
        server.close()
        netns.close()


def installed(name):
    """A scratch folder with `cmake --install` done into its "prefix"; None when that failed."""
    root = tempfile.mkdtemp(prefix=name)
    done = run(["cmake", "--install", BUILD, "--prefix", os.path.join(root, "prefix")])
    if not check(done.returncode == 0, "cmake --install into a scratch prefix"):
        print(done.stdout)
        return None
    return root


def summary_keeping(root):
    status = check.summary()
    if status == 0:
        shutil.rmtree(root, ignore_errors=True)
    else:
        print("kept for a look: " + root)
    return status


def install_mode():
    root = installed("vx52install.")
    if root is None:
        return 1
    prefix = os.path.join(root, "prefix")
    missing = [f for f in FILES if not os.path.isfile(os.path.join(prefix, f))]
    check(not missing, f"every file installed (missing {missing})")
    check(all(os.access(os.path.join(prefix, f), os.X_OK)
              for f in ("bin/vx52psoft", "lib/vx52psoft/Vx52PSoft")), "launcher and program executable")
    validators(prefix)
    launcher_runs(root, prefix)
    installed_program_runs(root, prefix)
    return summary_keeping(root)


def unit_mode():
    """systemd-analyze checks the unit's keys, the launcher it runs and its manual page."""
    if not shutil.which("systemd-analyze"):
        # Debian's systemd package holds it; installed only here and only when it can be.
        if os.geteuid() != 0 or not shutil.which("apt-get"):
            print("skipped: no systemd-analyze")
            return SKIP
        got = run(["apt-get", "install", "-y", "--no-install-recommends", "systemd"])
        if got.returncode != 0 or not shutil.which("systemd-analyze"):
            print("skipped: systemd could not be installed\n" + got.stdout[-2000:])
            return SKIP
    root = installed("vx52unit.")
    if root is None:
        return 1
    prefix = os.path.join(root, "prefix")
    unit = os.path.join(prefix, "lib/systemd/system/vx52psoft@.service")
    with open(unit) as f:
        text = f.read()
    check(f"ExecStart={prefix}/bin/vx52psoft --headless --workdir %S/vx52psoft/%i" in text,
          "the unit runs the installed launcher without a window in its instance's folder")
    for key in ("DynamicUser=yes", "SupplementaryGroups=dialout", "StateDirectory=vx52psoft/%i",
                "EnvironmentFile=-/etc/default/vx52psoft-%i", "Restart=on-failure",
                "KillSignal=SIGTERM"):
        check(key + "\n" in text, key)
    check("\nWantedBy=" in text, "it can be enabled")
    env = dict(os.environ, MANPATH=os.path.join(prefix, "share/man"))
    verified = run(["systemd-analyze", "verify", unit], env=env)
    check(verified.returncode == 0 and not verified.stdout.strip(),
          "systemd-analyze verify passes " + verified.stdout.strip())
    return summary_keeping(root)


def deb_mode():
    tools = [t for t in ("cpack", "dpkg-deb", "dpkg-shlibdeps", "dpkg") if not shutil.which(t)]
    if tools:
        print("skipped: no " + ", ".join(tools))
        return SKIP
    with open(os.path.join(BUILD, "CPackConfig.cmake")) as f:
        version = re.search(r'set\(CPACK_PACKAGE_VERSION "([^"]+)"\)', f.read()).group(1)
    arch = run(["dpkg", "--print-architecture"]).stdout.strip()
    out = tempfile.mkdtemp(prefix="vx52deb.")
    made = run(["cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", out])
    deb = os.path.join(out, f"vx52psoft_{version}_{arch}.deb")
    if not check(made.returncode == 0 and os.path.isfile(deb), f"cpack makes {os.path.basename(deb)}"):
        print(made.stdout)
        return check.summary()

    fields = {}
    for key in ("Package", "Version", "Architecture", "Depends", "Recommends", "Installed-Size"):
        fields[key] = run(["dpkg-deb", "-f", deb, key]).stdout.strip()
    depends = [d.split()[0] for d in fields["Depends"].split(", ")]
    recommends = [r.strip() for r in re.split(r"[,|]", fields["Recommends"])]
    check((fields["Package"], fields["Version"], fields["Architecture"]) == ("vx52psoft", version, arch),
          f"control names vx52psoft {version} {arch}")
    # The libraries come from the binary, each with a version; the window-system plugins are
    # named, since the program loads them without linking them.
    wanted = ["libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6", "qt6-qpa-plugins"]
    check(all(w in depends for w in wanted)
          and all("(>=" in d for d in fields["Depends"].split(", ") if d.startswith("lib")),
          f"Depends from the binary: {fields['Depends']}")
    check(all(r in recommends for r in ("xchm", "qt6-translations-l10n")),
          f"Recommends the help viewer and the toolkit's Chinese texts: {fields['Recommends']}")

    listing = run(["dpkg-deb", "-c", deb]).stdout.splitlines()
    paths = [line.split()[5] for line in listing if len(line.split()) >= 6]
    files = {p[len("./usr/"):] for p in paths if not p.endswith("/")}
    missing = [f for f in FILES if f not in files]
    check(not missing, f"package holds every installed file under /usr (missing {missing})")
    check(all(p.startswith("./usr/") or p == "./" for p in paths), "nothing outside /usr")
    unpacked = os.path.join(out, "root")
    run(["dpkg-deb", "-x", deb, unpacked])
    with open(os.path.join(unpacked, "usr/lib/systemd/system/vx52psoft@.service")) as f:
        check("ExecStart=/usr/bin/vx52psoft --headless " in f.read(),
              "the package's service template runs /usr/bin/vx52psoft")
    # Debian's own checker finds nothing it calls an error.
    if shutil.which("lintian"):
        found = run(["lintian", "--tag-display-limit", "0", deb]).stdout
        errors = [line for line in found.splitlines() if line.startswith("E:")]
        check(not errors, "lintian reports no error " + " ".join(errors))
    else:
        print("lintian not installed: its check skipped")
    print(f"figures: installed size {fields['Installed-Size']} KiB; "
          f"package {os.path.getsize(deb) // 1024} KiB; Depends: {fields['Depends']}")
    status = check.summary()
    shutil.rmtree(out, ignore_errors=True)
    return status


if __name__ == "__main__":
    mode = sys.argv[1] if len(sys.argv) > 1 else ""
    modes = {"install": install_mode, "deb": deb_mode, "unit": unit_mode}
    if mode not in modes:
        sys.exit(__doc__)
    sys.exit(modes[mode]())
