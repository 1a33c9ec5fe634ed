#!/usr/bin/env python3
"""Makes a delay-load import library from a mingw-w64 import library.

usage: make_delay_import_lib.py NM DLLTOOL AR ORIGINAL.a DLLNAME OUTPUT.a [--i386]

With --i386 (32-bit x86) symbols carry a leading underscore and stdcall functions their
argument size ("_PeekMessageA@20"); the DLL exports them by the bare name.

Every function the original imports is imported again through the delay-load helper, so the
DLL is loaded on the first call instead of at start-up. Members of the original that are not
import stubs (the GUIDs some of them carry) are copied over unchanged.
"""
import os
import subprocess
import sys
import tempfile


def relocate_i386(dlltool, ar, library, work):
    """The i686 linker writes zeros into the address slots of a delay-load library's
    ".idata$5" (the slot must hold its loading thunk at start), so the library's import
    sections move into ".data$klvdelay*" sections, which the linker relocates as data. The
    section name keeps the order the import table needs: the head object's entries first,
    then every function's, then the tail's terminators (the linker sorts ".data$*" by name
    and keeps input order among equal names, so each function's address slot and name slot
    keep the same index)."""
    objcopy = dlltool[: -len("dlltool")] + "objcopy"
    folder = os.path.join(work, "members")
    os.mkdir(folder)
    members = subprocess.run([ar, "t", library], check=True, capture_output=True,
                             text=True).stdout.split()
    subprocess.run([ar, "x", library], check=True, cwd=folder)
    for member in members:
        role = "a" if member.endswith("_h.o") else "c" if member.endswith("_t.o") else "b"
        renames = []
        for part in "24567":
            renames += ["--rename-section",
                        ".idata$%s=.data$klvdelay%s%s" % (part, part, role)]
        subprocess.run([objcopy] + renames + [member], check=True, cwd=folder)
    os.remove(library)
    subprocess.run([ar, "rcs", library] + members, check=True, cwd=folder)


def main():
    nm, dlltool, ar, original, dll, output = sys.argv[1:7]
    i386 = "--i386" in sys.argv[7:]
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
            name = symbol[len("__imp_"):]
            if i386:
                if not name.startswith("_"):
                    continue  # not a C symbol
                name = name[1:]
            imports.add(name)

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
                        result] + (["--kill-at"] if i386 else []), check=True)
        if i386:
            relocate_i386(dlltool, ar, result, work)
        if data:
            subprocess.run([ar, "x", os.path.abspath(original)] + data, check=True, cwd=work)
            subprocess.run([ar, "rs", result] + data, check=True, cwd=work)
        os.replace(result, output)


if __name__ == "__main__":
    main()
