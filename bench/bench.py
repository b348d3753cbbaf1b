#!/usr/bin/env python3
"""Lanternfall's benchmarks: each figure of the host next to its anchor, measured side by
side in the same run, on a private Xvfb with openbox. Prints one table.

Run through bench/run.sh, which installs, builds and then calls this script.

  1 start-up    host: process start -> first command in its protocol trace (demo movie)
                Chromium: process start -> first fscommand of the same movie with the same
                Ruffle files, posted by the page to a local server
  2 round trip  host: movie sends ReadConfigData, host answers with ConfigDataReadComplete,
                the movie takes the time and sends the next (bench movie, 1,000 timed)
                anchor: a bare QWebChannel echo page in a Qt WebEngine view (bench_echo)
  3 GetPlayerList over 10,000 profiles through the window's command entry (bench_player_list)
                anchor: find DIR -maxdepth 1 -name '*.xml' -printf '%T@ %f\\n'
  4 memory      PSS of the whole process tree with the demo movie running, host vs Chromium
  5 durable save of 1 MiB (SaveFiles::WriteSaveFile) vs dd bs=1M count=1 conv=fsync
"""

import argparse
import datetime
import http.server
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import harness  # noqa: E402  (the end-to-end tests' Display and Host)
from harness import Display, Host, wait_for  # noqa: E402

MIME = {
    ".html": "text/html; charset=utf-8",
    ".js": "text/javascript",
    ".wasm": "application/wasm",
    ".swf": "application/x-shockwave-flash",
    ".json": "application/json",
}


def log(*args):
    print(*args, file=sys.stderr, flush=True)


# --- Measuring helpers ------------------------------------------------------------------

def median(values):
    return statistics.median(values) if values else float("nan")


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


def iso_to_epoch(text):
    return datetime.datetime.fromisoformat(text.replace("Z", "+00:00")).timestamp()


def process_tree(leader):
    """The leader and every process below it, and every process of its session (helpers
    that were re-parented when their parent ended)."""
    parents, sessions = {}, {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        fields = stat[stat.rindex(")") + 2:].split()
        parents[int(entry)] = int(fields[1])
        sessions[int(entry)] = int(fields[3])
    leader_session = sessions.get(leader)
    tree = set()
    for pid in parents:
        p = pid
        while p > 1:
            if p == leader:
                tree.add(pid)
                break
            p = parents.get(p, 0)
        if leader_session is not None and sessions[pid] == leader_session:
            tree.add(pid)
    return tree


def tree_pss_kib(leader):
    """Sum of Pss over the process tree, in KiB, and the number of processes."""
    total, count = 0, 0
    for pid in process_tree(leader):
        try:
            with open("/proc/%d/smaps_rollup" % pid) as f:
                for line in f:
                    if line.startswith("Pss:"):
                        total += int(line.split()[1])
                        count += 1
                        break
        except OSError:
            continue
    return total, count


def end_group(proc, timeout=5):
    """Ends a process started in a session of its own, with everything in its group."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(proc.pid, sig)
        except ProcessLookupError:
            pass
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                os.killpg(proc.pid, 0)
            except ProcessLookupError:
                break
            proc.poll()
            time.sleep(0.05)
        else:
            continue
        break
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        pass


# --- The page server for Chromium -------------------------------------------------------

class PageServer:
    """Serves the bench page, Ruffle's files and the movie on 127.0.0.1 and records the time
    each posted fscommand arrives."""

    def __init__(self, ruffle_dir, movie):
        self.ruffle_dir, self.movie = ruffle_dir, movie
        self.lock = threading.Lock()
        self.events = []
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                path = self.path.split("?")[0]
                if path in ("/", "/index.html"):
                    file = os.path.join(HERE, "chromium", "index.html")
                elif path == "/page.js":
                    file = os.path.join(HERE, "chromium", "page.js")
                elif path == "/movie.swf":
                    file = server.movie
                elif path.startswith("/ruffle/") and "/" not in path[8:] and path[8:] not in ("", ".", ".."):
                    file = os.path.join(server.ruffle_dir, path[8:])
                else:
                    file = None
                if not file or not os.path.isfile(file):
                    self.send_error(404)
                    return
                with open(file, "rb") as f:
                    body = f.read()
                self.send_response(200)
                self.send_header("Content-Type", MIME.get(os.path.splitext(file)[1], "application/octet-stream"))
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                self.wfile.write(body)

            def do_POST(self):
                arrived = time.time()
                length = int(self.headers.get("Content-Length", "0"))
                body = self.rfile.read(length)
                try:
                    data = json.loads(body or b"{}")
                except ValueError:
                    data = {"raw": body.decode("utf-8", "replace")}
                with server.lock:
                    server.events.append((arrived, self.path, data))
                self.send_response(204)
                self.send_header("Content-Length", "0")
                self.end_headers()

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.url = "http://127.0.0.1:%d/index.html" % self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def clear(self):
        with self.lock:
            self.events = []

    def first(self, path):
        with self.lock:
            for event in self.events:
                if event[1] == path:
                    return event
        return None

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


# --- One launch of each ---------------------------------------------------------------

class Bench:
    def __init__(self, args):
        self.args = args
        self.program = os.path.abspath(args.program)
        self.demo = os.path.join(self.program, "morrow.swf")
        self.bench_build = os.path.abspath(args.bench_build)
        self.display = None
        self.server = None
        self.scratch = None

    def __enter__(self):
        harness.PROGRAM_DIR = self.program
        self.scratch = tempfile.mkdtemp(prefix="lf-bench-", dir=self.args.scratch)
        self.display = Display(1920, 1080)
        self.server = PageServer(os.path.join(self.program, "ruffle"), self.demo)
        return self

    def __exit__(self, *exc):
        if self.server:
            self.server.close()
        if self.display:
            self.display.close()
        shutil.rmtree(self.scratch, ignore_errors=True)

    def desktop_back(self):
        """After a host run the desktop mode must be back before the next launch."""
        wait_for(lambda: self.display.screen_size() == (1920, 1080), 15, 0.1, "the desktop mode back")

    # 1 and 4: the host with the demo movie.
    def host_demo(self):
        host = Host(self.display, movie=self.demo, extra_env=self.args.host_env)
        try:
            spawned = time.time()
            proc = host.start()
            first = wait_for(lambda: host.commands()[:1], 60, 0.01, "the host's first command")[0]
            handled = iso_to_epoch(first["time"])
            wait_until(handled + self.args.settle)
            if proc.poll() is not None:
                raise RuntimeError("the host ended: " + Host.stderr_of(proc)[-2000:])
            pss, count = tree_pss_kib(proc.pid)
            return {"startup_s": handled - spawned, "pss_kib": pss, "processes": count,
                    "first": first["name"]}
        finally:
            host.cleanup()
            self.desktop_back()

    # 1 and 4: Chromium with the same page.
    def chromium_demo(self):
        profile = tempfile.mkdtemp(prefix="chromium-", dir=self.scratch)
        self.server.clear()
        args = ["chromium", "--no-sandbox", "--disable-gpu", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--user-data-dir=" + profile,
                # The host shows the stage at 800x600; so does the browser's window.
                "--window-size=800,600", "--window-position=0,0",
                self.server.url]
        err = open(os.path.join(self.scratch, "chromium-stderr.txt"), "w")
        spawned = time.time()
        proc = subprocess.Popen(args, env=self.display.env, stdout=subprocess.DEVNULL, stderr=err,
                                start_new_session=True)
        try:
            event = wait_for(lambda: self.server.first("/fscommand") or self.server.first("/error"),
                             60, 0.01, "Chromium's first fscommand")
            if event[1] == "/error":
                raise RuntimeError("the page failed: %r" % event[2])
            arrived, _, data = event
            wait_until(arrived + self.args.settle)
            if proc.poll() is not None:
                raise RuntimeError("Chromium ended")
            pss, count = tree_pss_kib(proc.pid)
            marks = {k: v / 1000.0 - spawned for k, v in data.get("marks", {}).items()}
            return {"startup_s": arrived - spawned, "pss_kib": pss, "processes": count,
                    "first": data.get("command"), "marks": marks}
        finally:
            end_group(proc)
            err.close()
            shutil.rmtree(profile, ignore_errors=True)

    # 2: the host with the round-trip movie.
    def host_round_trips(self):
        swf = os.path.join(self.bench_build, "bench.swf")
        host = Host(self.display, movie=swf, config="bench %d %d" % (self.args.round_trips, 20),
                    extra_env=self.args.host_env)
        # The trace is the movie author's aid, off for players; the result comes back
        # through the save folder.
        host.env.pop("LANTERNFALL_TRACE", None)
        config = os.path.join(host.save, "config.dat")

        def result():
            try:
                with open(config, encoding="utf-8", newline="") as f:
                    text = f.read()
            except FileNotFoundError:
                return None
            return text if text.startswith("bench_result ") and text.endswith("\r\n") else None

        try:
            proc = host.start()
            text = wait_for(result, 120, 0.05, "the round-trip movie's result")
            if proc.poll() is not None:
                raise RuntimeError("the host ended")
            fields = dict(part.split("=", 1) for part in text[len("bench_result "):].strip().split(";"))
            times = [float(t) for t in fields["times"].split(",")]
            return {"times": times, "clock": float(fields["clock"])}
        finally:
            host.cleanup()
            self.desktop_back()

    # 2: the bare echo; with a mode, the round-trip movie in Ruffle answered without a host
    # ("local": by the page, "channel": through a bare channel slot).
    def echo_round_trips(self, mode=None):
        exe = os.path.join(self.bench_build, "echo", "bench_echo")
        home = tempfile.mkdtemp(prefix="echo-", dir=self.scratch)
        env = dict(self.display.env, HOME=home, XDG_RUNTIME_DIR=home)
        extra = []
        if mode:
            extra = ["--ruffle", os.path.join(self.program, "ruffle"),
                     os.path.join(self.bench_build, "bench.swf"), "--mode", mode]
        proc = subprocess.Popen([exe, *extra, str(self.args.round_trips), "20"], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                start_new_session=True)
        try:
            out, _ = proc.communicate(timeout=120)
        except subprocess.TimeoutExpired:
            end_group(proc)
            raise RuntimeError("bench_echo did not finish")
        finally:
            end_group(proc)
            shutil.rmtree(home, ignore_errors=True)
        if proc.returncode != 0 or not out.strip():
            raise RuntimeError("bench_echo failed (%s)" % proc.returncode)
        data = json.loads(out.strip().splitlines()[-1])
        return {"times": data["times"], "clock": data["clock"]}

    # 3 and 5: the native programs (each alternates the host's code and its anchor).
    def native(self, name, *extra):
        exe = os.path.join(self.bench_build, "native", name)
        out = subprocess.run([exe, "--folder", self.scratch, *extra], capture_output=True,
                             text=True, timeout=300, env=dict(os.environ, XDG_RUNTIME_DIR=self.scratch))
        if out.returncode != 0:
            raise RuntimeError("%s failed: %s %s" % (name, out.stdout[-500:], out.stderr[-1500:]))
        return json.loads(out.stdout.strip().splitlines()[-1])


def wait_until(epoch):
    delay = epoch - time.time()
    if delay > 0:
        time.sleep(delay)


# --- The table --------------------------------------------------------------------------

class Figure:
    def __init__(self, key, title, unit, goal, host_name, anchor_name):
        self.key, self.title, self.unit, self.goal = key, title, unit, goal
        self.host_name, self.anchor_name = host_name, anchor_name
        self.host, self.anchor = [], []

    def add(self, host, anchor):
        self.host.append(host)
        self.anchor.append(anchor)

    def ratios(self):
        return [h / a for h, a in zip(self.host, self.anchor) if a > 0]


def fmt(value, unit):
    if unit == "MiB":
        return "%.0f MiB" % value
    if unit == "s":
        return "%.3f s" % value
    if value < 1:
        return "%.3f ms" % value
    return "%.1f ms" % value


def print_table(figures, runs, notes):
    rows = [("figure", "host (median)", "anchor (median)", "ratio median", "ratio min-max", "goal", "")]
    for f in figures:
        r = f.ratios()
        if not r:
            rows.append((f.title, "-", "-", "-", "-", "<= %.2fx" % f.goal, "no data"))
            continue
        verdict = "met" if median(r) <= f.goal else "MISSED"
        rows.append((f.title, fmt(median(f.host), f.unit), fmt(median(f.anchor), f.unit),
                     "%.2fx" % median(r), "%.2f-%.2fx" % (min(r), max(r)),
                     "<= %.2fx" % f.goal, verdict))
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    line = "  ".join("-" * w for w in widths)
    print()
    print("Lanternfall benchmarks, %d runs (ratio = host / anchor, measured side by side in each run)" % runs)
    print(line)
    for i, row in enumerate(rows):
        print("  ".join(c.ljust(w) for c, w in zip(row, widths)).rstrip())
        if i == 0:
            print(line)
    print(line)
    print("anchors: " + "; ".join("%d %s" % (f.key, f.anchor_name) for f in figures))
    for n in notes:
        print(n)


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
                        help="seconds after the first command before the memory is read")
    parser.add_argument("--only", default="1,2,3,4,5", help="which figures, e.g. 1,4")
    parser.add_argument("--json", help="also write every raw timing to this file")
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

    startup = Figure(1, "1 start-up to first command", "s", 0.8, "host", "Chromium, same page")
    roundtrip = Figure(2, "2 command round trip", "ms", 2.0, "host", "bare QWebChannel echo")
    playerlist = Figure(3, "3 GetPlayerList, %d profiles" % args.profiles, "ms", 1.5, "host", "find -printf")
    memory = Figure(4, "4 memory (PSS of the tree)", "MiB", 0.75, "host", "Chromium, same page")
    save = Figure(5, "5 durable save of 1 MiB", "ms", 2.0, "host", "dd conv=fsync")
    raw = {"runs": [], "args": vars(args)}
    notes = []
    rt_single = {"host": [], "anchor": []}
    clocks = {"host": [], "anchor": []}
    breakdown = {"local": [], "channel": []}
    marks = []

    started = time.monotonic()
    with Bench(args) as bench:
        if only & {1, 4}:
            log("warming up: one untimed launch of each")
            bench.host_demo()
            bench.chromium_demo()
        if 2 in only:
            bench.echo_round_trips()
        for run in range(args.runs):
            record = {}
            if only & {1, 4}:
                # Alternate which goes first, so that a drift of the machine evens out.
                order = [("host", bench.host_demo), ("chromium", bench.chromium_demo)]
                if run % 2:
                    order.reverse()
                got = {name: fn() for name, fn in order}
                record["demo"] = got
                startup.add(got["host"]["startup_s"], got["chromium"]["startup_s"])
                memory.add(got["host"]["pss_kib"] / 1024.0, got["chromium"]["pss_kib"] / 1024.0)
                marks.append(got["chromium"].get("marks", {}))
                if args.detail:
                    log("run %d start-up: host %.3f s, Chromium %.3f s (page: %s); PSS host %.0f MiB in %d, "
                        "Chromium %.0f MiB in %d processes" % (
                            run + 1, got["host"]["startup_s"], got["chromium"]["startup_s"],
                            ", ".join("%s %.3f" % kv for kv in sorted(got["chromium"]["marks"].items(),
                                                                       key=lambda kv: kv[1])),
                            got["host"]["pss_kib"] / 1024.0, got["host"]["processes"],
                            got["chromium"]["pss_kib"] / 1024.0, got["chromium"]["processes"]))
            if 2 in only:
                order = [("host", bench.host_round_trips), ("echo", bench.echo_round_trips)]
                if run % 2:
                    order.reverse()
                got = {name: fn() for name, fn in order}
                record["round_trip"] = got
                roundtrip.add(step_median(got["host"]["times"]), step_median(got["echo"]["times"]))
                rt_single["host"].append(median(got["host"]["times"]))
                rt_single["anchor"].append(median(got["echo"]["times"]))
                clocks["host"].append(got["host"]["clock"])
                clocks["anchor"].append(got["echo"]["clock"])
                for mode in ("local", "channel"):
                    got["ruffle_" + mode] = bench.echo_round_trips(mode)
                    breakdown[mode].append(step_median(got["ruffle_" + mode]["times"]))
                if args.detail:
                    log("run %d round trip: host %.3f ms (single %.3f), echo %.3f ms (single %.3f); "
                        "Ruffle alone %.3f ms, Ruffle with a bare channel %.3f ms" % (
                            run + 1, roundtrip.host[-1], rt_single["host"][-1], roundtrip.anchor[-1],
                            rt_single["anchor"][-1], breakdown["local"][-1], breakdown["channel"][-1]))
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
            raw["runs"].append(record)
            log("run %d of %d done (%.0f s)" % (run + 1, args.runs, time.monotonic() - started))
        fs = subprocess.run(["stat", "-f", "-c", "%T", bench.scratch], capture_output=True, text=True).stdout.strip()

    figures = [f for f in (startup, roundtrip, playerlist, memory, save) if f.key in only]
    if 2 in only and rt_single["host"]:
        notes.append("2: median of %d round trips per run, interpolated within the page clock's 0.1 ms steps; "
                     "plain medians host %.2f ms, echo %.2f ms; one clock reading costs host %.3f ms, echo %.4f ms"
                     % (args.round_trips, median(rt_single["host"]), median(rt_single["anchor"]), median(clocks["host"]),
                        median(clocks["anchor"])))
        notes.append("2: the same movie in Ruffle without the host (median of runs): answered in the page %.3f ms; "
                     "answered through a bare channel slot %.3f ms" % (median(breakdown["local"]),
                                                                     median(breakdown["channel"])))
    if 1 in only and marks:
        keys = sorted({k for m in marks for k in m}, key=lambda k: median([m[k] for m in marks if k in m]))
        notes.append("1: Chromium's page, seconds after spawn (median): " +
                     ", ".join("%s %.3f" % (k, median([m[k] for m in marks if k in m])) for k in keys))
    if only & {3, 5}:
        notes.append("3, 5: %d repetitions per run, alternating with the anchor; files in %s (%s)"
                     % (args.reps, args.scratch, fs))
    if args.host_env:
        notes.append("host environment: " + " ".join("%s=%s" % kv for kv in sorted(args.host_env.items())))
    notes.append("total time %.0f s" % (time.monotonic() - started))
    print_table(figures, args.runs, notes)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(raw, f)


if __name__ == "__main__":
    main()
