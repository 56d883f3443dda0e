#!/usr/bin/env python3
"""Writes the Windows Installer package's list of the release's plain files (wixl includes):

    msi-files.py <release folder> <output folder>

files.wxi: one component per file (its key path), in directories that mirror the release
folder under INSTALLDIR; file-refs.wxi: a reference to each of them, for the feature. The
files are named below $(var.Release), which wixl needs as a path relative to where it runs. The two DLLs, which
carry the registration, are described in QuorLib.wxs itself; the Linux simulator, the
Linux-only example and the checksum list stay out, as they do from the setup program.
"""
import hashlib
import pathlib
import re
import sys
from xml.sax.saxutils import quoteattr

LEFT_OUT = {"SHA256SUMS", "simulator/pulsyn-sim", "examples/session_linux.py", "x64/QuorLib.dll", "x86/QuorLib.dll"}


def identifier(kind, relative):
    """A valid, stable identifier for a path (letters, digits, "_" and "."; at most 72)."""
    plain = re.sub(r"[^A-Za-z0-9_.]", "_", relative)
    digest = hashlib.sha1(relative.encode()).hexdigest()[:8]
    return f"{kind}_{plain[-(60 - len(kind)):]}_{digest}"


def main(release, output):
    release = pathlib.Path(release).resolve()
    output = pathlib.Path(output)
    files = sorted(p.relative_to(release).as_posix() for p in release.rglob("*") if p.is_file())
    files = [f for f in files if f not in LEFT_OUT]
    if not files:
        sys.exit(f"msi-files: {release} holds no files")
    tree = {}  # directory -> (subdirectories, files)
    for f in files:
        parts = f.split("/")
        for depth in range(len(parts)):
            directory = "/".join(parts[:depth])
            tree.setdefault(directory, (set(), []))
            if depth + 1 < len(parts):
                tree[directory][0].add("/".join(parts[: depth + 1]))
        tree["/".join(parts[:-1])][1].append(f)

    lines = ['<?xml version="1.0" encoding="utf-8"?>', "<Include>"]
    components = []

    def emit(directory, indent):
        subdirectories, names = tree[directory]
        for f in names:
            component = identifier("C", f)
            components.append(component)
            lines.append(f'{indent}<Component Id="{component}" Guid="*" Win64="yes">')
            lines.append(f'{indent}  <File Id="{identifier("F", f)}" Source={quoteattr("$(var.Release)/" + f)} '
                         f'Name={quoteattr(f.rsplit("/", 1)[-1])} KeyPath="yes"/>')
            lines.append(f"{indent}</Component>")
        for sub in sorted(subdirectories):
            lines.append(f'{indent}<Directory Id="{identifier("D", sub)}" Name={quoteattr(sub.rsplit("/", 1)[-1])}>')
            emit(sub, indent + "  ")
            lines.append(f"{indent}</Directory>")

    lines.append('  <DirectoryRef Id="INSTALLDIR">')
    emit("", "    ")
    lines.append("  </DirectoryRef>")
    lines.append("</Include>")
    (output / "files.wxi").write_text("\n".join(lines) + "\n")
    refs = ['<?xml version="1.0" encoding="utf-8"?>', "<Include>"]
    refs += [f'  <ComponentRef Id="{c}"/>' for c in components]
    refs.append("</Include>")
    (output / "file-refs.wxi").write_text("\n".join(refs) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(*sys.argv[1:])
