#!/usr/bin/env python3
"""Draws every picture the Zembrak level editor uses and writes it under assets/.

    stones/stone00.bmp .. stone17.bmp   50x50 pictures, one per stone type
    stones/select.bmp                   50x50 selection tool button (mouse pointer)
    toolbar/tool00.bmp .. tool10.bmp    16x16 tool bar icons (hand-made pixel art)
    buttons/copyposition.bmp            11x15 pictures of the properties panel's small
    buttons/picktarget.bmp              buttons (hand-made pixel art)
    buttons/mei*.bmp                    the crash reporter's pictures: 16x16 button
                                        pictures of the exception dialog, its 32x32 big
                                        icon and the please-wait picture; 32-bit with
                                        straight alpha, top row last
    app.ico                             application icon, 16/32/48 px, 32-bit with alpha
    preview.png                         contact sheet of the stones, tool bar icons and
                                        application icon, enlarged

The BMPs are uncompressed 24-bit bottom-up; pure magenta (255,0,255) is the
transparent colour.  The 50x50 pictures are built from signed-distance shapes
rasterised with 4x4 supersampling; edge pixels are blended against white (the
editor paints stones on a white canvas) and count as transparent below 50 %
coverage.  Light comes from the top-left everywhere.  Nothing is random and no
timestamps are written, so every run produces the same bytes.

Run from the repository root (standard library only):

    python3 tools/gen_assets.py [--out DIR]
"""

import argparse
import math
import os
import struct
import zlib

MAGENTA = (255, 0, 255)
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)

# --------------------------------------------------------------------------
# Shapes: signed distance functions (negative inside) with a bounding box.
# Every function here is 1-Lipschitz, so |d| never exceeds the true distance
# to the edge; the rasteriser relies on that to skip pixels far from an edge.
# --------------------------------------------------------------------------

INF_BOX = None


def _box_union(a, b):
    if a is None or b is None:
        return None
    return (min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3]))


def _box_inter(a, b):
    if a is None:
        return b
    if b is None:
        return a
    return (max(a[0], b[0]), max(a[1], b[1]), min(a[2], b[2]), min(a[3], b[3]))


class Shape:
    __slots__ = ("sdf", "bbox")

    def __init__(self, sdf, bbox):
        self.sdf = sdf
        self.bbox = bbox

    def __or__(self, other):
        f, g = self.sdf, other.sdf
        return Shape(lambda x, y: min(f(x, y), g(x, y)), _box_union(self.bbox, other.bbox))

    def __and__(self, other):
        f, g = self.sdf, other.sdf
        return Shape(lambda x, y: max(f(x, y), g(x, y)), _box_inter(self.bbox, other.bbox))

    def __sub__(self, other):
        f, g = self.sdf, other.sdf
        return Shape(lambda x, y: max(f(x, y), -g(x, y)), self.bbox)

    def grow(self, r):
        f = self.sdf
        b = self.bbox
        if b is not None:
            b = (b[0] - r, b[1] - r, b[2] + r, b[3] + r)
        return Shape(lambda x, y: f(x, y) - r, b)

    def band(self, w):
        """The strip of width w just inside the outline."""
        f = self.sdf
        return Shape(lambda x, y: max(f(x, y), -w - f(x, y)), self.bbox)

    def move(self, dx, dy):
        f = self.sdf
        b = self.bbox
        if b is not None:
            b = (b[0] + dx, b[1] + dy, b[2] + dx, b[3] + dy)
        return Shape(lambda x, y: f(x - dx, y - dy), b)

    def rotate(self, degrees, cx, cy):
        a = math.radians(degrees)
        c, s = math.cos(a), math.sin(a)
        f = self.sdf

        def g(x, y):
            dx, dy = x - cx, y - cy
            return f(cx + dx * c + dy * s, cy - dx * s + dy * c)

        b = self.bbox
        if b is not None:
            pts = [(b[0], b[1]), (b[2], b[1]), (b[0], b[3]), (b[2], b[3])]
            rx = [cx + (px - cx) * c - (py - cy) * s for px, py in pts]
            ry = [cy + (px - cx) * s + (py - cy) * c for px, py in pts]
            b = (min(rx), min(ry), max(rx), max(ry))
        return Shape(g, b)


def circle(cx, cy, r):
    return Shape(lambda x, y: math.hypot(x - cx, y - cy) - r, (cx - r, cy - r, cx + r, cy + r))


def ellipse(cx, cy, rx, ry):
    m = min(rx, ry)
    return Shape(lambda x, y: (math.hypot((x - cx) / rx, (y - cy) / ry) - 1.0) * m,
                 (cx - rx, cy - ry, cx + rx, cy + ry))


def box(x0, y0, x1, y1, r=0.0):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def f(x, y):
        qx = abs(x - cx) - hx
        qy = abs(y - cy) - hy
        if qx > 0 or qy > 0:
            return math.hypot(max(qx, 0.0), max(qy, 0.0)) - r
        return max(qx, qy) - r

    return Shape(f, (x0, y0, x1, y1))


def polygon(pts):
    pts = [(float(x), float(y)) for x, y in pts]
    edges = []
    for i in range(len(pts)):
        ax, ay = pts[i]
        bx, by = pts[i - 1]
        ex, ey = bx - ax, by - ay
        edges.append((ax, ay, ex, ey, ex * ex + ey * ey, by))

    def f(x, y):
        d = math.inf
        inside = False
        for ax, ay, ex, ey, ee, by in edges:
            wx, wy = x - ax, y - ay
            t = (wx * ex + wy * ey) / ee
            t = 0.0 if t < 0 else (1.0 if t > 1 else t)
            qx, qy = wx - ex * t, wy - ey * t
            dd = qx * qx + qy * qy
            if dd < d:
                d = dd
            c1 = y >= ay
            c2 = y < by
            c3 = ex * wy > ey * wx
            if (c1 and c2 and c3) or not (c1 or c2 or c3):
                inside = not inside
        d = math.sqrt(d)
        return -d if inside else d

    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]
    return Shape(f, (min(xs), min(ys), max(xs), max(ys)))


def polyline(pts, r):
    """A stroke of radius r along the points, with round joins and caps."""
    segs = []
    for (ax, ay), (bx, by) in zip(pts, pts[1:]):
        ex, ey = bx - ax, by - ay
        segs.append((ax, ay, ex, ey, max(ex * ex + ey * ey, 1e-12)))

    def f(x, y):
        d = math.inf
        for ax, ay, ex, ey, ee in segs:
            wx, wy = x - ax, y - ay
            t = (wx * ex + wy * ey) / ee
            t = 0.0 if t < 0 else (1.0 if t > 1 else t)
            qx, qy = wx - ex * t, wy - ey * t
            dd = qx * qx + qy * qy
            if dd < d:
                d = dd
        return math.sqrt(d) - r

    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]
    return Shape(f, (min(xs) - r, min(ys) - r, max(xs) + r, max(ys) + r))


def line(ax, ay, bx, by, r):
    return polyline([(ax, ay), (bx, by)], r)


def arc_points(cx, cy, r, a0, a1, n=16):
    """Points on a circle, angles in degrees, y pointing down (clockwise)."""
    out = []
    for i in range(n + 1):
        a = math.radians(a0 + (a1 - a0) * i / n)
        out.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return out


def star_points(cx, cy, r_out, r_in, n=5, start=-90.0):
    pts = []
    for i in range(2 * n):
        a = math.radians(start + 180.0 * i / n)
        r = r_out if i % 2 == 0 else r_in
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return pts


def below_curve(fn, max_slope, x0=0.0, x1=50.0, y1=50.0, y_top=0.0):
    """Everything below the curve y = fn(x); scaled to stay 1-Lipschitz."""
    k = 1.0 / math.sqrt(1.0 + max_slope * max_slope)
    return Shape(lambda x, y: (fn(x) - y) * k, (x0, y_top, x1, y1))


def half_plane(nx, ny, c):
    """Points with nx*x + ny*y > c are inside."""
    n = math.hypot(nx, ny)
    nx, ny, c = nx / n, ny / n, c / n
    return Shape(lambda x, y: c - (nx * x + ny * y), INF_BOX)


# --------------------------------------------------------------------------
# Colours and lighting
# --------------------------------------------------------------------------

def mix(a, b, t):
    return (a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t)


def shade(c, k):
    """k > 0 lightens towards white, k < 0 darkens towards black."""
    return mix(c, WHITE, k) if k >= 0 else mix(c, BLACK, -k)


def _norm3(x, y, z):
    n = math.sqrt(x * x + y * y + z * z)
    return (x / n, y / n, z / n)


LIGHT = _norm3(-0.55, -0.7, 0.75)           # from the top-left, in front
HALF = _norm3(LIGHT[0], LIGHT[1], LIGHT[2] + 1.0)
LIGHT2 = (-math.sqrt(0.5), -math.sqrt(0.5))  # 2-D direction towards the light


def lit(base, n, ambient=0.45, specular=0.0, shininess=20.0):
    """Lambert plus a little specular; a surface facing the viewer keeps `base`."""
    d = n[0] * LIGHT[0] + n[1] * LIGHT[1] + n[2] * LIGHT[2]
    f = ambient + (1.0 - ambient) * max(d, 0.0) / LIGHT[2]
    c = shade(base, min(f - 1.0, 0.6)) if f > 1.0 else (base[0] * f, base[1] * f, base[2] * f)
    if specular > 0.0:
        h = max(n[0] * HALF[0] + n[1] * HALF[1] + n[2] * HALF[2], 0.0)
        flat = HALF[2] ** shininess
        s = (h ** shininess - flat) / (1.0 - flat)
        if s > 0.0:
            c = mix(c, WHITE, min(s * specular, 1.0))
    return c


def gradient(f, x, y, e=0.05):
    gx = f(x + e, y) - f(x - e, y)
    gy = f(x, y + e) - f(x, y - e)
    n = math.hypot(gx, gy)
    if n < 1e-9:
        return 0.0, 0.0
    return gx / n, gy / n


def pillow(shape, base, width, tilt=0.85, specular=0.0, shininess=20.0, ambient=0.45, sunken=False):
    """Paint that makes a flat shape look rounded near its outline."""
    f = shape.sdf

    def paint(x, y):
        b = base(x, y) if callable(base) else base
        depth = -f(x, y)
        if depth >= width:
            n = (0.0, 0.0, 1.0)
        else:
            gx, gy = gradient(f, x, y)
            u = (1.0 - max(depth, 0.0) / width) * tilt
            if sunken:
                gx, gy = -gx, -gy
            n = (gx * u, gy * u, math.sqrt(1.0 - u * u))
        return lit(b, n, ambient, specular, shininess)

    return paint


def sphere(cx, cy, r, base, specular=0.6, shininess=24.0, ambient=0.4):
    def paint(x, y):
        nx, ny = (x - cx) / r, (y - cy) / r
        z = 1.0 - nx * nx - ny * ny
        if z < 0.0:
            k = math.sqrt(nx * nx + ny * ny)
            nx, ny, z = nx / k, ny / k, 0.0
        return lit(base, (nx, ny, math.sqrt(z)), ambient, specular, shininess)

    return paint


def linear(c0, c1, x0, y0, x1, y1):
    dx, dy = x1 - x0, y1 - y0
    dd = dx * dx + dy * dy

    def paint(x, y):
        t = ((x - x0) * dx + (y - y0) * dy) / dd
        return mix(c0, c1, 0.0 if t < 0 else (1.0 if t > 1 else t))

    return paint


# --------------------------------------------------------------------------
# Canvas: premultiplied RGBA in floats, drawn in "units" (50 per side for the
# stones), with 4x4 supersampling at edges.
# --------------------------------------------------------------------------

_OFFS = (-0.375, -0.125, 0.125, 0.375)
_EDGE = 0.54  # farthest a subsample lies from its pixel centre, in pixels


class Canvas:
    def __init__(self, size, units=50.0):
        self.n = size
        self.scale = size / units
        n2 = size * size
        self.r = [0.0] * n2
        self.g = [0.0] * n2
        self.b = [0.0] * n2
        self.a = [0.0] * n2

    def fill(self, shape, paint, alpha=1.0):
        n, s = self.n, self.scale
        inv = 1.0 / s
        f = shape.sdf
        bb = shape.bbox
        if bb is None:
            px0, py0, px1, py1 = 0, 0, n, n
        else:
            px0 = max(int(math.floor(bb[0] * s)) - 1, 0)
            py0 = max(int(math.floor(bb[1] * s)) - 1, 0)
            px1 = min(int(math.ceil(bb[2] * s)) + 1, n)
            py1 = min(int(math.ceil(bb[3] * s)) + 1, n)
        flat = not callable(paint)
        R, G, B, A = self.r, self.g, self.b, self.a
        offs = [o * inv for o in _OFFS]
        for py in range(py0, py1):
            cy = (py + 0.5) * inv
            row = py * n
            for px in range(px0, px1):
                cx = (px + 0.5) * inv
                d = f(cx, cy) * s
                if d >= _EDGE:
                    continue
                if d <= -_EDGE:
                    cov, sx, sy = 1.0, cx, cy
                else:
                    cnt = 0
                    sx = sy = 0.0
                    for oy in offs:
                        yy = cy + oy
                        for ox in offs:
                            xx = cx + ox
                            if f(xx, yy) < 0.0:
                                cnt += 1
                                sx += xx
                                sy += yy
                    if cnt == 0:
                        continue
                    cov = cnt / 16.0
                    # colour where the shape actually is, not at a centre outside it
                    sx /= cnt
                    sy /= cnt
                col = paint if flat else paint(sx, sy)
                a = cov * alpha
                k = 1.0 - a
                i = row + px
                R[i] = col[0] * a + R[i] * k
                G[i] = col[1] * a + G[i] * k
                B[i] = col[2] * a + B[i] * k
                A[i] = a + A[i] * k

    def on_white(self):
        """Rows of RGB tuples; under 50 % coverage becomes magenta."""
        n = self.n
        rows = []
        for y in range(n):
            row = []
            for x in range(n):
                i = y * n + x
                a = self.a[i]
                if a < 0.5:
                    row.append(MAGENTA)
                else:
                    w = 255.0 * (1.0 - a)
                    row.append(_safe((self.r[i] + w, self.g[i] + w, self.b[i] + w)))
            rows.append(row)
        return rows

    def rgba(self):
        """Rows of straight (non-premultiplied) RGBA tuples."""
        n = self.n
        rows = []
        for y in range(n):
            row = []
            for x in range(n):
                i = y * n + x
                a = self.a[i]
                if a <= 0.0:
                    row.append((0, 0, 0, 0))
                    continue
                c = [min(max(int(v / a + 0.5), 0), 255) for v in (self.r[i], self.g[i], self.b[i])]
                row.append((c[0], c[1], c[2], min(int(a * 255.0 + 0.5), 255)))
            rows.append(row)
        return rows


def _safe(c):
    """Round to bytes and keep clear of the mask colour."""
    r, g, b = (min(max(int(v + 0.5), 0), 255) for v in c)
    while (r - 255) ** 2 + g * g + (b - 255) ** 2 <= 40 * 40:
        g += 8
    return (r, g, b)


# --------------------------------------------------------------------------
# Stones (50x50)
# --------------------------------------------------------------------------

def draw_block(cv, base):
    """A bevelled square tile covering the whole cell, so blocks tile seamlessly."""
    o, i = 1.0, 6.0
    cv.fill(box(0, 0, 50, 50), shade(base, -0.55))
    cv.fill(box(o, o, 50 - o, 50 - o), base)
    O, I = 50 - o, 50 - i
    # bevel bands: lit top and left, shaded right and bottom
    cv.fill(polygon([(o, o), (O, o), (I, i), (i, i)]), shade(base, 0.42))
    cv.fill(polygon([(o, o), (i, i), (i, I), (o, O)]), shade(base, 0.2))
    cv.fill(polygon([(O, o), (O, O), (I, I), (I, i)]), shade(base, -0.22))
    cv.fill(polygon([(o, O), (i, I), (I, I), (O, O)]), shade(base, -0.38))
    face = box(i, i, 50 - i, 50 - i)
    cv.fill(face, linear(shade(base, 0.14), shade(base, -0.1), i, i, 50 - i, 50 - i))
    # soft sheen across the upper-left of the face
    cv.fill(face & polygon([(i, i), (32, i), (i, 32)]), WHITE, 0.1)
    # crisp light/dark lines where face meets bevel
    cv.fill(box(i, i, 50 - i, i + 0.8), shade(base, 0.55), 0.8)
    cv.fill(box(i, i, i + 0.8, 50 - i), shade(base, 0.45), 0.7)
    cv.fill(box(i, 50 - i - 0.8, 50 - i, 50 - i), shade(base, -0.45), 0.6)
    cv.fill(box(50 - i - 0.8, i, 50 - i, 50 - i), shade(base, -0.4), 0.6)


def draw_blue_block(cv):
    draw_block(cv, (40, 100, 215))


def draw_green_block(cv):
    draw_block(cv, (50, 170, 60))


def draw_grey_block(cv):
    base = (150, 152, 158)
    draw_block(cv, base)
    # engraved "?": the lit lower-right wall peeks out from under the groove
    q = (polyline(arc_points(25, 19.5, 6.5, 195, 420, 20) + [(25, 28.0), (25, 30.5)], 2.1)
         | circle(25, 36.5, 2.5))
    cv.fill(q.move(0.9, 0.9), shade(base, 0.5))
    cv.fill(q, pillow(q, shade(base, -0.45), 1.5, sunken=True))
    for cx, cy in ((10.5, 10.5), (39.5, 10.5), (10.5, 39.5), (39.5, 39.5)):
        cv.fill(circle(cx + 0.6, cy + 0.7, 2.4), shade(base, -0.5), 0.7)
        cv.fill(circle(cx, cy, 2.2), sphere(cx, cy, 2.2, shade(base, 0.1), specular=0.7))


def draw_star(cv):
    cx, cy = 25.0, 26.5
    outer = star_points(cx, cy, 21.0, 8.8)
    body = polygon(outer).grow(1.6)
    cv.fill(body.grow(1.3), (180, 95, 0))
    base = (255, 205, 20)
    cv.fill(body, base)
    far = star_points(cx, cy, 30.0, 14.0)
    for k in range(10):
        a, b = far[k], far[(k + 1) % 10]
        # facet between a point's tip and its neighbouring notch, tilted outwards
        ex, ey = b[0] - a[0], b[1] - a[1]
        nx, ny = ey, -ex
        if nx * (a[0] - cx) + ny * (a[1] - cy) < 0:
            nx, ny = -nx, -ny
        m = math.hypot(nx, ny)
        t = 0.62
        n = (nx / m * t, ny / m * t, math.sqrt(1 - t * t))
        cv.fill(body & polygon([(cx, cy), a, b]), lit(base, n, ambient=0.55, specular=0.35))
    cv.fill(ellipse(cx - 5.5, cy - 9.5, 2.0, 3.2).rotate(25, cx - 5.5, cy - 9.5), WHITE, 0.55)


def draw_spikes(cv):
    metal = (165, 170, 178)
    for k in range(5):
        x0 = k * 10.0
        tip = (x0 + 5.0, 30.5)
        tri = polygon([(x0 + 0.6, 46.0), tip, (x0 + 9.4, 46.0)])
        cv.fill(tri.grow(0.9), (55, 58, 64))
        cv.fill(tri & box(x0, 0, x0 + 5.0, 50), shade(metal, 0.35))
        cv.fill(tri & box(x0 + 5.0, 0, x0 + 10, 50), shade(metal, -0.35))
        cv.fill(line(tip[0] - 0.3, tip[1] + 1.5, x0 + 3.0, 44.0, 0.45), WHITE, 0.55)
    # the rail the spikes stand on
    cv.fill(box(0, 43.5, 50, 50), (55, 58, 64))
    cv.fill(box(0, 44.5, 50, 49.2), linear(shade(metal, 0.5), shade(metal, -0.4), 0, 44.5, 0, 49.2))
    for k in range(5):
        bx = k * 10.0 + 5.0
        cv.fill(circle(bx, 46.8, 1.3), sphere(bx, 46.8, 1.3, shade(metal, -0.1), specular=0.8))


def draw_lever(cv, flip):
    X = (lambda x: 50.0 - x) if flip else (lambda x: x)

    def bx(x0, y0, x1, y1, r=0.0):
        a, b = sorted((X(x0), X(x1)))
        return box(a, y0, b, y1, r)

    wood = (145, 88, 42)
    post = bx(31, 12, 39, 47, 1.5)
    cv.fill(post.grow(1.0), (70, 38, 16))
    cv.fill(post, pillow(post, wood, 3.5, tilt=0.7))
    for gy in (20.0, 28.0, 37.0):
        cv.fill(line(X(33.0), gy, X(33.0), gy + 5.0, 0.35), shade(wood, -0.35), 0.6)
    foot = bx(26, 44, 44, 49.5, 1.5)
    cv.fill(foot.grow(1.0), (70, 38, 16))
    cv.fill(foot, pillow(foot, shade(wood, -0.1), 2.5, tilt=0.7))
    # arm from the pivot on the post up to the knob
    px, py = X(35.0), 26.0
    kx, ky = X(14.0), 12.0
    red = (215, 35, 35)
    arm = line(px, py, kx, ky, 2.2)
    cv.fill(arm.grow(1.0), (95, 10, 10))
    cv.fill(arm, pillow(arm, red, 2.2, specular=0.5))
    knob = circle(kx, ky, 5.6)
    cv.fill(knob.grow(1.0), (95, 10, 10))
    cv.fill(knob, sphere(kx, ky, 5.6, red, specular=0.8))
    cv.fill(circle(px, py, 3.4), (40, 40, 44))
    cv.fill(circle(px, py, 2.6), sphere(px, py, 2.6, (175, 178, 185), specular=0.9))


def heart_shape(cx, cy, s):
    """Two lobes and a point; s is the lobe radius."""
    r = s
    lc = (cx - 0.78 * r, cy)
    rc = (cx + 0.78 * r, cy)
    tip = (cx, cy + 2.55 * r)

    def tangent(c, sign):
        dx, dy = tip[0] - c[0], tip[1] - c[1]
        d = math.hypot(dx, dy)
        a = math.atan2(dy, dx) + sign * math.acos(r / d)
        return (c[0] + r * math.cos(a), c[1] + r * math.sin(a))

    tl = tangent(lc, 1.0)
    tr = tangent(rc, -1.0)
    body = polygon([tip, tl, lc, (cx, cy - 0.3 * r), rc, tr])
    return circle(lc[0], lc[1], r) | circle(rc[0], rc[1], r) | body


def draw_heart(cv):
    h = heart_shape(25.0, 18.0, 10.5).grow(-0.8)
    cv.fill(h.grow(1.8), (120, 8, 20))
    cv.fill(h, pillow(h, (225, 30, 48), 8.0, tilt=0.8, specular=0.55, ambient=0.5))
    cv.fill(ellipse(16.5, 15.0, 3.6, 2.4).rotate(-40, 16.5, 15.0), WHITE, 0.75)
    cv.fill(circle(21.0, 12.2, 1.1), WHITE, 0.6)


def draw_coin(cv):
    cx = cy = 25.0
    gold = (245, 190, 35)
    cv.fill(circle(cx, cy, 21.8), (140, 85, 5))
    rim = circle(cx, cy, 20.6)
    cv.fill(rim, pillow(rim, gold, 4.0, tilt=0.75, specular=0.5))
    face = circle(cx, cy, 15.2)
    cv.fill(face.grow(0.8), (175, 115, 10))
    cv.fill(face, pillow(face, shade(gold, -0.08), 2.0, tilt=0.6, sunken=True))
    z = polygon([(18, 15.5), (32, 15.5), (32, 19.5), (23.5, 30.5), (32, 30.5), (32, 34.5),
                 (18, 34.5), (18, 30.5), (26.5, 19.5), (18, 19.5)])
    cv.fill(z.move(0.9, 0.9), (165, 105, 5))
    cv.fill(z, pillow(z, (255, 210, 60), 1.6, tilt=0.7, specular=0.4))
    # glint on the rim
    gx, gy = 12.0, 12.5
    glint = (polygon([(gx, gy - 4.5), (gx + 1.0, gy - 1.0), (gx + 4.5, gy), (gx + 1.0, gy + 1.0),
                      (gx, gy + 4.5), (gx - 1.0, gy + 1.0), (gx - 4.5, gy), (gx - 1.0, gy - 1.0)]))
    cv.fill(glint, WHITE, 0.9)


def draw_zemb(cv, cx=25.0, cy=26.5, r=18.0, detail=True, outline=1.2):
    """The yellow smiling figure; also used for the application icon."""
    k = r / 18.0
    dark = (150, 90, 0)
    feet = (240, 130, 20)
    for fx in (-9.0, 9.0):
        foot = ellipse(cx + fx * k, cy + 17.5 * k, 6.2 * k, 3.4 * k)
        cv.fill(foot.grow(1.0 * k), dark)
        cv.fill(foot, pillow(foot, feet, 2.5 * k, specular=0.3))
    body = circle(cx, cy, r)
    cv.fill(body.grow(outline * k), dark)
    cv.fill(body, sphere(cx, cy, r * 1.05, (255, 215, 35), specular=0.55, ambient=0.55))
    if detail:
        for sx in (-1.0, 1.0):
            cv.fill(circle(cx + sx * 11.0 * k, cy + 4.5 * k, 3.0 * k), (250, 115, 70), 0.45)
    for sx in (-1.0, 1.0):
        ex, ey = cx + sx * 6.3 * k, cy - 5.0 * k
        eye = ellipse(ex, ey, 3.9 * k, 5.0 * k)
        if not detail:
            cv.fill(ellipse(ex + 0.5 * k, ey + 0.5 * k, 3.0 * k, 4.6 * k), (40, 25, 10))
            continue
        cv.fill(eye.grow(0.9 * k), (60, 30, 0))
        cv.fill(eye, WHITE)
        cv.fill(ellipse(ex + 1.0 * k, ey + 1.0 * k, 2.1 * k, 2.9 * k), (25, 20, 30))
        if detail:
            cv.fill(circle(ex + 0.2 * k, ey - 0.4 * k, 0.9 * k), WHITE)
    mouth = circle(cx, cy + 3.0 * k, 9.0 * k) & half_plane(0, 1, cy + 5.0 * k)
    cv.fill(mouth.grow(0.8 * k), (60, 30, 0))
    cv.fill(mouth, (125, 25, 25))
    if detail:
        cv.fill(mouth & circle(cx, cy + 13.5 * k, 4.8 * k), (235, 95, 95))


def draw_figure(cv):
    draw_zemb(cv)


def draw_key(cv):
    brass = (235, 180, 45)
    edge = (120, 75, 5)
    c = (25.0, 25.0)
    bow = circle(12.0, 25.0, 9.0) - circle(12.0, 25.0, 3.8)
    shaft = box(19.0, 22.3, 46.5, 27.7, 1.2)
    collar = box(21.0, 20.0, 24.5, 30.0, 1.0)
    teeth = box(35.0, 26.0, 38.5, 33.5, 0.8) | box(41.0, 26.0, 44.5, 35.5, 0.8)
    key = (bow | shaft | collar | teeth).rotate(-28, *c)
    cv.fill(key.grow(1.2), edge)
    cv.fill(key, pillow(key, brass, 2.6, tilt=0.8, specular=0.6))


def draw_door(cv):
    frame_col = (75, 42, 18)
    outline = box(7, 18, 43, 50) | circle(25, 20, 18)
    door = box(9, 18, 41, 50) | circle(25, 20, 16)
    cv.fill(outline.grow(0.8), (45, 24, 8))
    cv.fill(outline, pillow(outline, frame_col, 2.0, tilt=0.6))
    woods = [(168, 104, 55), (156, 95, 50), (172, 110, 60), (160, 98, 52)]
    w = 32.0 / 4
    for k in range(4):
        x0 = 9.0 + k * w
        plank = door & box(x0, 0, x0 + w, 50)

        def grain(x, y, k=k, base=woods[k]):
            g = math.sin((x * 1.7 + 1.3 * math.sin(y * 0.23 + k * 2.1) + k) * 1.9)
            return shade(base, 0.07 * g) if g > 0 else shade(base, 0.1 * g)

        cv.fill(plank, pillow(plank, grain, 1.4, tilt=0.55))
        if k:
            cv.fill(door & box(x0 - 0.45, 0, x0 + 0.45, 50), (70, 38, 15))
    for y0 in (17.0, 38.0):
        band = door & box(0, y0, 50, y0 + 3.6)
        cv.fill(band.grow(0.2), (40, 40, 44))
        cv.fill(band, pillow(band, (95, 98, 106), 1.2, tilt=0.6, specular=0.4))
        for rx in (12.0, 38.0):
            cv.fill(circle(rx, y0 + 1.8, 1.0), sphere(rx, y0 + 1.8, 1.0, (150, 152, 160), specular=0.9))
    # knob and keyhole plate
    hx, hy = 35.0, 29.5
    plate = box(hx - 2.6, hy - 3.6, hx + 2.6, hy + 9.0, 2.4)
    cv.fill(plate.grow(0.7), (50, 35, 5))
    cv.fill(plate, pillow(plate, (205, 160, 45), 1.2, specular=0.5))
    cv.fill(circle(hx, hy, 2.5), (70, 45, 5))
    cv.fill(circle(hx, hy, 2.0), sphere(hx, hy, 2.0, (240, 195, 70), specular=0.9))
    hole = circle(hx, hy + 5.0, 1.1) | polygon([(hx - 0.5, hy + 5.0), (hx + 0.5, hy + 5.0),
                                                 (hx + 1.0, hy + 7.6), (hx - 1.0, hy + 7.6)])
    cv.fill(hole, (30, 18, 5))


TAU = 2.0 * math.pi


def draw_lava(cv, phase):
    p = phase

    def surface(x):
        return (31.5 + 1.6 * math.sin(TAU * x / 25.0 + p)
                + 0.8 * math.sin(TAU * x / 12.5 + 2.3 + 2.0 * p))

    slope = 1.6 * TAU / 25.0 + 0.8 * TAU / 12.5
    lava = below_curve(surface, slope, y_top=28.0)
    deep, hot, glow = (140, 14, 6), (225, 45, 12), (255, 150, 30)

    def paint(x, y):
        t = y - surface(x)
        c = mix(hot, deep, min(max((t - 2.0) / 16.0, 0.0), 1.0))
        # slow swirls: bright streams and dark cooling crusts; every x
        # frequency divides 50 so the strip tiles sideways
        v = (math.sin(TAU * x / 25.0 + 1.6 * math.sin(y * 0.42 + p) + p)
             + math.sin(y * 0.55 + 1.4 * math.sin(TAU * x / 50.0 * 2 - p) + 1.0))
        if v > 1.1:
            c = mix(c, glow, min((v - 1.1) * 1.6, 0.85))
        elif v < -1.3:
            c = mix(c, (95, 10, 5), min((-1.3 - v) * 1.5, 0.6))
        if t < 3.0:
            c = mix((255, 215, 70), c, max(t, 0.0) / 3.0)
        return c

    cv.fill(lava, paint)
    cv.fill(lava.band(0.8), (255, 245, 170), 0.9)
    bubbles = [(9.0, 38.5, 2.2), (31.0, 44.0, 1.6), (42.0, 37.5, 1.3)]
    if phase:
        bubbles = [(16.0, 40.0, 2.0), (37.0, 43.0, 2.2), (5.0, 45.0, 1.3)]
    for bx, by, br in bubbles:
        cv.fill(circle(bx, by, br + 0.7), (120, 12, 5), 0.7)
        cv.fill(circle(bx, by, br), sphere(bx, by, br, (255, 130, 30), specular=0.7))
    # a bubble bursting at the surface
    dx = 22.0 if not phase else 45.0
    pop = circle(dx, surface(dx) - 0.2, 2.4) - circle(dx, surface(dx) + 0.3, 1.3)
    cv.fill(pop, (255, 190, 60))
    cv.fill(circle(dx - 4.0, surface(dx - 4.0) - 3.0, 0.9), (255, 170, 40))


def draw_spring(cv, cx, y_top, y_bot, turns, width):
    steel = (190, 196, 206)
    n = turns * 2
    pts = []
    for k in range(n + 1):
        x = cx + (width / 2) * (-1 if k % 2 == 0 else 1)
        pts.append((x, y_top + (y_bot - y_top) * k / n))
    back = [line(*pts[k], *pts[k + 1], 1.1) for k in range(1, n, 2)]
    front = [line(*pts[k], *pts[k + 1], 1.25) for k in range(0, n, 2)]
    for s in back:
        cv.fill(s.grow(0.5), (45, 48, 55))
        cv.fill(s, shade(steel, -0.42))
    for s in front:
        cv.fill(s.grow(0.6), (45, 48, 55))
        cv.fill(s, pillow(s, steel, 1.25, tilt=0.85, specular=0.8))


def draw_trampoline(cv, squeezed):
    pad_top = 27.0 if squeezed else 13.0
    pad_h = 6.0 if squeezed else 7.0
    base_top = 43.5
    # springs first so the pad and the base cover their ends
    for sx in (12.0, 25.0, 38.0):
        draw_spring(cv, sx, pad_top + pad_h - 1.0, base_top + 1.0, 3, 7.0)
    base = box(4.0, base_top, 46.0, 49.5, 1.5)
    cv.fill(base.grow(0.9), (35, 38, 45))
    cv.fill(base, pillow(base, (95, 100, 112), 2.0, tilt=0.7, specular=0.3))
    pad = box(2.5, pad_top, 47.5, pad_top + pad_h, 3.0)
    cv.fill(pad.grow(1.0), (90, 10, 15))
    cv.fill(pad, pillow(pad, (225, 40, 45), 2.8, tilt=0.8, specular=0.6))
    stripe = box(5.0, pad_top + pad_h * 0.42, 45.0, pad_top + pad_h * 0.62, 0.6)
    cv.fill(stripe, (255, 235, 235), 0.85)


def draw_bar(cv):
    x0, x1 = 19.0, 31.0
    cx, hw = (x0 + x1) / 2, (x1 - x0) / 2
    cv.fill(box(x0 - 1.0, 0, x1 + 1.0, 50), (150, 100, 0))

    def cyl(x, y):
        u = max(min((x - cx) / hw, 0.999), -0.999)
        return lit((250, 205, 30), (u * 0.9, 0.0, math.sqrt(1 - 0.81 * u * u)), 0.5, 0.7, 16.0)

    cv.fill(box(x0, 0, x1, 50), cyl)


def draw_select(cv):
    """Mouse pointer arrow, tip at the upper left."""
    s, ox, oy = 2.05, 15.0, 6.5
    pts = [(0, 0), (0, 17.0), (4.0, 13.2), (6.9, 19.6), (9.6, 18.4), (6.8, 12.2), (12.2, 12.2)]
    arrow = polygon([(ox + x * s, oy + y * s) for x, y in pts])
    cv.fill(arrow.grow(1.9), (15, 15, 20))
    cv.fill(arrow, linear(WHITE, (222, 226, 234), ox, oy, ox + 14, oy + 36))


STONES = [
    lambda cv: None,
    draw_blue_block,
    draw_green_block,
    draw_star,
    draw_spikes,
    draw_grey_block,
    lambda cv: draw_lever(cv, flip=False),
    lambda cv: draw_lever(cv, flip=True),
    draw_heart,
    draw_coin,
    draw_figure,
    draw_key,
    draw_door,
    lambda cv: draw_lava(cv, 0.0),
    lambda cv: draw_lava(cv, math.pi * 0.9),
    lambda cv: draw_trampoline(cv, squeezed=False),
    lambda cv: draw_trampoline(cv, squeezed=True),
    draw_bar,
]


def render_stone(draw):
    cv = Canvas(50)
    draw(cv)
    return cv.on_white()


# --------------------------------------------------------------------------
# Tool bar icons (16x16).  Drawn by hand: at this size hand-placed pixels stay
# crisp where anti-aliased shapes would go blurry.  '.' is transparent.
# --------------------------------------------------------------------------

OUTLINE = (70, 74, 84)

ICONS = [
    # 0 new: blank page with a folded corner
    ({"#": OUTLINE, "w": (255, 255, 255), "v": (238, 241, 246), "f": (206, 212, 224)}, [
        "..#########.....",
        "..#wwwwwww##....",
        "..#wwwwwww#f#...",
        "..#wwwwwww#ff#..",
        "..#wwwwwww#fff#.",
        "..#wwwwwww#####.",
        "..#wwwwwwwwwwv#.",
        "..#wwwwwwwwwwv#.",
        "..#wwwwwwwwwwv#.",
        "..#wwwwwwwwwwv#.",
        "..#wwwwwwwwwwv#.",
        "..#wwwwwwwwwwv#.",
        "..#wwwwwwwwwwv#.",
        "..#wwwwwwwwwwv#.",
        "..#vvvvvvvvvvv#.",
        "..#############.",
    ]),
    # 1 open: open folder
    ({"#": (135, 90, 15), "y": (232, 180, 55), "t": (244, 200, 85),
      "l": (255, 236, 150), "L": (255, 214, 90), "d": (236, 180, 52)}, [
        "................",
        "................",
        ".####...........",
        "#tttt########...",
        "#yyyyyyyyyyy#...",
        "#yyyyyyyyyyy#...",
        "#yyyyyyyyyyy#...",
        "#yyy############",
        "#yy#llllllllll#.",
        "#yy#LLLLLLLLLL#.",
        "#y#LLLLLLLLLL#..",
        "##LLLLLLLLLL#...",
        "##dddddddddd#...",
        "############....",
        "................",
        "................",
    ]),
    # 2 save: floppy disk
    ({"#": (30, 40, 80), "b": (50, 95, 200), "B": (95, 140, 230), "D": (35, 70, 160),
      "s": (200, 205, 215), "S": (235, 238, 244), "k": (60, 66, 80),
      "w": (255, 255, 255), "l": (170, 185, 215)}, [
        "................",
        ".#############..",
        ".#B#SSSSkSS#bb#.",
        ".#B#sssskss#bbD#",
        ".#B#sssskss#bbD#",
        ".#B#########bbD#",
        ".#BbbbbbbbbbbbD#",
        ".#BbbbbbbbbbbbD#",
        ".#B##########bD#",
        ".#B#wwwwwwww#bD#",
        ".#B#llllllll#bD#",
        ".#B#wwwwwwww#bD#",
        ".#B#llllllll#bD#",
        ".#B#wwwwwwww#bD#",
        ".##############.",
        "................",
    ]),
    # 3 undo: arrow curving back to the left
    ({"#": (20, 60, 130), "b": (50, 120, 220), "h": (120, 180, 250), "d": (35, 90, 180)}, [
        "................",
        "................",
        ".....#..........",
        "....##..........",
        "...#h#######....",
        "..#hhhhhhhhhh##.",
        ".#bbbbbbbbbbbbb#",
        "..#bbbbbbbbbbbd#",
        "...#b#######bbd#",
        "....##.....#bbd#",
        ".....#.....#bbd#",
        "...........#bbd#",
        "....#######bbd#.",
        "....#bbbbbbbbd#.",
        "....#dddddddd#..",
        ".....########...",
    ]),
    # 4 cut: scissors
    ({"#": (50, 54, 62), "s": (215, 220, 228), "S": (150, 156, 168), "p": (120, 124, 134),
      "r": (215, 40, 40), "R": (150, 20, 20)}, [
        "................",
        "...#........#...",
        "...##......##...",
        "...#s#....#S#...",
        "....#s#..#S#....",
        ".....#s##S#.....",
        "......#ss#......",
        "......#pp#......",
        ".....#r##R#.....",
        "....#r#..#R#....",
        ".####r#..#R####.",
        "#rrrrr#..#rrrrR#",
        "#r##r#....#r##R#",
        "#r##R#....#r##R#",
        "#RRRR#....#RRRR#",
        ".####......####.",
    ]),
    # 5 copy: two pages
    ({"#": OUTLINE, "w": (255, 255, 255), "v": (232, 236, 243), "-": (150, 160, 180)}, [
        "................",
        ".#########......",
        ".#wwwwwww#......",
        ".#w-----w#......",
        ".#wwww#########.",
        ".#w--w#wwwwwww#.",
        ".#wwww#w-----w#.",
        ".#w--w#wwwwwww#.",
        ".#wwww#w-----w#.",
        ".#w--w#wwwwwww#.",
        ".#vvvv#w-----w#.",
        ".######wwwwwww#.",
        "......#w-----w#.",
        "......#wwwwwww#.",
        "......#vvvvvvv#.",
        "......#########.",
    ]),
    # 6 paste: clipboard with a sheet on it
    ({"#": (80, 50, 20), "b": (195, 135, 70), "B": (220, 170, 105), "m": (205, 210, 220),
      "M": (130, 136, 150), "k": (60, 64, 72), "w": (255, 255, 255), "-": (150, 160, 180),
      "o": OUTLINE}, [
        "....kkkkkk......",
        ".###kmmmmk###...",
        ".#BBkMMMMkBB#...",
        ".#Bbkkkkkkbb#...",
        ".#Bbbbbbbbbb#...",
        ".#Bbbbbbbbbb#...",
        ".#Bbbbooooooooo.",
        ".#Bbbbowwwwwwwo.",
        ".#Bbbbow-----wo.",
        ".#Bbbbowwwwwwwo.",
        ".#Bbbbow-----wo.",
        ".#Bbbbowwwwwwwo.",
        ".#Bbbbow-----wo.",
        ".#Bbbbowwwwwwwo.",
        ".#####owwwwwwwo.",
        "......ooooooooo.",
    ]),
    # 7 delete: red cross
    ({"#": (120, 10, 10), "r": (220, 35, 35), "h": (250, 110, 100), "d": (175, 20, 20)}, [
        "................",
        ".###........###.",
        ".#hh#......#hh#.",
        ".#hrr#....#hrr#.",
        "..#hrr#..#hrr#..",
        "...#hrr##hrr#...",
        "....#hrrrrr#....",
        ".....#rrrr#.....",
        ".....#rrrd#.....",
        "....#rrrrdd#....",
        "...#rrd##rdd#...",
        "..#rrd#..#rdd#..",
        ".#rrd#....#rdd#.",
        ".#rd#......#dd#.",
        ".###........###.",
        "................",
    ]),
    # 8 bin: waste bin with a lid
    ({"#": (50, 55, 65), "L": (175, 185, 200), "l": (220, 226, 235), "c": (150, 160, 178),
      "h": (200, 208, 222), "r": (100, 108, 124)}, [
        ".....######.....",
        ".....#....#.....",
        ".##############.",
        ".#llllllllllll#.",
        ".#LLLLLLLLLLLL#.",
        ".##############.",
        "..#hcrhcrhcrc#..",
        "..#hcrhcrhcrc#..",
        "..#hcrhcrhcrc#..",
        "..#hcrhcrhcrc#..",
        "..#hcrhcrhcrc#..",
        "..#hcrhcrhcrc#..",
        "..#hcrhcrhcrc#..",
        "..#hcrhcrhcrc#..",
        "...#rrrrrrrr#...",
        "...##########...",
    ]),
    # 9 options: a settings window with two sliders
    ({"#": (40, 50, 80), "T": (110, 160, 240), "t": (50, 100, 200), "w": (246, 247, 250),
      "-": (120, 126, 140), "K": (70, 130, 220), "k": (30, 60, 130), "x": (240, 110, 90),
      "X": (200, 50, 40)}, [
        "................",
        "##############..",
        "#TTTTTTTTTTxx#..",
        "#ttttttttttXX#..",
        "##############..",
        "#wwwwwwwwwwww#..",
        "#wwwkkwwwwwww#..",
        "#w--kK-------#..",
        "#wwwkkwwwwwww#..",
        "#wwwwwwwwwwww#..",
        "#wwwwwwwkkwww#..",
        "#w------kK---#..",
        "#wwwwwwwkkwww#..",
        "#wwwwwwwwwwww#..",
        "##############..",
        "................",
    ]),
    # 10 eraser: a two-tone rubber block
    ({"#": (60, 40, 50), "p": (250, 175, 180), "P": (232, 140, 150), "q": (205, 110, 120),
      "b": (120, 170, 240), "B": (70, 120, 210), "c": (50, 90, 170)}, [
        "................",
        "................",
        "................",
        "......##########",
        ".....#ppppp#bbb#",
        "....#ppppp#bbb##",
        "...#ppppp#bbb#c#",
        "..###########cc#",
        "..#PPPPPP#BBB#c#",
        "..#PPPPPP#BBB#c#",
        "..#qqqqqq#ccc##.",
        "..###########...",
        "................",
        "................",
        "................",
        "................",
    ]),
]


def render_icon(icon, width=16, height=16):
    palette, rows = icon
    assert len(rows) == height and all(len(r) == width for r in rows), rows
    return [[MAGENTA if ch == "." else _safe(palette[ch]) for ch in r] for r in rows]


# --------------------------------------------------------------------------
# Pictures of the captionless buttons beside the properties panel's fields
# (11x15: what fits inside a 17x25 button with its edge and pressed offset).
# A disabled button greys out every pixel that is not pure white, so the
# white parts are pure white on purpose.
# --------------------------------------------------------------------------

BUTTON_PICTURES = {
    # take the stone's current position: a map pin on its shadow
    "copyposition": ({"#": (120, 10, 10), "r": (220, 35, 35), "h": (250, 110, 100),
                      "d": (175, 20, 20), "w": (255, 255, 255), "s": (150, 156, 168)}, [
        "...#####...",
        "..#hhrrr#..",
        ".#hhrrrrd#.",
        ".#hrwwwrd#.",
        ".#rrwwwrd#.",
        ".#rrwwwrd#.",
        ".#rrrrrdd#.",
        "..#rrrdd#..",
        "..#rrrdd#..",
        "...#rdd#...",
        "...#rdd#...",
        "....#d#....",
        "....#d#....",
        ".....#.....",
        "...sssss...",
    ]),
    # pick the target on the canvas: the mouse pointer on a blue stone
    "picktarget": ({"o": (20, 45, 110), "L": (120, 165, 240), "b": (40, 100, 215),
                    "D": (25, 65, 150), "#": (15, 15, 20), "w": (255, 255, 255)}, [
        "ooooooooo..",
        "oLLLLLLLo..",
        "oLbbbbbDo..",
        "oLbbbbbDo..",
        "oLbb#bbDo..",
        "oLbb##bDo..",
        "oLbb#w#Do..",
        "oLDD#ww#o..",
        "oooo#www#..",
        "....#wwww#.",
        "....#wwwww#",
        "....#wwww##",
        "....#ww#w#.",
        "....#w##w#.",
        "....##..#w#",
    ]),
}


# --------------------------------------------------------------------------
# Application icon: the yellow figure standing on a blue block
# --------------------------------------------------------------------------

def draw_app_icon(cv):
    blue = (40, 100, 215)
    small = cv.n < 32
    # at 16 px everything must be bolder or it turns to mush
    blk = box(2.0, 30.0, 46.0, 46.5, 3.0) if small else box(3.0, 29.0, 45.0, 46.0, 3.0)
    cv.fill(blk.grow(2.4 if small else 1.2), shade(blue, -0.6))
    cv.fill(blk, pillow(blk, blue, 4.0, tilt=0.75, specular=0.4))
    if small:
        draw_zemb(cv, cx=24.0, cy=18.0, r=16.0, detail=False, outline=2.4)
    else:
        cv.fill(box(7.0, 33.0, 41.0, 42.0, 1.0), shade(blue, 0.12), 0.5)
        draw_zemb(cv, cx=24.0, cy=17.5, r=14.0, detail=cv.n >= 32)


def render_app_icon(size):
    cv = Canvas(size, units=48.0)
    draw_app_icon(cv)
    return cv.rgba()


# --------------------------------------------------------------------------
# The crash reporter's pictures: drawn on 16 units (the big ones on 32 pixels
# of the same design), shaded like the stones, with straight alpha.
# --------------------------------------------------------------------------

def _ring(cx, cy, r, w):
    return circle(cx, cy, r) - circle(cx, cy, r - w)


def draw_mei_send(cv):
    body = box(1.5, 3.5, 14.5, 12.5, 1.0)
    cv.fill(body.grow(0.7), (70, 90, 130))
    cv.fill(body, linear((255, 255, 255), (214, 222, 236), 0, 3.5, 0, 12.5))
    cv.fill(polyline([(2.0, 4.2), (8.0, 9.0), (14.0, 4.2)], 0.6), (90, 110, 150))
    cv.fill(polyline([(2.0, 12.0), (6.3, 7.8)], 0.45), (150, 165, 195))
    cv.fill(polyline([(14.0, 12.0), (9.7, 7.8)], 0.45), (150, 165, 195))


def draw_mei_save(cv):
    blue = (45, 95, 190)
    disk = box(1.5, 1.5, 14.5, 14.5, 1.2)
    cv.fill(disk.grow(0.6), shade(blue, -0.55))
    cv.fill(disk, pillow(disk, blue, 2.0, tilt=0.7))
    label = box(3.8, 1.5, 12.2, 7.0, 0.5)
    cv.fill(label, linear((250, 250, 250), (205, 210, 218), 0, 1.5, 0, 7.0))
    cv.fill(box(9.3, 2.3, 11.2, 6.0, 0.3), shade(blue, -0.3))
    cv.fill(box(4.2, 9.5, 11.8, 14.5, 0.4), (225, 228, 232))
    cv.fill(box(5.3, 11.0, 10.7, 11.8), (150, 155, 165))


def draw_mei_print(cv):
    grey = (120, 126, 136)
    cv.fill(box(4.0, 1.0, 12.0, 7.0, 0.3).grow(0.5), (110, 115, 125))
    cv.fill(box(4.0, 1.0, 12.0, 7.0, 0.3), (255, 255, 255))
    body = box(1.0, 5.5, 15.0, 12.5, 1.5)
    cv.fill(body.grow(0.6), shade(grey, -0.6))
    cv.fill(body, pillow(body, grey, 2.0, tilt=0.75, specular=0.3))
    cv.fill(box(12.0, 7.3, 13.3, 8.3, 0.3), (90, 220, 90))
    paper = box(4.0, 10.0, 12.0, 15.0, 0.3)
    cv.fill(paper.grow(0.5), (110, 115, 125))
    cv.fill(paper, (255, 255, 255))
    for y in (11.6, 13.2):
        cv.fill(box(5.2, y, 10.8, y + 0.7), (150, 160, 180))


def draw_mei_show(cv):
    page = box(2.0, 1.0, 11.5, 14.0, 0.6)
    cv.fill(page.grow(0.6), (110, 115, 125))
    cv.fill(page, (255, 255, 255))
    for y in (3.0, 5.0, 7.0, 9.0):
        cv.fill(box(3.6, y, 9.6, y + 0.8), (150, 160, 180))
    lens = circle(9.8, 9.2, 3.4)
    cv.fill(line(12.0, 11.6, 14.8, 14.6, 1.1), (70, 60, 50))
    cv.fill(lens.grow(0.9), (60, 65, 75))
    cv.fill(lens, sphere(9.0, 8.4, 4.2, (185, 215, 245), specular=0.8))


def draw_mei_continue(cv):
    green = (40, 160, 60)
    disc = circle(8.0, 8.0, 7.0)
    cv.fill(disc.grow(0.6), shade(green, -0.55))
    cv.fill(disc, sphere(8.0, 8.0, 7.0, green, specular=0.5))
    cv.fill(polygon([(6.0, 4.3), (11.8, 8.0), (6.0, 11.7)]).grow(0.3), (255, 255, 255))


def draw_mei_cant_continue(cv):
    grey = (150, 152, 156)
    disc = circle(8.0, 8.0, 7.0)
    cv.fill(disc.grow(0.6), shade(grey, -0.5))
    cv.fill(disc, sphere(8.0, 8.0, 7.0, grey, specular=0.3))
    cv.fill(polygon([(6.0, 4.3), (11.8, 8.0), (6.0, 11.7)]).grow(0.3), (235, 235, 235))
    cv.fill(line(3.3, 12.7, 12.7, 3.3, 1.0), (200, 40, 40))


def draw_mei_restart(cv):
    blue = (40, 120, 210)
    arc = polyline(arc_points(8.0, 8.5, 5.2, -60.0, 235.0, 24), 1.3)
    cv.fill(arc.grow(0.6), shade(blue, -0.55))
    cv.fill(arc, pillow(arc, blue, 1.3, tilt=0.6))
    tip = polygon([(9.2, 0.6), (14.6, 3.4), (9.6, 7.6)])
    cv.fill(tip.grow(0.6), shade(blue, -0.55))
    cv.fill(tip, pillow(tip, blue, 1.5, tilt=0.6))


def draw_mei_close(cv):
    red = (205, 45, 40)
    disc = circle(8.0, 8.0, 7.0)
    cv.fill(disc.grow(0.6), shade(red, -0.55))
    cv.fill(disc, sphere(8.0, 8.0, 7.0, red, specular=0.5))
    cross = line(5.2, 5.2, 10.8, 10.8, 1.0) | line(10.8, 5.2, 5.2, 10.8, 1.0)
    cv.fill(cross, (255, 255, 255))


def draw_mei_big(cv):
    red = (200, 40, 35)
    disc = circle(8.0, 8.0, 7.3)
    cv.fill(disc.grow(0.4), shade(red, -0.6))
    cv.fill(disc, sphere(8.0, 8.0, 7.3, red, specular=0.55))
    cv.fill(box(7.1, 3.2, 8.9, 9.6, 0.9), (255, 255, 255))
    cv.fill(circle(8.0, 11.9, 1.05), (255, 255, 255))


def draw_mei_plwait(cv):
    blue = (40, 110, 205)
    disc = circle(8.0, 8.0, 7.3)
    cv.fill(disc.grow(0.4), shade(blue, -0.6))
    cv.fill(disc, sphere(8.0, 8.0, 7.3, blue, specular=0.55))
    cv.fill(circle(8.0, 4.4, 1.05), (255, 255, 255))
    cv.fill(box(7.1, 6.4, 8.9, 12.6, 0.5), (255, 255, 255))


# name, drawing, size in pixels
MEI_PICTURES = [
    ("send", draw_mei_send, 16),
    ("send32", draw_mei_send, 32),  # the progress window's picture while sending
    ("save", draw_mei_save, 16),
    ("print", draw_mei_print, 16),
    ("show", draw_mei_show, 16),
    ("continue", draw_mei_continue, 16),
    ("restart", draw_mei_restart, 16),
    ("close", draw_mei_close, 16),
    ("cantContinue", draw_mei_cant_continue, 16),
    ("big", draw_mei_big, 32),
    ("plwait", draw_mei_plwait, 32),
]


def render_mei(draw, size):
    cv = Canvas(size, units=16.0)
    draw(cv)
    return cv.rgba()


# --------------------------------------------------------------------------
# File writers
# --------------------------------------------------------------------------

def bmp_bytes(rows):
    """24-bit bottom-up BMP with a BITMAPINFOHEADER."""
    h = len(rows)
    w = len(rows[0])
    stride = (w * 3 + 3) & ~3
    pad = b"\0" * (stride - w * 3)
    data = bytearray()
    for row in reversed(rows):
        for r, g, b in row:
            data += bytes((b, g, r))
        data += pad
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + bytes(data)


def bmp32_bytes(rows):
    """32-bit bottom-up BMP with straight alpha, as the crash reporter blends it."""
    h = len(rows)
    w = len(rows[0])
    data = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            data += bytes((b, g, r, a))
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 32, 0, len(data), 2835, 2835, 0, 0)
    return header + info + bytes(data)


def ico_bytes(images):
    """ICO of 32-bit BGRA DIBs, each followed by its 1-bit AND mask."""
    blobs = []
    for rows in images:
        size = len(rows)
        xor = bytearray()
        for row in reversed(rows):
            for r, g, b, a in row:
                xor += bytes((b, g, r, a))
        mask_stride = ((size + 31) // 32) * 4
        mask = bytearray()
        for row in reversed(rows):
            bits = bytearray(mask_stride)
            for x, px in enumerate(row):
                if px[3] < 128:
                    bits[x >> 3] |= 0x80 >> (x & 7)
            mask += bits
        info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                           len(xor) + len(mask), 0, 0, 0, 0)
        blobs.append((size, info + bytes(xor) + bytes(mask)))
    out = bytearray(struct.pack("<HHH", 0, 1, len(blobs)))
    offset = 6 + 16 * len(blobs)
    for size, blob in blobs:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for _, blob in blobs:
        out += blob
    return bytes(out)


def png_bytes(rows):
    h = len(rows)
    w = len(rows[0])
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for px in row:
            raw += bytes(px)

    def chunk(kind, payload):
        c = struct.pack(">I", len(payload)) + kind + payload
        return c + struct.pack(">I", zlib.crc32(kind + payload) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


# --------------------------------------------------------------------------
# Contact sheet
# --------------------------------------------------------------------------

def contact_sheet(stones, select, icons, app):
    gap, margin = 8, 12
    sheet_bg = (205, 208, 214)
    tiles = []  # (x, y, rows, zoom, background or None for straight alpha)
    y = margin
    pictures = stones + [select]
    per_row = 10
    for bg in ((255, 255, 255), (240, 240, 240)):
        for start in range(0, len(pictures), per_row):
            x = margin
            for pic in pictures[start:start + per_row]:
                tiles.append((x, y, pic, 2, bg))
                x += 100 + gap
            y += 100 + gap
        y += gap
    for bg in ((255, 255, 255), (240, 240, 240)):
        x = margin
        for pic in icons:
            tiles.append((x, y, pic, 4, bg))
            x += 64 + gap
        y += 64 + gap
    y += gap
    x = margin
    for bg in ((255, 255, 255), (240, 240, 240), (40, 44, 52)):
        for rows in app:
            tiles.append((x, y, rows, 2, bg))
            x += len(rows) * 2 + gap
        x += gap
    y += 96 + margin
    width = margin * 2 + per_row * (100 + gap) - gap
    canvas = [[sheet_bg] * width for _ in range(y)]
    for tx, ty, rows, zoom, bg in tiles:
        for sy, row in enumerate(rows):
            for sx, px in enumerate(row):
                if len(px) == 4:
                    a = px[3] / 255.0
                    c = tuple(int(px[i] * a + bg[i] * (1 - a) + 0.5) for i in range(3))
                else:
                    c = bg if px == MAGENTA else px
                for dy in range(zoom):
                    line_ = canvas[ty + sy * zoom + dy]
                    for dx in range(zoom):
                        line_[tx + sx * zoom + dx] = c
    return canvas


# --------------------------------------------------------------------------

def generate(out):
    stones = [render_stone(d) for d in STONES]
    select = render_stone(draw_select)
    icons = [render_icon(i) for i in ICONS]
    app = [render_app_icon(s) for s in (16, 32, 48)]

    files = {}
    for k, rows in enumerate(stones):
        files["stones/stone%02d.bmp" % k] = bmp_bytes(rows)
    files["stones/select.bmp"] = bmp_bytes(select)
    for k, rows in enumerate(icons):
        files["toolbar/tool%02d.bmp" % k] = bmp_bytes(rows)
    for name, picture in BUTTON_PICTURES.items():
        files["buttons/%s.bmp" % name] = bmp_bytes(render_icon(picture, 11, 15))
    for name, draw, size in MEI_PICTURES:
        files["buttons/mei%s.bmp" % name] = bmp32_bytes(render_mei(draw, size))
    files["app.ico"] = ico_bytes(app)
    files["preview.png"] = png_bytes(contact_sheet(stones, select, icons, app))

    for name, data in sorted(files.items()):
        path = os.path.join(out, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as fh:
            fh.write(data)
    return sorted(files)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description="Draw the level editor's pictures.")
    ap.add_argument("--out", default=os.path.join(here, os.pardir, "assets"),
                    help="directory to write into (default: assets/ in the repository)")
    args = ap.parse_args()
    names = generate(os.path.normpath(args.out))
    print("wrote %d files to %s" % (len(names), os.path.normpath(args.out)))


if __name__ == "__main__":
    main()
