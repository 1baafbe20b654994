#!/usr/bin/env python3
"""Draws the toolbar images of toolbar_icons.tsv as GIF89a files and writes
them as a C++ source: byte arrays and the kToolbarIcons table in namespace
ruva (mangled names only; see tests/common/check_no_c_symbols.sh).

usage: make_toolbar_icons.py TABLE.tsv OUTPUT.cpp

Each image is a flat fill inside a one-pixel border, in colours taken from
its name: the state variants of one button (_enabled, _pressed, _disable)
share a hue and differ in lightness, so each look is told apart on the page.
The 1x1 spacers are one transparent pixel.
"""

import colorsys
import sys
import zlib

ICON_COUNT = 153
ACTION_MAX = 88  # ToolbarIcon::action holds 89 characters with the NUL
SPACERS = ("a_space", "space")
STATES = ("enabled", "pressed", "disable", "disabled")

MAX_CODE_BITS = 12
MAX_CODES = 1 << MAX_CODE_BITS


def read_table(path):
    rows = []
    with open(path, encoding="ascii") as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) != 4:
                sys.exit(f"{path}:{lineno}: expected number, name, width, height")
            number, name, width, height = fields[0], fields[1], fields[2], fields[3]
            if not (number.isdigit() and width.isdigit() and height.isdigit()):
                sys.exit(f"{path}:{lineno}: number, width and height are decimal")
            if not name.isidentifier() or len(name) > ACTION_MAX:
                sys.exit(f"{path}:{lineno}: bad name {name!r}")
            number, width, height = int(number), int(width), int(height)
            if number != len(rows) + 1:
                sys.exit(f"{path}:{lineno}: image {len(rows) + 1} expected, {number} found")
            # The logical screen holds 16-bit sizes; a spacer is the smallest image.
            if not (1 <= width <= 0xFFFF and 1 <= height <= 0xFFFF):
                sys.exit(f"{path}:{lineno}: size out of range")
            rows.append((number, name, width, height))
    if len(rows) != ICON_COUNT:
        sys.exit(f"{path}: {ICON_COUNT} images expected, {len(rows)} found")
    return rows


def split_state(name):
    base, _, last = name.rpartition("_")
    if base and last in STATES:
        return base, last
    return name, ""


def rgb(h, s, v):
    return tuple(round(c * 255) for c in colorsys.hsv_to_rgb(h, s, v))


def colours(name):
    """(fill, border) of the image called name."""
    base, state = split_state(name)
    hue = (zlib.crc32(base.encode()) % 360) / 360.0
    if state == "enabled":
        return rgb(hue, 0.20, 1.00), rgb(hue, 0.80, 0.55)
    if state == "pressed":
        return rgb(hue, 0.65, 0.55), rgb(hue, 0.30, 0.15)
    if state.startswith("disable"):
        return (208, 208, 208), (150, 150, 150)
    return rgb(hue, 0.45, 0.85), rgb(hue, 0.60, 0.35)


def draw(width, height):
    """Palette indices, row by row: 1 on the border, 0 inside."""
    edge = [1] * width
    inner = [1] + [0] * (width - 2) + [1] if width > 1 else [1]
    pixels = []
    for y in range(height):
        pixels.extend(edge if y in (0, height - 1) else inner)
    return pixels


class BitWriter:
    """GIF packs codes least significant bit first."""

    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.nbits = 0

    def put(self, code, width):
        self.acc |= code << self.nbits
        self.nbits += width
        while self.nbits >= 8:
            self.out.append(self.acc & 0xFF)
            self.acc >>= 8
            self.nbits -= 8

    def finish(self):
        if self.nbits:
            self.out.append(self.acc & 0xFF)
        return bytes(self.out)


def lzw_encode(pixels, min_code_size):
    """GIF's variable-width LZW. A code is written with the width the decoder
    will read it at: the decoder adds its table entry one code later than the
    encoder, so the width follows the encoder's next free code, not the one
    after it. When the table holds 4096 codes a clear code starts it again."""
    clear = 1 << min_code_size
    end = clear + 1
    bits = BitWriter()

    def width_for(next_code):
        w = min_code_size + 1
        while w < MAX_CODE_BITS and next_code > (1 << w):
            w += 1
        return w

    table = {}
    next_code = end + 1
    bits.put(clear, min_code_size + 1)
    prefix = pixels[0]
    for pixel in pixels[1:]:
        code = table.get((prefix, pixel))
        if code is not None:
            prefix = code
            continue
        bits.put(prefix, width_for(next_code))
        if next_code < MAX_CODES:
            table[(prefix, pixel)] = next_code
            next_code += 1
        else:
            bits.put(clear, MAX_CODE_BITS)
            table = {}
            next_code = end + 1
        prefix = pixel
    bits.put(prefix, width_for(next_code))
    # The decoder has added an entry for the last code by the time it reads
    # the end code.
    bits.put(end, width_for(min(next_code + 1, MAX_CODES)))
    return bits.finish()


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def gif(width, height, palette, pixels, transparent=None):
    """A GIF89a file; palette holds a power of two entries, 2 or more."""
    size_bits = (len(palette) - 1).bit_length()  # entries = 2 ** size_bits
    assert len(palette) == 1 << size_bits and size_bits >= 1
    out = bytearray(b"GIF89a")
    out += width.to_bytes(2, "little") + height.to_bytes(2, "little")
    out.append(0x80 | (size_bits - 1) << 4 | (size_bits - 1))
    out += bytes((0, 0))  # background index, no aspect ratio
    for r, g, b in palette:
        out += bytes((r, g, b))
    if transparent is not None:
        # Graphic Control Extension: no disposal, no delay, transparent index set.
        out += bytes((0x21, 0xF9, 4, 0x01, 0, 0, transparent, 0))
    out.append(0x2C)
    out += bytes(4) + width.to_bytes(2, "little") + height.to_bytes(2, "little")
    out.append(0)  # no local colour table, not interlaced
    min_code_size = max(2, size_bits)
    out.append(min_code_size)
    out += sub_blocks(lzw_encode(pixels, min_code_size))
    out.append(0x3B)
    return bytes(out), len(palette)


def make_icon(name, width, height):
    if name in SPACERS:
        return gif(width, height, [(255, 255, 255), (0, 0, 0)], [0] * (width * height), transparent=0)
    fill, border = colours(name)
    return gif(width, height, [fill, border], draw(width, height))


def write_source(path, rows):
    lines = [
        "// Generated by make_toolbar_icons.py from toolbar_icons.tsv; do not edit.",
        '#include "bmod/ruvaserv/actions/toolbar_icons.h"',
        "",
        "namespace ruva {",
        "namespace {",
        "",
    ]
    entries = []
    for number, name, width, height in rows:
        data, numcolors = make_icon(name, width, height)
        lines.append(f"// {number} {name} ({width}x{height})")
        lines.append(f"const unsigned char kIcon{number}[{len(data)}] = {{")
        for i in range(0, len(data), 24):
            lines.append("    " + ",".join(str(b) for b in data[i:i + 24]) + ",")
        lines.append("};")
        entries.append(f'    {{"{name}", {width}, {height}, {numcolors}, kIcon{number}, sizeof kIcon{number}, "{name}"}},')
    lines += ["", "}  // namespace", "", "const ToolbarIcon kToolbarIcons[kToolbarIconCount] = {"]
    lines += entries
    lines += ["};", "", "}  // namespace ruva", ""]
    with open(path, "w", encoding="ascii") as f:
        f.write("\n".join(lines))


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_toolbar_icons.py TABLE.tsv OUTPUT.cpp")
    write_source(sys.argv[2], read_table(sys.argv[1]))


if __name__ == "__main__":
    main()
