#!/usr/bin/env python3
"""Variants side by side: the host (or the bare Qt WebEngine view) started with different
environments or arguments, alternated run by run in the same window of time, next to
Chromium. Not a figure of the table: how each way of drawing or serving the page was
measured before it was kept or dropped (bench/README.md, "The third round").

  python3 bench/variants.py playback --who host \\
      --variant canvas: --variant "webgl:QT_QUICK_BACKEND=rhi QTWEBENGINE_CHROMIUM_FLAGS=--ignore-gpu-blocklist"
  python3 bench/variants.py playback --who bare --variant widget: --variant quick:ARGS=--quick
  python3 bench/variants.py warm --variant scheme: --variant server:LANTERNFALL_PAGE_SERVER=1

A variant is NAME:ASSIGNMENTS, assignments separated by spaces; ARGS=... are arguments of
the bare view (bench_echo), everything else its or the host's environment. "playback"
measures figures 6 and 7 (fps, p95 frame interval, CPU of the tree, playing and paused);
"warm" the warm start-up and memory of figures 1 and 4 (each variant keeps its own home).
"""

import argparse
import os
import shutil
import sys
import tempfile

from launches import Bench
from table import median

HERE = os.path.dirname(os.path.abspath(__file__))


def parse_variant(text):
    name, _, rest = text.partition(":")
    env = dict(item.split("=", 1) for item in rest.split() if item)
    return name, env


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("what", choices=("playback", "warm"))
    parser.add_argument("--who", choices=("host", "bare"), default="host", help="playback: whose variants")
    parser.add_argument("--variant", action="append", required=True, type=parse_variant)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--measure", type=float, default=20.0, help="seconds of playback counted")
    parser.add_argument("--settle", type=float, default=3.0)
    parser.add_argument("--program", default=os.path.join(os.path.dirname(HERE), "build", "bin"))
    parser.add_argument("--bench-build", default=os.path.join(HERE, ".build"))
    args = parser.parse_args()
    args.scratch = tempfile.mkdtemp(prefix="lf-variants-", dir=os.path.join(args.bench_build))
    args.host_env = {}
    rows = {}

    def note(name, got, *keys):
        rows.setdefault(name, []).append(got)
        print("  %-12s %s  load %.1f" % (name, "  ".join("%s %.3g" % (k, got[k]) for k in keys),
                                         os.getloadavg()[0]), flush=True)

    with Bench(args) as bench:
        homes = {name: os.path.join(bench.scratch, "home-" + name) for name, _ in args.variant}
        for run in range(args.runs + (1 if args.what == "warm" else 0)):
            order = args.variant if run % 2 == 0 else args.variant[::-1]
            print("run %d" % run, flush=True)
            if args.what == "warm":
                for name, env in order:
                    bench.warm_home, bench.args.host_env = homes[name], env
                    got = bench.host_demo(True)
                    if run > 0:  # the first launch fills each variant's cache
                        note(name, {"startup_s": got["startup_s"], "pss_mib": got["pss_kib"] / 1024}, "startup_s", "pss_mib")
                got = bench.chromium_demo(True)
                if run > 0:
                    note("chromium", {"startup_s": got["startup_s"], "pss_mib": got["pss_kib"] / 1024}, "startup_s", "pss_mib")
                continue
            for mode in ("play", "pause"):
                for name, env in order:
                    if args.who == "host":
                        bench.args.host_env = env
                        got = bench.host_playback(mode)
                    else:
                        got = bench.bare_playback(mode, env)
                    note(name + " " + mode, dict(got, browser_cpu_s=got["cpu_by_role"].get(
                        "browser", got["cpu_by_role"].get("bench_echo", (0, 0)))[0]),
                         "fps", "p95", "cpu_s", "browser_cpu_s")
                got = bench.chromium_playback(mode)
                note("chromium " + mode, dict(got, browser_cpu_s=0), "fps", "p95", "cpu_s")
    print("medians over %d runs:" % args.runs)
    for name, got in rows.items():
        keys = [k for k in ("startup_s", "pss_mib", "fps", "p95", "cpu_s", "browser_cpu_s") if k in got[0]]
        print("  %-16s %s" % (name, "  ".join("%s %.3g" % (k, median([g[k] for g in got])) for k in keys)))
    shutil.rmtree(args.scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
