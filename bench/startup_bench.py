#!/usr/bin/env python3
"""Start to window under Wine: a package (klvupgradeStub.exe with a small payload) on a staged
Kelvaro 3 installation against bench/win32/min_window.c, a program that opens one window of
the same size and paints it (also built with a manifest asking for common controls 6, as the
installer's does, to show what that costs). Same prefix, same persistent wineserver, same
virtual display, runs interleaved after one warm-up each; medians.

"Window shown" is the moment the X server reports the window mapped (MapNotify, watched by
one `xev` on the root window, so nothing polls while the program starts); the window's name
is checked afterwards with xdotool. Both programs paint right after they show the window.

    python3 bench/startup_bench.py [--build build/windows32] [--runs 11] [--work DIR]
                                   [--baseline OTHER/klvupgradeStub.exe]

By default the shipped 32-bit stub against the 32-bit floor programs (both from the windows32
build), in a 64-bit prefix (WoW64, as on most machines); --build build/windows times the
x86-64 build against its own floors. --baseline adds another stub (an earlier build, of the
same architecture) to the same interleaved rounds, packaged alike: a paired before and after.
"""
from __future__ import annotations

import argparse
import os
import queue
import re
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

root = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(root / "tests" / "e2e"))
from harness import (Display, Prefix, make_package, payload, require_locale,  # noqa: E402
                     stage_installation)

CAPTION = "Kelvaro Update 3.2.0.1]"


class MapWatcher:
    """One X client on the root window that notes the time of every top-level window's
    MapNotify, so that nothing polls while a program starts."""

    def __init__(self, display: Display):
        self.proc = subprocess.Popen(
            ["stdbuf", "-oL", "xev", "-root", "-event", "substructure"],
            env={**os.environ, "DISPLAY": display.name}, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, text=True)
        self.maps: queue.Queue[float] = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        time.sleep(0.5)

    def _read(self):
        for line in self.proc.stdout:
            if line.startswith("MapNotify"):
                self.maps.put(time.monotonic())

    def first_map_after(self, t0: float, timeout: float) -> float | None:
        deadline = time.monotonic() + timeout
        while True:
            try:
                t = self.maps.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                return None
            if t >= t0:
                return t

    def close(self):
        self.proc.kill()
        self.proc.wait()


def time_to_window(prefix: Prefix, watcher: MapWatcher, exe: str, name: str) -> float:
    folder = prefix.unix(exe.rsplit("\\", 1)[0] + "\\")
    pattern = "^" + re.escape(name) + "$"
    env = {**prefix.env(), "DISPLAY": prefix.display.name}
    t0 = time.monotonic()
    proc = subprocess.Popen(["wine", exe], cwd=folder, env=prefix.env(),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    try:
        mapped = watcher.first_map_after(t0, 60)
        if mapped is None:
            raise SystemExit(f"{exe}: no window within 60 s (exit {proc.poll()})")
        # The window mapped must be the program's own.
        for _ in range(50):
            if subprocess.run(["xdotool", "search", "--onlyvisible", "--name", pattern],
                              capture_output=True, env=env).stdout.strip():
                return mapped - t0
            time.sleep(0.1)
        raise SystemExit(f"{exe}: a window was mapped, but not {name!r}")
    finally:
        # The program alone is killed (wine execs into it): the wineserver, the desktop and the
        # services it may have started stay for the next run.
        if proc.poll() is None:
            os.kill(proc.pid, signal.SIGKILL)
        proc.wait()
        time.sleep(0.5)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", type=Path, default=root / "build" / "windows32")
    parser.add_argument("--runs", type=int, default=11)
    parser.add_argument("--work", type=Path, default=root / "build" / "bench" / "startup")
    parser.add_argument("--baseline", type=Path, help="another klvupgradeStub.exe to time alike")
    args = parser.parse_args()
    build = args.build.resolve()
    stub = next(build.glob("src/app/**/klvupgradeStub.exe"))
    floor = build / "bench" / "win32" / "klv_min_window.exe"
    floor_cc6 = build / "bench" / "win32" / "klv_min_window_cc6.exe"
    e2e = build / "tests" / "e2e"
    require_locale()
    with Display() as display:
        prefix = Prefix.template(display).copy(args.work / "prefix")
        stage_installation(prefix, e2e / "klv_kelvaro_installed" / "klv_kelvaro_installed.exe")
        downloads = prefix.unix(prefix.downloads_windows)
        make_package(stub, downloads / "klvupgrade.exe",
                     payload(e2e / "klv_kelvaro_update" / "klv_kelvaro_update.exe"),
                     caption=CAPTION)
        if args.baseline:
            make_package(args.baseline.resolve(), downloads / "baseline.exe",
                         payload(e2e / "klv_kelvaro_update" / "klv_kelvaro_update.exe"),
                         caption=CAPTION, klvpack=build / "tools" / "klvpack" / "klvpack.exe")
        shutil.copy2(floor, downloads / "min_window.exe")
        shutil.copy2(floor_cc6, downloads / "min_window_cc6.exe")
        subjects = {
            "klvupgradeStub": (prefix.downloads_windows + "\\klvupgrade.exe", CAPTION),
            "min_window": (prefix.downloads_windows + "\\min_window.exe", "min_window"),
            "min_window_cc6": (prefix.downloads_windows + "\\min_window_cc6.exe", "min_window"),
        }
        if args.baseline:
            subjects["baseline"] = (prefix.downloads_windows + "\\baseline.exe", CAPTION)
        times = {k: [] for k in subjects}
        prefix.start()
        watcher = MapWatcher(display)
        try:
            for run in range(args.runs + 1):
                for key, (exe, name) in subjects.items():
                    t = time_to_window(prefix, watcher, exe, name)
                    if run:  # the first round warms the prefix up
                        times[key].append(t)
        finally:
            watcher.close()
            prefix.remove()
    med = {k: statistics.median(v) for k, v in times.items()}
    for key, values in times.items():
        print(f"{key:15} median {med[key] * 1000:7.0f} ms   "
              f"(min {min(values) * 1000:.0f}, max {max(values) * 1000:.0f}, n={len(values)})")
    ratio = med["klvupgradeStub"] / med["min_window"]
    print(f"ratio klvupgradeStub / min_window: {ratio:.2f} (target <= 1.3)")
    print(f"ratio klvupgradeStub / min_window_cc6: "
          f"{med['klvupgradeStub'] / med['min_window_cc6']:.2f} (the floor with common controls 6)")
    if args.baseline:
        print(f"ratio klvupgradeStub / baseline: {med['klvupgradeStub'] / med['baseline']:.2f}")


if __name__ == "__main__":
    main()
