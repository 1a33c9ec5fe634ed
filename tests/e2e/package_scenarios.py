#!/usr/bin/env python3
"""Packages as a maker ships them, end to end: built by klvpack (the Windows tool run in the
scenario's own prefix, or a native one), signed with osslsigncode and a throwaway certificate
made by openssl, and run under Wine on a staged Kelvaro 3 installation, answered with xdotool.

    package_scenarios.py --stub klvupgradeStub.exe --installed-program A.exe
                         --update-program B.exe --newer-program C.exe --klvpack klvpack[.exe]
                         --work DIR [--keep] [NAME ...]

A.exe, B.exe and C.exe carry the versions 3.1.0.5, 3.2.0.1 and 3.10.0.0.
"""
from __future__ import annotations

import shutil
import struct
import subprocess
import sys
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "pack"))
from harness import (Prefix, Run, check, differences, payload, snapshot,  # noqa: E402
                     stage_installation)
from packlib import Tools  # noqa: E402
from scenarios import (DAMAGED, NOTICE_TITLE, START_QUESTION, START_TITLE,  # noqa: E402
                       VERSION_TITLE, Suite, main)
from texts import question, text  # noqa: E402

CAPTION = "Kelvaro Update 3.2.0.1]"
NEWER_QUESTION = question(text("newer_version_question", installed="3.10.0.0", package="3.2.0.1"),
                          text("cancel_update_meaning"),
                          text("older_version_meaning", package="3.2.0.1"))
# Where the scenario's package is made: outside the installation, away from its snapshot.
MAKER = "C:\\Pakket"
TAMPERED = "Data/nieuw in deze update.txt"  # random bytes: stored, so a flip is a CRC fault


class PackageSuite(Suite):
    def __init__(self, args):
        super().__init__(args)
        self.signer = Tools(str(self.work / "signing"), klvpack=str(args.klvpack), runner="")

    # -- making packages ------------------------------------------------------------------
    def klvpack_build(self, prefix: Prefix, name: str, files: dict[str, bytes],
                      caption: str | None = None) -> Path:
        """The package made by `klvpack build` from a tree holding `files`; its Unix path (in
        the prefix's Downloads folder)."""
        maker = prefix.unix(MAKER + "\\")
        tree = maker / "payload"
        shutil.rmtree(tree, ignore_errors=True)
        for rel, data in files.items():
            (tree / rel).parent.mkdir(parents=True, exist_ok=True)
            (tree / rel).write_bytes(data)
        out = prefix.unix(prefix.downloads_windows) / name
        out.parent.mkdir(parents=True, exist_ok=True)
        extra = ["--caption", caption] if caption is not None else []
        if self.args.klvpack.suffix.lower() == ".exe":
            # The maker's kit: klvpack.exe beside the stub, which it takes without --stub.
            shutil.copy2(self.args.klvpack, maker / "klvpack.exe")
            shutil.copy2(self.args.stub, maker / "klvupgradeStub.exe")
            res = prefix.wine(MAKER + "\\klvpack.exe", "build", "--payload", MAKER + "\\payload",
                              *extra, "-o", prefix.downloads_windows + "\\" + name,
                              check_ok=False)
            told = f"stub: {MAKER}\\klvupgradeStub.exe (PE32".encode()
            check(res.returncode != 0 or told in res.stdout,
                  f"klvpack build did not take the stub beside it: {res.stdout[-300:]!r}")
        else:
            res = subprocess.run([str(self.args.klvpack), "build", "--stub", str(self.args.stub),
                                  "--payload", str(tree), *extra, "-o", str(out)],
                                 capture_output=True)
        check(res.returncode == 0 and out.is_file(),
              f"klvpack build: exit {res.returncode}: {(res.stdout + res.stderr)[-600:]!r}")
        shutil.rmtree(maker)
        return out

    def windows_path(self, prefix: Prefix, package: Path) -> str:
        return prefix.downloads_windows + "\\" + package.name

    def signed(self, package: Path, name: str) -> Path:
        out = package.with_name(name)
        self.signer.sign(str(package), str(out))
        package.unlink()
        return out

    # -- runs -----------------------------------------------------------------------------
    def first_box(self, run: Run, text: str, title: str):
        """The run's first box, which must say `text` under `title`; another box fails at once
        with its text (not after waiting for a window with the title)."""
        first = run.wait("a box", lambda: run.box_texts())[0]
        check(first.text == text, f"the first box said {first.text!r}, not {text!r}")
        return self.expect_box(run, text, title)

    def upgrade(self, prefix: Prefix, exe: str, name: str) -> Run:
        """A program upgrade whose first box is the start question, answered No."""
        run = Run(prefix, exe, self.work / f"{name}.log")
        try:
            run.press_install(run.window(CAPTION))
            run.answer(self.first_box(run, START_QUESTION, START_TITLE), "n")
            run.wait_exit()
        finally:
            run.kill()
        check(len(run.box_texts()) == 1, f"boxes: {[b.text for b in run.box_texts()]}")
        return run

    # -- scenarios -------------------------------------------------------------------------
    def version_caption(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program)
        files = payload(self.args.update_program)
        package = self.klvpack_build(prefix, "klvupgrade-3.2.0.1.exe", files, CAPTION)
        before = snapshot(root)
        self.upgrade(prefix, self.windows_path(prefix, package), "version_caption")
        self.expect_installed(root, files)
        self.expect_only(before, snapshot(root), self.changed_paths(files))
        return "3.1.0.5 -> 3.2.0.1 with no version question; the start question only"

    def version_newer_installed(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.newer_program)
        files = payload(self.args.update_program)
        package = self.klvpack_build(prefix, "klvupgrade-3.2.0.1.exe", files, CAPTION)
        before = snapshot(root)
        run = Run(prefix, self.windows_path(prefix, package),
                  self.work / "version_newer_installed.log")
        try:
            run.press_install(run.window(CAPTION))
            run.answer(self.first_box(run, NEWER_QUESTION, VERSION_TITLE), "Return")  # Ja
            run.wait_exit()
        finally:
            run.kill()
        check(len(run.box_texts()) == 1, f"boxes: {[b.text for b in run.box_texts()]}")
        changes = differences(before, snapshot(root))
        check(not changes, "the installation changed:\n  " + "\n  ".join(changes))
        return "3.10.0.0 installed: Versiecontrole asked (numbers, not text); Ja: unchanged"

    def signed_package(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program)
        files = payload(self.args.update_program)
        plain = self.klvpack_build(prefix, "unsigned.exe", files, CAPTION)
        size = plain.stat().st_size
        package = self.signed(plain, "klvupgrade-3.2.0.1.exe")
        grown = package.stat().st_size - size
        check(grown > 0, "signing added nothing")
        check(self.signer.verify(str(package)), "osslsigncode verify fails on the signed package")
        before = snapshot(root)
        self.upgrade(prefix, self.windows_path(prefix, package), "signed_package")
        self.expect_installed(root, files)
        self.expect_only(before, snapshot(root), self.changed_paths(files))
        return f"signed (+{grown} bytes), verify passes, installed 3.1.0.5 -> 3.2.0.1"

    def signed_tampered(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program)
        files = payload(self.args.update_program)
        plain = self.klvpack_build(prefix, "unsigned.exe", files, CAPTION)
        # The flipped byte: the middle of an item's data, found in the unsigned package (signing
        # appends the certificate table and leaves the payload where it was).
        with zipfile.ZipFile(plain) as z:
            info = z.getinfo(TAMPERED)
            check(info.compress_type == zipfile.ZIP_STORED, f"{TAMPERED} is not stored")
        data = plain.read_bytes()
        local = info.header_offset
        check(data[local:local + 4] == b"PK\x03\x04", "local header not found")
        at = (local + 30 + int.from_bytes(data[local + 26:local + 28], "little")
              + int.from_bytes(data[local + 28:local + 30], "little") + info.compress_size // 2)
        package = self.signed(plain, "klvupgrade-3.2.0.1.exe")
        check(self.signer.verify(str(package)), "osslsigncode verify fails before the change")
        signed = bytearray(package.read_bytes())
        check(signed[local:at] == data[local:at], "signing moved the payload")
        signed[at] ^= 0x01
        package.write_bytes(bytes(signed))
        check(not self.signer.verify(str(package)),
              "osslsigncode verify passes on the changed package")
        before = snapshot(root)
        run = Run(prefix, self.windows_path(prefix, package), self.work / "signed_tampered.log")
        try:
            run.press_install(run.window(CAPTION))
            run.answer(self.first_box(run, DAMAGED, NOTICE_TITLE), "Return")
            run.wait_exit()
        finally:
            run.kill()
        check(len(run.box_texts()) == 1, f"boxes: {[b.text for b in run.box_texts()]}")
        changes = differences(before, snapshot(root))
        check(not changes, "the installation changed:\n  " + "\n  ".join(changes))
        self.expect_no_shortcuts(prefix)
        return (f"byte {at} of {len(signed)} flipped: verify fails, the damaged notice, "
                "every file, stamp and attribute as before")

    def hostile_headers(self, prefix: Prefix):
        # Behind the stub, 2.6 MB of local headers, one every 30 bytes, each announcing a name
        # of 65,535 bytes, and no end record: read as claimed, the names alone take 5.7 GB.
        root = stage_installation(prefix, self.args.installed_program)
        header = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0, 0, 0, 0, 0xFFFF, 0)
        package = prefix.unix(prefix.downloads_windows) / "klvupgrade-3.2.0.1.exe"
        package.parent.mkdir(parents=True, exist_ok=True)
        package.write_bytes(Path(self.args.stub).read_bytes() + header * 87000)
        before = snapshot(root)
        run = Run(prefix, self.windows_path(prefix, package), self.work / "hostile_headers.log")
        try:
            run.answer(self.first_box(run, DAMAGED, NOTICE_TITLE), "Return")
            code = run.wait_exit()
        finally:
            run.kill()
        check(code == 4, f"exit {code}, not 4 (damaged)")
        check(len(run.box_texts()) == 1, f"boxes: {[b.text for b in run.box_texts()]}")
        changes = differences(before, snapshot(root))
        check(not changes, "the installation changed:\n  " + "\n  ".join(changes))
        return "2.6 MB of headers announcing 64 KiB names: the damaged notice, exit 4, unchanged"

    SCENARIOS = ("version_caption", "version_newer_installed", "signed_package",
                 "signed_tampered", "hostile_headers")


if __name__ == "__main__":
    main(PackageSuite, ("stub", "installed-program", "update-program", "newer-program", "klvpack",
                        "work"), __doc__)
