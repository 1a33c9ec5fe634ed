#!/usr/bin/env python3
"""Speed, size and memory of `klvpack build` against Info-ZIP `zip -qr -6` on the extraction
benchmark's payload.

    bench/build_bench.py [--klvpack PATH] [--stub PATH] [--runs N]

The tree (built once, cached in build/bench, about 15 s) is the one bench/extract_bench.py
zips: about 225 MB in about 10,000 files (large text-like files, compressible binaries,
incompressible media, many small source-like files). Medians of N runs after one warm-up run
each, all writing beside the tree:
    klvpack build --stub STUB --payload TREE -o OUT.exe
    zip -qr -6 OUT.zip .          (in the tree)
then the ratios klvpack/zip of the time (target <= 0.75) and of the archive's size, the stub
not counted (target <= 1.01), and the peak RSS of klvpack build (target < 64 MiB).
--stub defaults to the stand-in stub of tests/pack (built with mingw-w64).
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, ".."))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "pack"))
from extract_bench import CACHE, TextSource, binary_like, peak_rss  # noqa: E402
from packlib import Tools  # noqa: E402

TREE_VERSION = 1
TARGETS = {"time": 0.75, "size": 1.01}
MEMORY_TARGET_MIB = 64


def make_tree(root):
    """The files of extract_bench.make_payload, with the same generator and seed."""
    tmp = root + ".tmp"
    shutil.rmtree(tmp, ignore_errors=True)
    rnd = random.Random(2024)
    text = TextSource(rnd)
    files = {}
    for i in range(24):
        files[f"docs/manual{i:02d}.txt"] = lambda: text.take(rnd.randint(3_600_000, 4_800_000))
    for i in range(12):
        files[f"lib/module{i:02d}.dat"] = lambda: binary_like(rnd, rnd.randint(2_000_000, 3_000_000))
    for i in range(10):
        files[f"media/clip{i:02d}.bin"] = lambda: rnd.randbytes(rnd.randint(4_500_000, 5_500_000))
    for i in range(9950):
        files[f"src/group{i // 100:03d}/unit{i:05d}.src"] = lambda: text.take(min(int(rnd.paretovariate(1.6) * 1800), 200_000))
    for name, make in files.items():
        path = os.path.join(tmp, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(make())
    os.replace(tmp, root)


def timed(cmd, cwd=None):
    start = time.perf_counter()
    p = subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    took = time.perf_counter() - start
    if p.returncode != 0:
        sys.exit(f"{' '.join(cmd)} exited with {p.returncode}: {p.stderr.decode()[:500]}")
    return took


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--klvpack", default=os.path.join(ROOT, "build", "native", "tools", "klvpack", "klvpack"))
    ap.add_argument("--stub")
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    if not os.access(args.klvpack, os.X_OK):
        sys.exit(f"not found: {args.klvpack}")
    if not shutil.which("zip"):
        sys.exit("zip is not installed")
    os.makedirs(CACHE, exist_ok=True)
    tree = os.path.join(CACHE, f"build-tree-v{TREE_VERSION}")
    if not os.path.isdir(tree):
        print("building the tree ...", flush=True)
        make_tree(tree)
    stub = args.stub or Tools(os.path.join(CACHE, "build-stub"), klvpack=args.klvpack, runner="").stub()
    files = sum(len(f) for _, _, f in os.walk(tree))
    size = sum(os.path.getsize(os.path.join(d, n)) for d, _, fs in os.walk(tree) for n in fs)
    print(f"tree: {files} files, {size / 1e6:.0f} MB; {os.cpu_count()} cores")

    package = os.path.join(CACHE, "build-out.exe")
    archive = os.path.join(CACHE, "build-out.zip")
    commands = {
        "klvpack": ([args.klvpack, "build", "--stub", stub, "--payload", tree, "-o", package], None),
        "zip": (["zip", "-qr", "-6", archive, "."], tree),
    }
    times = {name: [] for name in commands}
    for run in range(args.runs + 1):          # run 0 is the warm-up
        for name, (cmd, cwd) in commands.items():
            out = package if name == "klvpack" else archive
            if os.path.exists(out):
                os.remove(out)
            os.sync()
            t = timed(cmd, cwd)
            if run:
                times[name].append(t)
    medians = {n: statistics.median(v) for n, v in times.items()}
    for n, v in times.items():
        print(f"{n:8s} median {medians[n]:6.2f} s   runs: " + " ".join(f"{x:.2f}" for x in v))
    stub_size = os.path.getsize(stub)
    sizes = {"klvpack": os.path.getsize(package) - stub_size, "zip": os.path.getsize(archive)}
    print(f"archive  klvpack {sizes['klvpack']:,} bytes (package less the stub), zip {sizes['zip']:,} bytes")
    ok = True
    for what, ratio in (("time", medians["klvpack"] / medians["zip"]), ("size", sizes["klvpack"] / sizes["zip"])):
        good = ratio <= TARGETS[what]
        ok &= good
        print(f"{what:5s} klvpack/zip = {ratio:.3f}   (target <= {TARGETS[what]})  {'ok' if good else 'MISSED'}")
    os.remove(package)
    rss = peak_rss(commands["klvpack"][0]) / 1024
    good = rss < MEMORY_TARGET_MIB
    ok &= good
    print(f"peak RSS of klvpack build: {rss:.1f} MiB   (target < {MEMORY_TARGET_MIB})  {'ok' if good else 'MISSED'}")
    for f in (package, archive):
        if os.path.exists(f):
            os.remove(f)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
