# SPDX-License-Identifier: MIT
"""Reads what a Windows program file carries besides its code: the link time in its header,
and its resources (application manifest, version information, icon groups). A small reader
of the PE format (as Microsoft's "PE Format" document describes it), enough for the packaging tests."""
import struct

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24


class PeFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError(f"{path}: not a program file (no MZ header)")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE signature")
        coff = pe + 4
        (self.machine, sections, self.time_date_stamp, _, _, optional_size,
         _) = struct.unpack_from("<HHIIIHH", d, coff)
        opt = coff + 20
        magic = struct.unpack_from("<H", d, opt)[0]
        directories = opt + (96 if magic == 0x10B else 112)   # PE32 / PE32+
        self.resource_rva, self.resource_size = struct.unpack_from("<II", d, directories + 2 * 8)
        self.sections = []
        for i in range(sections):
            s = opt + optional_size + 40 * i
            name = d[s:s + 8].rstrip(b"\0").decode("ascii", "replace")
            vsize, rva, raw_size, raw_ptr = struct.unpack_from("<IIII", d, s + 8)
            self.sections.append((name, rva, max(vsize, raw_size), raw_ptr))

    def offset(self, rva):
        for _, start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"address {rva:#x} is in no section")

    def resources(self):
        """{(type, name, language): bytes} for every resource (ids only; names as strings)."""
        out = {}
        if not self.resource_rva:
            return out
        base = self.offset(self.resource_rva)
        d = self.data

        def entries(table):
            named, ids = struct.unpack_from("<HH", d, base + table + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", d, base + table + 16 + 8 * i)
                if ident & 0x80000000:
                    p = base + (ident & 0x7FFFFFFF)
                    n = struct.unpack_from("<H", d, p)[0]
                    ident = d[p + 2:p + 2 + 2 * n].decode("utf-16-le")
                yield ident, target

        for rtype, t in entries(0):
            for name, n in entries(t & 0x7FFFFFFF):
                for lang, leaf in entries(n & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", d, base + leaf)
                    start = self.offset(rva)
                    out[(rtype, name, lang)] = d[start:start + size]
        return out

    def resource(self, rtype, name):
        found = [v for (t, n, _), v in self.resources().items() if t == rtype and n == name]
        return found[0] if found else None

    def resource_directory_time(self):
        if not self.resource_rva:
            return 0
        return struct.unpack_from("<I", self.data, self.offset(self.resource_rva) + 4)[0]


def _align4(n):
    return (n + 3) & ~3


def parse_version_info(blob):
    """The VS_VERSIONINFO resource as (fixed, strings): fixed holds the four numbers of the
    file and product versions; strings the StringFileInfo values of the first table."""
    def node(p):
        length, value_length, kind = struct.unpack_from("<HHH", blob, p)
        end_key = p + 6
        while blob[end_key:end_key + 2] != b"\0\0":
            end_key += 2
        key = blob[p + 6:end_key].decode("utf-16-le")
        value_at = _align4(end_key + 2)
        return length, value_length, kind, key, value_at

    length, value_length, _, key, value_at = node(0)
    if key != "VS_VERSION_INFO":
        raise ValueError(f"not a version resource: {key!r}")
    signature, _, ms, ls, pms, pls = struct.unpack_from("<IIIIII", blob, value_at)
    if signature != 0xFEEF04BD:
        raise ValueError("no VS_FIXEDFILEINFO")
    fixed = {"file": (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF),
             "product": (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF)}
    strings = {}
    p = _align4(value_at + value_length)
    while p < length:
        child_length, _, _, child_key, child_value = node(p)
        if child_key == "StringFileInfo":
            table = child_value
            table_length, _, _, _, q = node(table)
            while q < table + table_length:
                s_length, s_value_length, _, s_key, s_value = node(q)
                text = blob[s_value:s_value + 2 * s_value_length].decode("utf-16-le")
                strings[s_key] = text.rstrip("\0")
                q = _align4(q + s_length)
        p = _align4(p + child_length)
    return fixed, strings


def icon_group_sizes(blob):
    """Sizes (pixels) of the images of an RT_GROUP_ICON resource; 0 in the entry means 256."""
    _, _, count = struct.unpack_from("<HHH", blob, 0)
    sizes = []
    for i in range(count):
        width, height = struct.unpack_from("<BB", blob, 6 + 14 * i)
        sizes.append((width or 256, height or 256))
    return sizes
