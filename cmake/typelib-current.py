#!/usr/bin/env python3
"""Checks that the committed type library is the one its description compiles to.

usage: typelib-current.py COMMITTED.tlb FRESH.tlb

widl stamps each library with the time it was made ("Created by WIDL version ... at ..."),
so the stamp (text and number) is masked before the bytes are compared. Both DLLs embed the committed file,
so they carry the same library byte for byte; when the description changes, regenerate it
with scripts/update-typelib.sh.
"""
import re
import sys

# The stamp's text, and the same time as a number in the custom data entry that follows it.
STAMP = re.compile(rb"Created by WIDL version [^\n]*\n(?:WW\x13\x00.{4})?", re.DOTALL)


def masked(path):
    data = open(path, "rb").read()
    return STAMP.sub(lambda m: b"#" * len(m.group(0)), data)


committed, fresh = sys.argv[1], sys.argv[2]
if masked(committed) != masked(fresh):
    sys.exit(f"{committed} is not what QuorLib.idl compiles to: run scripts/update-typelib.sh")
print(f"{committed} matches QuorLib.idl")
