#!/usr/bin/env python3
"""Soak: the host plays bench/movies/Soak.hx (save a 10 KB level, load it back, next step
20 ms after each answer) for a given time, on a private Xvfb with openbox, optionally with
busy loops beside it. Prints a line per interval and a summary: round trips per second, the
slowest round trip, failures (the host's reports on stderr, answers that were wrong or never
came), the load the machine really had, and the PSS of the host and of its page process.

Run through bench/soak.sh, which builds the host and the movie first:

  bench/soak.sh --minutes 5 --load 3        # three busy loops beside it
  bench/soak.sh --minutes 60 --load 3 --every 300
"""

import argparse
import os
import subprocess
import sys
import time

from proctree import end_group, process_tree, role

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))
import harness  # noqa: E402
from harness import Display, Host, wait_for  # noqa: E402


def log(*args):
    print(*args, flush=True)


def status(host):
    """The movie's last counts (it writes them to config.dat every second)."""
    try:
        with open(os.path.join(host.save, "config.dat"), encoding="utf-8") as f:
            text = f.read().strip()
    except OSError:
        return None
    if not text.startswith("soak_status "):
        return None
    return {k: int(v) for k, v in (p.split("=", 1) for p in text[len("soak_status "):].split(";"))}


def memory_mib(proc):
    """PSS and private memory (Private_Clean + Private_Dirty) in MiB of the host process
    (the browser side) and of its page process (the renderer): {"host": (pss, private),
    "page": (pss, private)}. Other programs that map the same libraries (other hosts on a
    shared machine) change the PSS; the private part is the process's own."""
    found = {}
    for pid in process_tree(proc.pid):
        kind = {"browser": "host", "renderer": "page"}.get(role(pid))
        if not kind:
            continue
        values = {}
        try:
            with open("/proc/%d/smaps_rollup" % pid) as f:
                for line in f:
                    key, _, rest = line.partition(":")
                    if key in ("Pss", "Private_Clean", "Private_Dirty"):
                        values[key] = int(rest.split()[0])
        except OSError:
            continue
        pss, private = found.get(kind, (0.0, 0.0))
        found[kind] = (pss + values.get("Pss", 0) / 1024,
                       private + (values.get("Private_Clean", 0) + values.get("Private_Dirty", 0)) / 1024)
    return {kind: found.get(kind, (0.0, 0.0)) for kind in ("host", "page")}


def mib(m):
    return "host %.1f (%.1f own), page %.1f (%.1f own)" % (m["host"] + m["page"])


class CpuMeter:
    """The machine's load as it really was: the load average and how busy the CPUs were."""

    def __init__(self):
        self.start = self._read()
        self.loads = []

    @staticmethod
    def _read():
        with open("/proc/stat") as f:
            fields = [int(x) for x in f.readline().split()[1:]]
        idle = fields[3] + fields[4]
        return sum(fields), idle

    def sample(self):
        with open("/proc/loadavg") as f:
            self.loads.append(float(f.read().split()[0]))

    def summary(self):
        total, idle = self._read()
        busy = 1 - (idle - self.start[1]) / max(1, total - self.start[0])
        mean = sum(self.loads) / len(self.loads) if self.loads else 0.0
        return "load average %.1f (%.1f to %.1f), CPUs busy %.0f %%" % (
            mean, min(self.loads or [0]), max(self.loads or [0]), busy * 100)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--minutes", type=float, default=5)
    parser.add_argument("--load", type=int, default=0, help="busy loops to run beside the host")
    parser.add_argument("--size", type=int, default=10240, help="characters of level data")
    parser.add_argument("--delay", type=int, default=20, help="ms from an answer to the next step")
    parser.add_argument("--every", type=float, default=60, help="seconds between progress lines")
    parser.add_argument("--program", default=os.path.join(os.path.dirname(HERE), "build", "bin"))
    parser.add_argument("--movie", default=os.path.join(HERE, ".build", "soak.swf"))
    parser.add_argument("--trace", help="write the host's protocol trace to this file")
    parser.add_argument("--stderr", help="copy the host's standard error to this file at the end")
    parser.add_argument("--host-env", action="append", default=[], metavar="NAME=VALUE")
    args = parser.parse_args()

    harness.PROGRAM_DIR = os.path.abspath(args.program)
    loops, display, host = [], None, None
    try:
        display = Display(1920, 1080)
        host = Host(display, movie=args.movie, config="soak %d %d" % (args.size, args.delay))
        if args.trace:
            host.env["LANTERNFALL_TRACE"] = os.path.abspath(args.trace)
        else:
            host.env.pop("LANTERNFALL_TRACE", None)
        host.env.update(kv.split("=", 1) for kv in args.host_env)
        proc = host.start()
        first = wait_for(lambda: status(host), 90, 0.2, "the soak movie's first counts")
        started = time.monotonic()
        mem_start = memory_mib(proc)
        for _ in range(args.load):
            loops.append(subprocess.Popen(["sh", "-c", "while :; do :; done"], start_new_session=True))
        meter = CpuMeter()
        log("soak: %.0f min, %d busy loops, %d characters, next step %d ms after an answer"
            % (args.minutes, args.load, args.size, args.delay))
        log("soak: PSS at start, MiB (private part in brackets): " + mib(mem_start))
        log("  min  round trips  per s  slowest ms  wrong  lost  reports  load  host MiB  page MiB")
        end = started + args.minutes * 60
        base = first
        after5 = None
        next_line = started + args.every
        last = first
        while time.monotonic() < end:
            time.sleep(min(1.0, max(0.0, end - time.monotonic())))
            meter.sample()
            if proc.poll() is not None:
                raise RuntimeError("the host ended: " + Host.stderr_of(proc)[-2000:])
            last = status(host) or last
            now = time.monotonic()
            if after5 is None and now - started >= 300:
                after5 = memory_mib(proc)
            if now >= next_line or now >= end:
                next_line += args.every
                mem = memory_mib(proc)
                rounds = last["rounds"] - base["rounds"]
                log("%5.1f  %11d  %5.1f  %10d  %5d  %4d  %7d  %4.1f  %8.1f  %8.1f"
                    % ((now - started) / 60, rounds, rounds / (now - started), last["max"],
                       last["wrong"], last["lost"], len(Host.reports(proc)), meter.loads[-1],
                       mem["host"][0], mem["page"][0]))
        elapsed = time.monotonic() - started
        mem_end = memory_mib(proc)
        rounds = last["rounds"] - base["rounds"]
        reports = Host.reports(proc)
        log("soak: %d round trips in %.0f s, %.1f per second" % (rounds, elapsed, rounds / elapsed))
        log("soak: slowest round trip %d ms; %d of 1 s or more" % (last["max"], last["slow"]))
        log("soak: failures: %d reports by the host, %d wrong answers, %d answers that never came"
            % (len(reports), last["wrong"], last["lost"]))
        for line in reports[:10]:
            log("  " + line)
        log("soak: " + meter.summary())
        log("soak: PSS at the end, MiB (private part in brackets): " + mib(mem_end))
        if after5 and elapsed >= 600:
            log("soak: PSS since minute 5: " + mib(after5) + " -> growth host %+.1f %% (own %+.1f %%), "
                "page %+.1f %% (own %+.1f %%)" % tuple(
                    100 * (mem_end[k][i] / max(after5[k][i], 0.1) - 1) for k in ("host", "page") for i in (0, 1)))
        if args.stderr:
            with open(args.stderr, "w") as f:
                f.write(Host.stderr_of(proc))
        failed = len(reports) + last["wrong"] + last["lost"]
        return 1 if failed else 0
    finally:
        for loop in loops:
            end_group(loop)
        if host:
            host.cleanup()
        if display:
            display.close()


if __name__ == "__main__":
    sys.exit(main())
