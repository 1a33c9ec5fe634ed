#!/usr/bin/env python3
"""What the built klvupgradeStub.exe must be as a file: direct imports only from DLLs that
Windows keeps in its KnownDLLs list (anything else would be looked for beside the package),
the caption marker exactly once (klvpack patches the block it finds), the manifest running
it as the invoker, DPI aware (per monitor v2, else per monitor, else system-wide), and its
version description.

usage: check_stub_exe.py OBJDUMP STUB.exe
"""
import re
import subprocess
import sys

KNOWN_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll", "ws2_32.dll", "user32.dll",
              "gdi32.dll", "shell32.dll", "ole32.dll", "comdlg32.dll", "oleaut32.dll",
              "shlwapi.dll", "imm32.dll", "rpcrt4.dll", "sechost.dll", "combase.dll"}
MARKER = b"KLV-CAPTION-v1:\x01"


def main():
    objdump, stub = sys.argv[1:3]
    failures = []
    headers = subprocess.run([objdump, "-p", stub], check=True, capture_output=True,
                             text=True).stdout
    imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", headers)}
    if not imports:
        failures.append("no import table found")
    for dll in sorted(imports - KNOWN_DLLS):
        failures.append("imports %s, which is no KnownDLL" % dll)

    data = open(stub, "rb").read()
    if data.count(MARKER) != 1:
        failures.append("caption marker found %d times" % data.count(MARKER))

    manifest = re.search(rb"<assembly.*?</assembly>", data, re.S)
    if not manifest:
        failures.append("no manifest")
    else:
        text = manifest.group(0)
        if b'level="asInvoker"' not in text:
            failures.append("manifest does not run the stub as invoker")
        if not re.search(rb"<dpiAwareness[^>]*>\s*PerMonitorV2, PerMonitor\s*</dpiAwareness>", text):
            failures.append("manifest does not declare per-monitor (v2) DPI awareness")
        if not re.search(rb"<dpiAware[^>]*>\s*true/pm\s*</dpiAware>", text):
            failures.append("manifest does not declare DPI awareness below Windows 10")
        if text.count(b"supportedOS") != 4:
            failures.append("manifest does not name Windows 7, 8, 8.1 and 10/11")
        if b"Microsoft.Windows.Common-Controls" not in text:
            failures.append("manifest does not ask for common controls 6")

    if "Kelvaro Upgrade".encode("utf-16-le") not in data:
        failures.append("no FileDescription \"Kelvaro Upgrade\" in the version resource")

    for f in failures:
        print("FAILED: " + f)
    print("%d passed, %d failed" % (0 if failures else 1, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
