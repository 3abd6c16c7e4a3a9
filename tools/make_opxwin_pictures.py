#!/usr/bin/env python3
"""Draws the pictures of the window program opxwin and writes them as GIF files:

    doc/new.gif doc/open.gif doc/save.gif doc/about.gif   tool bar, 24 x 24
    doc/opxmin.gif                                        application icon, 32 x 32
    doc/L160x90.gif                                       logo of the about box, 160 x 90

    make_opxwin_pictures.py OUTPUT_FOLDER

The GIF writer needs nothing beyond Python: it writes the image data as LZW codes that never
grow past the first code width (a clear code comes before the table would fill), which every
reader decodes."""
import os
import struct
import sys

PALETTE = [
    (255, 255, 255),  # 0 background (transparent)
    (0, 0, 0),        # 1 outline
    (250, 250, 250),  # 2 paper
    (235, 196, 90),   # 3 folder
    (196, 150, 50),   # 4 folder shade
    (40, 90, 170),    # 5 blue
    (120, 170, 230),  # 6 light blue
    (200, 200, 200),  # 7 grey
    (30, 130, 60),    # 8 green
    (220, 60, 50),    # 9 red
    (255, 255, 255),  # 10 white
    (90, 90, 90),     # 11 dark grey
    (16, 52, 110),    # 12 navy
    (245, 180, 40),   # 13 gold
    (170, 210, 250),  # 14 sky
    (60, 60, 60),     # 15 text grey
]


def lzw(pixels, min_code_size=4):
    clear = 1 << min_code_size
    end = clear + 1
    width = min_code_size + 1
    limit = (1 << width) - clear - 2  # literals after a clear before the width would grow
    codes = [clear]
    run = 0
    for p in pixels:
        if run == limit:
            codes.append(clear)
            run = 0
        codes.append(p)
        run += 1
    codes.append(end)
    out = bytearray()
    acc = bits = 0
    for c in codes:
        acc |= c << bits
        bits += width
        while bits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            bits -= 8
    if bits:
        out.append(acc & 0xFF)
    return bytes(out)


def write_gif(path, width, height, pixels):
    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", width, height, 0xF3, 0, 0)  # global table of 16 colours
    for r, g, b in PALETTE:
        data += bytes((r, g, b))
    data += b"\x21\xF9\x04\x01\x00\x00\x00\x00"  # colour 0 is transparent
    data += b"\x2C" + struct.pack("<HHHHB", 0, 0, width, height, 0)
    data.append(4)
    body = lzw(pixels)
    for i in range(0, len(body), 255):
        chunk = body[i:i + 255]
        data.append(len(chunk))
        data += chunk
    data += b"\x00\x3B"
    with open(path, "wb") as f:
        f.write(data)


class Canvas:
    def __init__(self, w, h, fill=0):
        self.w, self.h = w, h
        self.p = [fill] * (w * h)

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.p[y * self.w + x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        for x in range(x0, x1 + 1):
            self.set(x, y0, c)
            self.set(x, y1, c)
        for y in range(y0, y1 + 1):
            self.set(x0, y, c)
            self.set(x1, y, c)

    def disc(self, cx, cy, r, c):
        for y in range(cy - r, cy + r + 1):
            for x in range(cx - r, cx + r + 1):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.set(x, y, c)


def page(c, x0, y0, x1, y1):
    c.rect(x0, y0, x1, y1, 2)
    c.frame(x0, y0, x1, y1, 1)
    for y in range(y0 + 4, y1 - 2, 3):
        c.rect(x0 + 3, y, x1 - 3, y, 7)


def new_icon():
    c = Canvas(24, 24)
    page(c, 5, 2, 18, 21)
    c.rect(14, 2, 18, 6, 0)
    for i in range(5):
        c.set(14 + i, 2 + i, 1)
    c.rect(14, 2, 14, 6, 1)
    c.rect(14, 6, 18, 6, 1)
    c.disc(18, 18, 4, 13)
    return c


def open_icon():
    c = Canvas(24, 24)
    c.rect(2, 6, 10, 8, 4)
    c.rect(2, 8, 20, 20, 3)
    c.frame(2, 8, 20, 20, 1)
    for y in range(12, 21):
        c.rect(6 - (y - 12) // 3, y, 23 - (y - 12) // 3, y, 4)
    c.frame(2, 6, 10, 8, 1)
    return c


def save_icon():
    c = Canvas(24, 24)
    c.rect(3, 3, 20, 20, 5)
    c.frame(3, 3, 20, 20, 1)
    c.rect(7, 3, 16, 9, 10)
    c.frame(7, 3, 16, 9, 1)
    c.rect(13, 4, 15, 8, 11)
    c.rect(6, 13, 17, 20, 14)
    c.frame(6, 13, 17, 20, 1)
    return c


def about_icon():
    c = Canvas(24, 24)
    c.disc(12, 12, 10, 1)
    c.disc(12, 12, 9, 5)
    c.rect(11, 6, 13, 8, 10)
    c.rect(11, 10, 13, 18, 10)
    c.rect(10, 18, 14, 18, 10)
    return c


def app_icon():
    c = Canvas(32, 32)
    c.rect(2, 4, 29, 27, 12)
    c.frame(2, 4, 29, 27, 1)
    for i, col in enumerate((13, 6, 8, 9)):
        c.rect(6 + i * 6, 9, 9 + i * 6, 22, col)
    c.rect(5, 24, 26, 25, 10)
    return c


# A 5 x 7 pixel font for the few letters of the logo.
GLYPHS = {
    "Q": ["01110", "10001", "10001", "10001", "10101", "10010", "01101"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "I": ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "X": ["10001", "10001", "01010", "00100", "01010", "10001", "10001"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    " ": ["00000"] * 7,
}


def text(c, x, y, s, colour, scale):
    for ch in s:
        g = GLYPHS[ch]
        for row, bits in enumerate(g):
            for col, bit in enumerate(bits):
                if bit == "1":
                    c.rect(x + col * scale, y + row * scale, x + col * scale + scale - 1,
                           y + row * scale + scale - 1, colour)
        x += 6 * scale


def logo():
    c = Canvas(160, 90, 12)
    c.frame(0, 0, 159, 89, 1)
    for i, col in enumerate((13, 6, 8, 9)):
        c.rect(12 + i * 12, 12, 20 + i * 12, 44, col)
    c.rect(10, 46, 58, 48, 10)
    text(c, 70, 14, "QUORIN", 10, 2)
    text(c, 70, 36, "OPALEX", 13, 2)
    for x in range(8, 152, 6):
        c.rect(x, 62, x + 3, 64, 14)
    text(c, 12, 72, "XMIT", 6, 2)
    return c


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, canvas in (("new.gif", new_icon()), ("open.gif", open_icon()),
                         ("save.gif", save_icon()), ("about.gif", about_icon()),
                         ("opxmin.gif", app_icon()), ("L160x90.gif", logo())):
        write_gif(os.path.join(out, name), canvas.w, canvas.h, canvas.p)


if __name__ == "__main__":
    main()
