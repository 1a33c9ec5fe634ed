#!/usr/bin/env python3
"""Extraction of a 100 MB WinZip AES-256 archive made by 7zz: klvpack against `7zz x`.

Usage: python3 bench/aes_bench.py [--klvpack PATH] [--runs 5] [--out DIR]

The archive (cached in build/bench) holds 100 MB in 20 files of text-like and random data,
deflated and encrypted with `7zz a -tzip -mem=AES256`. Each run extracts into a folder of its
own below --out (default build/bench); all of them are removed after the last run.
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CACHE = os.path.join(ROOT, "build", "bench")
PASSWORD = "secret"


def make_archive(path):
    src = path + ".src"
    shutil.rmtree(src, ignore_errors=True)
    os.makedirs(src)
    rnd = random.Random(11)
    words = [bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9)))
             for _ in range(3000)]
    for i in range(20):
        with open(os.path.join(src, f"part{i:02d}.dat"), "wb") as f:
            if i % 4 == 3:
                f.write(rnd.randbytes(5_000_000))
            else:
                out = bytearray()
                while len(out) < 5_000_000:
                    out += b" ".join(rnd.choice(words) for _ in range(12)) + b"\n"
                f.write(out[:5_000_000])
    subprocess.run(["7zz", "a", "-tzip", "-mem=AES256", f"-p{PASSWORD}", "-mx=5", path, "."],
                   cwd=src, check=True, stdout=subprocess.DEVNULL)
    shutil.rmtree(src)


def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--klvpack", default=os.path.join(ROOT, "build/native/tools/klvpack/klvpack"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--out", default=CACHE)
    args = ap.parse_args()
    os.makedirs(CACHE, exist_ok=True)
    archive = os.path.join(CACHE, "aes256-100mb.zip")
    if not os.path.exists(archive):
        make_archive(archive)
    out = os.path.join(args.out, "aes-out")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    commands = {
        "klvpack": lambda d: [args.klvpack, "extract", "--password", PASSWORD, archive, d],
        "7zz": lambda d: ["7zz", "x", f"-p{PASSWORD}", "-y", f"-o{d}", archive],
    }
    times = {name: [] for name in commands}
    for run in range(args.runs + 1):  # run 0 is the warm-up
        for name, cmd in commands.items():
            target = os.path.join(out, f"{name}-{run}")
            os.makedirs(target)
            t = timed(cmd(target))
            if run:
                times[name].append(t)
    shutil.rmtree(out, ignore_errors=True)
    med = {n: statistics.median(t) for n, t in times.items()}
    print(f"archive: {archive} ({os.path.getsize(archive) / 1e6:.0f} MB)")
    for n in commands:
        print(f"  {n:8s} {med[n]:7.3f} s  (runs {', '.join(f'{t:.2f}' for t in times[n])})")
    r = med["klvpack"] / med["7zz"]
    print(f"klvpack/7zz {r:.2f}   target <= 1.00  {'met' if r <= 1.0 else 'MISSED'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
