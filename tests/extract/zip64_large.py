#!/usr/bin/env python3
"""A real 7-Zip archive of a sparse file over 4 GiB: 7zz writes a Zip64 block that holds only
the uncompressed size (the packed data stays below 4 GiB). `klvpack list` shows the true size,
and `test` and `extract` pass, the extracted file having that size.

Environment: KLVPACK, KLV_RUNNER, KLV_BINARY_DIR, KLV_WINE_LOCALE (as extract_agreement.py).
The archive (about 5 MB, some 25 s to make) is kept below KLV_BINARY_DIR/fixtures and reused.
"""
import os
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile

SIZE = 4200 * 2**20 + 4  # over 4 GiB; the last bytes are not zero
TAIL = b"tail"


def make_archive(binary_dir):
    out = os.path.join(binary_dir, "fixtures", "zip64-large")
    archive = os.path.join(out, "sparse-7zz.zip")
    if os.path.exists(archive):
        return archive
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=out) as work:
        source = os.path.join(work, "sparse.bin")
        with open(source, "wb") as f:
            f.truncate(SIZE - len(TAIL))
            f.seek(SIZE - len(TAIL))
            f.write(TAIL)
        subprocess.run(["7zz", "a", "-tzip", "-mx=1", "-bd", archive + ".part", source],
                       check=True, stdout=subprocess.DEVNULL)
    os.replace(archive + ".part", archive)
    return archive


def central_sizes(archive):
    with open(archive, "rb") as f:
        data = f.read()
    at = data.rfind(b"PK\x01\x02")
    return struct.unpack_from("<II", data, at + 20)  # compressed, uncompressed


def main():
    binary_dir = os.environ.get("KLV_BINARY_DIR", "build/native")
    exe = os.environ.get("KLVPACK") or os.path.join(binary_dir, "tools", "klvpack", "klvpack")
    runner = shlex.split(os.environ.get("KLV_RUNNER", ""))
    env = dict(os.environ)
    if runner:
        env["LC_ALL"] = os.environ.get("KLV_WINE_LOCALE", "nl_NL.UTF-8")

    def path(p):
        return "Z:" + p.replace("/", "\\") if runner else p

    def klvpack(*args):
        p = subprocess.run(runner + [exe] + list(args), capture_output=True, timeout=900, env=env)
        return p.returncode, p.stdout.decode("utf-8", "replace").replace("\r\n", "\n")

    archive = make_archive(binary_dir)
    failures = []
    packed, unpacked = central_sizes(archive)
    if unpacked != 0xFFFFFFFF or packed == 0xFFFFFFFF:
        failures.append(f"7zz no longer marks the uncompressed size alone: {packed:#x} {unpacked:#x}")

    rc, text = klvpack("list", path(archive))
    fields = text.strip().split("\t")
    if rc != 0 or len(fields) < 2 or fields[0] != "sparse.bin" or int(fields[1]) != SIZE:
        failures.append(f"list: exit {rc}: {text!r}")

    rc, text = klvpack("test", path(archive))
    if rc != 0 or text.strip() != "OK\tsparse.bin":
        failures.append(f"test: exit {rc}: {text!r}")

    dest = tempfile.mkdtemp(prefix="zip64-large-", dir=os.path.dirname(archive))
    try:
        rc, text = klvpack("extract", path(archive), path(dest))
        target = os.path.join(dest, "sparse.bin")
        size = os.path.getsize(target) if os.path.exists(target) else None
        tail = b""
        if size:
            with open(target, "rb") as f:
                f.seek(size - len(TAIL))
                tail = f.read()
        if rc != 0 or text.strip() != "OK\tsparse.bin" or size != SIZE or tail != TAIL:
            failures.append(f"extract: exit {rc}: {text!r}, size {size}, tail {tail!r}")
    finally:
        shutil.rmtree(dest, ignore_errors=True)

    for f in failures:
        print("FAIL:", f)
    print("zip64_large:", "FAILED" if failures else "passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
