#!/usr/bin/env python3
"""Checks what Dorvane_Tool.exe carries besides its code, read straight from the PE file:

  - the GUI subsystem (2), so Windows starts it at logon without a console;
  - icon group 101: one image, 32 x 32 pixels in 16 colours, whose icon resource is a
    32 x 32 (x 2 for the mask) bitmap of 4 bits per pixel;
  - a version record with file and product version 2.0.694 (fixed part and texts) and the
    description "Dorvane Power Management Tool".

Usage: check-resources.py PROGRAM.exe      Python 3 standard library only.
Prints one line per check; exits 1 when any failed, 2 when the file cannot be read as a PE.
"""

import struct
import sys

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2


class NotAPe(Exception):
    pass


class PeFile:
    """The headers, sections and resource tree of one PE image (32- or 64-bit)."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise NotAPe("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise NotAPe("no PE signature")
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic not in (0x10B, 0x20B):
            raise NotAPe("unknown optional header magic 0x%x" % magic)
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        self.resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from(
                "<IIII", data, table + 40 * i + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset))

    def offset_of(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise NotAPe("address 0x%x lies in no section" % rva)

    def resources(self):
        """Every resource as {(type, name, language): bytes}; numbers for numeric ids."""
        found = {}
        if self.resource_rva == 0:
            return found
        base = self.offset_of(self.resource_rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<12xHH", self.data, base + directory)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                if name & 0x80000000:
                    at = base + (name & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    name = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield name, target

        for kind, level1 in entries(0):
            for name, level2 in entries(level1 & 0x7FFFFFFF):
                for language, leaf in entries(level2 & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    at = self.offset_of(rva)
                    found[(kind, name, language)] = self.data[at:at + size]
        return found


def resource(resources, kind, name):
    """The one resource of that type and id, whatever its language, or None."""
    matches = [data for (k, n, _), data in resources.items() if k == kind and n == name]
    return matches[0] if len(matches) == 1 else None


def version_tree(data, at=0):
    """One node of a version record: (key, value bytes, value is text, children)."""
    length, value_length, is_text = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    value_size = value_length * 2 if is_text else value_length
    value = data[value_at:value_at + value_size]
    children = []
    child = (value_at + value_size + 3) & ~3
    while child < end:
        node = version_tree(data, child)
        children.append(node)
        child = (child + struct.unpack_from("<H", data, child)[0] + 3) & ~3
    return key, value, bool(is_text), children


def version_texts(root):
    """The texts of every string table of a version record, by name."""
    texts = {}
    for key, _, _, tables in root[3]:
        if key != "StringFileInfo":
            continue
        for _, _, _, strings in tables:
            for name, value, _, _ in strings:
                texts[name] = value.decode("utf-16-le").rstrip("\0")
    return texts


def check_program(path):
    """Runs every check; answers a list of (passed, description)."""
    with open(path, "rb") as f:
        pe = PeFile(f.read())
    results = []

    def check(passed, what):
        results.append((bool(passed), what))

    check(pe.subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI,
          "subsystem is the GUI (2), found %d" % pe.subsystem)
    resources = pe.resources()

    group = resource(resources, RT_GROUP_ICON, 101)
    check(group is not None, "icon group 101 is present once")
    if group is not None:
        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        check((reserved, kind, count) == (0, 1, 1),
              "icon group 101 holds one icon image, found %d" % count)
        if count >= 1:
            width, height, colours, _, planes, bits, size, image_id = struct.unpack_from(
                "<BBBBHHIH", group, 6)
            check((width, height, colours, bits) == (32, 32, 16, 4),
                  "icon group 101 lists 32 x 32 in 16 colours (4 bits), found %d x %d, %d "
                  "colours, %d bits" % (width, height, colours, bits))
            image = resource(resources, RT_ICON, image_id)
            check(image is not None and len(image) == size,
                  "icon image %d is present with the size its group gives" % image_id)
            if image is not None and len(image) >= 40:
                header, bmp_width, bmp_height, _, bmp_bits = struct.unpack_from(
                    "<IiiHH", image, 0)
                check((header, bmp_width, bmp_height, bmp_bits) == (40, 32, 64, 4),
                      "icon image %d is a 32 x 32 bitmap of 4 bits per pixel, found %d x %d "
                      "(with mask), %d bits" % (image_id, bmp_width, bmp_height, bmp_bits))

    record = resource(resources, RT_VERSION, 1)
    check(record is not None, "version record 1 is present once")
    if record is not None:
        root = version_tree(record)
        check(root[0] == "VS_VERSION_INFO", "version record is VS_VERSION_INFO")
        fixed = root[1]
        if len(fixed) >= 24:
            signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from(
                "<6I", fixed, 0)
            check(signature == 0xFEEF04BD, "fixed version part carries its signature")
            expected = (2 << 16, 694 << 16)
            check((file_ms, file_ls) == expected, "file version is 2.0.694.0, found %d.%d.%d.%d"
                  % (file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16, file_ls & 0xFFFF))
            check((product_ms, product_ls) == expected,
                  "product version is 2.0.694.0, found %d.%d.%d.%d"
                  % (product_ms >> 16, product_ms & 0xFFFF, product_ls >> 16,
                     product_ls & 0xFFFF))
        else:
            check(False, "version record has a fixed part")
        texts = version_texts(root)
        for name, value in (("FileDescription", "Dorvane Power Management Tool"),
                            ("FileVersion", "2.0.694"), ("ProductVersion", "2.0.694")):
            check(texts.get(name) == value,
                  "%s is %r, found %r" % (name, value, texts.get(name)))
    return results


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-2], file=sys.stderr)
        return 2
    try:
        results = check_program(argv[1])
    except (OSError, NotAPe, struct.error) as e:
        print("FAIL: %s cannot be read as a PE file: %s" % (argv[1], e))
        return 2
    for passed, what in results:
        print("%s: %s" % ("ok" if passed else "FAIL", what))
    failed = sum(1 for passed, _ in results if not passed)
    print("%d checks passed, %d failed" % (len(results) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
