#!/usr/bin/env python3
"""What each library adds to the stub, read from the link map the Windows builds write.

usage: stub_size.py [MAP ...] [--top N]

Without arguments it reads build/windows32/.../klvupgradeStub.map and
build/windows/.../klvupgradeStub.map, whichever exist. For each map it prints the bytes of the
image's loaded sections (code, data, read-only data, unwind tables, imports, resources; not
.bss, nothing of debug information) by library: an archive (libstdc++, libgcrypt, the
project's libklv_*), the stub's own objects, and the linker's fill between input sections.
The executable's size on disk (beside the map) is printed with it: the sections are padded to
the file alignment there, so the sum is close to the file, not equal.
"""
import argparse
import collections
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_MAPS = [
    os.path.join(ROOT, "build", build, "src", "app", "win32", "klvupgradeStub.map")
    for build in ("windows32", "windows")
]
# Output sections with no bytes in the file, or none in the loaded image.
SKIPPED = re.compile(r"^\.(bss|tls\$ZZZ|debug|zdebug|stab)")
INPUT = re.compile(r"^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
CONTINUED = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
FILL = re.compile(r"^ \*fill\*\s+0x[0-9a-f]+\s+0x([0-9a-f]+)")


def owner(path):
    """The library an input file belongs to: an archive's name, else the object's."""
    archive = re.match(r"^(.*?)\((.*)\)$", path)
    if archive:
        name = os.path.basename(archive.group(1))
        return re.sub(r"^lib|\.(dll\.)?a$", "", name)
    return os.path.basename(path)


def read_map(path):
    sizes = collections.Counter()
    sections = collections.Counter()
    output = None
    pending = None  # an input section whose name filled its line
    in_map = False
    with open(path, errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if not in_map:
                in_map = line.startswith("Linker script and memory map")
                continue
            if line and not line.startswith(" "):
                output = line.split()[0]
                pending = None
                continue
            if output is None or SKIPPED.match(output):
                continue
            m = FILL.match(line)
            if m:
                sizes["(fill)"] += int(m.group(1), 16)
                sections[output] += int(m.group(1), 16)
                continue
            m = INPUT.match(line)
            if m:
                size, who = int(m.group(3), 16), m.group(4)
                pending = None
            elif pending and CONTINUED.match(line):
                m = CONTINUED.match(line)
                size, who = int(m.group(2), 16), m.group(3)
                pending = None
            else:
                pending = re.match(r"^ (\S+)$", line)
                continue
            if size and not who.startswith("0x"):
                sizes[owner(who)] += size
                sections[output] += size
    return sizes, sections


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("maps", nargs="*")
    parser.add_argument("--top", type=int, default=25)
    args = parser.parse_args()
    maps = args.maps or [m for m in DEFAULT_MAPS if os.path.exists(m)]
    if not maps:
        sys.exit("no link map: build klvupgradeStub in the windows or windows32 preset first")
    for path in maps:
        sizes, sections = read_map(path)
        exe = os.path.splitext(path)[0] + ".exe"
        total = sum(sizes.values())
        print(path)
        if os.path.exists(exe):
            size = os.path.getsize(exe)
            print("  file %s: %d bytes (%.1f KiB)%s" % (os.path.basename(exe), size, size / 1024,
                  "  <= 512 KiB" if size <= 512 * 1024 else "  > 512 KiB"))
        print("  sections: " + ", ".join("%s %d" % kv for kv in sections.most_common()))
        print("  %-28s %10s %7s" % ("library", "bytes", "share"))
        shown = sizes.most_common(args.top)
        for name, size in shown:
            print("  %-28s %10d %6.1f%%" % (name, size, 100.0 * size / total))
        rest = total - sum(size for _, size in shown)
        if rest:
            print("  %-28s %10d %6.1f%%" % ("(others)", rest, 100.0 * rest / total))
        print("  %-28s %10d" % ("total", total))
        print()


if __name__ == "__main__":
    main()
