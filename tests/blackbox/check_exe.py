#!/usr/bin/env python3
"""Checks what Chimelet.exe is made of, from the file alone (no Wine needed):

- a Windows GUI program of the build's machine (i386, or x86-64 for the 64-bit test build);
- no NX_COMPAT: the flag would force DEP on the process, and so on the Java VM in it;
- imports from system DLLs only;
- the icon group ICON_1 holds 16x16, 20x20, 24x24 and 32x32 images, each present.

    check_exe.py Chimelet.exe
"""

import struct
import sys

MACHINES = {0x14C: "i386", 0x8664: "x86-64"}
NX_COMPAT = 0x0100
SUBSYSTEM_GUI = 2
SYSTEM_DLLS = {"advapi32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll"}
RT_ICON, RT_GROUP_ICON = 3, 14
ICON_SIZES = [16, 20, 24, 32]


class Pe:
    def __init__(self, data):
        self.data = data
        pe = self.u32(0x3C)
        if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        self.machine, sections = struct.unpack_from("<HH", data, pe + 4)
        optional_size = self.u16(pe + 20)
        opt = pe + 24
        magic = self.u16(opt)
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
        directories = opt + (96 if magic == 0x10B else 112)
        self.dirs = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        table = opt + optional_size
        self.sections = [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(sections)]

    def u16(self, at):
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at):
        return struct.unpack_from("<I", self.data, at)[0]

    def offset(self, rva):
        for size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError("RVA 0x%x in no section" % rva)

    def cstring(self, at):
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1")

    def imports(self):
        rva = self.dirs[1][0]
        names, at = [], self.offset(rva)
        while self.u32(at + 12):
            names.append(self.cstring(self.offset(self.u32(at + 12))))
            at += 20
        return names

    def resource(self, kind, name):
        """{language: bytes} of the resource of that type and name (an int or a string)."""
        base = self.offset(self.dirs[2][0])

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                key, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                if key & 0x80000000:
                    at = base + (key & 0x7FFFFFFF)
                    key = self.data[at + 2:at + 2 + 2 * self.u16(at)].decode("utf-16-le")
                yield key, target

        def find(directory, wanted):
            for key, target in entries(directory):
                if key == wanted:
                    return target & 0x7FFFFFFF
            raise KeyError("no resource %r" % (wanted,))

        names = find(0, kind)
        languages = find(names, name)
        found = {}
        for language, leaf in entries(languages):
            rva, size = struct.unpack_from("<II", self.data, base + leaf)
            found[language] = self.data[self.offset(rva):self.offset(rva) + size]
        return found


def check(path):
    pe = Pe(open(path, "rb").read())
    problems = []
    if pe.machine not in MACHINES:
        problems.append("machine 0x%x is neither i386 nor x86-64" % pe.machine)
    if pe.subsystem != SUBSYSTEM_GUI:
        problems.append("subsystem %d, not a GUI program" % pe.subsystem)
    if pe.dll_characteristics & NX_COMPAT:
        problems.append("NX_COMPAT is set (DllCharacteristics 0x%04x)" % pe.dll_characteristics)
    foreign = [dll for dll in pe.imports() if dll.lower() not in SYSTEM_DLLS]
    if foreign:
        problems.append("imports from non-system DLLs: %s" % ", ".join(foreign))

    for language, group in pe.resource(RT_GROUP_ICON, "ICON_1").items():
        count = struct.unpack_from("<H", group, 4)[0]
        sizes = []
        for i in range(count):
            width, height = group[6 + 14 * i], group[7 + 14 * i]
            image_id = struct.unpack_from("<H", group, 6 + 14 * i + 12)[0]
            image = list(pe.resource(RT_ICON, image_id).values())[0]
            dib_width, dib_height = struct.unpack_from("<ii", image, 4)
            if (dib_width, dib_height) != (width or 256, 2 * (height or 256)):
                problems.append("ICON_1 image %d is %dx%d, its entry says %dx%d"
                                % (image_id, dib_width, dib_height // 2, width, height))
            sizes.append(width)
        if sorted(sizes) != ICON_SIZES:
            problems.append("ICON_1 (language %s) holds sizes %s, not %s" % (language, sorted(sizes), ICON_SIZES))

    print("%s: %s GUI program, DllCharacteristics 0x%04x, imports %s"
          % (path, MACHINES.get(pe.machine, "?"), pe.dll_characteristics, " ".join(pe.imports())))
    for problem in problems:
        print("FAILED: " + problem)
    return not problems


if __name__ == "__main__":
    sys.exit(0 if check(sys.argv[1]) else 1)
