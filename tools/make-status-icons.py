#!/usr/bin/env python3
"""Draws the slot list's status icons: one strip of 12 images of 16 x 16 pixels.

  0..7   a mixer slot (two faders): +4 Off (faders greyed, a red power mark bottom left),
         +2 muted (an orange "M" top right), +1 soloed (a yellow "S" bottom right)
  8..11  a plug-in slot (a module box, signal in and out): +1 bypassed (a yellow arrow
         taking the signal around the box), +2 Off (box greyed, the red power mark)

Every coloured shape has a dark rim, so the icons read on light and on dark rows alike.
Standard library only. Usage: tools/make-status-icons.py [OUTPUT.png]
(default: share/icons/slot-status.png beside this script's folder).
"""

import math
import os
import struct
import sys
import zlib

SIZE = 16
COUNT = 12
SUB = 4  # sub-samples per pixel edge

OFF_OPACITY = 0.55  # a switched-off slot's mixer or module shows faded
RIM = (24, 24, 28, 0.85)
TRACK = (150, 150, 158, 1.0)
CAP = (240, 240, 244, 1.0)
CAP_LINE = (40, 40, 48, 1.0)
BOX = (74, 144, 226, 1.0)
BOX_FACE = (120, 180, 244, 1.0)
KNOB = (250, 250, 252, 1.0)
LED = (80, 230, 110, 1.0)
MUTE = (255, 140, 20, 1.0)
SOLO = (255, 214, 10, 1.0)
BYPASS = (255, 210, 0, 1.0)
POWER = (226, 36, 36, 1.0)
WHITE = (255, 255, 255, 1.0)
INK = (28, 28, 32, 1.0)

POWER_MARK = [
    "..KKKKK..",
    ".KRRRRRK.",
    "KRRRWRRRK",
    "KRWRWRWRK",
    "KRWRWRWRK",
    "KRWRRRWRK",
    "KRRWWWRRK",
    ".KRRRRRK.",
    "..KKKKK..",
]

LETTERS = {
    "M": ["X...X", "XX.XX", "X.X.X", "X...X", "X...X"],
    "S": [".XXXX", "X....", ".XXX.", "....X", "XXXX."],
}


class Canvas:
    """Straight RGBA floats, 0..1, drawn with 'over' compositing."""

    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = [[0.0, 0.0, 0.0, 0.0] for _ in range(width * height)]

    def blend(self, x, y, colour, coverage):
        if not (0 <= x < self.width and 0 <= y < self.height) or coverage <= 0:
            return
        r, g, b, a = colour
        a *= coverage
        dst = self.pixels[y * self.width + x]
        out_a = a + dst[3] * (1 - a)
        if out_a <= 0:
            return
        for i, c in enumerate((r / 255, g / 255, b / 255)):
            dst[i] = (c * a + dst[i] * dst[3] * (1 - a)) / out_a
        dst[3] = out_a

    def fill(self, inside, colour, box=None):
        """Fills where inside(x, y) holds, x and y in pixel units (pixel centres at .5)."""
        x0, y0, x1, y1 = box or (0, 0, self.width, self.height)
        for y in range(max(0, y0), min(self.height, y1)):
            for x in range(max(0, x0), min(self.width, x1)):
                hits = 0
                for sy in range(SUB):
                    for sx in range(SUB):
                        if inside(x + (sx + 0.5) / SUB, y + (sy + 0.5) / SUB):
                            hits += 1
                self.blend(x, y, colour, hits / (SUB * SUB))

    def png(self):
        rows = b""
        for y in range(self.height):
            rows += b"\x00"
            for x in range(self.width):
                r, g, b, a = self.pixels[y * self.width + x]
                if a <= 0:
                    rows += b"\x00\x00\x00\x00"
                else:
                    rows += bytes(round(min(1.0, max(0.0, v)) * 255) for v in (r, g, b, a))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 6, 0, 0, 0)
        return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")


class Icon:
    """One 16 x 16 cell of the strip."""

    def __init__(self, canvas, index):
        self.canvas, self.left = canvas, index * SIZE

    def fade(self, opacity):
        """Makes what the cell holds so far translucent, as one layer."""
        for y in range(SIZE):
            for x in range(self.left, self.left + SIZE):
                self.canvas.pixels[y * self.canvas.width + x][3] *= opacity

    def _fill(self, inside, colour, x0=0, y0=0, x1=SIZE, y1=SIZE):
        l = self.left
        self.canvas.fill(lambda x, y: inside(x - l, y), colour, (l + x0, y0, l + x1, y1))

    def rect(self, x0, y0, x1, y1, colour, rim=True, radius=0.0):
        """A rectangle covering pixels x0..x1-1, y0..y1-1; with a 1-pixel rim outside it."""

        def rounded(grow):
            def inside(x, y):
                ax0, ay0, ax1, ay1 = x0 - grow, y0 - grow, x1 + grow, y1 + grow
                if not (ax0 <= x < ax1 and ay0 <= y < ay1):
                    return False
                r = radius + grow if radius > 0 else 0
                cx = min(max(x, ax0 + r), ax1 - r)
                cy = min(max(y, ay0 + r), ay1 - r)
                return (x - cx) ** 2 + (y - cy) ** 2 <= r * r + 1e-9

            return inside

        if rim:
            self._fill(rounded(1), RIM)
        self._fill(rounded(0), colour)

    def disc(self, cx, cy, radius, colour, rim=True):
        if rim:
            self._fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= (radius + 1) ** 2, RIM)
        self._fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius**2, colour)

    def letter(self, name, x0, y0, colour):
        for dy, line in enumerate(LETTERS[name]):
            for dx, mark in enumerate(line):
                if mark == "X":
                    self.canvas.blend(self.left + x0 + dx, y0 + dy, colour, 1.0)

    def pattern(self, x0, y0, rows, colours):
        """Pixel art: one character per pixel, looked up in colours; '.' is left alone."""
        for dy, line in enumerate(rows):
            for dx, mark in enumerate(line):
                if mark in colours:
                    self.canvas.blend(self.left + x0 + dx, y0 + dy, colours[mark], 1.0)

    def power(self, x0, y0):
        """A red disc with the white power symbol: an open ring and a bar through its gap."""
        self.pattern(x0, y0, POWER_MARK, {"K": RIM, "R": POWER, "W": WHITE})


def grey(colour, amount=0.75):
    r, g, b, a = colour
    mean = (r + g + b) / 3
    mix = lambda c: c + (mean - c) * amount
    return (mix(r), mix(g), mix(b), a)


def mixer(icon, off, muted, soloed):
    track, cap, line = (grey(TRACK), grey(CAP), grey(CAP_LINE)) if off else (TRACK, CAP, CAP_LINE)
    # Two faders at different heights.
    for x in (2, 6):
        icon.rect(x, 1, x + 1, 15, track)
    for x, cap_top in ((2, 3), (6, 7)):
        icon.rect(x - 1, cap_top, x + 2, cap_top + 3, cap)
        icon.rect(x - 1, cap_top + 1, x + 2, cap_top + 2, line, rim=False)
    if off:
        icon.fade(OFF_OPACITY)
    if muted:
        icon.rect(9, 0, 16, 7, MUTE, rim=False, radius=1.2)
        icon.letter("M", 10, 1, INK)
    if soloed:
        icon.rect(9, 9, 16, 16, SOLO, rim=False, radius=1.2)
        icon.letter("S", 10, 10, INK)
    if off:
        icon.power(0, 7)


def plugin(icon, bypassed, off):
    box, face, knob, led = (grey(BOX), grey(BOX_FACE), grey(KNOB), grey(LED, 1.0)) if off else (BOX, BOX_FACE, KNOB, LED)
    # Signal in and out.
    icon.rect(0, 9, 3, 11, TRACK)
    icon.rect(13, 9, 16, 11, TRACK)
    # The module: a box with two knobs and a lamp.
    icon.rect(3, 5, 13, 15, box, radius=1.0)
    icon.rect(4, 6, 12, 8, face, rim=False)
    icon.disc(5.5, 11.5, 1.5, knob)
    icon.disc(10.5, 11.5, 1.5, knob)
    icon.rect(10, 6, 12, 8, led, rim=False)
    if off:
        icon.fade(OFF_OPACITY)
    if bypassed:
        # The signal's way around the box: up from the input, across, down to the output.
        icon.rect(0, 1, 2, 9, BYPASS)
        icon.rect(0, 1, 15, 3, BYPASS)
        icon.rect(13, 1, 15, 7, BYPASS)
        # Redraw the joints without the rims that cross them.
        icon.rect(0, 1, 2, 9, BYPASS, rim=False)
        icon.rect(0, 1, 15, 3, BYPASS, rim=False)
        icon._fill(lambda x, y: abs(x - 14.0) <= (y - 5.0) * 1.0 + 0.01 and 5.0 <= y <= 8.5, RIM, 10, 4, 16, 10)
        icon._fill(lambda x, y: abs(x - 14.0) <= (y - 5.5) * 0.9 and 5.5 <= y <= 8.0, BYPASS, 10, 4, 16, 10)
    if off:
        icon.power(0, 7)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "share", "icons", "slot-status.png")
    canvas = Canvas(SIZE * COUNT, SIZE)
    for index in range(8):
        mixer(Icon(canvas, index), off=bool(index & 4), muted=bool(index & 2), soloed=bool(index & 1))
    for index in range(4):
        plugin(Icon(canvas, 8 + index), bypassed=bool(index & 1), off=bool(index & 2))
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with open(out, "wb") as f:
        f.write(canvas.png())


if __name__ == "__main__":
    main()
