"""The Dutch texts the installer shows, as the scenarios expect them: read from
tests/app/fixed_texts.txt, which app_texts_test holds against the installer's catalogue."""
from __future__ import annotations

import re
from pathlib import Path

FILE = Path(__file__).resolve().parents[1] / "app" / "fixed_texts.txt"
_LITERAL = re.compile(r'"((?:[^"\\]|\\.)*)"')
_ESCAPE = re.compile(r"\\(x[0-9A-Fa-f]{2}|.)")


def _unescape(literal: str) -> bytes:
    def one(m):
        e = m.group(1)
        if e[0] == "x":
            return chr(int(e[1:], 16))
        return {"r": "\r", "n": "\n"}.get(e, e)
    return _ESCAPE.sub(one, literal).encode("latin-1")


def _read() -> dict[str, str]:
    texts: dict[str, bytes] = {}
    name = None
    for line in FILE.read_text(encoding="ascii").splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        if not line.startswith(" "):
            name, line = line.split(" = ", 1)
            texts[name] = b""
        for literal in _LITERAL.findall(line):
            texts[name] += _unescape(literal)
    return {n: t.decode("cp1252") for n, t in texts.items()}


_TEXTS = _read()


def text(name: str, **parts) -> str:
    """The fixed text `name`, each {part} replaced by its value."""
    value = _TEXTS[name]
    for part, sample in parts.items():
        mark = "{" + part + "}"
        assert mark in value, f"{name} has no {mark}"
        value = value.replace(mark, str(sample))
    assert "{" not in value, f"{name}: parts left unfilled in {value!r}"
    return value


def question(message: str, yes: str, no: str) -> str:
    """A question box's text as the installer composes it: the message, then what Yes and No
    mean."""
    return f"{message}\r{text('yes_word')} = {yes}\r{text('no_word')} = {no}"
