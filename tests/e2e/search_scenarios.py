#!/usr/bin/env python3
"""The drive search end to end: installations on drives of their own (links in the prefix's
dosdevices, no Z: over the Linux root), found by the installer under Wine in a virtual X
display, watched through the window's caption and driven with xdotool.

    search_scenarios.py --stub klvupgradeStub.exe --installed-program A.exe
                        --update-program B.exe --accessible-names N.exe --work DIR
                        [--screenshots DIR] [--keep] [NAME ...]

N.exe reads the names a screen reader gets (MSAA) for a window's controls and its focus.

Every run starts with no registry value and no default folder, so the first paint asks
whether to search; the answer is Yes.
"""
from __future__ import annotations

import os
import re
import shutil
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import (STORED_CAPTION, Prefix, Run, Window, check, differences,  # noqa: E402
                     installation_files, lnk_target, payload, snapshot)
from scenarios import (DONE, NOT_FOUND_QUESTION, NOT_FOUND_TITLE, START_QUESTION,  # noqa: E402
                       VERSION_TITLE, Suite, main)
from texts import text  # noqa: E402

CHOICE_CAPTION = text("choice_caption")
COUNT = re.compile("^" + re.escape(text("found_locations_caption", count="N"))
                   .replace("N", r"(\d+)") + "$")
CONFIGURED_CAPTION = "Kelvaro rapporten 2026"
# Where the main window's cancel button lies in its client area (left, top, width, height).
CANCEL_BUTTON = (328, 108, 75, 25)
# The choice dialog's entry buttons in its client area: left 20, top 43 + 25 i, 20 x 20.
ENTRY_LEFT, ENTRY_TOP, ENTRY_PITCH, ENTRY_SIZE = 20, 43, 25, 20
# The filler tree: folders, each with a file that is no program file.
WIDE, DEEP = 60, 50


def stage_installation_at(root: Path, program: Path, complete=True) -> Path:
    """A Kelvaro 3 installation below a Unix folder; without `complete`, a decoy that has the
    program file but not SC\\Slavenreg.sc."""
    for name, data in installation_files(program).items():
        if not complete and name == "SC/Slavenreg.sc":
            continue
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return root


def filler(root: Path, wide=WIDE, deep=DEEP) -> Path:
    """`wide` folders of `deep` folders each below `root`: the bulk a search walks through.
    Made once per work folder and shared by the runs (nothing writes to it)."""
    stamp = root / ".klv-filler"
    if stamp.exists() and stamp.read_text() == f"{wide}x{deep}":
        return root
    shutil.rmtree(root, ignore_errors=True)
    for i in range(wide):
        for j in range(deep):
            leaf = root / f"Map{i:03}" / f"Sub{j:03}"
            leaf.mkdir(parents=True)
            (leaf / "notities.txt").write_bytes(b"geen programma\r\n")
    stamp.write_text(f"{wide}x{deep}")
    return root


class SearchSuite(Suite):
    def __init__(self, args):
        super().__init__(args)
        self.big = filler(self.work / "filler")

    # -- the shared run loop's hooks ---------------------------------------------------------
    def prefix_for(self, name) -> Prefix:
        # Made by each scenario, with its drives (with_drives).
        return Prefix(self.work / name, self.display)

    def after_scenario(self, prefix: Prefix):
        check(not (prefix.path / "dosdevices" / "z:").exists(),
              "the prefix got a Z: drive: the search walked the Linux root")

    def forget(self, name, prefix: Prefix):
        prefix.remove()
        shutil.rmtree(self.work / f"{name}-drives", ignore_errors=True)

    # -- shared steps ----------------------------------------------------------------------
    def with_drives(self, prefix: Prefix, drives: dict[str, Path]) -> Prefix:
        """The run's prefix, made anew: its drives besides C: are exactly `drives` (letter ->
        Unix folder). The template has no Z:. The links are in place before the prefix's
        wineserver first starts (Prefix.start ends any server left for the folder first), so
        every program of the prefix sees these drives."""
        prefix = self.template.copy(prefix.path)
        devices = prefix.path / "dosdevices"
        for entry in devices.iterdir():
            if re.fullmatch(r"[a-z]:", entry.name) and entry.name != "c:":
                entry.unlink()
        for letter, folder in drives.items():
            folder.mkdir(parents=True, exist_ok=True)
            os.symlink(folder.resolve(), devices / f"{letter}:")
        return prefix

    def drive(self, prefix: Prefix, letter: str) -> Path:
        """A fresh, empty folder for a drive of this run."""
        path = self.work / f"{prefix.path.name}-drives" / letter
        shutil.rmtree(path, ignore_errors=True)
        path.mkdir(parents=True)
        return path

    @staticmethod
    def no_registry(prefix: Prefix):
        prefix.set_install_registry(None)
        for default in ("kelvaro", "Kelvaro"):
            check(not prefix.unix("C:\\" + default).exists(), "the default folder exists")

    def start_search(self, run: Run) -> None:
        """Answers the first paint's question with Yes: the search starts."""
        box = run.next_box(title=NOT_FOUND_TITLE)
        check(box.text == NOT_FOUND_QUESTION, f"first box {box.text!r}")
        run.answer(box, "Return")

    def main_window(self, run: Run, timeout=30.0):
        """The installer's window, whatever its caption says at the moment (the search puts
        its count there)."""
        def find():
            for w in self.display.windows():
                if w.name in (STORED_CAPTION, CONFIGURED_CAPTION) or COUNT.match(w.name):
                    return w
            return None
        return run.wait("the installer's window", find, timeout)

    def watch_caption(self, run: Run, main, until, timeout=120.0) -> list[str]:
        """The main window's captions, read over and over until `until()` holds: what the
        search showed while it ran."""
        seen: list[str] = []
        deadline = time.monotonic() + timeout
        while True:
            name = self.display.xdotool("getwindowname", main.wid).rstrip("\n")
            if name and (not seen or seen[-1] != name):
                seen.append(name)
                if self.args.screenshots and COUNT.match(name) and int(COUNT.match(name)[1]):
                    # The window as the user sees it while it searches: the count in its title.
                    self.display.screenshot(main, self.shots / "searching.png")
            done = until()
            if done:
                return seen
            check(run.proc.poll() is None, f"the program ended during the search; seen {seen}")
            check(time.monotonic() < deadline, f"the search did not end; captions {seen}")
            time.sleep(0.03)

    def choice_dialog(self):
        shown = [w for w in self.display.windows() if w.name == CHOICE_CAPTION]
        return shown[-1] if shown else None

    def search_ended(self, run: Run, boxes_before: int, counting=False):
        """The search is over: the choice dialog is up, a box is shown, or the caption is back
        after it showed a count (`counting`: it has shown one already)."""
        counted = [True] if counting else []

        def ended():
            if self.choice_dialog():
                return "dialog"
            if len(run.box_texts()) > boxes_before:
                return "box"
            main = self.main_window(run)
            if COUNT.match(main.name):
                counted.append(main.name)
            elif counted and main.name in (STORED_CAPTION, CONFIGURED_CAPTION):
                return "caption"
            return None
        return ended

    def click(self, window, x, y):
        """A left click at a point of a window's client area."""
        left, top = window.frame
        self.display.xdotool("mousemove", "--window", window.wid, str(x + left), str(y + top),
                             "click", "1", check_ok=True)

    @staticmethod
    def counts(captions: list[str]) -> list[int]:
        return [int(m.group(1)) for m in map(COUNT.match, captions) if m]

    @staticmethod
    def expect_unchanged(what, before, root: Path):
        changes = differences(before, snapshot(root))
        check(not changes, f"{what} changed:\n  " + "\n  ".join(changes))

    def accessible(self, prefix: Prefix, *window: str) -> tuple[list[tuple[str, str, str]], str]:
        """What a screen reader gets for the window's controls that take the focus: (class,
        text, name) each, and the name of the control with the focus."""
        res = prefix.wine(str(self.args.accessible_names), *window, check_ok=False)
        rows = [tuple(line.split("|", 2)) for line in
                res.stdout.decode("utf-8", "replace").replace("\r\n", "\n").splitlines()
                if line.count("|") >= 2]
        focus = [r[2] for r in rows if r[0] == "focus"]
        return [r for r in rows if r[0] != "focus"], (focus[0].rstrip() if focus else "")

    def configured_files(self):
        ini = f"Caption={CONFIGURED_CAPTION}\r\n".encode("cp1252")
        return payload(extra={"stub.ini": ini})

    # -- scenarios -------------------------------------------------------------------------
    def two_installations(self, prefix: Prefix):
        """C: has neither registry value nor default folder; D: and E: hold one complete
        installation each and E: a decoy beside it; the second entry of the choice is
        installed."""
        d, e = self.drive(prefix, "d"), self.drive(prefix, "e")
        prefix = self.with_drives(prefix, {"d": d, "e": e})
        first = stage_installation_at(d / "Kelvaro3", self.args.installed_program)
        second = stage_installation_at(e / "Stamboom" / "Kelvaro", self.args.installed_program)
        decoy = stage_installation_at(e / "Oud" / "Kelvaro", self.args.installed_program,
                                      complete=False)
        filler(d / "Archief", wide=10, deep=50)
        filler(e / "Archief", wide=20, deep=50)
        self.no_registry(prefix)
        files = payload(self.args.update_program)
        exe = self.package(prefix, "klvupgrade-3.2.0.1.exe", files)
        before_first, before_decoy = snapshot(first), snapshot(decoy)

        run = Run(prefix, exe, self.work / "two_installations.log", debug="+msgbox,+text")
        try:
            self.start_search(run)
            main = self.main_window(run)
            captions = self.watch_caption(run, main, self.search_ended(run, 1))
            counts = self.counts(captions)
            check(len(set(counts)) >= 2 and max(counts) >= 1,
                  f"the caption did not count the finds: {captions}")
            dialog = run.wait("the choice dialog", self.choice_dialog, 10)
            check(self.main_window(run).name == STORED_CAPTION,
                  f"behind the dialog the caption is {self.main_window(run).name!r}")
            check((dialog.x, dialog.y) >= (441, 221), f"dialog at {dialog.x},{dialog.y}")
            time.sleep(0.5)
            self.display.screenshot(dialog, self.shots / "choice_dialog.png")
            # The labels as drawn once the dialog showed its heading: exactly the two folders.
            drawn = run.log_bytes().decode("latin-1").split(text("choice_heading").strip(), 1)
            check(len(drawn) == 2, "the dialog's heading was never drawn")
            labels = sorted(set(re.findall(r'L"([a-z]:(?:\\\\[^"\\]*)+\\\\)"', drawn[1])))
            expected = sorted({r"d:\\Kelvaro3\\", r"e:\\Stamboom\\Kelvaro\\"})
            check(labels == expected, f"the dialog lists {labels}, expected {expected}")
            # Each entry is named by its folder, for a screen reader.
            controls, _ = self.accessible(prefix, "#32770", CHOICE_CAPTION)
            entries = sorted(name for cls, text, name in controls if cls == "Button" and not text)
            check(entries == sorted(e.replace("\\\\", "\\") for e in expected),
                  f"the screen reader names the entries {controls}")
            i = 1
            self.click(dialog, ENTRY_LEFT + ENTRY_SIZE // 2,
                       ENTRY_TOP + ENTRY_PITCH * i + ENTRY_SIZE // 2)
            run.wait("the dialog to close", lambda: not self.choice_dialog(), 10)
            main = self.main_window(run)
            # After the search and the choice the focus is on the install button again, and the
            # folder field and the browse button have names a screen reader speaks.
            run.wait("the focus on Installeren",
                     lambda: self.accessible(prefix, "TUpgradeForm")[1] == "Installeren", 20)
            controls, _ = self.accessible(prefix, "TUpgradeForm")
            names = {(cls if cls == "Edit" else text.replace("&", "").rstrip()): name.rstrip()
                     for cls, text, name in controls}
            check(names.get("Edit") == "Kelvaro map" and names.get("...") == "Bladeren"
                  and names.get("Annuleren") == "Annuleren"
                  and names.get("Installeren") == "Installeren",
                  f"the screen reader names the window's controls {controls}")
            run.press_install(main)
            box = run.next_box(title=VERSION_TITLE)
            run.answer(box, "n")
            box = run.next_box()
            check(box.text == START_QUESTION, f"box {box.text!r} instead of the start question")
            run.answer(box, "n")
            run.wait_exit()
        finally:
            run.kill()
        self.expect_installed(second, files)
        self.expect_unchanged("the first installation", before_first, first)
        self.expect_unchanged("the decoy", before_decoy, decoy)
        target = lnk_target(prefix.desktop / "Kelvaro.lnk")
        check(target.lower() == r"e:\stamboom\kelvaro\kelvaro.exe",
              f"the desktop shortcut points at {target!r}")
        boxes = [b.text[:30] for b in run.box_texts()]
        check(len(boxes) == 3, f"boxes: {boxes}")
        shown = sorted(set(counts))
        return f"captions counted {shown}; chose E: of 2 (decoy left out), installed there"

    def one_installation(self, prefix: Prefix):
        """One complete installation on D: (a decoy on E:): the folder is filled, no dialog."""
        d, e = self.drive(prefix, "d"), self.drive(prefix, "e")
        prefix = self.with_drives(prefix, {"d": d, "e": e})
        only = stage_installation_at(d / "Programmas" / "Kelvaro 3", self.args.installed_program)
        decoy = stage_installation_at(e / "Kelvaro", self.args.installed_program, complete=False)
        self.no_registry(prefix)
        files = self.configured_files()
        exe = self.package(prefix, "klvrapporten.exe", files)
        before_decoy = snapshot(decoy)
        run = Run(prefix, exe, self.work / "one_installation.log")
        try:
            self.start_search(run)
            main = self.main_window(run)
            # The package's own caption comes after the search (the configuration is applied
            # last); a dialog would come before it.
            ended = run.wait("the search to end", lambda: self.choice_dialog() or [
                w for w in self.display.windows() if w.name == CONFIGURED_CAPTION], timeout=120)
            check(not isinstance(ended, Window), "a choice dialog for one installation")
            main = ended[-1]
            run.press_install(main)
            box = run.next_box()
            check(box.text == DONE, f"box {box.text!r}, expected {DONE!r}")
            run.answer(box, "Return")
            run.wait_exit()
        finally:
            run.kill()
        check(not any(w.name == CHOICE_CAPTION for w in self.display.windows()), "a dialog")
        self.expect_installed(only, files)
        self.expect_unchanged("the decoy", before_decoy, decoy)
        return "d:\\Programmas\\Kelvaro 3\\ filled in without a dialog and installed"

    def stopped_search(self, prefix: Prefix, how: str):
        """D: holds an installation, E: a big tree, F: another installation. The search is
        stopped while it walks E:; D:'s installation is what it offers."""
        d, f = self.drive(prefix, "d"), self.drive(prefix, "f")
        name = prefix.path.name
        prefix = self.with_drives(prefix, {"d": d, "e": self.big, "f": f})
        kept = stage_installation_at(d / "Kelvaro", self.args.installed_program)
        later = stage_installation_at(f / "Kelvaro", self.args.installed_program)
        self.no_registry(prefix)
        files = self.configured_files()
        exe = self.package(prefix, "klvrapporten.exe", files)
        before_later = snapshot(later)
        run = Run(prefix, exe, self.work / f"{name}.log")
        try:
            self.start_search(run)
            main = self.main_window(run)
            # D: is small: once its installation counts, the search is on E:.
            self.watch_caption(run, main, lambda: self.counts([
                self.display.xdotool("getwindowname", main.wid).strip()]) == [1], timeout=60)
            ended = self.search_ended(run, 1, counting=True)
            if how == "escape":
                # Held down as a user holds it, until the search has ended.
                self.display.xdotool("windowfocus", "--sync", main.wid)
                stopped = time.monotonic()
                self.display.xdotool("keydown", "Escape")
                try:
                    how_ended = run.wait("the search to end", ended, timeout=30, interval=0.02)
                finally:
                    self.display.xdotool("keyup", "Escape")
            else:
                x, y, w, h = CANCEL_BUTTON
                stopped = time.monotonic()
                self.click(main, x + w // 2, y + h // 2)
                how_ended = run.wait("the search to end", ended, timeout=30, interval=0.02)
            took = time.monotonic() - stopped
            check(how_ended == "caption", f"the search ended with a {how_ended}: "
                  + (run.box_texts()[-1].text if how_ended == "box" else CHOICE_CAPTION))
            check(took < 5, f"the search ran on {took:.1f} s after the stop")
            main = run.window(CONFIGURED_CAPTION)
            run.press_install(main)
            box = run.next_box()
            check(box.text == DONE, f"box {box.text!r}, expected {DONE!r}")
            run.answer(box, "Return")
            run.wait_exit()
        finally:
            run.kill()
        self.expect_installed(kept, files)
        self.expect_unchanged("the installation on F:", before_later, later)
        return f"stopped on E: ({took * 1000:.0f} ms to the restored caption); D: filled in"

    def escape_stops(self, prefix: Prefix):
        return self.stopped_search(prefix, "escape")

    def cancel_stops(self, prefix: Prefix):
        return self.stopped_search(prefix, "cancel")

    SCENARIOS = ("two_installations", "one_installation", "escape_stops", "cancel_stops")



if __name__ == "__main__":
    main(SearchSuite, ("stub", "installed-program", "update-program", "accessible-names", "work"),
         __doc__)
