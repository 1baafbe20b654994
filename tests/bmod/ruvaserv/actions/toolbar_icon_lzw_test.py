#!/usr/bin/env python3
"""The toolbar image generator's GIF encoder, decoded independently.

usage: toolbar_icon_lzw_test.py make_toolbar_icons.py

The built images are flat and never fill the LZW code table; random pixels
do, so the clear code and the 12-bit width are checked here.
"""
import importlib.util
import random
import sys
import unittest


def load_generator(path):
    spec = importlib.util.spec_from_file_location("make_toolbar_icons", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def image_data(gif):
    """(min code size, LZW bytes) of a one-frame GIF without extensions."""
    flags = gif[10]
    pos = 13 + 3 * (2 << (flags & 7))
    assert gif[pos] == 0x2C, "image descriptor expected"
    pos += 10
    min_code_size = gif[pos]
    pos += 1
    data = bytearray()
    while gif[pos]:
        data += gif[pos + 1:pos + 1 + gif[pos]]
        pos += gif[pos] + 1
    assert gif[pos + 1:] == b"\x3b", "trailer must end the file"
    return min_code_size, bytes(data)


def lzw_decode(min_code_size, data):
    """Pixels, clear codes seen and the widest code read."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    width, bit, clears, widest = min_code_size + 1, 0, 0, 0
    table, previous, out = None, None, []
    while True:
        if bit + width > len(data) * 8:
            raise ValueError("no end code")
        code = 0
        for i in range(width):
            code |= (data[(bit + i) >> 3] >> ((bit + i) & 7) & 1) << i
        bit += width
        widest = max(widest, width)
        if code == clear:
            clears += 1
            table = [[i] for i in range(clear)] + [None, None]
            width, previous = min_code_size + 1, None
            continue
        if code == end:
            break
        if code < len(table):
            entry = table[code]
        elif code == len(table) and code < 4096:
            entry = table[previous] + table[previous][:1]
        else:
            raise ValueError(f"code {code} beyond table of {len(table)}")
        out += entry
        if previous is not None and len(table) < 4096:
            table.append(table[previous] + entry[:1])
            if len(table) == 1 << width and width < 12:
                width += 1
        previous = code
    if (bit + 7) // 8 != len(data):
        raise ValueError("bytes after the end code")
    return out, clears, widest


class LzwRoundTrip(unittest.TestCase):
    def roundtrip(self, pixels, colours):
        palette = [(i, i, i) for i in range(colours)]
        gif, _ = GEN.gif(len(pixels), 1, palette, pixels)
        got, clears, widest = lzw_decode(*image_data(gif))
        self.assertEqual(got, pixels)
        return clears, widest

    def test_random_pixels_at_code_boundaries(self):
        rng = random.Random(21)
        for colours in (2, 4, 16, 256):
            for length in (1, 2, 3, 254, 255, 256, 4093, 4096, 4097, 30000):
                with self.subTest(colours=colours, length=length):
                    self.roundtrip([rng.randrange(colours) for _ in range(length)], colours)

    def test_full_table_is_cleared_at_twelve_bits(self):
        rng = random.Random(7)
        clears, widest = self.roundtrip([rng.randrange(4) for _ in range(60000)], 4)
        self.assertGreater(clears, 2, "the table never filled")
        self.assertEqual(widest, 12)

    def test_flat_runs_of_every_short_length(self):
        # Somewhere among them the table reaches a power of two just before
        # the end code, which must then be one bit wider.
        for length in list(range(1, 400)) + [65535]:
            with self.subTest(length=length):
                self.roundtrip([1] * length, 2)


if __name__ == "__main__":
    GEN = load_generator(sys.argv.pop(1))
    unittest.main()
