#!/usr/bin/env python3
"""Writes the seed modules of the GOFF fuzz target (fuzz/seeds/vrl_goff): small valid GOFF
modules that reach what the real objects of the corpus do not (deferred lengths, LEN records,
identification data, every kind of relocation item, entry by name, weak references, parts).

    tools/goff_seeds.py fuzz/seeds/vrl_goff
"""
import os
import sys


def ebcdic(text):
    return text.encode("cp037")


def be(v, n):
    return v.to_bytes(n, "big")


def physical(rtype, body):
    """The 80-byte records of a logical record whose bytes from offset 3 are `body`."""
    parts = [body[i:i + 77] for i in range(0, max(len(body), 1), 77)] or [b""]
    out = b""
    for i, part in enumerate(parts):
        state = 0 if len(parts) == 1 else 1 if i == 0 else 2 if i == len(parts) - 1 else 3
        out += bytes([0x03, rtype << 4 | state, 0]) + part.ljust(77, b"\0")
    return out


def hdr():
    return physical(0xF, bytes(45) + be(1, 4) + bytes(28))


def esd(stype, esdid, parent, name, offset=0, length=0, amode=0, rmode=0, style=0, binding=0,
        strength=0, loading=0, align=3):
    n = ebcdic(name)
    body = bytes([stype]) + be(esdid, 4) + be(parent, 4) + bytes(4) + be(offset, 4) + bytes(4)
    body += be(length, 4) + bytes(16) + bytes(4) + bytes(12)
    body += bytes([amode, rmode, style << 4 | binding, 0, strength, loading, align, 0, 0, 0])
    body += be(len(n), 2) + n
    return physical(0x0, body)


def txt(element, offset, data, style=0):
    return physical(0x1, bytes([style]) + be(element, 4) + bytes(4) + be(offset, 4) + bytes(6)
                    + be(len(data), 2) + data)


def rld(items):
    data = b""
    for flags, types, action, length, r, p, offset in items:
        data += bytes([flags, types, action, 0, length, 0, 0, 0])
        if not flags & 0x80:
            data += be(r, 4)
        if not flags & 0x40:
            data += be(p, 4)
        if not flags & 0x20:
            data += be(offset, 4)
    return physical(0x2, bytes(1) + be(len(data), 2) + data)


def length(entries):
    body = bytes(3) + be(12 * len(entries), 2)
    for esdid, value in entries:
        body += be(esdid, 4) + bytes(4) + be(value, 4)
    return physical(0x3, body)


def end(request=0, esdid=0, offset=0, name="", count=0):
    n = ebcdic(name)
    return physical(0x4, bytes([request, 0, 0, 0, 0]) + be(count, 4) + be(esdid, 4) + bytes(4)
                    + be(offset, 4) + be(len(n), 2) + n)


def idr3(translator, vr, date, time):
    item = ebcdic(translator + vr + date + time)
    return bytes([0, 3]) + be(len(item), 2) + item


def full_module():
    text = bytearray(32)
    text[2:4] = b"\x02\x10"
    return (hdr()
            + esd(0, 1, 0, " ") + esd(1, 2, 1, "B_TEXT", amode=2, rmode=3)
            + esd(0, 3, 0, "MAIN")
            + esd(1, 4, 3, "B_TEXT", 0x200, 0xFFFFFFFF, amode=2, rmode=3)
            + esd(1, 5, 3, "B_PRV", binding=1, loading=0x80)
            + esd(1, 6, 3, "B_IDRL", style=1, loading=0x80)
            + esd(2, 7, 4, "MAIN", 0x200, amode=2) + esd(2, 8, 4, "INNER", 0x208, amode=2)
            + esd(4, 9, 3, "WEAKREF", strength=1) + esd(4, 10, 3, "SUB")
            + esd(3, 11, 5, "PRV1", 0, 8, align=2)
            + esd(1, 12, 3, "C_CODE", 0, 8, amode=2)
            + txt(4, 0x200, bytes(text)) + txt(12, 0, ebcdic("ABCDEFGH"))
            + txt(6, 0, idr3("569623400 ", "0106", "2014148", "132317530"), style=1)
            + rld([(0, 0, 0, 4, 4, 4, 0x200), (0x40, 0, 1, 4, 8, 0, 0x204),
                   (0x40, 0, 1, 4, 9, 0, 0x208), (0x40, 0x10, 0, 4, 11, 0, 0x20C),
                   (0x40, 0x20, 0, 4, 5, 0, 0x210), (0x40, 0x60, 0, 2, 8, 0, 0x21A),
                   (0xC0, 0, 0x10, 4, 0, 0, 0x21C), (0x40, 0, 1, 4, 10, 0, 0x214)])
            + length([(4, 0x20)])
            + end(2, name="INNER"))


def continued_module():
    code = bytes(range(256)) * 2
    return (hdr() + esd(0, 1, 0, "LONGTEXT") + esd(1, 2, 1, "B_TEXT", 0, 512, amode=1, rmode=1)
            + esd(4, 3, 1, "EXT") + txt(2, 0, code)
            + rld([(0, 0, 0, 4, 2, 2, 16 * k) for k in range(1)]
                  + [(0xC0, 0, 0, 4, 0, 0, 16 * k) for k in range(1, 20)])
            + rld([(0x40, 0, 1, 4, 3, 0, 400)])
            + end(1, 2, 0))


def two_modules():
    one = hdr() + esd(0, 1, 0, "FIRST") + esd(1, 2, 1, "B_TEXT", 0, 8) + txt(2, 0, bytes(8))
    one += end(1, 2, 0, count=5)
    two = hdr() + esd(0, 1, 0, "COMMON", loading=0x20) + esd(1, 2, 1, "B_TEXT", 0, 16)
    two += esd(0, 3, 0, "SECOND") + esd(1, 4, 3, "B_TEXT", 16, 8) + esd(4, 5, 3, "FIRST")
    two += rld([(0, 0, 0, 4, 2, 4, 16), (0x40, 0, 1, 4, 5, 0, 20)]) + end(2, name="FIRST")
    return one + two


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "fuzz/seeds/vrl_goff"
    os.makedirs(folder, exist_ok=True)
    for name, data in [("full.goff", full_module()), ("continued.goff", continued_module()),
                       ("two_modules.goff", two_modules())]:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
