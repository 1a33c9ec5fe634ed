#!/usr/bin/env python3
"""The built stub (PE32 in the 32-bit build, PE32+ in the x86-64 one) as packages are made
from it: klvpack builds a package, osslsigncode signs it, and klvpack reads both through the
view that ends where the certificate table begins: the same items, the signature found and its
digest matching, and the stub's kind told. The update's version stands in the package's version
resource, as Windows's own GetFileVersionInfo and VerQueryValue read it (VERSION_INFO.exe) and
as klvpack check reads it, before and after signing; without a version in the caption the
package keeps the stub's.

    stub_signatures.py STUB.exe WORKDIR VERSION_INFO.exe  (KLVPACK and KLV_RUNNER from the
                                                            environment)
"""
import os
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pack"))
from packlib import Tools  # noqa: E402


def pe_kind(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    return {0x10B: "PE32", 0x20B: "PE32+"}.get(magic, hex(magic))


def version_info(t, reader, package):
    """The version resource as Windows reads it: {"file": ..., "product": ..., KEY: VALUE}."""
    p = subprocess.run(t.runner + [reader, t.path(package)], capture_output=True)
    lines = p.stdout.decode("utf-8", "replace").replace("\r\n", "\n").splitlines()
    info = {}
    for line in lines:
        key, _, value = line.partition("=")
        info[key] = value[1:-1] if value.startswith("[") else value
    return p.returncode, info


def version_failures(t, reader, kind, stub, unsigned, signed, work, payload):
    failures = []
    ours = {"file": "3.2.0.1", "product": "3.2.0.1", "FileVersion": "3.2.0.1",
            "ProductVersion": "3.2.0.1", "FileDescription": "Kelvaro Update 3.2.0.1",
            "ProductName": "Kelvaro Update 3.2.0.1", "CompanyName": "Kelvaro",
            "OriginalFilename": "klvupgradeStub.exe", "InternalName": "klvupgradeStub"}
    for name, package in (("unsigned", unsigned), ("signed", signed)):
        code, info = version_info(t, reader, package)
        if code != 0 or info != ours:
            failures.append(f"{kind} {name}: the version resource reads {code} {info}")
    if not t.verify(signed):
        failures.append(f"{kind}: osslsigncode does not verify the signed package")
    _, out, _ = t.run("check", signed)
    if "file properties: 3.2.0.1, \"Kelvaro Update 3.2.0.1\", as the caption says" not in out:
        failures.append(f"{kind} signed: check does not read the version resource:\n{out}")
    # Without a version in the caption: the stub's own version, its room turned into NULs.
    _, stub_info = version_info(t, reader, stub)
    plain = os.path.join(work, "plain.exe")
    t.build(stub, payload, plain, caption="Kelvaro Help")
    code, info = version_info(t, reader, plain)
    kept = {k: v.rstrip(" ") for k, v in stub_info.items()}
    if code != 0 or info != kept or info["FileDescription"] != "Kelvaro Upgrade":
        failures.append(f"{kind}: without a version the package reads {info}, the stub {stub_info}")
    _, out, _ = t.run("check", plain)
    if f"file properties: {stub_info['file']}, \"Kelvaro Upgrade\", the caption carries none" \
            not in out:
        failures.append(f"{kind} without a version: check says\n{out}")
    return failures


def main():
    stub, work, reader = sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3]
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
    failures += version_failures(t, reader, kind, stub, unsigned, signed, work, payload)
    if listings["signed"] != listings["unsigned"] or "nieuw.txt" not in listings["signed"]:
        failures.append(f"{kind}: signed and unsigned list differently:\n{listings}")
    for f in failures:
        print("FAILED: " + f)
    print(f"{kind} stub: {'ok' if not failures else 'failed'}")
    print("%d passed, %d failed" % (0 if failures else 1, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
