#!/usr/bin/env python3
"""Generates the decoder's opcode tables (C++ include) from crashreport/x86/x86-opcodes.txt.

Usage: gen_x86_tables.py INPUT OUTPUT

Every opcode of the four maps (one-byte, 0F, 0F 38, 0F 3A) becomes a small decision tree per
mode (32-bit, 64-bit): mandatory prefix -> ModR/M mod -> reg -> rm -> operand size -> address
size -> leaf. A level appears only where some entry of that opcode depends on it. The two modes
share leaves and nodes; entries marked i64 or only64 exist in one of them.
"""
import sys

# Operand kinds; the order is the enum order in the generated file.
OPERANDS = [
    "Eb", "Ew", "Ed", "Ev", "Edw", "Edb", "Gb", "Gw", "Gd", "Gv", "Rv", "Rd", "Sw", "Cd", "Dd",
    "M", "Mb", "Mw", "Md", "Mq", "Mt", "Mx", "Mp", "Ma", "Mv",
    "Ib", "Ibs", "Iw", "Iz", "Iv", "Jb", "Jz", "Ap", "Ob", "Ov",
    "Xb", "Xv", "Yb", "Yv", "Zb", "Zv", "Zd",
    "Pq", "Qq", "Qd", "Nq", "Vx", "Wx", "Wq", "Wd", "Ww", "Ux",
    "ST", "STi", "1",
    "al", "cl", "dx", "ax", "eAX", "eCX", "eDX", "eBX", "eSP", "eBP", "eSI", "eDI",
    "es", "cs", "ss", "ds", "fs", "gs", "xmm0",
    "Ey", "Gy", "Eq", "Gq", "My", "Zy",
]
FLAGS = ["call", "jmp", "jcc", "ret", "str", "forcereg", "d64"]
# Immediate kinds: 0 none, 1 byte, 2 word, 3 operand size (2/4), 4 far pointer (opsize + 2), 5 moffs (address
# size), 6 full operand size (2/4/8: mov reg, imm64)
IMM_KIND = {"Ib": 1, "Ibs": 1, "Iw": 2, "Iz": 3, "Iv": 6, "Jb": 1, "Jz": 3, "Ap": 4, "Ob": 5, "Ov": 5}
CC = ["o", "no", "b", "ae", "e", "ne", "be", "a", "s", "ns", "p", "np", "l", "ge", "le", "g"]
PFX = {"none": 0, "66": 1, "F3": 2, "F2": 3}
MAPS = {(): 0, ("0F",): 1, ("0F", "38"): 2, ("0F", "3A"): 3}

# Node kinds (must match DecoderTables.h)
K_EMPTY, K_LEAF, K_PREFIX, K_MOD, K_REG, K_RM, K_OPSIZE, K_ADSIZE = range(8)


class Entry:
    def __init__(self, line_no, mnemonic, operands, flags, cond):
        self.line_no = line_no
        self.mnemonic = mnemonic
        self.operands = operands
        self.flags = flags
        self.cond = cond  # dict: pfx, mod, reg, rm, os, as
        self.modrm = False
        self.modes = (32, 64)


def fail(line_no, msg):
    sys.exit(f"x86-opcodes.txt:{line_no}: {msg}")


def expand_macros(line_no, text):
    words = text.split()
    if words[0] == "alu":
        op, name = int(words[1], 16), words[2]
        forms = ["/r : {} Eb,Gb", "/r : {} Ev,Gv", "/r : {} Gb,Eb", "/r : {} Gv,Ev", ": {} al,Ib", ": {} eAX,Iz"]
        return [f"{op + i:02X} " + f.format(name) for i, f in enumerate(forms)]
    if words[0] in ("mmx", "sse"):
        ops = " ".join(words[1:-1])
        name = words[-1]
        if words[0] == "mmx":
            return [f"{ops} /r : {name} Pq,Qq", f"66 {ops} /r : {name} Vx,Wx"]
        return [f"{ops} /r : {name}ps Vx,Wx", f"66 {ops} /r : {name}pd Vx,Wx",
                f"F3 {ops} /r : {name}ss Vx,Wd", f"F2 {ops} /r : {name}sd Vx,Wq"]
    return [text]


def parse(path):
    entries = {}  # (map, opcode) -> [Entry]
    for line_no, raw in enumerate(open(path, encoding="ascii"), 1):
        text = raw.split("#", 1)[0].strip()
        if not text:
            continue
        for line in expand_macros(line_no, text):
            parse_line(line_no, line, entries)
    return entries


def parse_line(line_no, line, entries):
    if ":" not in line:
        fail(line_no, "missing ':'")
    left, right = line.split(":", 1)
    flags = []
    if "|" in right:
        right, flag_text = right.split("|", 1)
        flags = flag_text.split()
        for f in flags:
            if f not in FLAGS:
                fail(line_no, f"unknown flag {f}")
    right_words = right.split()
    if not right_words:
        fail(line_no, "missing mnemonic")
    mnemonic = right_words[0]
    operands = right_words[1].split(",") if len(right_words) > 1 else []
    if len(right_words) > 2:
        fail(line_no, "operands must be separated by commas without blanks")
    for o in operands:
        if o not in OPERANDS:
            fail(line_no, f"unknown operand {o}")
    # Operands taken from the ModR/M byte imply it.
    implied_modrm = any(o[0] in "EGMRSCDPQNVWU" or o == "STi" for o in operands if o not in ("eAX", "eCX", "eDX", "eBX", "eSP", "eBP", "eSI", "eDI"))
    if len(operands) > 3:
        fail(line_no, "at most three operands")

    words = left.split()
    pfx = None
    if words and words[0] in ("66", "F3", "F2") and len(words) > 1 and (words[1] == "0F" or len(words[1]) == 2):
        pfx = words.pop(0)
    map_bytes = []
    while words and words[0] == "0F" and not map_bytes:
        map_bytes.append(words.pop(0))
        if words and words[0] in ("38", "3A") and len(words) > 1 and is_hex(words[1]):
            map_bytes.append(words.pop(0))
    if not words or not is_hex(words[0]):
        fail(line_no, "missing opcode")
    opcode = int(words.pop(0), 16)
    cond = {"pfx": PFX[pfx] if pfx else None, "mod": None, "reg": None, "rm": None, "os": None, "as": None}
    modes = (32, 64)
    modrm = implied_modrm
    count, names = 1, None
    for w in words:
        if w == "+r":
            count = 8
        elif w == "+cc":
            count = 16
        elif w == "/r":
            modrm = True
        elif w == "/*":
            modrm = True
            names = mnemonic.split(",")
            if len(names) != 8:
                fail(line_no, "/* needs eight mnemonics")
        elif w.startswith("/") and w[1:].isdigit():
            modrm = True
            cond["reg"] = int(w[1:])
        elif w == "m":
            modrm = True
            cond["mod"] = 0
        elif w == "r":
            modrm = True
            cond["mod"] = 1
        elif w.startswith("rm") and w[2:].isdigit():
            modrm = True
            cond["mod"] = 1
            cond["rm"] = int(w[2:])
        elif w in ("o16", "o32", "o64"):
            cond["os"] = ("o16", "o32", "o64").index(w)
        elif w in ("a16", "a32", "a64"):
            cond["as"] = ("a16", "a32", "a64").index(w)
        elif w == "i64":
            modes = (32,)
        elif w == "only64":
            modes = (64,)
        else:
            fail(line_no, f"unknown token {w}")
    map_id = MAPS.get(tuple(map_bytes))
    if map_id is None:
        fail(line_no, "unknown opcode map")
    variants = []
    if names:
        for reg, name in enumerate(names):
            if name != "-":
                c = dict(cond)
                c["reg"] = reg
                variants.append((opcode, name, c))
    else:
        for i in range(count):
            name = mnemonic.replace("%cc", CC[i]) if count == 16 else mnemonic
            variants.append((opcode + i, name, dict(cond)))
    for op, name, c in variants:
        if op > 0xFF:
            fail(line_no, "opcode out of range")
        e = Entry(line_no, name, operands, flags, c)
        e.modrm = modrm
        # REX.W and 64-bit addresses exist only in 64-bit mode.
        e.modes = tuple(m for m in modes if m == 64 or (c["os"] != 2 and c["as"] != 2))
        entries.setdefault((map_id, op), []).append(e)


def is_hex(w):
    return len(w) == 2 and all(ch in "0123456789ABCDEF" for ch in w)


LEVELS = [("pfx", K_PREFIX, 4), ("mod", K_MOD, 2), ("reg", K_REG, 8), ("rm", K_RM, 8), ("os", K_OPSIZE, 3),
          ("as", K_ADSIZE, 3)]


class Builder:
    def __init__(self):
        self.leaves = []  # (mnemonic, operands, flags)
        self.leaf_index = {}
        self.children = []  # flat array of (kind, index)
        self.mnemonics = {}

    def leaf(self, e):
        flags = list(e.flags)
        key = (e.mnemonic, tuple(e.operands), tuple(flags))
        if key not in self.leaf_index:
            self.leaf_index[key] = len(self.leaves)
            self.leaves.append(key)
            self.mnemonics.setdefault(e.mnemonic, None)
        return (K_LEAF, self.leaf_index[key])

    def build(self, entries, mode, level=0):
        if not entries:
            return (K_EMPTY, 0)
        while level < len(LEVELS):
            name, kind, n = LEVELS[level]
            if any(e.cond[name] is not None for e in entries):
                break
            level += 1
        if level == len(LEVELS):
            if len(entries) > 1:
                lines = ", ".join(str(e.line_no) for e in entries)
                sys.exit(f"x86-opcodes.txt: ambiguous entries on lines {lines}")
            return self.leaf(entries[0])
        name, kind, n = LEVELS[level]
        subs = []
        for value in range(n):
            specific = [e for e in entries if e.cond[name] == value]
            if name == "os" and value == 1 and mode == 64:
                # Without REX.W and 66 these take their 64-bit form.
                specific += [e for e in entries if e.cond[name] == 2 and "d64" in e.flags]
            generic = [e for e in entries if e.cond[name] is None]
            if name == "pfx":
                # Entries without a mandatory prefix live in the "none" slot; the decoder falls back to it.
                chosen = specific if value != 0 else specific + generic
            elif name in ("rm", "os"):
                chosen = specific if specific else generic
            else:
                chosen = specific + generic
            subs.append(self.build(chosen, mode, level + 1))
        first = len(self.children)
        self.children.extend(subs)
        return (kind, first)


def main():
    src, dst = sys.argv[1], sys.argv[2]
    entries = parse(src)
    b = Builder()
    roots = {mode: [[(K_EMPTY, 0)] * 256 for _ in range(4)] for mode in (32, 64)}
    modrm = [[0] * 256 for _ in range(4)]
    for (map_id, op), es in sorted(entries.items()):
        for mode in (32, 64):
            roots[mode][map_id][op] = b.build([e for e in es if mode in e.modes], mode)
        modrm[map_id][op] = 1 if any(e.modrm for e in es) else 0
        if any(e.modrm for e in es) != all(e.modrm for e in es):
            sys.exit(f"x86-opcodes.txt:{es[0].line_no}: opcode {op:02X} mixes forms with and without ModR/M")

    pool = []
    offsets = {}
    pos = 0
    for m in sorted(b.mnemonics):
        offsets[m] = pos
        pool.append(m)
        pos += len(m) + 1
    if pos > 0xFFFF or len(b.children) > 0xFFFF or len(b.leaves) > 0xFFFF:
        sys.exit("tables too large")

    def opname(o):
        if o == "1":
            return "One"
        if o[0] == "e" and o[1:].isupper():
            return "E" + o[1:]
        return o[0].upper() + o[1:]

    out = []
    out.append("// Generated by tools/gen_x86_tables.py from crashreport/x86/x86-opcodes.txt. Do not edit.")
    out.append("namespace ze::x86tables {")
    out.append("enum EOperand : uint8_t {\n    OpNone,\n" + "".join(f"    Op{opname(o)},\n" for o in OPERANDS) + "};")
    out.append("inline constexpr char Mnemonics[] =")
    for m in sorted(b.mnemonics):
        out.append(f'    "{m}\\0"')
    out.append("    ;")
    out.append("inline constexpr TLeaf Leaves[] = {")
    for mnem, ops, flags in b.leaves:
        imm1 = imm2 = 0
        for o in ops:
            k = IMM_KIND.get(o, 0)
            if k:
                if imm1 == 0:
                    imm1 = k
                else:
                    imm2 = k
        fl = " | ".join(f"Flag{f.capitalize()}" for f in flags) or "0"
        opl = ", ".join(f"Op{opname(o)}" for o in ops) or "OpNone"
        out.append(f"    {{{offsets[mnem]}, {{{opl}}}, {imm1}, {imm2}, {fl}}}, // {mnem}")
    out.append("};")
    out.append("inline constexpr TNode ChildNodes[] = {")
    for i in range(0, len(b.children), 8):
        out.append("    " + " ".join(f"{{{k}, {x}}}," for k, x in b.children[i:i + 8]))
    if not b.children:
        out.append("    {0, 0},")
    out.append("};")
    out.append("// [64-bit mode][map][opcode]")
    out.append("inline constexpr TNode Roots[2][4][256] = {")
    for mode in (32, 64):
        out.append("    {")
        for m in range(4):
            out.append("        {")
            for i in range(0, 256, 8):
                out.append("            " + " ".join(f"{{{k}, {x}}}," for k, x in roots[mode][m][i:i + 8]))
            out.append("        },")
        out.append("    },")
    out.append("};")
    out.append("inline constexpr uint8_t ModRMFollows[4][256] = {")
    for m in range(4):
        out.append("    {")
        for i in range(0, 256, 32):
            out.append("        " + "".join(f"{v}," for v in modrm[m][i:i + 32]))
        out.append("    },")
    out.append("};")
    out.append("} // namespace ze::x86tables")
    with open(dst, "w", encoding="ascii") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
