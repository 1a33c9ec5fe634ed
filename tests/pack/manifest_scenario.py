#!/usr/bin/env python3
"""`klvpack manifest` of a real package writes a winget manifest that the published schemas
(winget-1.6.0/) accept, with the package's version, SHA-256, architecture and a return
response for every exit code of src/app/exit_codes.h; the sample in docs/deploying.md passes
the same schemas and agrees with it; and the exit-code tables of README.md, docs/packaging.md
and docs/deploying.md say what exit_codes.h says, code for code.

Environment: KLVPACK (the built tool), KLV_RUNNER (emulator, empty natively), KLV_BINARY_DIR.
"""
import hashlib
import json
import os
import re
import shutil
import sys
import tempfile

import jsonschema
import yaml

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from packlib import Tools  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
problems = []


def fail(text):
    problems.append(text)
    print("FAIL:", text, flush=True)


def exit_codes():
    """{code: meaning} from the comments of the installer's enum."""
    text = open(os.path.join(ROOT, "src", "app", "exit_codes.h"), encoding="utf-8").read()
    return {int(n): why.strip() for n, why in re.findall(r"^\s*\w+ = (\d+),\s*// (.*)$", text, re.M)}


def validate(doc, what):
    schema = json.load(open(os.path.join(HERE, "winget-1.6.0", f"manifest.{doc['ManifestType']}.1.6.0.json")))
    for error in jsonschema.Draft7Validator(schema).iter_errors(doc):
        fail(f"{what}: {'/'.join(map(str, error.path))}: {error.message}")


def scenario(t, work, codes):
    payload = os.path.join(work, "payload")
    os.makedirs(payload)
    shutil.copy(t.kelvaro("3.2.0.1"), os.path.join(payload, "kelvaro.exe"))
    url = "https://downloads.example.org/kelvaro/KelvaroUpdate-3.2.0.1.exe"
    got = {}
    for bits, arch in ((32, "x86"), (64, "x64")):
        package = os.path.join(work, f"KelvaroUpdate-{bits}.exe")
        t.build(t.stub(bits, versioned=True), payload, package, caption="Kelvaro Update 3.2.0.1]")
        out = os.path.join(work, f"manifest-{bits}")
        t.run("manifest", package, "--url", url, "--publisher", "Stichting Kelvaro", "-o", out, check=0)
        files = sorted(os.listdir(out))
        docs = {d["ManifestType"]: d for d in (yaml.safe_load(open(os.path.join(out, f), encoding="utf-8")) for f in files)}
        if sorted(docs) != ["defaultLocale", "installer", "version"]:
            fail(f"{bits}-bit: manifest files {files}")
            continue
        for d in docs.values():
            validate(d, f"{bits}-bit {d['ManifestType']} manifest")
        inst = docs["installer"]["Installers"][0]
        sha = hashlib.sha256(open(package, "rb").read()).hexdigest().upper()
        if (inst["Architecture"], inst["InstallerSha256"], inst["InstallerUrl"]) != (arch, sha, url):
            fail(f"{bits}-bit: installer {inst}")
        for d in docs.values():
            if (d["PackageIdentifier"], d["PackageVersion"]) != ("StichtingKelvaro.KelvaroUpdate", "3.2.0.1"):
                fail(f"{bits}-bit: identity {d['PackageIdentifier']} {d['PackageVersion']}")
        got = docs["installer"]
    returned = sorted(r["InstallerReturnCode"] for r in got.get("ExpectedReturnCodes", []))
    if returned != sorted(c for c in codes if c != 0):
        fail(f"return codes {returned}, exit_codes.h has {sorted(codes)}")
    if got.get("InstallerType") != "exe":
        fail(f"installer type {got.get('InstallerType')}")
    return got


def deploying_sample(installer):
    """The manifest shown in docs/deploying.md passes the schemas and is klvpack's."""
    text = open(os.path.join(ROOT, "docs", "deploying.md"), encoding="utf-8").read()
    samples = [yaml.safe_load(b) for b in re.findall(r"```yaml\n(.*?)```", text, re.S)]
    if sorted(s["ManifestType"] for s in samples) != ["defaultLocale", "installer", "version"]:
        fail("docs/deploying.md: not the three manifests")
    for s in samples:
        validate(s, f"docs/deploying.md {s['ManifestType']}")
        if s["ManifestType"] == "installer":
            for key in ("InstallerType", "InstallerSwitches", "InstallModes", "ExpectedReturnCodes"):
                if s.get(key) != installer.get(key):
                    fail(f"docs/deploying.md: {key} differs from klvpack manifest's")
    # The exit-code table's winget column is the manifest's.
    table = {int(c): w for c, w in re.findall(r"^\| (\d+) \| [^|]+ \| `?(\w+)`? \|", text, re.M)}
    responses = {r["InstallerReturnCode"]: r["ReturnResponse"] for r in installer["ExpectedReturnCodes"]}
    if {c: w for c, w in table.items() if c} != responses:
        fail(f"docs/deploying.md: the winget column {table} is not {responses}")


def tables(codes):
    """Each document's exit-code table says what exit_codes.h says."""
    for doc, heading in (("README.md", "## Exit codes"), ("docs/packaging.md", "## Exit codes of the installer"),
                         ("docs/deploying.md", "## Exit codes")):
        text = open(os.path.join(ROOT, doc), encoding="utf-8").read()
        section = text.split(heading + "\n", 1)[-1].split("\n## ", 1)[0]
        rows = {int(c): why for c, why in re.findall(r"\|\s*(\d+)\s*\|\s*([^|]*?)\s*(?=\|)", section)}
        if rows != codes:
            fail(f"{doc}: the exit codes differ from exit_codes.h: "
                 f"{ {c: rows.get(c) for c in set(rows) | set(codes) if rows.get(c) != codes.get(c)} }")


def main():
    base = os.path.join(os.environ.get("KLV_BINARY_DIR", "build"), "tests", "pack")
    os.makedirs(base, exist_ok=True)
    work = tempfile.mkdtemp(prefix="manifest-", dir=base)
    codes = exit_codes()
    try:
        installer = scenario(Tools(work), work, codes)
        if installer:
            deploying_sample(installer)
        tables(codes)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if problems:
        sys.exit(f"{len(problems)} problems")
    print("the manifest and the documents agree")


if __name__ == "__main__":
    main()
