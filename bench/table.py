"""The benchmark table: each figure's host and anchor values over the runs, the per-run
ratios (host / anchor), the goal and the verdict."""

import statistics


def median(values):
    return statistics.median(values) if values else float("nan")


def percentile(values, share):
    """The value below which `share` of the values lie (nearest rank)."""
    if not values:
        return float("nan")
    ordered = sorted(values)
    rank = max(1, min(len(ordered), int(-(-share * len(ordered) // 1))))
    return ordered[rank - 1]


def clock_step(times):
    """The step of the page's clock as the timings show it (Chromium coarsens
    performance.now() to 0.1 ms in pages like these)."""
    values = sorted({round(t, 4) for t in times})
    steps = [b - a for a, b in zip(values, values[1:]) if b - a > 1e-6]
    return min(steps) if steps else 0.0


def step_median(times):
    """The median of timings read from a clock that steps by `clock_step`: each reading
    stands for the step around it, and the median is interpolated within the step that
    holds it (the median of grouped data). With a fine clock this is the plain median."""
    if not times:
        return float("nan")
    step = clock_step(times)
    if step < 0.001:
        return median(times)
    values = sorted(times)
    n = len(values)
    m = statistics.median_low(values)
    below = sum(1 for v in values if v < m - step / 2)
    within = sum(1 for v in values if abs(v - m) <= step / 2)
    return m - step / 2 + (n / 2.0 - below) / within * step


class Figure:
    """One row. The goal is a bound on the median ratio: at most `goal` (lower is better)
    or, with higher=True, at least `goal`; `floor`, when given, is a bound the host's own
    median must also meet (at least it, with higher=True; at most it otherwise)."""

    def __init__(self, key, title, unit, goal, anchor_name, higher=False, floor=None):
        self.key, self.title, self.unit, self.goal = key, title, unit, goal
        self.anchor_name, self.higher, self.floor = anchor_name, higher, floor
        self.host, self.anchor = [], []

    def add(self, host, anchor):
        self.host.append(host)
        self.anchor.append(anchor)

    def ratios(self):
        return [h / a for h, a in zip(self.host, self.anchor) if a > 0]

    def goal_text(self):
        text = "%s %.2fx" % (">=" if self.higher else "<=", self.goal)
        if self.floor is not None:
            text += " and %s %s" % (">=" if self.higher else "<=", fmt(self.floor, self.unit))
        return text

    def met(self):
        r, h = median(self.ratios()), median(self.host)
        ok = r >= self.goal if self.higher else r <= self.goal
        if self.floor is not None:
            ok = ok and (h >= self.floor if self.higher else h <= self.floor)
        return ok


def fmt(value, unit):
    if unit == "MiB":
        return "%.0f MiB" % value
    if unit == "s":
        return "%.3f s" % value
    if unit == "fps":
        return "%.1f fps" % value
    if unit == "cpu":
        return "%.2f s" % value
    if value < 1:
        return "%.3f ms" % value
    return "%.1f ms" % value


def print_table(figures, runs, notes, when):
    rows = [("figure", "host (median)", "anchor (median)", "ratio median", "ratio min-max", "goal", "")]
    for f in figures:
        r = f.ratios()
        if not r:
            rows.append((f.title, "-", "-", "-", "-", f.goal_text(), "no data"))
            continue
        rows.append((f.title, fmt(median(f.host), f.unit), fmt(median(f.anchor), f.unit),
                     "%.2fx" % median(r), "%.2f-%.2fx" % (min(r), max(r)),
                     f.goal_text(), "met" if f.met() else "MISSED"))
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    line = "  ".join("-" * w for w in widths)
    print()
    print("Lanternfall benchmarks, %s, %d runs (ratio = host / anchor, measured side by side in each run)"
          % (when, runs))
    print(line)
    for i, row in enumerate(rows):
        print("  ".join(c.ljust(w) for c, w in zip(row, widths)).rstrip())
        if i == 0:
            print(line)
    print(line)
    anchors = []
    for f in figures:
        if not any(a.startswith("%s " % f.key) for a in anchors):
            anchors.append("%s %s" % (f.key, f.anchor_name))
    print("anchors: " + "; ".join(anchors))
    for n in notes:
        print(n)
