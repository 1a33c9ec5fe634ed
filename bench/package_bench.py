#!/usr/bin/env python3
"""The size of a package against its peers', for three payloads:

- files50: the 2,000 files, about 50 MB, of bench/install_bench.py (its generator);
- dlls132: about 127 MB of real Windows DLLs (Wine's x86-64 ones, in name order, those that
  fit into 125 MB), Wine's winedbg.exe as kelvaro.exe and the licence texts of
  /usr/share/common-licenses; the bytes depend on the installed wine64;
- help300: a help package, about 300 KB in 40 text files.

Each payload (made once, cached in build/bench/package/) is packed by
    klvpack build --stub STUB --payload DIR [--level L]       (the package: stub + archive)
    makensis, zlib and solid LZMA                              (bench/nsis_peer.py, x86-64)
    zip -q -r -9 -X                                            (Info-ZIP)
    7zz a -tzip -mx9                                           (7-Zip's deflate)
and the sizes are printed side by side in MB (10^6 bytes), with the CPU seconds each tool took
(user + system of the child; the machine is shared, so not the wall time). --stub defaults to
the x86-64 stub of the windows build; --levels lists klvpack's levels to try (default: its
default level only).

    python3 bench/package_bench.py [--klvpack PATH] [--stub PATH] [--levels 7,12]
                                   [--payloads files50,dlls132,help300] [--no-peers]
"""
from __future__ import annotations

import argparse
import os
import random
import resource
import shutil
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))
from install_bench import bench_payload  # noqa: E402
from nsis_peer import build_installer  # noqa: E402

CACHE = ROOT / "build" / "bench" / "package"
WINE_DLLS = Path("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows")
PAYLOAD_VERSION = 1


def write_files(root: Path, files: dict[str, bytes]):
    for name, data in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


def dll_payload(root: Path):
    budget, total = 125_000_000, 0
    for dll in sorted(WINE_DLLS.glob("*.dll")):
        size = dll.stat().st_size
        if total + size <= budget:
            (root / "Bin").mkdir(parents=True, exist_ok=True)
            shutil.copyfile(dll, root / "Bin" / dll.name)
            total += size
    shutil.copyfile(WINE_DLLS / "winedbg.exe", root / "kelvaro.exe")
    (root / "Docs").mkdir()
    for text in sorted(Path("/usr/share/common-licenses").iterdir()):
        if text.is_file():
            shutil.copyfile(text, root / "Docs" / (text.name + ".txt"))


def help_payload(seed=3) -> dict[str, bytes]:
    rng = random.Random(seed)
    words = ("het de een van en in is dat op te zijn met voor niet aan er om ook als bij "
             "persoon bron gebeurtenis huwelijk geboorte overlijden stamboom rapport "
             "invoeren zoeken afdrukken venster knop menu kolom veld datum plaats").split()
    files = {}
    for i in range(40):
        lines = []
        while sum(len(line) for line in lines) < rng.randint(5000, 10000):
            lines.append(" ".join(rng.choice(words) for _ in range(rng.randint(6, 16))).capitalize()
                         + ".")
        body = "\r\n".join(f"<p>{line}</p>" for line in lines)
        files[f"Help/onderwerp{i:02d}.htm"] = (
            f"<html><head><title>Onderwerp {i}</title></head><body>\r\n{body}\r\n</body></html>\r\n"
        ).encode()
    return files


PAYLOADS = {
    "files50": lambda root: write_files(root, bench_payload()),
    "dlls132": dll_payload,
    "help300": lambda root: write_files(root, help_payload()),
}


def payload(name: str) -> Path:
    root = CACHE / f"{name}-v{PAYLOAD_VERSION}"
    if not root.exists():
        tmp = root.with_name(root.name + ".tmp")
        shutil.rmtree(tmp, ignore_errors=True)
        tmp.mkdir(parents=True)
        PAYLOADS[name](tmp)
        tmp.rename(root)
    return root


def tree_size(root: Path) -> int:
    return sum(p.stat().st_size for p in root.rglob("*") if p.is_file())


def cpu_of(fn) -> tuple[object, float]:
    """fn's result and the CPU seconds its child processes took."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    result = fn()
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return result, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def quiet(*cmd, cwd=None):
    subprocess.run(cmd, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--klvpack", default=str(ROOT / "build/native/tools/klvpack/klvpack"))
    ap.add_argument("--stub", default=str(ROOT / "build/windows/src/app/win32/klvupgradeStub.exe"))
    ap.add_argument("--levels", default="", help="comma-separated; default: klvpack's default")
    ap.add_argument("--payloads", default=",".join(PAYLOADS))
    ap.add_argument("--no-peers", action="store_true", help="klvpack only")
    args = ap.parse_args()
    levels = [int(v) for v in args.levels.split(",") if v] or [None]
    out = CACHE / "out"
    out.mkdir(parents=True, exist_ok=True)
    stub = os.path.getsize(args.stub)
    print(f"stub {args.stub}: {stub / 1e6:.2f} MB; sizes in MB, CPU seconds in brackets")

    rows = []
    for name in args.payloads.split(","):
        src = payload(name)
        row = [(name, f"{tree_size(src) / 1e6:.2f}")]
        for level in levels:
            pkg = out / f"{name}-klvpack.exe"
            opts = ["--level", str(level)] if level is not None else []
            _, cpu = cpu_of(lambda: quiet(args.klvpack, "build", "--stub", args.stub,
                                          "--payload", str(src), *opts, "-o", str(pkg)))
            label = "klvpack" + (f" -{level}" if level is not None else "")
            row.append((label, f"{pkg.stat().st_size / 1e6:.2f} ({cpu:.1f})"))
        if not args.no_peers:
            for compressor, solid in (("zlib", False), ("lzma", True)):
                exe, cpu = cpu_of(lambda: build_installer(
                    src, out / f"{name}-nsis-{compressor}.exe", compressor=compressor, solid=solid))
                label = f"NSIS {compressor}" + (" solid" if solid else "")
                row.append((label, f"{exe.stat().st_size / 1e6:.2f} ({cpu:.1f})"))
            archive = out / f"{name}-zip9.zip"
            archive.unlink(missing_ok=True)
            _, cpu = cpu_of(lambda: quiet("zip", "-q", "-r", "-9", "-X", str(archive), ".", cwd=src))
            row.append(("zip -9", f"{archive.stat().st_size / 1e6:.2f} ({cpu:.1f})"))
            archive = out / f"{name}-7zz.zip"
            archive.unlink(missing_ok=True)
            _, cpu = cpu_of(lambda: quiet("7zz", "a", "-tzip", "-mx9", str(archive), ".", cwd=src))
            row.append(("7zz -tzip -mx9", f"{archive.stat().st_size / 1e6:.2f} ({cpu:.1f})"))
        rows.append(row)
        print(" | ".join(f"{label} {value}" for label, value in row), flush=True)

    # Side by side: one line per payload, one column per tool.
    heads = ["payload", "files"] + [label for label, _ in rows[0][1:]]
    table = [heads] + [[row[0][0], row[0][1]] + [v for _, v in row[1:]] for row in rows]
    widths = [max(len(r[i]) for r in table) for i in range(len(heads))]
    print()
    for r in table:
        print("  ".join(c.rjust(w) for c, w in zip(r, widths)))


if __name__ == "__main__":
    main()
