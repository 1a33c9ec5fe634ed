#!/usr/bin/env python3
"""Drives the real password dialog of the Windows build under Wine and Xvfb.

Run inside an X session (xvfb-run). Arguments: the Wine runner, password_prompt_test.exe.
The test program shows the dialog; this script finds it by its caption, types into it with
xdotool and checks what the program received.
"""
import os
import subprocess
import sys
import time

runner, exe = sys.argv[1], sys.argv[2]
CAPTION = 'Password for "data/ge\u00efnstalleerd.txt"'


def start(test, expect=None):
    env = dict(os.environ)
    env.pop("KLV_PROMPT_EXPECT", None)
    if expect is not None:
        env["KLV_PROMPT_EXPECT"] = expect
    return subprocess.Popen([runner, exe, f"--gtest_filter=PasswordPrompt.{test}"], env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            errors="replace")


def finish(proc, what):
    try:
        out, _ = proc.communicate(timeout=120)
    except subprocess.TimeoutExpired:
        proc.kill()
        out, _ = proc.communicate()
        print(out)
        sys.exit(f"{what}: the program did not end")
    if proc.returncode != 0 or "[  PASSED  ] 1 test" not in out or "SKIPPED" in out:
        print(out)
        sys.exit(f"{what}: failed (exit {proc.returncode})")
    print(f"ok: {what}")


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True)


def wait_for_dialog(proc):
    deadline = time.monotonic() + 90
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            return None
        found = xdotool("search", "--onlyvisible", "--name", "^Password for")
        for wid in found.stdout.split():
            if xdotool("getwindowname", wid).stdout.rstrip("\n") == CAPTION:
                return wid
        time.sleep(0.2)
    return None


def answer(expect, *keys, typed=None):
    proc = start("RealDialogAnswers", expect)
    wid = wait_for_dialog(proc)
    if wid is None:
        finish(proc, f"dialog for {expect!r}")
        sys.exit(f"no dialog titled {CAPTION!r} appeared")
    xdotool("windowfocus", "--sync", wid)
    time.sleep(0.3)
    if typed:
        xdotool("type", "--delay", "15", typed)
    for key in keys:
        xdotool("key", key)
    finish(proc, f"answer {expect[:20]!r} by {keys}")


finish(start("DialogTemplateLayout"), "layout")
answer("S3cret-x", "Return", typed="S3cret-x")         # Enter presses the default button OK
answer("", "Return")                                    # OK with an empty field
answer("a" * 255, "Return", typed="a" * 300)           # at most 255 characters
answer("cancel", "Escape", typed="ignored")            # Escape is Cancel
answer("cancel", "alt+F4", typed="ignored")            # closing is Cancel
