#!/usr/bin/env python3
"""Where the CPU goes while the playback movie plays: the host, Chromium or the bare Qt
WebEngine view (see bench.py, figures 6 and 7), each thread's CPU time and wakeups per
second over a window, and with --perf a profile of the whole process tree by library
(perf record; Qt WebEngine's library has no symbols in Debian, so by library is what it
tells). Not a figure of the table: a tool to find what to change.

  python3 bench/profile.py host play            # after bench/run.sh has built everything
  python3 bench/profile.py chromium pause --seconds 10
  python3 bench/profile.py host play --perf --shapes 60
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

from launches import Bench, wait_for
from proctree import TICK, process_tree, role

HERE = os.path.dirname(os.path.abspath(__file__))


def threads(leader):
    """(role, thread id, thread name) -> (CPU seconds, context switches) for every thread
    of the tree."""
    out = {}
    for pid in process_tree(leader):
        r = role(pid)
        try:
            tids = os.listdir("/proc/%d/task" % pid)
        except OSError:
            continue
        for tid in tids:
            base = "/proc/%d/task/%s/" % (pid, tid)
            try:
                with open(base + "comm") as f:
                    name = f.read().strip()
                with open(base + "stat") as f:
                    stat = f.read()
                fields = stat[stat.rindex(")") + 2:].split()
                with open(base + "status") as f:
                    switches = sum(int(line.split()[1]) for line in f if "ctxt_switches" in line)
            except OSError:
                continue
            out[(r, int(tid), name)] = ((int(fields[11]) + int(fields[12])) / TICK, switches)
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("who", choices=("host", "chromium", "bare"))
    parser.add_argument("mode", choices=("play", "pause"))
    parser.add_argument("--seconds", type=float, default=10.0, help="length of the window")
    parser.add_argument("--shapes", type=int, default=300, help="moving shapes in the playback movie")
    parser.add_argument("--perf", action="store_true", help="also record a perf profile of the tree")
    parser.add_argument("--top", type=int, default=25, help="threads listed")
    parser.add_argument("--program", default=os.path.join(os.path.dirname(HERE), "build", "bin"))
    parser.add_argument("--bench-build", default=os.path.join(HERE, ".build"))
    parser.add_argument("--host-env", action="append", default=[], metavar="NAME=VALUE")
    args = parser.parse_args()
    args.host_env = dict(item.split("=", 1) for item in args.host_env)
    args.scratch = tempfile.mkdtemp(prefix="lf-profile-")
    args.settle, args.measure = 3.0, 3600.0  # the movie keeps counting; the window is ours

    with Bench(args) as bench:
        bench.playback_config = lambda mode: "playback %s 3 3600 %d" % (mode, args.shapes)
        # Start the launch as the benchmark does, but take over at the movie's start mark.
        marked = {}

        def measure_window(leader, mark, _result):
            wait_for(mark, 120, 0.05, "the movie's start mark")
            before = threads(leader)
            if args.perf:
                data = os.path.join(args.scratch, "perf.data")
                pids = ",".join(str(p) for p in process_tree(leader))
                subprocess.run(["perf", "record", "-q", "-F", "499", "-o", data, "-p", pids, "--",
                                "sleep", str(args.seconds)], check=True)
                marked["perf"] = data
            else:
                time.sleep(args.seconds)
            marked["rows"] = (before, threads(leader))
            return {}

        bench.measure_window = measure_window
        {"host": bench.host_playback, "chromium": bench.chromium_playback,
         "bare": bench.bare_playback}[args.who](args.mode)

    before, after = marked["rows"]
    rows = sorted(((c - before.get(k, (0, 0))[0], w - before.get(k, (0, 0))[1], k)
                   for k, (c, w) in after.items()), reverse=True)
    print("%s, %s, %d shapes: per thread over %.0f s (load average %.1f)"
          % (args.who, args.mode, args.shapes, args.seconds, os.getloadavg()[0]))
    print("  CPU ms/s  wakeups/s  process / thread")
    for cpu, wake, (r, tid, name) in rows[:args.top]:
        print("  %8.0f  %9.0f  %s / %s (%d)" % (cpu * 1000 / args.seconds, wake / args.seconds, r, name, tid))
    print("  %8.0f  %9.0f  total" % (sum(r[0] for r in rows) * 1000 / args.seconds,
                                      sum(r[1] for r in rows) / args.seconds))
    if "perf" in marked:
        report = subprocess.run(["perf", "report", "-i", marked["perf"], "--sort", "comm,dso", "--stdio"],
                                capture_output=True, text=True).stdout
        print("\nperf, by thread name and library:")
        print("\n".join(line for line in report.splitlines() if line.strip() and not line.startswith("#"))[:6000])
    subprocess.run(["rm", "-rf", args.scratch])


if __name__ == "__main__":
    main()
