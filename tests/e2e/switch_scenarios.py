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
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import (INSTALL_DIR, Prefix, Run, check, differences, payload,  # noqa: E402
                     snapshot, stage_installation)
from scenarios import Suite, main  # noqa: E402

CAPTION = "Kelvaro Update 3.2.0.1]"
LOG = r"C:\Beheer\logs\kelvaro-update.log"
NEW_LOG = r"C:\Beheer\nieuw\logs\update.log"  # in folders that do not exist yet
# Exit codes (src/app/exit_codes.h).
INSTALLED, NO_INSTALLATION, DAMAGED, BAD_SWITCH = 0, 2, 4, 10
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
        """Every window the program showed until it ended (names), and its exit code."""
        seen = []
        deadline = time.monotonic() + timeout
        while run.proc.poll() is None:
            for w in self.display.windows():
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
                          ("question", "Direct starten ? -> Nee (unattended, not shown)"),
                          ("result", "installed (exit code 0)"))
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
        self.expect_lines(log, ("folder", r"no Kelvaro 3 installation at C:\Programmas\Leeg (/DIR)"),
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
                          ("question", "notice [Mededeling] Het updatebestand is beschadigd"),
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
                          ("question", "Direct starten ? not asked (/NOSTART)"),
                          ("result", "installed (exit code 0)"))
        return "the window shown, nothing asked, exit 0"

    def bad_switch(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program)
        before = snapshot(root)
        run, _ = self.start(prefix, "bad_switch", "/SILENT", "/FOLDER=C:\\Kelvaro3")
        box = run.next_box()
        check(box.text.startswith("Onbekende of onjuiste optie: /FOLDER=C:\\Kelvaro3"),
              f"box {box.text!r}")
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

    SCENARIOS = ("verysilent_installs", "verysilent_not_installation", "verysilent_damaged",
                 "silent_shows_progress", "bad_switch")

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
