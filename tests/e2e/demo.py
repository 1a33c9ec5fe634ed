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
import signal
import struct
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


def file_version(program: Path) -> str:
    """The file version in a Windows program's version resource (its VS_FIXEDFILEINFO)."""
    try:
        data = program.read_bytes()
    except OSError:
        return "no file"
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0 or at + 16 > len(data):
        return "no version resource"
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def prefix_processes(prefix: Path) -> list[int]:
    """The processes that run in `prefix` (their WINEPREFIX names it): Wine's and the programs'."""
    mark = b"\0WINEPREFIX=" + str(prefix).encode() + b"\0"
    found = []
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit() and int(entry.name) != os.getpid():
            try:
                if mark in b"\0" + (entry / "environ").read_bytes():
                    found.append(int(entry.name))
            except OSError:
                pass
    return found


def end_wine(prefix: Prefix):
    """Ends every Wine process the demo started in its machine: the server first, which takes
    its programs along, then whatever is left."""
    prefix.running = True  # the server may run even if the demo failed before it knew
    prefix.stop()
    left = prefix_processes(prefix.path)
    for pid in left:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    print(f"== Wine     the machine's processes ended"
          + (f" ({len(left)} left by wineserver -k, killed)" if left else ""))


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
        program = root / "kelvaro.exe"
        version_before = file_version(program)
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
        print(f"== kelvaro.exe  {version_before} before, {file_version(program)} after")
        log_windows = prefix.user_windows + r"\Temp\klvupgrade.log"
        log = prefix.unix(log_windows)
        print(f"== the installer's log  {log}\n            ({log_windows}), its last lines:")
        lines = log.read_text("utf-8", "replace").splitlines() if log.exists() else ["(none)"]
        for line in lines[-12:]:
            print("   " + line)
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
            end_wine(prefix)
        display.close()


if __name__ == "__main__":
    main()
