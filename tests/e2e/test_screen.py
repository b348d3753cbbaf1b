"""The screenshot check of the desktop matrix on made-up screens: it finds a whole stage at
any place and scale, and it refuses a stage that is cut, covered or not all there."""

import unittest

import screen


def shot(width, height, stage, cover=None):
    """A PPM screen with the probe's stage drawn at stage=(x, y, w, h) (nearest-pixel
    scaling, like a renderer), cut by the screen's edges, and an optional grey rectangle
    drawn over it."""
    rows = [bytearray(b"\x20\x20\x20" * width) for _ in range(height)]
    x0, y0, w, h = stage
    top, middle, bottom = (bytearray() for _ in range(3))
    colours = list(screen.MARKERS.values())
    for x in range(w):
        sx = x * 800 // w
        side = 0 if sx < screen.MARKER else 1 if sx >= 800 - screen.MARKER else None
        middle += b"\x0a\x0a\x0a"
        top += bytes(colours[side]) if side is not None else b"\x0a\x0a\x0a"
        bottom += bytes(colours[side + 2]) if side is not None else b"\x0a\x0a\x0a"
    for y in range(max(0, y0), min(height, y0 + h)):
        sy = (y - y0) * 600 // h
        row = top if sy < screen.MARKER else bottom if sy >= 600 - screen.MARKER else middle
        left, right = max(0, x0), min(width, x0 + w)
        rows[y][3 * left:3 * right] = row[3 * (left - x0):3 * (right - x0)]
    if cover:
        cx, cy, cw, ch = cover
        for y in range(cy, cy + ch):
            rows[y][3 * cx:3 * (cx + cw)] = b"\x80\x80\x80" * cw
    return screen.Image(b"P6\n%d %d\n255\n" % (width, height) + b"".join(rows))


class LocateStageTest(unittest.TestCase):

    def test_a_whole_stage_is_found_at_its_place_and_scale(self):
        for stage in ((0, 0, 800, 600), (1280, 0, 800, 600), (7, 31, 1000, 750), (0, 0, 1920, 1080)):
            with self.subTest(stage=stage):
                found = screen.locate_stage(shot(3200, 1080, stage))
                self.assertEqual(found["rect"], stage)
                self.assertAlmostEqual(found["scale"][0], stage[2] / 800, places=3)

    def test_a_cut_covered_or_missing_stage_is_refused(self):
        cases = {
            "cut at the bottom": shot(1000, 620, (0, 41, 800, 600)),
            "a panel over the top": shot(1000, 700, (0, 0, 800, 600), cover=(0, 0, 1000, 27)),
            "a window over a corner": shot(1000, 700, (0, 0, 800, 600), cover=(20, 20, 300, 200)),
            "only the top-left quarter": shot(800, 600, (0, 0, 1600, 1200)),
        }
        for name, image in cases.items():
            with self.subTest(name):
                with self.assertRaises(AssertionError):
                    screen.locate_stage(image)


if __name__ == "__main__":
    unittest.main()
