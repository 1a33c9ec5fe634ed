#!/usr/bin/env python3
"""The installer end to end: real packages run under Wine in a virtual X display, each on a
staged Kelvaro 3 installation in a fresh prefix, answered with xdotool; message texts come from
Wine's log (+msgbox), DLL loads from +loaddll, shortcuts are read with lnkinfo, and every file
of the installation is compared before and after.

    scenarios.py --stub klvupgradeStub.exe --installed-program A.exe --update-program B.exe
                 --markers DIR --hold-file hold_file.exe --work DIR [--screenshots DIR] [--keep] [--arch win32] [NAME ...]
    scenarios.py --list
"""
from __future__ import annotations

import argparse
import re
import shutil
import subprocess
import sys
import time
import traceback
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import (ARCHES, BDEADMIN_SIZE, INSTALL_DIR, STORED_CAPTION, Display, Failure,  # noqa: E402
                     Prefix, Run, check, differences, file_held, lnk_target, make_package,
                     marker_overrides, payload, plant_marker_dlls, poll, require_locale,
                     snapshot, stage_installation)

from texts import question, text  # noqa: E402

WIDTH, HEIGHT = 441, 144
# The stored caption names no version: the package's version is empty.
VERSION_QUESTION = question(text("newer_version_question", installed="3.1.0.5", package=""),
                            text("cancel_update_meaning"),
                            text("older_version_meaning", package=""))
VERSION_TITLE = text("version_check_title")
START_QUESTION = text("start_question")
# Registry rights beyond reading: set value, create sub-key, create link, delete, write DAC,
# write owner, maximum allowed, generic write and generic all.
WRITE_RIGHTS = 0x2 | 0x4 | 0x20 | 0x10000 | 0x40000 | 0x80000 | 0x02000000 | 0x40000000 | 0x10000000
START_TITLE = text("installed_title")
DONE = text("installation_done")
DAMAGED = text("damaged_package")
NOT_FOUND_QUESTION = question(text("not_found_question"), text("not_found_search_meaning"),
                              text("not_found_browse_meaning"))
NOT_FOUND_TITLE = text("not_found_title")
NOT_WRITABLE_QUESTION = question(text("no_write_rights_question", folder=INSTALL_DIR),
                                 text("restart_as_administrator_meaning"), text("stop_meaning"))
NOT_WRITABLE_TITLE = text("no_write_rights_title")
NOTICE_TITLE = text("notice_title")
NOT_COMPLETE = text("not_full_kelvaro_location")


def in_use_message(program_file):
    return text("delete_failed", file=program_file)


class Suite:
    def __init__(self, args):
        self.args = args
        self.work = Path(args.work).resolve()
        self.work.mkdir(parents=True, exist_ok=True)
        self.shots = self.work / "screenshots"
        # Screenshots for people show each window with its title bar and frame.
        self.display = Display(framed=bool(args.screenshots))
        self.template = Prefix.template(self.display, args.arch)
        self.results: list[tuple[str, bool, str]] = []

    # -- shared steps ----------------------------------------------------------------------
    def fresh(self, name) -> Prefix:
        return self.template.copy(self.work / name)

    def package(self, prefix: Prefix, name, files, caption=None, cut=0) -> str:
        """Makes the package in the prefix's Downloads folder; its Windows path."""
        folder = prefix.unix(prefix.downloads_windows)
        make_package(self.args.stub, folder / name, files, caption=caption, cut=cut)
        return prefix.downloads_windows + "\\" + name

    def shot(self, window, name):
        self.display.screenshot(window, self.shots / name)

    def shot_all(self, name):
        """The visible windows together (a box over its owner)."""
        wins = self.display.windows()
        check(wins, "no window to photograph")
        x0 = min(w.x for w in wins) - 8
        y0 = min(w.y for w in wins) - 8
        x1 = max(w.x + w.width for w in wins) + 8
        y1 = max(w.y + w.height for w in wins) + 8
        self.shots.mkdir(parents=True, exist_ok=True)
        subprocess.run(["import", "-display", self.display.name, "-window", "root", "-crop",
                        f"{x1 - x0}x{y1 - y0}+{x0}+{y0}", "+repage", str(self.shots / name)],
                       check=True, capture_output=True)

    @staticmethod
    def expect_box(run: Run, text, title=NOTICE_TITLE):
        box = run.next_box(title=title)
        if box.truncated:
            check(text.startswith(box.text), f"box text {box.text!r}..., expected {text!r}")
        else:
            check(box.text == text, f"box text {box.text!r}, expected {text!r}")
        return box

    @staticmethod
    def expect_installed(root: Path, files: dict[str, bytes]):
        """Every payload file below the installation, byte for byte, under its own name."""
        for name, data in files.items():
            path = root / name
            check(path.is_file(), f"not installed: {name}")
            check(path.read_bytes() == data, f"installed with other bytes: {name}")

    @staticmethod
    def expect_only(before, after, allowed: set[str]):
        """The installation changed only where the run may change it."""
        unexpected = [d for d in differences(before, after) if d.split(None, 1)[1].split(" (")[0]
                      not in allowed]
        check(not unexpected, "unexpected changes in the installation:\n  " +
              "\n  ".join(unexpected))

    def expect_no_shortcuts(self, prefix: Prefix):
        for link in (prefix.desktop / "Kelvaro.lnk", prefix.start_menu / "Kelvaro.lnk"):
            check(not link.exists(), f"a shortcut was made: {link}")

    def expect_shortcuts(self, prefix: Prefix):
        target = INSTALL_DIR + "\\Kelvaro.exe"
        for link in (prefix.desktop / "Kelvaro.lnk", prefix.start_menu / "Kelvaro.lnk"):
            check(link.is_file(), f"no shortcut {link}")
            got = lnk_target(link)
            check(got.lower() == target.lower(), f"{link.name} points at {got!r}, not {target!r}")

    @staticmethod
    def changed_paths(files: dict[str, bytes], *more) -> set[str]:
        allowed = set(more)
        for name in files:
            parts = name.split("/")
            for i in range(1, len(parts) + 1):
                allowed.add("/".join(parts[:i]))
        return allowed

    @staticmethod
    def trace_registry(prefix: Prefix):
        """Makes Wine's +relay trace show every registry key opened or created, with the
        rights asked."""
        calls = ";".join(f"Reg{op}Key{ex}{cs}" for op in ("Open", "Create") for ex in ("", "Ex")
                         for cs in "AW")
        prefix.wine("reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/d",
                    calls, "/f")

    @staticmethod
    def expect_read_only_hklm(run: Run, exe: str):
        """Every key below HKLM that the program itself (a call from its own image) opened was
        opened for reading only: a standard user may not ask for more."""
        log = run.log_bytes()
        name = exe.rsplit("\\", 1)[1].encode()
        base = re.search(rb'Loaded L"[^"]*' + re.escape(name) + rb'" at ([0-9A-Fa-f]+)', log)
        check(base, "the trace does not say where the program was loaded")
        start = int(base.group(1), 16)
        end = start + 16 * 1024 * 1024
        opened = []
        for m in re.finditer(rb"Call [\w.]+\.Reg(Open|Create)Key(Ex)?[AW]\(([^)]*)\) ret=([0-9a-f]+)",
                             log):
            args = m.group(3).decode("latin-1").split(",")
            # HKEY_LOCAL_MACHINE, as a 32-bit (80000002) or a 64-bit trace (ffffffff80000002)
            # prints it.
            if int(args[0], 16) & 0xFFFFFFFF != 0x80000002 or not start <= int(m.group(4), 16) < end:
                continue
            index = {(b"Open", b"Ex"): 3, (b"Create", b"Ex"): 5}.get((m.group(1), m.group(2)))
            access = int(args[index], 16) if index is not None else 0xF003F
            opened.append((args[1], access))
        check(any("KLV" in n for n, _ in opened), f"no opening of HKLM\\SOFTWARE\\KLV: {opened}")
        writing = [(n, hex(a)) for n, a in opened if a & WRITE_RIGHTS]
        check(not writing, f"HKLM keys opened with more than read rights: {writing}")
        return len(opened)

    # -- scenarios -------------------------------------------------------------------------
    def program_upgrade(self, prefix: Prefix, planted=False):
        root = stage_installation(prefix, self.args.installed_program)
        files = payload(self.args.update_program)
        exe = self.package(prefix, "klvupgrade-3.2.0.1.exe", files)
        overrides = ""
        if planted:
            plant_marker_dlls(self.args.markers, prefix.unix(prefix.downloads_windows))
            overrides = marker_overrides()
        before = snapshot(root)
        self.trace_registry(prefix)
        run = Run(prefix, exe, self.work / f"{prefix.path.name}.log", overrides=overrides,
                  debug="+msgbox,+loaddll,+relay")
        main = run.window(STORED_CAPTION)
        check(main.client_size == (WIDTH, HEIGHT),
              f"window {main.client_size}, expected {WIDTH}x{HEIGHT}")
        if not planted:
            time.sleep(0.5)
            self.shot(main, "program-upgrade.png")
        run.press_install(main)
        # The stored caption names no version: the question is asked; No installs.
        box = self.expect_box(run, VERSION_QUESTION, VERSION_TITLE)
        run.answer(box, "n")
        box = self.expect_box(run, START_QUESTION, START_TITLE)
        if not planted:
            self.shot_all("program-upgrade-start.png")
        run.answer(box, "Return")
        run.wait_exit()
        started = root / "kelvaro-started.txt"
        # The program starts on its own: it may write its mark after the installer has ended.
        poll("the new program's mark", lambda: started.exists() and started.read_text())
        check(started.read_text().strip() == "kelvaro 3.2.0.1 started",
              f"started: {started.read_text()!r}")
        self.expect_installed(root, files)
        self.expect_only(before, snapshot(root),
                         self.changed_paths(files, "kelvaro-started.txt"))
        self.expect_shortcuts(prefix)
        check(len(run.box_texts()) == 2, f"boxes: {[b.text for b in run.box_texts()]}")
        hklm = self.expect_read_only_hklm(run, exe)
        if planted:
            downloads = prefix.downloads_windows.lower() + "\\"
            foreign = [f"{path} ({kind})" for path, kind in run.loaded_dlls()
                       if path.lower().startswith(downloads) and path.lower().endswith(".dll")]
            marks = sorted(p.name for p in prefix.unix(prefix.downloads_windows).glob("*.loaded"))
            check(not foreign and not marks,
                  f"planted DLLs loaded: {foreign} {marks}")
            check(any(p.lower().endswith("system32\\version.dll") for p, _ in run.loaded_dlls()),
                  "version.dll was never loaded: the check above proves nothing")
        return (f"kelvaro.exe 3.1.0.5 -> 3.2.0.1, both shortcuts, the new program started; "
                f"{hklm} HKLM keys opened, all read-only")

    def planted_dlls(self, prefix: Prefix):
        self.program_upgrade(prefix, planted=True)
        return "a full program upgrade with 7 marker DLLs beside the package: none loaded"

    def configured_package(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program)
        picture = self.work / "stub.jpg"
        subprocess.run(["convert", "-size", "84x55", "xc:#d01010", str(picture)], check=True)
        ini = ("Caption=Kelvaro rapporten 2026\r\nHeader=Nieuwe rapporten\r\n"
               "uitleg=Deze update voegt rapporten toe aan uw installatie.\r\n"
               "folderkeuze=false\r\n").encode("cp1252")
        files = payload(extra={"stub.ini": ini, "Stub.jpg": picture.read_bytes()})
        exe = self.package(prefix, "klvrapporten.exe", files)
        before = snapshot(root)
        run = Run(prefix, exe, self.work / f"{prefix.path.name}.log", debug="+msgbox,+text")
        main = run.window("Kelvaro rapporten 2026")
        check(main.client_size == (WIDTH, HEIGHT - 50),
              f"window {main.client_size}, expected {WIDTH}x{HEIGHT - 50}")
        time.sleep(0.5)
        self.shot(main, "configured-package.png")
        drawn = run.log_bytes().decode("latin-1")
        for shown in ("Nieuwe rapporten", "Deze update voegt rapporten toe"):
            check(shown in drawn, f"{shown!r} was never drawn")
        left, top = main.frame
        pixel = subprocess.run(["convert", str(self.shots / "configured-package.png"), "-crop",
                                f"1x1+{380 + left}+{20 + top}", "-depth", "8", "txt:-"],
                               capture_output=True, text=True).stdout
        check("#D01010" in pixel.upper() or "#D0" in pixel.upper(),
              f"the picture from Stub.jpg is not at the picture's place: {pixel.strip()}")
        run.press_install(main)
        box = self.expect_box(run, DONE)
        run.answer(box, "Return")
        run.wait_exit()
        self.expect_installed(root, files)
        self.expect_only(before, snapshot(root), self.changed_paths(files))
        self.expect_no_shortcuts(prefix)
        check(len(run.box_texts()) == 1, f"boxes: {[b.text for b in run.box_texts()]}")
        return "Stub.ini texts and picture, window 50 px shorter, Installatie voltooid"

    def help_package(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program)
        files = payload(extra={"Help/Kelvaro.chm": b"ITSF" + bytes(5000)})
        caption = "Kelvaro Schermhelp Update 3.2.0.1]"
        exe = self.package(prefix, "klvhelp.exe", files, caption=caption)
        before = snapshot(root)
        run = Run(prefix, exe, self.work / f"{prefix.path.name}.log", debug="+msgbox,+text")
        main = run.window(caption)
        time.sleep(0.5)
        self.shot(main, "help-package.png")
        drawn = run.log_bytes().decode("latin-1")
        heading = text("help_heading")
        check(heading in drawn, f"the heading {heading} was never drawn")
        check(text("shortcuts_check_box") not in drawn.split(heading, 1)[1],
              "the shortcuts check box is still drawn")
        run.press_install(main)
        box = self.expect_box(run, DONE)
        run.answer(box, "Return")
        run.wait_exit()
        self.expect_installed(root, files)
        self.expect_only(before, snapshot(root), self.changed_paths(files))
        self.expect_no_shortcuts(prefix)
        check(len(run.box_texts()) == 1, f"boxes: {[b.text for b in run.box_texts()]}")
        return "no version question, old kelvaro.exe kept, Installatie voltooid"

    def not_found(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program, registry=False)
        ini = b"Caption=Kelvaro rapporten 2026\r\nHeader=Nieuwe rapporten\r\n"
        exe = self.package(prefix, "klvrapporten.exe", payload(extra={"stub.ini": ini}))
        before = snapshot(root)
        run = Run(prefix, exe, self.work / f"{prefix.path.name}.log", debug="+msgbox,+text")
        box = self.expect_box(run, NOT_FOUND_QUESTION, NOT_FOUND_TITLE)
        shown = run.display.windows()
        check(any(w.name == STORED_CAPTION for w in shown),
              f"behind the question the caption is not the stored one: {[w.name for w in shown]}")
        drawn = run.log_bytes().decode("latin-1")
        check(text("product_heading") in drawn and "Nieuwe rapporten" not in drawn,
              "behind the question the heading is not the entry sequence's")
        self.shot_all("not-found-question.png")
        run.answer(box, "n")
        dialog = run.wait("the folder dialog", lambda: [
            w for w in run.display.windows()
            if w.name and w.name not in (STORED_CAPTION, NOT_FOUND_TITLE)])[-1]
        self.shot_all("not-found-folder-dialog.png")
        check(len(run.box_texts()) == 1, "another box instead of the folder dialog")
        self.display.key(dialog, "Escape")
        main = run.window("Kelvaro rapporten 2026")
        self.display.key(main, "alt+a")
        run.wait_exit()
        check(not differences(before, snapshot(root)), "the installation changed")
        return f"question over the stored caption; No opened {dialog.name!r}"

    def damaged_package(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program)
        exe = self.package(prefix, "klvupgrade-3.2.0.1.exe", payload(self.args.update_program),
                           cut=1000)
        before = snapshot(root)
        run = Run(prefix, exe, self.work / f"{prefix.path.name}.log")
        main = run.window(STORED_CAPTION)
        run.press_install(main)
        box = self.expect_box(run, DAMAGED)
        self.shot_all("damaged-package.png")
        run.answer(box, "Return")
        run.wait_exit()
        check(len(run.box_texts()) == 1, f"boxes: {[b.text for b in run.box_texts()]}")
        changes = differences(before, snapshot(root))
        check(not changes, "the installation changed:\n  " + "\n  ".join(changes))
        self.expect_no_shortcuts(prefix)
        return "notice shown; every file, time stamp and attribute as before"

    def incomplete_installation(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program,
                                  bdeadmin_size=BDEADMIN_SIZE - 1)
        exe = self.package(prefix, "klvupgrade-3.2.0.1.exe", payload(self.args.update_program))
        before = snapshot(root)
        run = Run(prefix, exe, self.work / f"{prefix.path.name}.log")
        main = run.window(STORED_CAPTION)
        # The timer's check ignores the size, so Enter runs; the validation refuses and ends.
        run.press_install(main)
        run.answer(self.expect_box(run, NOT_COMPLETE), "Return")
        run.wait_exit()
        check(len(run.box_texts()) == 1, f"boxes: {[b.text for b in run.box_texts()]}")
        check(not differences(before, snapshot(root)), "the installation changed")
        return "BDEADMIN.EXE one byte short: refused with the notice, the program ended"

    def program_in_use(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program)
        exe = self.package(prefix, "klvupgrade-3.2.0.1.exe", payload(self.args.update_program))
        standin = Run(prefix, INSTALL_DIR + "\\kelvaro.exe", self.work / "standin.log",
                      debug="-all", args=["--hold"])
        try:
            standin.wait("the running program's mark",
                         lambda: (root / "kelvaro-started.txt").exists(), timeout=30)
            before = snapshot(root)
            run = Run(prefix, exe, self.work / f"{prefix.path.name}.log")
            main = run.window(STORED_CAPTION)
            run.press_install(main)
            run.answer(self.expect_box(run, VERSION_QUESTION, VERSION_TITLE), "n")
            box = self.expect_box(run, in_use_message(INSTALL_DIR + "\\kelvaro.exe"))
            self.shot_all("program-in-use.png")
            run.answer(box, "Return")
            run.wait_exit()
            check(standin.proc.poll() is None, "the running program ended")
            changes = differences(before, snapshot(root))
            check(not changes, "the installation changed:\n  " + "\n  ".join(changes))
            self.expect_no_shortcuts(prefix)
        finally:
            (root / "kelvaro-stop.txt").write_text("stop")
            try:
                standin.wait_exit(30)
            finally:
                standin.kill()
        return "the six-piece message; nothing extracted, nothing changed"

    def virtual_store(self, prefix: Prefix):
        """Kelvaro's folder only in the user's VirtualStore (where Windows kept what the legacy
        32-bit program wrote to HKLM), another installation named by the machine's key: the
        store's is found and upgraded, the other stays."""
        root = stage_installation(prefix, self.args.installed_program, registry=False)
        other_dir = r"C:\Elders\Kelvaro3"
        other = stage_installation(prefix, self.args.installed_program, folder=other_dir)
        store = "HKCU\\Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\" + (
            "WOW6432Node\\KLV" if prefix.arch == "win64" else "KLV")
        prefix.wine("reg", "add", store, "/v", "Kelvaro", "/d", INSTALL_DIR, "/reg:64", "/f")
        files = payload(self.args.update_program)
        exe = self.package(prefix, "klvupgrade-3.2.0.1.exe", files)
        before, other_before = snapshot(root), snapshot(other)
        run = Run(prefix, exe, self.work / f"{prefix.path.name}.log")
        main = run.window(STORED_CAPTION)
        run.press_install(main)
        run.answer(self.expect_box(run, VERSION_QUESTION, VERSION_TITLE), "n")
        run.answer(self.expect_box(run, START_QUESTION, START_TITLE), "n")
        run.wait_exit()
        self.expect_installed(root, files)
        self.expect_only(before, snapshot(root), self.changed_paths(files))
        check(not differences(other_before, snapshot(other)), "the machine's folder changed")
        return "found in the VirtualStore and upgraded; the machine's folder unchanged"

    def held_briefly(self, prefix: Prefix):
        """A file of the installation held open without sharing for about a second by another
        program (as a virus scanner does) while the run starts: waited for, not "in use"."""
        root = stage_installation(prefix, self.args.installed_program)
        files = payload(self.args.update_program, {"Data/voornamen.txt": b"Jan\r\nPiet\r\n"})
        exe = self.package(prefix, "klvupgrade-3.2.0.1.exe", files)
        before = snapshot(root)
        run = Run(prefix, exe, self.work / f"{prefix.path.name}.log")
        main = run.window(STORED_CAPTION)
        run.press_install(main)
        box = self.expect_box(run, VERSION_QUESTION, VERSION_TITLE)
        with file_held(prefix, self.args.hold_file, INSTALL_DIR + "\\Data\\voornamen.txt",
                       self.work / "hold_file.log", "voornamen"):
            run.answer(box, "n")  # the run probes and moves now, while the file is held
            time.sleep(1.0)
        run.answer(self.expect_box(run, START_QUESTION, START_TITLE), "n")
        run.wait_exit()
        self.expect_installed(root, files)
        self.expect_only(before, snapshot(root), self.changed_paths(files))
        return "held for a second while the run started: installed all the same"

    def relaunch_as_administrator(self, prefix: Prefix):
        """An installation folder the user may not change (immutable, which holds for root
        too), run by a copy that is already elevated (Wine's token always is): it is never
        offered the relaunch again. It says it may not write there, ends with exit 9, and the
        installation is as it was. (The relaunch itself, offered to a standard user's copy,
        is shown with the test build's stub in the all-or-nothing suite.)"""
        root = stage_installation(prefix, self.args.installed_program)
        files = payload(self.args.update_program)
        exe = self.package(prefix, "klvupgrade-3.2.0.1.exe", files)
        before = snapshot(root)
        subprocess.run(["chattr", "+i", str(root)], check=True)
        try:
            run = Run(prefix, exe, self.work / f"{prefix.path.name}.log")
            main = run.window(STORED_CAPTION)
            run.press_install(main)
            box = self.expect_box(run, f"U heeft geen rechten om de bestanden in [{INSTALL_DIR}] "
                                       "te wijzigen.\r\n\r\nEr is niets gewijzigd.")
            run.answer(box, "Return")
            code = run.wait_exit(60)
        finally:
            subprocess.run(["chattr", "-i", str(root)], check=True)
        check(code == 9, f"exit code {code}, expected 9")
        check(not differences(before, snapshot(root)), "the elevated copy changed the installation")
        return "an elevated copy is told, not asked again; exit 9"

    SCENARIOS = ("program_upgrade", "configured_package", "help_package", "not_found",
                 "damaged_package", "incomplete_installation", "program_in_use", "planted_dlls",
                 "virtual_store", "held_briefly", "relaunch_as_administrator")

    # -- the run loop, shared by every suite -----------------------------------------------
    def prefix_for(self, name) -> Prefix:
        """The prefix a scenario gets: a fresh copy of the template."""
        return self.fresh(name)

    def after_scenario(self, prefix: Prefix):
        """A check every scenario of the suite must pass besides its own."""

    def forget(self, name, prefix: Prefix):
        """Removes what a passed scenario left."""
        prefix.remove()

    def run(self, names):
        for name in names:
            t0 = time.monotonic()
            prefix = self.prefix_for(name)
            try:
                detail = getattr(self, name)(prefix)
                self.after_scenario(prefix)
                ok = True
            except Failure as e:
                ok, detail = False, str(e)
            except Exception:  # a fault of the harness itself
                ok, detail = False, traceback.format_exc()
            finally:
                prefix.stop()
            took = time.monotonic() - t0
            print(f"{'PASS' if ok else 'FAIL'}  {name:<24} {took:5.1f} s  {detail}", flush=True)
            self.results.append((name, ok, detail))
            if ok and not self.args.keep:
                self.forget(name, prefix)
            elif not ok:
                print(f"      prefix kept: {prefix.path}; log: {self.work / (name + '.log')}")
        if self.args.screenshots:
            dest = Path(self.args.screenshots)
            dest.mkdir(parents=True, exist_ok=True)
            for png in sorted(self.shots.glob("*.png")):
                shutil.copy2(png, dest / png.name)
        return all(ok for _, ok, _ in self.results)

    def close(self):
        self.display.close()


def main(suite=Suite,
         paths=("stub", "installed-program", "update-program", "markers", "hold-file", "work"),
         doc=__doc__):
    """The command line of a suite: the paths it needs, then the scenarios to run; --list
    names every scenario, one a line (the build registers a test for each)."""
    if sys.argv[1:] == ["--list"]:
        print("\n".join(suite.SCENARIOS))
        return
    parser = argparse.ArgumentParser(description=doc,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    for name in paths:
        parser.add_argument(f"--{name}", required=True, type=Path)
    parser.add_argument("--screenshots", type=Path, help="copy the screenshots here")
    parser.add_argument("--keep", action="store_true", help="keep the prefixes")
    parser.add_argument("--arch", choices=ARCHES, default="win64",
                        help="the kind of Windows of the prefixes (win32: a 32-bit Windows)")
    parser.add_argument("names", nargs="*", help="scenarios to run (default: all)")
    args = parser.parse_args()
    unknown = [n for n in args.names if n not in suite.SCENARIOS]
    if unknown:
        parser.error(f"unknown scenarios {unknown}; known: {', '.join(suite.SCENARIOS)}")
    require_locale()
    runner = suite(args)
    try:
        ok = runner.run(args.names or suite.SCENARIOS)
    finally:
        runner.close()
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
