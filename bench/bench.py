#!/usr/bin/env python3
"""Lanternfall's benchmarks: each figure of the host next to its anchor, measured side by
side in the same run, on a private Xvfb with openbox. Prints one table.

Run through bench/run.sh, which installs, builds and then calls this script.

  1 start-up    host: process start -> first command in its protocol trace (demo movie),
                cold (an empty cache folder) and warm (the cache of the previous launch)
                Chromium: process start -> first fscommand of the same movie with the same
                Ruffle files, posted by the page to a local server; cold (a fresh profile)
                and warm (the profile of the previous launch, the files cacheable)
  2 round trip  host: movie sends ReadConfigData, host answers with ConfigDataReadComplete,
                the movie takes the time and sends the next (bench movie, 1,000 timed)
                anchor: a bare QWebChannel echo page in a Qt WebEngine view (bench_echo)
  3 GetPlayerList over 10,000 profiles through the window's command entry (bench_player_list)
                anchor: find DIR -maxdepth 1 -name '*.xml' -printf '%T@ %f\\n'
  4 memory      PSS of the whole process tree with the demo movie running (warm launches)
  5 durable save of 1 MiB (SaveFiles::WriteSaveFile) vs dd bs=1M count=1 conv=fsync
  6 playback    the playback movie's own frame count (ENTER_FRAME) over 20 s after 3 s:
                frames per second and the 95th percentile frame interval, host vs Chromium
  7 CPU         utime + stime of the whole process tree over the same 20 s, the movie
                playing and the movie paused, host vs Chromium
"""

import argparse
import json
import os
import subprocess
import sys
import time

from launches import Bench
from table import Figure, median, print_table, step_median

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def log(*args):
    print(*args, file=sys.stderr, flush=True)


def alternate(run, pairs):
    """Runs (name, function) pairs, reversed on odd runs so that a drift of the machine
    evens out; returns {name: result}."""
    order = list(pairs) if run % 2 == 0 else list(reversed(pairs))
    return {name: fn() for name, fn in order}


def role_summary(records, key, scale=1.0, fmt="%.0f"):
    """The median over runs of each role's value, "role value, ...", largest first."""
    roles = {}
    for rec in records:
        for r, v in rec[key].items():
            roles.setdefault(r, []).append(v[0] if isinstance(v, (list, tuple)) else v)
    ordered = sorted(roles.items(), key=lambda kv: -median(kv[1]))
    return ", ".join(("%s " + fmt) % (r, median(v) * scale) for r, v in ordered)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=int(os.environ.get("BENCH_RUNS", "5")))
    parser.add_argument("--program", default=os.path.join(ROOT, "build", "bin"))
    parser.add_argument("--bench-build", default=os.path.join(HERE, ".build"))
    parser.add_argument("--scratch", default=None,
                        help="folder for save folders and temporary files (default: bench/.build/scratch, "
                             "on the disk the project is on; a tmpfs would make fsync free)")
    parser.add_argument("--round-trips", type=int, default=1000)
    parser.add_argument("--profiles", type=int, default=10000)
    parser.add_argument("--reps", type=int, default=15, help="repetitions per run of 3 and 5")
    parser.add_argument("--settle", type=float, default=3.0,
                        help="seconds after the first command before the memory is read, and before "
                             "the playback movie starts counting")
    parser.add_argument("--measure", type=float, default=20.0, help="seconds of playback counted (6, 7)")
    parser.add_argument("--only", default="1,2,3,4,5,6,7", help="which figures, e.g. 1,4")
    parser.add_argument("--json", help="also write every raw measurement to this file")
    parser.add_argument("--detail", action="store_true", help="print each measurement")
    parser.add_argument("--host-env", action="append", default=[], metavar="NAME=VALUE",
                        help="run the host with this in its environment (repeatable), e.g. "
                             "QT_QUICK_BACKEND=software")
    args = parser.parse_args()
    args.host_env = dict(item.split("=", 1) for item in args.host_env)
    if args.scratch is None:
        args.scratch = os.path.join(args.bench_build, "scratch")
    os.makedirs(args.scratch, exist_ok=True)
    only = {int(x) for x in args.only.split(",") if x.strip()}

    chromium = "Chromium, same page"
    cold = Figure(1, "1 start-up, cold cache", "s", 0.5, chromium)
    warm = Figure(1, "1 start-up, warm cache", "s", 0.6, chromium)
    roundtrip = Figure(2, "2 command round trip", "ms", 2.0, "bare QWebChannel echo")
    playerlist = Figure(3, "3 GetPlayerList, %d profiles" % args.profiles, "ms", 1.5, "find -printf")
    memory = Figure(4, "4 memory (PSS of the tree)", "MiB", 0.75, chromium)
    save = Figure(5, "5 durable save of 1 MiB", "ms", 2.0, "dd conv=fsync")
    fps = Figure(6, "6 playback frames per second", "fps", 1.0, chromium, higher=True, floor=29.5)
    p95 = Figure(6, "6 playback p95 frame interval", "ms", 1.1, chromium)
    cpu_play = Figure(7, "7 CPU while playing, %g s" % args.measure, "cpu", 0.9, chromium)
    cpu_pause = Figure(7, "7 CPU paused, %g s" % args.measure, "cpu", 0.8, chromium)
    raw = {"runs": [], "args": vars(args)}
    notes = []
    rt_single = {"host": [], "anchor": []}
    clocks = {"host": [], "anchor": []}
    breakdown = {"local": [], "channel": [], "call": []}
    ruffle_clocks = []
    marks, demos, playbacks = [], [], []

    started = time.monotonic()
    when = time.strftime("%Y-%m-%d %H:%M")
    load = os.getloadavg()[0]
    with Bench(args) as bench:
        if only & {1, 4, 6, 7}:
            log("warming up: one untimed launch of each (the warm cache and profile begin here)")
            bench.host_demo(warm=True)
            bench.chromium_demo(warm=True)
        if 2 in only:
            bench.echo_round_trips()
        for run in range(args.runs):
            record = {}
            if only & {1, 4}:
                got = alternate(run, [("host_cold", lambda: bench.host_demo(False)),
                                      ("chromium_cold", lambda: bench.chromium_demo(False)),
                                      ("host_warm", lambda: bench.host_demo(True)),
                                      ("chromium_warm", lambda: bench.chromium_demo(True))])
                record["demo"] = got
                demos.append(got)
                cold.add(got["host_cold"]["startup_s"], got["chromium_cold"]["startup_s"])
                warm.add(got["host_warm"]["startup_s"], got["chromium_warm"]["startup_s"])
                memory.add(got["host_warm"]["pss_kib"] / 1024.0, got["chromium_warm"]["pss_kib"] / 1024.0)
                marks.append(got["chromium_cold"].get("marks", {}))
                if args.detail:
                    log("run %d start-up: cold host %.3f s, Chromium %.3f s; warm host %.3f s, Chromium %.3f s; "
                        "PSS host %.0f MiB in %d, Chromium %.0f MiB in %d processes" % (
                            run + 1, cold.host[-1], cold.anchor[-1], warm.host[-1], warm.anchor[-1],
                            memory.host[-1], got["host_warm"]["processes"], memory.anchor[-1],
                            got["chromium_warm"]["processes"]))
            if 2 in only:
                got = alternate(run, [("host", bench.host_round_trips), ("echo", bench.echo_round_trips)])
                record["round_trip"] = got
                roundtrip.add(step_median(got["host"]["times"]), step_median(got["echo"]["times"]))
                rt_single["host"].append(median(got["host"]["times"]))
                rt_single["anchor"].append(median(got["echo"]["times"]))
                clocks["host"].append(got["host"]["clock"])
                clocks["anchor"].append(got["echo"]["clock"])
                for mode in ("local", "channel", "call"):
                    got["ruffle_" + mode] = bench.echo_round_trips(mode)
                    breakdown[mode].append(step_median(got["ruffle_" + mode]["times"]))
                ruffle_clocks.append(got["ruffle_channel"]["clock"])
                if args.detail:
                    log("run %d round trip: host %.3f ms (single %.3f), echo %.3f ms (single %.3f); "
                        "Ruffle alone %.3f ms, Ruffle with a bare channel %.3f ms, waiting for answers %.3f ms" % (
                            run + 1, roundtrip.host[-1], rt_single["host"][-1], roundtrip.anchor[-1],
                            rt_single["anchor"][-1], breakdown["local"][-1], breakdown["channel"][-1],
                            breakdown["call"][-1]))
            if 3 in only:
                got = bench.native("bench_player_list", "--files", str(args.profiles), "--reps", str(args.reps))
                record["player_list"] = got
                playerlist.add(median(got["command_ms"]), median(got["find_ms"]))
                if args.detail:
                    log("run %d GetPlayerList: host %.1f ms, find %.1f ms" % (run + 1, playerlist.host[-1],
                                                                            playerlist.anchor[-1]))
            if 5 in only:
                got = bench.native("bench_save", "--reps", str(args.reps))
                record["save"] = got
                save.add(median(got["save_ms"]), median(got["dd_ms"]))
                if args.detail:
                    log("run %d save: host %.2f ms, dd %.2f ms" % (run + 1, save.host[-1], save.anchor[-1]))
            if only & {6, 7}:
                got = alternate(run, [("host_play", lambda: bench.host_playback("play")),
                                      ("chromium_play", lambda: bench.chromium_playback("play")),
                                      ("bare_play", lambda: bench.bare_playback("play")),
                                      ("host_pause", lambda: bench.host_playback("pause")),
                                      ("chromium_pause", lambda: bench.chromium_playback("pause")),
                                      ("bare_pause", lambda: bench.bare_playback("pause"))])
                record["playback"] = got
                playbacks.append(got)
                fps.add(got["host_play"]["fps"], got["chromium_play"]["fps"])
                p95.add(got["host_play"]["p95"], got["chromium_play"]["p95"])
                cpu_play.add(got["host_play"]["cpu_s"], got["chromium_play"]["cpu_s"])
                cpu_pause.add(got["host_pause"]["cpu_s"], got["chromium_pause"]["cpu_s"])
                if args.detail:
                    log("run %d playback: host %.1f fps p95 %.0f ms CPU %.2f s (paused %.2f s); Chromium %.1f fps "
                        "p95 %.0f ms CPU %.2f s (paused %.2f s)" % (
                            run + 1, fps.host[-1], p95.host[-1], cpu_play.host[-1], cpu_pause.host[-1],
                            fps.anchor[-1], p95.anchor[-1], cpu_play.anchor[-1], cpu_pause.anchor[-1]))
            raw["runs"].append(record)
            log("run %d of %d done (%.0f s)" % (run + 1, args.runs, time.monotonic() - started))
        fs = subprocess.run(["stat", "-f", "-c", "%T", bench.scratch], capture_output=True, text=True).stdout.strip()
        viewport = bench.viewport

    figures = [f for f in (cold, warm, roundtrip, playerlist, memory, save, fps, p95, cpu_play, cpu_pause)
               if f.key in only]
    if 1 in only and marks:
        keys = sorted({k for m in marks for k in m}, key=lambda k: median([m[k] for m in marks if k in m]))
        notes.append("1: Chromium's page (cold), seconds after spawn (median): " +
                     ", ".join("%s %.3f" % (k, median([m[k] for m in marks if k in m])) for k in keys))
    if 2 in only and rt_single["host"]:
        notes.append("2: median of %d round trips per run, interpolated within the page clock's 0.1 ms steps; "
                     "plain medians host %.2f ms, echo %.2f ms; one clock reading costs host %.3f ms, echo %.4f ms, "
                     "Ruffle with a bare channel %.3f ms (the movie reads the clock through ExternalInterface, "
                     "the echo's page calls performance.now() itself)"
                     % (args.round_trips, median(rt_single["host"]), median(rt_single["anchor"]), median(clocks["host"]),
                        median(clocks["anchor"]), median(ruffle_clocks)))
        notes.append("2: the same movie in Ruffle without the host (median of runs): answered in the page %.3f ms; "
                     "answered through a bare channel slot %.3f ms; through a bare slot that waits for each "
                     "call's answer before the next command, as the host does, %.3f ms"
                     % (median(breakdown["local"]), median(breakdown["channel"]), median(breakdown["call"])))
    if only & {3, 5}:
        notes.append("3, 5: %d repetitions per run, alternating with the anchor; files in %s (%s)"
                     % (args.reps, args.scratch, fs))
    if 4 in only and demos:
        for who in ("host", "chromium"):
            notes.append("4: PSS by process, %s (MiB, median): %s; cold start: %.0f MiB" % (
                who, role_summary([d[who + "_warm"] for d in demos], "pss_by_role", 1 / 1024.0),
                median([d[who + "_cold"]["pss_kib"] / 1024.0 for d in demos])))
    if only & {6, 7} and playbacks:
        for who in ("host", "bare", "chromium"):
            play = [p[who + "_play"] for p in playbacks]
            pause = [p[who + "_pause"] for p in playbacks]
            notes.append("6: %s: %.1f fps, frame interval p50 %.0f ms, p95 %.0f ms, max %.0f ms; paused %.1f fps" % (
                who, median([p["fps"] for p in play]), median([p["p50"] for p in play]),
                median([p["p95"] for p in play]), median([p["max"] for p in play]),
                median([p["fps"] for p in pause])))
            notes.append("7: %s playing, CPU %.2f s; by process: %s; X server %.2f s" % (
                who, median([p["cpu_s"] for p in play]), role_summary(play, "cpu_by_role", fmt="%.2f"),
                median([p["xserver_cpu_s"] for p in play])))
            per_second = 1.0 / args.measure
            notes.append("7: %s paused, per second: CPU %.0f ms, wakeups %.0f; by process (CPU ms/s): %s; "
                         "wakeups/s: %s; X server %.0f ms/s" % (
                             who, median([p["cpu_s"] for p in pause]) * 1000 * per_second,
                             median([p["wakeups"] for p in pause]) * per_second,
                             role_summary(pause, "cpu_by_role", 1000 * per_second),
                             role_summary([{"w": {r: v[1] for r, v in p["cpu_by_role"].items()}} for p in pause],
                                          "w", per_second),
                             median([p["xserver_cpu_s"] for p in pause]) * 1000 * per_second))
        notes.append("6, 7: bare = the same movie in a bare Qt WebEngine view with the host's engine set-up and "
                     "nothing else of the host (the floor any host on this engine starts from)")
    if viewport:
        notes.append("Chromium runs as an application window (--app) sized so that the page gets the stage's "
                     "800x600 like the host's; its last page measured %dx%d" % viewport)
    if args.host_env:
        notes.append("host environment: " + " ".join("%s=%s" % kv for kv in sorted(args.host_env.items())))
    notes.append("load average at the start %.1f on %d cores; total time %.0f s"
                 % (load, os.cpu_count(), time.monotonic() - started))
    print_table(figures, args.runs, notes, when)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(raw, f)


if __name__ == "__main__":
    main()
