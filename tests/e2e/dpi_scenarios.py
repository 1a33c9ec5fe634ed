#!/usr/bin/env python3
"""The installer at another DPI than 96, end to end: the prefix's LogPixels set to the scale's
DPI, real packages run under Wine, and the windows' layout read back from the system by
window_layout.exe (sizes and the rectangles of the controls, in pixels, and what their texts
take in the installer's font at that DPI); the fonts the installer made are read from Wine's
+font trace.

    dpi_scenarios.py --stub klvupgradeStub.exe --installed-program A.exe --update-program B.exe
                     --window-layout L.exe --work DIR [--screenshots DIR] [--keep] [NAME ...]

A scenario's name ends in its scale in percent; the build runs them at 150, and any other
(program_upgrade_125, choice_dialog_200) runs by hand.
"""
from __future__ import annotations

import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import STORED_CAPTION, Prefix, Run, check, payload, stage_installation  # noqa: E402
from scenarios import main  # noqa: E402
from search_scenarios import (CHOICE_CAPTION, SearchSuite,  # noqa: E402
                              stage_installation_at)

# The main window at 96 DPI: its client area, and each control by id (100 + its number in
# app/view.h) as left, top, width, height; the heading's font is 19 pixels high, the others' 11.
CLIENT = (441, 144)
LAYOUT = {100: (8, 8, 425, 25), 101: (8, 32, 337, 25), 102: (352, 4, 84, 55),
          103: (190, 108, 131, 25), 104: (328, 108, 75, 25), 105: (8, 64, 393, 21),
          106: (408, 62, 25, 25), 107: (8, 108, 161, 25), 108: (8, 88, 393, 17)}
HEADING, FONT, HEADING_FONT = 100, 11, 19
BOTTOM_ANCHORED = (103, 104, 107, 108)
SHORTER = 50  # a package whose Stub.ini has folderkeuze=false
# The choice dialog's entries at 96 DPI: a button at (20, 43 + 25 i), 20 x 20, its label at
# (45, 47 + 25 i); the cancel button 113 x 33, centred, 5 above the bottom edge.
ENTRY, LABEL, PITCH, ENTRY_SIZE, CANCEL = (20, 43), (45, 47), 25, 20, (113, 33)


def scaled(length: int, dpi: int) -> int:
    """As the installer scales (MulDiv: to the nearest, halves away from zero)."""
    return (length * dpi + 48) // 96


def near(got: int, expected: int, what: str, slack=1):
    check(abs(got - expected) <= slack, f"{what}: {got}, expected {expected} (within {slack})")


class Scales(tuple):
    """The scenarios the build runs; any other scale of theirs is taken on the command line."""
    def __contains__(self, name):
        return bool(re.fullmatch(r"(program_upgrade|configured_package|choice_dialog)_\d+", name))


class DpiSuite(SearchSuite):
    SCENARIOS = Scales(("program_upgrade_150", "configured_package_150", "choice_dialog_150"))

    def __getattr__(self, name):
        base, _, percent = name.rpartition("_")
        if name in self.SCENARIOS:
            scenario = {"program_upgrade": self.upgrade_at, "configured_package":
                        self.configured_at, "choice_dialog": self.choice_at}[base]
            return lambda prefix: scenario(prefix, int(percent) * 96 // 100)
        raise AttributeError(name)

    # -- shared steps ----------------------------------------------------------------------
    @staticmethod
    def at_dpi(prefix: Prefix, dpi: int):
        """The DPI every program the prefix starts from now on runs at: LogPixels of the user's
        desktop settings, which Wine reads as a program starts. The server starts again, and
        with it Wine's desktop process, at the new DPI too."""
        prefix.wine("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t",
                    "REG_DWORD", "/d", str(dpi), "/f")
        prefix.stop()

    def layout(self, prefix: Prefix, cls: str, title: str, dpi: int, heading_id=None):
        """The window's (dpi, awareness, outer w, h, client w, h) and its children (class, id,
        left, top, width, height, text width, text height), as window_layout.exe reads them."""
        tool = prefix.unix("C:\\windows\\window_layout.exe")
        if not tool.exists():
            shutil.copy2(self.args.window_layout, tool)
        fonts = [str(scaled(FONT, dpi))]
        if heading_id is not None:
            fonts.append(f"{heading_id}:{scaled(HEADING_FONT, dpi)}")
        res = prefix.wine("C:\\windows\\window_layout.exe", cls, title, *fonts, check_ok=False)
        check(res.returncode == 0, f"window_layout found no window {cls} {title!r}")
        window, children = None, []
        for line in res.stdout.decode("latin-1").splitlines():
            kind, *fields = line.strip().split("|")
            if kind == "window":
                window = tuple(map(int, fields))
            elif kind == "child":
                children.append((fields[0], *map(int, fields[1:])))
        check(window is not None, f"window_layout printed no window: {res.stdout[-300:]!r}")
        check(window[:2] == (dpi, 2),
              f"the window is at {window[0]} DPI, awareness {window[1]}; expected {dpi}, "
              "per monitor (2)")
        return window, children

    @staticmethod
    def expect_fonts(run: Run, dpi: int, *pixels: int):
        """The installer made its fonts at the DPI's height (Wine's +font trace)."""
        log = run.log_bytes().decode("latin-1")
        made = {int(h) for h in re.findall(r'HfontCreate \((-?\d+) [^)]*\) L"MS Sans Serif"', log)}
        for p in pixels:
            check(-scaled(p, dpi) in made, f"no font of {-scaled(p, dpi)} (at {dpi} DPI) in {made}")

    @staticmethod
    def expect_text_fits(cls, ident, width, height, text_w, text_h, dpi):
        """A control's text inside its rectangle: a button's within its edges, a check box's
        beside its box; the explanation, which wraps, on as many lines as fit at 96 DPI,
        where its second line's cell ends a pixel below it."""
        room = {"Button": width - 2 * scaled(4, dpi), "Static": width}.get(cls, width)
        if cls == "Button" and ident == 108:
            room = width - scaled(13 + 4, dpi)
        check(text_w <= room, f"{cls} {ident}: its text takes {text_w} of {room} pixels")
        spare = scaled(1, dpi) + 1 if cls == "Static" and ident == 101 else 0
        check(text_h <= height + spare, f"{cls} {ident}: its text takes {text_h} of {height} high")

    def expect_main_layout(self, prefix: Prefix, title: str, dpi: int, shorter=0,
                           visible=tuple(LAYOUT)):
        window, children = self.layout(prefix, "TUpgradeForm", title, dpi, HEADING)
        near(window[4], scaled(CLIENT[0], dpi), "client width")
        near(window[5], scaled(CLIENT[1], dpi) - scaled(shorter, dpi), "client height")
        shown = {c[1]: c for c in children}
        check(sorted(shown) == sorted(visible), f"controls {sorted(shown)}")
        for ident in visible:
            left, top, width, height = LAYOUT[ident]
            cls, _, x, y, w, h, text_w, text_h = shown[ident]
            up = scaled(shorter, dpi) if ident in BOTTOM_ANCHORED else 0
            near(x, scaled(left, dpi), f"{cls} {ident} left")
            near(y, scaled(top, dpi) - up, f"{cls} {ident} top")
            near(w, scaled(left + width, dpi) - scaled(left, dpi), f"{cls} {ident} width")
            near(h, scaled(top + height, dpi) - scaled(top, dpi), f"{cls} {ident} height")
            self.expect_text_fits(cls, ident, w, h, text_w, text_h, dpi)
        return window, shown

    def client_origin(self, window) -> tuple[int, int]:
        """Where the client area begins in a screenshot of the window: its frame's left and top
        width as Wine draws it at this DPI on a framed display (its borders are as wide on each
        side), at the X window's origin otherwise."""
        if not self.display.framed:
            return 0, 0
        side = (window[2] - window[4]) // 2
        return side, window[3] - window[5] - side

    # -- scenarios -------------------------------------------------------------------------
    def upgrade_at(self, prefix: Prefix, dpi: int):
        prefix = self.with_drives(prefix, {})
        self.at_dpi(prefix, dpi)
        stage_installation(prefix, self.args.installed_program)
        exe = self.package(prefix, "klvupgrade-3.2.0.1.exe", payload(self.args.update_program))
        run = Run(prefix, exe, self.work / f"{prefix.path.name}.log", debug="+msgbox,+font")
        try:
            main = run.window(STORED_CAPTION)
            window, _ = self.expect_main_layout(prefix, STORED_CAPTION, dpi)
            self.expect_fonts(run, dpi, FONT, HEADING_FONT)
            size = (main.width, main.height)
            shown = window[2:4] if self.display.framed else window[4:6]
            check(size == shown, f"the X window is {size}, the window {window[2:]}")
            time.sleep(0.5)
            self.shot(main, f"program-upgrade-{dpi * 100 // 96}.png")
        finally:
            run.kill()
        return (f"{dpi} DPI: client {window[4]}x{window[5]}, every control at 96-DPI x "
                f"{dpi / 96:g}, fonts {scaled(FONT, dpi)} and {scaled(HEADING_FONT, dpi)} px")

    def configured_at(self, prefix: Prefix, dpi: int):
        """folderkeuze=false: the window is 50 96-DPI pixels shorter, its bottom controls as
        much higher; the package's picture (red left, blue right) drawn larger by the scale."""
        prefix = self.with_drives(prefix, {})
        self.at_dpi(prefix, dpi)
        stage_installation(prefix, self.args.installed_program)
        picture = self.work / "halves.bmp"
        subprocess.run(["convert", "-size", "84x55", "xc:#d01010", "-fill", "#1010d0", "-draw",
                        "rectangle 42,0 83,54", "-type", "TrueColor", f"BMP3:{picture}"],
                       check=True)
        ini = (b"Caption=Kelvaro rapporten 2026\r\nHeader=Nieuwe rapporten\r\n"
               b"folderkeuze=false\r\n")
        files = payload(extra={"stub.ini": ini, "Stub.bmp": picture.read_bytes()})
        exe = self.package(prefix, "klvrapporten.exe", files)
        run = Run(prefix, exe, self.work / f"{prefix.path.name}.log", debug="+msgbox")
        try:
            main = run.window("Kelvaro rapporten 2026")
            # Without the folder's field, its buttons and the check box.
            window, shown = self.expect_main_layout(prefix, "Kelvaro rapporten 2026", dpi,
                                                    SHORTER, (100, 101, 102, 103, 104))
            time.sleep(0.5)
            shot = self.work / f"{prefix.path.name}.png"
            self.display.screenshot(main, shot)
            _, _, x, y, w, h, _, _ = shown[102]
            left, top = self.client_origin(window)
            # Where the halves meet at this scale: a little left of it red, right of it blue
            # (at 96 DPI both points would be blue, or the background).
            middle = scaled(42, dpi)
            for dx, colour in ((middle - 4, "red"), (middle + 4, "blue"),
                               (scaled(80, dpi), "blue")):
                pixel = subprocess.run(["convert", str(shot), "-crop",
                                        f"1x1+{left + x + dx}+{top + y + scaled(50, dpi)}",
                                        "-depth", "8", "txt:-"],
                                       capture_output=True, text=True).stdout
                rgb = re.search(r"\((\d+),(\d+),(\d+)", pixel)
                check(rgb, f"no pixel read from the screenshot: {pixel!r}")
                r, _, b = map(int, rgb.groups())
                check((r > 150 > b) if colour == "red" else (b > 150 > r),
                      f"the picture at +{dx},+{scaled(50, dpi)} is {rgb.group(0)}), not {colour}")
        finally:
            run.kill()
        return (f"{dpi} DPI: {scaled(SHORTER, dpi)} px shorter, the picture {w}x{h}, its halves "
                f"meeting at {middle}")

    def choice_at(self, prefix: Prefix, dpi: int):
        """Two installations found on the drives: the dialog's entries, labels and cancel
        button at the scale, each label as wide as its text."""
        d, e = self.drive(prefix, "d"), self.drive(prefix, "e")
        prefix = self.with_drives(prefix, {"d": d, "e": e})
        self.at_dpi(prefix, dpi)
        stage_installation_at(d / "Kelvaro3", self.args.installed_program)
        stage_installation_at(e / "Stamboom" / "Kelvaro", self.args.installed_program)
        self.no_registry(prefix)
        exe = self.package(prefix, "klvupgrade-3.2.0.1.exe", payload(self.args.update_program))
        run = Run(prefix, exe, self.work / f"{prefix.path.name}.log")
        try:
            self.start_search(run)
            dialog = run.wait("the choice dialog", self.choice_dialog, 60)
            window, children = self.layout(prefix, "#32770", CHOICE_CAPTION, dpi)
            entries = sorted((c for c in children if c[0] == "Button" and c[1] >= 1000),
                             key=lambda c: c[1])
            labels = sorted((c for c in children if c[0] == "Static" and c[1] != 100),
                            key=lambda c: c[3])
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
            # The outer height the dialog's logic asks: the last row's bottom, the cancel
            # button and 60 more.
            near(window[3], scaled(ENTRY[1] + PITCH + ENTRY_SIZE + CANCEL[1] + 60, dpi),
                 "outer height")
            self.display.key(dialog, "Escape")
        finally:
            run.kill()
        return (f"{dpi} DPI: dialog {window[2]}x{window[3]}, rows {scaled(PITCH, dpi)} apart, "
                "labels sized to their text")


if __name__ == "__main__":
    main(DpiSuite, ("stub", "installed-program", "update-program", "window-layout", "work"),
         __doc__)
