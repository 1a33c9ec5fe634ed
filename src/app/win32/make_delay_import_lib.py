#!/usr/bin/env python3
"""Makes a delay-load import library from a mingw-w64 import library.

usage: make_delay_import_lib.py NM DLLTOOL AR ORIGINAL.a DLLNAME OUTPUT.a

Every function the original imports is imported again through the delay-load helper, so the
DLL is loaded on the first call instead of at start-up. Members of the original that are not
import stubs (the GUIDs some of them carry) are copied over unchanged.
"""
import os
import subprocess
import sys
import tempfile


def main():
    nm, dlltool, ar, original, dll, output = sys.argv[1:7]
    listing = subprocess.run([nm, "-A", "--defined-only", original], check=True,
                             capture_output=True, text=True).stdout
    imports, members = set(), {}
    for line in listing.splitlines():
        # "ARCHIVE:MEMBER:ADDRESS KIND SYMBOL"
        parts = line.rsplit(":", 2)
        if len(parts) != 3:
            continue
        fields = parts[2].split()
        if len(fields) != 3:
            continue
        member, symbol = parts[1], fields[2]
        members.setdefault(member, []).append(symbol)
        if symbol.startswith("__imp_"):
            imports.add(symbol[len("__imp_"):])

    def is_import_member(symbols):
        return any(s.startswith(("__imp_", "_head_")) or s.endswith("_iname") for s in symbols)

    data = sorted(m for m, symbols in members.items() if not is_import_member(symbols))
    with tempfile.TemporaryDirectory() as work:
        definition = os.path.join(work, "exports.def")
        with open(definition, "w") as f:
            f.write("LIBRARY %s\nEXPORTS\n" % dll)
            for name in sorted(imports):
                f.write("  %s\n" % name)
        result = os.path.join(work, "delay.a")
        subprocess.run([dlltool, "--def", definition, "--dllname", dll, "--output-delaylib",
                        result], check=True)
        if data:
            subprocess.run([ar, "x", os.path.abspath(original)] + data, check=True, cwd=work)
            subprocess.run([ar, "rs", result] + data, check=True, cwd=work)
        os.replace(result, output)


if __name__ == "__main__":
    main()
