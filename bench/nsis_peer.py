"""NSIS as the peer of the benchmarks: a plain installer of a payload folder, built by makensis.

The installer copies every file of the folder, subfolders included, into its installation
folder ($INSTDIR: /D=C:\\path on its command line, or `install_dir`), nothing else: no
uninstaller, no registry, no shortcuts. Its pages are the usual ones, `/S` installs silently.
x86-64 and Unicode (`Target amd64-unicode`): Wine here runs only 64-bit programs.

    from nsis_peer import build_installer
    exe = build_installer(Path("payload"), Path("out/nsis-zlib.exe"), compressor="zlib")
    exe = build_installer(Path("payload"), Path("out/nsis-lzma.exe"), compressor="lzma",
                          solid=True)

write_nsi() writes only the script, for whoever wants to run makensis differently.
"""
from __future__ import annotations

import subprocess
from pathlib import Path

COMPRESSORS = ("zlib", "bzip2", "lzma")


def nsi_text(payload: Path, out_exe: Path, compressor: str = "zlib", solid: bool = False,
             install_dir: str = r"$PROGRAMFILES64\Kelvaro", name: str = "Kelvaro") -> str:
    """The .nsi script installing every file under `payload` into `install_dir`."""
    if compressor not in COMPRESSORS:
        raise ValueError(f"compressor {compressor!r}: one of {', '.join(COMPRESSORS)}")
    payload = Path(payload).resolve()
    lines = [
        "Unicode true",
        "Target amd64-unicode",
        f"SetCompressor /FINAL {'/SOLID ' if solid else ''}{compressor}",
        f'Name "{name}"',
        f'OutFile "{Path(out_exe).resolve()}"',
        f'InstallDir "{install_dir}"',
        "RequestExecutionLevel user",
        "ShowInstDetails nevershow",
        "Page directory",
        "Page instfiles",
        'Section "Payload"',
        '  SetOutPath "$INSTDIR"',
        f'  File /r "{payload}/*"',
        "SectionEnd",
    ]
    return "\n".join(lines) + "\n"


def write_nsi(payload: Path, nsi: Path, out_exe: Path, **options) -> Path:
    """Writes the script for `payload` to `nsi` (options as nsi_text's); returns `nsi`."""
    nsi = Path(nsi)
    nsi.parent.mkdir(parents=True, exist_ok=True)
    nsi.write_text(nsi_text(payload, out_exe, **options), encoding="utf-8")
    return nsi


def build_installer(payload: Path, out_exe: Path, compressor: str = "zlib", solid: bool = False,
                    **options) -> Path:
    """Writes the script beside `out_exe` (same name, .nsi), runs makensis on it and returns
    the installer's path. Raises CalledProcessError with makensis's output when it fails."""
    out_exe = Path(out_exe).resolve()
    out_exe.parent.mkdir(parents=True, exist_ok=True)
    nsi = write_nsi(payload, out_exe.with_suffix(".nsi"), out_exe, compressor=compressor,
                    solid=solid, **options)
    subprocess.run(["makensis", "-V2", "-INPUTCHARSET", "UTF8", str(nsi)], check=True,
                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return out_exe
