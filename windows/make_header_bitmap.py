"""Draws the header picture of the about dialog as a 24-bit BMP.

Usage: make_header_bitmap.py OUTPUT.bmp

A blue panel with a white envelope on the left, white behind the product
labels on the right (they are painted with a white background), and a blue
rule along the bottom. Pure standard library, so the build needs nothing else.
"""
import struct
import sys

WIDTH, HEIGHT = 470, 62  # 313 x 38 dialog units at 8-point MS Sans Serif
PANEL = 110  # ends before the labels, which start at 103 dialog units


def draw():
    white = (255, 255, 255)
    pixels = [[white] * WIDTH for _ in range(HEIGHT)]

    for y in range(HEIGHT):
        t = y / (HEIGHT - 1)
        shade = (int(30 + 40 * t), int(70 + 60 * t), int(140 + 70 * t))
        for x in range(PANEL):
            pixels[y][x] = shade
        # Fade from the panel into the white area.
        for x in range(PANEL, PANEL + 36):
            k = (x - PANEL) / 36
            pixels[y][x] = tuple(int(c + (255 - c) * k) for c in shade)

    # Envelope: outline and flap.
    left, top, right, bottom = 40, 14, 94, 46
    for x in range(left, right + 1):
        for y in (top, top + 1, bottom - 1, bottom):
            pixels[y][x] = white
    for y in range(top, bottom + 1):
        for x in (left, left + 1, right - 1, right):
            pixels[y][x] = white
    mid = (left + right) // 2
    depth = (bottom - top) * 3 // 5
    for x in range(left, right + 1):
        y = top + depth - abs(x - mid) * depth // (mid - left)
        for dy in (0, 1):
            if top <= y + dy <= bottom:
                pixels[y + dy][x] = white

    # Motion strokes leaving the envelope.
    for row, length in ((22, 24), (31, 32), (40, 20)):
        for x in range(left - 8 - length, left - 8):
            pixels[row][x] = (200, 220, 245)

    # Rule along the bottom edge.
    for y in (HEIGHT - 3, HEIGHT - 2):
        for x in range(WIDTH):
            pixels[y][x] = (40, 90, 170)
    return pixels


def write_bmp(path, pixels):
    row_size = (WIDTH * 3 + 3) & ~3
    image_size = row_size * HEIGHT
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + image_size, 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, image_size, 2835, 2835, 0, 0)
    rows = []
    for y in range(HEIGHT - 1, -1, -1):  # bottom-up
        row = bytearray()
        for r, g, b in pixels[y]:
            row += bytes((b, g, r))
        row += b"\0" * (row_size - len(row))
        rows.append(bytes(row))
    with open(path, "wb") as out:
        out.write(header + info + b"".join(rows))


if __name__ == "__main__":
    write_bmp(sys.argv[1], draw())
