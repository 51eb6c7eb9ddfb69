#!/usr/bin/env python3
"""Turns 24-bit bottom-up Windows bitmaps (the Windows window's pictures) into PNG files, with
Python's standard library only:  scripts/bmp-to-png.py IN.bmp OUT.png [IN.bmp OUT.png ...]"""
import struct
import sys
import zlib


def convert(source, target):
    with open(source, "rb") as f:
        data = f.read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24:
        sys.exit(f"{source}: only 24-bit bitmaps are read")
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        line = y if height < 0 else abs(height) - 1 - y
        start = offset + line * stride
        bgr = data[start:start + width * 3]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = bgr[2::3], bgr[1::3], bgr[0::3]
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
    with open(target, "wb") as f:
        f.write(png)


args = sys.argv[1:]
if not args or len(args) % 2:
    sys.exit(__doc__)
for i in range(0, len(args), 2):
    convert(args[i], args[i + 1])
