#!/usr/bin/env python3
"""Extraction speed and memory of `klvpack extract` on an installer-sized payload.

    bench/extract_bench.py [--klvpack PATH] [--floor PATH] [--runs N] [--out DIR]

The payload (built once, cached in build/bench): about 225 MB in about 10,000 files, zipped
with Info-ZIP `zip -6 -n .bin` (the incompressible .bin files stored): large text-like files,
compressible binaries, incompressible media and many small source-like files.

Each run extracts into a fresh folder on the same disk (the folder is made before and removed
after the timed part, with a sync in between so one tool's write-back does not land on the
next one's clock). Medians of N runs after one warm-up run each:
    klvpack extract ARCHIVE DIR >/dev/null
    bsdtar -xf ARCHIVE -C DIR
    unzip -qo ARCHIVE -d DIR
    extract_floor ARCHIVE       (the engine reading and inflating everything, no disk writes)
and, to put the floor in context, the time to create the payload's folders and files empty
(from this script: the file-system cost every extractor pays and the floor does not). Last,
the peak RSS of klvpack extract on the payload minus that on an empty archive.

--out chooses where the fresh folders go (default: build/bench, beside the archive).
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
CACHE = os.path.join(ROOT, "build", "bench")
PAYLOAD_VERSION = 1
TARGETS = {"bsdtar": 0.9, "unzip": 0.8, "floor": 1.25}
MEMORY_TARGET_MIB = 16


# ---- the payload ------------------------------------------------------------------------------

class TextSource:
    """Word salad with a Zipf-like word distribution: compresses about like prose or code."""

    def __init__(self, rnd):
        self.rnd = rnd
        letters = "etaoinshrdlucmfwypvbgkjqxz"
        self.words = ["".join(rnd.choices(letters, k=rnd.randint(2, 11))) for _ in range(6000)]
        self.words += ["{", "}", "=", "(", ")", ";\n", ",", ".\n", "\n    ", "0", "1", "return"]
        self.cum = []
        total = 0.0
        for rank in range(len(self.words)):
            total += 1.0 / (rank + 8)
            self.cum.append(total)
        self.rnd.shuffle(self.words)

    def take(self, size):
        out, have = [], 0
        while have < size:
            k = min(20000, (size - have) // 5 + 16)
            block = " ".join(self.rnd.choices(self.words, cum_weights=self.cum, k=k)).encode()
            out.append(block)
            have += len(block)
        return b"".join(out)[:size]


def binary_like(rnd, size):
    """Records of small numbers with runs of zeros between: compresses to about half."""
    table = bytes(i % 29 for i in range(256))
    parts, have = [], 0
    while have < size:
        part = rnd.randbytes(rnd.randint(2000, 20000)).translate(table) + bytes(rnd.randint(0, 3000))
        parts.append(part)
        have += len(part)
    return b"".join(parts)[:size]


def make_payload(archive):
    src = archive + ".src"
    shutil.rmtree(src, ignore_errors=True)
    rnd = random.Random(2024)
    text = TextSource(rnd)
    files = {}
    for i in range(24):                                   # ~100 MB of large text files
        files[f"docs/manual{i:02d}.txt"] = lambda: text.take(rnd.randint(3_600_000, 4_800_000))
    for i in range(12):                                   # ~30 MB of compressible binaries
        files[f"lib/module{i:02d}.dat"] = lambda: binary_like(rnd, rnd.randint(2_000_000, 3_000_000))
    for i in range(10):                                   # ~50 MB stored
        files[f"media/clip{i:02d}.bin"] = lambda: rnd.randbytes(rnd.randint(4_500_000, 5_500_000))
    for i in range(9950):                                 # ~45 MB in small files
        files[f"src/group{i // 100:03d}/unit{i:05d}.src"] = lambda: text.take(min(int(rnd.paretovariate(1.6) * 1800), 200_000))
    total = 0
    for name, make in files.items():
        path = os.path.join(src, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        data = make()
        total += len(data)
        with open(path, "wb") as f:
            f.write(data)
    tmp = archive + ".tmp"
    if os.path.exists(tmp):
        os.remove(tmp)
    subprocess.run(["zip", "-q", "-r", "-6", "-n", ".bin", tmp, "docs", "lib", "media", "src"],
                   cwd=src, check=True)
    os.replace(tmp, archive)
    shutil.rmtree(src)
    return total


# ---- measuring --------------------------------------------------------------------------------

def timed(cmd):
    start = time.perf_counter()
    p = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    took = time.perf_counter() - start
    if p.returncode != 0:
        sys.exit(f"{' '.join(cmd)} exited with {p.returncode}: {p.stderr.decode()[:500]}")
    return took


def create_empty(root, names):
    """Seconds to create every folder and file of the payload, empty."""
    start = time.perf_counter()
    for n in names:
        path = os.path.join(root, n)
        if n.endswith("/"):
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        os.close(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644))
    return time.perf_counter() - start


def peak_rss(cmd):
    """Peak RSS in KiB, from /usr/bin/time (a child forked from this Python process would
    count the parent's pages in its own peak)."""
    p = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, text=True)
    return int(p.stderr.strip().splitlines()[-1])


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--klvpack", default=os.path.join(ROOT, "build", "native", "tools", "klvpack", "klvpack"))
    ap.add_argument("--floor", default=os.path.join(ROOT, "build", "native", "bench", "extract_floor"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--out", default=CACHE, help="parent of the extraction folders")
    args = ap.parse_args()
    for tool in (args.klvpack, args.floor):
        if not os.access(tool, os.X_OK):
            sys.exit(f"not found: {tool}")
    for tool in ("zip", "unzip", "bsdtar"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is not installed")

    os.makedirs(CACHE, exist_ok=True)
    archive = os.path.join(CACHE, f"extract-payload-v{PAYLOAD_VERSION}.zip")
    if not os.path.exists(archive):
        start = time.time()
        print("building the payload ...", flush=True)
        make_payload(archive)
        print(f"  done in {time.time() - start:.0f} s")
    empty = os.path.join(CACHE, "extract-empty.zip")
    if not os.path.exists(empty):
        with zipfile.ZipFile(empty, "w"):
            pass
    with zipfile.ZipFile(archive) as zf:
        infos = zf.infolist()
    files = [i for i in infos if not i.is_dir()]
    unpacked = sum(i.file_size for i in files)
    stored = sum(i.file_size for i in files if i.compress_type == zipfile.ZIP_STORED)
    print(f"payload: {len(files)} files, {unpacked / 1e6:.0f} MB unpacked ({stored / 1e6:.0f} MB stored), "
          f"archive {os.path.getsize(archive) / 1e6:.0f} MB")

    out = os.path.join(args.out, "extract-out")
    names = [i.filename for i in infos]
    commands = {
        "klvpack": lambda d: [args.klvpack, "extract", archive, d],
        "bsdtar": lambda d: ["bsdtar", "-xf", archive, "-C", d],
        "unzip": lambda d: ["unzip", "-qo", archive, "-d", d],
        "floor": lambda d: [args.floor, archive],
        "create": lambda d: ("create", d),
    }
    times = {name: [] for name in commands}
    # Every run writes into a folder of its own, and all of them are removed only after the
    # last timed run: on a disk mounted with online discard, deleting a tree makes the next
    # writer pay for the discards, which would charge one tool for another's clean-up.
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    os.sync()
    for run in range(args.runs + 1):                  # run 0 is the warm-up
        for name, cmd in commands.items():
            target = os.path.join(out, f"{name}-{run}")
            os.makedirs(target)
            c = cmd(target)
            t = create_empty(target, names) if c[0] == "create" else timed(c)
            if name not in ("floor", "create") and run == 0:
                got = sum(len(f) for _, _, f in os.walk(target))
                if got != len(files):
                    sys.exit(f"{name} extracted {got} files, the archive holds {len(files)}")
            if run:
                times[name].append(t)
    shutil.rmtree(out, ignore_errors=True)
    median = {name: statistics.median(ts) for name, ts in times.items()}

    print(f"\nmedian of {args.runs} runs (s):")
    for name in commands:
        rate = "" if name == "create" else f"{unpacked / median[name] / 1e6:.0f} MB/s; "
        print(f"  {name:8s} {median[name]:7.3f}   ({rate}runs {', '.join(f'{t:.2f}' for t in times[name])})")
    print("\nratios:")
    print(f"  (create: the payload's folders and files, empty; the floor does not pay this)")
    for other, target in TARGETS.items():
        r = median["klvpack"] / median[other]
        print(f"  klvpack/{other:7s} {r:5.2f}   target <= {target:.2f}  {'met' if r <= target else 'MISSED'}")

    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    big = peak_rss([args.klvpack, "extract", archive, out])
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    base = peak_rss([args.klvpack, "extract", empty, out])
    shutil.rmtree(out, ignore_errors=True)
    extra = (big - base) / 1024
    print(f"\npeak RSS: {big} KiB on the payload, {base} KiB on an empty archive: "
          f"{extra:.1f} MiB for extraction   target <= {MEMORY_TARGET_MIB} MiB  "
          f"{'met' if extra <= MEMORY_TARGET_MIB else 'MISSED'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
