#!/usr/bin/env python3
"""Symbol data of our own exe: units (translation units and their address ranges), publics
(functions, demangled) and line tables, read from the linked exe's DWARF debug information with
binutils, written in the crash reporter's packed format (crashreport/symbols/SymbolData.h).

  gen_symbols.py EXE --prefix x86_64-w64-mingw32- --embed [--map] [--xun FILE] [--keep COPY]
  gen_symbols.py --prefix .. --embed --map --link -- LINK COMMAND -o EXE ...

--link runs as the build's linker launcher: it links, then works on the linked EXE (and keeps
the exe as linked as NAME.nosym.exe).

--embed adds the packed data to EXE as the resource "XUN"/"EXCEPT". The resource goes into a
new section behind all others with a new resource directory that also lists the old resources;
no byte of the existing sections moves or changes (the build checks this with objcopy).
--map writes the text map beside EXE. --keep saves EXE as it was before embedding.
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys

# ---- PE image


def align(value, to):
    return (value + to - 1) // to * to


class PeImage:
    def __init__(self, data):
        self.data = bytearray(data)
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError("no MZ header")
        self.nt = struct.unpack_from("<I", d, 0x3C)[0]
        if d[self.nt:self.nt + 4] != b"PE\0\0":
            raise ValueError("no PE header")
        self.nsections, = struct.unpack_from("<H", d, self.nt + 6)
        self.symtab, self.nsyms = struct.unpack_from("<II", d, self.nt + 12)
        self.optsize, = struct.unpack_from("<H", d, self.nt + 20)
        self.opt = self.nt + 24
        magic, = struct.unpack_from("<H", d, self.opt)
        self.is64 = magic == 0x20B
        if self.is64:
            self.image_base, = struct.unpack_from("<Q", d, self.opt + 24)
            self.datadir = self.opt + 112
        else:
            self.image_base, = struct.unpack_from("<I", d, self.opt + 28)
            self.datadir = self.opt + 96
        self.section_align, self.file_align = struct.unpack_from("<II", d, self.opt + 32)
        self.size_of_headers, = struct.unpack_from("<I", d, self.opt + 60)
        self.table = self.opt + self.optsize
        self.sections = []
        for i in range(self.nsections):
            off = self.table + 40 * i
            raw_name = bytes(d[off:off + 8]).rstrip(b"\0").decode("latin-1")
            vsize, rva, rawsize, rawptr = struct.unpack_from("<IIII", d, off + 8)
            flags, = struct.unpack_from("<I", d, off + 36)
            self.sections.append(dict(name=self.long_name(raw_name), vsize=vsize, rva=rva,
                                      rawsize=rawsize, rawptr=rawptr, flags=flags))

    def long_name(self, name):
        # "/123" names live in the COFF string table behind the symbol table.
        if name.startswith("/") and name[1:].isdigit() and self.symtab:
            at = self.symtab + 18 * self.nsyms + int(name[1:])
            end = self.data.index(b"\0", at)
            return bytes(self.data[at:end]).decode("latin-1")
        return name

    def section(self, name):
        return next((s for s in self.sections if s["name"] == name), None)

    def directory(self, index):
        return struct.unpack_from("<II", self.data, self.datadir + 8 * index)

    def rva_to_offset(self, rva):
        for s in self.sections:
            if s["rva"] <= rva < s["rva"] + max(s["vsize"], s["rawsize"]):
                return s["rawptr"] + rva - s["rva"]
        raise ValueError("RVA %#x outside the sections" % rva)

    # -- resources

    def read_resources(self):
        rva, size = self.directory(2)
        if not rva:
            return {}
        base = self.rva_to_offset(rva)
        d = self.data

        def name_of(value):
            if value & 0x80000000:
                at = base + (value & 0x7FFFFFFF)
                n, = struct.unpack_from("<H", d, at)
                return bytes(d[at + 2:at + 2 + 2 * n]).decode("utf-16-le")
            return value

        def read_dir(offset, depth):
            if depth > 3:
                raise ValueError("resource directory too deep")
            named, ids = struct.unpack_from("<HH", d, base + offset + 12)
            node = {}
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", d, base + offset + 16 + 8 * i)
                if target & 0x80000000:
                    node[name_of(name)] = read_dir(target & 0x7FFFFFFF, depth + 1)
                else:
                    node[name_of(name)] = struct.unpack_from("<III", d, base + target)
            return node

        return read_dir(0, 0)

    def add_resource_section(self, type_name, res_name, blob, section_name=b".xrsrc"):
        if any(s["name"] == section_name.decode() for s in self.sections):
            raise ValueError("the symbol data is embedded already")
        tree = self.read_resources()
        tree.setdefault(type_name, {})[res_name] = {0: None}  # language neutral; None: the new blob
        rva = align(max(s["rva"] + max(s["vsize"], s["rawsize"]) for s in self.sections), self.section_align)
        section = build_resource_section(tree, rva, blob)
        header_end = self.table + 40 * (self.nsections + 1)
        first_raw = min(s["rawptr"] for s in self.sections if s["rawptr"])
        if header_end > min(first_raw, self.size_of_headers):
            raise ValueError("no room for another section header")
        rawptr = align(len(self.data), self.file_align)
        rawsize = align(len(section), self.file_align)
        self.data += b"\0" * (rawptr - len(self.data))
        self.data += section + b"\0" * (rawsize - len(section))
        header = struct.pack("<8sIIIIIIHHI", section_name, len(section), rva, rawsize, rawptr,
                             0, 0, 0, 0, 0x40000040)  # initialised data, readable
        self.data[self.table + 40 * self.nsections:header_end] = header
        struct.pack_into("<H", self.data, self.nt + 6, self.nsections + 1)
        struct.pack_into("<I", self.data, self.opt + 56, align(rva + len(section), self.section_align))
        init_data, = struct.unpack_from("<I", self.data, self.opt + 8)
        struct.pack_into("<I", self.data, self.opt + 8, init_data + rawsize)
        struct.pack_into("<II", self.data, self.datadir + 8 * 2, rva, len(section))
        self.update_checksum()

    def update_checksum(self):
        at = self.opt + 64
        struct.pack_into("<I", self.data, at, 0)
        d = bytes(self.data) + b"\0" * (len(self.data) % 2)
        total = 0
        for (word,) in struct.iter_unpack("<H", d):
            total += word
            total = (total & 0xFFFF) + (total >> 16)
        struct.pack_into("<I", self.data, at, ((total & 0xFFFF) + len(self.data)) & 0xFFFFFFFF)


def build_resource_section(tree, rva, blob):
    """A complete resource directory for tree; leaves are (data RVA, size, code page) of
    existing resources, or None for blob."""
    def ordered(node):
        named = sorted((k for k in node if isinstance(k, str)), key=lambda k: k.upper().encode("utf-16-le"))
        ids = sorted(k for k in node if not isinstance(k, str))
        return named + ids

    dirs, leaves, names = [], [], []
    queue = [tree]
    while queue:  # breadth first: every directory before the leaves
        node = queue.pop(0)
        dirs.append(node)
        for key in ordered(node):
            child = node[key]
            if isinstance(child, dict):
                queue.append(child)
            else:
                leaves.append((id(node), key))
            if isinstance(key, str) and key not in names:
                names.append(key)
    offsets, pos = {}, 0
    for node in dirs:
        offsets[id(node)] = pos
        pos += 16 + 8 * len(node)
    leaf_offsets = {}
    for leaf in leaves:
        leaf_offsets[leaf] = pos
        pos += 16
    name_offsets = {}
    for name in names:
        name_offsets[name] = pos
        pos += 2 + 2 * len(name)
    blob_offset = align(pos, 8)

    out = bytearray(blob_offset + len(blob))
    for node in dirs:
        keys = ordered(node)
        at = offsets[id(node)]
        struct.pack_into("<IIHHHH", out, at, 0, 0, 4, 0, sum(isinstance(k, str) for k in keys),
                         sum(not isinstance(k, str) for k in keys))
        for i, key in enumerate(keys):
            child = node[key]
            name = (0x80000000 | name_offsets[key]) if isinstance(key, str) else key
            target = (0x80000000 | offsets[id(child)]) if isinstance(child, dict) else leaf_offsets[(id(node), key)]
            struct.pack_into("<II", out, at + 16 + 8 * i, name, target)
            if not isinstance(child, dict):
                data_rva, size, codepage = (rva + blob_offset, len(blob), 0) if child is None else child
                struct.pack_into("<IIII", out, leaf_offsets[(id(node), key)], data_rva, size, codepage, 0)
    for name, at in name_offsets.items():
        encoded = name.encode("utf-16-le")
        struct.pack_into("<H", out, at, len(name))
        out[at + 2:at + 2 + len(encoded)] = encoded
    out[blob_offset:] = blob
    return bytes(out)


# ---- reading the debug information


def run(args):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, text=True, errors="replace").stdout


def unit_name(path):
    return re.sub(r"\s", "_", os.path.splitext(os.path.basename(path.replace("\\", "/")))[0])


def read_units(prefix, exe):
    """{debug info offset: CU path} and {debug info offset: [(address, length)]}."""
    names, offset = {}, None
    for line in run([prefix + "objdump", "--dwarf=info", "--dwarf-depth=1", exe]).splitlines():
        m = re.match(r"\s*Compilation Unit @ offset (0x[0-9a-f]+|\d+):", line)
        if m:
            offset = int(m.group(1), 0)
        elif offset is not None and "DW_AT_name" in line and offset not in names:
            names[offset] = line.split(": ")[-1].strip()
    ranges, offset = {}, None
    for line in run([prefix + "objdump", "--dwarf=aranges", exe]).splitlines():
        m = re.match(r"\s*Offset into \.debug_info:\s*(0x[0-9a-f]+|\d+)", line)
        if m:
            offset = int(m.group(1), 0)
            continue
        m = re.match(r"\s*([0-9a-f]{8,16})\s+([0-9a-f]{8,16})\s*$", line)
        if m and offset is not None:
            start, length = int(m.group(1), 16), int(m.group(2), 16)
            if start and length:
                ranges.setdefault(offset, []).append((start, length))
    return names, ranges


def read_lines(prefix, exe):
    """[(unit, address, line)] for the rows of each unit's own source file."""
    rows, unit, own = [], None, None
    row = re.compile(r"^(\S+)\s+(\d+)\s+(0x[0-9a-f]+)\b")
    for line in run([prefix + "objdump", "--wide", "--dwarf=decodedline", exe]).splitlines():
        if line.startswith("CU: "):
            path = line[4:].rstrip(":")
            unit, own = unit_name(path), os.path.basename(path)
            continue
        m = row.match(line)
        if m and unit and m.group(1) == own:
            rows.append((unit, int(m.group(3), 16), int(m.group(2))))
    return rows


def plain_name(raw, name, is32):
    """Without the 32-bit decorations: the C underscore and the stdcall "@n"."""
    if is32 and name == raw and name.startswith("_"):
        name = name[1:]
    return re.sub(r"@\d+(?=$|\.)", "", name) if is32 else name


def read_publics(prefix, exe, is32):
    """[(address, demangled name)] of the functions."""
    symbols = []
    for line in run([prefix + "nm", "--defined-only", exe]).splitlines():
        parts = line.split(None, 2)
        if len(parts) != 3 or parts[1] not in "Tt":
            continue
        name = parts[2]
        # A static function of a library built without local symbols keeps only its section's
        # name (".text$execute_native_thread_routine"): better than the function in front of it.
        if name.startswith(".text$") and len(name) > 6:
            name = name[6:]
        elif name.startswith("."):
            continue
        symbols.append((int(parts[0], 16), parts[1] == "T", name))
    demangled = subprocess.run([prefix + "c++filt", "--no-params"], input="\n".join(s[2] for s in symbols) + "\n",
                               check=True, stdout=subprocess.PIPE, text=True, errors="replace").stdout.splitlines()
    best = {}
    for (address, is_global, raw), name in zip(symbols, demangled):
        name = plain_name(raw, name, is32)
        # The same code under several names (constructor variants, aliases): global, then short.
        key = (not is_global, len(name), name)
        if address not in best or key < best[address][0]:
            best[address] = (key, name)
    return sorted((a, v[1]) for a, v in best.items())


def collect(prefix, exe, pe):
    text = pe.section(".text")
    code_lo, code_hi = pe.image_base + text["rva"], pe.image_base + text["rva"] + text["vsize"]

    def rva(address):
        return address - pe.image_base

    names, ranges = read_units(prefix, exe)
    units, unit_index, segments = [], {}, []

    def unit_of(name):
        if name not in unit_index:
            unit_index[name] = len(units)
            units.append(name)
        return unit_index[name]

    for offset, spans in ranges.items():
        if offset not in names:
            continue
        u = unit_of(unit_name(names[offset]))
        for start, length in spans:
            if code_lo <= start < code_hi:
                segments.append((rva(start), min(length, code_hi - start), u))
    segments.sort()

    publics = [(rva(a), n) for a, n in read_publics(prefix, exe, not pe.is64) if code_lo <= a < code_hi]

    lines, last = [], {}
    for unit, address, line in read_lines(prefix, exe):
        if not code_lo <= address < code_hi:
            continue
        last[(address, unit)] = line  # the last row at an address is the statement that runs there
    previous = {}
    for (address, unit), line in sorted(last.items()):
        if previous.get(unit) == line:
            continue  # same line continues
        previous[unit] = line
        lines.append((address - pe.image_base, line, unit_of(unit)))
    return dict(units=units, segments=segments, publics=publics, lines=lines,
                code_base=text["rva"], code_size=text["vsize"])


# ---- the packed format (crashreport/symbols/SymbolData.h)


def fnv(data, h=0x811C9DC5):
    for b in data:
        h = ((h ^ b) * 0x01000193) & 0xFFFFFFFF
    return h


def symbol_key():
    return fnv(b"Zembrak stones fall in line\0") ^ 0x5EED1E55


def cipher(data, nonce):
    state = symbol_key() ^ nonce or 0x9E3779B9
    out = bytearray(data)
    for i in range(len(out)):
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        out[i] ^= state >> 24
    return bytes(out)


def packed_int(out, v):
    while v >= 0x80:
        out.append((v & 0x7F) | 0x80)
        v >>= 7
    out.append(v)


def packed_string(out, s):
    b = s.encode("utf-8")
    packed_int(out, len(b))
    out += b


def pack(symbols):
    out = bytearray()
    packed_int(out, len(symbols["units"]))
    for u in symbols["units"]:
        packed_string(out, u)
    packed_int(out, len(symbols["segments"]))
    prev = 0
    for start, length, unit in symbols["segments"]:
        for v in (start - prev, length, unit, 0):
            packed_int(out, v)
        prev = start
    packed_int(out, len(symbols["publics"]))
    prev, last = 0, b""
    for address, name in symbols["publics"]:
        b = name.encode("utf-8")[:2048]
        shared = 0
        while shared < min(len(b), len(last)) and b[shared] == last[shared]:
            shared += 1
        packed_int(out, address - prev)
        packed_int(out, shared)
        packed_int(out, len(b) - shared)
        out += b[shared:]
        prev, last = address, b
    packed_int(out, len(symbols["lines"]))
    prev, prev_line, prev_unit = 0, 0, -1
    for address, line, unit in symbols["lines"]:
        delta = line - prev_line
        packed_int(out, address - prev)
        packed_int(out, delta * 2 if delta >= 0 else -delta * 2 - 1)  # zig-zag
        packed_int(out, 0 if unit == prev_unit else unit + 1)
        prev, prev_line, prev_unit = address, line, unit
    payload = bytes(out)
    check = fnv(payload)
    nonce = check | 1
    return b"XUNS" + bytes([1, 0, 0, 0]) + struct.pack("<III", nonce, len(payload), check) + cipher(payload, nonce)


def text_map(symbols):
    """The text map: one code segment (.text) whose offsets count from its start."""
    base = symbols["code_base"]
    units = symbols["units"]
    out = ["", " Start         Length     Name                   Class",
           " 0001:%08X %08XH .text                   CODE" % (base, symbols["code_size"]), "",
           "Detailed map of segments", ""]
    for start, length, unit in symbols["segments"]:
        out.append(" 0001:%08X %08X C=CODE     S=.text    G=(none)   M=%-10s ACBP=A9" % (start - base, length, units[unit]))
    out += ["", "", "  Address         Publics by Value", ""]
    for address, name in symbols["publics"]:
        out.append(" 0001:%08X       %s" % (address - base, name.replace("\n", " ")))
    by_unit = {}
    for address, line, unit in symbols["lines"]:
        by_unit.setdefault(unit, []).append((line, address))
    for unit, pairs in sorted(by_unit.items()):
        out += ["", "Line numbers for %s(%s) segment .text" % (units[unit], units[unit]), ""]
        for i in range(0, len(pairs), 4):
            out.append("".join("%6d 0001:%08X" % (line, address - base) for line, address in pairs[i:i + 4]))
    out.append("")
    return "\r\n".join(out) + "\r\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe", nargs="?")
    parser.add_argument("--prefix", default="", help="binutils prefix, e.g. i686-w64-mingw32-")
    parser.add_argument("--embed", action="store_true", help='add the data as resource "XUN"/"EXCEPT"')
    parser.add_argument("--map", action="store_true", help="write the text map beside the exe")
    parser.add_argument("--xun", help="write the packed data to this file")
    parser.add_argument("--keep", help="copy of the exe as linked, before embedding")
    parser.add_argument("--link", action="store_true", help="link first: the link command follows --")
    argv = sys.argv[1:]
    command = argv[argv.index("--") + 1:] if "--" in argv else []
    args = parser.parse_args(argv[:len(argv) - len(command) - (1 if command else 0)])
    if args.link:
        rc = subprocess.call(command)
        if rc != 0 or "-o" not in command:
            sys.exit(rc)
        args.exe = command[command.index("-o") + 1]
        args.keep = os.path.splitext(args.exe)[0] + ".nosym.exe"
    if not args.exe:
        parser.error("no exe given")

    with open(args.exe, "rb") as f:
        pe = PeImage(f.read())
    symbols = collect(args.prefix, args.exe, pe)
    blob = pack(symbols)
    if args.xun:
        with open(args.xun, "wb") as f:
            f.write(blob)
    if args.map:
        with open(os.path.splitext(args.exe)[0] + ".map", "w", newline="") as f:
            f.write(text_map(symbols))
    if args.embed:
        if args.keep:
            shutil.copyfile(args.exe, args.keep)
        pe.add_resource_section("XUN", "EXCEPT", blob)
        temp = args.exe + ".tmp"
        with open(temp, "wb") as f:
            f.write(pe.data)
        shutil.copymode(args.exe, temp)
        os.replace(temp, args.exe)
    print("%s: %d units, %d segments, %d functions, %d lines, %d bytes packed" % (
        os.path.basename(args.exe), len(symbols["units"]), len(symbols["segments"]), len(symbols["publics"]),
        len(symbols["lines"]), len(blob)))


if __name__ == "__main__":
    try:
        main()
    except (ValueError, OSError, subprocess.CalledProcessError) as e:
        sys.exit("gen_symbols: %s" % e)
