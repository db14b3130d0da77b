#!/usr/bin/env python3
"""Draws the launcher's skin and writes it into src/res/skin/ (the files launcher.rc names).

Run from anywhere: python3 tools/draw_skin.py [output-dir]. Standard library only; the output is
deterministic (no clock, no unseeded randomness), so the committed bitmaps can be re-made and compared.
Geometry follows the built-in layout texts: start button 20,349 (100 x 99 after stretching), Cancel
335,364, Home Page 138,364, Community 237,364 (94 x 39), bars 141,418 and 141,430 (276 x 7), status
line at 140,340, version line at 20,55, close mark inside x > 580, y < 70.
"""
import math
import os
import struct
import sys

WIDTH, HEIGHT = 649, 489
PANEL_TOP = 326
CORNER_RADIUS = 22.0
START_RECT = (20, 349, 100, 99)
SMALL_BUTTONS = {  # name: (x, y, label, accent colour)
    "home": (138, 364, "Home Page", (110, 190, 235)),
    "community": (237, 364, "Community", (110, 190, 235)),
    "cancel": (335, 364, "Cancel", (232, 112, 92)),
}
SMALL_SIZE = (94, 39)
BAR_SIZE = (276, 7)
FILE_BAR_POS = (141, 418)
TOTAL_BAR_POS = (141, 430)
CLOSE_CENTRE = (617.0, 31.0)

# 5 x 7 body with two descender rows; '#' marks a stroke cell.
GLYPHS = {
    "A": ".###. #...# #...# ##### #...# #...# #...#",
    "B": "####. #...# #...# ####. #...# #...# ####.",
    "C": ".###. #...# #.... #.... #.... #...# .###.",
    "D": "####. #...# #...# #...# #...# #...# ####.",
    "E": "##### #.... #.... ####. #.... #.... #####",
    "F": "##### #.... #.... ####. #.... #.... #....",
    "G": ".###. #...# #.... #.### #...# #...# .####",
    "H": "#...# #...# #...# ##### #...# #...# #...#",
    "I": ".###. ..#.. ..#.. ..#.. ..#.. ..#.. .###.",
    "J": "..### ...#. ...#. ...#. ...#. #..#. .##..",
    "K": "#...# #..#. #.#.. ##... #.#.. #..#. #...#",
    "L": "#.... #.... #.... #.... #.... #.... #####",
    "M": "#...# ##.## #.#.# #.#.# #...# #...# #...#",
    "N": "#...# #...# ##..# #.#.# #..## #...# #...#",
    "O": ".###. #...# #...# #...# #...# #...# .###.",
    "P": "####. #...# #...# ####. #.... #.... #....",
    "Q": ".###. #...# #...# #...# #.#.# #..#. .##.#",
    "R": "####. #...# #...# ####. #.#.. #..#. #...#",
    "S": ".#### #.... #.... .###. ....# ....# ####.",
    "T": "##### ..#.. ..#.. ..#.. ..#.. ..#.. ..#..",
    "U": "#...# #...# #...# #...# #...# #...# .###.",
    "V": "#...# #...# #...# #...# #...# .#.#. ..#..",
    "W": "#...# #...# #...# #.#.# #.#.# #.#.# .#.#.",
    "X": "#...# #...# .#.#. ..#.. .#.#. #...# #...#",
    "Y": "#...# #...# .#.#. ..#.. ..#.. ..#.. ..#..",
    "Z": "##### ....# ...#. ..#.. .#... #.... #####",
    "a": "..... ..... .###. ....# .#### #...# .####",
    "b": "#.... #.... #.##. ##..# #...# #...# ####.",
    "c": "..... ..... .###. #.... #.... #...# .###.",
    "d": "....# ....# .##.# #..## #...# #...# .####",
    "e": "..... ..... .###. #...# ##### #.... .###.",
    "f": "..##. .#..# .#... ###.. .#... .#... .#...",
    "g": "..... ..... .#### #...# #...# #...# .#### ....# .###.",
    "h": "#.... #.... #.##. ##..# #...# #...# #...#",
    "i": "..#.. ..... .##.. ..#.. ..#.. ..#.. .###.",
    "j": "...#. ..... ..##. ...#. ...#. ...#. ...#. #..#. .##..",
    "k": "#.... #.... #..#. #.#.. ##... #.#.. #..#.",
    "l": ".##.. ..#.. ..#.. ..#.. ..#.. ..#.. .###.",
    "m": "..... ..... ##.#. #.#.# #.#.# #...# #...#",
    "n": "..... ..... #.##. ##..# #...# #...# #...#",
    "o": "..... ..... .###. #...# #...# #...# .###.",
    "p": "..... ..... ####. #...# #...# #...# ####. #.... #....",
    "q": "..... ..... .#### #...# #...# #...# .#### ....# ....#",
    "r": "..... ..... #.##. ##..# #.... #.... #....",
    "s": "..... ..... .###. #.... .###. ....# ####.",
    "t": ".#... .#... ###.. .#... .#... .#..# ..##.",
    "u": "..... ..... #...# #...# #...# #..## .##.#",
    "v": "..... ..... #...# #...# #...# .#.#. ..#..",
    "w": "..... ..... #...# #...# #.#.# #.#.# .#.#.",
    "x": "..... ..... #...# .#.#. ..#.. .#.#. #...#",
    "y": "..... ..... #...# #...# #...# #...# .#### ....# .###.",
    "z": "..... ..... ##### ...#. ..#.. .#... #####",
    "0": ".###. #...# #..## #.#.# ##..# #...# .###.",
    "1": "..#.. .##.. ..#.. ..#.. ..#.. ..#.. .###.",
    "2": ".###. #...# ....# ...#. ..#.. .#... #####",
    "3": "##### ...#. ..#.. ...#. ....# #...# .###.",
    "4": "...#. ..##. .#.#. #..#. ##### ...#. ...#.",
    "5": "##### #.... ####. ....# ....# #...# .###.",
    "6": "..##. .#... #.... ####. #...# #...# .###.",
    "7": "##### ....# ...#. ..#.. .#... .#... .#...",
    "8": ".###. #...# #...# .###. #...# #...# .###.",
    "9": ".###. #...# #...# .#### ....# ...#. .##..",
    ".": "..... ..... ..... ..... ..... ..... ..#..",
    "-": "..... ..... ..... .###. ..... ..... .....",
    " ": "",
}
ADVANCE = 6.0  # cells per character: five of body, one of spacing
SPACE_ADVANCE = 4.0


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def smoothstep(e0, e1, v):
    t = clamp((v - e0) / (e1 - e0))
    return t * t * (3 - 2 * t)


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else clamp(((px - ax) * dx + (py - ay) * dy) / length2)
    ex, ey = px - (ax + t * dx), py - (ay + t * dy)
    return math.sqrt(ex * ex + ey * ey)


def rounded_rect_distance(px, py, x0, y0, x1, y1, radius):
    """Signed distance to a rounded rectangle: negative inside."""
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - radius, (y1 - y0) / 2 - radius
    qx, qy = abs(px - cx) - hx, abs(py - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


class Canvas:
    """RGB raster of floats 0..255, row 0 at the top."""

    def __init__(self, width, height, colour=(0, 0, 0)):
        self.width, self.height = width, height
        self.pixels = [list(colour) for _ in range(width * height)]

    def blend(self, x, y, colour, alpha):
        if alpha <= 0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        p = self.pixels[y * self.width + x]
        a = clamp(alpha)
        for i in range(3):
            p[i] += (colour[i] - p[i]) * a

    def get(self, x, y):
        return self.pixels[y * self.width + x]

    def sample(self, fx, fy):
        """Bilinear sample at a continuous position (pixel centres at +0.5)."""
        fx, fy = fx - 0.5, fy - 0.5
        x0, y0 = int(math.floor(fx)), int(math.floor(fy))
        tx, ty = fx - x0, fy - y0
        def at(x, y):
            return self.get(min(max(x, 0), self.width - 1), min(max(y, 0), self.height - 1))
        top = mix(at(x0, y0), at(x0 + 1, y0), tx)
        bottom = mix(at(x0, y0 + 1), at(x0 + 1, y0 + 1), tx)
        return mix(top, bottom, ty)

    def crop(self, x, y, w, h):
        out = Canvas(w, h)
        for j in range(h):
            for i in range(w):
                out.pixels[j * w + i] = list(self.get(x + i, y + j))
        return out


class Shape:
    """A drawable: coverage(x, y) in 0..1 at a continuous point, colour(x, y), and a bounding box."""

    def __init__(self, bbox, coverage, colour):
        self.bbox, self.coverage = bbox, coverage
        self.colour = colour if callable(colour) else solid(colour)


def paint(canvas, shape, origin=(0.0, 0.0), scale=(1.0, 1.0)):
    """Blends a shape given in scene coordinates into a canvas whose pixel (i, j) sits at
    scene point origin + (i + 0.5, j + 0.5) * scale."""
    x0, y0, x1, y1 = shape.bbox
    i0 = max(0, int(math.floor((x0 - origin[0]) / scale[0])) - 1)
    i1 = min(canvas.width, int(math.ceil((x1 - origin[0]) / scale[0])) + 1)
    j0 = max(0, int(math.floor((y0 - origin[1]) / scale[1])) - 1)
    j1 = min(canvas.height, int(math.ceil((y1 - origin[1]) / scale[1])) + 1)
    for j in range(j0, j1):
        sy = origin[1] + (j + 0.5) * scale[1]
        for i in range(i0, i1):
            sx = origin[0] + (i + 0.5) * scale[0]
            a = shape.coverage(sx, sy)
            if a > 0.0:
                canvas.blend(i, j, shape.colour(sx, sy), a)


def solid(colour):
    return lambda x, y: colour


def vertical_gradient(y0, y1, top, bottom):
    return lambda x, y: mix(top, bottom, clamp((y - y0) / (y1 - y0)))


def rounded_rect(x0, y0, x1, y1, radius, colour, alpha=1.0):
    def coverage(x, y):
        return alpha * clamp(0.5 - rounded_rect_distance(x, y, x0, y0, x1, y1, radius))
    return Shape((x0, y0, x1, y1), coverage, colour)


def rounded_ring(x0, y0, x1, y1, radius, width, colour, alpha=1.0):
    def coverage(x, y):
        d = rounded_rect_distance(x, y, x0, y0, x1, y1, radius)
        return alpha * clamp(0.5 - d) * clamp(0.5 + d + width)
    return Shape((x0, y0, x1, y1), coverage, colour)


def disc(cx, cy, r, colour, alpha=1.0):
    def coverage(x, y):
        return alpha * clamp(r - math.hypot(x - cx, y - cy) + 0.5)
    return Shape((cx - r, cy - r, cx + r, cy + r), coverage, colour)


def ring(cx, cy, r, width, colour, alpha=1.0):
    def coverage(x, y):
        d = math.hypot(x - cx, y - cy)
        return alpha * clamp(r - d + 0.5) * clamp(d - (r - width) + 0.5)
    return Shape((cx - r, cy - r, cx + r, cy + r), coverage, colour)


def glow(cx, cy, r, colour, strength):
    def coverage(x, y):
        d = math.hypot(x - cx, y - cy) / r
        return strength * math.exp(-d * d * 3.0) if d < 1.5 else 0.0
    return Shape((cx - 1.5 * r, cy - 1.5 * r, cx + 1.5 * r, cy + 1.5 * r), coverage, colour)


def stroke(points, width, colour, alpha=1.0):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    segments = list(zip(points, points[1:]))
    def coverage(x, y):
        d = min(segment_distance(x, y, a[0], a[1], b[0], b[1]) for a, b in segments)
        return alpha * clamp(width / 2 - d + 0.5)
    return Shape((min(xs) - width, min(ys) - width, max(xs) + width, max(ys) + width), coverage, colour)


def glyph_segments(ch):
    """Stroke skeleton of a glyph: segments between the centres of neighbouring cells."""
    rows = GLYPHS.get(ch, GLYPHS["."] if ch != " " else "").split()
    on = {(c, r) for r, row in enumerate(rows) for c, cell in enumerate(row) if cell == "#"}
    segments = []
    for (c, r) in sorted(on):
        centre = (c + 0.5, r + 0.5)
        linked = False
        for dc, dr in ((1, 0), (0, 1)):
            if (c + dc, r + dr) in on:
                segments.append((centre, (c + dc + 0.5, r + dr + 0.5)))
                linked = True
        for dc, dr in ((1, 1), (-1, 1)):
            corner_free = (c + dc, r) not in on and (c, r + dr) not in on
            if (c + dc, r + dr) in on and corner_free:
                segments.append((centre, (c + dc + 0.5, r + dr + 0.5)))
                linked = True
        if not linked:
            segments.append((centre, centre))
    return segments


def text_width(text, size):
    cells = sum(SPACE_ADVANCE if ch == " " else ADVANCE for ch in text) - 1.0
    return cells * size


def text(label, x, y, size, colour, weight=0.56, alpha=1.0):
    """A line of text whose body (7 cells high) has its top-left corner at (x, y); size = pixels per cell."""
    placed = []
    pen = 0.0
    for ch in label:
        if ch != " ":
            placed.append((pen, glyph_segments(ch)))
        pen += SPACE_ADVANCE if ch == " " else ADVANCE
    radius = weight * size
    def coverage(px, py):
        gx, gy = (px - x) / size, (py - y) / size
        best = 1e9
        for offset, segments in placed:
            lx = gx - offset
            if lx < -1.5 or lx > 6.5:
                continue
            for a, b in segments:
                best = min(best, segment_distance(lx, gy, a[0], a[1], b[0], b[1]))
        return alpha * clamp(radius - best * size + 0.5)
    return Shape((x - size, y - size, x + pen * size + size, y + 10 * size), coverage, colour)


def centred_text(label, cx, cy, size, colour, **kw):
    return text(label, cx - text_width(label, size) / 2, cy - 3.5 * size, size, colour, **kw)


class Lcg:
    """Small fixed-seed generator so the stars land in the same places on every run."""

    def __init__(self, seed):
        self.state = seed

    def next(self):
        self.state = (self.state * 1103515245 + 12345) & 0x7FFFFFFF
        return self.state / 0x7FFFFFFF


def ridge(x, base, waves):
    return base + sum(a * math.sin(x * f + p) for a, f, p in waves)


def paint_sky(bg):
    top, horizon = (8, 11, 24), (34, 52, 78)
    for y in range(PANEL_TOP):
        t = (y / PANEL_TOP) ** 1.6
        row = mix(top, horizon, t)
        for x in range(WIDTH):
            bg.pixels[y * WIDTH + x] = list(row)
    paint(bg, glow(505, 110, 190, (70, 96, 128), 0.55))
    rng = Lcg(20240611)
    for _ in range(150):
        sx, sy, b = rng.next() * WIDTH, rng.next() * 230, rng.next()
        paint(bg, disc(sx, sy, 0.45 + 0.5 * b, (220, 228, 255), 0.25 + 0.6 * b))
    paint(bg, glow(505, 108, 70, (250, 236, 200), 0.5))
    paint(bg, disc(505, 108, 34, (236, 232, 214)))
    for mx, my, mr in ((496, 100, 7), (516, 118, 5), (508, 92, 3.5), (490, 120, 4)):
        paint(bg, disc(mx, my, mr, (200, 198, 184), 0.45))


def paint_mountains(bg):
    layers = [
        (205, [(22, 0.011, 0.4), (14, 0.029, 1.9), (6, 0.071, 0.3)], (42, 58, 84), 0.0),
        (245, [(26, 0.008, 2.6), (12, 0.023, 0.7), (5, 0.09, 1.1)], (26, 36, 54), 0.0),
        (285, [(18, 0.006, 4.1), (10, 0.031, 2.2), (4, 0.11, 0.5)], (15, 20, 31), 0.0),
    ]
    for base, waves, colour, _ in layers:
        for x in range(WIDTH):
            phase = (x * 0.0085 + base * 0.37) % 1.0
            peak = (1.0 - abs(phase - 0.5) * 2.0) ** 2.2
            top = ridge(x + 0.5, base, waves) - 34 * peak
            for y in range(max(0, int(top) - 1), PANEL_TOP):
                cover = clamp(y + 1 - top)
                shade = mix(colour, (colour[0] * 0.7, colour[1] * 0.7, colour[2] * 0.75), clamp((y - top) / 90))
                bg.blend(x, y, shade, cover)
    for x in range(WIDTH):
        for y in range(250, PANEL_TOP):
            bg.blend(x, y, (60, 82, 108), 0.22 * smoothstep(250, 320, y) * (0.7 + 0.3 * math.sin(x * 0.02)))


def paint_title(bg):
    size = 4.4
    paint(bg, text("NORVANE", 22, 16, size, (0, 0, 0), weight=0.62, alpha=0.55))
    gold = vertical_gradient(14, 14 + 7 * size, (255, 236, 170), (206, 138, 46))
    paint(bg, text("NORVANE", 20, 14, size, (0, 0, 0), weight=0.62))
    shape = text("NORVANE", 20, 14, size, (0, 0, 0), weight=0.5)
    paint(bg, Shape(shape.bbox, shape.coverage, gold))


def paint_close_mark(bg):
    cx, cy = CLOSE_CENTRE
    paint(bg, disc(cx, cy, 13, (6, 8, 14), 0.55))
    paint(bg, ring(cx, cy, 13, 1.2, (150, 160, 178), 0.8))
    for a, b in (((cx - 5, cy - 5), (cx + 5, cy + 5)), ((cx + 5, cy - 5), (cx - 5, cy + 5))):
        paint(bg, stroke([a, b], 2.2, (232, 234, 240)))


def paint_panel(bg):
    for y in range(PANEL_TOP, HEIGHT):
        row = mix((20, 23, 31), (9, 10, 14), (y - PANEL_TOP) / (HEIGHT - PANEL_TOP))
        for x in range(WIDTH):
            bg.pixels[y * WIDTH + x] = list(row)
    for y in range(PANEL_TOP - 14, PANEL_TOP):
        for x in range(WIDTH):
            bg.blend(x, y, (0, 0, 0), 0.4 * ((y - (PANEL_TOP - 14)) / 14) ** 2)
    for x in range(WIDTH):
        fade = math.sin(math.pi * x / WIDTH) ** 1.5
        bg.blend(x, PANEL_TOP, (214, 168, 84), 0.85 * fade)
        bg.blend(x, PANEL_TOP + 1, (120, 92, 48), 0.5 * fade)
    # a soft socket behind the start button, partly outside its rectangle
    cx, cy = START_RECT[0] + START_RECT[2] / 2, START_RECT[1] + START_RECT[3] / 2
    paint(bg, glow(cx, cy, 62, (214, 160, 70), 0.16))
    paint(bg, ring(cx, cy, 53, 1.5, (96, 80, 52), 0.9))
    paint(bg, text("Norvane Online", 521, 466, 1.3, (86, 94, 110)))


def paint_bar_tracks(bg):
    for (x, y), label in ((FILE_BAR_POS, "FILE"), (TOTAL_BAR_POS, "TOTAL")):
        w, h = BAR_SIZE
        paint(bg, rounded_rect(x - 1.5, y - 1.5, x + w + 1.5, y + h + 1.5, 2.5, (58, 64, 80)))
        paint(bg, rounded_rect(x - 0.5, y - 0.5, x + w + 0.5, y + h + 0.5, 1.5, (6, 7, 10)))
        paint(bg, text(label, x + w + 8, y, 1.0, (128, 136, 152), weight=0.5))


def small_button(x, y, state, accent):
    """Shapes of a 94 x 39 button in state 0 (normal), 1 (hover), 2 (pressed) or 3 (disabled)."""
    x0, y0, x1, y1 = x + 2.5, y + 4.5, x + 91.5, y + 34.5
    if state == 0:
        fill, border, label_colour = ((50, 57, 73), (30, 34, 44)), (84, 94, 114), (208, 214, 224)
    elif state == 1:
        fill, border, label_colour = ((70, 84, 108), (42, 50, 66)), accent, (255, 255, 255)
    elif state == 2:
        fill, border, label_colour = ((22, 25, 33), (38, 44, 58)), (214, 168, 84), (255, 216, 140)
    else:
        fill, border, label_colour = ((40, 42, 47), (36, 38, 42)), (60, 62, 68), (100, 103, 110)
    shapes = []
    if state == 1:
        shapes.append(rounded_rect(x0 - 2, y0 - 2, x1 + 2, y1 + 2, 8, accent, 0.25))
    shapes.append(rounded_rect(x0, y0, x1, y1, 6, vertical_gradient(y0, y1, *fill)))
    if state in (0, 1):
        shapes.append(rounded_rect(x0 + 1, y0 + 1, x1 - 1, y0 + 12, 5, (255, 255, 255), 0.06))
    shapes.append(rounded_ring(x0, y0, x1, y1, 6, 1.2, border))
    return shapes


def small_button_label(x, y, state, label):
    shift = 1 if state == 2 else 0
    colours = {0: (208, 214, 224), 1: (255, 255, 255), 2: (255, 216, 140), 3: (100, 103, 110)}
    cx, cy = x + 47 + shift, y + 19.5 + shift
    shapes = []
    if state != 3:
        shapes.append(centred_text(label, cx + 1, cy + 1, 1.45, (0, 0, 0), weight=0.6, alpha=0.7))
    shapes.append(centred_text(label, cx, cy, 1.45, colours[state], weight=0.6))
    return shapes


def draw_small_button(canvas, x, y, state, label, accent, origin=(0.0, 0.0)):
    for shape in small_button(x, y, state, accent) + small_button_label(x, y, state, label):
        paint(canvas, shape, origin)


def start_button_shapes(state):
    x, y, w, h = START_RECT
    cx, cy = x + w / 2, y + h / 2
    r = 44.0
    if state == 1:
        top, bottom, label_colour, rim = (255, 222, 130), (226, 150, 44), (58, 30, 6), (255, 240, 196)
    elif state == 2:
        top, bottom, label_colour, rim = (236, 186, 84), (170, 106, 26), (44, 24, 6), (250, 214, 140)
    else:
        top, bottom, label_colour, rim = (92, 94, 100), (52, 54, 60), (136, 138, 146), (112, 114, 122)
    shapes = []
    if state == 1:
        shapes.append(glow(cx, cy, r + 8, (255, 200, 90), 0.45))
    shapes.append(disc(cx, cy + 1.5, r + 1, (0, 0, 0), 0.6))
    shapes.append(disc(cx, cy, r, vertical_gradient(cy - r, cy + r, top, bottom)))
    shapes.append(disc(cx, cy - r * 0.42, r * 0.62, (255, 255, 255), 0.10 if state != 3 else 0.04))
    shapes.append(ring(cx, cy, r, 2.0, rim, 0.9))
    shapes.append(ring(cx, cy, r - 5, 1.0, (0, 0, 0), 0.25))
    if state != 3:
        shapes.append(centred_text("START", cx, cy + 1, 2.3, (255, 255, 255), weight=0.62, alpha=0.35))
    shapes.append(centred_text("START", cx, cy, 2.3, label_colour, weight=0.62))
    return shapes


def render_start_button(bg, state):
    """114 x 114 picture that, stretched to 100 x 99 at load time, lands on START_RECT."""
    x, y, w, h = START_RECT
    size = 114
    sx, sy = w / size, h / size
    canvas = Canvas(size, size)
    for j in range(size):
        for i in range(size):
            canvas.pixels[j * size + i] = list(bg.sample(x + (i + 0.5) * sx, y + (j + 0.5) * sy))
    for shape in start_button_shapes(state):
        paint(canvas, shape, origin=(x, y), scale=(sx, sy))
    return canvas


def render_small_button(base, name, state):
    """94 x 39 picture over the background without the normal button looks."""
    x, y, label, accent = SMALL_BUTTONS[name]
    w, h = SMALL_SIZE
    canvas = base.crop(x, y, w, h)
    draw_small_button(canvas, x, y, state, label, accent, origin=(x, y))
    return canvas


def render_bar(top, bottom):
    w, h = BAR_SIZE
    canvas = Canvas(w, h)
    for j in range(h):
        base = mix(top, bottom, j / (h - 1))
        if j == 1:
            base = mix(base, (255, 255, 255), 0.35)
        for i in range(w):
            stripe = 0.08 if ((i + j) // 5) % 2 == 0 else 0.0
            canvas.pixels[j * w + i] = list(mix(base, (255, 255, 255), stripe))
    return canvas


def window_alpha(x, y):
    """Window shape: rounded rectangle with a translucent rim of a few pixels."""
    d = rounded_rect_distance(x, y, 0.0, 0.0, WIDTH, HEIGHT, CORNER_RADIUS)
    if d >= 0.5:
        return 0.0
    edge = clamp(0.5 - d)
    return edge * (0.55 + 0.45 * smoothstep(2.0, 4.5, -d))


def paint_rim(bg):
    for y in range(HEIGHT):
        for x in range(WIDTH):
            d = -rounded_rect_distance(x + 0.5, y + 0.5, 0.0, 0.0, WIDTH, HEIGHT, CORNER_RADIUS)
            if 0.0 <= d < 6.0:
                bg.blend(x, y, (150, 162, 186), 0.55 * (1.0 - smoothstep(1.0, 5.0, d)))


def draw_base():
    """Everything of the background except the normal button looks and the rim."""
    bg = Canvas(WIDTH, HEIGHT)
    paint_sky(bg)
    paint_mountains(bg)
    paint_panel(bg)
    paint_title(bg)
    paint_close_mark(bg)
    paint_bar_tracks(bg)
    return bg


def draw_background(base):
    bg = Canvas(WIDTH, HEIGHT)
    bg.pixels = [list(p) for p in base.pixels]
    for name, (x, y, label, accent) in SMALL_BUTTONS.items():
        draw_small_button(bg, x, y, 0, label, accent)
    paint_rim(bg)
    return bg


def draw_mask():
    mask = Canvas(WIDTH, HEIGHT)
    for y in range(HEIGHT):
        for x in range(WIDTH):
            v = 255.0 * window_alpha(x + 0.5, y + 0.5)
            mask.pixels[y * WIDTH + x] = [v, v, v]
    return mask


def icon_rgba(size):
    s = size / 64.0
    canvas = Canvas(size, size)
    shapes = [
        rounded_rect(2 * s, 2 * s, 62 * s, 62 * s, 13 * s, vertical_gradient(2 * s, 62 * s, (40, 50, 72), (10, 12, 20))),
        rounded_ring(2 * s, 2 * s, 62 * s, 62 * s, 13 * s, max(1.0, 2.5 * s), (222, 172, 84)),
        glow(32 * s, 30 * s, 24 * s, (214, 160, 70), 0.35),
        stroke([(20 * s, 47 * s), (20 * s, 17 * s), (44 * s, 47 * s), (44 * s, 17 * s)], 7.5 * s, (0, 0, 0), 0.5),
        stroke([(19 * s, 46 * s), (19 * s, 16 * s), (43 * s, 46 * s), (43 * s, 16 * s)], 7.0 * s,
               vertical_gradient(14 * s, 48 * s, (255, 236, 170), (206, 138, 46))),
    ]
    for shape in shapes:
        paint(canvas, shape)
    alpha = [clamp(0.5 - rounded_rect_distance(i + 0.5, j + 0.5, 2 * s, 2 * s, 62 * s, 62 * s, 13 * s))
             for j in range(size) for i in range(size)]
    return canvas, alpha


def to_byte(v):
    return int(round(clamp(v, 0.0, 255.0)))


def bmp_bytes(canvas, bits, grey=False):
    """Uncompressed bottom-up BMP, 24 or 32 bits per pixel (alpha byte 255)."""
    w, h = canvas.width, canvas.height
    bpp = bits // 8
    stride = (w * bpp + 3) & ~3
    rows = []
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = (to_byte(c) for c in canvas.get(x, y))
            if grey:
                r = g = b = to_byte(sum(canvas.get(x, y)) / 3)
            row += bytes((b, g, r, 255)) if bpp == 4 else bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def ico_bytes(sizes):
    images = []
    for size in sizes:
        canvas, alpha = icon_rgba(size)
        xor = bytearray()
        for y in range(size - 1, -1, -1):
            for x in range(size):
                r, g, b = (to_byte(c) for c in canvas.get(x, y))
                xor += bytes((b, g, r, to_byte(255 * alpha[y * size + x])))
        mask_stride = ((size + 31) // 32) * 4
        and_mask = bytearray()
        for y in range(size - 1, -1, -1):
            row = bytearray(mask_stride)
            for x in range(size):
                if alpha[y * size + x] == 0.0:
                    row[x // 8] |= 0x80 >> (x % 8)
            and_mask += row
        data = xor + and_mask
        info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(data), 0, 0, 0, 0)
        images.append((size, info + bytes(data)))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, blob in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for _, blob in images:
        out += blob
    return bytes(out)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "src", "res", "skin")
    os.makedirs(out, exist_ok=True)
    base = draw_base()
    bg = draw_background(base)
    write(os.path.join(out, "background.bmp"), bmp_bytes(bg, 32))
    write(os.path.join(out, "mask.bmp"), bmp_bytes(draw_mask(), 32, grey=True))
    for state, suffix in ((1, "hover"), (2, "pressed"), (3, "disabled")):
        write(os.path.join(out, "start_%s.bmp" % suffix), bmp_bytes(render_start_button(bg, state), 32))
        for name in SMALL_BUTTONS:
            write(os.path.join(out, "%s_%s.bmp" % (name, suffix)), bmp_bytes(render_small_button(base, name, state), 32))
    write(os.path.join(out, "file_bar.bmp"), bmp_bytes(render_bar((120, 226, 255), (22, 118, 176)), 24))
    write(os.path.join(out, "total_bar.bmp"), bmp_bytes(render_bar((255, 220, 130), (190, 118, 28)), 24))
    write(os.path.join(out, "launcher.ico"), ico_bytes([16, 32, 48, 64]))


if __name__ == "__main__":
    main()
