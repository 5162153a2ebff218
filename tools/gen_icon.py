#!/usr/bin/env python3
"""Draws the application icon (a small camera) and writes resources/veltrane.ico.

Standard library only. The icon holds the sizes Windows picks at 100 %, 150 %
and 200 %: 16, 24 and 32 for small icons, 32, 48 and 64 for large ones; 32 bits
per pixel with an alpha channel, each stored as a DIB with its AND mask.
Run: python3 tools/gen_icon.py [output.ico]
"""
import pathlib
import struct
import sys

BODY = (0x3A, 0x46, 0x55, 0xFF)
BODY_EDGE = (0x1E, 0x25, 0x2E, 0xFF)
LENS_RING = (0xC8, 0xD0, 0xD8, 0xFF)
LENS = (0x2B, 0x5C, 0x9E, 0xFF)
GLINT = (0xF0, 0xF6, 0xFF, 0xFF)
FLASH = (0xF2, 0xB1, 0x34, 0xFF)
CLEAR = (0, 0, 0, 0)


def draw(size):
    """Returns rows (top first) of RGBA tuples for a camera of this size."""
    s = size / 32.0
    pixels = [[CLEAR] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                if 0 <= x < size and 0 <= y < size:
                    pixels[y][x] = colour

    def disc(cx, cy, r, colour):
        for y in range(size):
            for x in range(size):
                dx = (x + 0.5) - cx * s
                dy = (y + 0.5) - cy * s
                if dx * dx + dy * dy <= (r * s) ** 2:
                    pixels[y][x] = colour

    rect(10, 5, 20, 10, BODY_EDGE)       # viewfinder hump
    rect(2, 8, 30, 28, BODY_EDGE)        # body outline
    rect(3, 9, 29, 27, BODY)             # body
    rect(23, 11, 27, 14, FLASH)          # flash window
    disc(15, 18, 8, LENS_RING)
    disc(15, 18, 6, LENS)
    disc(13, 16, 1.8, GLINT)
    return pixels


def dib(size):
    pixels = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(pixels):  # DIBs run bottom-up
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(xor) + bytes(mask)


def icon(sizes):
    images = [dib(size) for size in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


def main():
    root = pathlib.Path(__file__).resolve().parent.parent
    target = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else root / "resources" / "veltrane.ico"
    target.write_bytes(icon([64, 48, 32, 24, 16]))


if __name__ == "__main__":
    main()
