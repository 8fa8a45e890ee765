#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Draws the program's artwork and writes it as XPM (compiled into the program) and PNG
(the desktop icon) and ICO (the Windows program file's icon): the product picture, the logo,
the error and OK pictures of the "Info" window and the program icon.

Run with Debian's python3 (python3-pil):  /usr/bin/python3 app/resources/make_artwork.py
Every picture is drawn at four times its size and scaled down, so edges are smooth. The
window's pictures are written twice: at their 100 % size (NAME.xpm) and at HIDPI times it
(NAME_2x.xpm), which FLTK 1.4 shows at the 100 % size on a normal screen and pixel for pixel
on a 200 % one; FLTK 1.3, which does not scale, shows the 100 % drawing.
"""
import math
import os
import sys

from PIL import Image, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
ICON_DIR = os.path.join(ROOT, "packaging", "icons")

ACCENT_RED = (0xD9, 0x28, 0x19)
OK_GREEN = (0x00, 0x9B, 0x00)
WHITE = (255, 255, 255)
SS = 4  # supersampling factor
# The high-density drawings are HIDPI times the 100 % size (app/windows.cpp: kArtworkScale).
HIDPI = 2
FONT_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"

# XPM pixel keys: printable characters without '"' and '\\'.
KEY_CHARS = ("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
             "#$%&*+-.:;<=>?@[]^_`{|}~")


# ---- helpers ---------------------------------------------------------------------------

def mix(c0, c1, t):
    t = max(0.0, min(1.0, t))
    return tuple(int(round(a + (b - a) * t)) for a, b in zip(c0, c1))


def gradient(size, c0, c1, direction):
    """An RGB image running from c0 to c1 along direction (dx, dy)."""
    w, h = size
    dx, dy = direction
    n = math.hypot(dx, dy) or 1.0
    dx, dy = dx / n, dy / n
    corners = [x * dx + y * dy for x in (0, w) for y in (0, h)]
    lo, hi = min(corners), max(corners)
    img = Image.new("RGB", size)
    px = img.load()
    # Colour per projection step; a lookup keeps this fast enough for 600x800.
    steps = 512
    lut = [mix(c0, c1, i / (steps - 1)) for i in range(steps)]
    span = (hi - lo) or 1.0
    for y in range(h):
        base = y * dy
        for x in range(w):
            t = (x * dx + base - lo) / span
            px[x, y] = lut[int(t * (steps - 1))]
    return img


def fill_poly(img, poly, c0, c1=None, direction=(0, 1)):
    """Fills a polygon with a flat colour or a linear gradient."""
    mask = Image.new("L", img.size, 0)
    ImageDraw.Draw(mask).polygon([(x, y) for x, y in poly], fill=255)
    box = mask.getbbox()
    if not box:
        return
    if c1 is None:
        img.paste(Image.new("RGB", img.size, c0), (0, 0), mask)
        return
    x0, y0, x1, y1 = box
    g = gradient((x1 - x0, y1 - y0), c0, c1, direction)
    full = Image.new("RGB", img.size)
    full.paste(g, (x0, y0))
    img.paste(full, (0, 0), mask)


def rotate(points, pivot, degrees):
    a = math.radians(degrees)
    ca, sa = math.cos(a), math.sin(a)
    px, py = pivot
    return [(px + (x - px) * ca - (y - py) * sa, py + (x - px) * sa + (y - py) * ca)
            for x, y in points]


# Placement of the drawing in its picture: zoom about a centre, then shift.
PLACE = {"zoom": 1.0, "cx": 0.0, "cy": 0.0, "dx": 0.0, "dy": 0.0}


def place(x, y):
    z = PLACE["zoom"]
    return ((x - PLACE["cx"]) * z + PLACE["cx"] + PLACE["dx"],
            (y - PLACE["cy"]) * z + PLACE["cy"] + PLACE["dy"])


def scale(points, f=SS):
    """Places and scales a point list, or a flat (x0, y0, x1, y1) box, to the drawing
    resolution."""
    if points and not isinstance(points[0], (tuple, list)):
        x0, y0 = place(points[0], points[1])
        x1, y1 = place(points[2], points[3])
        return [x0 * f, y0 * f, x1 * f, y1 * f]
    return [tuple(v * f for v in place(x, y)) for x, y in points]


def rounded_rect_poly(x0, y0, x1, y1, r, steps=8):
    pts = []
    for cx, cy, a0 in ((x1 - r, y0 + r, -90), (x1 - r, y1 - r, 0), (x0 + r, y1 - r, 90),
                       (x0 + r, y0 + r, 180)):
        for i in range(steps + 1):
            a = math.radians(a0 + 90 * i / steps)
            pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return pts


def downsample(img, size):
    return img.resize(size, Image.LANCZOS)


def write_xpm(img, name, path, colors=256):
    """Writes img as an XPM C array (two characters per pixel), quantized to colors."""
    img = img.convert("RGB")
    used = img.getcolors(1 << 16)
    if used is None or len(used) > colors:
        img = img.quantize(colors=colors, method=Image.MEDIANCUT, dither=Image.NONE).convert("RGB")
        used = img.getcolors(1 << 16)
    palette = sorted(c for _, c in used)
    keys = {}
    for i, c in enumerate(palette):
        keys[c] = KEY_CHARS[i // len(KEY_CHARS)] + KEY_CHARS[i % len(KEY_CHARS)]
    w, h = img.size
    lines = [f"{w} {h} {len(palette)} 2"]
    lines += [f"{keys[c]}\tc #{c[0]:02X}{c[1]:02X}{c[2]:02X}" for c in palette]
    px = img.load()
    for y in range(h):
        lines.append("".join(keys[px[x, y]] for x in range(w)))
    with open(path, "w", encoding="ascii") as f:
        f.write("/* XPM */\n")
        f.write(f"/* {os.path.basename(path)}: generated by make_artwork.py, do not edit */\n")
        f.write(f"static const char* const {name}[] = {{\n")
        f.write(",\n".join(f'"{l}"' for l in lines))
        f.write("\n};\n")


# ---- product picture: a hot-shoe speedlight with its head tilted up ----------------------

def draw_product():
    W, H = 157, 189
    PLACE.update(zoom=1.06, cx=76, cy=120, dx=2, dy=-4)
    img = Image.new("RGB", (W * SS, H * SS), ACCENT_RED)

    # Soft shadow on the floor below the unit.
    shadow = Image.new("L", img.size, 0)
    ImageDraw.Draw(shadow).ellipse(scale((34, 172, 124, 186)), fill=150)
    shadow = shadow.filter(ImageFilter.GaussianBlur(5 * SS))
    img.paste(Image.new("RGB", img.size, (0x7A, 0x12, 0x0A)), (0, 0), shadow)

    # Colours of the black, slightly satin plastic.
    front_hi, front_lo = (0x4A, 0x4C, 0x52), (0x26, 0x27, 0x2B)
    side_hi, side_lo = (0x30, 0x31, 0x36), (0x12, 0x12, 0x15)
    top_hi, top_lo = (0x5C, 0x5E, 0x66), (0x3A, 0x3B, 0x41)

    # Hot-shoe foot: metal plate and the locking wheel.
    fill_poly(img, scale([(50, 172), (98, 172), (102, 178), (46, 178)]),
              (0xD6, 0xD9, 0xDE), (0x6A, 0x6E, 0x75), (1, 0.3))
    fill_poly(img, scale([(52, 165), (96, 165), (98, 172), (50, 172)]), (0x1A, 0x1A, 0x1D))
    fill_poly(img, scale(rounded_rect_poly(56, 160, 92, 168, 3)),
              (0x55, 0x57, 0x5E), (0x1C, 0x1C, 0x20), (0, 1))
    d = ImageDraw.Draw(img)
    for i in range(7):  # knurled edge of the locking wheel
        x = (59 + i * 5) * SS
        d.line([(x, 161 * SS), (x, 167 * SS)], fill=(0x6B, 0x6E, 0x76), width=SS // 2)

    # Body: front face (towards the subject) and side face, seen three-quarter.
    body_front = [(36, 100), (74, 96), (74, 162), (36, 160)]
    body_side = [(74, 96), (112, 102), (112, 160), (74, 162)]
    fill_poly(img, scale(body_front), front_hi, front_lo, (0.3, 1))
    fill_poly(img, scale(body_side), side_hi, side_lo, (1, 0.4))
    # Rounded vertical edge between the faces: a thin highlight.
    fill_poly(img, scale([(72.5, 96.2), (75.5, 96.4), (75.5, 162), (72.5, 162)]),
              (0x8E, 0x91, 0x99), (0x3C, 0x3E, 0x44), (0, 1))
    # AF-assist window: deep red, glossy.
    fill_poly(img, scale([(42, 121), (68, 118.5), (68, 137), (42, 138)]),
              (0x8C, 0x10, 0x0C), (0x3A, 0x05, 0x04), (0.2, 1))
    fill_poly(img, scale([(43.5, 122), (66, 120), (66, 123.5), (43.5, 125.5)]),
              (0xE0, 0x6A, 0x5E), (0x9A, 0x1C, 0x14), (1, 0))
    # Battery door seam and grip ribs on the side face.
    d = ImageDraw.Draw(img)
    d.line(scale([(78, 112), (108, 116.5)]), fill=(0x0A, 0x0A, 0x0C), width=SS)
    d.line(scale([(78, 113.2), (108, 117.7)]), fill=(0x45, 0x47, 0x4D), width=SS // 2)
    for i in range(5):
        y = 128 + i * 5
        d.line(scale([(82, y), (104, y + 2.8)]), fill=(0x3C, 0x3E, 0x44), width=SS)
        d.line(scale([(82, y + 1.2), (104, y + 4)]), fill=(0x0C, 0x0C, 0x0E), width=SS // 2)
    # Power switch, a small green ready lamp on the side.
    fill_poly(img, scale(rounded_rect_poly(96, 142, 106, 150, 2)), (0x55, 0x58, 0x60), (0x22, 0x23, 0x27))
    d.ellipse(scale((84, 143, 89, 148)), fill=(0x2F, 0xC8, 0x46))
    d.ellipse(scale((85, 143.6, 87, 145.6)), fill=(0xC8, 0xFF, 0xD0))
    # Top shoulder of the body.
    fill_poly(img, scale([(36, 100), (74, 96), (112, 102), (112, 104), (74, 98.5), (36, 102.5)]),
              top_hi, top_lo, (1, 0))

    # Swivel neck between body and head: a short column and the tilt hinge.
    fill_poly(img, scale([(62, 84), (104, 88), (104, 100), (62, 98)]),
              (0x3A, 0x3B, 0x41), (0x14, 0x14, 0x17), (1, 0))
    fill_poly(img, scale([(62, 84), (104, 88), (104, 90), (62, 86)]),
              (0x6A, 0x6C, 0x74), (0x40, 0x41, 0x47), (1, 0))
    d = ImageDraw.Draw(img)
    d.ellipse(scale((94, 84, 108, 98)), fill=(0x22, 0x23, 0x27))
    d.ellipse(scale((97, 87, 105, 95)), fill=(0x58, 0x5A, 0x62))

    # Head, tilted up by 28 degrees about the hinge at the back of the neck.
    pivot = (101, 91)
    tilt = 28   # clockwise on screen: the front of the head goes up

    def head(poly):
        return scale(rotate(poly, pivot, tilt))

    head_side = [(52, 52), (114, 52), (114, 90), (52, 90)]
    head_front = [(30, 56), (52, 52), (52, 90), (30, 86)]
    head_top = [(30, 56), (52, 52), (114, 52), (92, 56)]
    fill_poly(img, head(head_side), side_hi, side_lo, (1, 0.6))
    fill_poly(img, head(head_top), top_hi, top_lo, (1, 0))
    # Fresnel window: a pale diffuser with fine horizontal ridges.
    fill_poly(img, head(head_front), (0xF6, 0xF6, 0xF4), (0xB4, 0xB8, 0xBE), (0.2, 1))
    d = ImageDraw.Draw(img)
    for i in range(1, 10):
        t = i / 10
        y_left = 56 + (86 - 56) * t
        y_right = 52 + (90 - 52) * t
        d.line(head([(31, y_left), (51.5, y_right)]), fill=(0xA8, 0xAC, 0xB2), width=SS // 2)
        d.line(head([(31, y_left + 0.6), (51.5, y_right + 0.6)]), fill=(0xFF, 0xFF, 0xFF),
               width=SS // 3)
    # Frame of the window and the edge highlight of the head.
    d.line(head([(30, 56), (52, 52), (52, 90), (30, 86), (30, 56)]), fill=(0x1B, 0x1B, 0x1E),
           width=SS)
    d.line(head([(53, 52.6), (114, 52.6)]), fill=(0x90, 0x93, 0x9B), width=SS // 2)
    # Bounce card slot and the brand strip on the head's side.
    d.line(head([(60, 56), (108, 56)]), fill=(0x0C, 0x0C, 0x0E), width=SS)
    fill_poly(img, head([(62, 76), (100, 76), (100, 80), (62, 80)]),
              (0xD9, 0x28, 0x19), (0x9A, 0x1A, 0x10), (0, 1))
    # Hinge cap on the head's side.
    d.ellipse(scale((96, 85, 106, 95)), fill=(0x1A, 0x1A, 0x1D))
    d.ellipse(scale((98.5, 87.5, 103.5, 92.5)), fill=(0x7A, 0x7D, 0x85))
    # Tilt scale marks near the hinge.
    for i in range(4):
        a = math.radians(-150 - 18 * i)
        x0, y0 = 101 + 7 * math.cos(a), 91 + 7 * math.sin(a)
        x1, y1 = 101 + 9 * math.cos(a), 91 + 9 * math.sin(a)
        d.line(scale([(x0, y0), (x1, y1)]), fill=(0xB0, 0xB3, 0xBA), width=SS // 2)

    PLACE.update(zoom=1.0, cx=0.0, cy=0.0, dx=0.0, dy=0.0)   # the other pictures are unplaced
    return img


# ---- logo: the family word ---------------------------------------------------------------

def draw_logo():
    W, H = 130, 41
    img = Image.new("RGB", (W * SS, H * SS), ACCENT_RED)
    d = ImageDraw.Draw(img)
    word = "varnoflex"
    size = 26 * SS
    font = ImageFont.truetype(FONT_BOLD, size)
    while d.textlength(word, font=font) > 116 * SS:
        size -= SS // 2
        font = ImageFont.truetype(FONT_BOLD, size)
    tw = d.textlength(word, font=font)
    x = (W * SS - tw) / 2
    bbox = d.textbbox((0, 0), word, font=font)
    y = (31 * SS - (bbox[3] - bbox[1])) / 2 - bbox[1] + 2 * SS
    d.text((x, y), word, font=font, fill=WHITE)
    # A thin rule under the word with a short bright flash at its right end.
    d.rectangle((x, 34 * SS, x + tw - 14 * SS, 35 * SS), fill=WHITE)
    d.polygon([(x + tw - 12 * SS, 32.5 * SS), (x + tw, 34.5 * SS), (x + tw - 12 * SS, 36.5 * SS)],
              fill=WHITE)
    return img


# ---- result pictures ---------------------------------------------------------------------

def draw_error():
    S = 32
    img = Image.new("RGB", (S * SS, S * SS), WHITE)
    d = ImageDraw.Draw(img)
    tri = [(16, 2.5), (30, 28.5), (2, 28.5)]
    # Grey shadow, black edge, yellow face.
    d.polygon(scale([(x + 0.8, y + 0.8) for x, y in tri]), fill=(0xA0, 0xA0, 0xA0))
    d.polygon(scale(tri), fill=(0x20, 0x20, 0x20))
    inner = [(16, 5.6), (27.4, 26.8), (4.6, 26.8)]
    fill_poly(img, scale(inner), (0xFF, 0xE4, 0x3A), (0xF2, 0xB8, 0x00), (0, 1))
    d = ImageDraw.Draw(img)
    d.polygon(scale([(14.6, 11), (17.4, 11), (16.7, 20.5), (15.3, 20.5)]), fill=(0, 0, 0))
    d.ellipse(scale((14.5, 22, 17.5, 25)), fill=(0, 0, 0))
    return img


def draw_ok():
    S = 32
    img = Image.new("RGB", (S * SS, S * SS), WHITE)
    d = ImageDraw.Draw(img)
    pts = scale([(5, 17), (12.5, 24.5), (27, 8)])
    d.line(pts, fill=OK_GREEN, width=5 * SS, joint="curve")
    for x, y in (pts[0], pts[2]):  # round line ends
        r = 2.5 * SS
        d.ellipse((x - r, y - r, x + r, y + r), fill=OK_GREEN)
    return img


# ---- program icon ------------------------------------------------------------------------

def draw_icon(size):
    """A white speedlight with its head tilted up and light rays, on a red rounded square."""
    U = 128  # drawing units; scaled to size
    f = size * SS / U
    img = Image.new("RGBA", (size * SS, size * SS), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)

    def sc(poly):
        return [(x * f, y * f) for x, y in poly]

    d.rounded_rectangle((2 * f, 2 * f, 126 * f, 126 * f), radius=22 * f,
                        fill=ACCENT_RED + (255,))
    white = (255, 255, 255, 255)
    d.rectangle(sc([(48, 62), (84, 104)]), fill=white)                  # body
    d.rectangle(sc([(54, 104), (78, 110)]), fill=white)                 # foot
    d.rectangle(sc([(44, 110), (88, 116)]), fill=white)                 # shoe
    head = rotate([(34, 34), (92, 34), (92, 62), (34, 62)], (88, 62), 24)
    d.polygon(sc(head), fill=white)                                     # head
    d.rectangle(sc([(62, 56), (84, 64)]), fill=white)                   # neck
    win = rotate([(34, 37), (44, 37), (44, 59), (34, 59)], (88, 62), 24)
    d.polygon(sc(win), fill=(0xFF, 0xD8, 0x40, 255))                    # lit window
    cx, cy = rotate([(30, 48)], (88, 62), 24)[0]
    for a in (-30, 0, 30):                                              # rays
        r0, r1 = 8, 22
        t = math.radians(180 + 24 + a)
        d.line(sc([(cx + r0 * math.cos(t), cy + r0 * math.sin(t)),
                   (cx + r1 * math.cos(t), cy + r1 * math.sin(t))]),
               fill=(0xFF, 0xD8, 0x40, 255), width=max(1, int(7 * f)))
    return img.resize((size, size), Image.LANCZOS)


def write_rgba_header(icons, path):
    """Writes the window icon's sizes as RGBA arrays and the list of them (kWindowIcons)."""
    with open(path, "w", encoding="ascii") as f:
        f.write("// Program icon pixels (RGBA): generated by make_artwork.py, do not edit.\n")
        f.write("#pragma once\n\n")
        for img in icons:
            s = img.size[0]
            data = img.tobytes()
            f.write(f"inline constexpr int kIcon{s}Size = {s};\n")
            f.write(f"inline constexpr unsigned char kIcon{s}Rgba[] = {{\n")
            for i in range(0, len(data), 16):
                f.write("    " + ", ".join(str(b) for b in data[i:i + 16]) + ",\n")
            f.write("};\n\n")
        f.write("struct IconPixels {\n    int size;\n    const unsigned char* rgba;\n};\n\n")
        f.write("// Every size of the window icon, smallest first.\n")
        f.write("inline constexpr IconPixels kWindowIcons[] = {\n")
        for img in icons:
            s = img.size[0]
            f.write(f"    {{kIcon{s}Size, kIcon{s}Rgba}},\n")
        f.write("};\n")


# ---- what is written where ---------------------------------------------------------------

# The window's pictures: XPM array name and drawing (each drawn at SS times its 100 % size).
PICTURES = (
    ("product", draw_product),
    ("logo", draw_logo),
    ("error", draw_error),
    ("ok", draw_ok),
)
# The window icon (Linux: handed to the window manager, which picks a size): 32 and 48 at
# 100 %, and the same at HIDPI times for high-density panels and title bars.
WINDOW_ICON_SIZES = (32, 48)
# The desktop entry's icons (packaging/icons/hicolor).
DESKTOP_ICON_SIZES = (32, 48, 128, 256)


def write_picture(name, drawing):
    """NAME.xpm at the 100 % size and NAME_2x.xpm at HIDPI times it, from one drawing."""
    w, h = drawing.width // SS, drawing.height // SS
    write_xpm(downsample(drawing, (w, h)), f"{name}_xpm", os.path.join(HERE, f"{name}.xpm"))
    write_xpm(downsample(drawing, (w * HIDPI, h * HIDPI)), f"{name}_{HIDPI}x_xpm",
              os.path.join(HERE, f"{name}_{HIDPI}x.xpm"))


# Sizes of the Windows icon: the shell's small and large icons at 100 % and 150 % scaling,
# the 48 x 48 of Explorer's medium icons and the 256 x 256 of its large ones.
ICO_SIZES = (16, 24, 32, 48, 256)


def write_ico(path, sizes=ICO_SIZES):
    """Writes the program icon as a Windows .ico with one image per size, each drawn at its
    own size: 32-bit DIBs with an AND mask (what every Windows version and resource tool
    reads) and the 256 x 256 one as PNG, as Windows does since Vista. The bytes depend on
    the drawing only."""
    import io
    import struct
    entries = []
    for s in sizes:
        img = draw_icon(s)
        if s >= 256:
            out = io.BytesIO()
            img.save(out, format="PNG")
            data = out.getvalue()
        else:
            rows = [img.crop((0, y, s, y + 1)).tobytes("raw", "BGRA") for y in range(s)]
            mask_stride = ((s + 31) // 32) * 4
            mask_rows = []
            for y in range(s):
                bits = bytearray(mask_stride)
                for x in range(s):
                    if img.getpixel((x, y))[3] == 0:   # fully transparent
                        bits[x // 8] |= 0x80 >> (x % 8)
                mask_rows.append(bytes(bits))
            # Bottom-up rows; the height counts the colour and the mask bitmap.
            pixels = b"".join(reversed(rows)) + b"".join(reversed(mask_rows))
            data = struct.pack("<IiiHHIIiiII", 40, s, 2 * s, 1, 32, 0, len(pixels),
                               0, 0, 0, 0) + pixels
        entries.append((s, data))
    offset = 6 + 16 * len(entries)
    head = struct.pack("<HHH", 0, 1, len(entries))
    for s, data in entries:
        side = 0 if s >= 256 else s
        head += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(head + b"".join(data for _, data in entries))


def main():
    for name, draw in PICTURES:
        write_picture(name, draw())
    icon32 = draw_icon(32)
    on_white = Image.alpha_composite(Image.new("RGBA", (32, 32), WHITE + (255,)), icon32)
    write_xpm(on_white, "icon_xpm", os.path.join(HERE, "icon.xpm"))
    sizes = sorted(set(WINDOW_ICON_SIZES) | {s * HIDPI for s in WINDOW_ICON_SIZES})
    write_rgba_header([draw_icon(s) for s in sizes], os.path.join(HERE, "icon_rgba.h"))
    # The Windows programs carry the icon in all its sizes as resources (varnoflex-update.rc).
    write_ico(os.path.join(HERE, "varnoflex-update.ico"))
    for s in DESKTOP_ICON_SIZES:
        d = os.path.join(ICON_DIR, "hicolor", f"{s}x{s}", "apps")
        os.makedirs(d, exist_ok=True)
        draw_icon(s).save(os.path.join(d, "varnoflex-update.png"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
