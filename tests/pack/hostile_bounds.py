#!/usr/bin/env python3
"""klvpack on packages whose cost lies in their names stays within a bound of memory set by
the package's size: each run gets an address-space limit of 8 x the file's size + 64 MiB,
plus a fixed room for the program itself (code, thread stacks, allocator arenas), and must
end as an ordinary run of it would.

- extract, and check behind the stub, of an archive holding one name 32,765 folders deep and
  1,000 names 1 to 1,000 folders deep (read as the old code did, several GB);
- check of the stub followed by 1,000 KB of local headers, one every 30 bytes, each
  announcing a 65,535-byte name: damaged, exit 3.

Nothing is timed (bench/hostile_bench.py measures); the timeout only keeps a hang from
stalling the suite.

Environment: KLVPACK (the built tool), KLV_BINARY_DIR.
"""
import os
import resource
import struct
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from packlib import Tools  # noqa: E402

PROGRAM_ROOM = 256 << 20
problems = []


def bounded(t, path, *args):
    """klvpack `args` under the address-space limit for `path`: (exit code, stdout, stderr)."""
    limit = 8 * os.path.getsize(path) + (64 << 20) + PROGRAM_ROOM
    if os.environ.get("KLV_SANITIZED"):
        # AddressSanitizer reserves terabytes of address space for its shadow: the bound is
        # on the resident memory instead, with room for the sanitizer's own.
        env = dict(os.environ, ASAN_OPTIONS=f"hard_rss_limit_mb={2 * limit >> 20}")
        p = subprocess.run([t.klvpack, *args], capture_output=True, timeout=600, env=env)
    else:
        p = subprocess.run([t.klvpack, *args], capture_output=True, timeout=600,
                           preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS,
                                                                 (limit, limit)))
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def deep_names(zf):
    zf.writestr("a/" * 32765 + "f", b"deep")
    for depth in range(1, 1001):
        zf.writestr("b/" * depth + "f", b"x")


def main():
    work = tempfile.mkdtemp(prefix="bounds-", dir=os.environ.get("KLV_BINARY_DIR"))
    t = Tools(work, runner="")
    archive = os.path.join(work, "deep.zip")
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_STORED) as zf:
        deep_names(zf)
    dest = os.path.join(work, "out")
    rc, out, err = bounded(t, archive, "extract", archive, dest)
    lines = out.splitlines()
    # The file system takes the shallow names; the deepest fail alone, each with its message.
    if rc != 1 or len(lines) != 1001 or lines[1] != "OK\tb\\f" or "memory" in err:
        problems.append(f"extract of deep names: exit {rc}, {len(lines)} lines\n{err[:300]}")
    elif not os.path.exists(os.path.join(dest, "b", "b", "f")):
        problems.append("extract of deep names: b/b/f not written")
    subprocess.run(["rm", "-rf", dest])

    package = os.path.join(work, "deep.exe")
    with open(package, "wb") as f:
        f.write(open(t.stub(), "rb").read())
    with zipfile.ZipFile(package, "a", zipfile.ZIP_STORED) as zf:
        deep_names(zf)
    rc, out, err = bounded(t, package, "check", package)
    if rc != 0 and "items:           1001 tested" not in out:
        problems.append(f"check of deep names: exit {rc}\n{out[-300:]}{err[:300]}")

    headers = os.path.join(work, "headers.exe")
    flood = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0, 0, 0, 0, 0xFFFF, 0)
    with open(headers, "wb") as f:
        f.write(open(t.stub(junk=True), "rb").read() + flood * (1000 * 1024 // 30))
    rc, out, err = bounded(t, headers, "check", headers)
    if rc != 3 or "damaged" not in err.lower():
        problems.append(f"check of the stub and a flood of headers: exit {rc}\n{err[:300]}")

    subprocess.run(["rm", "-rf", work])
    for p in problems:
        print("FAIL:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
