#!/usr/bin/env python3
"""Writes the program's icon: one 32x32 image in 16 colours (4 bits per pixel).

    make_icon.py OUTPUT.ico

The picture is drawn here from a few shapes rather than stored as a binary: a
strip of film with perforated edges around a frame holding a play triangle.
"""
import struct
import sys

SIZE = 32

# The standard 16-colour palette (B, G, R, reserved per entry in the file).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GRAY, LIGHT_GRAY, WHITE = 0, 8, 7, 15
BLUE, CYAN, YELLOW, RED = 12, 14, 11, 9


def draw():
    """Returns (pixels, transparent): 32 rows of palette indices, top row first."""
    pixels = [[BLACK] * SIZE for _ in range(SIZE)]
    transparent = [[True] * SIZE for _ in range(SIZE)]

    def put(x, y, colour):
        pixels[y][x] = colour
        transparent[y][x] = False

    # Film strip: rows 3..28, dark with light perforations along both edges.
    for y in range(3, 29):
        for x in range(0, SIZE):
            put(x, y, DARK_GRAY if y in (3, 28) else BLACK)
    for x in range(2, SIZE - 1, 5):
        for dx in range(3):
            for y in (5, 6, 25, 26):
                put(x + dx, y, LIGHT_GRAY)
    # The frame: a blue-to-cyan picture area.
    for y in range(9, 23):
        for x in range(3, 29):
            put(x, y, BLUE if y < 16 else CYAN)
    # Play triangle, pointing right, with a white edge.
    for y in range(10, 22):
        half = min(y - 10, 21 - y)
        for x in range(12, 13 + half):
            put(x, y, YELLOW)
        put(13 + half, y, WHITE)
    # A red record dot in the corner.
    for y in range(19, 22):
        for x in range(23, 26):
            put(x, y, RED)
    return pixels, transparent


def ico_bytes(pixels, transparent):
    xor_stride = SIZE // 2  # two pixels per byte, rows a multiple of 4 bytes
    and_stride = 4          # 32 mask bits per row
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0,
                         SIZE * (xor_stride + and_stride), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bitmaps are stored bottom row first
        row = pixels[y]
        for x in range(0, SIZE, 2):
            xor.append((row[x] << 4) | row[x + 1])
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if transparent[y][x] else 0)
        mask += struct.pack(">I", bits)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    data = ico_bytes(*draw())
    with open(sys.argv[1], "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main()
