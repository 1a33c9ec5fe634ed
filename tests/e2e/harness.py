"""The machinery of the end-to-end runs: a virtual X display, Wine prefixes made from one
prepared template, a staged Kelvaro 3 installation, packages made from the stub and a payload,
and a running package watched through Wine's log and driven with xdotool.

Used by scenarios.py, scripts/demo and the benchmarks in bench/. Nothing here knows what a
scenario expects; it only stages, runs, reads and compares.
"""
from __future__ import annotations

import contextlib
import fcntl
import getpass
import hashlib
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

from texts import text

LOCALE = "nl_NL.UTF-8"
MARKER_DLLS = ("version", "uxtheme", "dwmapi", "cryptbase", "profapi", "userenv", "winmm")
INSTALL_DIR = r"C:\Kelvaro3"
BDEADMIN_SIZE = 989608
STORED_CAPTION = text("stored_caption")
CAPTION_MARKER = b"KLV-CAPTION-v1:\x01"
CAPTION_CAPACITY = 256
# A file and a folder whose names are not ASCII, carried by every payload.
CAFE = "Genealogie/Overzichten/Café één.txt"
CAFE_DIR = "Genealogie/Rapporten één/"
# Old files of the staged installation: 2020-01-01 00:00:00 UTC.
STAGED_MTIME = 1577836800
# Quiet Wine: no Mono/Gecko prompts, no desktop menu entries made from start-menu links.
BASE_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"
# The prefix templates of this checkout (KLV_WINE_TEMPLATES elsewhere).
TEMPLATES = Path(os.environ.get("KLV_WINE_TEMPLATES") or
                 Path(__file__).resolve().parents[2] / "build" / "wine-templates")


class Failure(Exception):
    """A scenario's expectation that did not hold."""


class DisplayLost(Failure):
    """Wine's X11 driver could not reach the display: the machine's fault, not the program's
    (Prefix.start starts the desktop process and retries when it happens there)."""


class MachineFailure(Failure):
    """The Wine machine could not be made or started (wineboot, wineserver, the prefix): the
    message names the command and carries its output."""


def run_machine(args, env, timeout=300) -> subprocess.CompletedProcess:
    """Runs a command that makes or starts the Wine machine; MachineFailure with the command,
    its exit code and its output when it fails. Output goes through files, not pipes: the
    services Wine starts inherit it and would keep a pipe open."""
    with tempfile.TemporaryFile() as out:
        try:
            proc = subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.STDOUT, timeout=timeout)
            code = proc.returncode
        except subprocess.TimeoutExpired:
            code = f"timed out after {timeout} s"
        except OSError as e:
            code = str(e)
        out.seek(0)
        text = out.read().decode(errors="replace")
    if code != 0:
        raise MachineFailure(f"{' '.join(args)} (WINEPREFIX={env.get('WINEPREFIX')}): exit "
                             f"{code}\n{_tail(text)}")
    return subprocess.CompletedProcess(args, 0, text, "")


def _tail(text, lines=40):
    kept = text.rstrip().splitlines()[-lines:]
    return "\n".join("    " + line for line in kept) if kept else "    (no output)"


def poll(what, predicate, timeout=20.0, interval=0.1):
    """Waits for `predicate`, whoever makes it true (a mark left by a program that the
    installer started and that outlives it); its value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out waiting for {what}")
        time.sleep(interval)


def check(condition, message):
    if not condition:
        raise Failure(message)


def require_locale():
    """Wine takes its code pages from the Unix locale and cannot create a non-ASCII file name
    under a locale that is not generated, so a missing locale is an error, not a skip."""
    names = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
    if not any(n.lower().replace("-", "") == "nl_nl.utf8" for n in names):
        raise SystemExit(f"the locale {LOCALE} is not generated (locale -a); run scripts/setup")


def wine_version():
    return subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()


def wine_runs_32bit() -> bool:
    """Whether this Wine has its i386 side (wine32): without it a prefix gets no 32-bit
    system and a 32-bit program cannot start."""
    return Path("/usr/lib/wine/wine").exists() or Path("/usr/lib/i386-linux-gnu/wine").is_dir()


# The kind of Windows a prefix is: "win64" (64-bit, a 32-bit program runs in WoW64) or
# "win32" (a 32-bit Windows).
ARCHES = ("win64", "win32")


# ---------------------------------------------------------------------------------------------
# The display


@dataclass
class Window:
    wid: str
    name: str
    x: int
    y: int
    width: int
    height: int
    # Where the client area begins inside the window: (0, 0) when the X window is the client
    # area, the frame's left and top width when Wine draws the frame (a framed display).
    frame: tuple[int, int] = (0, 0)
    # The Unix process of the Windows program that made it (the window's _NET_WM_PID, as Wine
    # sets it); None when the window names none.
    pid: int | None = None

    @property
    def client_size(self) -> tuple[int, int]:
        left, top = self.frame
        return self.width - 2 * left, self.height - top - left


# A dialog frame as Wine draws it in its virtual desktop (every window of the installer has one):
# 3 pixels of border on each side, and a caption of 19 pixels below the top border.
DIALOG_FRAME = (3, 22)
VIRTUAL_DESKTOP = "1024x768"
WINE_FONTS = Path("/usr/share/wine/fonts")


class Display:
    """An Xvfb display of our own, or the user's display when `existing` is given. A `framed`
    display shows every window as a user sees it, title bar and frame included: the prefixes
    run their programs in one Wine virtual desktop (where Wine draws the frames itself), each
    window an X window inside the desktop's."""

    def __init__(self, existing: str | None = None, framed: bool = False):
        self.framed = framed
        self.proc = None
        if existing:
            self.name = existing
            return
        read, write = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        with os.fdopen(read, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    raise SystemExit("Xvfb did not start")
                number += chunk
        self.name = ":" + number.decode().strip()
        self.screen = (1024, 768)

    def close(self):
        if self.proc:
            self.proc.terminate()
            self.proc.wait()
            self.proc = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def xdotool(self, *args, check_ok=False):
        res = subprocess.run(["xdotool", *args], capture_output=True, text=True,
                             env={**os.environ, "DISPLAY": self.name})
        if check_ok and res.returncode != 0:
            raise Failure(f"xdotool {' '.join(args)}: {res.stderr.strip()}")
        return res.stdout

    def geometry(self, wid) -> Window | None:
        if self.framed:
            return self._framed_geometry(wid)
        out = self.xdotool("getwindowgeometry", "--shell", wid)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        if "WIDTH" not in values:
            return None
        name = self.xdotool("getwindowname", wid).rstrip("\n")
        return Window(wid, name, int(values["X"]), int(values["Y"]), int(values["WIDTH"]),
                      int(values["HEIGHT"]))

    def windows(self) -> list[Window]:
        """The visible top-level windows, bottom to top (the last is the topmost); the root and
        full-screen windows of the display itself are left out."""
        found = []
        depth = "2" if self.framed else "1"  # a framed display's windows are the desktop's
        for wid in self.xdotool("search", "--onlyvisible", "--maxdepth", depth, "--name", "").split():
            w = self.geometry(wid)
            if w and not (w.x == 0 and w.y == 0 and w.width >= 1024 and w.height >= 768):
                owner = self.xdotool("getwindowpid", wid).strip()
                w.pid = int(owner) if owner.isdigit() else None
                found.append(w)
        return found

    def _framed_geometry(self, wid) -> Window | None:
        """A window inside Wine's desktop window, placed on the screen (xdotool counts the
        desktop's offset twice for such windows, xwininfo does not)."""
        res = subprocess.run(["xwininfo", "-id", wid], capture_output=True, text=True,
                             env={**os.environ, "DISPLAY": self.name})
        values = {}
        for line in res.stdout.splitlines():
            key, _, value = line.strip().partition(":")
            values[key] = value.strip()
        try:
            x, y = int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"])
            width, height = int(values["Width"]), int(values["Height"])
        except (KeyError, ValueError):
            return None
        name = self.xdotool("getwindowname", wid).rstrip("\n")
        return Window(wid, name, x, y, width, height, DIALOG_FRAME)

    def key(self, window: Window, *keys):
        """Keys to a window: it gets the input focus first (there is no window manager)."""
        self.xdotool("windowfocus", "--sync", window.wid)
        time.sleep(0.15)
        for key in keys:
            self.xdotool("key", "--clearmodifiers", key, check_ok=True)
            time.sleep(0.05)

    def screenshot(self, window: Window, path: Path):
        path.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["import", "-display", self.name, "-window", window.wid, str(path)],
                       check=True, capture_output=True)


# ---------------------------------------------------------------------------------------------
# Wine prefixes

# Files of the template that no run writes to: linked, not copied, into each prefix.
_LINKABLE = re.compile(r"\.(dll|exe|drv|sys|acm|cpl|ocx|tlb|ax|ds|com|nls|ttf|fon|mui)$", re.I)


class Prefix:
    """One Wine prefix whose wineserver (and desktop process) starts inside the display."""

    def __init__(self, path: Path, display: Display, arch: str = "win64"):
        self.path = Path(path).resolve()  # Wine wants an absolute prefix
        self.display = display
        self.arch = arch
        self.running = False

    # -- making ------------------------------------------------------------------------------
    @classmethod
    def template(cls, display: Display, arch: str = "win64") -> "Prefix":
        """The prepared template of kind `arch`, one per checkout (TEMPLATES), shared by every
        suite, benchmark and build: made (about 15 s) when missing or made by another Wine
        version, or by a Wine without its i386 side (such a prefix has no 32-bit system).
        Each is over a gigabyte of system files, so every other prefix is a copy that links
        them (copy); a lock keeps suites run at once from making it twice."""
        check(arch in ARCHES, f"no such kind of prefix: {arch}")
        TEMPLATES.mkdir(parents=True, exist_ok=True)
        prefix = cls(TEMPLATES / arch, display, arch)
        stamp = prefix.path / "klv-template.txt"
        made_by = f"{wine_version()} {arch} i386={'yes' if wine_runs_32bit() else 'no'}"
        with open(TEMPLATES / f"{arch}.lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if not (stamp.exists() and stamp.read_text() == made_by):
                prefix._make(stamp, made_by)
        return prefix

    def _make(self, stamp: Path, made_by: str):
        shutil.rmtree(self.path, ignore_errors=True)
        self.path.mkdir(parents=True)
        self.start(desktop=False)
        boot = run_machine(["wineboot", "-i"], self.env())
        self.stop()
        users = self.path / "drive_c" / "users"
        if not users.is_dir() or not (self.path / "system.reg").is_file():
            raise MachineFailure(f"wineboot -i (WINEPREFIX={self.path}) ended without making "
                                 f"the prefix (no drive_c/users or system.reg)\n"
                                 f"{_tail(boot.stdout)}")
        # A real machine's shell folders: not links into the Unix home (shortcuts would land
        # in the home folder), and no Z: drive over the whole Unix root.
        for user in users.iterdir():
            for entry in user.iterdir():
                if entry.is_symlink():
                    entry.unlink()
                    entry.mkdir()
        z = self.path / "dosdevices" / "z:"
        if z.is_symlink():
            z.unlink()
        stamp.write_text(made_by)

    def copy(self, path: Path) -> "Prefix":
        """A fresh prefix at `path`, a copy of this one (system binaries hard-linked)."""
        path = Path(path)
        if path.exists():
            Prefix(path, self.display).remove()

        def copy_one(src, dst):
            if _LINKABLE.search(src) and "/drive_c/windows/" in src:
                try:
                    os.link(src, dst)
                    return
                except OSError:  # another file system
                    pass
            shutil.copy2(src, dst)

        shutil.copytree(self.path, path, symlinks=True, copy_function=copy_one)
        prefix = Prefix(path, self.display, self.arch)
        if self.display.framed:
            prefix._use_virtual_desktop()
        return prefix

    def _use_virtual_desktop(self):
        """Every program of this prefix runs in one virtual desktop of the display's size,
        named Default, where Wine draws the windows' frames and title bars. Set before the
        prefix's desktop process starts, which reads it."""
        # Wine's own fonts (Debian's fonts-wine), which this Wine does not look for where that
        # package puts them: Marlett draws the title bar's buttons, Tahoma and MS Sans Serif
        # the texts, as on Windows. Only the framed prefixes get them.
        fonts = self.path / "drive_c" / "windows" / "Fonts"
        fonts.mkdir(parents=True, exist_ok=True)
        for font in WINE_FONTS.glob("*.ttf"):
            if not (fonts / font.name).exists():
                shutil.copy2(font, fonts / font.name)
        reg = self.path / "drive_c" / "windows" / "klv-virtual-desktop.reg"
        reg.write_text("Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n"
                       "\"Desktop\"=\"Default\"\r\n\r\n"
                       "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n"
                       f"\"Default\"=\"{VIRTUAL_DESKTOP}\"\r\n", encoding="utf-16")
        self.start(desktop=False)
        try:
            run_machine(["wine", "reg", "import", "C:\\windows\\klv-virtual-desktop.reg"],
                        self.env())
        finally:
            self.stop()
            reg.unlink()

    def remove(self):
        self.running = True  # whoever started it: no server may outlive its folder
        self.stop()
        shutil.rmtree(self.path, ignore_errors=True)

    # -- running -----------------------------------------------------------------------------
    def env(self, debug="-all", overrides=""):
        env = dict(os.environ)
        env.update(WINEPREFIX=str(self.path), WINEARCH=self.arch, DISPLAY=self.display.name,
                   LC_ALL=LOCALE, WINEDEBUG=debug,
                   WINEDLLOVERRIDES=BASE_OVERRIDES + (";" + overrides if overrides else ""))
        return env

    def start(self, desktop=True):
        """A persistent wineserver for this prefix, started with the display in its
        environment, and (with `desktop`) Wine's desktop process, checked."""
        if not self.running:
            # A server is found by the prefix folder's device and inode: one left running by
            # an earlier, interrupted run for a folder since deleted may answer for a new
            # folder that got the same inode, with a desktop on a display that is gone.
            subprocess.run(["wineserver", "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            run_machine(["wineserver", "-p"], self.env(), timeout=60)
            self.running = True
            if desktop:
                self._start_desktop()

    def _start_desktop(self, attempts=3):
        """Wine's desktop process ends about a second after the prefix's last program, and
        the next program's first window starts it anew, which now and then fails to reach the
        display (the program then cannot make any window). So it is started here, checked,
        started again if it failed, and kept alive by a program with one hidden window
        (desktop_keeper.c) until the server ends."""
        keeper = self.path / "drive_c" / "windows" / "klv_desktop_keeper.exe"
        if not keeper.exists():
            shutil.copy2(_desktop_keeper(self.path.parent, self.arch), keeper)
        for attempt in range(attempts):
            with tempfile.TemporaryFile() as err:
                subprocess.run(["wine", "rundll32.exe", "user32.dll,GetDesktopWindow"],
                               env=self.env("-all,err+winediag"), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=err)
                err.seek(0)
                if b"nodrv_CreateWindow" not in err.read():
                    subprocess.Popen(["wine", "C:\\windows\\klv_desktop_keeper.exe"],
                                     env=self.env(), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     start_new_session=True)
                    return
            self.stop()
            subprocess.run(["wineserver", "-p"], env=self.env(), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.running = True
        raise DisplayLost(f"Wine's desktop could not open the display {self.display.name}")

    def stop(self):
        if self.running:
            subprocess.run(["wineserver", "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            self.running = False

    def wine(self, *args, debug="-all", overrides="", log: Path | None = None, check_ok=True):
        """Runs a Windows program to its end; its output."""
        self.start()
        # Files, not pipes: the services Wine starts with the first program inherit its output
        # and would keep a pipe open long after the program ended.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            proc = subprocess.run(["wine", *args], env=self.env(debug, overrides),
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            out.seek(0)
            err.seek(0)
            res = subprocess.CompletedProcess(proc.args, proc.returncode, out.read(), err.read())
        if log:
            log.write_bytes(res.stderr)
        if check_ok and res.returncode != 0:
            raise Failure(f"wine {' '.join(args)}: exit {res.returncode}: "
                          f"{res.stderr.decode(errors='replace')[-800:]}")
        return res

    # -- places ------------------------------------------------------------------------------
    def unix(self, windows_path: str) -> Path:
        """The Unix path of a path on drive C."""
        check(windows_path[:3].upper() == "C:\\", f"not on drive C: {windows_path}")
        parts = [p for p in windows_path[3:].split("\\") if p]
        return self.path.joinpath("drive_c", *parts)

    @property
    def user(self) -> Path:
        users = self.path / "drive_c" / "users"
        own = users / getpass.getuser()
        if own.is_dir():
            return own
        return next(u for u in users.iterdir() if u.name != "Public")

    @property
    def user_windows(self) -> str:
        return "C:\\users\\" + self.user.name

    @property
    def desktop(self) -> Path:
        return self.user / "Desktop"

    @property
    def start_menu(self) -> Path:
        return self.user / "AppData" / "Roaming" / "Microsoft" / "Windows" / "Start Menu"

    @property
    def temp(self) -> Path:
        return self.user / "Temp"

    @property
    def downloads_windows(self) -> str:
        return self.user_windows + "\\Downloads"

    def set_install_registry(self, folder: str | None):
        """The value "Kelvaro" under HKLM\\SOFTWARE\\KLV in the registry's 32-bit view, as
        Kelvaro 3's own installer writes it on 64-bit Windows; None removes the key."""
        if folder is None:
            self.wine("reg", "delete", r"HKLM\SOFTWARE\KLV", "/reg:32", "/f", check_ok=False)
        else:
            self.wine("reg", "add", r"HKLM\SOFTWARE\KLV", "/v", "Kelvaro", "/d", folder,
                      "/reg:32", "/f")


def _desktop_keeper(folder: Path, arch: str = "win64") -> Path:
    """desktop_keeper.exe for a prefix of kind `arch`, built into `folder` with mingw-w64 on
    first use."""
    exe = Path(folder) / f"klv_desktop_keeper-{arch}.exe"
    source = Path(__file__).resolve().parent / "desktop_keeper.c"
    compiler = "x86_64-w64-mingw32-gcc" if arch == "win64" else "i686-w64-mingw32-gcc"
    if not exe.exists() or exe.stat().st_mtime < source.stat().st_mtime:
        subprocess.run([compiler, "-O2", "-Wall", "-Wextra", "-Werror",
                        "-mwindows", "-static", "-o", str(exe), str(source)], check=True)
    return exe


# ---------------------------------------------------------------------------------------------
# The staged installation


def _bytes(seed: str, size: int) -> bytes:
    out = bytearray()
    block = seed.encode()
    while len(out) < size:
        block = hashlib.sha256(block).digest()
        out += block
    return bytes(out[:size])


def installation_files(program: Path, bdeadmin_size=BDEADMIN_SIZE) -> dict[str, bytes]:
    """A Kelvaro 3 installation as the installer checks it, with some data of the user."""
    return {
        "BDE/BDEADMIN.EXE": b"MZ" + _bytes("bdeadmin", bdeadmin_size - 2),
        "BDE/IDAPI32.CFG": _bytes("idapi", 4096),
        "SC/Slavenreg.sc": _bytes("slavenreg", 20000),
        "Data/voornamen.txt": "Jan\r\nPieter\r\nJosé\r\nAnneke\r\n".encode("cp1252"),
        "Data/Stamboom.kvd": _bytes("stamboom", 50000),
        "kelvaro.exe": Path(program).read_bytes(),
        CAFE: "Overzicht van de oude versie\r\n".encode("cp1252"),
    }


def stage_installation(prefix: Prefix, program: Path, folder=INSTALL_DIR, registry=True,
                       readonly_program=True, bdeadmin_size=BDEADMIN_SIZE) -> Path:
    """Writes the installation below `folder` (old time stamps; the program read-only as an
    old installer may leave it) and, with `registry`, the registry value naming it."""
    root = prefix.unix(folder)
    for name, data in installation_files(program, bdeadmin_size).items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        os.utime(path, (STAGED_MTIME, STAGED_MTIME))
    if readonly_program:
        (root / "kelvaro.exe").chmod(0o444)
    prefix.set_install_registry(folder if registry else None)
    return root


@dataclass(frozen=True)
class Entry:
    kind: str  # "file" or "dir"
    sha256: str
    size: int
    mtime_ns: int
    mode: int
    dosattrib: bytes


def snapshot(root: Path) -> dict[str, Entry]:
    """Every file and folder below `root`: bytes, time stamp and attributes (Unix mode, and
    Wine's DOS attributes kept in an extended attribute)."""
    result = {}
    root = Path(root)
    if not root.exists():
        return result
    for path in sorted(root.rglob("*")):
        st = path.lstat()
        try:
            dosattrib = os.getxattr(path, "user.DOSATTRIB")
        except OSError:
            dosattrib = b""
        rel = path.relative_to(root).as_posix()
        if path.is_dir():
            result[rel] = Entry("dir", "", 0, 0, st.st_mode, dosattrib)
        else:
            digest = hashlib.sha256(path.read_bytes()).hexdigest()
            result[rel] = Entry("file", digest, st.st_size, st.st_mtime_ns, st.st_mode, dosattrib)
    return result


def differences(before: dict[str, Entry], after: dict[str, Entry]) -> list[str]:
    """What changed between two snapshots, one line per path."""
    lines = []
    for name in sorted(set(before) | set(after)):
        a, b = before.get(name), after.get(name)
        if a == b:
            continue
        if a is None:
            lines.append(f"added    {name}")
        elif b is None:
            lines.append(f"removed  {name}")
        else:
            what = [f for f in ("kind", "sha256", "size", "mtime_ns", "mode", "dosattrib")
                    if getattr(a, f) != getattr(b, f)]
            lines.append(f"changed  {name} ({', '.join(what)})")
    return lines


# ---------------------------------------------------------------------------------------------
# Packages


def payload(program: Path | None = None, extra: dict[str, bytes] | None = None) -> dict[str, bytes]:
    """The files of an update: the non-ASCII file and folder always, the program if given."""
    files = {
        CAFE: "Overzicht: café, één, ëën, ïs, ü\r\nNieuwe versie\r\n".encode("cp1252"),
        CAFE_DIR + "Kwartierstaat één.txt": "Kwartierstaat\r\n".encode("cp1252"),
        "Data/nieuw in deze update.txt": _bytes("nieuw", 3000),
    }
    if program:
        files["kelvaro.exe"] = Path(program).read_bytes()
    files.update(extra or {})
    return files


def set_caption(stub: bytes, caption: str) -> bytes:
    """The stub with another stored caption, written into its caption block."""
    at = stub.find(CAPTION_MARKER)
    check(at >= 0 and stub.find(CAPTION_MARKER, at + 1) < 0, "the stub's caption block")
    text = caption.encode("cp1252")
    check(len(text) < CAPTION_CAPACITY, "caption too long")
    start = at + len(CAPTION_MARKER)
    return stub[:start] + text.ljust(CAPTION_CAPACITY, b"\0") + stub[start + CAPTION_CAPACITY:]


# The stamp of every payload file and folder: 2026-11-30 12:00:00 UTC.
PAYLOAD_MTIME = 1796040000
WINE_RUN = Path(__file__).resolve().parents[2] / "scripts" / "wine-run"


def find_klvpack(stub: Path) -> Path:
    """klvpack of the build that made `stub` (KLVPACK names another)."""
    if os.environ.get("KLVPACK"):
        return Path(os.environ["KLVPACK"])
    for build in Path(stub).resolve().parents:
        if (build / "CMakeCache.txt").is_file():
            for name in ("klvpack.exe", "klvpack"):
                if (build / "tools" / "klvpack" / name).is_file():
                    return build / "tools" / "klvpack" / name
            break
    raise Failure(f"no klvpack built beside {stub}; set KLVPACK")


def make_package(stub: Path, out: Path, files: dict[str, bytes], caption: str | None = None,
                 cut: int = 0, klvpack: Path | None = None) -> Path:
    """The package as a package maker makes it: `klvpack build` of a folder holding `files`
    (a name ending in '/' is an empty folder; every folder becomes an entry), with `caption`
    as the stored caption; `cut` bytes cut off its end, as by an interrupted download. A
    Windows klvpack runs in the build's prefix (scripts/wine-run), which sees the Unix root
    as Z:."""
    tool = Path(klvpack) if klvpack else find_klvpack(stub)
    windows = tool.suffix.lower() == ".exe"

    def arg(path: Path) -> str:
        path = str(Path(path).resolve())
        return "Z:" + path.replace("/", "\\") if windows else path

    out = Path(out)
    out.parent.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="klv-payload-") as tmp:
        tree = Path(tmp) / "payload"
        tree.mkdir()
        for name, data in files.items():
            path = tree / name
            if name.endswith("/"):
                path.mkdir(parents=True, exist_ok=True)
                continue
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
        for path in tree.rglob("*"):
            os.utime(path, (PAYLOAD_MTIME, PAYLOAD_MTIME))
        command = [str(tool), "build", "--stub", arg(stub), "--payload", arg(tree), "-o", arg(out)]
        if caption is not None:
            command += ["--caption", caption]
        env = dict(os.environ, TZ="UTC")
        res = subprocess.run(([str(WINE_RUN)] if windows else []) + command, env=env,
                             capture_output=True, stdin=subprocess.DEVNULL)
    check(res.returncode == 0 and out.is_file(),
          f"klvpack build: exit {res.returncode}: {(res.stdout + res.stderr)[-600:]!r}")
    if cut:
        size = out.stat().st_size
        with open(out, "r+b") as f:
            f.truncate(size - cut)
    return out


def plant_marker_dlls(markers: Path, folder: Path):
    for name in MARKER_DLLS:
        shutil.copy2(Path(markers) / f"{name}.dll", Path(folder) / f"{name}.dll")


def marker_overrides() -> str:
    """Native (the planted file) first for the marker DLLs, as Windows does for DLLs that are
    not KnownDLLs."""
    return ",".join(MARKER_DLLS) + "=n,b"


# ---------------------------------------------------------------------------------------------
# A running package

_MSGBOX = re.compile(rb'MSGBOX_OnInit L"((?:[^"\\]|\\.)*)"(\.\.\.)?')
_LOADED = re.compile(rb'Loaded L"((?:[^"\\]|\\.)*)" at [0-9A-Fa-f]+: (\w+)')
_ESCAPE = re.compile(r"\\(x\{[0-9a-f]+\}|[0-9a-f]{4}|.)")


def _unescape(text: bytes) -> str:
    """A string as Wine's debugstr_w writes it."""
    def one(m):
        e = m.group(1)
        if e.startswith("x{"):
            return chr(int(e[2:-1], 16))
        if len(e) == 4:
            return chr(int(e, 16))
        return {"r": "\r", "n": "\n", "t": "\t"}.get(e, e)
    return _ESCAPE.sub(one, text.decode("latin-1"))


@dataclass
class Box:
    text: str
    truncated: bool
    window: Window | None


class Run:
    """A package started in a prefix, its Wine log (+msgbox, +loaddll) kept in a file."""

    def __init__(self, prefix: Prefix, exe: str, log: Path, overrides: str = "",
                 debug: str = "+msgbox,+loaddll", args=(), wrapper=()):
        prefix.start()
        self.prefix = prefix
        self.display = prefix.display
        self.log = Path(log)
        self.log.parent.mkdir(parents=True, exist_ok=True)
        self._log_file = open(self.log, "wb")
        folder = prefix.unix(exe.rsplit("\\", 1)[0] + "\\")
        self.started = time.monotonic()
        self.proc = subprocess.Popen([*wrapper, "wine", exe, *args], cwd=folder,
                                     env=prefix.env(debug, overrides), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=self._log_file,
                                     start_new_session=True)
        self.answered = 0
        self._program = exe.lower()
        self._owners: dict[int, bool] = {}

    # -- reading -----------------------------------------------------------------------------
    def log_bytes(self) -> bytes:
        if not self._log_file.closed:
            self._log_file.flush()
        return self.log.read_bytes()

    def box_texts(self) -> list[Box]:
        return [Box(_unescape(m.group(1)), bool(m.group(2)), None)
                for m in _MSGBOX.finditer(self.log_bytes())]

    def loaded_dlls(self) -> list[tuple[str, str]]:
        return [(_unescape(m.group(1)), m.group(2).decode())
                for m in _LOADED.finditer(self.log_bytes())]

    def owns(self, pid: int | None) -> bool:
        """True when `pid` is the process of this run's program (or a copy it started again),
        not a Wine helper such as the desktop or a service (whose windows come and go beside
        it, more often on a loaded machine)."""
        if pid is None:
            return False
        if pid not in self._owners:
            try:
                argv = Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")
                # By the program's file name, in this run's session or not: a copy the program
                # starts again (the relaunch as administrator) is started outside it by Wine,
                # and may name itself by another form of the same path. Wine's helpers
                # (desktop, services) never carry the package's name.
                name = argv[0].decode(errors="replace").replace("/", "\\").lower()
                owned = (name.rsplit("\\", 1)[-1] ==
                         self._program.replace("/", "\\").rsplit("\\", 1)[-1])
            except (OSError, IndexError):
                return False  # gone: not known, not remembered
            self._owners[pid] = owned
        return self._owners[pid]

    def own_windows(self) -> list[Window]:
        """The visible top-level windows of this run's program, bottom to top."""
        return [w for w in self.display.windows() if self.owns(w.pid)]

    # -- waiting -----------------------------------------------------------------------------
    def wait(self, what, predicate, timeout=60.0, interval=0.1):
        deadline = time.monotonic() + timeout
        while True:
            value = predicate()
            if value:
                return value
            if self.proc.poll() is not None:
                value = predicate()
                if value:
                    return value
                if b"nodrv_CreateWindow" in self.log_bytes():
                    raise DisplayLost(f"Wine could not open the display {self.display.name}")
                raise Failure(f"the program ended (exit {self.proc.returncode}) while "
                              f"waiting for {what}")
            if time.monotonic() > deadline:
                raise Failure(f"timed out waiting for {what}")
            time.sleep(interval)

    def window(self, caption: str | None = None, timeout=60.0) -> Window:
        """The program's topmost visible window (with this caption, if given)."""
        boxes = len(self.box_texts())

        def find():
            shown = self.own_windows()
            if caption is not None:
                shown = [w for w in shown if w.name == caption]
                if not shown and len(self.box_texts()) > boxes:
                    raise Failure(f"waiting for the window {caption!r}, a box said "
                                  f"{self.box_texts()[-1].text!r}")
            return shown[-1] if shown else None
        return self.wait(f"a window {caption!r}" if caption is not None else "a window", find,
                         timeout)

    def next_box(self, title: str | None = None, timeout=60.0) -> Box:
        """The next message box not yet answered: its text from the log, its window the
        program's topmost one (with this title, if given)."""
        n = self.answered
        boxes = self.wait(f"message box {n + 1}", lambda: self.box_texts()[n:] and self.box_texts(),
                          timeout)
        box = boxes[n]

        def shown():
            tops = self.own_windows()
            if not tops:
                return None
            top = tops[-1]
            return top if title is None or top.name == title else None
        box.window = self.wait(f"the window of message box {n + 1} ({title!r})", shown, timeout)
        return box

    def press_install(self, main: Window):
        """Enter in the main window once the timer has enabled the install button (the
        default button); again if no box follows and the program still runs."""
        time.sleep(0.8)
        for _ in range(3):
            before = len(self.box_texts())
            if before > self.answered:
                raise Failure(f"before Enter, a box said {self.box_texts()[self.answered].text!r}")
            self.display.key(main, "Return")
            deadline = time.monotonic() + 6
            while time.monotonic() < deadline:
                if len(self.box_texts()) > before or self.proc.poll() is not None:
                    return
                time.sleep(0.1)
        raise Failure("Enter in the window started no installation run")

    def answer(self, box: Box, *keys):
        self.display.key(box.window, *keys)
        self.answered += 1

    def wait_exit(self, timeout=60.0) -> int:
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not end within {timeout:.0f} s") from None
        finally:
            if self.proc.returncode is not None:
                self._log_file.close()

    def kill(self):
        if self.proc.poll() is None:
            # The program alone (wine execs into it); the desktop and services it may have
            # started serve the prefix's later programs.
            try:
                os.kill(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait()
        self._log_file.close()


def lnk_target(link: Path) -> str:
    """The local path a shortcut points at, as Debian's lnkinfo reads it."""
    res = subprocess.run(["lnkinfo", str(link)], capture_output=True, text=True, errors="replace")
    check(res.returncode == 0, f"lnkinfo {link}: {res.stderr.strip() or res.stdout[-300:]}")
    for line in res.stdout.splitlines():
        key, _, value = line.partition(":")
        if key.strip().lower() in ("local path", "full path"):
            return value.strip()
    raise Failure(f"lnkinfo {link} names no local path:\n{res.stdout}")


def make_build_prefix(dest: Path, arch: str = "win64"):
    """The prefix a build's test programs run in (scripts/test, scripts/wine-run), made once:
    a copy of the template with the Z: drive over the Unix root, where they find their files
    by Unix path."""
    dest = Path(dest).resolve()
    dest.parent.mkdir(parents=True, exist_ok=True)
    with open(dest.parent / f".{dest.name}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if (dest / "system.reg").is_file():
            return
        with Display() as display:
            Prefix.template(display, arch).copy(dest)
        (dest / "dosdevices" / "z:").symlink_to("/")


if __name__ == "__main__":
    import argparse
    parser = argparse.ArgumentParser(description="Makes a build's Wine prefix from the template.")
    parser.add_argument("command", choices=["prefix"])
    parser.add_argument("dest", type=Path)
    parser.add_argument("--arch", choices=ARCHES, default="win64")
    args = parser.parse_args()
    make_build_prefix(args.dest, args.arch)


@contextlib.contextmanager
def file_held(prefix: Prefix, hold_file: Path, path: str, log: Path, mark: str,
              share_all: bool = False):
    """`path` (a Windows path) held open by hold_file.exe for the block, without sharing or,
    with `share_all`, with every sharing allowed (as an indexer holds it): yields the holder's
    Run once the file is held; after the block the holder is released, must end by itself
    with exit 0, and its marks and copy are removed."""
    tools = prefix.unix(prefix.user_windows + "\\Temp")
    tools.mkdir(exist_ok=True)
    shutil.copy2(hold_file, tools / "hold_file.exe")
    signal_file = tools / mark
    holder = Run(prefix, prefix.user_windows + "\\Temp\\hold_file.exe", log, debug="-all",
                 args=[path, prefix.user_windows + "\\Temp\\" + mark]
                 + (["share-all"] if share_all else []))
    try:
        holder.wait("the held file's mark", lambda: Path(f"{signal_file}.held").exists(), 30)
        yield holder
    finally:
        Path(f"{signal_file}.release").write_text("")
        try:
            holder.wait_exit(30)
        finally:
            holder.kill()
    check(holder.proc.returncode == 0, f"hold_file ended with {holder.proc.returncode}")
    for left in (Path(f"{signal_file}.held"), Path(f"{signal_file}.release"),
                 tools / "hold_file.exe"):
        left.unlink(missing_ok=True)
