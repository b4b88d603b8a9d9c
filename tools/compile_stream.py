#!/usr/bin/env python3
"""Compiles the readable sources of the crash reporter's settings and assistant forms into
binary component streams ("TPF0"), the format the program reads from its RCDATA resources.

Source syntax (UTF-8):

    # comment (also //), to the end of the line
    object Name: TClassName        an object; objects nest
      Prop = value                 properties come before the object's child objects
      Item.Prop = value            dotted names are written as they stand
      object Child: TOtherClass
        ...
      end
    end

Values:
    True, False                    boolean (value types 9, 8)
    42, -7, $FF                    integer; the smallest of 8, 16, 32 bits (types 2, 3, 4)
    'text'                         string; '' is a quote, #13#10 adds characters by code,
                                   pieces join when adjacent or with + (also across lines);
                                   Windows-1252 text is written as a short (6) or long (12)
                                   string, anything else as a wide string (18)
    alClient                       identifier (type 7)
    ('one' 'two' 3)                list of values (type 14, closed by 0)

Usage: compile_stream.py SOURCE -o OUTPUT
       compile_stream.py --dump STREAM     prints a stream back as source text
"""

import argparse
import re
import struct
import sys

VA_NULL, VA_LIST, VA_INT8, VA_INT16, VA_INT32 = 0, 1, 2, 3, 4
VA_STRING, VA_IDENT, VA_FALSE, VA_TRUE, VA_LSTRING, VA_WSTRING = 6, 7, 8, 9, 12, 18
VA_STRLIST = 14


class SourceError(Exception):
    pass


TOKEN = re.compile(r"""
    (?P<space>[ \t\r]+)
  | (?P<comment>(\#(?!\d|\$)|//)[^\n]*)
  | (?P<newline>\n)
  | (?P<string>'(?:[^'\n]|'')*')
  | (?P<char>\#(?:\$[0-9A-Fa-f]+|\d+))
  | (?P<number>[-+]?(?:\$[0-9A-Fa-f]+|\d+))
  | (?P<name>[A-Za-z_][A-Za-z0-9_]*(?:\.[A-Za-z_][A-Za-z0-9_]*)*)
  | (?P<punct>[=:()+])
""", re.VERBOSE)


def tokenize(text):
    """Yields (kind, value, line); newlines are tokens because a property ends with its line."""
    pos, line = 0, 1
    while pos < len(text):
        m = TOKEN.match(text, pos)
        if not m:
            raise SourceError(f"line {line}: unexpected character {text[pos]!r}")
        kind = m.lastgroup
        value = m.group()
        pos = m.end()
        if kind == "newline":
            yield ("newline", value, line)
            line += 1
        elif kind not in ("space", "comment"):
            yield (kind, value, line)
    yield ("newline", "\n", line)
    yield ("eof", "", line)


class Parser:
    def __init__(self, text):
        self.tokens = list(tokenize(text))
        self.pos = 0

    def peek(self, skip_newlines=False):
        p = self.pos
        while skip_newlines and self.tokens[p][0] == "newline":
            p += 1
        return self.tokens[p]

    def next(self, skip_newlines=False):
        if skip_newlines:
            self.skip_newlines()
        tok = self.tokens[self.pos]
        if tok[0] != "eof":
            self.pos += 1
        return tok

    def skip_newlines(self):
        while self.tokens[self.pos][0] == "newline":
            self.pos += 1

    def expect(self, kind, value=None, skip_newlines=False):
        tok = self.next(skip_newlines)
        if tok[0] != kind or (value is not None and tok[1].lower() != value.lower()):
            want = value if value is not None else kind
            raise SourceError(f"line {tok[2]}: expected {want}, found {tok[1]!r}")
        return tok

    def parse_file(self):
        obj = self.parse_object()
        tok = self.next(skip_newlines=True)
        if tok[0] != "eof":
            raise SourceError(f"line {tok[2]}: text after the last 'end'")
        return obj

    def parse_object(self):
        self.expect("name", "object", skip_newlines=True)
        name = self.expect("name")[1]
        self.expect("punct", ":")
        cls = self.expect("name")[1]
        self.expect("newline")
        props, children = [], []
        while True:
            tok = self.peek(skip_newlines=True)
            if tok[0] == "name" and tok[1].lower() == "end":
                self.next(skip_newlines=True)
                break
            if tok[0] == "name" and tok[1].lower() == "object":
                children.append(self.parse_object())
                continue
            if tok[0] == "name":
                if children:
                    raise SourceError(f"line {tok[2]}: properties must come before child objects")
                self.next(skip_newlines=True)
                self.expect("punct", "=")
                props.append((tok[1], self.parse_value()))
                self.expect("newline")
                continue
            raise SourceError(f"line {tok[2]}: expected a property, 'object' or 'end', found {tok[1]!r}")
        return (cls, name, props, children)

    def parse_value(self):
        tok = self.peek()
        if tok[0] in ("string", "char"):
            return ("string", self.parse_string())
        self.next()
        if tok[0] == "number":
            return ("int", parse_int(tok[1], tok[2]))
        if tok[0] == "name":
            low = tok[1].lower()
            if low in ("true", "false"):
                return ("bool", low == "true")
            return ("ident", tok[1])
        if tok == ("punct", "(", tok[2]):
            items = []
            while self.peek(skip_newlines=True)[:2] != ("punct", ")"):
                if self.peek(skip_newlines=True)[0] == "eof":
                    raise SourceError(f"line {tok[2]}: list not closed")
                self.skip_newlines()
                items.append(self.parse_value())
            self.next(skip_newlines=True)
            return ("list", items)
        raise SourceError(f"line {tok[2]}: expected a value, found {tok[1]!r}")

    def parse_string(self):
        parts = []
        while True:
            tok = self.peek()
            if tok[0] == "string":
                self.next()
                parts.append(tok[1][1:-1].replace("''", "'"))
            elif tok[0] == "char":
                self.next()
                code = tok[1][1:]
                parts.append(chr(int(code[1:], 16) if code.startswith("$") else int(code)))
            elif tok[:2] == ("punct", "+"):
                self.next()
                self.skip_newlines()
                if self.peek()[0] not in ("string", "char"):
                    raise SourceError(f"line {tok[2]}: '+' must be followed by a string")
            else:
                return "".join(parts)


def parse_int(text, line):
    sign = -1 if text.startswith("-") else 1
    digits = text.lstrip("+-")
    value = sign * (int(digits[1:], 16) if digits.startswith("$") else int(digits))
    if not -(2**31) <= value < 2**31:
        raise SourceError(f"line {line}: {text} does not fit in 32 bits")
    return value


def short_string(text, what):
    data = text.encode("ascii", errors="strict") if text.isascii() else None
    if data is None or len(data) > 255:
        raise SourceError(f"{what} {text!r} must be ASCII of at most 255 characters")
    return bytes([len(data)]) + data


def encode_value(value):
    kind, v = value
    if kind == "bool":
        return bytes([VA_TRUE if v else VA_FALSE])
    if kind == "int":
        if -128 <= v < 128:
            return bytes([VA_INT8]) + struct.pack("<b", v)
        if -32768 <= v < 32768:
            return bytes([VA_INT16]) + struct.pack("<h", v)
        return bytes([VA_INT32]) + struct.pack("<i", v)
    if kind == "ident":
        return bytes([VA_IDENT]) + short_string(v, "identifier")
    if kind == "string":
        try:
            data = v.encode("cp1252")
        except UnicodeEncodeError:
            wide = v.encode("utf-16-le")
            return bytes([VA_WSTRING]) + struct.pack("<I", len(wide) // 2) + wide
        if len(data) <= 255:
            return bytes([VA_STRING, len(data)]) + data
        return bytes([VA_LSTRING]) + struct.pack("<I", len(data)) + data
    if kind == "list":
        return bytes([VA_STRLIST]) + b"".join(encode_value(item) for item in v) + bytes([VA_NULL])
    raise AssertionError(kind)


def encode_object(obj, root):
    cls, name, props, children = obj
    out = bytearray()
    if root:
        out += b"TPF0"
    out += short_string(cls, "class name") + short_string(name, "object name")
    for prop, value in props:
        out += short_string(prop, "property name") + encode_value(value)
    out.append(0)
    for child in children:
        out += encode_object(child, False)
    out.append(0)
    return bytes(out)


def compile_source(text):
    return encode_object(Parser(text).parse_file(), True)


# ---- dump (for looking at a compiled resource)

class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, n):
        if self.pos + n > len(self.data):
            raise SourceError(f"stream ends early at offset {self.pos}")
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def byte(self):
        return self.take(1)[0]

    def short(self):
        return self.take(self.byte()).decode("cp1252", errors="replace")


def quote(text):
    return "'" + text.replace("'", "''").replace("\r", "'#13'").replace("\n", "'#10'") + "'"


def dump_value(r, vtype):
    if vtype in (VA_INT8, VA_INT16, VA_INT32):
        size = {VA_INT8: 1, VA_INT16: 2, VA_INT32: 4}[vtype]
        return str(int.from_bytes(r.take(size), "little", signed=True))
    if vtype in (VA_FALSE, VA_TRUE):
        return "True" if vtype == VA_TRUE else "False"
    if vtype == VA_STRING:
        return quote(r.short())
    if vtype == VA_IDENT:
        return r.short()
    if vtype == VA_LSTRING:
        return quote(r.take(struct.unpack("<I", r.take(4))[0]).decode("cp1252", errors="replace"))
    if vtype == VA_WSTRING:
        return quote(r.take(2 * struct.unpack("<I", r.take(4))[0]).decode("utf-16-le", errors="replace"))
    if vtype == VA_STRLIST:
        items = []
        while (t := r.byte()) != VA_NULL:
            items.append(dump_value(r, t))
        return "(" + " ".join(items) + ")"
    raise SourceError(f"unknown value type {vtype} at offset {r.pos - 1}")


def dump_object(r, indent, lines):
    cls, name = r.short(), r.short()
    lines.append(f"{indent}object {name}: {cls}")
    while (n := r.byte()) != 0:
        prop = r.take(n).decode("cp1252", errors="replace")
        lines.append(f"{indent}  {prop} = {dump_value(r, r.byte())}")
    while r.pos < len(r.data) and r.data[r.pos] != 0:
        dump_object(r, indent + "  ", lines)
    if r.pos < len(r.data):
        r.byte()
    lines.append(f"{indent}end")


def dump_stream(data):
    if data[:4] != b"TPF0":
        raise SourceError("not a component stream (no TPF0 signature)")
    r = Reader(data)
    r.take(4)
    lines = []
    dump_object(r, "", lines)
    return "\n".join(lines) + "\n"


def main(argv):
    ap = argparse.ArgumentParser(description="Compile component stream sources.")
    ap.add_argument("source")
    ap.add_argument("-o", "--output")
    ap.add_argument("--dump", action="store_true", help="print a compiled stream as source text")
    args = ap.parse_args(argv)
    try:
        if args.dump:
            with open(args.source, "rb") as f:
                sys.stdout.write(dump_stream(f.read()))
            return 0
        if not args.output:
            ap.error("-o OUTPUT is required")
        with open(args.source, encoding="utf-8-sig") as f:
            data = compile_source(f.read())
    except (SourceError, UnicodeDecodeError, OSError) as e:
        print(f"{args.source}: {e}", file=sys.stderr)
        return 1
    with open(args.output, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
