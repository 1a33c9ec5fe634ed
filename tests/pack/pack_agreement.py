#!/usr/bin/env python3
"""Packages made by `klvpack build` are read byte for byte by unzip, 7zz, bsdtar, Python's
zipfile and the installer's engine (`klvpack extract`), and two builds of one tree are
identical; a build the tool must refuse exits 2 and leaves no file behind.

    pack_agreement.py            the tree family, reproducibility, refusals, the default stub
    pack_agreement.py --zip64    more than 65,535 files, and a sparse file over 4 GiB

Environment: KLVPACK (the built tool), KLV_RUNNER (emulator, empty natively), KLV_BINARY_DIR.
"""
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from packlib import Tools  # noqa: E402

os.environ["TZ"] = "UTC"
time.tzset()
ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
STAMP = time.mktime((2024, 5, 6, 7, 8, 10, 0, 0, -1))
MARKER = b"KLV-CAPTION-v1:\x01"
CAPTION = "Kelvaro Update 3.2.0.1]"
problems = []


def fail(text):
    problems.append(text)
    print("FAIL:", text, flush=True)


# ---- the tree ---------------------------------------------------------------------------------

def make_tree(root):
    rnd = __import__("random").Random(11)
    words = [bytes(rnd.choices(b"etaoinshrdlu", k=rnd.randint(2, 9))) for _ in range(800)]
    text = lambda n: b" ".join(rnd.choices(words, k=n // 5 + 1))[:n]  # noqa: E731
    files = {
        "docs/readme.txt": text(200_000),
        "docs/nested/deeper/leaf.txt": b"leaf\r\n",
        "data/big.txt": text(3_500_000),              # deflated in several pieces
        "data/noise.bin": rnd.randbytes(2_500_000),    # several pieces, stored after all
        "data/small-noise.bin": rnd.randbytes(10_000),  # one piece, stored
        "empty.txt": b"",
        "readonly.txt": b"do not touch\n",
        "\u00fcn\u00efc\u00f8d\u00e9/na\u00efve caf\u00e9.txt": "h\u00e9 \u20ac".encode(),
        "\u65e5\u672c\u8a9e/\u30d5\u30a1\u30a4\u30eb.txt": b"kanji",
    }
    folders = ["empty-folder", "docs/empty-inside"]
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    for name in folders:
        os.makedirs(os.path.join(root, name), exist_ok=True)
    os.chmod(os.path.join(root, "readonly.txt"), 0o444)
    for dirpath, dirnames, filenames in os.walk(root):
        for n in dirnames + filenames:
            os.utime(os.path.join(dirpath, n), (STAMP, STAMP))
    return files, folders


def snapshot(root):
    """{relative name: bytes, or None for a folder} of a tree."""
    out = {}
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        for d in dirnames:
            out[os.path.normpath(os.path.join(rel, d))] = None
        for f in filenames:
            with open(os.path.join(dirpath, f), "rb") as fh:
                out[os.path.normpath(os.path.join(rel, f))] = fh.read()
    return out


def compare(tool, got, want):
    if got == want:
        return
    for name in sorted(set(want) | set(got)):
        if name not in got:
            fail(f"{tool}: {name} missing")
        elif name not in want:
            fail(f"{tool}: {name} not in the payload")
        elif got[name] != want[name]:
            fail(f"{tool}: {name} differs")


def run(cmd, what):
    p = subprocess.run(cmd, capture_output=True, env=ENV)
    if p.returncode != 0:
        fail(f"{what}: exit {p.returncode}: {p.stderr.decode(errors='replace')[:300]}")
    return p.stdout.decode(errors="replace") + p.stderr.decode(errors="replace")


# ---- the records ------------------------------------------------------------------------------

def check_layout(package, stub_bytes, files):
    data = open(package, "rb").read()
    if len(data) % 8:
        fail(f"package length {len(data)} is not a multiple of 8")
    at = data.index(MARKER) + len(MARKER)
    block = data[at:at + 256]
    if block != CAPTION.encode("cp1252").ljust(256, b"\0"):
        fail(f"caption block holds {block[:40]!r}")
    if data[:at - len(MARKER)] != stub_bytes[:at - len(MARKER)]:
        fail("the package does not begin with the stub")
    end = data.rindex(b"PK\x05\x06")
    cd_size, cd_offset = int.from_bytes(data[end + 12:end + 16], "little"), int.from_bytes(data[end + 16:end + 20], "little")
    if cd_offset + cd_size != end:
        fail(f"central directory recorded at {cd_offset}, lies at {end - cd_size}: offsets must count from the package's start")
    with zipfile.ZipFile(package) as zf:
        infos = {i.filename: i for i in zf.infolist()}
        first = min(i.header_offset for i in infos.values())
        if first != len(stub_bytes):
            fail(f"first local header at {first}, the stub is {len(stub_bytes)} bytes")
        for name, info in infos.items():
            ascii_name = all(ord(c) < 128 for c in name)
            if bool(info.flag_bits & 0x800) == ascii_name:
                fail(f"{name}: UTF-8 flag {bool(info.flag_bits & 0x800)}")
            if info.date_time != time.localtime(STAMP)[:6]:
                fail(f"{name}: DOS stamp {info.date_time}")
            attr = info.external_attr & 0xFF
            want = 0x10 if name.endswith("/") else 0x21 if name == "readonly.txt" else 0x20
            if attr != want:
                fail(f"{name}: attributes {attr:#x}, wanted {want:#x}")
        methods = {n: infos[n].compress_type for n in ("data/big.txt", "data/noise.bin", "data/small-noise.bin", "empty.txt", "docs/readme.txt")}
        if methods != {"data/big.txt": 8, "data/noise.bin": 0, "data/small-noise.bin": 0, "empty.txt": 0, "docs/readme.txt": 8}:
            fail(f"methods {methods}")


def read_with_all(t, package, want, work, readonly="readonly.txt"):
    out = os.path.join(work, "out")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    # unzip: also no complaint about extra bytes (the offsets count from the package's start).
    d = os.path.join(out, "unzip")
    text = run(["unzip", "-q", package, "-d", d], "unzip")
    if "extra bytes" in text or "warning" in text:
        fail(f"unzip warns: {text[:200]}")
    compare("unzip", snapshot(d), want)
    if readonly and os.stat(os.path.join(d, readonly)).st_mode & stat.S_IWUSR:
        fail("unzip: the read-only file came out writable")
    d = os.path.join(out, "7zz")
    text = run(["7zz", "x", "-tzip", "-y", "-o" + d, package], "7zz")
    if "Warnings" in text or "ERROR" in text:
        fail(f"7zz warns: {text[-300:]}")
    compare("7zz", snapshot(d), want)
    d = os.path.join(out, "bsdtar")
    os.makedirs(d)
    run(["bsdtar", "-xf", package, "-C", d], "bsdtar")
    compare("bsdtar", snapshot(d), want)
    got = {}
    with zipfile.ZipFile(package) as zf:
        for info in zf.infolist():
            name = os.path.normpath(info.filename)
            got[name] = None if info.is_dir() else zf.read(info)
    compare("zipfile", got, want)
    d = os.path.join(out, "engine")
    rc, text, err = t.run("extract", package, d)
    if rc != 0:
        fail(f"klvpack extract: exit {rc}: {text[-300:]}{err}")
    compare("engine", snapshot(d), want)
    if readonly and os.stat(os.path.join(d, readonly)).st_mode & stat.S_IWUSR:
        fail("engine: the read-only file came out writable")
    for tree in ("unzip", "7zz", "bsdtar", "engine"):
        for dirpath, _, filenames in os.walk(os.path.join(out, tree)):
            for f in filenames:
                os.chmod(os.path.join(dirpath, f), 0o644)
    shutil.rmtree(out)


# ---- families ---------------------------------------------------------------------------------

def tree_family(t, work):
    src = os.path.join(work, "payload")
    make_tree(src)
    want = snapshot(src)
    stub = t.stub()
    stub_bytes = open(stub, "rb").read()
    first, second = os.path.join(work, "first.exe"), os.path.join(work, "second.exe")
    t.build(stub, src, first, caption=CAPTION)
    check_layout(first, stub_bytes, want)
    read_with_all(t, first, want, work)

    # The same tree elsewhere, built again: the same bytes.
    copy = os.path.join(work, "elsewhere", "payload")
    shutil.copytree(src, copy, symlinks=True)
    t.build(stub, copy, second, caption=CAPTION)
    if open(first, "rb").read() != open(second, "rb").read():
        fail("two builds of the same tree differ")
    # klvpack.exe under Wine writes what klvpack on Linux writes (the native build's, if made).
    native = os.path.join(os.environ.get("KLV_SOURCE_DIR", ""), "build/native/tools/klvpack/klvpack")
    if t.runner and os.path.exists(native):
        Tools(t.work, klvpack=native, runner="").build(stub, src, second, caption=CAPTION)
        if open(first, "rb").read() != open(second, "rb").read():
            fail("klvpack.exe and the native klvpack build the same tree differently")
    # Stored only: still read by everyone.
    t.build(stub, src, second, level=0)
    read_with_all(t, second, want, work)
    os.chmod(os.path.join(src, "readonly.txt"), 0o644)
    shutil.rmtree(os.path.join(work, "elsewhere"))


def refusals(t, work):
    stub = t.stub()
    plain = os.path.join(work, "plain.exe")
    subprocess.run(["x86_64-w64-mingw32-gcc", "-x", "c", "-", "-o", plain], input=b"int main(void){return 0;}", check=True)
    doubled = os.path.join(work, "doubled.exe")
    with open(doubled, "wb") as f:
        f.write(open(stub, "rb").read() + MARKER + bytes(256))
    good = os.path.join(work, "good")
    os.makedirs(os.path.join(good, "sub"), exist_ok=True)
    open(os.path.join(good, "sub", "a.txt"), "wb").write(b"a")
    packaged = os.path.join(work, "packaged.exe")
    t.build(stub, good, packaged)
    signed = t.sign(stub, os.path.join(work, "signed-stub.exe"))

    def tree_with(name, link=False):
        d = tempfile.mkdtemp(dir=work)
        shutil.copytree(good, d, dirs_exist_ok=True)
        path = os.path.join(d, "sub", name)
        if link:
            os.symlink("a.txt", path)
        else:
            open(path, "wb").write(b"x")
        return d

    reserved = tempfile.mkdtemp(dir=work)
    shutil.copytree(good, reserved, dirs_exist_ok=True)
    open(os.path.join(reserved, "~KLVUPGRADE.journal"), "wb").write(b"x")

    out = os.path.join(work, "refused.exe")
    cases = [
        ("a name the installer keeps", dict(payload=reserved), "keeps for itself"),
        ("missing stub", dict(stub=os.path.join(work, "nope.exe")), "cannot read the stub"),
        ("not the installer", dict(stub=plain), "not the Kelvaro installer stub"),
        ("two caption blocks", dict(stub=doubled), "not the Kelvaro installer stub"),
        ("a package as stub", dict(stub=packaged), "already carries a payload"),
        ("a signed stub", dict(stub=signed), "is signed"),
        ("symbolic link", dict(payload=tree_with("link.txt", link=True)), "symbolic link"),
        ("colon", dict(payload=tree_with("a:b.txt")), "contains ':'"),
        ("backslash", dict(payload=tree_with("a\\b.txt")), "contains '\\'"),
        ("trailing dot", dict(payload=tree_with("name.")), "ends in '.'"),
        ("names that differ in case", dict(payload=tree_with("A.TXT")), "differ only in case"),
        # The installer's name rules (stubconf/item_names.h), at depth.
        ("device name", dict(payload=tree_with("nul.txt")), "device name"),
        ("device name with two extensions", dict(payload=tree_with("Con.tar.gz")), "device name"),
        ("console device", dict(payload=tree_with("CONIN$")), "device name"),
        ("reserved at depth", dict(payload=tree_with("~KLVUPGRADE.journal")), "keeps for itself"),
        ("control character", dict(payload=tree_with("ctl\x01.txt")), "control character"),
        ("star", dict(payload=tree_with("star*.txt")), "contains '*'"),
        ("trailing blank", dict(payload=tree_with("name ")), "ends in '.' or a blank"),
        ("output inside", dict(out=os.path.join(good, "sub", "pkg.exe")), "inside the payload"),
        ("caption too long", dict(caption="K" * 256), "at most 255"),
        ("caption outside 1252", dict(caption="Kelvaro \u66f4\u65b0"), "code page 1252"),
        ("bad level", dict(level="13"), "--level"),
    ]
    if t.runner:
        # Links and these names cannot be staged for a Windows program on a Linux disk: Wine
        # follows links and shows such names under other names.
        cases = [c for c in cases if c[0] not in ("symbolic link", "colon", "backslash", "trailing dot",
                                                "names that differ in case", "device name",
                                                "device name with two extensions", "console device",
                                                "reserved at depth", "control character", "star",
                                                "trailing blank")]
    for what, change, message in cases:
        target = change.get("out", out)
        with open(target, "wb") as f:
            f.write(b"old")
        args = ["build", "--stub", change.get("stub", stub), "--payload", change.get("payload", good), "-o", target]
        if "caption" in change:
            args += ["--caption", change["caption"]]
        if "level" in change:
            args += ["--level", change["level"]]
        rc, text, err = t.run(*args)
        if rc != 2:
            fail(f"{what}: exit {rc}, wanted 2")
        if message not in err:
            fail(f"{what}: message {err.strip()!r} lacks {message!r}")
        if open(target, "rb").read() != b"old":
            fail(f"{what}: the existing output file was changed")
        left = [n for n in os.listdir(os.path.dirname(target)) if "klvpack-tmp" in n]
        if left:
            fail(f"{what}: left {left}")
        os.remove(target)

    # -o naming the stub itself, the payload folder or a file in it: refused, nothing touched.
    own = os.path.join(work, "own-stub.exe")
    shutil.copy(stub, own)
    for what, target, message in [("the stub as output", own, "is the stub itself"),
                                  ("the payload folder as output", good, "inside the payload folder"),
                                  ("a payload file as output", os.path.join(good, "sub", "a.txt"),
                                   "inside the payload folder")]:
        rc, _, err = t.run("build", "--stub", own, "--payload", good, "-o", target)
        if rc != 2 or message not in err:
            fail(f"{what}: exit {rc}, {err.strip()!r}")
    if open(own, "rb").read() != open(stub, "rb").read() or open(os.path.join(good, "sub", "a.txt"), "rb").read() != b"a":
        fail("a refused output was changed")


def default_stub(t, work):
    """Without --stub, build takes the klvupgradeStub.exe beside klvpack (a maker's kit), else
    the 32-bit build's; with neither it names where it looked and writes nothing."""
    kit = os.path.join(work, "kit")
    os.makedirs(kit)
    shutil.copy2(t.klvpack, os.path.join(kit, "klvpack"))
    beside = os.path.join(kit, "klvupgradeStub.exe")
    kt = Tools(os.path.join(work, "kit-work"), klvpack=os.path.join(kit, "klvpack"), runner="")
    payload = os.path.join(work, "kit-payload")
    os.makedirs(payload)
    open(os.path.join(payload, "a.txt"), "wb").write(b"a")
    out = os.path.join(work, "kit.exe")
    for bits, kind in ((32, "PE32, 32-bit: runs on every Windows"),
                       (64, "PE32+, x86-64: runs on 64-bit Windows only")):
        shutil.copy2(t.stub(bits), beside)
        rc, text, err = kt.run("build", "--payload", payload, "-o", out)
        if rc != 0 or f"stub: {beside} ({kind})" not in text:
            fail(f"the {bits}-bit stub beside klvpack: exit {rc}, {text!r} {err!r}")
        elif not open(out, "rb").read().startswith(open(beside, "rb").read()):
            fail(f"the {bits}-bit stub beside klvpack is not the package's stub")
        if (bits == 64) != ("will not run on 32-bit Windows" in err):
            fail(f"the {bits}-bit stub beside klvpack: warning {err!r}")
        os.remove(out)
    os.remove(beside)
    # The configured 32-bit build's stub, where that build was made; else the refusal.
    rc, text, err = kt.run("build", "--payload", payload, "-o", out)
    if rc == 0:
        if beside in text or "(PE32, 32-bit" not in text:
            fail(f"the configured default stub: {text!r}")
    elif rc != 2 or f"no installer stub at {beside}" not in err or os.path.exists(out):
        fail(f"no stub anywhere: exit {rc}, {err!r}")


def zip64_family(t, work):
    stub = t.stub()
    many = os.path.join(work, "many")
    want = {}
    for i in range(70_000):
        folder = f"f{i // 1000:02d}"
        if i % 1000 == 0:
            os.makedirs(os.path.join(many, folder))
            want[folder] = None
        name = os.path.join(folder, f"{i:05d}.txt")
        data = b"%d\n" % i
        with open(os.path.join(many, name), "wb") as f:
            f.write(data)
        want[name] = data
    package = os.path.join(work, "many.exe")
    t.build(stub, many, package)
    with zipfile.ZipFile(package) as zf:
        if len(zf.infolist()) != len(want):
            fail(f"zipfile sees {len(zf.infolist())} entries of {len(want)}")
    data = open(package, "rb").read()
    if b"PK\x06\x06" not in data[-200:]:
        fail("no Zip64 end record for 70,070 entries")
    # Every reader tests every item (extracting 70,070 files five times costs minutes).
    test_with_all(t, package, len(want))
    with zipfile.ZipFile(package) as zf:
        for info in zf.infolist()[::997]:
            if not info.is_dir() and zf.read(info) != want[os.path.normpath(info.filename)]:
                fail(f"zipfile: {info.filename} differs")
    shutil.rmtree(many)

    # A sparse file over 4 GiB, then a small one whose local header lies beyond 4 GiB.
    big = os.path.join(work, "big")
    os.makedirs(big)
    size = (4 << 30) + 123_457
    with open(os.path.join(big, "huge.bin"), "wb") as f:
        f.truncate(size)
    with open(os.path.join(big, "later.txt"), "wb") as f:
        f.write(b"after the big one\n")
    package = os.path.join(work, "big.exe")
    # Stored, so that the next entry's local header lies beyond 4 GiB.
    t.build(stub, big, package, level=0)
    with zipfile.ZipFile(package) as zf:
        info = zf.getinfo("huge.bin")
        if info.file_size != size or zf.getinfo("later.txt").header_offset < (4 << 30):
            fail(f"zipfile: huge.bin {info.file_size} bytes, later.txt at {zf.getinfo('later.txt').header_offset}")
        crc, n = 0, 0
        with zf.open("huge.bin") as f:
            while chunk := f.read(1 << 24):
                crc, n = zlib.crc32(chunk, crc), n + len(chunk)
        if n != size or zf.read("later.txt") != b"after the big one\n":
            fail(f"zipfile read {n} bytes of huge.bin")
    test_with_all(t, package, 2)
    p = subprocess.run(f"bsdtar -xOf {package} huge.bin | wc -c", shell=True, capture_output=True, text=True)
    if p.stdout.strip() != str(size):
        fail(f"bsdtar gives {p.stdout.strip()} bytes of huge.bin")
    os.remove(package)
    # Deflated: the same file, now a few megabytes, read by everyone.
    t.build(stub, big, package)
    test_with_all(t, package, 2)


def test_with_all(t, package, count):
    """Every reader checks every item's data (CRC-32 and sizes) without writing it."""
    text = run(["unzip", "-t", package], "unzip -t")
    if text.count(" OK\n") != count or "extra bytes" in text:
        fail(f"unzip -t: {text.count(' OK')} items OK of {count}: {text[-300:]}")
    text = run(["7zz", "t", "-tzip", package], "7zz t")
    if "Everything is Ok" not in text:
        fail(f"7zz t: {text[-300:]}")
    p = subprocess.run(f"bsdtar -xOf {package} | wc -c", shell=True, capture_output=True, text=True)
    if p.returncode != 0 or p.stderr.strip():
        fail(f"bsdtar: {p.stderr[-300:]}")
    with zipfile.ZipFile(package) as zf:
        if zf.testzip() is not None or len(zf.infolist()) != count:
            fail("zipfile: a bad item, or the wrong count")
    rc, text, _ = t.run("test", package)
    if rc != 0 or text.count("OK\t") != count:
        fail(f"klvpack test: exit {rc}, {text.count('OK')} OK of {count}")


def main():
    base = os.path.join(os.environ.get("KLV_BINARY_DIR", "build"), "tests", "pack")
    os.makedirs(base, exist_ok=True)
    work = tempfile.mkdtemp(prefix="pack-", dir=base)
    t = Tools(work)
    try:
        if "--zip64" in sys.argv:
            zip64_family(t, work)
        else:
            tree_family(t, work)
            refusals(t, work)
            default_stub(t, work)
    finally:
        for dirpath, dirnames, filenames in os.walk(work):
            for n in dirnames + filenames:
                p = os.path.join(dirpath, n)
                if not os.path.islink(p):
                    os.chmod(p, 0o755)
        shutil.rmtree(work, ignore_errors=True)
    if problems:
        sys.exit(f"{len(problems)} problems")
    print("all agree")


if __name__ == "__main__":
    main()
