#!/usr/bin/env python3
"""The built stub (PE32 in the 32-bit build, PE32+ in the x86-64 one) as packages are made
from it: klvpack builds a package, osslsigncode signs it, and klvpack reads both through the
view that ends where the certificate table begins: the same items, the signature found and its
digest matching, and the stub's kind told.

    stub_signatures.py STUB.exe WORKDIR        (KLVPACK and KLV_RUNNER from the environment)
"""
import os
import shutil
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pack"))
from packlib import Tools  # noqa: E402


def pe_kind(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    return {0x10B: "PE32", 0x20B: "PE32+"}.get(magic, hex(magic))


def main():
    stub, work = sys.argv[1], os.path.abspath(sys.argv[2])
    shutil.rmtree(work, ignore_errors=True)
    t = Tools(work)
    payload = os.path.join(work, "payload")
    os.makedirs(os.path.join(payload, "Data"))
    with open(os.path.join(payload, "Data", "nieuw.txt"), "wb") as f:
        f.write(b"nieuw in deze update\r\n" * 200)
    with open(os.path.join(payload, "kelvaro.exe"), "wb") as f:
        f.write(open(t.kelvaro("3.2.0.1"), "rb").read())
    unsigned = os.path.join(work, "update.exe")
    signed = os.path.join(work, "update-signed.exe")
    t.build(stub, payload, unsigned, caption="Kelvaro Update 3.2.0.1]")
    t.sign(unsigned, signed)
    failures = []
    kind = pe_kind(stub)
    listings = {}
    for name, package in (("unsigned", unsigned), ("signed", signed)):
        code, out, err = t.run("list", package)
        if code != 0:
            failures.append(f"{kind} {name}: list exit {code}: {err}")
        listings[name] = out
        code, out, err = t.run("check", package)
        if code not in (0, 1):
            failures.append(f"{kind} {name}: check exit {code}: {out}{err}")
        told = {"PE32": "PE32, 32-bit", "PE32+": "PE32+, x86-64"}.get(kind, "?")
        if f"stub:            {told}" not in out:
            failures.append(f"{kind} {name}: check does not tell the stub's kind:\n{out}")
        line = next((l for l in out.splitlines() if l.startswith("signature")), "")
        if name == "unsigned" and "none" not in line:
            failures.append(f"{kind} unsigned: {line!r}")
        if name == "signed" and ("certificate table" not in out or "matches" not in out):
            failures.append(f"{kind} signed: no matching signature reported:\n{out}")
    if listings["signed"] != listings["unsigned"] or "nieuw.txt" not in listings["signed"]:
        failures.append(f"{kind}: signed and unsigned list differently:\n{listings}")
    for f in failures:
        print("FAILED: " + f)
    print(f"{kind} stub: {'ok' if not failures else 'failed'}")
    print("%d passed, %d failed" % (0 if failures else 1, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
