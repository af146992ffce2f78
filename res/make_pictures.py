#!/usr/bin/env python3
"""Remakes the two pictures of the updater from nothing but a font:

  logo.bmp  the maker's name on a plate, 1772 x 263, 24 bits per pixel, bottom-up,
            uncompressed; everything around the plate is pure green, which the
            dialog paints as transparent.
  app.ico   the application icon in 16, 32, 48, 64 and 128 pixels, each a 32-bit
            DIB image with alpha and AND mask (no PNG-compressed images, which
            older loaders cannot read).

ImageMagick renders the lettering as coverage masks; this script does the rest
and writes both files byte by byte, so their layout does not depend on how a
given ImageMagick version writes BMP or ICO files.
"""
import pathlib
import struct
import subprocess
import sys

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
HERE = pathlib.Path(__file__).resolve().parent

KEY_GREEN = (0, 255, 0)
PLATE = (18, 42, 86)
LETTERING = (255, 255, 255)

LOGO_WIDTH, LOGO_HEIGHT = 1772, 263
PLATE_LEFT, PLATE_TOP, PLATE_RIGHT, PLATE_BOTTOM = 262, 20, 1510, 243
PLATE_RADIUS = 44

ICON_SIZES = (16, 32, 48, 64, 128)


def text_mask(width, height, text, pointsize, kerning=0):
    """Coverage of white lettering centred on black, one byte per pixel."""
    raw = subprocess.run(
        ["convert", "-size", f"{width}x{height}", "xc:black", "-font", FONT,
         "-pointsize", str(pointsize), "-kerning", str(kerning), "-fill", "white",
         "-gravity", "center", "-annotate", "+0+0", text, "-depth", "8", "gray:-"],
        check=True, capture_output=True).stdout
    if len(raw) != width * height:
        sys.exit(f"convert returned {len(raw)} bytes for a {width}x{height} mask")
    return raw


def inside_rounded_rect(x, y, left, top, right, bottom, radius):
    """Whether the point lies inside the rectangle [left, right) x [top, bottom)
    with corners rounded by radius."""
    if not (left <= x < right and top <= y < bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def blend(a, b, coverage):
    return tuple(round(a[i] + (b[i] - a[i]) * coverage / 255) for i in range(3))


def make_logo():
    mask = text_mask(LOGO_WIDTH, LOGO_HEIGHT, "TAVELIN", 168, 18)
    pixels = []  # rows top-down, (r, g, b)
    for y in range(LOGO_HEIGHT):
        row = []
        for x in range(LOGO_WIDTH):
            # The plate has hard edges: a blended edge pixel would be neither the
            # key nor the plate and would show as a green fringe.
            if inside_rounded_rect(x + 0.5, y + 0.5, PLATE_LEFT, PLATE_TOP, PLATE_RIGHT,
                                   PLATE_BOTTOM, PLATE_RADIUS):
                row.append(blend(PLATE, LETTERING, mask[y * LOGO_WIDTH + x]))
            else:
                if mask[y * LOGO_WIDTH + x]:
                    sys.exit("the lettering does not fit on the plate")
                row.append(KEY_GREEN)
        pixels.append(row)

    stride = (LOGO_WIDTH * 3 + 3) & ~3
    body = bytearray()
    for row in reversed(pixels):  # bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        body += line + bytes(stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, LOGO_WIDTH, LOGO_HEIGHT, 1, 24, 0, len(body), 2835,
                       2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(body), 0, 0, 14 + len(info))
    (HERE / "logo.bmp").write_bytes(header + info + body)

    green = sum(row.count(KEY_GREEN) for row in pixels)
    print(f"logo.bmp: {LOGO_WIDTH}x{LOGO_HEIGHT}, {green} of {LOGO_WIDTH * LOGO_HEIGHT} "
          f"pixels transparent green")


def icon_image(size):
    """One icon image as a DIB: header, BGRA rows bottom-up, AND mask."""
    mask = text_mask(size, size, "T", round(size * 0.78))
    radius = size * 0.22
    samples = 4
    rows = []  # top-down, (b, g, r, a)
    for y in range(size):
        row = []
        for x in range(size):
            hits = sum(
                inside_rounded_rect(x + (i + 0.5) / samples, y + (j + 0.5) / samples, 0, 0, size,
                                    size, radius)
                for i in range(samples) for j in range(samples))
            alpha = round(255 * hits / (samples * samples))
            if alpha == 0:
                row.append((0, 0, 0, 0))
                continue
            r, g, b = blend(PLATE, LETTERING, mask[y * size + x])
            row.append((b, g, r, alpha))
        rows.append(row)

    colour = b"".join(bytes(p) for row in reversed(rows) for p in row)
    and_stride = ((size + 31) // 32) * 4
    and_mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(and_stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_mask += bits
    # The DIB height counts colour and mask together, as icon images do.
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                       len(colour) + len(and_mask), 0, 0, 0, 0)
    return info + colour + bytes(and_mask)


def make_icon():
    images = [icon_image(size) for size in ICON_SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, image in zip(ICON_SIZES, images):
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image),
                               offset)
        offset += len(image)
    (HERE / "app.ico").write_bytes(directory + entries + b"".join(images))
    print("app.ico: " + ", ".join(f"{s}x{s} ({len(i)} bytes)" for s, i in zip(ICON_SIZES, images)))


if __name__ == "__main__":
    make_logo()
    make_icon()
