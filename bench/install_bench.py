#!/usr/bin/env python3
"""A whole installation run under Wine against `klvpack.exe extract` of the same payload.

The payload: about 50 MB in 2,000 files (text-like, compressible binary and random data, in
nested folders) plus kelvaro.exe 3.2.0.1, packed by `klvpack build` behind
klvupgradeStub.exe with the caption "Kelvaro Update 3.2.0.1]" (a program upgrade of a staged
Kelvaro 3.1.0.5 installation: no version question). Per run, in one prefix and display:

- installer: from the process start to the final question "Direct starten ?" (read from
  Wine's +msgbox log), minus the harness's fixed pause between the window's appearance and
  its Enter; the question is answered No. The installation is staged afresh before each run.
  Also shown: Enter to the final question (the installation run alone).
- extract: `klvpack.exe extract PACKAGE DIR` into a fresh folder on the same drive, process
  start to exit.
- with --peer nsis, instead: an NSIS installer of the same files (makensis, zlib, the amd64
  Unicode stub), silent (`/S /D=DIR`) into a fresh folder, process start to exit; and the
  package run silent too (`/VERYSILENT`), process start to exit.

Medians of N runs after one warm-up each, interleaved; the ratio installer / peer.

With --replacing, an older version of every payload file already lies in the installation (and
in the folder klvpack extracts into): the update replaces 2,000 existing files.

    python3 bench/install_bench.py [--build build/windows] [--runs 5] [--work DIR] [--replacing]
                                   [--peer extract|nsis]
"""
from __future__ import annotations

import argparse
import random
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

root = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(root / "tests" / "e2e"))
from harness import (INSTALL_DIR, Display, Prefix, Run, make_package, require_locale,  # noqa: E402
                     stage_installation)

CAPTION = "Kelvaro Update 3.2.0.1]"
PAUSE = 0.8  # between the window's appearance and Enter: the timer enables the button


def bench_payload(seed=7) -> dict[str, bytes]:
    """2,000 files, about 50 MB: 1,900 text-like (~15 KB), 90 compressible binaries (~230 KB),
    10 random (~300 KB)."""
    rng = random.Random(seed)
    words = ("Jansen de Vries Bakker Visser Smit Meijer geboren overleden gedoopt begraven "
             "Amsterdam Utrecht Leiden Haarlem zoon dochter van en 1812 1849 1901").split()
    files = {}
    for i in range(1900):
        n = rng.randint(5000, 25000)
        text = " ".join(rng.choice(words) for _ in range(n // 7))
        files[f"Data/Personen/{i // 100:02d}/persoon{i:04d}.txt"] = text[:n].encode()
    for i in range(90):
        n = rng.randint(150_000, 310_000)
        block = bytes(rng.getrandbits(8) for _ in range(256))
        files[f"BDE/Tabellen/tabel{i:02d}.db"] = (block * (n // 256 + 1))[:n]
    for i in range(10):
        files[f"Afbeeldingen/foto{i}.jpg"] = rng.randbytes(rng.randint(250_000, 350_000))
    return files


def lay_down(folder: Path, files: dict[str, bytes] | None):
    """The older files the update replaces, when there are any."""
    for name, data in (files or {}).items():
        path = folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


def nsis_installer(files: dict[str, bytes], work: Path) -> Path:
    """The files as a plain NSIS installer: zlib, the amd64 Unicode stub, silent with /S, its
    folder from /D=."""
    shutil.rmtree(work, ignore_errors=True)
    lay_down(work / "payload", files)
    script = work / "peer.nsi"
    script.write_text("\n".join([
        "Unicode true", "Target amd64-unicode", "SetCompressor zlib",
        'Name "Kelvaro Update"', f'OutFile "{work / "nsis_peer.exe"}"',
        "RequestExecutionLevel user", "InstallDir $PROGRAMFILES64\\Kelvaro",
        'Section', 'SetOutPath "$INSTDIR"', f'File /r "{work / "payload"}/*"', 'SectionEnd', ""]))
    subprocess.run(["makensis", "-V1", str(script)], check=True)
    shutil.rmtree(work / "payload")
    return work / "nsis_peer.exe"


def timed_process(prefix: Prefix, exe: str, *args: str) -> float:
    t0 = time.monotonic()
    res = subprocess.run(["wine", exe, *args], env=prefix.env(), stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    took = time.monotonic() - t0
    if res.returncode != 0:
        raise SystemExit(f"{exe} {' '.join(args)}: exit {res.returncode}")
    return took


def timed_silent(prefix: Prefix, exe: str, program: Path, old: dict[str, bytes] | None) -> float:
    """The package unattended (/VERYSILENT) on a freshly staged installation."""
    shutil.rmtree(prefix.unix(INSTALL_DIR), ignore_errors=True)
    stage_installation(prefix, program)
    lay_down(prefix.unix(INSTALL_DIR), old)
    subprocess.run(["sync"])
    return timed_process(prefix, exe, "/VERYSILENT")


def timed_nsis(prefix: Prefix, exe: str, out: str, old: dict[str, bytes] | None) -> float:
    shutil.rmtree(prefix.unix(out), ignore_errors=True)
    prefix.unix(out).mkdir(parents=True)
    lay_down(prefix.unix(out), old)
    subprocess.run(["sync"])
    return timed_process(prefix, exe, "/S", "/D=" + out)


def timed_install(prefix: Prefix, exe: str, program: Path, log: Path,
                  old: dict[str, bytes] | None = None) -> tuple[float, float]:
    shutil.rmtree(prefix.unix(INSTALL_DIR), ignore_errors=True)
    stage_installation(prefix, program)
    lay_down(prefix.unix(INSTALL_DIR), old)
    subprocess.run(["sync"])
    run = Run(prefix, exe, log, debug="+msgbox")
    try:
        main = run.window(CAPTION, timeout=60)
        shown = time.monotonic()
        time.sleep(PAUSE)
        entered = time.monotonic()
        run.display.key(main, "Return")
        box = run.wait("the final question", lambda: run.box_texts(), timeout=300,
                       interval=0.02)[0]
        asked = time.monotonic()
        if box.text != "Direct starten ?":
            raise SystemExit(f"the installer said {box.text!r}")
        run.answer(run.next_box(), "n")
        run.wait_exit(60)
        return asked - run.started - (entered - shown), asked - entered
    finally:
        run.kill()


def timed_extract(prefix: Prefix, klvpack: str, package: str, out: str,
                  old: dict[str, bytes] | None = None) -> float:
    shutil.rmtree(prefix.unix(out), ignore_errors=True)
    prefix.unix(out).mkdir(parents=True)
    lay_down(prefix.unix(out), old)
    subprocess.run(["sync"])
    t0 = time.monotonic()
    res = subprocess.run(["wine", klvpack, "extract", package, out], env=prefix.env(),
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    took = time.monotonic() - t0
    if res.returncode != 0:
        raise SystemExit(f"klvpack extract: exit {res.returncode}")
    return took


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", type=Path, default=root / "build" / "windows")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--work", type=Path, default=root / "build" / "bench" / "install")
    parser.add_argument("--replacing", action="store_true",
                        help="an older version of every payload file is already in place")
    parser.add_argument("--peer", choices=("extract", "nsis"), default="extract",
                        help="the peer: klvpack extract of the package, or an NSIS installer")
    args = parser.parse_args()
    build = args.build.resolve()
    stub = next(build.glob("src/app/**/klvupgradeStub.exe"))
    klvpack_exe = build / "tools" / "klvpack" / "klvpack.exe"
    e2e = build / "tests" / "e2e"
    installed = e2e / "klv_kelvaro_installed" / "klv_kelvaro_installed.exe"
    update = e2e / "klv_kelvaro_update" / "klv_kelvaro_update.exe"
    require_locale()
    files = bench_payload()
    old = ({name: data[: len(data) // 2] for name, data in bench_payload(seed=8).items()}
           if args.replacing else None)
    files["kelvaro.exe"] = update.read_bytes()
    total = sum(len(v) for v in files.values())
    with Display() as display:
        prefix = Prefix.template(display).copy(args.work / "prefix")
        downloads = prefix.unix(prefix.downloads_windows)
        package = make_package(stub, downloads / "klvupgrade.exe", files, caption=CAPTION)
        shutil.copy2(klvpack_exe, downloads / "klvpack.exe")
        exe = prefix.downloads_windows + "\\klvupgrade.exe"
        klvpack = prefix.downloads_windows + "\\klvpack.exe"
        print(f"payload: {len(files)} files, {total / 1e6:.1f} MB; package "
              f"{package.stat().st_size / 1e6:.1f} MB")
        nsis = None
        if args.peer == "nsis":
            made = nsis_installer(files, args.work / "nsis")
            shutil.copy2(made, downloads / "nsis_peer.exe")
            nsis = prefix.downloads_windows + "\\nsis_peer.exe"
            print(f"NSIS installer (zlib) {made.stat().st_size / 1e6:.1f} MB")
        prefix.start()
        times: dict[str, list[float]] = {}
        try:
            for run in range(args.runs + 1):
                w, i = timed_install(prefix, exe, installed, args.work / "install.log", old)
                round_ = {"whole": w, "install": i}
                if nsis:
                    round_["silent"] = timed_silent(prefix, exe, installed, old)
                    round_["peer"] = timed_nsis(prefix, nsis, "C:\\nsis", old)
                else:
                    round_["peer"] = timed_extract(prefix, klvpack, exe, "C:\\extracted", old)
                if run:  # the first round warms up
                    for key, value in round_.items():
                        times.setdefault(key, []).append(value)
        finally:
            prefix.remove()
    med = {k: statistics.median(v) for k, v in times.items()}
    peer = "NSIS /S" if nsis else "klvpack extract"

    def row(label, key):
        v = times[key]
        print(f"{label:<38} median {med[key]:6.2f} s   (min {min(v):.2f}, max {max(v):.2f}, "
              f"n={len(v)})")
    row("installer, start to final question", "whole")
    print(f"{'installer, Enter to final question':<38} median {med['install']:6.2f} s")
    if nsis:
        row("installer /VERYSILENT, start to exit", "silent")
    row(peer + (", start to exit" if nsis else ""), "peer")
    print(f"ratio installer / {peer}: {med['whole'] / med['peer']:.2f} "
          f"(the run alone: {med['install'] / med['peer']:.2f}"
          + (f"; /VERYSILENT: {med['silent'] / med['peer']:.2f})" if nsis else ")"))
    ratios = [w / p for w, p in zip(times["whole"], times["peer"])]
    print(f"ratio pair by pair: median {statistics.median(ratios):.2f} "
          f"(min {min(ratios):.2f}, max {max(ratios):.2f})")

if __name__ == "__main__":
    main()
