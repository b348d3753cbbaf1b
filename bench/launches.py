"""One launch of the host or of its anchor, measured: start-up and memory with the demo
movie, round trips, playback (frames and CPU), and the native file-work programs. Each
launch runs on the bench's private Xvfb with openbox and is ended before the next."""

import datetime
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from pageserver import PageServer
from proctree import cpu_delta, cpu_sample, end_group, tree_pss_kib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))
import harness  # noqa: E402  (the end-to-end tests' Display and Host)
from harness import Display, Host, wait_for  # noqa: E402

CHROMIUM_FLAGS = ["--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--window-position=0,0"]
STAGE = (800, 600)


def iso_to_epoch(text):
    return datetime.datetime.fromisoformat(text.replace("Z", "+00:00")).timestamp()


def wait_until(epoch):
    delay = epoch - time.time()
    if delay > 0:
        time.sleep(delay)


def parse_result(text):
    """The playback movie's "k=v;k=v" result."""
    return {k: float(v) if k != "mode" else v
            for k, v in (part.split("=", 1) for part in text.strip().split(";"))}


class Bench:
    def __init__(self, args):
        self.args = args
        self.program = os.path.abspath(args.program)
        self.demo = os.path.join(self.program, "morrow.swf")
        self.bench_build = os.path.abspath(args.bench_build)
        self.playback_swf = os.path.join(self.bench_build, "playback.swf")
        self.display = None
        self.server = None
        self.scratch = None
        # The browser's window (an application window: no tabs, no address bar) is sized so
        # that the page gets the stage's 800x600, as in the host; the first launch measures
        # what the window's own bars take (the notice about --no-sandbox, for one).
        self.chromium_window = list(STAGE)
        self.viewport = None

    def __enter__(self):
        harness.PROGRAM_DIR = self.program
        self.scratch = tempfile.mkdtemp(prefix="lf-bench-", dir=self.args.scratch)
        # Warm starts: the host's home (its cache folder) and Chromium's profile are kept
        # from one launch to the next; cold starts get fresh ones.
        self.warm_home = os.path.join(self.scratch, "warm-home")
        self.warm_profile = os.path.join(self.scratch, "warm-chromium")
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

    def xserver_pid(self):
        return self.display.xvfb.pid

    def make_host(self, movie, warm, config=None):
        home = self.warm_home if warm else None
        if home:
            os.makedirs(home, exist_ok=True)
        return Host(self.display, movie=movie, config=config, home=home, extra_env=self.args.host_env)

    # 1 and 4: the host with the demo movie.
    def host_demo(self, warm):
        host = self.make_host(self.demo, warm)
        try:
            spawned = time.time()
            proc = host.start()
            first = wait_for(lambda: host.commands()[:1], 60, 0.01, "the host's first command")[0]
            handled = iso_to_epoch(first["time"])
            wait_until(handled + self.args.settle)
            if proc.poll() is not None:
                raise RuntimeError("the host ended: " + Host.stderr_of(proc)[-2000:])
            pss, count, by_role = tree_pss_kib(proc.pid)
            return {"startup_s": handled - spawned, "pss_kib": pss, "processes": count,
                    "pss_by_role": by_role, "first": first["name"],
                    "stderr": Host.stderr_of(proc)[-4000:]}
        finally:
            host.cleanup()
            if warm:
                # The save folder lives in the kept home; each launch starts without saves.
                shutil.rmtree(host.save, ignore_errors=True)
            self.desktop_back()

    def start_chromium(self, warm, movie, config=None):
        """Chromium with the bench page: a fresh profile (cold), or the kept one with the
        page's files cacheable, as a web server sends static files (warm)."""
        profile = self.warm_profile if warm else tempfile.mkdtemp(prefix="chromium-", dir=self.scratch)
        self.server.clear()
        self.server.movie = movie
        self.server.cacheable = warm
        # The movie by its own name: a kept profile may hold another movie's file.
        url = self.server.url + "?movie=" + os.path.basename(movie)
        if config is not None:
            url += "&config=" + config.replace(" ", "+")
        # BENCH_PAGE_LOG=info: Ruffle's log at that level (the renderer it chose, for one) in
        # bench/.build/chromium-stderr.txt.
        log_level = os.environ.get("BENCH_PAGE_LOG")
        if log_level:
            url += ("&" if "?" in url else "?") + "log=" + log_level
        err = open(os.path.join(self.bench_build if log_level else self.scratch, "chromium-stderr.txt"), "w")
        spawned = time.time()
        size = "--window-size=%d,%d" % tuple(self.chromium_window)
        logging = ["--enable-logging=stderr"] if log_level else []
        proc = subprocess.Popen(["chromium", *CHROMIUM_FLAGS, *logging, size, "--user-data-dir=" + profile, "--app=" + url],
                                env=self.display.env, stdout=subprocess.DEVNULL, stderr=err,
                                start_new_session=True)
        proc.err_file, proc.profile, proc.fresh = err, profile, not warm
        return proc, spawned

    def stop_chromium(self, proc):
        for event in self.server.events:
            if event[1] == "/fscommand" and event[2].get("viewport"):
                self.viewport = tuple(event[2]["viewport"])
                for i in (0, 1):
                    self.chromium_window[i] += STAGE[i] - self.viewport[i]
                break
        end_group(proc)
        proc.err_file.close()
        if proc.fresh:
            shutil.rmtree(proc.profile, ignore_errors=True)

    # 1 and 4: Chromium with the same page.
    def chromium_demo(self, warm):
        proc, spawned = self.start_chromium(warm, self.demo)
        try:
            event = wait_for(lambda: self.server.first("/fscommand") or self.server.first("/error"),
                             60, 0.01, "Chromium's first fscommand")
            if event[1] == "/error":
                raise RuntimeError("the page failed: %r" % event[2])
            arrived, _, data = event
            wait_until(arrived + self.args.settle)
            if proc.poll() is not None:
                raise RuntimeError("Chromium ended")
            pss, count, by_role = tree_pss_kib(proc.pid)
            marks = {k: v / 1000.0 - spawned for k, v in data.get("marks", {}).items()}
            return {"startup_s": arrived - spawned, "pss_kib": pss, "processes": count,
                    "pss_by_role": by_role, "first": data.get("command"), "marks": marks}
        finally:
            self.stop_chromium(proc)

    # 6 and 7: the playback movie; the CPU of the tree over the movie's measuring window.
    def measure_window(self, leader, marked, result):
        """Waits for the movie's start mark, samples the tree's CPU over the measuring
        window (and the X server's, for a note), and waits for the movie's result."""
        wait_for(marked, 120, 0.01, "the movie's start mark")
        xserver = self.xserver_pid()
        before = cpu_sample(leader, [xserver])
        t0 = time.monotonic()
        time.sleep(self.args.measure)
        after = cpu_sample(leader, [xserver])
        wall = time.monotonic() - t0
        text = wait_for(result, 60, 0.05, "the movie's result")
        tree = set(after) - {xserver}
        cpu, wakeups, by_role = cpu_delta(before, after, tree)
        xcpu = cpu_delta(before, after, {xserver})[0]
        scale = self.args.measure / wall
        return dict(parse_result(text), cpu_s=cpu * scale, wakeups=wakeups * scale,
                    cpu_by_role={r: (c * scale, w * scale) for r, (c, w) in by_role.items()},
                    xserver_cpu_s=xcpu * scale, wall_s=wall)

    def playback_config(self, mode):
        return "playback %s %g %g" % (mode, self.args.settle, self.args.measure)

    def host_playback(self, mode):
        host = self.make_host(self.playback_swf, True, config=self.playback_config(mode))
        try:
            proc = host.start()

            def result():
                got = host.commands("bench_result")
                return got[0]["arg"] if got else None

            got = self.measure_window(proc.pid, lambda: host.commands("bench_mark"), result)
            if proc.poll() is not None:
                raise RuntimeError("the host ended: " + Host.stderr_of(proc)[-2000:])
            return got
        finally:
            host.cleanup()
            shutil.rmtree(host.save, ignore_errors=True)
            self.desktop_back()

    def chromium_playback(self, mode):
        proc, _ = self.start_chromium(True, self.playback_swf, config=self.playback_config(mode))
        try:
            def result():
                event = self.server.command("bench_result")
                return event[2].get("args") if event else None

            return self.measure_window(proc.pid, lambda: self.server.command("bench_mark"), result)
        finally:
            self.stop_chromium(proc)

    # 6 and 7, the floor: the same movie in a bare Qt WebEngine view set up as the host sets
    # up its engine, and nothing else of the host.
    # variant: more environment for it (bench/variants.py), ARGS=... its further arguments.
    def bare_playback(self, mode, variant=None):
        exe = os.path.join(self.bench_build, "echo", "bench_echo")
        home = tempfile.mkdtemp(prefix="bare-", dir=self.scratch)
        extra = dict(variant or {})
        args = extra.pop("ARGS", "").split()
        env = dict(self.display.env, HOME=home, XDG_RUNTIME_DIR=home, **extra)
        proc = subprocess.Popen([exe, "--ruffle", os.path.join(self.program, "ruffle"), self.playback_swf,
                                 "--mode", "playback", "--config", self.playback_config(mode), *args],
                                env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                start_new_session=True)
        events = []
        reader = threading.Thread(target=lambda: events.extend(iter(proc.stdout.readline, "")), daemon=True)
        reader.start()

        def event(name):
            for line in list(events):
                if line.startswith("event %s " % name):
                    return line[len("event %s " % name):].strip() or True
            return None

        try:
            return self.measure_window(proc.pid, lambda: event("bench_mark"), lambda: event("bench_result"))
        finally:
            end_group(proc)
            shutil.rmtree(home, ignore_errors=True)

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
    # ("local": by the page, "channel": through a bare channel slot, "call": through a bare
    # slot that waits for each call's answer before it takes the next command, as the host does).
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
