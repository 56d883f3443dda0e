#!/usr/bin/env python3
"""Checks a built QuorLib.dll from its bytes alone, without running it.

usage: check-dll.py DLL DEF TLB {i386,amd64}

- the file is a DLL for the given processor;
- it exports exactly the names of the module definition DEF at its ordinals (plain names:
  clients and regsvr32 look them up by name, old tools by ordinal);
- its resource TYPELIB 1 is the committed type library TLB, byte for byte, so both DLLs
  describe the same interface.
"""
import re
import struct
import sys

MACHINES = {"i386": 0x14C, "amd64": 0x8664}


class PeFile:
    def __init__(self, path):
        self.data = open(path, "rb").read()
        pe = self.u32(0x3C)
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path} is not a PE file")
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", self.data, pe + 4)
        optional = pe + 24
        magic = self.u16(optional)
        directories = optional + (96 if magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i) for i in range(16)]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<IIII", self.data, table + 40 * i + 8) for i in range(sections)]

    def u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise ValueError(f"address {rva:#x} lies in no section")

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def exports(self):
        """{name: ordinal}"""
        rva, size = self.directories[0]
        if size == 0:
            return {}
        d = self.offset(rva)
        base, _, names, functions_rva, names_rva, ordinals_rva = struct.unpack_from("<IIIIII", self.data, d + 16)
        return {self.text(self.u32(self.offset(names_rva) + 4 * i)): base + self.u16(self.offset(ordinals_rva) + 2 * i)
                for i in range(names)}

    def resource(self, type_name, ident):
        """The bytes of resource type_name/ident (first language), or None."""
        root = self.offset(self.directories[2][0])

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, directory + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
                if name & 0x80000000:
                    at = root + (name & 0x7FFFFFFF)
                    name = self.data[at + 2:at + 2 + 2 * self.u16(at)].decode("utf-16-le")
                yield name, target

        def child(directory, key):
            for name, target in entries(directory):
                if name == key and target & 0x80000000:
                    return root + (target & 0x7FFFFFFF)
            return None

        by_id = child(root, type_name)
        languages = by_id and child(by_id, ident)
        if languages is None:
            return None
        _, entry = next(entries(languages))
        data_rva, size = struct.unpack_from("<II", self.data, root + entry)
        start = self.offset(data_rva)
        return self.data[start:start + size]


def expected_exports(def_path):
    exports = {}
    for line in open(def_path):
        m = re.match(r"\s*(\w+)\s+@(\d+)", line)
        if m:
            exports[m.group(1)] = int(m.group(2))
    return exports


def main():
    dll_path, def_path, tlb_path, machine = sys.argv[1:5]
    dll = PeFile(dll_path)
    problems = []
    if dll.machine != MACHINES[machine]:
        problems.append(f"machine {dll.machine:#x}, expected {machine} ({MACHINES[machine]:#x})")
    if not dll.characteristics & 0x2000:
        problems.append("not marked as a DLL")
    want, have = expected_exports(def_path), dll.exports()
    if have != want:
        problems.append(f"exports {sorted(have.items(), key=lambda e: e[1])}, expected "
                        f"{sorted(want.items(), key=lambda e: e[1])} as {def_path} lists them")
    typelib = dll.resource("TYPELIB", 1)
    if typelib is None:
        problems.append("no resource TYPELIB 1")
    elif typelib != open(tlb_path, "rb").read():
        problems.append(f"resource TYPELIB 1 differs from {tlb_path}")
    for p in problems:
        print(f"{dll_path}: {p}")
    if problems:
        sys.exit(1)
    print(f"{dll_path}: {machine} DLL, exports {', '.join(f'{n} @{o}' for n, o in sorted(want.items(), key=lambda e: e[1]))}, "
          f"type library as committed")


main()
