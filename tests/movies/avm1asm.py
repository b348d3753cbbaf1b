#!/usr/bin/env python3
"""A small AVM1 (ActionScript 1/2) assembler for test movies: one source file in, one
uncompressed SWF out, with a single frame whose DoAction holds the assembled code.

Usage: avm1asm.py SOURCE.avm1 OUT.swf

Source, one statement a line; blank lines and lines starting with "#" are ignored:

  .version N               SWF version (default 10)
  .size W H                stage size in pixels (default 800 600)
  .rate FPS                frame rate (default 30)
  .background RRGGBB       background colour (default ffffff)
  LABEL:                   a jump target, local to the enclosing function body
  push V, V, ...           "string" (JSON escapes), integer, decimal, true, false, null,
                           undefined
  jump LABEL / if LABEL    ActionJump / ActionIf ("if" branches when the popped value is true)
  function NAME(P, ...) {  ActionDefineFunction; the body runs to a line "}". Without a NAME
                           the function value is pushed instead of defined.
  geturl2 [FLAGS]          ActionGetURL2 (FLAGS default 0: a plain get-URL, as fscommand)
  OP                       an action without operands, by its name in OPCODES below

Only what the test movies need is here; anything else is refused with the line number.
"""

import json
import re
import struct
import sys

OPCODES = {
    "stop": 0x07, "not": 0x12, "pop": 0x17, "getvariable": 0x1C, "setvariable": 0x1D,
    "stringadd": 0x21, "trace": 0x26, "callfunction": 0x3D, "return": 0x3E,
    "definelocal": 0x3C, "newobject": 0x40, "definelocal2": 0x41, "initarray": 0x42,
    "typeof": 0x44, "add2": 0x47, "less2": 0x48, "equals2": 0x49, "pushduplicate": 0x4C,
    "getmember": 0x4E, "setmember": 0x4F, "increment": 0x50, "decrement": 0x51,
    "callmethod": 0x52, "strictequals": 0x66,
}
ACTION_PUSH, ACTION_JUMP, ACTION_IF = 0x96, 0x99, 0x9D
ACTION_DEFINE_FUNCTION, ACTION_GET_URL2 = 0x9B, 0x9A

TOKEN = re.compile(r'"(?:[^"\\]|\\.)*"|[^,\s]+')


class AsmError(Exception):
    pass


def cstring(text):
    if "\0" in text:
        raise AsmError("a string may not hold a NUL")
    return text.encode("utf-8") + b"\0"


def action(code, payload=b""):
    """An action record: codes from 0x80 on carry a 16-bit payload length."""
    if code < 0x80:
        return bytes([code])
    if len(payload) > 0xFFFF:
        raise AsmError("action payload too long")
    return struct.pack("<BH", code, len(payload)) + payload


def push_value(token):
    if token.startswith('"'):
        return b"\x00" + cstring(json.loads(token))
    constants = {"null": b"\x02", "undefined": b"\x03", "false": b"\x05\x00", "true": b"\x05\x01"}
    if token in constants:
        return constants[token]
    if re.fullmatch(r"-?\d+", token):
        value = int(token)
        if not -2**31 <= value < 2**31:
            raise AsmError("integer out of range: " + token)
        return b"\x07" + struct.pack("<i", value)
    try:
        number = float(token)
    except ValueError:
        raise AsmError("not a value: " + token) from None
    # Doubles in a push record are stored with their two 32-bit halves swapped.
    raw = struct.pack("<d", number)
    return b"\x06" + raw[4:] + raw[:4]


class Block:
    """The statements of one body (the frame or a function) with its own labels."""

    def __init__(self):
        self.items = []   # (kind, data, line number)
        self.labels = {}

    def assemble(self):
        sizes = [len(self.encode(item, None)) for item in self.items]
        offsets = [sum(sizes[:i]) for i in range(len(sizes) + 1)]
        code = b""
        for i, item in enumerate(self.items):
            code += self.encode(item, offsets[i + 1], offsets)
        return code

    def encode(self, item, end, offsets=None):
        kind, data, line = item
        if kind == "raw":
            return data
        if kind == "branch":
            code, label = data
            if offsets is None:
                return action(code, b"\0\0")
            if label not in self.labels:
                raise AsmError("line %d: no label %s" % (line, label))
            distance = offsets[self.labels[label]] - end
            if not -32768 <= distance < 32768:
                raise AsmError("line %d: jump too far" % line)
            return action(code, struct.pack("<h", distance))
        name, params, body = data
        code = body.assemble()
        if len(code) > 0xFFFF:
            raise AsmError("line %d: function body too long" % line)
        head = cstring(name) + struct.pack("<H", len(params))
        head += b"".join(cstring(p) for p in params) + struct.pack("<H", len(code))
        return action(ACTION_DEFINE_FUNCTION, head) + code


def parse(text):
    """Returns (header settings, the frame's Block)."""
    settings = {"version": 10, "size": (800, 600), "rate": 30, "background": "ffffff"}
    stack = [Block()]
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        block = stack[-1]
        try:
            head, _, rest = line.partition(" ")
            rest = rest.strip()
            if head.startswith("."):
                values = rest.split()
                if head == ".version" and len(values) == 1:
                    settings["version"] = int(values[0])
                elif head == ".size" and len(values) == 2:
                    settings["size"] = (int(values[0]), int(values[1]))
                elif head == ".rate" and len(values) == 1:
                    settings["rate"] = float(values[0])
                elif head == ".background" and re.fullmatch(r"[0-9a-fA-F]{6}", rest):
                    settings["background"] = rest
                else:
                    raise AsmError("bad directive")
            elif re.fullmatch(r"[A-Za-z_]\w*:", line):
                if line[:-1] in block.labels:
                    raise AsmError("label defined twice")
                block.labels[line[:-1]] = len(block.items)
            elif head == "push":
                tokens = TOKEN.findall(rest)
                if not tokens:
                    raise AsmError("push of nothing")
                block.items.append(("raw", action(ACTION_PUSH, b"".join(map(push_value, tokens))), number))
            elif head in ("jump", "if") and re.fullmatch(r"[A-Za-z_]\w*", rest):
                block.items.append(("branch", (ACTION_JUMP if head == "jump" else ACTION_IF, rest), number))
            elif head == "function":
                match = re.fullmatch(r"([A-Za-z_]\w*)?\s*\(([\w\s,]*)\)\s*\{", rest)
                if not match:
                    raise AsmError("expected: function NAME(P, ...) {")
                params = [p.strip() for p in match.group(2).split(",") if p.strip()]
                body = Block()
                block.items.append(("function", (match.group(1) or "", params, body), number))
                stack.append(body)
            elif line == "}":
                if len(stack) == 1:
                    raise AsmError("} without a function")
                stack.pop()
            elif head == "geturl2":
                flags = int(rest) if rest else 0
                block.items.append(("raw", action(ACTION_GET_URL2, bytes([flags])), number))
            elif head in OPCODES and not rest:
                block.items.append(("raw", action(OPCODES[head]), number))
            else:
                raise AsmError("unknown statement")
        except (AsmError, ValueError) as e:
            raise AsmError("line %d: %s: %s" % (number, e, line)) from None
    if len(stack) != 1:
        raise AsmError("a function body is not closed at the end")
    return settings, stack[0]


def tag(code, body):
    if len(body) < 0x3F:
        return struct.pack("<H", code << 6 | len(body)) + body
    return struct.pack("<HI", code << 6 | 0x3F, len(body)) + body


def rect(width_twips, height_twips):
    """A RECT from 0,0 to the given size, in the fewest bits."""
    bits = max(width_twips.bit_length(), height_twips.bit_length()) + 1
    value = 0
    for field in (0, width_twips, 0, height_twips):
        value = value << bits | field
    total = 5 + 4 * bits
    value |= bits << (4 * bits)
    value <<= (-total) % 8
    return value.to_bytes((total + 7) // 8, "big")


def movie(settings, frame):
    width, height = settings["size"]
    body = rect(width * 20, height * 20)
    body += struct.pack("<HH", int(round(settings["rate"] * 256)), 1)
    body += tag(69, struct.pack("<I", 0))   # FileAttributes: ActionScript 1/2
    body += tag(9, bytes.fromhex(settings["background"]))   # SetBackgroundColor
    body += tag(12, frame.assemble() + b"\0")   # DoAction
    body += tag(1, b"") + tag(0, b"")   # ShowFrame, End
    return b"FWS" + bytes([settings["version"]]) + struct.pack("<I", 8 + len(body)) + body


def main(argv):
    if len(argv) != 3:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    try:
        with open(argv[1], encoding="utf-8") as f:
            settings, frame = parse(f.read())
        data = movie(settings, frame)
    except (OSError, AsmError) as e:
        print("avm1asm: %s: %s" % (argv[1], e), file=sys.stderr)
        return 1
    with open(argv[2], "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
