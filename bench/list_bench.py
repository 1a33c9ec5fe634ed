#!/usr/bin/env python3
"""Listing speed and directory memory of `klvpack list` on a 100,000-entry archive.

    bench/list_bench.py [KLVPACK] [--runs N] [--entries N]

Times `klvpack list ARCHIVE >/dev/null` against `unzip -Z1 ARCHIVE >/dev/null` (median of N
runs each, one run not counted as warm-up) and reports the memory the directory costs per
entry: peak RSS on the big archive minus peak RSS on an empty one, divided by the entries.
The archives are cached in build/bench.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))


def make_archive(path, entries):
    """Tiny stored files in a few hundred folders, names of typical length."""
    if os.path.exists(path):
        return
    tmp = path + ".tmp"
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_STORED) as zf:
        for i in range(entries):
            zi = zipfile.ZipInfo(f"program/modules/group{i // 250:03d}/component_{i:06d}.dat",
                                 (2023, 6, 1, 12, 0, 0))
            zi.external_attr = 0x20
            zf.writestr(zi, b"%d\n" % i)
    os.replace(tmp, path)


def run_measured(cmd):
    """Runs cmd with output discarded; returns (seconds, peak RSS in KiB, exit code)."""
    start = time.perf_counter()
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    elapsed = time.perf_counter() - start
    p.returncode = os.waitstatus_to_exitcode(status)
    return elapsed, usage.ru_maxrss, p.returncode


def peak_rss(cmd):
    """Peak RSS in KiB of cmd. Measured through /usr/bin/time when it is there: a child forked
    from this (large) Python process would count the parent's pages in its peak."""
    if os.access("/usr/bin/time", os.X_OK):
        p = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, text=True)
        return int(p.stderr.strip().splitlines()[-1])
    return run_measured(cmd)[1]


def median_time(cmd, runs):
    run_measured(cmd)                      # warm-up: page cache, dynamic loader
    times = []
    for _ in range(runs):
        t, _, code = run_measured(cmd)
        if code != 0:
            sys.exit(f"{' '.join(cmd)} exited with {code}")
        times.append(t)
    return statistics.median(times)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("klvpack", nargs="?", default=os.path.join(ROOT, "build", "native", "tools", "klvpack", "klvpack"))
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--entries", type=int, default=100_000)
    args = ap.parse_args()
    if not os.access(args.klvpack, os.X_OK):
        sys.exit(f"klvpack not found at {args.klvpack}")

    cache = os.path.join(ROOT, "build", "bench")
    os.makedirs(cache, exist_ok=True)
    big = os.path.join(cache, f"list{args.entries}.zip")
    empty = os.path.join(cache, "empty.zip")
    make_archive(big, args.entries)
    make_archive(empty, 0)
    with zipfile.ZipFile(big) as zf:
        names = [len(i.orig_filename.encode()) for i in zf.infolist()]

    klv = median_time([args.klvpack, "list", big], args.runs)
    unzip = median_time(["unzip", "-Z1", big], args.runs)
    rss_big = min(peak_rss([args.klvpack, "list", big]) for _ in range(3))
    rss_empty = min(peak_rss([args.klvpack, "list", empty]) for _ in range(3))

    print(f"archive: {big} ({len(names)} entries, {os.path.getsize(big)} bytes)")
    print(f"klvpack list : median {klv * 1000:8.1f} ms of {args.runs}")
    print(f"unzip -Z1    : median {unzip * 1000:8.1f} ms of {args.runs}")
    print(f"ratio klvpack/unzip: {klv / unzip:.2f}")
    print(f"peak RSS: {rss_big} KiB with the archive, {rss_empty} KiB empty")
    print(f"directory memory: {(rss_big - rss_empty) * 1024 / len(names):.0f} bytes per entry "
          f"(average name length {statistics.mean(names):.1f} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
