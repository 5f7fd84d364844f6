#!/usr/bin/env python3
"""Draws the stub's icon (IDI_ICON1): a white arrow dropping into a tray on a
blue rounded square, at 16, 32 and 48 px, RGBA.

usage: make_icon.py OUTPUT.ico      write the icon
       make_icon.py --check ICON.ico  exit 1 when ICON.ico is not what this draws

Each image is stored PNG-compressed (Windows Vista and later read that at
every size), which keeps the stub some 13 KB smaller than plain bitmaps. The
output is deterministic: resources/ZuvidaDiroVivuv.ico is this script's output,
and a test checks that the two still agree.
"""
import struct
import sys
import zlib

SIZES = (16, 32, 48)
SUPERSAMPLE = 4
TOP = (0x2E, 0x7D, 0xDB)
BOTTOM = (0x17, 0x45, 0x8C)
WHITE = (0xFF, 0xFF, 0xFF)


def in_rounded_square(x, y, lo=0.03, hi=0.97, radius=0.2):
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_triangle(x, y, a, b, c):
    def side(p, q):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])
    s1, s2, s3 = side(a, b), side(b, c), side(c, a)
    return (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)


def in_rect(x, y, x0, y0, x1, y1):
    return x0 <= x <= x1 and y0 <= y <= y1


def in_glyph(x, y):
    """The arrow and the tray, in unit coordinates (y grows downwards)."""
    shaft = in_rect(x, y, 0.42, 0.14, 0.58, 0.48)
    head = in_triangle(x, y, (0.22, 0.44), (0.78, 0.44), (0.50, 0.70))
    tray = (in_rect(x, y, 0.18, 0.76, 0.82, 0.85)
            or in_rect(x, y, 0.18, 0.60, 0.27, 0.85)
            or in_rect(x, y, 0.73, 0.60, 0.82, 0.85))
    return shaft or head or tray


def pixel(size, px, py):
    """Straight (not premultiplied) BGRA of one pixel, by supersampling."""
    covered = 0
    glyph = 0
    n = SUPERSAMPLE
    for sy in range(n):
        for sx in range(n):
            x = (px + (sx + 0.5) / n) / size
            y = (py + (sy + 0.5) / n) / size
            if in_rounded_square(x, y):
                covered += 1
                if in_glyph(x, y):
                    glyph += 1
    if covered == 0:
        return (0, 0, 0, 0)
    t = (py + 0.5) / size
    back = tuple(round(TOP[i] + (BOTTOM[i] - TOP[i]) * t) for i in range(3))
    mix = glyph / covered
    rgb = tuple(round(back[i] + (WHITE[i] - back[i]) * mix) for i in range(3))
    alpha = round(255 * covered / (n * n))
    return (rgb[2], rgb[1], rgb[0], alpha)


def png_chunk(kind, data):
    body = kind + data
    return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))


def scanlines(size):
    """The PNG's uncompressed data: per row a filter byte (none) and RGBA."""
    raw = bytearray()
    for y in range(size):
        raw.append(0)
        for x in range(size):
            b, g, r, a = pixel(size, x, y)
            raw += bytes((r, g, b, a))
    return bytes(raw)


def image(size):
    """One icon image: a PNG, 8-bit RGBA, no interlace."""
    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + png_chunk(b'IHDR', header)
            + png_chunk(b'IDAT', zlib.compress(scanlines(size), 9)) + png_chunk(b'IEND', b''))


def pixels_of(ico):
    """(width, uncompressed PNG data) of each image in an .ico made here; the
    compressed bytes may differ between zlib versions, the pixels may not."""
    count = struct.unpack_from('<H', ico, 4)[0]
    result = []
    for i in range(count):
        width, _, _, _, _, _, length, offset = struct.unpack_from('<BBBBHHII', ico, 6 + 16 * i)
        png = ico[offset:offset + length]
        idat = b''
        at = 8
        while at < len(png):
            n = struct.unpack_from('>I', png, at)[0]
            if png[at + 4:at + 8] == b'IDAT':
                idat += png[at + 8:at + 8 + n]
            at += 12 + n
        result.append((width, zlib.decompress(idat)))
    return result


def icon():
    images = [image(s) for s in SIZES]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b''.join(images)


def main(argv):
    if len(argv) == 3 and argv[1] == '--check':
        with open(argv[2], 'rb') as f:
            if pixels_of(f.read()) == [(s, scanlines(s)) for s in SIZES]:
                return 0
        sys.stderr.write(argv[2] + ': differs from what make_icon.py draws; run it again\n')
        return 1
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], 'wb') as f:
        f.write(icon())
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
