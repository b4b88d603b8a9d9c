"""Checks the pictures under assets/ that the editor loads at run time.

Run from the repository root:  python3 -m unittest discover -s tests/tools
"""

import os
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ASSETS = os.path.join(ROOT, "assets")
GENERATOR = os.path.join(ROOT, "tools", "gen_assets.py")

MAGENTA = (255, 0, 255)
STONES = ["stones/stone%02d.bmp" % i for i in range(18)]
SELECT = "stones/select.bmp"
ICONS = ["toolbar/tool%02d.bmp" % i for i in range(11)]
COPY_POSITION = "buttons/copyposition.bmp"
PICK_TARGET = "buttons/picktarget.bmp"
BUTTONS = [COPY_POSITION, PICK_TARGET]
BMPS = STONES + [SELECT] + ICONS + BUTTONS
# The crash reporter's pictures: 32-bit with alpha; the big icon and the please-wait one 32x32.
MEI = {"buttons/mei%s.bmp" % n: (32 if n in ("big", "plwait", "send32") else 16)
       for n in ("send", "send32", "save", "print", "show", "continue", "restart", "close", "cantContinue",
                 "big", "plwait")}
ALL_FILES = sorted(BMPS + list(MEI) + ["app.ico", "preview.png"])


def bmp_size(name):
    if name.startswith("toolbar/"):
        return 16, 16
    if name.startswith("buttons/"):
        return 11, 15  # inside a 17x25 button, with room for its edge and pressed offset
    return 50, 50


def read(name):
    with open(os.path.join(ASSETS, *name.split("/")), "rb") as fh:
        return fh.read()


def parse_bmp(data):
    """Returns the header fields and the pixels as top-down rows of (r, g, b)."""
    magic, file_size, _, _, offset = struct.unpack_from("<2sIHHI", data, 0)
    (hdr_size, w, h, planes, bpp, compression, image_size,
     _, _, _, _) = struct.unpack_from("<IiiHHIIiiII", data, 14)
    info = dict(magic=magic, file_size=file_size, offset=offset, hdr_size=hdr_size, w=w, h=h,
                planes=planes, bpp=bpp, compression=compression, image_size=image_size)
    stride = (abs(w) * 3 + 3) & ~3
    rows = []
    for y in range(abs(h)):
        start = offset + y * stride
        row = []
        for x in range(abs(w)):
            b, g, r = data[start + 3 * x:start + 3 * x + 3]
            row.append((r, g, b))
        rows.append(row)
    if h > 0:  # positive height: stored bottom row first
        rows.reverse()
    return info, rows


def pixels(name):
    return parse_bmp(read(name))[1]


def opaque(px):
    return px != MAGENTA


def centroid(rows, pred):
    pts = [(x, y) for y, row in enumerate(rows) for x, px in enumerate(row) if pred(px)]
    if not pts:
        return None, 0
    return (sum(p[0] for p in pts) / len(pts), sum(p[1] for p in pts) / len(pts)), len(pts)


def mean_colour(rows):
    vis = [px for row in rows for px in row if opaque(px)]
    return tuple(sum(p[i] for p in vis) / len(vis) for i in range(3))


class AssetFiles(unittest.TestCase):
    def test_every_file_exists(self):
        for name in ALL_FILES:
            with self.subTest(name=name):
                self.assertTrue(os.path.isfile(os.path.join(ASSETS, *name.split("/"))))

    def test_bmp_headers(self):
        for name in BMPS:
            w, h = bmp_size(name)
            with self.subTest(name=name):
                data = read(name)
                info, _ = parse_bmp(data)
                stride = (w * 3 + 3) & ~3
                self.assertEqual(info["magic"], b"BM")
                self.assertEqual(info["file_size"], len(data))
                self.assertEqual(info["offset"], 54)
                self.assertEqual(info["hdr_size"], 40)
                # positive height: bottom-up, as the loader expects
                self.assertEqual((info["w"], info["h"]), (w, h))
                self.assertEqual((info["planes"], info["bpp"], info["compression"]), (1, 24, 0))
                self.assertEqual(len(data), 54 + stride * h)


    def test_crash_reporter_pictures_have_alpha(self):
        for name, size in MEI.items():
            with self.subTest(name=name):
                data = read(name)
                (hdr, w, h, planes, bpp, compression) = struct.unpack_from("<IiiHHI", data, 14)
                self.assertEqual((hdr, w, h, planes, bpp, compression), (40, size, size, 1, 32, 0))
                self.assertEqual(len(data), 54 + 4 * size * size)
                alpha = data[54 + 3::4]
                self.assertEqual(alpha[0], 0)  # a corner stays transparent
                self.assertGreater(sum(1 for a in alpha if a == 255), size * size // 4)


class Transparency(unittest.TestCase):
    def test_stone_zero_is_fully_transparent(self):
        self.assertTrue(all(px == MAGENTA for row in pixels(STONES[0]) for px in row))

    def test_every_other_picture_shows_something(self):
        for name in STONES[1:] + [SELECT]:
            with self.subTest(name=name):
                n = sum(opaque(px) for row in pixels(name) for px in row)
                self.assertGreater(n, 2500 // 20)
        for name in ICONS + BUTTONS:
            with self.subTest(name=name):
                n = sum(opaque(px) for row in pixels(name) for px in row)
                self.assertGreater(n, 40)

    def test_no_colour_close_to_the_mask(self):
        # a near-magenta pixel would be drawn as a pink speck instead of vanishing
        for name in BMPS:
            with self.subTest(name=name):
                for y, row in enumerate(pixels(name)):
                    for x, (r, g, b) in enumerate(row):
                        if (r, g, b) == MAGENTA:
                            continue
                        d2 = (r - 255) ** 2 + g * g + (b - 255) ** 2
                        self.assertGreater(d2, 40 * 40, "pixel %d,%d = %r" % (x, y, (r, g, b)))

    def test_icons_keep_transparent_surroundings(self):
        for name in ICONS + [SELECT] + BUTTONS:
            with self.subTest(name=name):
                rows = pixels(name)
                self.assertTrue(any(px == MAGENTA for row in rows for px in row))


class StoneContent(unittest.TestCase):
    """Coarse checks that each picture is what the game means by that stone."""

    def test_blocks_cover_the_whole_cell(self):
        # blocks are laid edge to edge; a transparent pixel would show as a gap
        for i in (1, 2, 5):
            with self.subTest(stone=i):
                self.assertTrue(all(opaque(px) for row in pixels(STONES[i]) for px in row))

    def test_main_colours(self):
        # also catches red and blue swapped when writing BGR
        r, g, b = mean_colour(pixels(STONES[1]))
        self.assertGreater(b, r + 60)
        self.assertGreater(b, g + 30)
        r, g, b = mean_colour(pixels(STONES[2]))
        self.assertGreater(g, r + 40)
        self.assertGreater(g, b + 40)
        for i in (3, 9, 17):  # star, coin, bar: yellow/gold
            with self.subTest(stone=i):
                r, g, b = mean_colour(pixels(STONES[i]))
                self.assertGreater(min(r, g), b + 80)
        r, g, b = mean_colour(pixels(STONES[8]))
        self.assertGreater(r, g + 100)
        r, g, b = mean_colour(pixels(STONES[5]))
        self.assertLess(max(r, g, b) - min(r, g, b), 25)  # grey

    def test_strips_lie_along_the_bottom(self):
        # spikes and lava sit on the floor of the cell; upside-down rows would
        # put them at the top
        for i in (4, 13, 14):
            with self.subTest(stone=i):
                rows = pixels(STONES[i])
                self.assertTrue(all(px == MAGENTA for row in rows[:25] for px in row))
                self.assertTrue(all(opaque(px) for px in rows[-1]))
                self.assertTrue(any(opaque(px) for px in rows[33]))

    def test_lava_frames_are_two_phases_of_one_strip(self):
        a, b = pixels(STONES[13]), pixels(STONES[14])
        self.assertNotEqual(a, b)
        ca, cb = mean_colour(a), mean_colour(b)
        self.assertLess(max(abs(x - y) for x, y in zip(ca, cb)), 20)

    def test_bar_is_a_full_height_centred_post(self):
        for y, row in enumerate(pixels(STONES[17])):
            xs = [x for x, px in enumerate(row) if opaque(px)]
            with self.subTest(row=y):
                self.assertTrue(10 <= len(xs) <= 16)
                self.assertEqual(xs[-1] - xs[0] + 1, len(xs))
                self.assertLessEqual(abs((xs[0] + xs[-1]) / 2 - 24.5), 1.0)

    def test_lever_post_sides(self):
        def brown(px):
            r, g, b = px
            return opaque(px) and 90 <= r <= 200 and 0.45 * r <= g <= 0.75 * r and b < g

        def red(px):
            r, g, b = px
            return opaque(px) and r > 150 and g < 0.35 * r and b < 0.35 * r

        for i, post_right in ((6, True), (7, False)):
            with self.subTest(stone=i):
                rows = pixels(STONES[i])
                post, n_post = centroid(rows, brown)
                knob, n_red = centroid(rows, red)
                self.assertGreater(n_post, 60)
                self.assertGreater(n_red, 60)
                post_x, knob_x = post[0], knob[0]
                self.assertEqual(post_x > 25, post_right)
                self.assertEqual(knob_x < post_x, post_right)

    def test_lever_pictures_mirror_each_other(self):
        a = pixels(STONES[6])
        b = pixels(STONES[7])
        mask_a = [[opaque(px) for px in row] for row in a]
        mask_b = [[opaque(px) for px in reversed(row)] for row in b]
        differ = sum(p != q for ra, rb in zip(mask_a, mask_b) for p, q in zip(ra, rb))
        self.assertLess(differ, 30)

    def test_trampoline_frames_differ_in_height(self):
        def top(rows):
            return next(y for y, row in enumerate(rows) if any(opaque(px) for px in row))

        self.assertLess(top(pixels(STONES[15])) + 5, top(pixels(STONES[16])))

    def test_pointer_is_white_with_a_dark_outline(self):
        rows = pixels(SELECT)
        white = sum(min(px) > 220 for row in rows for px in row if opaque(px))
        dark = sum(max(px) < 60 for row in rows for px in row)
        self.assertGreater(white, 150)
        self.assertGreater(dark, 80)


class ButtonPictures(unittest.TestCase):
    """The two pictures must read differently at 1:1: a red pin, a pointer on a blue stone."""

    @staticmethod
    def red(px):
        return opaque(px) and px[0] > max(px[1], px[2]) + 60

    @staticmethod
    def blue(px):
        return opaque(px) and px[2] > max(px[0], px[1]) + 60

    def test_pin_stands_upright_in_the_middle(self):
        rows = pixels(COPY_POSITION)
        (cx, cy), n = centroid(rows, self.red)
        self.assertGreater(n, 50)
        self.assertLessEqual(abs(cx - 5.0), 0.5)
        # head at the top, point below it: upside-down rows would swap them
        self.assertLess(cy, 6.0)
        self.assertEqual([x for x, px in enumerate(rows[13]) if opaque(px)], [5])
        self.assertFalse(any(self.blue(px) for row in rows for px in row))

    def test_pointer_tip_lies_on_the_stone(self):
        rows = pixels(PICK_TARGET)
        stone = [(x, y) for y, row in enumerate(rows) for x, px in enumerate(row) if self.blue(px)]
        self.assertGreater(len(stone), 50)
        self.assertFalse(any(self.red(px) for row in rows for px in row))
        # the pointer's white body starts inside the stone and reaches out below and right of it
        white = [(x, y) for y, row in enumerate(rows) for x, px in enumerate(row) if min(px) > 240]
        tip = min(white, key=lambda p: (p[1], p[0]))
        self.assertTrue(min(x for x, _ in stone) < tip[0] < max(x for x, _ in stone))
        self.assertTrue(min(y for _, y in stone) < tip[1] < max(y for _, y in stone))
        self.assertGreater(max(x for x, _ in white), max(x for x, _ in stone))
        self.assertGreater(max(y for _, y in white), max(y for _, y in stone))


class AppIcon(unittest.TestCase):
    def test_icon_structure(self):
        data = read("app.ico")
        reserved, kind, count = struct.unpack_from("<HHH", data, 0)
        self.assertEqual((reserved, kind, count), (0, 1, 3))
        seen = []
        spans = []
        for k in range(count):
            w, h, colours, res, planes, bpp, size, offset = struct.unpack_from(
                "<BBBBHHII", data, 6 + 16 * k)
            with self.subTest(entry=k):
                self.assertEqual(w, h)
                self.assertEqual((colours, res, planes, bpp), (0, 0, 1, 32))
                mask_stride = ((w + 31) // 32) * 4
                self.assertEqual(size, 40 + w * w * 4 + mask_stride * w)
                self.assertLessEqual(offset + size, len(data))
                hdr, dw, dh, dplanes, dbpp, comp = struct.unpack_from("<IiiHHI", data, offset)
                self.assertEqual((hdr, dw, dh, dplanes, dbpp, comp), (40, w, 2 * w, 1, 32, 0))
                xor = data[offset + 40:offset + 40 + w * w * 4]
                alpha = xor[3::4]
                self.assertIn(0, alpha)    # transparent corners
                self.assertIn(255, alpha)  # solid body
                self.assertGreater(sum(a > 127 for a in alpha), w * w // 3)
                # the AND mask must agree with alpha for hosts that ignore alpha
                mask = data[offset + 40 + w * w * 4:offset + size]
                for y in range(w):
                    for x in range(w):
                        bit = (mask[y * mask_stride + x // 8] >> (7 - x % 8)) & 1
                        self.assertEqual(bit, 1 if alpha[y * w + x] < 128 else 0)
            seen.append(w)
            spans.append((offset, offset + size))
        self.assertEqual(sorted(seen), [16, 32, 48])
        spans.sort()
        self.assertGreaterEqual(spans[0][0], 6 + 16 * count)
        for (_, end), (start, _) in zip(spans, spans[1:]):
            self.assertLessEqual(end, start)


class Preview(unittest.TestCase):
    def test_preview_is_a_valid_png(self):
        data = read("preview.png")
        self.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n")
        pos, idat, ihdr = 8, b"", None
        while pos < len(data):
            (length,) = struct.unpack_from(">I", data, pos)
            kind = data[pos + 4:pos + 8]
            body = data[pos + 8:pos + 8 + length]
            (crc,) = struct.unpack_from(">I", data, pos + 8 + length)
            self.assertEqual(crc, zlib.crc32(kind + body) & 0xFFFFFFFF, kind)
            if kind == b"IHDR":
                ihdr = struct.unpack(">IIBBBBB", body)
            elif kind == b"IDAT":
                idat += body
            pos += 12 + length
        self.assertEqual(kind, b"IEND")
        w, h, depth, colour = ihdr[:4]
        self.assertEqual((depth, colour), (8, 2))
        self.assertEqual(len(zlib.decompress(idat)), h * (1 + 3 * w))


class Generator(unittest.TestCase):
    def test_generator_reproduces_the_committed_files(self):
        with tempfile.TemporaryDirectory() as out:
            t0 = time.monotonic()
            subprocess.run([sys.executable, GENERATOR, "--out", out], check=True,
                           stdout=subprocess.DEVNULL, cwd=out)
            elapsed = time.monotonic() - t0
            made = sorted(os.path.relpath(os.path.join(d, f), out).replace(os.sep, "/")
                          for d, _, files in os.walk(out) for f in files)
            self.assertEqual(made, ALL_FILES)
            for name in ALL_FILES:
                with self.subTest(name=name):
                    with open(os.path.join(out, *name.split("/")), "rb") as fh:
                        self.assertTrue(fh.read() == read(name),
                                        "%s differs from a fresh run of the generator" % name)
        # it is meant to take a second or two; leave room for a busy machine
        self.assertLess(elapsed, 20.0)


if __name__ == "__main__":
    unittest.main()
