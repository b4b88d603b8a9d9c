#!/usr/bin/env python3
"""Compares x86list --fields with objdump -d -M intel over PE files (PE32: i686-w64-mingw32-objdump,
PE32+: x86_64-w64-mingw32-objdump).

Usage: compare_objdump.py X86LIST FILE... [--show N]
objdump folds fwait (9B) into a following x87 instruction; we decode it as an instruction of its
own, so such pairs are compared as fwait plus the instruction after it.
Checks, for every instruction objdump decodes (not "(bad)"): same start address, same length,
same direct call/jump target; and reports how often the normalised text agrees, with the most
frequent classes of text difference.
"""
import collections
import re
import struct
import subprocess
import sys

OBJDUMP = {False: "i686-w64-mingw32-objdump", True: "x86_64-w64-mingw32-objdump"}
NUM = re.compile(r"\b(0x[0-9a-f]+|[0-9][0-9a-f]*h|[0-9]+)\b")


def canon_number(tok):
    if tok.startswith("0x"):
        v = int(tok, 16)
    elif tok.endswith("h"):
        v = int(tok[:-1], 16)
    else:
        v = int(tok)
    return hex(v)


def is_pe32_plus(path):
    with open(path, "rb") as f:
        head = f.read(4096)
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    return struct.unpack_from("<H", head, pe + 24)[0] == 0x20B


def normalise(text, ours):
    t = text.lower().strip()
    t = re.sub(r"\s+", " ", t)
    if not ours:
        # RIP-relative operands: we write the address they refer to.
        m = re.search(r"\s*# ([0-9a-f]+)", t)
        if m and "[rip" in t:
            t = re.sub(r"\[rip[+-]0x[0-9a-f]+\]", "[0x" + m.group(1) + "]", t[:m.start()])
        t = re.sub(r"^movabs ", "mov ", t)
        # Prefixes objdump names on their own: unused REX bits, 66 in front of a segment override.
        t = re.sub(r"^(rex(\.[wrxb]+)? |data16 )+", "", t)
        t = re.sub(r"^(cs|ds|es|ss) ([a-z]+ [a-z]+ ptr )\[", r"\2\1:[", t)
        t = re.sub(r" <[^>]*>", "", t)
        t = re.sub(r"\s*#.*$", "", t)
        t = t.replace("repz ", "rep ").replace("repnz ", "repne ")
        t = re.sub(r"\b(cs|ds|es|ss|fs|gs):(0x[0-9a-f]+)", r"\1:[\2]", t)
        t = t.replace("ds:[", "[") if not re.search(r"ds:\[[er]?si\]", t) else t
        # direct branch targets are bare hex without 0x
        m = re.match(r"^((?:bnd )?(?:call|j[a-z]+|loop[a-z]*))\s+([0-9a-f]+)$", t)
        if m:
            t = m.group(1) + " 0x" + m.group(2)
    else:
        t = re.sub(r"\s*;.*$", "", t)
        t = t.replace(", ", ",")
        m = re.match(r"^((?:call|j[a-z]+|loop[a-z]*))\s+([0-9a-f]+h?|[0-9])$", t)
        if m:
            t = m.group(1) + " " + m.group(2)
    t = t.replace(" ,", ",")
    t = t.replace("+eiz*1", "").replace("+eiz*", "+eiz*")
    t = re.sub(r"\*1\b(?!\d)", "", t)
    # one blank between mnemonic and operands
    t = re.sub(r"^((?:lock |rep |repne )*[a-z0-9]+) +", r"\1 ", t)
    t = NUM.sub(lambda m: canon_number(m.group(1)), t)
    t = re.sub(r"\+0x0\]", "]", t)
    return t


def ours(x86list, path):
    out = subprocess.run([x86list, "--fields", path], check=True, capture_output=True, text=True).stdout
    result = {}
    for line in out.splitlines():
        addr, length, target, text = line.split(" ", 3)
        text = text.split("   ", 1)[1] if "   " in text else ""  # after "ADDRESS   "
        result[int(addr, 16)] = (int(length), None if target == "-" else int(target, 16), text)
    return result


def reference(path):
    out = subprocess.run([OBJDUMP[is_pe32_plus(path)], "-d", "-M", "intel", "--insn-width=16", path], check=True,
                         capture_output=True, text=True).stdout
    result = {}
    for line in out.splitlines():
        parts = line.split("\t")
        if len(parts) < 3 or not parts[0].strip().endswith(":"):
            continue
        addr = int(parts[0].strip()[:-1], 16)
        length = len(parts[1].split())
        text = parts[2].strip()
        result[addr] = (length, text)
    return result


def main():
    args = sys.argv[1:]
    show = 0
    if "--show" in args:
        i = args.index("--show")
        show = int(args[i + 1])
        del args[i:i + 2]
    x86list, files = args[0], args[1:]
    failures = 0
    for path in files:
        mine, ref = ours(x86list, path), reference(path)
        total = agree_len = agree_text = bad = targets = target_ok = folded = desync = 0
        len_diff, text_diff = [], collections.Counter()
        examples = {}
        for addr, (rlen, rtext) in sorted(ref.items()):
            if "(bad)" in rtext or rtext.startswith("."):
                bad += 1
                continue
            total += 1
            m = mine.get(addr)
            if m and m[2].startswith("fwait") and m[0] == 1 and rlen > 1 and not rtext.startswith("fwait"):
                # objdump folds fwait (9B) into the x87 instruction after it; we list it on its own.
                folded += 1
                addr, rlen = addr + 1, rlen - 1
                m = mine.get(addr)
            if not m:
                # objdump restarts at every symbol, also inside data in a code section; a linear
                # sweep meets those addresses only when it happens to be in step.
                desync += 1
                continue
            if m[0] != rlen:
                len_diff.append((addr, rlen, rtext, m))
                continue
            agree_len += 1
            tm = re.match(r"^(?:bnd )?(?:call|j[a-z]+|loop[a-z]*)\s+([0-9a-f]+)\b", rtext)
            if tm:
                targets += 1
                if m[1] == int(tm.group(1), 16):
                    target_ok += 1
                else:
                    len_diff.append((addr, rlen, rtext, m))
            a, b = normalise(rtext, False), normalise(m[2], True)
            if a == b:
                agree_text += 1
            else:
                key = a.split(" ")[0] + " / " + b.split(" ")[0]
                text_diff[key] += 1
                examples.setdefault(key, (addr, rtext, m[2]))
        print(f"{path}: {total} instructions decoded by objdump ({bad} bad skipped, {folded} fwait prefixes folded)")
        print(f"  not at an instruction start of ours (objdump resynchronised at a symbol): {desync}")
        total -= desync
        print(f"  length agreement {agree_len}/{total}, targets {target_ok}/{targets}, "
              f"text {agree_text}/{agree_len} ({100.0 * agree_text / max(agree_len, 1):.2f}%)")
        for addr, rlen, rtext, m in len_diff[:20]:
            print(f"  MISMATCH {addr:08x}: objdump len {rlen} '{rtext}' / ours {m}")
        failures += len(len_diff)
        for key, n in text_diff.most_common(show):
            addr, r, o = examples[key]
            print(f"  text {n:6d}  {key:30s} e.g. {addr:08x}: '{r}' / '{o}'")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
