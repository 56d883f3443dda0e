#!/usr/bin/env python3
"""Checks a built QuorLib.dll from its bytes alone, without running it.

usage: check-dll.py DLL DEF TLB {i386,amd64} VERSION DESCRIPTION

- the file is a DLL for the given processor;
- it exports exactly the names of the module definition DEF at its ordinals (plain names:
  clients and regsvr32 look them up by name, old tools by ordinal);
- its resource TYPELIB 1 is the committed type library TLB, byte for byte, so both DLLs
  describe the same interface;
- its version resource carries VERSION (the project's, e.g. 1.1.0) as file and product
  version, both in the fixed part that Windows compares and in the text Explorer shows,
  with the product name, the DESCRIPTION of this bitness and a copyright line.
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


def version_blocks(data, at=0):
    """The VS_VERSIONINFO tree at data[at:]: (key, value bytes, [children])."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    cursor = (key_end + 2 + 3) & ~3
    # The value's length counts characters for text values (type 1), bytes otherwise.
    value_size = value_length * 2 if kind == 1 else value_length
    value = data[cursor:cursor + value_size]
    cursor = (cursor + value_size + 3) & ~3
    children = []
    while cursor < end:
        child = version_blocks(data, cursor)
        children.append(child[:3])
        cursor = (cursor + child[3] + 3) & ~3
    return key, value, children, length


def version_info(dll):
    """(file version, product version, {string name: text}) of resource VERSION 1, or None."""
    data = dll.resource(16, 1)
    if data is None:
        return None
    key, fixed, children, _ = version_blocks(data)
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIIIII", fixed)
    if key != "VS_VERSION_INFO" or signature != 0xFEEF04BD:
        return None

    def dotted(ms, ls):
        return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"

    strings = {}
    for name, _, tables in children:
        if name == "StringFileInfo":
            for _, _, entries in tables:
                for entry, text, _ in entries:
                    strings[entry] = text.decode("utf-16-le").rstrip("\0")
    return dotted(file_ms, file_ls), dotted(product_ms, product_ls), strings


def version_problems(dll, version, description):
    info = version_info(dll)
    if info is None:
        return ["no version resource (VERSION 1 with VS_VERSION_INFO)"]
    fixed_file, fixed_product, strings = info
    numbers = (version.split(".") + ["0", "0", "0"])[:4]
    want_fixed = ".".join(numbers)
    problems = []
    if (fixed_file, fixed_product) != (want_fixed, want_fixed):
        problems.append(f"fixed file/product version {fixed_file}/{fixed_product}, expected {want_fixed}")
    want = {"FileVersion": version, "ProductVersion": version, "ProductName": "QuorLib",
            "FileDescription": description, "OriginalFilename": "QuorLib.dll"}
    for name, text in want.items():
        if strings.get(name) != text:
            problems.append(f"version text {name} is {strings.get(name)!r}, expected {text!r}")
    if not strings.get("LegalCopyright", "").startswith("Copyright"):
        problems.append(f"no copyright line (LegalCopyright is {strings.get('LegalCopyright')!r})")
    return problems


def expected_exports(def_path):
    exports = {}
    for line in open(def_path):
        m = re.match(r"\s*(\w+)\s+@(\d+)", line)
        if m:
            exports[m.group(1)] = int(m.group(2))
    return exports


def main():
    dll_path, def_path, tlb_path, machine, version, description = sys.argv[1:7]
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
    problems += version_problems(dll, version, description)
    for p in problems:
        print(f"{dll_path}: {p}")
    if problems:
        sys.exit(1)
    print(f"{dll_path}: {machine} DLL, exports {', '.join(f'{n} @{o}' for n, o in sorted(want.items(), key=lambda e: e[1]))}, "
          f"type library as committed, version {version}")


main()
