#!/usr/bin/python3
"""Draws the pictures of the resource collection:

  resources/img/main_frame.png      742 x 509, with alpha: the window frame
  resources/img/scanning.jpg        108 x 108: turning ring of the search page
  resources/img/status_success.jpg  120 x 120: check mark
  resources/img/status_error.jpg    108 x 108: circle with a cross
  resources/img/step_1.jpg          155 x 155: unit linked by USB to a laptop
  resources/img/step_2.jpg          155 x 155: rocker switch being switched on
  resources/img/talvo.jpg           532 x 382: a flash unit from the side
  resources/fmw/s/logo.jpg          532 x 364: the model-S unit
  resources/fmw/l/logo.jpg          528 x 360: the model-L unit

Everything is drawn from geometry here, four times oversized and then scaled down for clean
edges; the texts use the collection's own fonts (run gen_fonts.py first). Needs Debian's
python3-pil, which neither the build nor the tests need, so it is not in
tools/install-deps.sh. Run by hand from the repository root and commit the output:

    /usr/bin/python3 tools/assets/gen_pictures.py
"""

import math
import os

from PIL import Image, ImageDraw, ImageFilter, ImageFont

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SS = 4  # oversampling factor

CYAN = (38, 198, 232)
BLACK = (0, 0, 0)


def font(cut, size):
    return ImageFont.truetype(os.path.join(ROOT, "resources", "font", "DINOT-%s.otf" % cut), size)


def hex_rgb(text):
    return tuple(int(text[i:i + 2], 16) for i in (1, 3, 5))


def mix(c0, c1, t):
    return tuple(int(round(a + (b - a) * t)) for a, b in zip(c0, c1))


def save_jpeg(img, *path):
    full = os.path.join(ROOT, *path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    img.convert("RGB").save(full, "JPEG", quality=93, subsampling=0, optimize=False)


def canvas(w, h):
    return Image.new("RGB", (w * SS, h * SS), BLACK)


def shrink(img, w, h):
    return img.resize((w, h), Image.LANCZOS)


def square_picture(size, name):
    """Makes the decorated function draw(d, size) a picture of size x size pixels: it draws at SS
    times that on a blank canvas, which is shrunk and saved as resources/img/<name>."""
    def wrap(draw):
        def make():
            img = canvas(size, size)
            draw(ImageDraw.Draw(img), size)
            save_jpeg(shrink(img, size, size), "resources", "img", name)
        return make
    return wrap


# --- Window frame ------------------------------------------------------------------------

def main_frame():
    w, h = 742, 509
    img = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    top, bottom = hex_rgb("#579BB7"), hex_rgb("#3C6B7E")
    for y in range(0, 77):
        d.line([(0, y), (w - 1, y)], fill=mix(top, bottom, y / 76.0) + (255,))
    top, bottom = hex_rgb("#151A1D"), hex_rgb("#1E262A")
    for y in range(429, 509):
        d.line([(0, y), (w - 1, y)], fill=mix(top, bottom, (y - 429) / 79.0) + (255,))

    # Caption at the left, drawn on the opaque band so its edges blend into the gradient.
    header = img.crop((0, 0, w, 77)).convert("RGB")
    hd = ImageDraw.Draw(header)
    caption = font("Bold", 25)
    hd.text((26, 38), "UPDATE CENTER", font=caption, fill=(255, 255, 255), anchor="lm")

    # Word mark at the right: a flash emblem in a ring, then the maker's name.
    mark = font("Black", 21)
    name = "QUELLMARK"
    tracking = 3
    widths = [hd.textlength(ch, font=mark) for ch in name]
    text_w = sum(widths) + tracking * (len(name) - 1)
    x = w - 26 - text_w
    for ch, cw in zip(name, widths):
        hd.text((x, 39), ch, font=mark, fill=(255, 255, 255), anchor="lm")
        x += cw + tracking
    emblem = Image.new("L", (40 * SS, 40 * SS), 0)
    ed = ImageDraw.Draw(emblem)
    ed.ellipse([2 * SS, 2 * SS, 38 * SS, 38 * SS], outline=255, width=3 * SS)
    bolt = [(22, 8), (12, 22), (19, 22), (16, 32), (28, 17), (21, 17), (24, 8)]
    ed.polygon([(px * SS, py * SS) for px, py in bolt], fill=255)
    emblem = emblem.resize((40, 40), Image.LANCZOS)
    ex = int(w - 26 - text_w - 52)
    header.paste((255, 255, 255), (ex, 19), emblem)
    img.paste(header, (0, 0))

    img.save(os.path.join(ROOT, "resources", "img", "main_frame.png"), "PNG", optimize=True)


# --- Status and progress marks -----------------------------------------------------------

def scanning():
    size = 108
    img = Image.new("RGB", (size * SS, size * SS), BLACK)
    px = img.load()
    c = size * SS / 2.0
    r_mid, half = 45 * SS, 2.6 * SS
    blue = (40, 140, 255)
    for y in range(size * SS):
        for x in range(size * SS):
            dx, dy = x + 0.5 - c, y + 0.5 - c
            dist = math.hypot(dx, dy)
            if abs(dist - r_mid) > half:
                continue
            # Brightest at twelve o'clock, fading clockwise round to a dim tail.
            angle = (math.atan2(dx, -dy) / (2 * math.pi)) % 1.0
            level = 0.12 + 0.88 * (1.0 - angle) ** 1.6
            px[x, y] = tuple(int(v * level) for v in blue)
    img = shrink(img, size, size)
    # A soft glow around the bright head of the ring.
    glow = img.filter(ImageFilter.GaussianBlur(3))
    img = Image.blend(img, glow, 0.3)
    img = Image.eval(img, lambda v: min(255, int(v * 1.3)))
    save_jpeg(img, "resources", "img", "scanning.jpg")


@square_picture(120, "status_success.jpg")
def status_success(d, _size):
    green = (59, 196, 107)
    points = [(26, 62), (50, 86), (95, 36)]
    pts = [(x * SS, y * SS) for x, y in points]
    d.line(pts, fill=green, width=11 * SS, joint="curve")
    for x, y in pts[::2]:
        rad = 5.5 * SS
        d.ellipse([x - rad, y - rad, x + rad, y + rad], fill=green)


@square_picture(108, "status_error.jpg")
def status_error(d, size):
    red = (228, 52, 52)
    m = 8 * SS
    d.ellipse([m, m, size * SS - m, size * SS - m], outline=red, width=7 * SS)
    a, b = 36 * SS, 72 * SS
    for line in ([(a, a), (b, b)], [(a, b), (b, a)]):
        d.line(line, fill=red, width=8 * SS)
        for x, y in line:
            rad = 4 * SS
            d.ellipse([x - rad, y - rad, x + rad, y + rad], fill=red)


# --- Step drawings -----------------------------------------------------------------------

def s(points):
    return [(x * SS, y * SS) for x, y in points]


def r(x0, y0, x1, y1):
    return [x0 * SS, y0 * SS, x1 * SS, y1 * SS]


@square_picture(155, "step_1.jpg")
def step_1(d, _size):
    lw = 2 * SS
    # The flash unit, upright at the left: head, neck, body, foot.
    d.rounded_rectangle(r(14, 34, 52, 58), 3 * SS, outline=CYAN, width=lw)
    d.line(s([(47, 38), (47, 54)]), fill=CYAN, width=lw)
    d.rectangle(r(27, 58, 39, 64), outline=CYAN, width=lw)
    d.rounded_rectangle(r(18, 64, 48, 112), 3 * SS, outline=CYAN, width=lw)
    d.rounded_rectangle(r(23, 70, 43, 82), 2 * SS, outline=CYAN, width=lw)
    for y in (90, 97, 104):
        d.ellipse(r(31, y, 35, y + 4), outline=CYAN, width=lw)
    d.rectangle(r(25, 112, 41, 120), outline=CYAN, width=lw)
    # USB port on the body's side, then the cable as a dashed curve to the laptop.
    d.rectangle(r(48, 86, 52, 92), outline=CYAN, width=lw)
    curve = []
    for i in range(41):
        t = i / 40.0
        x = 52 + (100 - 52) * t
        y = 89 + 22 * math.sin(math.pi * t) * 0.9 - (89 - 102) * t
        curve.append((x, y))
    for i in range(0, 40, 4):
        d.line(s(curve[i:i + 3]), fill=CYAN, width=lw)
    label = font("Bold", 11 * SS)
    d.text((76 * SS, 82 * SS), "USB", font=label, fill=CYAN, anchor="mm")
    # The laptop at the right: screen and keyboard base.
    d.polygon(s([(100, 60), (140, 60), (140, 96), (100, 96)]), outline=CYAN, width=lw)
    d.rectangle(r(104, 64, 136, 92), outline=CYAN, width=lw // 2)
    d.polygon(s([(96, 100), (144, 100), (150, 108), (90, 108)]), outline=CYAN, width=lw)
    d.line(s([(98, 96), (96, 100)]), fill=CYAN, width=lw)
    d.line(s([(142, 96), (144, 100)]), fill=CYAN, width=lw)
    d.line(s([(112, 104), (128, 104)]), fill=CYAN, width=lw)


@square_picture(155, "step_2.jpg")
def step_2(d, _size):
    lw = 2 * SS
    # Housing of the switch and the rocker pressed down on its "I" side.
    d.rounded_rectangle(r(40, 58, 116, 118), 8 * SS, outline=CYAN, width=lw)
    rocker = s([(50, 86), (106, 72), (106, 104), (50, 104)])
    d.polygon(rocker, outline=CYAN, width=lw)
    d.line(s([(78, 79), (78, 104)]), fill=CYAN, width=lw)
    d.line(s([(64, 88), (64, 100)]), fill=CYAN, width=3 * SS)     # "I"
    d.ellipse(r(86, 83, 98, 97), outline=CYAN, width=3 * SS)  # "O"
    # Curved arrow over the switch, turning from the "O" side to the "I" side.
    cx, cy, radius = 78, 66, 34
    arc = [(cx + radius * math.cos(math.radians(a)), cy - radius * math.sin(math.radians(a)) * 0.7)
           for a in range(25, 150, 5)]
    d.line(s(arc), fill=CYAN, width=lw, joint="curve")
    tip = arc[-1]
    d.polygon(s([(tip[0] - 6, tip[1] - 7), (tip[0] + 4, tip[1] + 1), (tip[0] - 9, tip[1] + 6)]),
              fill=CYAN)
    label = font("Bold", 11 * SS)
    d.text((78 * SS, 136 * SS), "ON", font=label, fill=CYAN, anchor="mm")


# --- The flash unit ----------------------------------------------------------------------

def gradient_fill(img, box, radius, c0, c1, horizontal=False):
    """Fills a rounded box with a linear gradient from c0 to c1."""
    x0, y0, x1, y1 = [int(v) for v in box]
    w, h = x1 - x0, y1 - y0
    mask = Image.new("L", (w, h), 0)
    ImageDraw.Draw(mask).rounded_rectangle([0, 0, w - 1, h - 1], radius, fill=255)
    grad = Image.linear_gradient("L").resize((256, 256))
    grad = grad.rotate(90, expand=True).transpose(Image.FLIP_LEFT_RIGHT) if horizontal else grad
    grad = grad.resize((w, h))
    fill = Image.composite(Image.new("RGB", (w, h), c1), Image.new("RGB", (w, h), c0), grad)
    img.paste(fill, (x0, y0), mask)


def flash_unit(w, h, model, big):
    """A flash unit from the side under soft studio light, with its reflection on the floor."""
    img = Image.new("RGB", (w * SS, h * SS), BLACK)
    d = ImageDraw.Draw(img)
    k = SS * h / 364.0
    cx = w * SS / 2.0

    def box(x0, y0, x1, y1):
        return [cx + x0 * k, y0 * k, cx + x1 * k, y1 * k]

    head_w = 270 if big else 240
    head_h = 96 if big else 86
    body_w = 150 if big else 136
    body_h = 156 if big else 146
    head_top = 30
    # The head reaches forward (to the right) over the body, as seen from the side.
    head = box(-head_w * 0.4, head_top, head_w * 0.6, head_top + head_h)
    neck = box(-26, head[3] / k - 2, 26, head[3] / k + 16)
    body = box(-body_w / 2, neck[3] / k, body_w / 2, neck[3] / k + body_h)
    foot = box(-36, body[3] / k, 36, body[3] / k + 14)
    floor = foot[3]

    dark, mid, light = (34, 36, 40), (62, 66, 72), (104, 110, 118)
    gradient_fill(img, head, 16 * k, light, dark)
    gradient_fill(img, neck, 4 * k, mid, dark, horizontal=True)
    gradient_fill(img, body, 16 * k, light, dark, horizontal=True)
    gradient_fill(img, foot, 3 * k, (150, 152, 156), (70, 72, 76), horizontal=True)

    # Fresnel window on the head's front (right) end and its ribs.
    lens = [head[2] - 30 * k, head[1] + 8 * k, head[2] - 8 * k, head[3] - 8 * k]
    gradient_fill(img, lens, 5 * k, (226, 230, 236), (150, 156, 166))
    step = 6 * k
    y = lens[1] + step
    while y < lens[3] - 2 * k:
        d.line([(lens[0] + 2 * k, y), (lens[2] - 2 * k, y)], fill=(196, 200, 208), width=max(1, int(k)))
        y += step
    # Pivot, battery door seam, control panel and the labels.
    pr = 10 * k
    px, py = cx, head[3] - 16 * k
    d.ellipse([px - pr, py - pr, px + pr, py + pr], outline=(130, 136, 144), width=int(2 * k))
    d.rounded_rectangle([body[0] + 12 * k, body[1] + 70 * k, body[2] - 12 * k, body[3] - 12 * k],
                        8 * k, outline=(24, 25, 28), width=int(2 * k))
    d.rounded_rectangle([body[0] + 14 * k, body[1] + 14 * k, body[2] - 14 * k, body[1] + 44 * k],
                        5 * k, fill=(14, 20, 24), outline=(90, 96, 104), width=int(k))
    d.text((cx, body[1] + 29 * k), "READY", font=font("Bold", int(11 * k)), fill=(80, 200, 120),
           anchor="mm")
    d.text((cx, body[1] + 57 * k), model, font=font("Medium", int(12 * k)), fill=(170, 176, 184),
           anchor="mm")
    d.text((head[0] + 22 * k, head[1] + 30 * k), "QUELLMARK", font=font("Black", int(18 * k)),
           fill=(214, 218, 224), anchor="lm")
    d.line([(head[0] + 22 * k, head[1] + 46 * k), (head[0] + 96 * k, head[1] + 46 * k)],
           fill=(232, 120, 40) if big else (40, 150, 232), width=int(3 * k))
    # Rim light along the top edges.
    for part in (head, body):
        d.line([(part[0] + 14 * k, part[1] + k), (part[2] - 14 * k, part[1] + k)],
               fill=(170, 176, 186), width=max(1, int(k)))

    # Mirror image on a glossy black floor, fading out.
    unit = img.crop((0, 0, w * SS, int(floor)))
    mirror = unit.transpose(Image.FLIP_TOP_BOTTOM)
    room = h * SS - int(floor)
    if room > 0:
        mirror = mirror.crop((0, 0, w * SS, room))
        fade = Image.linear_gradient("L").resize((w * SS, room))
        fade = Image.eval(fade, lambda v: int((255 - v) * 0.28))
        img.paste(Image.new("RGB", (w * SS, room), BLACK), (0, int(floor)))
        img.paste(mirror, (0, int(floor)), fade)
    return shrink(img, w, h)


def main():
    os.makedirs(os.path.join(ROOT, "resources", "img"), exist_ok=True)
    main_frame()
    scanning()
    status_success()
    status_error()
    step_1()
    step_2()
    save_jpeg(flash_unit(532, 382, "TALVO", False), "resources", "img", "talvo.jpg")
    save_jpeg(flash_unit(532, 364, "TALVO 400 S", False), "resources", "fmw", "s", "logo.jpg")
    save_jpeg(flash_unit(528, 360, "TALVO 800 L", True), "resources", "fmw", "l", "logo.jpg")


if __name__ == "__main__":
    main()
