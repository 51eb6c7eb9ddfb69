#!/usr/bin/env python3
"""Makes the Windows window's pictures from the PNG files in ui/images (Python's standard
library only): the logos as 24-bit bitmaps (LogoEng.bmp, LogoRus.bmp, 215 x 90) for the BITMAP
resources of ZV8810_FWU.exe, and the About button's and the program's icons as .ico files with
32-bit (alpha) images. The results are committed beside the PNG files; run this again after a
PNG changed:

    scripts/windows-images.py
"""
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
IMAGES = os.path.join(HERE, "..", "ui", "images")


def read_png(path):
    """Returns (width, height, rows of RGBA tuples) of an 8-bit RGB or RGBA, non-interlaced PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        sys.exit(f"{path}: only 8-bit RGB or RGBA non-interlaced PNG files are read")
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            upper_left = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - upper_left
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - upper_left)
                predictor = left if pa <= pb and pa <= pc else (up if pb <= pc else upper_left)
                line[i] = (line[i] + predictor) & 0xFF
        rows.append([tuple(line[x * channels:(x + 1) * channels]) + ((255,) if channels == 3 else ())
                     for x in range(width)])
        previous = line
    return width, height, rows


def bmp_24(width, height, rows):
    """A bottom-up 24-bit Windows bitmap file."""
    stride = (width * 3 + 3) & ~3
    pixels = b""
    for row in reversed(rows):
        line = b"".join(bytes((b, g, r)) for r, g, b, _ in row)
        pixels += line + b"\0" * (stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def ico_32(width, height, rows):
    """An icon file with one 32-bit image (alpha) and its AND mask."""
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask_stride = ((width + 31) // 32) * 4
    mask = b""
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    info = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, len(pixels) + len(mask),
                       0, 0, 0, 0)
    image = info + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack(
        "<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + image


def main():
    jobs = [("LogoEng.png", "LogoEng.bmp", bmp_24), ("LogoRus.png", "LogoRus.bmp", bmp_24),
            ("AboutIcon.png", "AboutIcon.ico", ico_32), ("zv8810-fwu.png", "zv8810-fwu.ico", ico_32)]
    for source, target, make in jobs:
        width, height, rows = read_png(os.path.join(IMAGES, source))
        with open(os.path.join(IMAGES, target), "wb") as f:
            f.write(make(width, height, rows))
        print(f"{target}: {width} x {height}")


if __name__ == "__main__":
    main()
