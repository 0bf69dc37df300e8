#!/usr/bin/env python3
"""Draws Varnock.ico: the adapter (plug, body with a bus signal and two
lights, two bus wires) at 32x32 and 16x16, 16 colours each. Run it from anywhere; it writes
Varnock.ico beside itself. The pictures are the text grids below."""
import pathlib
import struct

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
# Grid letters: '.' is transparent, the rest name palette entries.
COLOURS = {'K': 0, 'N': 4, 'G': 8, 'S': 7, 'L': 10, 'Y': 11, 'B': 12, 'A': 14, 'W': 15}

ICON_32 = """
................................
................................
................................
................................
................................
................................
................................
.........KKKKKKKKKKKKKKKK.......
........KAAAAAAAAAAAAAAAAK......
........KABBBBBBBBBBBBBBBNK.....
........KABBBBBBBBBBBBBBBNK.....
.KKKKKKKKABBBBBBBBBBBBBBBNKKK...
.KSSSSSSKABBWWWWWBBBBWWWBNKGK...
.KSSSSSSKABBWBBBWBBBBWBBBNKGKYYY
.KSGGSSSKABBWBBBWBBBBWBBBNKGKYYY
.KSSSSSSKABBWBBBWBBBBWBBBNKGK...
.KSSSSSSKABBWBBBWBBBBWBBBNKGK...
.KSGGSSSKABBWBBBWBBBBWBBBNKGKLLL
.KSSSSSSKAWWWBBBWWWWWWBBBNKGKLLL
.KSSSSSSKABBBBBBBBBBBBBBBNKGK...
.KKKKKKKKABBBBBBBBBBBBBBBNKKK...
........KABBBBBBBBBBBBBBBNK.....
........KABBBBBBBBBBBBBBBNK.....
........KABBBLLBBBBYYBBBBNK.....
........KABBBLLBBBBYYBBBBNK.....
........KABBBBBBBBBBBBBBBNK.....
........KNNNNNNNNNNNNNNNNNK.....
.........KKKKKKKKKKKKKKKKK......
................................
................................
................................
................................
"""

ICON_16 = """
................
................
................
....KKKKKKKKK...
...KAAAAAAAAAK..
KKKKABBBBBBBNKK.
KSSKABWWWBBBNKKY
KSGKABWBWBBBNKK.
KSSKABWBWBBBNKKL
KSGKAWWBWWWBNKK.
KKKKABBBBBBBNKK.
...KABBBBBBBNK..
...KNNNNNNNNNK..
....KKKKKKKKK...
................
................
"""


def parse(grid, size):
    rows = [line for line in grid.strip('\n').split('\n')]
    assert len(rows) == size, (size, len(rows))
    for row in rows:
        assert len(row) == size, (size, row)
        assert all(c == '.' or c in COLOURS for c in row), row
    return rows


def icon_image(rows):
    """One icon image: BITMAPINFOHEADER (double height), palette, 4-bit
    pixels bottom-up, then the 1-bit transparency mask."""
    size = len(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    pixels = bytearray()
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(rows):
        line = bytearray()
        for x in range(0, size, 2):
            hi = COLOURS.get(row[x], 0)
            lo = COLOURS.get(row[x + 1], 0)
            line.append(hi << 4 | lo)
        line.extend(b'\0' * (-len(line) % 4))
        pixels += line
        bits = bytearray(mask_stride)
        for x, c in enumerate(row):
            if c == '.':
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + palette + bytes(pixels) + bytes(mask)


def main():
    images = [icon_image(parse(ICON_32, 32)), icon_image(parse(ICON_16, 16))]
    sizes = [32, 16]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    out += b''.join(images)
    path = pathlib.Path(__file__).with_name('Varnock.ico')
    path.write_bytes(out)
    print(f'{path}: {len(out)} bytes')


if __name__ == '__main__':
    main()
