#!/usr/bin/env python3
"""`klvpack check` says what the stub will do with a package and names the maker's mistakes;
signed packages are read through the view that ends at the certificate table.

Each case builds a package with `klvpack build` (a stand-in stub, a kelvaro.exe with a real
version resource), or damages one, and wants check's exit code (0 as made, 1 warnings, 3
cannot be opened, 4 the installer refuses it) and lines of its report. The names family
gives check the names the installer refuses, in a package no klvpack build would make, and a
real Info-ZIP zip archive whose UTF-8 names carry no UTF-8 flag. The signed family signs a package with a
throwaway certificate (osslsigncode): it verifies, and list, test and check read it without
a rebuilt directory; one payload byte changed fails the signature and the item test.

Environment: KLVPACK (the built tool), KLV_RUNNER (emulator, empty natively), KLV_BINARY_DIR.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from packlib import Tools  # noqa: E402
import pictures  # noqa: E402

problems = []


def fail(text):
    problems.append(text)
    print("FAIL:", text, flush=True)


def expect(t, case, package, code, lines=(), absent=()):
    rc, out, err = t.run("check", package)
    if rc != code:
        fail(f"{case}: exit {rc}, wanted {code}\n{out}{err}")
    for want in lines:
        if want not in out:
            fail(f"{case}: no line with {want!r} in\n{out}")
    for unwanted in absent:
        if unwanted in out:
            fail(f"{case}: {unwanted!r} in\n{out}")
    return out


class Payloads:
    def __init__(self, t, work, prefix):
        self.t, self.work, self.n, self.prefix = t, work, 0, prefix

    def make(self, files, kelvaro="3.2.0.1"):
        """A payload folder: {name: bytes} plus kelvaro.exe of that version (None: without)."""
        self.n += 1
        root = os.path.join(self.work, f"{self.prefix}-payload{self.n}")
        os.makedirs(root)
        if kelvaro:
            version = None if kelvaro == "unversioned" else kelvaro
            shutil.copy(self.t.kelvaro(version), os.path.join(root, "kelvaro.exe"))
        for name, data in files.items():
            path = os.path.join(root, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        return root

    def package(self, files, caption=None, kelvaro="3.2.0.1", bits=32):
        out = os.path.join(self.work, f"{self.prefix}-package{self.n + 1}.exe")
        self.t.build(self.t.stub(bits), self.make(files, kelvaro), out, caption=caption)
        return out


def verdicts(t, work):
    p = Payloads(t, work, "verdict")
    upgrade = "Kelvaro Update 3.2.0.1]"
    data = {"Data/voornamen.txt": b"Jan\r\nPiet\r\n" * 200, "Data/Caf\u00e9 \u00e9\u00e9n.txt": b"utf-8"}

    expect(t, "program upgrade as made", p.package(data, upgrade), 0,
           ["stub:            PE32, 32-bit: runs on every Windows", "program upgrade", "package version: 3.2.0.1", "kelvaro.exe:     version 3.2.0.1, as the caption says",
            "picture:         the stub's own", "items:           4 tested, all intact", "the stub will install this package as made"])
    expect(t, "an x86-64 stub", p.package(data, upgrade, bits=64), 1,
           ["stub:            PE32+, x86-64: runs on 64-bit Windows only",
            "warning:         the stub is an x86-64 program: the package does not run on 32-bit"])
    expect(t, "caption without a version", p.package(data), 1,
           ["stored caption:  \"Kwartierblad met plaats en datum", "the caption carries no version"])
    expect(t, "version in lower-case update", p.package(data, "Kelvaro update 3.2.0.1]"), 1, ["the caption carries no version"])
    expect(t, "program upgrade without kelvaro.exe", p.package(data, upgrade, kelvaro=None), 1,
           ["a program upgrade without kelvaro.exe", "keeps the installed program file"])
    expect(t, "kelvaro.exe of another version", p.package(data, "Kelvaro Update 3.10.0.0]"), 1,
           ["kelvaro.exe is version 3.2.0.1 but the caption says 3.10.0.0"])
    expect(t, "kelvaro.exe without version resource", p.package(data, upgrade, kelvaro="unversioned"), 1,
           ["kelvaro.exe:     no version resource", "installed, it reads as 0.0.0.0"])

    ini = (b"Caption=Kelvaro Bronnen \r\nHeader=Nieuwe bronnen\r\nuitleg=Kies de map = of niet\r\n"
           b"folderkeuze=false\r\nCaption=second line ignored\r\n")
    expect(t, "configured package", p.package({"stub.ini": ini, "Stub.jpg": pictures.jpeg(84, 55), "Stub.ico": b"ico",
                                                  "Bronnen/a.txt": b"a"}), 0,
           ["configured package (\"stub.ini\" matches", '  Caption:       "Kelvaro Bronnen "',
            '  Header:        "Nieuwe bronnen"', '  uitleg:        "Kies de map = of niet"',
            '  folderkeuze:   "false"', "folder choice:   hidden", 'picture:         "Stub.jpg"',
            'caption:         "Kelvaro Bronnen " (from Stub.ini)', "package version: not used"])
    expect(t, "a picture that is no bitmap", p.package({"Stub.ini": b"Caption=Bronnen\n", "Stub.bmp": b"GIF89a",
                                                        "Stub.jpg": b"\xff\xd8\xff"}), 1,
           ['picture:         the stub\'s own ("Stub.bmp" cannot be shown)', '"Stub.bmp" is not a bitmap file'])
    expect(t, "folderkeuze not exactly false", p.package({"Stub.ini": b"Caption=Bronnen\r\nfolderkeuze=False\r\n"}), 1,
           ["folder choice:   shown", "\"folderkeuze\" is \"False\": only the exact value \"false\""])
    expect(t, "folderkeuze with a blank", p.package({"Stub.ini": b"Caption=Bronnen\nfolderkeuze=false \n"}), 1,
           ["\"folderkeuze\" is \"false \""])
    expect(t, "no Header key", p.package({"Stub.ini": b"Caption=Bronnen\n"}), 0, ["  Header:        (absent: empty)"])
    expect(t, "Stub.ini caption makes a help package", p.package({"Stub.ini": b"Caption=Kelvaro HELP bestanden\n"}), 1,
           ["configured package and help package", "contains \"help\": the package is also a help package"])
    expect(t, "stub.ini in a folder", p.package({"conf/stub.ini": b"Caption=x\n"}), 1,
           ["\"conf/stub.ini\" matches \"*stub.ini\"", "no Stub.ini at the top of the payload"])
    expect(t, "picture without stub.ini", p.package({"Stub.bmp": b"BM"}, upgrade), 1,
           ["\"Stub.bmp\" is not shown", "picture:         the stub's own"])
    expect(t, "help package", p.package({"help/index.htm": b"<html>"}, "Kelvaro Help 3]", kelvaro=None), 0,
           ["help package (the caption contains \"help\")"], absent=["warning"])

    pictures_family(t, p)

    # Damage and packages the installer refuses.
    good = p.package(data, upgrade)
    raw = bytearray(open(good, "rb").read())
    with zipfile.ZipFile(good) as zf:
        info = zf.getinfo("Data/voornamen.txt")
        at = info.header_offset + 30 + len(info.filename) + 5
    raw[at] ^= 0x55
    damaged = os.path.join(work, "damaged.exe")
    open(damaged, "wb").write(raw)
    expect(t, "a damaged item", damaged, 1, ["\"Data/voornamen.txt\" will be refused: it is damaged", "Native error: 00008",
                                            "1 damaged", "the installer will refuse this package as damaged"])
    cut = os.path.join(work, "cut.exe")
    open(cut, "wb").write(open(good, "rb").read()[:-60])
    expect(t, "a cut-off package", cut, 1, ["read back from the local headers", "refuses the package"])
    hostile = os.path.join(work, "hostile.exe")
    with open(hostile, "wb") as f:
        f.write(open(t.stub(), "rb").read())
    with zipfile.ZipFile(hostile, "a") as zf:
        zf.writestr("../outside.txt", b"x")
        zf.writestr("kelvaro.exe", open(t.kelvaro("3.2.0.1"), "rb").read())
    expect(t, "an unsafe name", hostile, 1, ["\"../outside.txt\" will be refused: has a \"..\" part",
                                            "1 refused by name or encryption"])
    expect(t, "no such file", os.path.join(work, "missing.exe"), 3)
    notzip = os.path.join(work, "notzip.exe")
    shutil.copy(t.stub(), notzip)
    expect(t, "no archive at all", notzip, 3)
    # The stub's own bytes hold a local header: no archive is read from them, also where a
    # download ends inside the stub.
    junk = t.stub(junk=True)
    cut = os.path.join(work, "cut-stub.exe")
    open(cut, "wb").write(open(junk, "rb").read()[:os.path.getsize(junk) // 2])
    for case, path in (("a bare stub", junk), ("a download cut off inside the stub", cut)):
        rc, out, err = t.run("check", path)
        if rc != 3 or "is the installer stub without a payload" not in err:
            fail(f"{case}: exit {rc}\n{out}{err}")
    rc, _, _ = t.run("check")
    if rc != 2:
        fail(f"check without a package: exit {rc}")


# Each name the installer refuses, and why (stubconf/item_names.h); "Data/./voornamen.txt" is
# one file with "Data/voornamen.txt", and "kelvaro.exe/readme.txt" runs through a file.
REFUSED = [
    ("CON", "device name"), ("Data/nul.txt", "device name"), ("Data/sub/Con.tar.gz", "device name"),
    ("Data/~klvupgrade.journal", "keeps for itself"), ("./~klvupgrade.journal", "keeps for itself"),
    ("ctl\x01.txt", "control character"), ("*.txt", "contains '*'"),
    ("../outside.txt", "\"..\" part"), ("Data/voornamen.txt.", "ends in '.' or a blank"),
    ("Data/voornamen.txt ", "ends in '.' or a blank"), ("Data/./voornamen.txt", "the same path to Windows"),
    ("kelvaro.exe/readme.txt", "runs through \"kelvaro.exe\""),
]


def names(t, work):
    stub = open(t.stub(), "rb").read()
    kelvaro = open(t.kelvaro("3.2.0.1"), "rb").read()
    package = os.path.join(work, "names.exe")
    with open(package, "wb") as f:
        f.write(stub)
    with zipfile.ZipFile(package, "a") as zf:
        zf.writestr("kelvaro.exe", kelvaro)
        zf.writestr("Data/voornamen.txt", b"Jan\r\n")
        zf.writestr("Data/Caf\u00e9 \u00e9\u00e9n.txt", b"flagged UTF-8: fine")
        for name, _ in REFUSED:
            zf.writestr(name, b"x")
    shown = lambda n: n.replace("\\", "/")  # noqa: E731
    out = expect(t, "names the installer refuses", package, 1,
                 [f'"{shown(n)}" will be refused: ' for n, _ in REFUSED] + [why for _, why in REFUSED] +
                 [f"{len(REFUSED)} refused by name or encryption", "the installer will refuse this package"],
                 absent=["Caf\u00e9 \u00e9\u00e9n.txt"])
    for name, why in REFUSED:
        if not any(line.startswith(f'refused:         "{shown(name)}" will be refused: ') and why in line
                   for line in out.splitlines()):
            fail(f"names: no refusal of {name!r} for {why!r}")

    # A real encrypted archive behind the stub: the installer has no password.
    encrypted = os.path.join(work, "encrypted.exe")
    here = os.path.dirname(os.path.abspath(__file__))
    with open(encrypted, "wb") as f:
        f.write(stub + open(os.path.join(here, "..", "crypto", "data", "zipcrypto-stored.zip"), "rb").read())
    expect(t, "an encrypted item", encrypted, 1, ["will be refused: it is encrypted"], absent=["it is damaged"])

    # Info-ZIP zip stores the UTF-8 bytes of a Linux name without the UTF-8 flag: the installer
    # reads them in code page 850. One such name turns into characters Windows refuses, one
    # into other letters.
    folder = os.path.join(work, "infozip")
    os.makedirs(folder)
    cafe, f_hook = "Caf\u00e9 \u00e9\u00e9n.txt", "\u0192.txt"
    for n in (cafe, f_hook):
        open(os.path.join(folder, n), "wb").write(b"x")
    archive = os.path.join(work, "infozip.zip")
    subprocess.run(["zip", "-q", "-X", archive, cafe, f_hook], cwd=folder, check=True,
                   env=dict(os.environ, LC_ALL="C.UTF-8"))
    with zipfile.ZipFile(archive) as zf:
        if any(i.flag_bits & 0x800 for i in zf.infolist()):
            fail("Info-ZIP zip flagged its names UTF-8: the case needs another maker")
    unflagged = os.path.join(work, "unflagged.exe")
    with open(unflagged, "wb") as f:
        f.write(stub + open(archive, "rb").read())

    def as_installer(name):  # the OEM code page, then ANSI: what Windows would make of the bytes
        return name.encode("utf-8").decode("cp850").encode("cp1252", "replace").decode("cp1252")
    expect(t, "UTF-8 names without the flag", unflagged, 1,
           [f'"{cafe}" will be refused: stored in UTF-8 without the UTF-8 flag (bit 11)',
            f'as "{as_installer(cafe)}", which contains \'?\'',
            f'warning:         "{f_hook}": stored in UTF-8 without the UTF-8 flag (bit 11)',
            f'as "{as_installer(f_hook)}", and creates the file under that name', "klvpack build, or with a tool that flags UTF-8"])


def signed(t, work):
    p = Payloads(t, work, "signed")
    payload = p.make({"Data/voornamen.txt": b"Jan\r\n" * 5000, "odd.bin": os.urandom(1001)})
    package = os.path.join(work, "to-sign.exe")
    t.build(t.stub(), payload, package, caption="Kelvaro Update 3.2.0.1]")
    signed_package = t.sign(package, os.path.join(work, "signed.exe"))
    if not t.verify(signed_package):
        fail("osslsigncode verify fails on the signed package")
    if os.path.getsize(signed_package) <= os.path.getsize(package):
        fail("signing appended nothing")
    # Signing appends only: the view up to the certificate table is the package as built.
    if open(signed_package, "rb").read()[1024:os.path.getsize(package)] != open(package, "rb").read()[1024:]:
        fail("signing changed the archive or padded it")
    want_list = t.run("list", package, check=0)[1]
    if t.run("list", signed_package, check=0)[1] != want_list:
        fail("list of the signed package differs from the unsigned one")
    rc, out, _ = t.run("test", signed_package)
    if rc != 0 or out.count("OK\t") != 4:
        fail(f"test of the signed package: exit {rc}\n{out}")
    expect(t, "signed package", signed_package, 0,
           ["signature:       a certificate table of", "SHA-256 digest of the package matches the signature's",
            "the stub will install this package as made"],
           absent=["read back from the local headers"])

    raw = bytearray(open(signed_package, "rb").read())
    with zipfile.ZipFile(package) as zf:
        info = zf.getinfo("Data/voornamen.txt")
        at = info.header_offset + 30 + len(info.filename) + 3
    raw[at] ^= 0x01
    tampered = os.path.join(work, "tampered.exe")
    open(tampered, "wb").write(raw)
    if t.verify(tampered):
        fail("osslsigncode verify passes a signed package with a changed payload byte")
    rc, out, _ = t.run("test", tampered)
    if rc != 1 or "FAILED\tData\\voornamen.txt" not in out:
        fail(f"test of the tampered package: exit {rc}\n{out}")
    expect(t, "tampered signed package", tampered, 1,
           ["the package was changed after signing", "\"Data/voornamen.txt\" will be refused: it is damaged"],
           absent=["read back from the local headers"])
    # A package not made by klvpack build whose length is not a multiple of 8.
    odd = os.path.join(work, "odd.exe")
    with open(odd, "wb") as f:
        f.write(open(t.stub(), "rb").read())
    with zipfile.ZipFile(odd, "a") as zf:
        zf.writestr("kelvaro.exe", open(t.kelvaro("3.2.0.1"), "rb").read())
    if os.path.getsize(odd) % 8 == 0:
        with zipfile.ZipFile(odd, "a") as zf:
            zf.comment = b"x"
    # A note, not a warning: the one warning is the stored caption's missing version.
    expect(t, "unsigned package of odd length", odd, 1,
           ["not a multiple of 8: signing would pad", "verdict:         1 warning"])

COMMANDS = ("build", "check", "manifest", "list", "test", "extract", "help")


def messages(t, work):
    """What klvpack says, by command line: its help, build's warnings (the rules check applies),
    why a file cannot be opened, and the progress line on a terminal. Each row: arguments
    ("{stub}", "{w}" and the payloads named filled in), exit code, and texts of stdout,
    stderr or the terminal ("tty": stderr on a pseudo-terminal); "!" before a text: absent."""
    p = Payloads(t, work, "msg")
    big = os.urandom(5 << 20)
    dirs = {"upgrade": p.make({"a.txt": b"a"}), "bare": p.make({"a.txt": b"a"}, kelvaro=None),
            "empty": p.make({}, kelvaro=None), "noinicaption": p.make({"Stub.ini": b"Header=Bronnen\n"}, kelvaro=None),
            "help": p.make({"help/index.htm": b"<html>"}, kelvaro=None), "big": p.make({"big.bin": big})}
    open(os.path.join(work, "notzip.txt"), "wb").write(b"not an archive\n")
    upgrade = "Kelvaro Update 3.2.0.1]"
    build = lambda d, *extra: ["build", "--stub", "{stub}", "--payload", "{" + d + "}", "-o", "{w}/msg.exe", *extra]  # noqa: E731
    table = [
        (["--help"], 0, "out", ["usage:", "klvpack manifest PACKAGE.exe", "klvpack help COMMAND"]),
        (["-h"], 0, "out", ["klvpack check PACKAGE.exe"]),
        (["help"], 0, "out", ["klvpack extract"]),
        (["--version"], 0, "out", ["klvpack 0."]),
        (["help", "nope"], 2, "err", ["unknown command nope", "usage:"]),
        (["nope"], 2, "err", ["unknown command nope (klvpack --help lists them)"]),
        (["check"], 2, "err", ["usage: klvpack check PACKAGE.exe"]),
        (["check", "{w}/missing.exe"], 3, "err", ["missing.exe: there is no such file", "Native error: 00012"]),
        (["check", "{w}/notzip.txt"], 3, "err", ["notzip.txt is neither an update package nor a ZIP archive"]),
        (["list", "{w}"], 3, "err", ["is a folder, not an archive"]),
        (["test", "{w}/missing.exe"], 3, "err", ["klvpack test: ", "there is no such file"]),
        (build("upgrade") + ["--caption", upgrade, "-o", "{w}/no/such/x.exe"], 2, "err",
         ["the folder ", "no/such for the package (-o) does not exist", "!klvpack-tmp"]),
        (build("upgrade", "--caption", upgrade), 0, "err", ["!warning"]),
        (build("help", "--caption", "Kelvaro Help 3]"), 0, "err", ["!warning"]),
        (build("upgrade"), 0, "err", ["warning: the caption carries no version"]),
        (build("upgrade", "--caption", "Kelvaro Update 3.10.0.0]"), 0, "err",
         ["warning: kelvaro.exe is version 3.2.0.1 but the caption says 3.10.0.0"]),
        (build("upgrade", "--stub", "{vstub}", "--caption", "Kelvaro Update 3.2.0.70000]"), 0, "out",
         ["version resource: 0.1.0.0 (the stub's: the caption's 3.2.0.70000 does not fit)", "!carries no version"]),
        (build("upgrade", "--stub", "{vstub}", "--caption", "Kelvaro Update 3.2.0.70000]"), 0, "err",
         ["warning: the caption's version 3.2.0.70000 does not fit a version resource", "!carries no version"]),
        (build("empty", "--caption", upgrade), 0, "err",
         ["warning: the payload holds no file", "warning: a program upgrade without kelvaro.exe"]),
        (build("bare", "--caption", upgrade), 0, "err", ["niet ge\u00efnstalleerd"]),
        (build("noinicaption"), 0, "err", ["warning: the caption is empty", "!carries no version"]),
        (["check", "{w}/msg.exe"], 1, "out", ["warning:         the caption is empty"]),
        (["manifest", "{w}/msg.exe", "-o", "{w}/m"], 2, "err", ["carries no version, and winget needs one"]),
    ] + [([c, "--help"], 0, "out", [f"usage: klvpack {c}"]) for c in COMMANDS] + [
        (["help", c], 0, "out", [f"usage: klvpack {c}"]) for c in COMMANDS]
    if not t.runner:  # a pseudo-terminal is a Linux one
        table += [
            (build("big", "--caption", upgrade, "--level", "0"), 0, "tty", ["\rbuilding: ", "5.0 of 5.0 MiB, 2 of 2 items"]),
            (["check", "{w}/msg.exe"], 0, "tty", ["\rtesting: ", "of 5.0 MiB, 2 of 2 items"]),
            (["test", "{w}/msg.exe"], 0, "tty", ["\rtesting: "]),
            (["extract", "{w}/msg.exe", "{w}/out"], 0, "tty", ["\rextracting: ", "2 of 2 items"]),
            (["test", "{w}/msg.exe"], 0, "err", ["!testing"]),  # not on a terminal
        ]
    names = dict(dirs, w=work, stub=t.stub(), vstub=t.stub(versioned=True))
    for args, code, stream, wants in table:
        args = [a.format(**names) for a in args]
        if stream == "tty":
            rc, out, err = run_on_terminal(t, args)
        else:
            rc, out, err = t.run(*args)
        text = out if stream == "out" else err
        case = "klvpack " + " ".join(args)
        if rc != code:
            fail(f"{case}: exit {rc}, wanted {code}\n{out}{err}")
        for want in wants:
            if (want[1:] in text) if want.startswith("!") else (want not in text):
                fail(f"{case}: {'unwanted' if want.startswith('!') else 'no'} {want.lstrip('!')!r} in {stream}:\n{text}")


def run_on_terminal(t, args):
    """klvpack with stderr on a pseudo-terminal: (exit code, stdout, what the terminal got)."""
    import pty
    master, slave = pty.openpty()
    p = subprocess.Popen([t.klvpack] + args, stdout=subprocess.PIPE, stderr=slave)
    os.close(slave)
    got = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:  # the terminal's other side closed
            break
        if not chunk:
            break
        got += chunk
    out = p.stdout.read()
    p.wait()
    os.close(master)
    return p.returncode, out.decode("utf-8", "replace"), got.decode("utf-8", "replace").replace("\r\n", "\n")


def pictures_family(t, p):
    """The picture as the stub decodes it: what it cannot show is named, and its own is shown."""
    ini = b"Caption=Bronnen\n"
    for name, picture in [("Stub.jpg", pictures.jpeg(300, 200, components=1)),
                          ("Stub.bmp", pictures.bitmap(5, -3)), ("Stub.ico", pictures.icon(32))]:
        expect(t, f"a sound {name}", p.package({"Stub.ini": ini, name: picture}), 0,
               [f'picture:         "{name}"'], absent=["warning"])
    unshown = [
        ("a CMYK JPEG", "Stub.jpg", pictures.jpeg(16, 16, components=4), "it is a CMYK JPEG"),
        ("a 12-bit JPEG", "Stub.jpg", pictures.jpeg(16, 16, precision=12), "libjpeg cannot decode it: Unsupported JPEG data precision 12"),
        ("a JPEG of 0 x 0", "Stub.jpg", pictures.jpeg(0, 0), "libjpeg cannot decode it"),
        ("a small JPEG declaring 12000 x 12000", "Stub.jpg", pictures.jpeg(12000, 12000, progressive=True)[:843],
         "it declares 12000 x 12000 pixels, more than the stub decodes (16777216)"),
        ("a bitmap whose rows run past its end", "Stub.bmp", pictures.bitmap(100, 100, pixel_bytes=64),
         "its pixels (30000 bytes from offset 54) run past the end of the file"),
        ("a bitmap whose pixels lie beyond it", "Stub.bmp", pictures.bitmap(2, 2, offset=1 << 30),
         "its pixels' offset 1073741824 lies outside the file"),
        ("a bitmap of 8192 x 8192", "Stub.bmp", pictures.bitmap(8192, 8192, bits=1, pixel_bytes=0),
         "it declares 8192 x 8192 pixels"),
        ("an icon whose image lies beyond it", "Stub.ico", pictures.icon(16, offset=70000),
         "its image 1 (1128 bytes at offset 70000) lies outside the file"),
        ("an icon whose PNG declares 60000 x 60000", "Stub.ico", pictures.icon_png(60000, 60000),
         "its image 1 is a PNG declaring 60000 x 60000 pixels"),
        ("an icon claiming more bytes than it has", "Stub.ico", pictures.icon(16, claimed=1 << 20),
         "its image 1 (1048576 bytes at offset 22) lies outside the file's 1150 bytes"),
    ]
    for case, name, picture, why in unshown:
        expect(t, case, p.package({"Stub.ini": ini, name: picture}), 1,
               [f'"{name}" cannot be shown: {why}', f'picture:         the stub\'s own ("{name}" cannot be shown)'])
    # A Stub.ini over 1 MiB, or a picture over 64 MiB, makes the installer refuse the package.
    expect(t, "a Stub.ini of 2 MiB", p.package({"Stub.ini": ini + b" " * (2 << 20)}), 1,
           ['"Stub.ini" will be refused: 2097168 bytes, more than the 1 MiB',
            "the installer will refuse this package as damaged"])


def hostile_headers(t, work):
    """A file of local headers every 30 bytes, each announcing a 65,535-byte name: list, test
    and check say it is damaged, never abort."""
    header = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0, 0, 0, 0, 0xFFFF, 0)
    hostile = os.path.join(work, "headers.zip")
    open(hostile, "wb").write(header * 35000)
    for command in ("list", "test", "check"):
        rc, out, err = t.run(command, hostile)
        if rc != 3 or "damaged" not in err.lower():
            fail(f"{command} of a file of hostile headers: exit {rc}\n{out}{err}")


def file_properties(t, work):
    """The update's version in the package's version resource, read back by check; a package
    whose resource and caption disagree is warned about."""
    stub = t.stub(versioned=True)
    payload = Payloads(t, work, "props").make({})
    package = os.path.join(work, "props.exe")
    _, out, _ = t.build(stub, payload, package, caption="Kelvaro Update 3.2.0.1]")
    if "version resource: 3.2.0.1 (from the caption)" not in out:
        fail(f"build does not tell the version it wrote:\n{out}")
    expect(t, "versioned package", package, 0,
           ["file properties: 3.2.0.1, \"Kelvaro Update 3.2.0.1\", as the caption says",
            "verdict:         the stub will install this package as made"])
    # A maker that set the caption but not the resource (the block's bytes changed in place).
    data = open(package, "rb").read()
    stale = os.path.join(work, "props-stale.exe")
    with open(stale, "wb") as f:
        f.write(data.replace(b"Kelvaro Update 3.2.0.1]", b"Kelvaro Update 3.3.0.0]", 1))
    expect(t, "resource behind the caption", stale, 1,
           ["file properties: 3.2.0.1, \"Kelvaro Update 3.2.0.1\", the caption says 3.3.0.0",
            "the version resource's file version is 3.2.0.1 but the caption says 3.3.0.0"])
    # No version in the caption: the stub's own, its room closed.
    plain = os.path.join(work, "props-plain.exe")
    _, out, _ = t.build(stub, payload, plain, caption="Kelvaro Help")
    expect(t, "caption without a version", plain, 0,
           ["file properties: 0.1.0.0, \"Kelvaro Upgrade\", the caption carries none"])
    # A version whose parts do not fit the resource's 16-bit fields keeps the stub's.
    wide = os.path.join(work, "props-wide.exe")
    t.build(stub, payload, wide, caption="Kelvaro Update 3.70000]")
    expect(t, "version too wide for the resource", wide, 1,
           ["file properties: 0.1.0.0, \"Kelvaro Upgrade\", the caption's 3.70000 does not fit",
            "the caption's version 3.70000 does not fit a version resource"])


def main():
    base = os.path.join(os.environ.get("KLV_BINARY_DIR", "build"), "tests", "pack")
    os.makedirs(base, exist_ok=True)
    work = tempfile.mkdtemp(prefix="check-", dir=base)
    t = Tools(work)
    try:
        verdicts(t, work)
        hostile_headers(t, work)
        names(t, work)
        signed(t, work)
        file_properties(t, work)
        messages(t, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if problems:
        sys.exit(f"{len(problems)} problems")
    print("all verdicts as expected")


if __name__ == "__main__":
    main()
