#!/usr/bin/env python3
"""The installer at another DPI than 96, end to end: LogPixels set in the prefix, a real
package run under Wine, the windows' layout read back from the system by window_layout.exe
(sizes, the controls' rectangles in pixels, what their texts take in the font at that DPI) and
the fonts the installer made from Wine's +font trace.

    dpi_scenarios.py --stub klvupgradeStub.exe --installed-program A.exe --update-program B.exe
                     --window-layout L.exe --work DIR [--screenshots DIR] [--keep] [NAME ...]

A scenario's name ends in its scale in percent: the build runs 150; any other
(program_upgrade_125, choice_dialog_200) runs by hand.
"""
from __future__ import annotations

import re
import shutil
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import STORED_CAPTION, Prefix, Run, check, payload, stage_installation  # noqa: E402
from scenarios import main  # noqa: E402
from search_scenarios import CHOICE_CAPTION, SearchSuite, stage_installation_at  # noqa: E402

# The main window at 96 DPI: its client area and each control by id (100 + its number in
# app/view.h) as left, top, width, height; the heading's font 19 pixels high, the others' 11.
CLIENT = (441, 144)
LAYOUT = {100: (8, 8, 425, 25), 101: (8, 32, 337, 25), 102: (352, 4, 84, 55),
          103: (190, 108, 131, 25), 104: (328, 108, 75, 25), 105: (8, 64, 393, 21),
          106: (408, 62, 25, 25), 107: (8, 108, 161, 25), 108: (8, 88, 393, 17)}
HEADING, FONT, HEADING_FONT = 100, 11, 19
# The choice dialog's entries at 96 DPI: a button at (20, 43 + 25 i), 20 x 20, its label at
# (45, 47 + 25 i); the cancel button 113 x 33, centred, 5 above the bottom edge.
ENTRY, LABEL, PITCH, ENTRY_SIZE, CANCEL = (20, 43), (45, 47), 25, 20, (113, 33)


def scaled(length: int, dpi: int) -> int:
    """As the installer scales (MulDiv: to the nearest, halves up)."""
    return (length * dpi + 48) // 96


def near(got: int, expected: int, what: str, slack=1):
    check(abs(got - expected) <= slack, f"{what}: {got}, expected {expected} (within {slack})")


class Scales(tuple):
    """The scenarios the build runs; any other scale of theirs is taken on the command line."""
    def __contains__(self, name):
        return bool(re.fullmatch(r"(program_upgrade|choice_dialog)_\d+", name))


class DpiSuite(SearchSuite):
    SCENARIOS = Scales(("program_upgrade_150", "choice_dialog_150"))

    def __getattr__(self, name):
        if name not in self.SCENARIOS:
            raise AttributeError(name)
        base, _, percent = name.rpartition("_")
        scenario = self.upgrade_at if base == "program_upgrade" else self.choice_at
        return lambda prefix: scenario(prefix, int(percent) * 96 // 100)

    def started_at(self, prefix: Prefix, dpi: int, drives: dict[str, Path]) -> Prefix:
        """The scenario's prefix with `drives`, its programs at `dpi`: LogPixels of the user's
        desktop, which Wine reads as a program starts (the server starts again, and with it
        Wine's desktop process, at that DPI too)."""
        prefix = self.with_drives(prefix, drives)
        prefix.wine("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t",
                    "REG_DWORD", "/d", str(dpi), "/f")
        prefix.stop()
        shutil.copy2(self.args.window_layout, prefix.unix("C:\\windows\\window_layout.exe"))
        return prefix

    @staticmethod
    def layout(prefix: Prefix, cls: str, title: str, dpi: int):
        """The window's (dpi, awareness, outer w, h, client w, h) and its children (class, id,
        left, top, width, height, text width, text height), read by window_layout.exe."""
        fonts = [str(scaled(FONT, dpi)), f"{HEADING}:{scaled(HEADING_FONT, dpi)}"]
        res = prefix.wine("C:\\windows\\window_layout.exe", cls, title, *fonts, check_ok=False)
        check(res.returncode == 0, f"window_layout found no window {cls} {title!r}")
        rows = [line.strip().split("|") for line in res.stdout.decode("latin-1").splitlines()]
        window = tuple(map(int, rows[0][1:]))
        check(window[:2] == (dpi, 2), f"the window is at {window[0]} DPI, awareness "
              f"{window[1]}; expected {dpi}, per monitor (2)")
        return window, [(r[1], *map(int, r[2:])) for r in rows[1:] if r[0] == "child"]

    # -- scenarios -------------------------------------------------------------------------
    def upgrade_at(self, prefix: Prefix, dpi: int):
        """The window of a program upgrade: every control at the 96-DPI layout scaled, its
        text inside it (a button's within its edges, the check box's beside its box; the
        explanation wraps onto two lines, whose second cell ends a pixel below it at 96 DPI
        too), the fonts made at the scaled heights."""
        prefix = self.started_at(prefix, dpi, {})
        stage_installation(prefix, self.args.installed_program)
        exe = self.package(prefix, "klvupgrade-3.2.0.1.exe", payload(self.args.update_program))
        run = Run(prefix, exe, self.work / f"{prefix.path.name}.log", debug="+msgbox,+font")
        try:
            main = run.window(STORED_CAPTION)
            window, children = self.layout(prefix, "TUpgradeForm", STORED_CAPTION, dpi)
            near(window[4], scaled(CLIENT[0], dpi), "client width")
            near(window[5], scaled(CLIENT[1], dpi), "client height")
            check((main.width, main.height) == (window[2:4] if self.display.framed else
                                                window[4:6]), f"the X window is {main}")
            check(sorted(c[1] for c in children) == sorted(LAYOUT), f"controls {children}")
            for cls, ident, x, y, w, h, text_w, text_h in children:
                left, top, width, height = LAYOUT[ident]
                what = f"{cls} {ident}"
                near(x, scaled(left, dpi), f"{what} left")
                near(y, scaled(top, dpi), f"{what} top")
                near(w, scaled(left + width, dpi) - scaled(left, dpi), f"{what} width")
                near(h, scaled(top + height, dpi) - scaled(top, dpi), f"{what} height")
                room = w - (scaled(17, dpi) if ident == 108 else
                            2 * scaled(4, dpi) if cls == "Button" else 0)
                check(text_w <= room, f"{what}: its text takes {text_w} of {room} pixels")
                spare = scaled(1, dpi) + 1 if ident == 101 else 0
                check(text_h <= h + spare, f"{what}: its text takes {text_h} of {h} high")
            made = {int(n) for n in re.findall(r'HfontCreate \((-?\d+) [^)]*\) L"MS Sans Serif"',
                                               run.log_bytes().decode("latin-1"))}
            for pixels in (FONT, HEADING_FONT):
                check(-scaled(pixels, dpi) in made, f"no font of {-scaled(pixels, dpi)}: {made}")
            time.sleep(0.5)
            self.shot(main, f"program-upgrade-{dpi * 100 // 96}.png")
        finally:
            run.kill()
        return (f"{dpi} DPI: client {window[4]}x{window[5]}, every control at 96-DPI x "
                f"{dpi / 96:g}, fonts {scaled(FONT, dpi)} and {scaled(HEADING_FONT, dpi)} px")

    def choice_at(self, prefix: Prefix, dpi: int):
        """Two installations found on the drives: the dialog's entries, labels and cancel
        button at the scale, each label as large as its text."""
        d, e = self.drive(prefix, "d"), self.drive(prefix, "e")
        prefix = self.started_at(prefix, dpi, {"d": d, "e": e})
        stage_installation_at(d / "Kelvaro3", self.args.installed_program)
        stage_installation_at(e / "Stamboom" / "Kelvaro", self.args.installed_program)
        self.no_registry(prefix)
        exe = self.package(prefix, "klvupgrade-3.2.0.1.exe", payload(self.args.update_program))
        run = Run(prefix, exe, self.work / f"{prefix.path.name}.log")
        try:
            self.start_search(run)
            shown = run.wait("the choice dialog", self.choice_dialog, 60)
            window, children = self.layout(prefix, "#32770", CHOICE_CAPTION, dpi)
            # Wherever its scaled place would put it, the dialog is on the screen, whole.
            width, height = self.display.screen
            check(0 <= shown.x and shown.x + shown.width <= width and 0 <= shown.y and
                  shown.y + shown.height <= height, f"the dialog lies past the screen: {shown}")
        finally:
            run.kill()
        entries = sorted(c for c in children if c[0] == "Button" and c[1] >= 1000)
        labels = sorted((c for c in children if c[1] == 0xFFFF), key=lambda c: c[3])
        check(len(entries) == 2 and len(labels) == 2, f"controls {children}")
        for i, (entry, label) in enumerate(zip(entries, labels)):
            near(entry[2], scaled(ENTRY[0], dpi), f"entry {i} left")
            near(entry[3], scaled(ENTRY[1] + PITCH * i, dpi), f"entry {i} top")
            near(entry[4], scaled(ENTRY_SIZE, dpi), f"entry {i} width")
            near(entry[5], scaled(ENTRY_SIZE, dpi), f"entry {i} height")
            near(label[2], scaled(LABEL[0], dpi), f"label {i} left")
            near(label[3], scaled(LABEL[1] + PITCH * i, dpi), f"label {i} top")
            check(label[6:] == label[4:6], f"label {i} is {label[4:6]}, its text {label[6:]}")
        cancel = next(c for c in children if c[1] == 2)
        near(cancel[4], scaled(CANCEL[0], dpi), "cancel width")
        near(cancel[5], scaled(CANCEL[1], dpi), "cancel height")
        near(cancel[2], (window[4] - cancel[4]) // 2, "cancel left (centred)", scaled(1, dpi))
        near(window[5] - cancel[3] - cancel[5], scaled(5, dpi), "below the cancel button")
        # The height its logic asks: the last row's bottom, the cancel button and 60 more.
        near(window[3], scaled(ENTRY[1] + PITCH + ENTRY_SIZE + CANCEL[1] + 60, dpi), "height")
        return (f"{dpi} DPI: dialog {window[2]}x{window[3]}, rows {scaled(PITCH, dpi)} apart, "
                "labels sized to their text")


if __name__ == "__main__":
    main(DpiSuite, ("stub", "installed-program", "update-program", "window-layout", "work"),
         __doc__)
