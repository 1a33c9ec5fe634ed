#!/usr/bin/env python3
"""The demo of scripts/demo: an update package of Kelvaro 3.2.0.1 installed under Wine on a
staged Kelvaro 3.1.0.5 installation, on the user's display (the user answers) or, without one,
in a virtual display with the keys sent here (every question answered with its default).
Prints what the installer asked and what changed in the installation.
"""
from __future__ import annotations

import argparse
import os
import shutil
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import (CAFE, INSTALL_DIR, Display, Failure, MachineFailure, Prefix, TEMPLATES,  # noqa: E402
                     Run, differences, lnk_target, make_package, payload, require_locale,
                     snapshot, stage_installation)

CAPTION = "Kelvaro Update 3.2.0.1]"


def show_text(text):
    return "\n      ".join(text.replace("\r\n", "\n").replace("\r", "\n").split("\n"))


def build_machine(work: Path, display: Display, installed_program: Path):
    """The Wine machine with Kelvaro 3.1.0.5 installed: the prefix and the installation's root.
    A failure of Wine itself (wineboot, wineserver, the prefix, the registry) is told with the
    command and its output, and the machine is made once more from nothing."""
    for attempt in (1, 2):
        prefix = None
        try:
            template = Prefix.template(display)
            prefix = template.copy(work / "machine")
            return prefix, stage_installation(prefix, installed_program)
        except (Failure, OSError) as e:
            what = e if isinstance(e, Failure) else f"{type(e).__name__}: {e}"
            print(f"demo: the Wine machine could not be made (attempt {attempt} of 2):\n  {what}",
                  file=sys.stderr, flush=True)
            if prefix:
                prefix.remove()
            Prefix(TEMPLATES / "win64", display).remove()
            if attempt == 2:
                raise MachineFailure("the Wine machine could not be made twice; see above") from None
            print("demo: making the Wine machine again from nothing", file=sys.stderr, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--stub", required=True, type=Path)
    parser.add_argument("--installed-program", required=True, type=Path)
    parser.add_argument("--update-program", required=True, type=Path)
    parser.add_argument("--work", required=True, type=Path)
    parser.add_argument("--screenshots", type=Path, help="the committed screenshots")
    parser.add_argument("--auto", action="store_true",
                        help="a virtual display and the keys sent, even when DISPLAY is set")
    args = parser.parse_args()
    require_locale()
    work = args.work.resolve()
    work.mkdir(parents=True, exist_ok=True)
    interactive = bool(os.environ.get("DISPLAY")) and not args.auto
    # The virtual display shows the windows as a user sees them, framed (screenshots).
    display = Display(os.environ["DISPLAY"] if interactive else None, framed=not interactive)
    prefix = None
    try:
        prefix, root = build_machine(work, display, args.installed_program)
        extra = {
            "Data/Plaatsnamen.txt": "Amsterdam\r\n's-Hertogenbosch\r\nLeeuwarden\r\n"
                                    "IJsselstein\r\n".encode("cp1252"),
            "Help/Lees mij.txt": "Wat is er nieuw in Kelvaro 3.2: rapporten, één overzicht "
                                 "per generatie.\r\n".encode("cp1252"),
        }
        files = payload(args.update_program, extra)
        name = "klvupgrade-3.2.0.1.exe"
        package = make_package(args.stub, prefix.unix(prefix.downloads_windows) / name, files,
                               caption=CAPTION)
        shutil.copy2(package, work / name)
        exe = prefix.downloads_windows + "\\" + name
        print(f"== package  {work / name} ({package.stat().st_size:,} bytes): the installer "
              f"with {len(files)} files appended, caption {CAPTION!r}")
        print(f"== machine  Wine prefix {prefix.path}, display {display.name}")
        print(f"            Kelvaro 3.1.0.5 in {INSTALL_DIR} (HKLM\\SOFTWARE\\KLV, 32-bit view)")
        print(f"== running  {exe}")
        before = snapshot(root)
        run = Run(prefix, exe, work / "wine.log", debug="+msgbox")
        main_window = run.window(CAPTION, timeout=90)
        print(f"   window   {main_window.name!r}, {main_window.width}x{main_window.height}")
        shots = work / "screenshots"
        time.sleep(0.5)
        display.screenshot(main_window, shots / "window.png")
        if interactive:
            print("   The installer is open on your display: press Installeren and answer it.")
        shown = time.monotonic()
        pressed = False
        idle_since = shown
        deadline = shown + (600 if interactive else 120)
        while run.proc.poll() is None and time.monotonic() < deadline:
            boxes = run.box_texts()
            if len(boxes) > run.answered:
                if interactive:
                    time.sleep(0.3)
                    top = [w for w in display.windows() if w.name != CAPTION]
                    print(f"   asked    [{top[-1].name if top else '?'}]\n      "
                          f"{show_text(boxes[run.answered].text)}")
                    run.answered += 1
                    continue
                box = run.next_box()
                print(f"   asked    [{box.window.name}]\n      {show_text(box.text)}")
                display.screenshot(box.window, shots / f"box-{run.answered + 1}.png")
                run.answer(box, "Return")
                print("      -> Enter (the default button)")
                idle_since = time.monotonic()
            elif interactive:
                pass
            elif not pressed and time.monotonic() - idle_since > 1.0:
                display.key(main_window, "Return")
                print("   pressed  Enter in the window (Installeren, the default button)")
                pressed = True
                idle_since = time.monotonic()
            elif time.monotonic() - idle_since > 8:
                print("   nothing more happens (no installation to install into?): Annuleren")
                display.key(main_window, "alt+a")
                idle_since = time.monotonic()
            time.sleep(0.2)
        code = run.wait_exit(30)
        print(f"   ended    exit code {code}")
        started = root / "kelvaro-started.txt"
        for _ in range(50):
            if started.exists():
                break
            time.sleep(0.2)
        print("== what changed in the installation")
        for line in differences(before, snapshot(root)) or ["nothing"]:
            print("   " + line)
        cafe = root / CAFE
        if cafe.exists() and cafe.read_bytes() == files[CAFE]:
            print(f"   {CAFE}: installed byte for byte under its own name")
        for link in (prefix.desktop / "Kelvaro.lnk", prefix.start_menu / "Kelvaro.lnk"):
            if link.exists():
                print(f"   shortcut {link.relative_to(prefix.path)} -> {lnk_target(link)}")
        if started.exists():
            print(f"   the installed program was started: {started.read_text().strip()}")
        print("== screenshots")
        print(f"   this run: {shots}")
        if args.screenshots:
            print(f"   every mode (committed): {args.screenshots}")
    except Failure as e:
        sys.exit(f"demo: {e}")
    finally:
        if prefix:
            prefix.stop()
        display.close()


if __name__ == "__main__":
    main()
