"""Where the probe movie's stage is on the screen, from a screenshot: the movie paints a
solid square of a pure colour in each corner of its 800x600 stage; the squares found give
the stage's rectangle in device pixels, its scale, and whether any part of it is missing."""

import re

STAGE = (800, 600)
MARKER = 40  # the side of a corner square in stage pixels (Probe.MARKER)
MARKERS = {  # corner -> RGB (Probe.MARKERS)
    "top-left": (0xFF, 0x00, 0x00),
    "top-right": (0x00, 0xFF, 0x00),
    "bottom-left": (0x00, 0x00, 0xFF),
    "bottom-right": (0xFF, 0x00, 0xFF),
}


class Image:
    """A binary PPM (P6, 8 bits per channel) screenshot."""

    def __init__(self, ppm):
        m = re.match(rb"P6\s+(?:#[^\n]*\n\s*)*(\d+)\s+(\d+)\s+(\d+)\s", ppm)
        if not m or m.group(3) != b"255":
            raise ValueError("not an 8-bit binary PPM image")
        self.ppm = ppm
        self.width, self.height = int(m.group(1)), int(m.group(2))
        self.pixels = ppm[m.end():m.end() + 3 * self.width * self.height]
        if len(self.pixels) != 3 * self.width * self.height:
            raise ValueError("truncated PPM image")

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.pixels[i:i + 3])

    def find(self, rgb):
        """The bounding box (x0, y0, x1, y1), inclusive, of the pixels of exactly this
        colour, and how many there are; None when there is none."""
        pattern = bytes(rgb)
        row_bytes = 3 * self.width
        x0 = y0 = x1 = y1 = None
        count = 0
        for y in range(self.height):
            row = self.pixels[y * row_bytes:(y + 1) * row_bytes]
            xs = []
            at = row.find(pattern)
            while at >= 0:
                if at % 3 == 0:
                    xs.append(at // 3)
                    at = row.find(pattern, at + 3)
                else:
                    at = row.find(pattern, at + 1)
            if xs:
                count += len(xs)
                x0 = xs[0] if x0 is None else min(x0, xs[0])
                x1 = xs[-1] if x1 is None else max(x1, xs[-1])
                y0 = y if y0 is None else y0
                y1 = y
        return None if x0 is None else ((x0, y0, x1, y1), count)


def locate_stage(image):
    """The stage as the screenshot shows it: dict(rect=(x, y, w, h), scale=(sx, sy),
    markers={corner: box}). Fails, saying what is wrong, unless all four corner squares
    are there, whole and solid, and lie exactly at the corners of one rectangle."""
    boxes = {}
    for corner, rgb in MARKERS.items():
        found = image.find(rgb)
        if found is None:
            raise AssertionError("the %s marker is not on the screen (stage cut or covered)" % corner)
        (x0, y0, x1, y1), count = found
        w, h = x1 - x0 + 1, y1 - y0 + 1
        # A covered or cut square leaves a hole or a smaller box; edges may blend.
        if count < 0.85 * w * h:
            raise AssertionError("the %s marker is not solid: %d of %dx%d pixels (partly covered)"
                                 % (corner, count, w, h))
        boxes[corner] = (x0, y0, x1, y1)
    left, top = boxes["top-left"][0], boxes["top-left"][1]
    right, bottom = boxes["bottom-right"][2], boxes["bottom-right"][3]
    rect = (left, top, right - left + 1, bottom - top + 1)
    scale = (rect[2] / STAGE[0], rect[3] / STAGE[1])
    tolerance = 2 + max(scale)  # blended edges at a fractional scale
    expected = {
        "top-left": (left, top),
        "top-right": (right - MARKER * scale[0] + 1, top),
        "bottom-left": (left, bottom - MARKER * scale[1] + 1),
        "bottom-right": (right - MARKER * scale[0] + 1, bottom - MARKER * scale[1] + 1),
    }
    for corner, (x0, y0, x1, y1) in boxes.items():
        ex, ey = expected[corner]
        size = (x1 - x0 + 1, y1 - y0 + 1)
        if (abs(x0 - ex) > tolerance or abs(y0 - ey) > tolerance
                or abs(size[0] - MARKER * scale[0]) > tolerance or abs(size[1] - MARKER * scale[1]) > tolerance):
            raise AssertionError(
                "the %s marker is at %d,%d, %dx%d; a whole stage at %s would put it at %d,%d, %.0fx%.0f"
                % (corner, x0, y0, size[0], size[1], rect, ex, ey, MARKER * scale[0], MARKER * scale[1]))
    return dict(rect=rect, scale=scale, markers=boxes)
