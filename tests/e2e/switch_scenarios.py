#!/usr/bin/env python3
"""The installer run by scripts and deployment tools: the command-line switches (/VERYSILENT,
/SILENT, /DIR=, /LOG=, a bad switch), the exit code of each way a run ends, and the run's log,
each on a staged Kelvaro 3 installation in a fresh prefix under Wine.

    switch_scenarios.py --stub klvupgradeStub.exe --installed-program A.exe
                        --update-program B.exe --work DIR [--screenshots DIR] [NAME ...]
"""
from __future__ import annotations

import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import (INSTALL_DIR, Prefix, Run, check, differences, payload,  # noqa: E402
                     snapshot, stage_installation)
from scenarios import NOTICE_TITLE, START_QUESTION, Suite, main  # noqa: E402
from texts import text  # noqa: E402

CAPTION = "Kelvaro Update 3.2.0.1]"
LOG = r"C:\Beheer\logs\kelvaro-update.log"
NEW_LOG = r"C:\Beheer\nieuw\logs\update.log"  # in folders that do not exist yet
# Exit codes (src/app/exit_codes.h).
INSTALLED, NO_INSTALLATION, DAMAGED, NO_RIGHTS, BAD_SWITCH = 0, 2, 4, 9, 10
LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (\w+) +(.*)$")


class SwitchSuite(Suite):
    def start(self, prefix: Prefix, name, *args, cut=0, files=None):
        """The package with `args`; watched until it ends, every window it showed noted."""
        prefix.unix(LOG).parent.mkdir(parents=True, exist_ok=True)  # an existing folder
        files = files or payload(self.args.update_program)
        exe = self.package(prefix, "klvupgrade-3.2.0.1.exe", files, caption=CAPTION, cut=cut)
        run = Run(prefix, exe, self.work / f"{name}.log", args=list(args))
        return run, files

    def watch(self, run: Run, timeout=90.0):
        """Every window the program showed until it ended (names), and its exit code. Only the
        program's own windows count: Wine shows windows of its own beside it now and then (an
        unnamed one of its desktop or services, more often on a loaded machine)."""
        seen = []
        deadline = time.monotonic() + timeout
        while run.proc.poll() is None:
            for w in run.own_windows():
                if w.name not in seen:
                    seen.append(w.name)
            check(time.monotonic() < deadline, f"the program did not end; windows {seen}")
            time.sleep(0.05)
        return seen, run.wait_exit()

    @staticmethod
    def read_log(prefix: Prefix, path=LOG) -> list[tuple[str, str]]:
        """The run's log: (category, text) per line; every line timed, the file UTF-8."""
        data = prefix.unix(path).read_bytes()
        lines = data.decode("utf-8").split("\r\n")
        check(lines[-1] == "", "the log does not end with a line end")
        parsed = []
        for line in lines[:-1]:
            m = LINE.match(line)
            check(m, f"a log line without time and category: {line!r}")
            parsed.append((m.group(1), m.group(2)))
        return parsed

    @staticmethod
    def expect_lines(log, *expected):
        """Each (category, text part) is in the log, in this order."""
        at = 0
        for category, part in expected:
            while at < len(log) and not (log[at][0] == category and part in log[at][1]):
                at += 1
            check(at < len(log), f"no {category} line with {part!r} (in order) in the log:\n  " +
                  "\n  ".join(f"{c}: {t}" for c, t in log))
            at += 1

    def random(self, size) -> bytes:
        data = os.urandom(size)
        (self.work / "random.bin").write_bytes(data)
        return data

    # -- scenarios -------------------------------------------------------------------------
    def verysilent_installs(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program)
        before = snapshot(root)
        run, files = self.start(prefix, "verysilent_installs", "/VERYSILENT",
                                "/DIR=" + INSTALL_DIR, f'/LOG={LOG}')
        shown, code = self.watch(run)
        check(code == INSTALLED, f"exit code {code}, expected {INSTALLED}")
        check(not shown, f"windows were shown: {shown}")
        check(not run.box_texts(), f"boxes were shown: {[b.text for b in run.box_texts()]}")
        self.expect_installed(root, files)
        self.expect_only(before, snapshot(root), self.changed_paths(files))
        check(not (root / "kelvaro-started.txt").exists(), "Kelvaro was started")
        log = self.read_log(prefix)
        self.expect_lines(log, ("start", "/VERYSILENT"), ("folder", INSTALL_DIR + " (/DIR)"),
                          ("package", "klvupgrade-3.2.0.1.exe"), ("package", "version 3.2.0.1"),
                          ("phase", "first look at the payload: sound"),
                          ("check", "version: installed 3.1.0.5, update 3.2.0.1"),
                          ("phase", "install: installed"),
                          ("question",
                           f"{START_QUESTION} -> {text('no_word')} (unattended, not shown)"),
                          ("result", "installed (exit code 0)"))
        # The update's changes: each file placed, its size and whether it replaced one.
        placed = {t for c, t in log if c == "phase" and t.startswith("placed ")}
        new = "Data/nieuw in deze update.txt"
        check(f"placed kelvaro.exe, {len(files['kelvaro.exe'])} bytes, replaced" in placed
              and f"placed Data\\nieuw in deze update.txt, {len(files[new])} bytes, new" in placed
              and len(placed) == len(files),
              f"placed lines {sorted(placed)} for {sorted(files)}")
        # The machine, for a help desk: the system's version and build, its kind, the user,
        # elevation and the temporary folder.
        bits = "32" if self.args.arch == "win32" else "64"
        machine = [t for c, t in log if c == "start" and t.startswith("machine: ")]
        check(len(machine) == 1 and re.fullmatch(
            r"machine: Windows \d+\.\d+ build \d+, " + bits + r"-bit Windows, user [^,]+, "
            r"(not )?elevated, temp [A-Za-z]:\\.*\\", machine[0]), f"machine line {machine}")
        self.log_sample = log
        return f"exit 0, no window, {len(log)} log lines ending {log[-1][1]!r}"

    def verysilent_not_installation(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program)
        other = prefix.unix(r"C:\Programmas\Leeg")
        other.mkdir(parents=True)
        before, before_other = snapshot(root), snapshot(other)
        run, _ = self.start(prefix, "verysilent_not_installation", "/VERYSILENT",
                            r"/DIR=C:\Programmas\Leeg", f"/LOG={LOG}")
        shown, code = self.watch(run)
        check(code == NO_INSTALLATION, f"exit code {code}, expected {NO_INSTALLATION}")
        check(not shown and not run.box_texts(), f"shown: {shown} {run.box_texts()}")
        check(not differences(before, snapshot(root)), "the installation changed")
        check(not differences(before_other, snapshot(other)), "the other folder changed")
        log = self.read_log(prefix)
        # Why: the first required item missing, and the registry's folder considered beside it.
        self.expect_lines(log, ("folder", "(registry, as a 32-bit program reads it): a full "
                                          "installation"),
                          ("folder", r"no Kelvaro 3 installation at C:\Programmas\Leeg (/DIR): "
                                     "BDE missing"),
                          ("result", "no installation found or folder refused (exit code 2)"))
        return "exit 2, nothing changed, the reason in the log"

    def verysilent_damaged(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program)
        before = snapshot(root)
        shutil.rmtree(prefix.unix(NEW_LOG).parent.parent, ignore_errors=True)
        run, _ = self.start(prefix, "verysilent_damaged", "/verysilent", f"/log={NEW_LOG}",
                            cut=1000)
        shown, code = self.watch(run)
        check(code == DAMAGED, f"exit code {code}, expected {DAMAGED}")
        check(not shown and not run.box_texts(), f"shown: {shown} {run.box_texts()}")
        check(not differences(before, snapshot(root)), "the installation changed")
        # The log's folders were made; the failure line says what the check found.
        self.expect_lines(self.read_log(prefix, NEW_LOG), ("phase", "damaged or cut off"),
                          ("failure", "damaged package: engine code 0, Windows-fout 0, item: "
                                      "(none); the directory was rebuilt"),
                          ("question", f"notice [{NOTICE_TITLE}] {text('damaged_package').splitlines()[0]}"),
                          ("result", "damaged package (exit code 4)"))
        return "lower-case switches; the log's new folders made; exit 4, nothing changed"

    def silent_shows_progress(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program)
        before = snapshot(root)
        # 40 MB that do not compress: a run long enough to be seen.
        files = payload(self.args.update_program,
                        {"Data/Kaarten.dat": (self.work / "random.bin").read_bytes()
                         if (self.work / "random.bin").exists() else self.random(40 << 20)})
        run, files = self.start(prefix, "silent_shows_progress", "/SILENT", "/NOSTART",
                                files=files)
        main = run.window(CAPTION)
        # The window is the program's own (as watch tells them apart).
        check(run.owns(main.pid), f"the window's process {main.pid} is not the program's")
        time.sleep(0.5)  # the first paint, then the run
        self.shot(main, "silent-progress.png")
        shown, code = self.watch(run)
        check(code == INSTALLED, f"exit code {code}, expected {INSTALLED}")
        check(not run.box_texts(), f"boxes were shown: {[b.text for b in run.box_texts()]}")
        check(all(name == CAPTION for name in shown), f"other windows: {shown}")
        self.expect_installed(root, files)
        self.expect_only(before, snapshot(root), self.changed_paths(files))
        # Without /LOG the log is %TEMP%\klvupgrade.log.
        self.expect_lines(self.read_log(prefix, prefix.user_windows + r"\Temp\klvupgrade.log"),
                          ("start", "/SILENT /NOSTART"),
                          ("question", f"{START_QUESTION} not asked (/NOSTART)"),
                          ("result", "installed (exit code 0)"))
        return "the window shown, nothing asked, exit 0"

    def bad_switch(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program)
        before = snapshot(root)
        run, _ = self.start(prefix, "bad_switch", "/SILENT", "/FOLDER=C:\\Kelvaro3")
        box = self.expect_box(run, text("bad_switch", switch="/FOLDER=C:\\Kelvaro3"), title=None)
        self.shot_all("bad-switch.png")
        run.answer(box, "Return")
        code = run.wait_exit()
        check(code == BAD_SWITCH, f"exit code {code}, expected {BAD_SWITCH}")
        # Unattended, the same is only written to the log.
        run, _ = self.start(prefix, "bad_switch_verysilent", "/VERYSILENT", "/DIR", f"/LOG={LOG}")
        shown, code = self.watch(run)
        check(code == BAD_SWITCH and not shown and not run.box_texts(),
              f"exit {code}, shown {shown} {run.box_texts()}")
        self.expect_lines(self.read_log(prefix), ("result", "unknown or malformed switch (exit "
                                                            "code 10): unknown or malformed "
                                                            "switch /DIR"))
        check(not differences(before, snapshot(root)), "the installation changed")
        return "a Dutch box, or only the log with /VERYSILENT; exit 10, nothing changed"

    def log_left_alone(self, prefix: Prefix):
        """/LOG naming a report of the user's: neither it nor the user's file at an older log
        name is moved, emptied or removed, in a refused run nor in one that installs; the
        run's log goes to %TEMP%\\klvupgrade.log, which says why."""
        root = stage_installation(prefix, self.args.installed_program)
        report = prefix.unix(r"C:\Beheer\rapport.txt")
        report.parent.mkdir(parents=True, exist_ok=True)
        mine = {report: b"Jaarverslag 2026\r\n",
                report.with_name("rapport.4.txt"): b"Kwartaal 4\r\n"}
        for path, data in mine.items():
            path.write_bytes(data)
        default = prefix.user_windows + r"\Temp\klvupgrade.log"
        run, _ = self.start(prefix, "log_left_alone-refused", "/VERYSILENT", "/FOLDER=x",
                            r"/LOG=C:\Beheer\rapport.txt")
        shown, code = self.watch(run)
        check(code == BAD_SWITCH and not shown, f"exit {code}, shown {shown}")
        run, files = self.start(prefix, "log_left_alone", "/VERYSILENT", "/DIR=" + INSTALL_DIR,
                                r"/LOG=C:\Beheer\rapport.txt")
        shown, code = self.watch(run)
        check(code == INSTALLED and not shown, f"exit {code}, shown {shown}")
        self.expect_installed(root, files)
        for path, data in mine.items():
            check(path.read_bytes() == data, f"{path.name} was changed")
        beside = sorted(p.name for p in report.parent.iterdir() if p.is_file())
        check(beside == ["rapport.4.txt", "rapport.txt"], f"files beside the report: {beside}")
        log = self.read_log(prefix, default)
        self.expect_lines(log, ("start", r"the file C:\Beheer\rapport.txt is not a log of this "
                                         "installer"),
                          ("result", "installed (exit code 0)"))
        # The refused run's log is the older one now, with its own line about the report.
        older = self.read_log(prefix, prefix.user_windows + r"\Temp\klvupgrade.1.log")
        self.expect_lines(older, ("start", "is not a log of this installer"),
                          ("result", "unknown or malformed switch (exit code 10)"))
        return "the user's report and rapport.4.txt untouched; both logs in %TEMP%, saying why"

    def verysilent_help(self, prefix: Prefix):
        """/VERYSILENT /? shows no box: the switch list goes to the log, exit 0."""
        run, _ = self.start(prefix, "verysilent_help", "/VERYSILENT", "/?", f"/LOG={LOG}")
        shown, code = self.watch(run, timeout=30)
        check(code == INSTALLED, f"exit code {code}, expected {INSTALLED}")
        check(not shown and not run.box_texts(), f"shown: {shown} {run.box_texts()}")
        self.expect_lines(self.read_log(prefix), ("start", "/? Opties:"),
                          ("start", "/? /VERYSILENT  -  installeren zonder venster"),
                          ("result", "installed (exit code 0): the switches were shown (/?)"))
        return "no box; the switch list in the log; exit 0"

    def second_copy_leaves_the_log(self, prefix: Prefix):
        """A second copy (exit 7) while the first shows its window claims nothing and writes
        nothing: the first copy's log is neither moved down nor written to by it."""
        stage_installation(prefix, self.args.installed_program)
        first, _ = self.start(prefix, "second_copy-first", f"/LOG={LOG}")
        try:
            first.window(CAPTION)
            log = prefix.unix(LOG)
            first.wait("the first copy's log", lambda: b"folder " in log.read_bytes(), 30)
            before = log.read_bytes()
            second, _ = self.start(prefix, "second_copy-second", "/VERYSILENT", f"/LOG={LOG}")
            code = second.wait_exit(60)
            check(code == 7, f"the second copy: exit {code}, expected 7")
            check(log.read_bytes() == before, "the second copy wrote in the first copy's log")
            check(not log.with_name("kelvaro-update.1.log").exists(),
                  "the second copy moved the first copy's log down")
        finally:
            first.kill()
        return "exit 7; the running copy's log unmoved and unchanged"

    def elevated_copy_not_asked_again(self, prefix: Prefix):
        """A copy that already runs as administrator (under Wine every process does) and still
        may not write the folder (mounted read-only: Wine grants every other right) is never
        offered the relaunch: it says so once and ends with exit 9."""
        root = stage_installation(prefix, self.args.installed_program)
        before = snapshot(root)
        subprocess.run(["mount", "--bind", str(root), str(root)], check=True, capture_output=True)
        try:
            subprocess.run(["mount", "-o", "remount,bind,ro", str(root)], check=True,
                           capture_output=True)
            run, _ = self.start(prefix, "elevated_copy", "/NOSTART", f"/LOG={LOG}")
            run.press_install(run.window(CAPTION))
            notice = run.next_box(title="Mededeling")
            check(notice.text == text("no_rights", folder=INSTALL_DIR), f"the copy said {notice.text!r}")
            run.answer(notice, "Return")
            code = run.wait_exit(60)
            boxes = [b.text for b in run.box_texts()]
        finally:
            subprocess.run(["umount", "-l", str(root)], check=False, capture_output=True)
        check(code == NO_RIGHTS, f"exit {code}, not 9")
        check(len(boxes) == 1, f"boxes: {boxes}")
        check(not differences(before, snapshot(root)), "the installation changed")
        self.expect_lines(self.read_log(prefix),
                          ("result", "no rights to write the folder (exit code 9): the folder "
                                     f"{INSTALL_DIR} cannot be written, not even as administrator"))
        return "no relaunch offered; one notice, exit 9"

    def close_applications(self, prefix: Prefix):
        """/CLOSEAPPLICATIONS on a real run: nothing holds the files (Wine's Restart Manager
        names no holder), so the run installs as without it and the log says so."""
        root = stage_installation(prefix, self.args.installed_program)
        before = snapshot(root)
        run, files = self.start(prefix, "close_applications", "/VERYSILENT", "/CLOSEAPPLICATIONS",
                                f"/LOG={LOG}")
        shown, code = self.watch(run)
        check(code == INSTALLED and not shown, f"exit {code}, shown {shown}")
        self.expect_installed(root, files)
        self.expect_only(before, snapshot(root), self.changed_paths(files))
        self.expect_lines(self.read_log(prefix), ("start", "/CLOSEAPPLICATIONS"),
                          ("check", "/CLOSEAPPLICATIONS: no program holds the "),
                          ("phase", "install: installed"), ("result", "installed (exit code 0)"))
        return "nothing held, installed, exit 0; the log says no program held a file"

    def upgrade_without_program(self, prefix: Prefix):
        """A program upgrade whose payload holds no kelvaro.exe: the rest goes in, the installed
        program stays; the notice says the upgrade was not installed, nothing is asked, exit 4."""
        root = stage_installation(prefix, self.args.installed_program)
        before = snapshot(root)
        run, files = self.start(prefix, "upgrade_without_program", f"/LOG={LOG}", files=payload())
        try:
            run.press_install(run.window(CAPTION))
            notice = self.expect_box(run, text("upgrade_not_installed",
                                               file=INSTALL_DIR + "\\kelvaro.exe"))
            run.answer(notice, "Return")
            code = run.wait_exit(60)
        finally:
            run.kill()
        check(code == DAMAGED, f"exit {code}, expected {DAMAGED}")
        check(len(run.box_texts()) == 1, f"boxes: {[b.text for b in run.box_texts()]}")
        self.expect_installed(root, files)
        self.expect_only(before, snapshot(root), self.changed_paths(files))
        self.expect_no_shortcuts(prefix)
        self.expect_lines(self.read_log(prefix),
                          ("failure", "the program was not upgraded: the package holds no "
                                      f"kelvaro.exe; the installed {INSTALL_DIR}\\kelvaro.exe is kept"),
                          ("result", "damaged package (exit code 4): the program was not upgraded"))
        return "the rest installed, kelvaro.exe kept; the notice alone, exit 4"

    # -- the log never blocks and never disappears ----------------------------------------
    def installs(self, prefix: Prefix, name, *args, root=None, files=None, timeout=90.0):
        """An installing /VERYSILENT run with `args`: exit 0, no window, the payload in place."""
        root = root or stage_installation(prefix, self.args.installed_program)
        run, files = self.start(prefix, name, "/VERYSILENT", *args, files=files)
        shown, code = self.watch(run, timeout)
        check(code == INSTALLED and not shown, f"exit {code}, shown {shown}")
        self.expect_installed(root, files)

    def refused_log(self, prefix: Prefix, name, asked, why):
        self.installs(prefix, name, "/DIR=" + INSTALL_DIR, "/LOG=" + asked)
        log = self.read_log(prefix, prefix.user_windows + r"\Temp\klvupgrade.log")
        self.expect_lines(log, ("start", f"the file {asked} {why}"))
        check(log[-1][1].startswith("installed (exit code 0)"), f"the last line is {log[-1]}")

    def log_device(self, prefix: Prefix):
        """/LOG=COM1 once hung for ever reading the "file", holding the machine's one run."""
        self.refused_log(prefix, "log_device", "COM1", "names the device COM1, which is never "
                                                       "opened as a log")
        return "no hang; exit 0; the default log names the refused device"

    def log_unmakeable(self, prefix: Prefix):
        self.refused_log(prefix, "log_unmakeable", r"\\geen-server\deel\upd.log", "cannot be made")
        return "exit 0; the default log names the unreachable path and why"

    def non_ansi_names(self, prefix: Prefix):
        """/DIR and /LOG outside the ANSI code page: the folder is taken by its short name, the
        log written at its own."""
        stage_installation(prefix, self.args.installed_program)
        folder, logged = "C:\\Beheer\\Кельваро 3", "C:\\Beheer\\журнал.log"
        shutil.copytree(prefix.unix(INSTALL_DIR), prefix.unix(folder), symlinks=True)
        self.installs(prefix, "non_ansi_names", "/DIR=" + folder, "/LOG=" + logged,
                      root=prefix.unix(folder))
        self.expect_lines(self.read_log(prefix, logged), ("start", f"/LOG={logged}"),
                          ("result", "installed (exit code 0)"))
        return "installed into the Cyrillic folder; the log at its Cyrillic name"

    def large_log_ends_with_result(self, prefix: Prefix):
        """15,000 tiny files, whose listing alone would pass the log's bound: the placed files
        past a budget are counted, the log keeps its size and ends with the result."""
        many = {f"Data/veel/{i // 500:03}/{i:05}.txt": b"%d" % i for i in range(15_000)}
        self.installs(prefix, "large_log", "/DIR=" + INSTALL_DIR, f"/LOG={LOG}", timeout=540,
                      files=payload(self.args.update_program, many))
        log = self.read_log(prefix)
        counted = [t for c, t in log if c == "phase" and " more files, not listed" in t]
        check(len(counted) == 1 and log[-1][1].startswith("installed (exit code 0)") and
              prefix.unix(LOG).stat().st_size <= 512 * 1024 + 4200, f"{counted}, {log[-1]}")
        return f"{len(log)} lines; {counted[0]}; the last one the result"

    def deployment_switches(self, prefix: Prefix):
        """A deployment tool's line for an exe installer installs, each habit logged; unknown
        switches end with exit 10, every one named."""
        habits = ("/SUPPRESSMSGBOXES", "/NORESTART", "/SP-")
        self.installs(prefix, "deployment_switches", *habits, f"/LOG={LOG}")
        self.expect_lines(self.read_log(prefix),
                          *[("start", f"{h} accepted, changes nothing") for h in habits])
        run, _ = self.start(prefix, "deployment_switches-unknown", "/VERYSILENT", "/NOCANCEL",
                            "/TASKS=x", "/MERGETASKS=y", f"/LOG={LOG}")
        shown, code = self.watch(run)
        check(code == BAD_SWITCH and not shown, f"exit {code}, shown {shown}")
        self.expect_lines(self.read_log(prefix), ("start", "unknown switch /TASKS=x"),
                          ("start", "unknown switch /MERGETASKS=y"),
                          ("result", "(exit code 10): unknown or malformed switch /TASKS=x "
                                     "/MERGETASKS=y"))
        return "the Inno-style line: exit 0; unknown switches all named, exit 10"

    SCENARIOS = ("verysilent_installs", "verysilent_not_installation", "verysilent_damaged",
                 "silent_shows_progress", "bad_switch", "log_left_alone", "verysilent_help",
                 "second_copy_leaves_the_log", "elevated_copy_not_asked_again", "close_applications",
                 "upgrade_without_program", "log_device", "log_unmakeable", "non_ansi_names",
                 "large_log_ends_with_result", "deployment_switches")

    def run(self, names):
        ok = super().run(names)
        sample = getattr(self, "log_sample", None)
        if sample:
            print("      the log of verysilent_installs:")
            for category, text in sample:
                print(f"        {category:<9}{text}")
        return ok


if __name__ == "__main__":
    main(SwitchSuite, ("stub", "installed-program", "update-program", "work"), __doc__)
