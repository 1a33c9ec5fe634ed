#!/usr/bin/env python3
"""All or nothing, end to end: installation runs that fail part-way under Wine, each on a staged
Kelvaro 3 installation whose every file's bytes, time stamps and attributes are compared before
and after; runs cut off while switching over, undone by the next run of a package; and runs
that succeed, compared with a plain extraction of the same payload by klvpack.

    all_or_nothing.py --stub klvupgradeStub.exe --installed-program A.exe --update-program B.exe
                      --klvpack klvpack.exe --hold-file hold_file.exe --work DIR [--keep] [NAME ...]

The full drive is a tmpfs mounted over the installation folder (root only; skipped otherwise).
A cut-off run is made with KLVUPGRADE_STOP_AFTER_STEP=N (read only by builds with the test
suites), which ends the installer as a kill would after N steps of the switch-over (0: the switch
recorded; then one per move).
"""
from __future__ import annotations

import contextlib
import os
import shutil
import subprocess
import sys
import zipfile
import zlib
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from harness import (INSTALL_DIR, Prefix, Run, check, differences, file_held,  # noqa: E402
                     payload, snapshot, stage_installation)
from scenarios import DAMAGED, DONE, START_QUESTION, START_TITLE, Suite, main  # noqa: E402
from texts import text  # noqa: E402

# Wine's token is always elevated; these runs are a standard user's, as on a shared PC, unless a
# scenario takes the token as it is (elevated_token).
os.environ["KLVUPGRADE_TOKEN_NOT_ELEVATED"] = "1"

UPGRADE_CAPTION = "Kelvaro Update 3.2.0.1]"  # a newer version: no version question
HELP_CAPTION = "Kelvaro Schermhelp Update 3.2.0.1]"
NOTHING_CHANGED = text("nothing_changed")
RECOVERED = text("earlier_run_restored")
# The notice of a file that could not be written, up to the file's name.
WRITE_FAILED = text("not_unpacked", folder=INSTALL_DIR, file="\0").split("\0")[0]
STOPPED = 99  # the exit code of a run cut off by KLVUPGRADE_STOP_AFTER_STEP
RESERVED = "~klvupgrade."
RUNNING = text("already_running")
UNEXPECTED = text("unexpected_failure")
CONFIGURATION = {"stub.ini", "stub.bmp", "stub.jpg", "stub.ico"}
# A deep installation folder, and its items whose full installed paths are 250 characters:
# within the classic limit of 260 in place, past it in the run's staging and backup folders.
DEEP_DIR = ("C:\\Stamboomonderzoek familie Verhoeven-Van den Broek\\Gemeentearchieven en "
            "kerkelijke registers\\Kelvaro 3 werkversie")
LONG_PATH = 250


def journal(*records: bytes) -> bytes:
    """A journal as a run writes it: its header, then each record after its CRC-32."""
    return b"KLVUPGRADE-JOURNAL 3\n" + b"".join(
        b"%08x " % zlib.crc32(record) + record + b"\n" for record in records)


def unreadable_notice(folder):
    return text("earlier_run_unreadable", folder=folder)


def in_use_notice(name):
    return text("file_in_use", file=name)


def no_room_notice(needed_mb, available_mb):
    return text("no_room", folder=INSTALL_DIR, needed=needed_mb, available=available_mb)


def long_item(stem: str) -> str:
    """A payload name below DEEP_DIR whose installed path is LONG_PATH characters long."""
    start = f"Bronnen/Doop-, trouw- en begraafboeken 1650-1811/Transcripties/{stem} "
    room = LONG_PATH - len(DEEP_DIR) - 1 - len(start) - len(".txt")
    return start + ("akte " * room)[:room] + ".txt"


def many_files(count, size=2000, folder="Data/Bijlagen"):
    return {f"{folder}/bijlage{i:02d}.txt": (f"bijlage {i}\r\n" * size)[:size].encode()
            for i in range(count)}


@contextlib.contextmanager
def stop_after(step: int | None):
    """The next Run started inside ends after `step` steps of the switch-over."""
    if step is None:
        yield
        return
    os.environ["KLVUPGRADE_STOP_AFTER_STEP"] = str(step)
    try:
        yield
    finally:
        del os.environ["KLVUPGRADE_STOP_AFTER_STEP"]


@contextlib.contextmanager
def elevated_token():
    """The runs started inside take Wine's token as it is: an administrator's, elevated."""
    del os.environ["KLVUPGRADE_TOKEN_NOT_ELEVATED"]
    try:
        yield
    finally:
        os.environ["KLVUPGRADE_TOKEN_NOT_ELEVATED"] = "1"


@contextlib.contextmanager
def small_drive(root: Path, size: str, inodes: int):
    """A tmpfs of `size` bytes and `inodes` files and folders mounted over `root`."""
    root.mkdir(parents=True, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},nr_inodes={inodes},mode=755",
                    "klv-small-drive", str(root)], check=True, capture_output=True)
    try:
        yield root
    finally:
        subprocess.run(["umount", "-l", str(root)], check=False, capture_output=True)


def damage(package: Path, name: str, how: str):
    """One entry of the package damaged with its directory intact: a byte in the middle of its
    compressed data flipped ("data"), or its CRC-32 changed in both headers ("crc")."""
    with zipfile.ZipFile(package) as z:
        info = z.getinfo(name)
        names = z.namelist()
        central = z.start_dir
    check(0 < names.index(name) < len(names) - 1, f"{name} is not in the middle of the payload")
    data = bytearray(package.read_bytes())
    local = info.header_offset
    check(data[local:local + 4] == b"PK\x03\x04", "local header not found")
    if how == "data":
        name_len = int.from_bytes(data[local + 26:local + 28], "little")
        extra_len = int.from_bytes(data[local + 28:local + 30], "little")
        data[local + 30 + name_len + extra_len + info.compress_size // 2] ^= 0x55
    else:
        crc = (info.CRC ^ 1).to_bytes(4, "little")
        data[local + 14:local + 18] = crc
        at = central
        while data[at + 46:at + 46 + len(info.orig_filename)] != info.orig_filename.encode():
            check(data[at:at + 4] == b"PK\x01\x02", "central record not found")
            lengths = [int.from_bytes(data[at + o:at + o + 2], "little") for o in (28, 30, 32)]
            at += 46 + sum(lengths)
        data[at + 16:at + 20] = crc
    package.write_bytes(bytes(data))


class AllOrNothing(Suite):
    # -- shared steps ----------------------------------------------------------------------
    def leftovers(self, prefix: Prefix, root: Path) -> list[str]:
        """The run's own files: in the installation folder, and the note in the temporary
        folder (wherever this Wine puts it)."""
        found = [p.name for p in root.iterdir() if p.name.lower().startswith(RESERVED)]
        # The run's log (klvupgrade.log and its rotated klvupgrade.N.log) stays, by design.
        found += [str(p.relative_to(prefix.user)) for p in prefix.user.rglob("*")
                  if p.name.lower() in CONFIGURATION or p.name.lower().startswith("klvupgrade.")
                  and not p.name.lower().endswith((".exe", ".log"))]
        return found

    def expect_unchanged(self, prefix, root, before, what):
        changes = differences(before, snapshot(root))
        check(not changes, f"{what}: the installation changed:\n  " + "\n  ".join(changes))
        left = self.leftovers(prefix, root)
        check(not left, f"{what}: left behind: {left}")

    def failing_run(self, prefix: Prefix, exe: str, caption: str, notice, name: str):
        """A run whose Enter ends in one notice; the notice's text (checked against `notice`,
        a text or a test) and the run's box count."""
        run = Run(prefix, exe, self.work / f"{name}.log")
        try:
            main = run.window(caption)
            run.press_install(main)
            box = run.next_box()
            ok = notice(box.text) if callable(notice) else box.text == notice
            check(ok, f"{name}: the notice said {box.text!r}")
            run.answer(box, "Return")
            run.wait_exit()
            check(len(run.box_texts()) == 1, f"{name}: boxes {[b.text for b in run.box_texts()]}")
            return box.text
        finally:
            run.kill()

    def upgrade_run(self, prefix: Prefix, exe: str, name: str, recovered=False,
                    caption=UPGRADE_CAPTION):
        """A program upgrade that succeeds, first telling of an undone run if `recovered`;
        the snapshot taken when the recovery notice was answered, else None."""
        run = Run(prefix, exe, self.work / f"{name}.log")
        restored = None
        try:
            if recovered:
                box = self.expect_box(run, RECOVERED)
                run.answer(box, "Return")
                restored = snapshot(prefix.unix(INSTALL_DIR))
            main = run.window(caption)
            run.press_install(main)
            box = self.expect_box(run, START_QUESTION, START_TITLE)
            run.answer(box, "n")
            run.wait_exit()
            return restored
        finally:
            run.kill()

    # -- scenarios -------------------------------------------------------------------------
    def full_drive(self, prefix: Prefix):
        if os.geteuid() != 0:
            return "SKIPPED: mounting the small drive needs root"
        root = prefix.unix(INSTALL_DIR)
        # The installation takes 13 inodes (the mount's root included) and about 1.1 MB.
        with small_drive(root, "3m", 13 + 12):
            stage_installation(prefix, self.args.installed_program)
            before = snapshot(root)
            # 1. A payload larger than the drive's room: refused before anything is written.
            big = payload(self.args.update_program, {"Afbeeldingen/scan.bmp": os.urandom(4 << 20)})
            exe = self.package(prefix, "groot.exe", big, caption=UPGRADE_CAPTION)
            st = os.statvfs(root)
            available = st.f_bavail * st.f_frsize // (1 << 20)
            needed = -(-(sum(len(d) for d in big.values()) + 4096 * len(big) + (1 << 20))
                       // (1 << 20))
            self.failing_run(prefix, exe, UPGRADE_CAPTION, no_room_notice(needed, available),
                             "full_drive-room")
            self.expect_unchanged(prefix, root, before, "room check")
            # 2. Room enough, but the drive's file table fills up part-way through the payload.
            files = payload(self.args.update_program, many_files(20))
            exe = self.package(prefix, "veel.exe", files, caption=UPGRADE_CAPTION)
            said = self.failing_run(
                prefix, exe, UPGRADE_CAPTION,
                lambda t: t.startswith(WRITE_FAILED) and "bijlage" in t
                and t.endswith(NOTHING_CHANGED), "full_drive-partway")
            self.expect_unchanged(prefix, root, before, "full part-way")
        failed_at = said.split("\\")[-1].split('"')[0]
        return (f"room check: Nodig {needed} MB, beschikbaar {available} MB; file table full "
                f"at {failed_at}: the write-failure notice; unchanged both times")

    def file_in_use(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program)
        files = payload(self.args.update_program,
                        {"Data/voornamen.txt": b"Jan\r\nPiet\r\nKees\r\n", **many_files(5)})
        exe = self.package(prefix, "klvupgrade.exe", files, caption=UPGRADE_CAPTION)
        with file_held(prefix, self.args.hold_file, INSTALL_DIR + "\\Data\\voornamen.txt",
                       self.work / "hold_file.log", "voornamen") as holder:
            before = snapshot(root)
            self.failing_run(prefix, exe, UPGRADE_CAPTION, in_use_notice("Data\\voornamen.txt"),
                             "file_in_use")
            check(holder.proc.poll() is None, "the holding program ended")
            # The run's log says why: the Windows error of the refused move and the item.
            log = prefix.unix(prefix.user_windows + r"\Temp\klvupgrade.log").read_text("utf-8")
            failure = [line for line in log.splitlines() if " failure " in line]
            check(any(("Windows-fout 32, sharing violation," in line
                       or "Windows-fout 33, lock violation," in line)
                      and "item: Data\\voornamen.txt" in line for line in failure),
                  f"no failure line with the Windows error and the item: {failure}")
        self.expect_unchanged(prefix, root, before, "file in use")
        # Released, the same package installs.
        self.upgrade_run(prefix, exe, "file_in_use-released")
        self.expect_installed(root, files)
        check(not self.leftovers(prefix, root), "left behind after the install")
        return "the in-use notice, unchanged; once released the same package installed"

    def damaged_item(self, prefix: Prefix):
        root = stage_installation(prefix, self.args.installed_program)
        before = snapshot(root)
        files = payload(self.args.update_program, many_files(12))
        middle = "Data/Bijlagen/bijlage06.txt"
        for how in ("data", "crc"):
            exe = self.package(prefix, f"klvupgrade-{how}.exe", files, caption=UPGRADE_CAPTION)
            damage(prefix.unix(exe), middle, how)
            self.failing_run(prefix, exe, UPGRADE_CAPTION, DAMAGED, f"damaged_item-{how}")
            self.expect_unchanged(prefix, root, before, f"damaged ({how})")
        return f"a flipped data byte and a wrong CRC in {middle}: the notice, unchanged"

    def cut_off(self, prefix: Prefix):
        """Cut off after 0, 1, 3 and all 6 steps of the switch-over (2 new files, 2 replaced,
        a new folder); each undone at the next start, which then installs."""
        root = stage_installation(prefix, self.args.installed_program)
        files = payload(self.args.update_program)
        exe = self.package(prefix, "klvupgrade.exe", files, caption=UPGRADE_CAPTION)
        help_files = payload(extra={"Help/Kelvaro.chm": b"ITSF" + bytes(5000)})
        help_exe = self.package(prefix, "klvhelp.exe", help_files, caption=HELP_CAPTION)
        staged = snapshot(root)
        done = []
        for step in (0, 1, 3, 6):
            shutil.rmtree(root)
            stage_installation(prefix, self.args.installed_program)
            before = snapshot(root)
            check(before == staged, "the staging is not reproducible")
            with stop_after(step):
                run = Run(prefix, exe, self.work / f"cut_off-{step}.log")
            try:
                run.press_install(run.window(UPGRADE_CAPTION))
                code = run.wait_exit(30)
            finally:
                run.kill()
            check(code == STOPPED, f"step {step}: exit {code}, not the cut-off's {STOPPED}")
            check((root / "~klvupgrade.journal").exists(), f"step {step}: no journal left")
            changed = len(differences(before, snapshot(root)))
            if step == 1:
                # Another package's run comes next: it undoes the cut-off run first.
                run = Run(prefix, help_exe, self.work / f"cut_off-{step}-next.log")
                try:
                    run.answer(self.expect_box(run, RECOVERED), "Return")
                    restored = snapshot(root)
                    run.press_install(run.window(HELP_CAPTION))
                    run.answer(self.expect_box(run, DONE), "Return")
                    run.wait_exit()
                finally:
                    run.kill()
                installed = help_files
            else:
                restored = self.upgrade_run(prefix, exe, f"cut_off-{step}-next", recovered=True)
                installed = files
            changes = differences(before, restored)
            check(not changes, f"step {step}: not restored:\n  " + "\n  ".join(changes))
            self.expect_installed(root, installed)
            check(not self.leftovers(prefix, root), f"step {step}: left behind after the install")
            done.append(f"{step}:{changed} paths changed")
        return "cut off after steps " + ", ".join(done) + "; each restored exactly, then installed"

    def linked_folder(self, prefix: Prefix):
        """The installation folder is a link (a junction is a symbolic link in a Wine prefix):
        the program was moved to another folder and C:\\Kelvaro3 left pointing at it. A run cut
        off mid-switch there is undone by the next start through the same link, which then
        installs; the link stays a link."""
        moved = r"C:\Verplaatst\Kelvaro3"
        target = stage_installation(prefix, self.args.installed_program, folder=moved,
                                    registry=False)
        link = prefix.unix(INSTALL_DIR)
        link.symlink_to(target, target_is_directory=True)
        prefix.set_install_registry(INSTALL_DIR)
        files = payload(self.args.update_program)
        exe = self.package(prefix, "klvupgrade.exe", files, caption=UPGRADE_CAPTION)
        before = snapshot(target)
        with stop_after(3):
            run = Run(prefix, exe, self.work / "linked_folder-cut.log")
        try:
            run.press_install(run.window(UPGRADE_CAPTION))
            code = run.wait_exit(30)
        finally:
            run.kill()
        check(code == STOPPED, f"exit {code}, not the cut-off's {STOPPED}")
        check((target / "~klvupgrade.journal").exists(), "no journal left in the linked folder")
        check(differences(before, snapshot(target)), "the cut-off run changed nothing")
        restored = self.upgrade_run(prefix, exe, "linked_folder-next", recovered=True)
        changes = differences(before, restored)
        check(not changes, "not restored through the link:\n  " + "\n  ".join(changes))
        check(link.is_symlink(), "the link was replaced")
        self.expect_installed(target, files)
        check(not self.leftovers(prefix, target), f"left behind: {self.leftovers(prefix, target)}")
        return "cut off after 3 steps through the link: restored exactly by the next start, " \
               "then installed through it; the link kept"

    def relative_dir(self, prefix: Prefix):
        """/DIR=..\\..\\..\\Kelvaro3 from the Downloads folder: the run notes the absolute
        folder, so that another package's start (no /DIR) undoes the run cut off there."""
        root = stage_installation(prefix, self.args.installed_program, registry=False)
        before = snapshot(root)
        files = payload(self.args.update_program)
        exe = self.package(prefix, "klvupgrade.exe", files, caption=UPGRADE_CAPTION)
        check(prefix.downloads_windows.count("\\") == 3, prefix.downloads_windows)
        with stop_after(3):
            run = Run(prefix, exe, self.work / "relative_dir-cut.log",
                      args=["/VERYSILENT", "/DIR=..\\..\\..\\Kelvaro3"])
        try:
            code = run.wait_exit(60)
        finally:
            run.kill()
        check(code == STOPPED, f"exit {code}, not the cut-off's {STOPPED}")
        note = prefix.unix(prefix.user_windows + r"\Temp\klvupgrade.pending").read_text("utf-8")
        check(note.lower() == INSTALL_DIR.lower() + "\\\n", f"the note reads {note!r}")
        log = prefix.unix(prefix.user_windows + r"\Temp\klvupgrade.log").read_text("utf-8")
        check(f"folder   {INSTALL_DIR} (/DIR)" in log, "the log does not name the absolute folder")
        # Another package, without /DIR and with no registry entry to find the folder by.
        help_exe = self.package(prefix, "klvhelp.exe",
                                payload(extra={"Help/Kelvaro.chm": b"ITSF" + bytes(5000)}),
                                caption=HELP_CAPTION)
        run = Run(prefix, help_exe, self.work / "relative_dir-next.log")
        try:
            run.answer(self.expect_box(run, RECOVERED), "Return")
            restored = snapshot(root)
        finally:
            run.kill()
        changes = differences(before, restored)
        check(not changes, "not restored:\n  " + "\n  ".join(changes))
        return f"the note and the log name {INSTALL_DIR}; another package's start restored it"

    def committed_leftovers(self, prefix: Prefix):
        """An old file held open by another program with every sharing allowed (an indexer):
        the run moves it aside and installs, but its backup cannot go at once. The next start
        finishes that quietly, with a log line and no notice, and installs."""
        root = stage_installation(prefix, self.args.installed_program)
        files = payload(self.args.update_program,
                        {"Data/voornamen.txt": b"Jan\r\nPiet\r\nKees\r\n"})
        exe = self.package(prefix, "klvupgrade.exe", files, caption=UPGRADE_CAPTION)
        with file_held(prefix, self.args.hold_file, INSTALL_DIR + "\\Data\\voornamen.txt",
                       self.work / "indexer.log", "indexer", share_all=True):
            self.upgrade_run(prefix, exe, "committed_leftovers-first")
            self.expect_installed(root, files)
            left = (root / "~klvupgrade.journal").exists()
        # The next start: no notice of an interrupted update, the log tells what was finished.
        run = Run(prefix, exe, self.work / "committed_leftovers-next.log")
        try:
            main = run.window(UPGRADE_CAPTION)
            check(not run.box_texts(), f"the next start said {[b.text for b in run.box_texts()]}")
            run.press_install(main)
            run.answer(self.expect_box(run, START_QUESTION, START_TITLE), "n")
            run.wait_exit()
        finally:
            run.kill()
        self.expect_installed(root, files)
        check(not self.leftovers(prefix, root), f"left behind: {self.leftovers(prefix, root)}")
        if not left:
            return "the held backup went at once here (this Wine deletes it on the spot)"
        log = prefix.unix(prefix.user_windows + r"\Temp\klvupgrade.log").read_text("utf-8")
        check("recovery an interrupted earlier update was finished" in log,
              "the next start's log does not tell the finished run")
        return "installed with the old file held; the next start finished it quietly and installed"

    def relaunch_as_administrator(self, prefix: Prefix):
        """A folder this copy may not write (the installation mounted read-only; the copy taken
        for a standard user's, as Wine's token is always elevated): Ja starts the package again
        as administrator with every switch. That copy starts the run itself, still may not
        write, says so once and ends with exit 9, asking nothing again; the first copy waited
        and ends with that code, never 1, and the one log tells the hand-over."""
        root = stage_installation(prefix, self.args.installed_program)
        before = snapshot(root)
        log_path = r"C:\Beheer\logs 2026\update %DATUM%.log"
        prefix.unix(log_path).parent.mkdir(parents=True, exist_ok=True)
        exe = self.package(prefix, "klvupgrade.exe", payload(self.args.update_program),
                           caption=UPGRADE_CAPTION)
        subprocess.run(["mount", "--bind", str(root), str(root)], check=True, capture_output=True)
        try:
            subprocess.run(["mount", "-o", "remount,bind,ro", str(root)], check=True,
                           capture_output=True)
            run = Run(prefix, exe, self.work / "relaunch.log",
                      args=["/NOSTART", f"/LOG={log_path}"])
            try:
                run.press_install(run.window(UPGRADE_CAPTION))
                question = run.next_box(title="Geen schrijfrechten")
                check(question.text.startswith("U heeft geen rechten om de map"), question.text)
                run.answer(question, "Return")  # Ja: again as administrator
                notice = self.expect_box(run, f"U heeft geen rechten om de bestanden in "
                                              f"[{INSTALL_DIR}] te wijzigen." + NOTHING_CHANGED)
                run.answer(notice, "Return")
                code = run.wait_exit(60)
                boxes = [b.text for b in run.box_texts()]
            finally:
                run.kill()
        finally:
            subprocess.run(["umount", "-l", str(root)], check=False, capture_output=True)
        check(code == 9, f"the first copy ended with {code}, not the new copy's 9")
        check(len(boxes) == 2, f"boxes: {boxes}")
        check(not differences(before, snapshot(root)), "the installation changed")
        lines = prefix.unix(log_path).read_text("utf-8").splitlines()
        expected = [f'the run is handed over to a copy started as administrator: /NOSTART '
                    f'"/LOG={log_path}" /DIR={INSTALL_DIR} /ELEVATED',
                    "/ELEVATED", "started as administrator by another copy: the run starts",
                    "no rights to write the folder (exit code 9): the folder",
                    "no rights to write the folder (exit code 9): the run was handed over"]
        at = 0
        for line in lines:
            if at < len(expected) and expected[at] in line:
                at += 1
        check(at == len(expected), f"the log lacks {expected[at:at + 1]}:\n" + "\n".join(lines))
        check(len([p for p in prefix.unix(log_path).parent.iterdir()]) == 1,
              "the new copy moved the first copy's log down")
        return "one question, then the new copy's one notice; both ended with exit 9; one log"

    def unexpected_failure(self, prefix: Prefix):
        """A failure that is no engine error (std::bad_alloc at the first paint): with
        /VERYSILENT the process ends with exit 11 and no window; the window run shows the Dutch
        notice, never the bare C++ message, and ends with exit 11 too."""
        root = stage_installation(prefix, self.args.installed_program)
        before = snapshot(root)
        exe = self.package(prefix, "klvupgrade.exe", payload(self.args.update_program),
                           caption=UPGRADE_CAPTION)
        os.environ["KLVUPGRADE_FAIL_AT_FIRST_PAINT"] = "1"
        try:
            quiet = Run(prefix, exe, self.work / "unexpected-verysilent.log", args=["/VERYSILENT"])
        finally:
            del os.environ["KLVUPGRADE_FAIL_AT_FIRST_PAINT"]
        try:
            code = quiet.wait_exit(60)
        finally:
            quiet.kill()
        check(code == 11, f"/VERYSILENT: exit {code}, not 11")
        check(not quiet.box_texts(), f"/VERYSILENT showed {[b.text for b in quiet.box_texts()]}")
        log = prefix.unix(prefix.user_windows + r"\Temp\klvupgrade.log").read_text("utf-8")
        check("unexpected error (exit code 11)" in log, "no result line with exit code 11")
        os.environ["KLVUPGRADE_FAIL_AT_FIRST_PAINT"] = "1"
        try:
            shown = Run(prefix, exe, self.work / "unexpected-window.log")
        finally:
            del os.environ["KLVUPGRADE_FAIL_AT_FIRST_PAINT"]
        try:
            box = self.expect_box(shown, UNEXPECTED, title="klvupgrade")
            shown.answer(box, "Return")
            code = shown.wait_exit(30)
        finally:
            shown.kill()
        check(code == 11, f"the window run: exit {code}, not 11")
        check(len(shown.box_texts()) == 1, f"boxes {[b.text for b in shown.box_texts()]}")
        self.expect_unchanged(prefix, root, before, "unexpected failure")
        return "exit 11 without a window under /VERYSILENT; the Dutch notice, then exit 11"

    def _plain(self, prefix: Prefix, exe: str, folder: str, program_upgrade: bool) -> Path:
        """A copy of the staged installation into which klvpack extracts the package, after
        deleting the old program file as a plain run does."""
        plain = prefix.unix(folder)
        shutil.copytree(prefix.unix(INSTALL_DIR), plain, symlinks=True)  # stamps, xattrs kept
        if program_upgrade:
            (plain / "kelvaro.exe").unlink()
        tools = prefix.unix(prefix.user_windows + "\\Temp")
        tools.mkdir(exist_ok=True)
        shutil.copy2(self.args.klvpack, tools / "klvpack.exe")
        res = prefix.wine(prefix.user_windows + "\\Temp\\klvpack.exe", "extract", exe, folder,
                          check_ok=False)
        (tools / "klvpack.exe").unlink()
        check(res.returncode == 0, f"klvpack extract: exit {res.returncode}: {res.stdout[-400:]}")
        return plain

    def _same_as_plain(self, root: Path, plain: Path, ignore=()):
        got, want = snapshot(root), snapshot(plain)
        for name in ignore:
            got.pop(name, None)
        changes = differences(want, got)
        check(not changes, "the run's result differs from a plain extraction:\n  " +
              "\n  ".join(changes))
        return len(want)

    def success(self, prefix: Prefix):
        # A program upgrade: shortcuts, the start question answered Yes, the new program started.
        root = stage_installation(prefix, self.args.installed_program)
        files = payload(self.args.update_program, many_files(8))
        exe = self.package(prefix, "klvupgrade.exe", files, caption=UPGRADE_CAPTION)
        plain = self._plain(prefix, exe, "C:\\Plain", program_upgrade=True)
        run = Run(prefix, exe, self.work / "success-upgrade.log")
        try:
            run.press_install(run.window(UPGRADE_CAPTION))
            run.answer(self.expect_box(run, START_QUESTION, START_TITLE), "Return")
            run.wait_exit()
        finally:
            run.kill()
        started = root / "kelvaro-started.txt"
        run.wait("the new program's mark", lambda: started.exists() and started.read_text(), 20)
        check(started.read_text().strip() == "kelvaro 3.2.0.1 started",
              f"started: {started.read_text()!r}")
        self.expect_shortcuts(prefix)
        n = self._same_as_plain(root, plain, ignore=("kelvaro-started.txt",))
        check(not self.leftovers(prefix, root), "left behind")
        shutil.rmtree(plain)
        # A configured package: stub.ini installed with the rest, "Installatie voltooid".
        shutil.rmtree(root)
        stage_installation(prefix, self.args.installed_program)
        for link in (prefix.desktop / "Kelvaro.lnk", prefix.start_menu / "Kelvaro.lnk"):
            link.unlink()
        ini = ("Caption=Kelvaro rapporten 2026\r\nHeader=Nieuwe rapporten\r\n"
               "folderkeuze=false\r\n").encode("cp1252")
        conf_files = payload(extra={"stub.ini": ini, **many_files(4, folder="Rapporten")})
        conf_exe = self.package(prefix, "klvrapporten.exe", conf_files)
        plain = self._plain(prefix, conf_exe, "C:\\Plain", program_upgrade=False)
        run = Run(prefix, conf_exe, self.work / "success-configured.log")
        try:
            run.press_install(run.window("Kelvaro rapporten 2026"))
            run.answer(self.expect_box(run, DONE), "Return")
            run.wait_exit()
        finally:
            run.kill()
        check(len(run.box_texts()) == 1, f"boxes: {[b.text for b in run.box_texts()]}")
        self.expect_no_shortcuts(prefix)
        m = self._same_as_plain(root, plain)
        check((root / "stub.ini").read_bytes() == ini, "stub.ini not installed")
        check(not self.leftovers(prefix, root), "left behind")
        return (f"program upgrade ({n} paths) and configured package ({m} paths) equal to "
                "klvpack extract: bytes, stamps, attributes; shortcuts and start as before")

    def flushed(self, prefix: Prefix):
        """A program upgrade traced for its flushes (fsync, where Wine's FlushFileBuffers
        ends): every staged file is flushed before the journal's switch record is, and the
        journal's records one by one (plan, switch, commit)."""
        if not shutil.which("strace"):
            return "SKIPPED: strace is not installed"
        root = stage_installation(prefix, self.args.installed_program)
        files = payload(self.args.update_program, many_files(6))
        exe = self.package(prefix, "klvupgrade.exe", files, caption=UPGRADE_CAPTION)
        trace = self.work / "flushed.strace"
        run = Run(prefix, exe, self.work / "flushed.log",
                  wrapper=("strace", "-f", "-qq", "-y", "-e", "trace=fsync,fdatasync", "-e",
                           "signal=none", "-o",
                           str(trace)))
        try:
            run.press_install(run.window(UPGRADE_CAPTION))
            run.answer(self.expect_box(run, START_QUESTION, START_TITLE), "n")
            run.wait_exit()
        finally:
            run.kill()
        self.expect_installed(root, files)
        flushed = [line for line in trace.read_text(errors="replace").splitlines()
                   if "fsync(" in line and "<" in line]
        staging, journal = "/" + RESERVED + "staging/", "/" + RESERVED + "journal>"
        journal_at = [i for i, line in enumerate(flushed) if journal in line.lower()]
        check(len(journal_at) >= 3, f"the journal was flushed {len(journal_at)} times")
        # (strace writes the bytes of other names escaped)
        named = [name for name in files if name.isascii()]
        for name in named:
            at = [i for i, line in enumerate(flushed)
                  if staging + name.replace("\\", "/").lower() + ">" in line.lower()]
            check(at, f"{name} was never flushed while staged")
            check(max(at) < journal_at[1], f"{name} was flushed after the switch was recorded")
        return (f"{len(named)} staged files flushed before the switch record; the journal "
                f"flushed {len(journal_at)} times")

    def untrusted_remains(self, prefix: Prefix):
        """A forged note in the temporary folder naming a folder outside the installation,
        whose forged journal names files beyond it; a journal in the installation with a record
        changed after it was written (its checksum fails), with the backup that holds the only
        copy of a file. Nothing is touched, the installation's journal is told (the outside
        folder holds no installation: the note is not followed there), and the installation is
        refused."""
        root = stage_installation(prefix, self.args.installed_program)
        outside = prefix.unix("C:\\Buiten")
        (outside / "Foto's").mkdir(parents=True)
        (outside / "Foto's" / "oma.jpg").write_bytes(b"a picture")
        (outside / "victim.txt").write_bytes(b"not the installation's")
        (outside / "~klvupgrade.journal").write_bytes(journal(
            b"F 0 ..\\Kelvaro3\\kelvaro.exe", b"F 0 ..\\Buiten\\victim.txt",
            b"D Foto's\\..\\..\\Windows", b"PLAN", b"SWITCH"))
        prefix.temp.mkdir(exist_ok=True)
        (prefix.temp / "klvupgrade.pending").write_bytes(b"C:\\Buiten\\\n")
        (root / "~klvupgrade.journal").write_bytes(journal(
            b"F 0 Data\\voornamen.txt", b"PLAN", b"SWITCH").replace(b"F 0", b"F 1"))
        (root / "~klvupgrade.backup" / "Data").mkdir(parents=True)
        (root / "~klvupgrade.backup" / "Data" / "voornamen.txt").write_bytes(b"the only copy")
        before, outside_before = snapshot(root), snapshot(outside)
        exe = self.package(prefix, "klvupgrade.exe", payload(self.args.update_program),
                           caption=UPGRADE_CAPTION)
        run = Run(prefix, exe, self.work / "untrusted_remains.log")
        try:
            # C:\Buiten holds no Kelvaro 3 installation: the note is not followed there.
            run.answer(self.expect_box(run, unreadable_notice(INSTALL_DIR)), "Return")
            run.press_install(run.window(UPGRADE_CAPTION))
            run.answer(self.expect_box(run, unreadable_notice(INSTALL_DIR)), "Return")
            run.wait_exit()
        finally:
            run.kill()
        for what, was, now in (("installation", before, snapshot(root)),
                               ("outside folder", outside_before, snapshot(outside))):
            changes = differences(was, now)
            check(not changes, f"the {what} changed:\n  " + "\n  ".join(changes))
        pending = (prefix.temp / "klvupgrade.pending").read_bytes().decode()
        check("C:\\Buiten\\" in pending and INSTALL_DIR + "\\" in pending,
              f"the note lost a folder awaiting recovery: {pending!r}")
        return ("the installation's journal told as unreadable, the outside one left alone, the "
                "install refused; nothing changed, both still noted")

    def forged_note(self, prefix: Prefix):
        """A standard user's note names C:\\Buiten (no installation) and C:\\Andere (another
        Kelvaro 3 installation), each with a journal whose checksums hold and whose undo would
        delete a file there. The copy started as administrator (/ELEVATED, an elevated token)
        never reads the note: it installs into its own folder, and both folders and the note
        stay as they were. A standard user's copy then leaves C:\\Buiten alone as well."""
        root = stage_installation(prefix, self.args.installed_program)
        outside = prefix.unix("C:\\Buiten")
        outside.mkdir()
        (outside / "victim.txt").write_bytes(b"not the installation's")
        another = stage_installation(prefix, self.args.installed_program, folder="C:\\Andere",
                                     registry=False)
        prefix.set_install_registry(INSTALL_DIR)
        for folder, victim in ((outside, b"victim.txt"), (another, b"kelvaro.exe")):
            (folder / "~klvupgrade.journal").write_bytes(
                journal(b"F 0 " + victim, b"PLAN", b"SWITCH"))
        prefix.temp.mkdir(exist_ok=True)
        note = b"C:\\Buiten\\\nC:\\Andere\\\n"
        (prefix.temp / "klvupgrade.pending").write_bytes(note)
        outside_before, another_before = snapshot(outside), snapshot(another)
        files = payload(self.args.update_program)
        exe = self.package(prefix, "klvupgrade.exe", files, caption=UPGRADE_CAPTION)
        with elevated_token():
            run = Run(prefix, exe, self.work / "forged_note-elevated.log",
                      args=["/ELEVATED", "/VERYSILENT", "/NOSTART", f"/DIR={INSTALL_DIR}"])
        try:
            code = run.wait_exit(60)
        finally:
            run.kill()
        check(code == 0, f"the elevated copy ended with {code}, not 0")
        self.expect_installed(root, files)
        for what, was, folder in (("C:\\Buiten", outside_before, outside),
                                  ("C:\\Andere", another_before, another)):
            changes = differences(was, snapshot(folder))
            check(not changes, f"the elevated copy changed {what}:\n  " + "\n  ".join(changes))
        check((prefix.temp / "klvupgrade.pending").read_bytes() == note,
              "the elevated copy changed the note")
        run = Run(prefix, exe, self.work / "forged_note-user.log", args=["/VERYSILENT", "/NOSTART"])
        try:
            code = run.wait_exit(60)
        finally:
            run.kill()
        check(code == 0, f"the standard user's copy ended with {code}, not 0")
        changes = differences(outside_before, snapshot(outside))
        check(not changes,
              "the standard user's copy changed C:\\Buiten:\n  " + "\n  ".join(changes))
        return ("the elevated copy installed and left the note and both folders as they were; "
                "a standard user's copy left C:\\Buiten alone too")

    def link_in_parent(self, prefix: Prefix):
        """A journal in the installation names Hulp\\victim.txt as a new file, and Hulp is a
        link to C:\\Buiten2 (a symbolic link made in the prefix's drive_c, a reparse point to
        Windows). The start resolves every part of the name, finds the link and acts on
        nothing: C:\\Buiten2 and the installation stay as they were, the run ends with exit 8."""
        root = stage_installation(prefix, self.args.installed_program)
        outside = prefix.unix("C:\\Buiten2")
        outside.mkdir()
        (outside / "victim.txt").write_bytes(b"not the installation's")
        os.symlink(outside, root / "Hulp", target_is_directory=True)
        (root / "~klvupgrade.journal").write_bytes(
            journal(b"F 0 Hulp\\victim.txt", b"PLAN", b"SWITCH"))
        before, outside_before = snapshot(root), snapshot(outside)
        exe = self.package(prefix, "klvupgrade.exe", payload(self.args.update_program),
                           caption=UPGRADE_CAPTION)
        run = Run(prefix, exe, self.work / "link_in_parent.log", args=["/VERYSILENT", "/NOSTART"])
        try:
            code = run.wait_exit(60)
        finally:
            run.kill()
        check(code == 8, f"exit {code}, not 8 (an earlier update could not be undone)")
        for what, was, now in (("installation", before, snapshot(root)),
                               ("linked folder", outside_before, snapshot(outside))):
            changes = differences(was, now)
            check(not changes, f"the {what} changed:\n  " + "\n  ".join(changes))
        check(root.joinpath("Hulp").is_symlink(), "the link was replaced")
        return "the link in a parent part refused: nothing changed on either side, exit 8"

    def link_in_staging(self, prefix: Prefix):
        """A run cut off with a link among its staged files (a symbolic link to a folder
        outside, as Wine shows a Unix one): the next start removes the staging folder and the
        link, never what it points to."""
        root = stage_installation(prefix, self.args.installed_program)
        before = snapshot(root)
        outside = prefix.unix("C:\\Buiten")
        outside.mkdir()
        (outside / "victim.txt").write_bytes(b"not the installation's")
        outside_before = snapshot(outside)
        (root / "~klvupgrade.staging" / "Data").mkdir(parents=True)
        (root / "~klvupgrade.staging" / "Data" / "nieuw.txt").write_bytes(b"staged")
        os.symlink(outside, root / "~klvupgrade.staging" / "Data" / "link")
        (root / "~klvupgrade.journal").write_bytes(journal(b"F 0 Data\\nieuw.txt", b"PLAN"))
        prefix.temp.mkdir(exist_ok=True)
        (prefix.temp / "klvupgrade.pending").write_bytes(INSTALL_DIR.encode() + b"\\\n")
        exe = self.package(prefix, "klvupgrade.exe", payload(self.args.update_program),
                           caption=UPGRADE_CAPTION)
        run = Run(prefix, exe, self.work / "link_in_staging.log")
        try:
            box = run.next_box()
            # Wine shows the Unix link as a reparse point but refuses to remove it (Windows
            # removes a folder link with RemoveDirectory): then the undo is incomplete, told so,
            # and the staging folder waits for the next start.
            incomplete = box.text == text("earlier_run_incomplete", folder=INSTALL_DIR)
            check(box.text == RECOVERED or incomplete, f"the notice said {box.text!r}")
            run.answer(box, "Return")
            run.window(UPGRADE_CAPTION)
        finally:
            run.kill()
        check(not differences(outside_before, snapshot(outside)), "the link's target changed")
        own = {k: v for k, v in snapshot(root).items() if not k.lower().startswith(RESERVED)}
        check(not differences(before, own), "the installation is not as before")
        if not incomplete:
            self.expect_unchanged(prefix, root, before, "link in staging")
        return ("the folder the link pointed to intact; " +
                ("the link left, told as an incomplete undo (Wine)" if incomplete
                 else "staging and link removed"))

    def two_copies(self, prefix: Prefix):
        """A second copy started while the first shows its window ends with its notice and
        touches nothing; the first then installs."""
        root = stage_installation(prefix, self.args.installed_program)
        files = payload(self.args.update_program, many_files(4))
        exe = self.package(prefix, "klvupgrade.exe", files, caption=UPGRADE_CAPTION)
        first = Run(prefix, exe, self.work / "two_copies-first.log")
        try:
            main = first.window(UPGRADE_CAPTION)
            before = snapshot(root)
            second = Run(prefix, exe, self.work / "two_copies-second.log")
            try:
                second.answer(self.expect_box(second, RUNNING), "Return")
                check(second.wait_exit() == 7, "the second copy did not end with exit code 7 "
                      "(another update is already running on this computer)")
                check(len(second.box_texts()) == 1, "the second copy showed more")
            finally:
                second.kill()
            check(not differences(before, snapshot(root)), "the second copy changed something")
            first.press_install(main)
            first.answer(self.expect_box(first, START_QUESTION, START_TITLE), "n")
            first.wait_exit()
        finally:
            first.kill()
        self.expect_installed(root, files)
        check(not self.leftovers(prefix, root), f"left behind: {self.leftovers(prefix, root)}")
        return "the second copy said an update is running and ended; the first installed"

    def refused_packages(self, prefix: Prefix):
        """An encrypted item, and a damaged Stub.ini that the first paint cannot read: the
        damaged-package notice, nothing changed, nothing left in the temporary folder."""
        root = stage_installation(prefix, self.args.installed_program)
        before = snapshot(root)
        files = payload(self.args.update_program, many_files(3))
        exe = self.package(prefix, "versleuteld.exe", files, caption=UPGRADE_CAPTION)
        package = prefix.unix(exe)
        data = bytearray(package.read_bytes())
        with zipfile.ZipFile(package) as z:
            info = z.getinfo("Data/Bijlagen/bijlage01.txt")
            central = z.start_dir
        data[info.header_offset + 6] |= 1  # the encryption flag, in both headers
        at = central
        while data[at + 46:at + 46 + len(info.orig_filename)] != info.orig_filename.encode():
            lengths = [int.from_bytes(data[at + o:at + o + 2], "little") for o in (28, 30, 32)]
            at += 46 + sum(lengths)
        data[at + 8] |= 1
        package.write_bytes(bytes(data))
        self.failing_run(prefix, exe, UPGRADE_CAPTION, DAMAGED, "refused-encrypted")
        self.expect_unchanged(prefix, root, before, "encrypted item")
        ini = b"Caption=Kelvaro rapporten 2026\r\n" + b"x" * 3000
        conf = {"Rapporten/a.txt": b"a", "stub.ini": ini, "Stub.jpg": b"\xff\xd8" + bytes(500),
                "Rapporten/b.txt": b"b", "zzz/laatste.txt": b"z"}
        exe = self.package(prefix, "rapporten.exe", conf)
        damage(prefix.unix(exe), "stub.ini", "crc")
        run = Run(prefix, exe, self.work / "refused-configuration.log")
        try:
            run.answer(self.expect_box(run, DAMAGED), "Return")
            run.wait_exit()
        finally:
            run.kill()
        check(len(run.box_texts()) == 1, f"boxes: {[b.text for b in run.box_texts()]}")
        self.expect_unchanged(prefix, root, before, "unreadable configuration")
        return "encrypted item and unreadable Stub.ini: the damaged notice, nothing changed or left"

    def long_paths(self, prefix: Prefix):
        """An installation in a deep folder, a payload of items whose installed paths are 250
        characters (one new, one replacing an installed file): staged and backed up, their
        paths pass 260 characters. A run failing on a damaged item after staging them leaves
        nothing; the intact package installs them byte for byte and leaves nothing."""
        root = stage_installation(prefix, self.args.installed_program, folder=DEEP_DIR)
        new, replaced = long_item("nieuw"), long_item("vervangen")
        for name in (new, replaced):
            check(len(DEEP_DIR + "\\" + name) == LONG_PATH, f"{name}: not {LONG_PATH} long")
        (root / replaced).parent.mkdir(parents=True)
        (root / replaced).write_bytes(b"oude transcriptie\r\n" * 40)
        before = snapshot(root)
        files = payload(self.args.update_program, {
            new: "Doopakte, nieuw getranscribeerd\r\n".encode("cp1252") * 300,
            replaced: "Trouwakte, opnieuw getranscribeerd\r\n".encode("cp1252") * 300,
            **many_files(4)})
        exe = self.package(prefix, "klvupgrade-beschadigd.exe", files, caption=UPGRADE_CAPTION)
        damage(prefix.unix(exe), "Data/Bijlagen/bijlage02.txt", "data")
        self.failing_run(prefix, exe, UPGRADE_CAPTION, DAMAGED, "long_paths-damaged")
        self.expect_unchanged(prefix, root, before, "long paths, damaged item")
        exe = self.package(prefix, "klvupgrade.exe", files, caption=UPGRADE_CAPTION)
        self.upgrade_run(prefix, exe, "long_paths")
        self.expect_installed(root, files)
        self.expect_only(before, snapshot(root), self.changed_paths(files))
        check(not self.leftovers(prefix, root), f"left behind: {self.leftovers(prefix, root)}")
        staged = len(DEEP_DIR + "\\" + RESERVED + "staging\\" + new)
        return (f"items of {LONG_PATH} characters ({staged} while staged), one replacing an "
                "installed file: a damaged run left nothing, the intact one installed them")

    SCENARIOS = ("full_drive", "file_in_use", "damaged_item", "cut_off", "success", "flushed",
                 "untrusted_remains", "forged_note", "link_in_parent", "link_in_staging",
                 "two_copies", "refused_packages", "long_paths", "linked_folder", "relative_dir",
                 "committed_leftovers", "unexpected_failure", "relaunch_as_administrator")


if __name__ == "__main__":
    main(AllOrNothing,
         ("stub", "installed-program", "update-program", "klvpack", "hold-file", "work"), __doc__)
