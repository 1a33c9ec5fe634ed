#!/usr/bin/env python3
"""Builds the archives for the extraction tests: the same tree packed by Info-ZIP zip, 7zz,
bsdtar and Python's zipfile (forced Zip64, data descriptors from unseekable writing), the
self-extracting layouts, encrypted archives, and damaged or hostile ones crafted bytewise.

    make_extract_archives.py OUTDIR

Writes OUTDIR/tree (the source files, with fixed modification times), OUTDIR/secret (the
sources of the encrypted archives), the archives, and OUTDIR/manifest.json:
    {"plain": [{"file", "tool"}],                  extract like unzip, test all OK
     "encrypted": [{"file", "tool", "sources": {stored name: source path below OUTDIR, or
                    null for a folder}, "stdin": the item zip read from its input or null, "wrong": password,
                    "collides": stored name whose check byte the wrong password passes}],
     "damaged": [{"file", "fails": {stored name: native code}, "ok": [stored names],
                  "password": optional}],
     "hostile": {"file", "unsafe": [stored names], "ok": [stored names], "marker": text},
     "bomb": {"file", "declared": bytes, "inflates_to": bytes, "ok": [stored names]},
     "overlap": [{"file", "items": [the two names the refusal gives], "declared": bytes}],
     "missing": [tools not installed]}
Stored names are given as text (latin-1 for raw bytes).
"""
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import time
import zipfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
from make_archives import ENV, STAMP, TEXT, RawInfo, Unseekable, have, run, stub_bytes  # noqa: E402

MARKER = "klv_escape"   # every hostile name carries it; nothing by that name may appear


def random_text(rnd, size):
    """Hex lines: compresses to a bit over half its size, so a few MiB of it give more than
    one 1 MiB chunk of deflate data."""
    hexed = rnd.randbytes(size // 2).hex().encode()
    return b"\n".join(hexed[i:i + 79] for i in range(0, len(hexed), 79))[:size]


def write_tree(root, files, folders):
    """files: {relpath: (data, mtime)}; folders: relpaths of empty folders."""
    for name, (data, _) in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    for name in folders:
        os.makedirs(os.path.join(root, name), exist_ok=True)
    for dirpath, dirnames, _ in os.walk(root):
        for d in dirnames:
            os.utime(os.path.join(dirpath, d), (STAMP, STAMP))
    for name, (_, mtime) in files.items():
        os.utime(os.path.join(root, name), (mtime, mtime))


def make_trees(out):
    rnd = random.Random(7)
    day = 86400
    tree = {
        "readme.txt": (TEXT[:500], STAMP),
        "big/random.txt": (random_text(rnd, 3 << 20), STAMP + 3 * day + 3600),
        "big/repeat.txt": (TEXT * 1100, STAMP + 40 * day + 7322),     # 2.4 MB from ~8 KB
        "big/noise.bin": (rnd.randbytes((1 << 20) + 54321), STAMP + 100 * day),  # stored
        "data/nested/deep.txt": (TEXT[:300], STAMP + 200 * day + 60),
        "data/empty.txt": (b"", STAMP + 300 * day),
        "empty.dat": (b"", STAMP + 301 * day + 4),
        "odd-second.txt": (b"written at an odd second\n", STAMP + 5 * day + 1),
    }
    write_tree(os.path.join(out, "tree"), tree, ["emptydir", "data/emptysub"])
    secret = {k: tree[k] for k in ("readme.txt", "big/random.txt", "big/noise.bin",
                                   "data/empty.txt", "data/nested/deep.txt")}
    write_tree(os.path.join(out, "secret"), secret, [])
    return ["readme.txt", "big", "data", "empty.dat", "emptydir", "odd-second.txt"]


def zip_names(path):
    with zipfile.ZipFile(path) as zf:
        return [i.filename for i in zf.infolist()]


def passes(zf, name, password):
    try:
        zf.open(name, pwd=password).close()
        return True
    except RuntimeError:
        return False


def zipcrypto_collision(path, name=None, tries=20000):
    """A password other than "secret" whose ZipCrypto check byte passes for `name` (for no
    item when `name` is None): a reader
    then decrypts garbage and must fail on the data, not on the password. zipfile checks the
    same byte (the CRC's high byte, or the time's with flag bit 3) when it opens the item.
    The password must fail the check byte of every other encrypted item: an empty item whose
    byte it passed would decrypt to nothing and come out OK (7zz picks random headers)."""
    with zipfile.ZipFile(path) as zf:
        others = [i.filename for i in zf.infolist() if i.flag_bits & 1 and i.filename != name]
        for i in range(tries):
            candidate = b"wrong%d" % i
            if (name and not passes(zf, name, candidate)) or any(passes(zf, o, candidate) for o in others):
                continue
            return candidate.decode()
    raise RuntimeError(f"no colliding password for {name} in {path}")


def raw_archive(path, entries):
    """entries: (name bytes, method, packed bytes, crc, declared uncompressed size)."""
    out, central = bytearray(), bytearray()
    for name, method, packed, crc, usize in entries:
        offset = len(out)
        fields = (20, 0, method, 0x8F7D, 0x5A63, crc, len(packed), usize, len(name))
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, *fields, 0) + name + packed
        central += struct.pack("<IH", 0x02014B50, 20) + struct.pack("<HHHHHIIIH", *fields) + \
            struct.pack("<HHHHII", 0, 0, 0, 0, 0x20, offset) + name
    cd = len(out)
    out += central + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries),
                                 len(central), cd, 0)
    with open(path, "wb") as f:
        f.write(out)


def data_start(data, info):
    n, m = struct.unpack_from("<HH", data, info.header_offset + 26)
    return info.header_offset + 30 + n + m


def flip(data, at):
    data[at] ^= 0x5A


def build(out):
    p = lambda name: os.path.join(out, name)
    for name in os.listdir(out) if os.path.isdir(out) else []:
        if name != ".stamp":
            shutil.rmtree(p(name)) if os.path.isdir(p(name)) else os.remove(p(name))
    os.makedirs(out, exist_ok=True)
    names = make_trees(out)
    tree, secret = p("tree"), p("secret")
    manifest = {"plain": [], "encrypted": [], "damaged": [], "missing": []}
    plain = lambda file, tool: manifest["plain"].append({"file": file, "tool": tool})

    def encrypted(file, tool, wrong="wrong", collides=None, stdin=None):
        sources = {}
        for n in zip_names(p(file)):
            src = "big/random.txt" if n == stdin else n
            sources[n] = None if n.endswith("/") else "secret/" + src
        manifest["encrypted"].append({"file": file, "tool": tool, "sources": sources,
                                      "wrong": wrong, "collides": collides, "stdin": stdin})

    secret_names = ["readme.txt", "big/random.txt", "big/noise.bin", "data/empty.txt"]

    # Info-ZIP zip
    if have("zip"):
        run(["zip", "-q", "-r", "-6", p("infozip.zip")] + names, cwd=tree)
        plain("infozip.zip", "zip")
        # Encrypted; noise.bin does not compress, so zip stores it: a password that passes
        # its check byte makes a reader decrypt 1 MiB of garbage into the output.
        run(["zip", "-q", "-e", "-P", "secret", p("infozip_zipcrypto.zip")] + secret_names,
            cwd=secret)
        encrypted("infozip_zipcrypto.zip", "zip", collides="big/noise.bin",
                  wrong=zipcrypto_collision(p("infozip_zipcrypto.zip"), "big/noise.bin"))
        with open(os.path.join(secret, "big/random.txt"), "rb") as f:
            piped = f.read()
        subprocess.run(["zip", "-q", "-e", "-P", "secret", p("infozip_stdin.zip"), "-"],
                       input=piped, check=True, env=ENV)   # flag bit 3: data descriptor
        encrypted("infozip_stdin.zip", "zip", stdin="-",
                  wrong=zipcrypto_collision(p("infozip_stdin.zip"), "-"), collides="-")
        # Plain and encrypted items in one archive.
        run(["zip", "-q", "-r", p("infozip_mixed.zip"), "readme.txt", "data/nested"], cwd=secret)
        run(["zip", "-q", "-e", "-P", "secret", p("infozip_mixed.zip"), "big/noise.bin",
             "data/empty.txt"], cwd=secret)
        encrypted("infozip_mixed.zip", "zip", wrong=zipcrypto_collision(p("infozip_mixed.zip")))
    else:
        manifest["missing"].append("zip")

    # 7-Zip
    if have("7zz"):
        run(["7zz", "a", "-tzip", "-bd", "-mx=5", p("7z.zip")] + names, cwd=tree)
        plain("7z.zip", "7zz")
        for em in ("ZipCrypto", "AES128", "AES192", "AES256"):
            f = f"7z_{em.lower()}.zip"
            run(["7zz", "a", "-tzip", "-bd", f"-mem={em}", "-psecret", p(f)] + secret_names,
                cwd=secret)
            if em == "ZipCrypto":
                encrypted(f, "7zz", collides="big/noise.bin",
                          wrong=zipcrypto_collision(p(f), "big/noise.bin"))
            else:
                encrypted(f, "7zz")
    else:
        manifest["missing"].append("7zz")

    # bsdtar
    if have("bsdtar"):
        run(["bsdtar", "--format", "zip", "-cf", p("bsdtar.zip")] + names, cwd=tree)
        plain("bsdtar.zip", "bsdtar")
    else:
        manifest["missing"].append("bsdtar")

    # Python's zipfile: every item with a Zip64 extra block; and written to a stream without
    # seek, so every item has a data descriptor.
    walk = []
    for dirpath, dirnames, filenames in os.walk(tree):
        dirnames.sort()
        for n in [d + "/" for d in dirnames] + sorted(filenames):
            walk.append(os.path.relpath(os.path.join(dirpath, n), tree) + ("/" if n.endswith("/") else ""))
    with zipfile.ZipFile(p("py_zip64.zip"), "w", zipfile.ZIP_DEFLATED) as zf:
        for n in walk:
            if n.endswith("/"):
                zf.write(os.path.join(tree, n), n)
                continue
            zi = zipfile.ZipInfo.from_file(os.path.join(tree, n), n)
            zi.compress_type = zipfile.ZIP_DEFLATED
            with zf.open(zi, "w", force_zip64=True) as w, open(os.path.join(tree, n), "rb") as r:
                shutil.copyfileobj(r, w)
    plain("py_zip64.zip", "python")
    with open(p("py_unseekable.zip"), "wb") as f:
        with zipfile.ZipFile(Unseekable(f), "w", zipfile.ZIP_DEFLATED) as zf:
            for n in walk:
                zf.write(os.path.join(tree, n), n)
    plain("py_unseekable.zip", "python")

    # Self-extracting: the payload behind the installer, offsets relative to the archive
    # (appended) and to the file (zip -A).
    base = "infozip.zip" if have("zip") else "py_zip64.zip"
    with open(p(base), "rb") as f:
        payload = f.read()
    with open(p("sfx_appended.exe"), "wb") as f:
        f.write(stub_bytes() + payload)
    plain("sfx_appended.exe", "stub + " + base)
    if have("zip"):
        shutil.copy(p("sfx_appended.exe"), p("sfx_adjusted.exe"))
        run(["zip", "-q", "-A", p("sfx_adjusted.exe")])
        plain("sfx_adjusted.exe", "zip -A")

    # Damaged: a flipped byte in deflated data (x.txt) and in stored data, a flipped CRC in
    # the central directory. Made with zipfile, then patched.
    rnd = random.Random(11)
    dmg = os.path.join(out, "damaged-src")
    write_tree(dmg, {"good.txt": (TEXT[:200], STAMP), "x.txt": (random_text(rnd, 200000), STAMP),
                     "stored.bin": (rnd.randbytes(300000), STAMP),
                     "crcflip.txt": (TEXT * 20, STAMP), "last.txt": (TEXT[:100], STAMP)}, [])
    with zipfile.ZipFile(p("damaged.zip"), "w") as zf:
        for n, method in (("good.txt", 8), ("x.txt", 8), ("stored.bin", 0), ("crcflip.txt", 8),
                          ("last.txt", 0)):
            zf.write(os.path.join(dmg, n), n, compress_type=method)
    with open(p("damaged.zip"), "rb") as f:
        data = bytearray(f.read())
    with zipfile.ZipFile(p("damaged.zip")) as zf:
        info = {i.filename: i for i in zf.infolist()}
        start_dir = zf.start_dir
    flip(data, data_start(data, info["x.txt"]) + info["x.txt"].compress_size // 2)
    flip(data, data_start(data, info["stored.bin"]) + 150000)
    central = start_dir
    while data[central:central + 4] == b"PK\x01\x02":
        n, m, k = struct.unpack_from("<HHH", data, central + 28)
        if data[central + 46:central + 46 + n] == b"crcflip.txt":
            flip(data, central + 16 + 1)           # a byte of the CRC-32 field
        central += 46 + n + m + k
    with open(p("damaged.zip"), "wb") as f:
        f.write(data)
    shutil.rmtree(dmg)
    manifest["damaged"].append({"file": "damaged.zip", "ok": ["good.txt", "last.txt"],
                                "fails": {"x.txt": 8, "stored.bin": 8, "crcflip.txt": 8}})

    # AES with the right password but tampered data: the authentication code must catch it.
    if have("7zz"):
        run(["7zz", "a", "-tzip", "-bd", "-mem=AES256", "-psecret", p("aes_tampered.zip"),
             "readme.txt", "big/random.txt"], cwd=secret)
        with open(p("aes_tampered.zip"), "rb") as f:
            data = bytearray(f.read())
        with zipfile.ZipFile(p("aes_tampered.zip")) as zf:
            i = zf.getinfo("big/random.txt")
        flip(data, data_start(data, i) + i.compress_size // 2)
        with open(p("aes_tampered.zip"), "wb") as f:
            f.write(data)
        manifest["damaged"].append({"file": "aes_tampered.zip", "password": "secret",
                                    "ok": ["readme.txt"], "fails": {"big/random.txt": 8}})

    # Hostile names, stored raw: each would leave the destination folder.
    unsafe = [b"../%s_1.txt", b"a/../../%s_2.txt", b"/%s_3.txt", b"C:/%s_4.txt", b"C:\\%s_5.txt",
              b"\\\\server\\share\\%s_6.txt", b"..\\%s_7.txt", b"../%s_dir/",
              b"../%s_sub/inner.txt"]
    unsafe = [u % MARKER.encode() for u in unsafe]
    with zipfile.ZipFile(p("hostile.zip"), "w", zipfile.ZIP_STORED) as zf:
        zf.writestr("safe.txt", b"inside\n")
        for raw in unsafe:
            zi = RawInfo(raw)
            zi.external_attr = 0x10 if raw.endswith(b"/") else 0x20
            zf.writestr(zi, b"" if raw.endswith(b"/") else b"escaped\n")
        zf.writestr("safe2.txt", b"still inside\n")
    manifest["hostile"] = {"file": "hostile.zip", "unsafe": [u.decode("latin-1") for u in unsafe],
                           "ok": ["safe.txt", "safe2.txt"], "marker": MARKER}

    # Lies between the records. A flipped bit in a central name: "kelvaro.exd" for the local
    # "kelvaro.exe". A local extra field that moves an item's data past the next local header.
    with zipfile.ZipFile(p("name_lie.zip"), "w", zipfile.ZIP_DEFLATED) as zf:
        zf.writestr("kelvaro.exe", b"the new program\n" * 100)
        zf.writestr("readme.txt", b"read me\n")
    with open(p("name_lie.zip"), "rb") as f:
        data = bytearray(f.read())
    with zipfile.ZipFile(p("name_lie.zip")) as zf:
        central = zf.start_dir
    data[central + 46 + len("kelvaro.ex")] ^= 0x01
    with open(p("name_lie.zip"), "wb") as f:
        f.write(data)
    manifest["damaged"].append({"file": "name_lie.zip", "ok": ["readme.txt"],
                                "fails": {"kelvaro.exd": 8}})
    raw_archive(p("extra_lie.zip"), [(b"a.txt", 0, b"aaaa", zlib.crc32(b"aaaa"), 4),
                                     (b"b.txt", 0, b"bbbb", zlib.crc32(b"bbbb"), 4)])
    with open(p("extra_lie.zip"), "r+b") as f:
        f.seek(28)
        f.write(struct.pack("<H", 40))      # a.txt's local extra length, nothing behind it
    manifest["damaged"].append({"file": "extra_lie.zip", "ok": ["b.txt"], "fails": {"a.txt": 8}})

    # Overlapping items, refused at open: one deflated kernel named by many central records,
    # and the quoted shape, where each item's deflated data starts with a stored block that
    # quotes the next item's local header and goes on with that item's data.
    manifest["overlap"] = []
    kernel_plain = bytes(1 << 20)
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    kernel = c.compress(kernel_plain) + c.flush()
    fields = lambda crc, csize, usize, name: struct.pack(
        "<HHHHHIIIH", 20, 0, 8, 0x8F7D, 0x5A63, crc, csize, usize, len(name))
    out_bytes = struct.pack("<I", 0x04034B50) + fields(zlib.crc32(kernel_plain), len(kernel),
                                                       len(kernel_plain), b"k000.bin") + \
        b"\0\0" + b"k000.bin" + kernel
    central = b""
    for i in range(200):
        name = b"k%03d.bin" % i
        central += struct.pack("<IH", 0x02014B50, 20) + fields(
            zlib.crc32(kernel_plain), len(kernel), len(kernel_plain), name) + \
            struct.pack("<HHHHII", 0, 0, 0, 0, 0x20, 0) + name
    with open(p("overlap_shared.zip"), "wb") as f:
        f.write(out_bytes + central + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 200, 200,
                                                    len(central), len(out_bytes), 0))
    manifest["overlap"].append({"file": "overlap_shared.zip", "items": ["k000.bin", "k001.bin"],
                                "declared": 200 * len(kernel_plain)})

    n = 50
    names = [b"q%02d.bin" % i for i in range(n)]
    # Built from the last item back: each header needs its item's CRC and sizes.
    tail, content = kernel, kernel_plain
    headers = [None] * n
    for i in reversed(range(n)):
        header = struct.pack("<I", 0x04034B50) + fields(zlib.crc32(content), len(tail),
                                                        len(content), names[i]) + b"\0\0" + names[i]
        headers[i] = (header, zlib.crc32(content), len(tail), len(content))
        if i:
            quote = struct.pack("<BHH", 0, len(header), len(header) ^ 0xFFFF)
            tail = quote + header + tail
            content = header + content
    body, central, offset = b"", b"", 0
    for i in range(n):
        header, crc, csize, usize = headers[i]
        central += struct.pack("<IH", 0x02014B50, 20) + fields(crc, csize, usize, names[i]) + \
            struct.pack("<HHHHII", 0, 0, 0, 0, 0x20, len(body)) + names[i]
        body += header + (struct.pack("<BHH", 0, len(headers[i + 1][0]),
                                      len(headers[i + 1][0]) ^ 0xFFFF) if i + 1 < n else b"")
    body += kernel
    with open(p("overlap_quoted.zip"), "wb") as f:
        f.write(body + central + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, n, n, len(central),
                                             len(body), 0))
    manifest["overlap"].append({"file": "overlap_quoted.zip", "items": ["q00.bin", "q01.bin"],
                                "declared": sum(h[3] for h in headers)})

    # A bomb: 50 MB of zeros that declares 1000 bytes (sizes and CRC of the first 1000).
    zeros = 50 * 1000 * 1000
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    packed = c.compress(bytes(zeros)) + c.flush()
    raw_archive(p("bomb.zip"), [(b"bomb.bin", 8, packed, zlib.crc32(bytes(1000)), 1000),
                                (b"after.txt", 0, b"after the bomb\n", zlib.crc32(b"after the bomb\n"), 15)])
    manifest["bomb"] = {"file": "bomb.zip", "declared": 1000, "inflates_to": zeros,
                        "ok": ["after.txt"]}

    with open(p("manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1)
    return manifest


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    os.environ["TZ"] = "UTC"    # zipfile stamps in local time; the tests read them in UTC
    time.tzset()
    start = time.time()
    m = build(sys.argv[1])
    count = len(m["plain"]) + len(m["encrypted"]) + len(m["damaged"]) + len(m["overlap"]) + 2
    print(f"{count} archives in {time.time() - start:.1f} s"
          + (f"; missing tools: {', '.join(m['missing'])}" if m["missing"] else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
