#!/usr/bin/env python3
"""`klvpack extract` and `klvpack test` on archives made by real tools, against unzip's result
and the source files, and on damaged and hostile archives.

Environment: KLVPACK (the built tool), KLV_RUNNER (emulator command, empty natively),
KLV_BINARY_DIR (fixtures are generated below it once and reused while the generators are
unchanged), KLV_WINE_LOCALE (the Unix locale the emulated tool runs in, nl_NL.UTF-8),
KLV_WINEPREFIX (the emulator's prefix, checked for files that escaped to drive C:).

Families:
- plain: archives from zip, 7zz, bsdtar, zipfile (forced Zip64; data descriptors) and the
  self-extracting layouts extract to the same tree as `unzip` makes of them: files, folders
  (empty ones too), bytes, modification times to the DOS resolution; `test` says OK for all.
- encrypted: ZipCrypto (zip, zip from a pipe, 7zz) and AES-128/192/256 (7zz), and plain and
  encrypted items mixed: with the password the sources come out; without it, or with a wrong
  one (for ZipCrypto one that passes the check byte), every encrypted item fails and leaves
  no file, the plain ones come out.
- damaged: a flipped data byte, a flipped CRC in the directory, tampered AES data: the item
  fails with native code 8, leaves no file, and an existing file of that name stays as it was.
- hostile: stored names that leave the destination fail with native code 19 and nothing is
  created outside it; a bomb that declares 1000 bytes fails with code 8 and never writes more.
"""
import hashlib
import json
import os
import resource
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
MAKERS = [os.path.join(HERE, "make_extract_archives.py"),
          os.path.join(HERE, "..", "fixtures", "make_archives.py")]
ENV = dict(os.environ, TZ="UTC")   # the fixtures' DOS times are UTC wall clock
DOS_RESOLUTION = 2


# ---- fixtures ---------------------------------------------------------------------------------

def fixtures(binary_dir):
    out = os.path.join(binary_dir, "fixtures", "extract")
    digest = hashlib.sha1()
    for maker in MAKERS:
        with open(maker, "rb") as f:
            digest.update(f.read())
    stamp, stamp_file = digest.hexdigest(), os.path.join(out, ".stamp")
    try:
        with open(stamp_file) as f:
            fresh = f.read() == stamp
    except OSError:
        fresh = False
    if not fresh:
        os.makedirs(out, exist_ok=True)
        subprocess.run([sys.executable, MAKERS[0], out], check=True)
        with open(stamp_file, "w") as f:
            f.write(stamp)
    with open(os.path.join(out, "manifest.json")) as f:
        return out, json.load(f)


# ---- trees ------------------------------------------------------------------------------------

def snapshot(root):
    """{"files": {relpath: (sha1, size, mtime)}, "dirs": {relpath}} with '/' separators."""
    files, dirs = {}, set()
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        for d in dirnames:
            dirs.add(os.path.normpath(os.path.join(rel, d)))
        for n in filenames:
            path = os.path.join(dirpath, n)
            with open(path, "rb") as f:
                data = f.read()
            files[os.path.normpath(os.path.join(rel, n))] = (
                hashlib.sha1(data).hexdigest(), len(data), os.stat(path).st_mtime)
    return {"files": files, "dirs": dirs}


def expected_file(path, mtime=None):
    with open(path, "rb") as f:
        data = f.read()
    return (hashlib.sha1(data).hexdigest(), len(data),
            os.stat(path).st_mtime if mtime is None else mtime)


def parents(names):
    out = set()
    for n in names:
        parts = n.rstrip("/").split("/")
        out.update("/".join(parts[:i]) for i in range(1, len(parts)))
    return out


def compare_trees(expected, got, what="expected", times=True, dirs_subset=False):
    """Problems, as text; dirs_subset: folders beyond the expected ones are an error, missing
    ones are not (a failed item may or may not have left its parent folder)."""
    problems = []
    ef, gf = expected["files"], got["files"]
    for n in sorted(set(ef) - set(gf)):
        problems.append(f"missing file {n}")
    for n in sorted(set(gf) - set(ef)):
        problems.append(f"file {n} not in the {what} tree ({gf[n][1]} bytes)")
    for n in sorted(set(ef) & set(gf)):
        (eh, es, et), (gh, gs, gt) = ef[n], gf[n]
        if eh != gh:
            problems.append(f"{n}: content differs ({gs} bytes, {what} {es})")
        if times and abs(gt - et) > DOS_RESOLUTION:
            problems.append(f"{n}: modified {time.strftime('%Y-%m-%d %H:%M:%S', time.gmtime(gt))}"
                            f" UTC, {what} {time.strftime('%Y-%m-%d %H:%M:%S', time.gmtime(et))}")
    ed, gd = expected["dirs"], got["dirs"]
    if not dirs_subset:
        problems += [f"missing folder {n}" for n in sorted(ed - gd)]
    problems += [f"folder {n} not in the {what} tree" for n in sorted(gd - ed)]
    return problems


def unzip_tree(archive, dest, password=None):
    cmd = ["unzip", "-qq", "-o"] + (["-P", password] if password else []) + [archive, "-d", dest]
    p = subprocess.run(cmd, capture_output=True, env=ENV)
    if p.returncode not in (0, 1):     # 1: warnings only (bytes before the archive)
        raise RuntimeError(f"unzip {archive}: exit {p.returncode}: {p.stderr.decode()[:300]}")
    return snapshot(dest)


# ---- running klvpack --------------------------------------------------------------------------

def display(name):
    """A stored name as klvpack prints it: '\\' separators, one trailing '\\' removed."""
    name = name.replace("/", "\\")
    return name[:-1] if name.endswith("\\") else name


class Klvpack:
    def __init__(self):
        self.exe = os.environ.get("KLVPACK") or os.path.join(
            os.environ.get("KLV_BINARY_DIR", "build/native"), "tools", "klvpack", "klvpack")
        self.runner = shlex.split(os.environ.get("KLV_RUNNER", ""))
        self.env = dict(ENV)
        if self.runner:   # Dutch Windows: OEM 850, ANSI 1252 (see list_agreement.py)
            self.env["LC_ALL"] = os.environ.get("KLV_WINE_LOCALE", "nl_NL.UTF-8")
        self.runs = 0
        self.crlf_seen = False

    def path(self, p):
        return "Z:" + p.replace("/", "\\") if self.runner else p

    def run(self, command, archive, dest=None, password=None, cwd=None, max_file_bytes=None):
        """Returns (exit code, {display name: (status, message)}, problems with the output)."""
        args = [command] + (["--password", password] if password is not None else [])
        args += [self.path(archive)] + ([self.path(dest)] if dest else [])
        limit = None
        if max_file_bytes is not None:   # any write past it fails (SIGXFSZ ignored: EFBIG)
            def limit():
                import signal
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (max_file_bytes, max_file_bytes))
        self.runs += 1
        p = subprocess.run(self.runner + [self.exe] + args, capture_output=True, timeout=600,
                           env=self.env, cwd=cwd, preexec_fn=limit)
        text = p.stdout.decode("utf-8", errors="surrogateescape")
        if "\r\n" in text:
            self.crlf_seen = True
            text = text.replace("\r\n", "\n")
        items, problems = {}, []
        for line in text.splitlines():
            parts = line.split("\t")
            if len(parts) == 2 and parts[0] == "OK":
                status = ("OK", "")
            elif len(parts) == 3 and parts[0] == "FAILED":
                status = ("FAILED", parts[2])
            else:
                problems.append(f"malformed line {line!r}")
                continue
            if parts[1] in items:
                problems.append(f"{parts[1]} reported twice")
            items[parts[1]] = status
        err = p.stderr.decode("utf-8", errors="replace")
        err = "".join(l for l in err.splitlines(True) if "setlocale: LC_ALL" not in l
                      and not (self.runner and l.startswith(("wine:", "wineserver:"))))
        if err.strip():
            problems.append(f"stderr: {err.strip()[:300]!r}")
        return p.returncode, items, problems

    def raw(self, args):
        """Runs klvpack with `args` (paths as given); returns (exit code, stdout, stderr)."""
        args = [self.path(a) if os.path.isabs(a) else a for a in args]
        self.runs += 1
        p = subprocess.run(self.runner + [self.exe] + args, capture_output=True, timeout=600,
                           env=self.env)
        decode = lambda b: b.decode("utf-8", errors="replace").replace("\r\n", "\n")
        return p.returncode, decode(p.stdout), decode(p.stderr)


def check_items(items, ok=(), failed=None, what=""):
    """ok: stored names that must be OK; failed: {stored name: native code or None (any)}.
    Every item reported exactly once, nothing else."""
    failed = failed or {}
    problems, want = [], {display(n) for n in list(ok) + list(failed)}
    for n in sorted(want - set(items)):
        problems.append(f"{what}{n}: not reported")
    for n in sorted(set(items) - want):
        problems.append(f"{what}{n}: reported, not in the archive")
    for n in ok:
        st = items.get(display(n))
        if st and st[0] != "OK":
            problems.append(f"{what}{display(n)}: {st[0]} {st[1]!r}, expected OK")
    for n, code in failed.items():
        st = items.get(display(n))
        if not st:
            continue
        if st[0] != "FAILED":
            problems.append(f"{what}{display(n)}: OK, expected FAILED"
                            + (f" with native code {code}" if code else ""))
        elif code and not st[1].endswith(" - Native error: %05d" % code):
            problems.append(f"{what}{display(n)}: {st[1]!r}, expected native code {code}")
    return problems


def check_exit(code, want, what=""):
    return [] if code == want else [f"{what}exit code {code}, expected {want}"]


# ---- the families -----------------------------------------------------------------------------

class Suite:
    def __init__(self, folder, manifest, klvpack, scratch):
        self.folder, self.manifest, self.k, self.scratch = folder, manifest, klvpack, scratch
        self.failures, self.cases, self.notes = 0, 0, []

    def fresh(self, name):
        path = os.path.join(self.scratch, name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def report(self, label, problems, start, limit=10):
        self.cases += 1
        took = time.time() - start
        if problems:
            self.failures += 1
            print(f"FAIL {label} ({took:.1f} s)")
            for p in problems[:limit]:
                print("    " + p)
            if len(problems) > limit:
                print(f"    ... {len(problems) - limit} more")
        else:
            print(f"ok   {label} ({took:.1f} s)")
        sys.stdout.flush()

    def plain(self, case):
        start = time.time()
        archive = os.path.join(self.folder, case["file"])
        with zipfile.ZipFile(archive) as zf:
            names = [i.filename for i in zf.infolist()]
        reference = unzip_tree(archive, self.fresh("unzip"))
        dest = self.fresh("klvpack")
        code, items, problems = self.k.run("extract", archive, dest)
        problems += check_exit(code, 0) + check_items(items, ok=names)
        problems += compare_trees(reference, snapshot(dest), "unzip")
        code, items, more = self.k.run("test", archive)
        problems += more + check_exit(code, 0, "test: ") + check_items(items, ok=names, what="test: ")
        self.report(f"{case['file']} ({case['tool']}, {len(names)} entries)", problems, start)

    def encrypted(self, case):
        start = time.time()
        archive = os.path.join(self.folder, case["file"])
        with zipfile.ZipFile(archive) as zf:
            infos = zf.infolist()
        locked = [i.filename for i in infos if i.flag_bits & 1]
        open_ = [i.filename for i in infos if not i.flag_bits & 1]
        full = {"files": {}, "dirs": parents(case["sources"])}
        for i in infos:
            src = case["sources"][i.filename]
            if src is None:
                full["dirs"].add(i.filename.rstrip("/"))
            else:   # the piped item has no source time: the archive's own stamp
                mtime = time.mktime(i.date_time + (0, 0, -1)) if i.filename == case["stdin"] else None
                full["files"][i.filename] = expected_file(os.path.join(self.folder, src), mtime)
        plain_only = {"files": {n: full["files"][n] for n in open_ if n in full["files"]},
                      "dirs": full["dirs"]}
        problems = []
        if not locked:
            problems.append("no encrypted item in the archive")

        dest = self.fresh("klvpack")
        code, items, more = self.k.run("extract", archive, dest, password="secret")
        problems += more + check_exit(code, 0, "with the password: ")
        problems += check_items(items, ok=[i.filename for i in infos], what="with the password: ")
        problems += compare_trees(full, snapshot(dest), "source")
        code, items, more = self.k.run("test", archive, password="secret")
        problems += more + check_exit(code, 0, "test with the password: ")
        problems += check_items(items, ok=[i.filename for i in infos], what="test with the password: ")

        for label, password in (("without a password", None), (f"password {case['wrong']!r}", case["wrong"])):
            dest = self.fresh("klvpack")
            code, items, more = self.k.run("extract", archive, dest, password=password)
            problems += more + check_exit(code, 1, label + ": ")
            problems += check_items(items, ok=open_, failed=dict.fromkeys(locked), what=label + ": ")
            problems += [f"{label}: {p}" for p in
                         compare_trees(plain_only, snapshot(dest), "expected", dirs_subset=True)]
            hit = items.get(display(case["collides"] or ""))
            if password and hit and hit[0] == "FAILED" and not hit[1].endswith("00008"):
                self.notes.append(f"{case['file']}: {case['collides']} with {password!r} (passes "
                                  f"the check byte) failed with {hit[1]!r}, not on its data")
        label = f"{case['file']} ({case['tool']}, {len(locked)} of {len(infos)} encrypted"
        label += f", wrong password passes the check byte of {case['collides']})" if case["collides"] else ")"
        self.report(label, problems, start)

    def damaged(self, case):
        start = time.time()
        archive = os.path.join(self.folder, case["file"])
        password = case.get("password")
        fails = {n: c for n, c in case["fails"].items()}
        with zipfile.ZipFile(archive) as zf:
            good = {n: zf.read(n, pwd=password.encode() if password else None)
                    for n in case["ok"] if not zf.getinfo(n).flag_bits & 1}
        problems = []

        # Into an empty folder: only the intact items are there afterwards.
        dest = self.fresh("klvpack")
        code, items, more = self.k.run("extract", archive, dest, password=password)
        problems += more + check_exit(code, 1) + check_items(items, ok=case["ok"], failed=fails)
        files = snapshot(dest)["files"]
        for n in sorted(set(files) - set(case["ok"])):
            problems.append(f"{n} left behind ({files[n][1]} bytes)")
        for n, data in good.items():
            if n in files and files[n][0] != hashlib.sha1(data).hexdigest():
                problems.append(f"{n}: content differs from the archive's")

        # Over existing files: each failed item's target keeps its old content.
        dest = self.fresh("klvpack")
        old = {}
        for n in fails:
            old[n] = b"old content of %s, to be kept\n" % n.encode()
            os.makedirs(os.path.dirname(os.path.join(dest, n)), exist_ok=True)
            with open(os.path.join(dest, n), "wb") as f:
                f.write(old[n])
        code, items, more = self.k.run("extract", archive, dest, password=password)
        problems += [f"over existing files: {p}" for p in
                     more + check_exit(code, 1) + check_items(items, ok=case["ok"], failed=fails)]
        files = snapshot(dest)["files"]
        for n in sorted(set(files) - set(case["ok"]) - set(old)):
            problems.append(f"over existing files: {n} left behind ({files[n][1]} bytes)")
        for n, data in old.items():
            if n not in files:
                problems.append(f"over existing files: {n} is gone")
            elif files[n][0] != hashlib.sha1(data).hexdigest():
                problems.append(f"over existing files: {n} was changed ({files[n][1]} bytes)")

        code, items, more = self.k.run("test", archive, password=password)
        problems += [f"test: {p}" for p in more + check_exit(code, 1) +
                     check_items(items, ok=case["ok"], failed=fails)]
        self.report(f"{case['file']} ({', '.join(sorted(fails))} damaged)", problems, start)

    def hostile(self, case):
        """The destination lies three levels down in a scratch folder that is also the current
        folder; afterwards the scratch folder holds only the path to it and the safe items."""
        start = time.time()
        archive = os.path.join(self.folder, case["file"])
        marker = case["marker"]
        roots = ["/", tempfile.gettempdir()]
        prefix = os.environ.get("KLV_WINEPREFIX") or os.path.join(
            os.environ.get("KLV_SOURCE_DIR", os.path.join(HERE, "..", "..")), "build", "windows", "wineprefix")
        if self.k.runner:
            roots.append(os.path.join(prefix, "drive_c"))
        before = {r: {n for n in os.listdir(r) if marker in n} for r in roots if os.path.isdir(r)}
        scratch = self.fresh("hostile")
        dest = os.path.join(scratch, "a", "b", "dest")
        os.makedirs(dest)
        code, items, reported = self.k.run("extract", archive, dest, cwd=scratch)
        reported += check_exit(code, 1)
        reported += check_items(items, ok=case["ok"], failed=dict.fromkeys(case["unsafe"], 19))
        problems, got = [], snapshot(scratch)
        expected_dirs = {"a", "a/b", "a/b/dest"}
        for d in sorted(got["dirs"] - expected_dirs):
            problems.append(f"folder created: {d}")
        for f in sorted(set(got["files"]) - {"a/b/dest/" + n for n in case["ok"]}):
            problems.append(f"file created: {f}")
        for r, seen in before.items():
            for n in sorted({n for n in os.listdir(r) if marker in n} - seen):
                problems.append(f"created outside the scratch folder: {os.path.join(r, n)}")
        self.report(f"{case['file']} ({len(case['unsafe'])} unsafe names)", problems + reported,
                    start, limit=25)

    def bomb(self, case):
        start = time.time()
        archive = os.path.join(self.folder, case["file"])
        declared = case["declared"]
        dest = self.fresh("klvpack")
        # Natively every file the tool writes is capped at the declared size: a write past it
        # fails and shows as a different error. (The emulator writes its own files.)
        cap = None if self.k.runner else declared
        code, items, problems = self.k.run("extract", archive, dest, max_file_bytes=cap)
        problems += check_exit(code, 1)
        problems += check_items(items, ok=case["ok"], failed={"bomb.bin": 8})
        files = snapshot(dest)["files"]
        for n in sorted(set(files) - set(case["ok"])):
            problems.append(f"{n} left behind ({files[n][1]} bytes)")
        code, items, more = self.k.run("test", archive)
        problems += [f"test: {p}" for p in more + check_exit(code, 1) +
                     check_items(items, ok=case["ok"], failed={"bomb.bin": 8})]
        self.report(f"{case['file']} ({case['inflates_to'] // 1000000} MB declared as {declared} bytes"
                    + (", file size capped" if cap else "") + ")", problems, start)

    def overlap(self, case):
        """Refused at open by every command: nothing written, one message naming two items."""
        start = time.time()
        archive = os.path.join(self.folder, case["file"])
        first, second = (display(n) for n in case["items"])
        want = f'Archive is damaged: items "{first}" and "{second}" overlap - Native error: 00080'
        problems = []
        for command in ("test", "extract", "check"):
            dest = self.fresh("klvpack") if command == "extract" else None
            code, out, err = self.k.raw([command, archive] + ([dest] if dest else []))
            problems += check_exit(code, 3, f"{command}: ")
            if want not in err:
                problems.append(f"{command}: stderr {err.strip()[:300]!r}, expected {want!r}")
            if command != "check" and out.strip():
                problems.append(f"{command}: printed {out.strip()[:200]!r}")
            if dest and os.listdir(dest):
                problems.append(f"extract: wrote {sorted(os.listdir(dest))[:5]}")
        self.report(f"{case['file']} ({case['declared'] // 1000000} MB declared, refused)",
                    problems, start)

    def check_names_damage(self, case):
        """`klvpack check` reports the damaged items of a package it can open."""
        start = time.time()
        code, out, _ = self.k.raw(["check", os.path.join(self.folder, case["file"])])
        problems = check_exit(code, 1, "check: ")
        for n in case["fails"]:
            if not any(f'"{display(n)}"' in line and "damaged: " in line and
                       line.endswith(" - Native error: 00008") for line in out.splitlines()):
                problems.append(f"check: {display(n)} not reported as damaged: {out[-300:]!r}")
        self.report(f"check {case['file']}", problems, start)


def main():
    os.environ["TZ"] = "UTC"
    time.tzset()
    binary_dir = os.environ.get("KLV_BINARY_DIR") or os.path.join(HERE, "..", "..", "build", "native")
    folder, manifest = fixtures(binary_dir)
    for name in manifest["missing"]:
        print(f"SKIP archives of {name}: tool not installed")
    if not shutil.which("unzip"):
        print("SKIP plain archives: unzip not installed")
    k = Klvpack()
    begun = time.time()
    scratch = tempfile.mkdtemp(prefix="klv-extract-")
    try:
        s = Suite(folder, manifest, k, scratch)
        if shutil.which("unzip"):
            for case in manifest["plain"]:
                s.plain(case)
        for case in manifest["encrypted"]:
            s.encrypted(case)
        for case in manifest["damaged"]:
            s.damaged(case)
        for case in manifest["damaged"]:
            if case["file"].endswith("_lie.zip"):
                s.check_names_damage(case)
        for case in manifest["overlap"]:
            s.overlap(case)
        s.hostile(manifest["hostile"])
        s.bomb(manifest["bomb"])
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    for n in s.notes:
        print("note: " + n)
    if k.crlf_seen:
        print("note: klvpack wrote CR LF line ends")
    print(f"{k.runs} tool runs in {time.time() - begun:.1f} s")
    print(f"{s.failures} of {s.cases} case(s) failed" if s.failures else f"all {s.cases} cases agree")
    return 1 if s.failures else 0


if __name__ == "__main__":
    sys.exit(main())
