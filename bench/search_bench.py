#!/usr/bin/env python3
"""Speed of the drive search under Wine against a plain directory walk of the same tree.

    bench/search_bench.py [--bin DIR] [--runs N] [--tree DIR] [--prefix DIR]

The tree (built once, cached in build/bench): 200,200 empty files in 20,020 folders (20 top
folders of 10 folders of 99 folders, 10 files in each), with two Kelvaro installations and a
decoy among them. It is mapped as drive D: in a Wine prefix of its own, which has no Z: drive
(a fresh prefix maps the whole Linux root there; no real machine has it), so the search sees
C: (the prefix's own, mostly skipped) and D:.

Medians of N runs after one warm-up run each, runs of the programs taking turns, each timed
from inside its process (QueryPerformanceCounter), so Wine's start-up is not counted:
    floor      search_floor D:\\              a recursive FindFirstFileA/FindNextFileA walk
    find       search_run D:\\                FindFiles on the tree alone, no skip list
    search     search_run all                 SearchInstallations over every drive
    messages   search_run all --messages      the same, its progress callback reading the
                                              Escape key and handling waiting messages, as the
                                              installer's does
and the medians of the ratios of each round: search/floor (target <= 1.2), find/floor and
messages/search, with the longest gap between two progress calls (how long a pressed Escape can go unnoticed; <= 100 ms).

--bin is the folder of the Windows build's bench programs (default build/windows/bench/search).
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
CACHE = os.path.join(ROOT, "build", "bench")
TREE_VERSION = "1"
TARGET = 1.2
ESCAPE_MS = 100


def make_tree(tree):
    stamp = os.path.join(tree, "tree-version.txt")
    if os.path.exists(stamp) and open(stamp).read() == TREE_VERSION:
        return
    if os.path.exists(tree):
        shutil.rmtree(tree)
    print(f"making the tree in {tree} ...", file=sys.stderr)
    folders = files = 0
    for a in range(20):
        for b in range(10):
            for c in range(-1, 99):
                parts = [f"Map{a:02d}", f"Deel{b}"] + ([f"Sub{c:02d}"] if c >= 0 else [])
                folder = os.path.join(tree, *parts)
                os.makedirs(folder)
                folders += 1
                for f in range(10):
                    open(os.path.join(folder, f"bestand{f}.dat"), "w").close()
                    files += 1
        os.makedirs(os.path.join(tree, f"Map{a:02d}"), exist_ok=True)
        for f in range(10):
            open(os.path.join(tree, f"Map{a:02d}", f"bestand{f}.dat"), "w").close()
            files += 1
        folders += 1
    # Two installations and a decoy, deep in the tree.
    for where in ("Map03/Deel4/Sub17", "Map15/Deel9/Sub98", "Map07/Deel0/Sub00"):
        open(os.path.join(tree, where, "kelvaro.exe"), "w").close()
    for where in ("Map03/Deel4/Sub17", "Map15/Deel9/Sub98"):
        os.makedirs(os.path.join(tree, where, "SC"))
        open(os.path.join(tree, where, "SC", "Slavenreg.sc"), "w").close()
    with open(stamp, "w") as f:
        f.write(TREE_VERSION)
    print(f"{files} files, {folders} folders", file=sys.stderr)


def wine_env(prefix):
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
               LC_ALL="nl_NL.UTF-8")
    return env


def make_prefix(prefix, tree):
    env = wine_env(prefix)
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        os.makedirs(prefix, exist_ok=True)
        subprocess.run(["wineboot", "-i"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    devices = os.path.join(prefix, "dosdevices")
    z = os.path.join(devices, "z:")
    d = os.path.join(devices, "d:")
    changed = os.path.lexists(z) or not os.path.islink(d) or os.readlink(d) != tree
    if os.path.lexists(z):
        os.remove(z)
    if os.path.lexists(d) and (not os.path.islink(d) or os.readlink(d) != tree):
        os.remove(d)
    if not os.path.lexists(d):
        os.symlink(tree, d)
    if changed:  # drives are read when the server starts
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return env


def run(env, args):
    # Through a file: a wineserver that the program starts would hold a pipe open.
    with tempfile.TemporaryFile("w+") as out:
        subprocess.run(["wine"] + args, env=env, stdin=subprocess.DEVNULL, stdout=out,
                       stderr=subprocess.DEVNULL, check=True)
        out.seek(0)
        return [float(x) for x in out.read().split()]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--bin", default=os.path.join(ROOT, "build", "windows", "bench", "search"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--tree", default=os.path.join(CACHE, "search-tree"))
    ap.add_argument("--prefix", default=os.path.join(CACHE, "search-prefix"))
    a = ap.parse_args()
    tree, prefix = os.path.abspath(a.tree), os.path.abspath(a.prefix)
    floor_exe = os.path.join(a.bin, "search_floor.exe")
    run_exe = os.path.join(a.bin, "search_run.exe")
    for exe in (floor_exe, run_exe):
        if not os.path.exists(exe):
            sys.exit(f"missing {exe}: build the Windows preset first")
    make_tree(tree)
    env = make_prefix(prefix, tree)

    commands = {
        "floor": [floor_exe, "D:\\"],
        "find": [run_exe, "D:\\"],
        "search": [run_exe, "all"],
        "messages": [run_exe, "all", "--messages"],
    }
    times = {name: [] for name in commands}
    gaps = {name: [] for name in commands}
    counts = {}
    for i in range(a.runs + 1):
        for name, args in commands.items():
            values = run(env, args)
            if name == "floor":
                files, folders, ms = values
                counts[name] = f"{int(files)} files, {int(folders)} folders"
            else:
                found, entered, ms, gap = values
                counts[name] = f"{int(found)} found, {int(entered)} folders entered"
                if i > 0:
                    gaps[name].append(gap)
            if i > 0:
                times[name].append(ms)

    median = {name: statistics.median(t) for name, t in times.items()}
    for name in commands:
        t = times[name]
        extra = f"  longest gap {max(gaps[name]):.1f} ms" if gaps[name] else ""
        print(f"{name:9s} median {median[name]:8.1f} ms  (min {min(t):.1f}, max {max(t):.1f})"
              f"  {counts[name]}{extra}")

    def ratio(a, b):  # round by round, so that a slower spell of the machine hits both
        return statistics.median(x / y for x, y in zip(times[a], times[b]))

    search = ratio("search", "floor")
    verdict = "ok" if search <= TARGET else "MISSED"
    print(f"search/floor    {search:.2f}  (target <= {TARGET})  {verdict}")
    print(f"find/floor      {ratio('find', 'floor'):.2f}")
    gap = max(gaps["messages"])
    print(f"messages/search {ratio('messages', 'search'):.2f}"
          f"  (longest gap {gap:.1f} ms, Escape target <= {ESCAPE_MS} ms)")

if __name__ == "__main__":
    main()
