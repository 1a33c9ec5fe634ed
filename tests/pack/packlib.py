"""Makers shared by klvpack's package tests (and usable by other test scripts): a stand-in
stub, a kelvaro.exe with a given version resource, a throwaway code-signing certificate, and
building and signing a package.

    from packlib import Tools
    t = Tools(work_dir)                    # KLVPACK and KLV_RUNNER from the environment
    stub = t.stub()                        # a PE32 with the stored caption block
    stub64 = t.stub(bits=64)               # the same as PE32+ (x86-64)
    stubv = t.stub(versioned=True)         # with the installer's own version resource
    exe = t.kelvaro("3.2.0.1")             # a PE whose version resource says 3.2.0.1
    t.build(stub, payload_dir, out, caption="Kelvaro Update 3.2.0.1]")
    t.sign(out, signed)                    # osslsigncode with a certificate made by openssl

Run as a script it builds and signs one package:
    packlib.py --klvpack K --stub S --payload DIR [--caption T] -o OUT.exe [--unsigned U]
"""
import argparse
import os
import shlex
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MINGW = "x86_64-w64-mingw32-"
MINGW32 = "i686-w64-mingw32-"  # the shipped stub is a 32-bit program


class Tools:
    def __init__(self, work, klvpack=None, runner=None):
        self.work = work
        os.makedirs(work, exist_ok=True)
        self.klvpack = klvpack or os.environ["KLVPACK"]
        self.runner = shlex.split(runner if runner is not None else os.environ.get("KLV_RUNNER", ""))

    def path(self, p):
        """A path as the tool sees it (under Wine: on drive Z:)."""
        return "Z:" + p.replace("/", "\\") if self.runner and p.startswith("/") else p

    def run(self, *args, check=None, env=None):
        """klvpack with `args` (absolute paths mapped for the emulator): (exit code, stdout,
        stderr) as text."""
        env = dict(env or os.environ, TZ="UTC")
        if self.runner:
            env["LC_ALL"] = os.environ.get("KLV_WINE_LOCALE", "nl_NL.UTF-8")
        p = subprocess.run(self.runner + [self.klvpack] + [self.path(a) for a in args],
                           capture_output=True, env=env)
        out = p.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
        err = p.stderr.decode("utf-8", "replace").replace("\r\n", "\n")
        if check is not None and p.returncode != check:
            raise AssertionError(f"klvpack {' '.join(args)}: exit {p.returncode}, wanted {check}\n{out}{err}")
        return p.returncode, out, err

    def stub(self, bits=32, versioned=False, junk=False):
        """`junk`: with the bytes of a local header in its data, as the real stub's code has."""
        name = ("stub" if bits == 32 else f"stub{bits}") + ("-versioned" if versioned else "")
        name += "-junk" if junk else ""
        out = os.path.join(self.work, name + ".exe")
        if os.path.exists(out):
            return out
        mingw = MINGW32 if bits == 32 else MINGW
        objects = [os.path.join(HERE, "stub_standin.c")]
        if versioned:
            # The installer's resource script, as its build compiles it at version 0.1.0.0.
            gen = os.path.join(self.work, name + "-gen")
            os.makedirs(gen, exist_ok=True)
            with open(os.path.join(gen, "stub_version.h"), "w") as f:
                f.write('#define KLV_VERSION_COMMAS 0,1,0,0\n#define KLV_VERSION_TEXT "0.1.0.0"\n')
            src = os.path.join(HERE, "..", "..", "src", "app", "win32")
            objects.append(os.path.join(gen, "resources.o"))
            subprocess.run([mingw + "windres", "-I", gen, "-I", src, os.path.join(src, "klvupgradeStub.rc"),
                            "-O", "coff", "-o", objects[-1]], check=True)
        defines = ["-DKLV_JUNK_HEADER"] if junk else []
        subprocess.run([mingw + "gcc", "-O2", "-s"] + defines + objects + ["-o", out], check=True)
        return out

    def kelvaro(self, version):
        """A kelvaro.exe whose fixed file version is `version` ("a.b.c.d"); None: no resource."""
        name = "none" if version is None else version.replace(".", "_")
        folder = os.path.join(self.work, "kelvaro-" + name)
        out = os.path.join(folder, "kelvaro.exe")
        if os.path.exists(out):
            return out
        os.makedirs(folder, exist_ok=True)
        source = os.path.join(folder, "main.c")
        with open(source, "w") as f:
            f.write("int main(void) { return 0; }\n")
        objects = [source]
        if version is not None:
            parts = version.split(".")
            res = os.path.join(folder, "version.o")
            subprocess.run([MINGW + "windres"] + [f"-DKLV_{k}={v}" for k, v in
                           zip(("MAJOR", "MINOR", "RELEASE", "BUILD"), parts)] +
                           [os.path.join(HERE, "kelvaro_version.rc"), "-O", "coff", "-o", res], check=True)
            objects.append(res)
        subprocess.run([MINGW + "gcc", "-O2", "-s"] + objects + ["-o", out], check=True)
        return out

    def build(self, stub, payload, out, caption=None, level=None, check=0):
        args = ["build", "--stub", stub, "--payload", payload, "-o", out]
        if caption is not None:
            args += ["--caption", caption]
        if level is not None:
            args += ["--level", str(level)]
        return self.run(*args, check=check)

    def certificate(self):
        """A throwaway self-signed code-signing certificate and key (PEM)."""
        cert = os.path.join(self.work, "sign-cert.pem")
        key = os.path.join(self.work, "sign-key.pem")
        if not os.path.exists(cert):
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                            "-out", cert, "-days", "30", "-subj", "/CN=Kelvaro test signer",
                            "-addext", "extendedKeyUsage=codeSigning"],
                           check=True, capture_output=True)
        return cert, key

    def sign(self, package, out):
        cert, key = self.certificate()
        if os.path.exists(out):
            os.remove(out)
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Kelvaro update",
                        "-in", package, "-out", out], check=True, capture_output=True)
        return out

    def verify(self, package):
        """True when osslsigncode verifies the package's signature against the certificate."""
        cert, _ = self.certificate()
        p = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", package],
                           capture_output=True)
        return p.returncode == 0


def main():
    ap = argparse.ArgumentParser(description="Build a package with klvpack and sign it.")
    ap.add_argument("--klvpack", required=True)
    ap.add_argument("--runner", default="")
    ap.add_argument("--stub", help="the installer stub (default: a stand-in built here)")
    ap.add_argument("--payload", required=True)
    ap.add_argument("--caption")
    ap.add_argument("-o", "--output", required=True)
    ap.add_argument("--unsigned", help="keep the unsigned package here")
    args = ap.parse_args()
    t = Tools(os.path.join(os.path.dirname(os.path.abspath(args.output)), ".packlib"),
              os.path.abspath(args.klvpack), args.runner)
    unsigned = args.unsigned or args.output + ".unsigned"
    t.build(args.stub or t.stub(), args.payload, unsigned, caption=args.caption)
    t.sign(unsigned, args.output)
    if not t.verify(args.output):
        sys.exit("the signed package does not verify")
    if not args.unsigned:
        os.remove(unsigned)


if __name__ == "__main__":
    main()
