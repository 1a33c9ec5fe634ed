#!/usr/bin/env python3
"""Memory and time of klvpack on hostile packages whose cost lies in their names.

    bench/hostile_bench.py [--klvpack PATH] [--stub PATH] [--out DIR] [--only CASE ...]

Builds (once, cached in build/bench/hostile) and runs, each under /usr/bin/time -v:

  deep       a 49 MB archive of empty stored files: one name 32,765 folders deep and 5,000
             names 1 to 5,000 folders deep; `list`, `test` and `extract` of it, and `check`
             of it behind the stub.
  headers    the stub, then 1,000 KB of local headers, one every 30 bytes, each announcing a
             65,535-byte name, and no directory; `check` of it.
  bare       the stub alone, and the stub cut off in its middle; `check` of each (exit 3,
             "the installer stub without a payload").

For each run: exit code, wall seconds and peak RSS, against the bound 8 x the file's size +
64 MiB. Nothing here asserts; tests/pack/hostile_bounds.py holds the bounded checks.
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
CACHE = os.path.join(ROOT, "build", "bench", "hostile")
LOCAL = struct.Struct("<IHHHHHIIIHH")


def deep_archive(path, stub=None):
    """One name 32,765 folders deep, then 5,000 names 1 to 5,000 folders deep (behind `stub`
    when given)."""
    if os.path.exists(path):
        return path
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(open(stub, "rb").read() if stub else b"")
    with zipfile.ZipFile(tmp, "a", zipfile.ZIP_STORED) as zf:
        zf.writestr("a/" * 32765 + "f", b"")
        for depth in range(1, 5001):
            zf.writestr("b/" * depth + "f", b"")
    os.replace(tmp, path)
    return path


def header_flood(size):
    """Local headers one every 30 bytes, each announcing a 65,535-byte name."""
    return LOCAL.pack(0x04034B50, 20, 0, 0, 0, 0, 0, 0, 0, 0xFFFF, 0) * (size // 30)


def headers_package(stub, path):
    with open(path, "wb") as f:
        f.write(open(stub, "rb").read() + header_flood(1000 * 1024))
    return path


def measure(cmd):
    """(exit code, wall seconds, peak RSS in bytes) of one run."""
    with tempfile.NamedTemporaryFile("r") as report:
        p = subprocess.run(["/usr/bin/time", "-v", "-o", report.name] + cmd,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        text = report.read()
    wall = re.search(r"Elapsed \(wall clock\) time.*: (?:(\d+):)?(\d+):([\d.]+)", text)
    seconds = int(wall.group(1) or 0) * 3600 + int(wall.group(2)) * 60 + float(wall.group(3))
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1)) * 1024
    status = re.search(r"Exit status: (\d+)", text)
    code = int(status.group(1)) if status else -1
    return code, seconds, rss, p.stderr.decode("utf-8", "replace")


def report(label, path, cmd):
    code, seconds, rss, err = measure(cmd)
    bound = 8 * os.path.getsize(path) + (64 << 20)
    verdict = "within" if rss <= bound else "OVER"
    print(f"{label:34} exit {code}  {seconds:7.2f} s  peak {rss / 2**20:8.1f} MiB"
          f"  ({verdict} 8x+64 MiB = {bound / 2**20:.0f} MiB)")
    first = err.strip().splitlines()[:1]
    if first:
        print(f"{'':34} {first[0][:150]}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--klvpack", default=os.path.join(ROOT, "build/native/tools/klvpack/klvpack"))
    ap.add_argument("--stub", default=os.path.join(ROOT, "build/windows/src/app/win32/klvupgradeStub.exe"))
    ap.add_argument("--out", default=CACHE)
    ap.add_argument("--only", nargs="*", default=["deep", "headers", "bare"])
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    k = args.klvpack

    if "deep" in args.only:
        deep = deep_archive(os.path.join(args.out, "deep.zip"))
        report("list deep", deep, [k, "list", deep])
        report("test deep", deep, [k, "test", deep])
        dest = tempfile.mkdtemp(dir=args.out)
        try:
            report("extract deep", deep, [k, "extract", deep, dest])
        finally:
            subprocess.run(["rm", "-rf", dest])  # deeper than shutil.rmtree recurses
    if not os.path.exists(args.stub):
        print(f"no stub at {args.stub} (cmake --build --preset windows --target klvupgradeStub)")
        return
    if "deep" in args.only:
        package = deep_archive(os.path.join(args.out, "deep-package.exe"), args.stub)
        report("check stub + deep", package, [k, "check", package])
    if "headers" in args.only:
        package = headers_package(args.stub, os.path.join(args.out, "headers.exe"))
        report("check stub + 1000 KB of headers", package, [k, "check", package])
    if "bare" in args.only:
        report("check bare stub", args.stub, [k, "check", args.stub])
        cut = os.path.join(args.out, "cut.exe")
        data = open(args.stub, "rb").read()
        open(cut, "wb").write(data[: len(data) // 2])
        report("check stub cut in its middle", cut, [k, "check", cut])


if __name__ == "__main__":
    sys.exit(main())
