# SPDX-License-Identifier: MIT
"""What a 200 % screen makes of the window: coordinates scaled from FLTK's units to screen
pixels, the program's artwork as drawn, and whether a picture's edges are sharp."""
import os
import re

from PIL import Image, ImageChops, ImageStat

SCALE = 2   # 192 dpi: twice the 96-dpi size
RESOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "app",
                         "resources")

ACCENT_RED = (0xD9, 0x28, 0x19)
WHITE = (255, 255, 255)
OK_GREEN = (0x00, 0x9B, 0x00)

# Where the pictures' top left corners lie at 100 %, about: the logo box's blank label pushes
# its picture 3 units right; the "Info" window's picture sits above its box's blank label, a
# little higher or lower with the font.
LOGO_AT = (470, 35)
RESULT_PICTURE_AT = (19, 36)


def scaled(value):
    """A point, box or size in FLTK's units as screen pixels at SCALE."""
    return tuple(v * SCALE for v in value)


def read_xpm(name):
    """One of the program's XPM pictures (app/resources/NAME.xpm) as an RGB image."""
    with open(os.path.join(RESOURCES, name + ".xpm"), encoding="ascii") as f:
        strings = re.findall(r'"((?:[^"\\]|\\.)*)"', f.read())
    width, height, count, chars = map(int, strings[0].split()[:4])
    colours = {}
    for line in strings[1:1 + count]:
        key, fields = line[:chars], line[chars:].split()
        colours[key] = tuple(int(fields[1][i:i + 2], 16) for i in (1, 3, 5))
    img = Image.new("RGB", (width, height))
    img.putdata([colours[row[x * chars:(x + 1) * chars]]
                 for row in strings[1 + count:1 + count + height] for x in range(width)])
    return img


# A picture's edges are sharp when most of them are crossed in at most one pixel of a colour
# in between ground and ink. Along every row and every column of the picture, each pixel is
# ground (at most LOW of the way from the ground colour to the ink colour), ink (at least
# HIGH of the way) or in between; a crossing is a run of in-between pixels from ground to ink
# or back, and it is sharp when that run is 0 or 1 pixels long. Drawn for its size, the logo
# has 95 % sharp crossings at 100 % and 94 % at 200 %, the check mark 96 % at both. Enlarged
# from the 100 % drawing to 200 %, the logo has 25 % (nearest neighbour: every in-between
# pixel doubled), 0 % (bilinear), 9 % (bicubic), 40 % (Lanczos); the check mark 5 % or less.
# SHARP_SHARE lies between.
LOW, HIGH = 0.15, 0.85
SHARP_SHARE = 0.8


def _crossings(values):
    lengths, side, run = [], None, 0
    for v in values:
        if LOW < v < HIGH:
            run += 1
            continue
        now = "ink" if v >= HIGH else "ground"
        if side is not None and now != side:
            lengths.append(run)
        side, run = now, 0
    return lengths


def sharp_share(img, ground, ink):
    """(share of sharp crossings, number of crossings) of a picture drawn in ink on ground."""
    axis = [i - g for g, i in zip(ground, ink)]
    norm = sum(a * a for a in axis)
    w, h = img.size
    px = img.convert("RGB").load()
    share = [[sum((c - g) * a for c, g, a in zip(px[x, y], ground, axis)) / norm
              for x in range(w)] for y in range(h)]
    lengths = []
    for row in share:
        lengths += _crossings(row)
    for x in range(w):
        lengths += _crossings([share[y][x] for y in range(h)])
    if not lengths:
        return 0.0, 0
    return sum(1 for n in lengths if n <= 1) / len(lengths), len(lengths)


def locate(img, picture, near, slack):
    """Where picture shows in img, its top left corner searched within slack pixels of near:
    ((x, y), mean difference per colour channel there)."""
    best = None
    for y in range(near[1] - slack, near[1] + slack + 1):
        for x in range(near[0] - slack, near[0] + slack + 1):
            part = img.crop((x, y, x + picture.width, y + picture.height))
            diff = sum(ImageStat.Stat(ImageChops.difference(part, picture)).mean) / 3
            if best is None or diff < best[1]:
                best = ((x, y), diff)
    return best
