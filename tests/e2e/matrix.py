"""The desktop matrix: one scenario of the real host on each real desktop (desktops.py).

Start in full screen, Ctrl+Return to window mode and back twice, another application
activated and back, a report box of ours shown while the game is active, window mode and
full screen once more, "quit"; then a second run ended by kill -9. After every step the
X server (RandR outputs, geometry, _NET_WM_STATE, frame, stacking, work area, screen
saver) and a screenshot (the probe movie's corner markers) are checked.

Run one desktop: python3 matrix.py NAME (names: see desktops.ALL). Exit status 77 when
the desktop cannot run on this machine (CTest shows it as skipped, with the reason)."""

import datetime
import os
import re
import signal
import sys
import time
import unittest

import desktops
import screen
import xquery
from harness import Host, probe_script, wait_for

SAVER = 300            # the screen-saver timeout of the desktop before the host starts
WITHIN = 0.5           # full screen reached within this time of the request (s)
RESTORED_WITHIN = 1.0  # the desktop given back after the end (s)
TICK = 10              # the keep-awake period (s)
SETTLE = 3.0           # how long a compositor may animate a change before the picture counts (s)
FULL, WINDOW = "true", "false"

# The movie's part: a failing command (a report box) when the window is asked to close,
# "quit" once it has been told full screen the eighth time.
SCRIPT = probe_script(("wait_count", "CloseRequested", "1"), ("send", "DeletePlayer", "nobody"),
                      ("wait_count", "SwitchFullscreenMarker", "8"), ("send", "quit"))


def log(text):
    sys.stderr.write("matrix: %s\n" % text)
    sys.stderr.flush()


class Scenario(unittest.TestCase):
    desktop_class = desktops.Desktop

    def setUp(self):
        self.d = self.desktop_class()
        self.addCleanup(self.d.close)
        self.d.run("xset", "s", str(SAVER), check=True)
        self.desktop = self.d.outputs()
        self.game = self.d.game_output(self.desktop)
        origin = self.desktop[self.game]
        self.origin = (origin["x"], origin["y"])
        self.supported = self.d.atoms("_NET_SUPPORTED")
        self.assertTrue(origin["rate"], "the desktop mode has no refresh rate: %s" % self.desktop)
        self.frame_reference = None
        self.timings = []
        self.last_input = time.monotonic()

    def describe(self):
        """The X server's view of the game, for failure messages."""
        d, wid = self.d, getattr(self, "wid", None)
        if wid is None:
            return "no window yet"
        return ("window %s, frame %s, extents %s, state %s, outputs %s, the movie told %s"
                % (d.geometry(wid), d.geometry(d.frame_window(wid)), d.frame_extents(wid),
                   d.atoms("_NET_WM_STATE", wid), d.outputs(), self.markers(self.host))
                + "; its last commands %s" % [(c["name"], c["arg"], c["outcome"]) for c in
                                              self.host.commands() if c["name"] != "probe_ack"][-3:])

    def wait(self, condition, timeout, what, interval=0.05):
        try:
            return wait_for(condition, timeout, interval, what=what)
        except AssertionError as e:
            raise AssertionError("%s; %s" % (e, self.describe())) from None

    # --- Actions ---------------------------------------------------------------------

    def key(self, *keys):
        """A chord of keys (XTest), e.g. key("Control_L", "Return")."""
        self.d.xconn().key(*keys)
        self.last_input = time.monotonic()

    def typed_since(self, since):
        """Whether the X server saw input since then (the test's own last key is older):
        keep-awake keys. None where the server cannot tell (no MIT-SCREEN-SAVER: Xwayland)."""
        idle = self.d.idle_seconds()
        return None if idle is None else idle + 0.3 < time.monotonic() - max(since, self.last_input)

    def hold_without_keys(self, what):
        """Waits past a keep-awake tick and fails if anything was typed meanwhile."""
        since = time.monotonic()
        time.sleep(TICK + 1)
        if self.typed_since(since):
            self.fail("keys were typed while %s (the X server's idle time restarted)" % what)

    def activate(self, wid):
        """Asks the window manager to activate the window, as a taskbar does."""
        self.d.xconn().send(wid, "_NET_ACTIVE_WINDOW", [2, 0, 0], to_root=True)

    def markers(self, host):
        return [a for n, a in host.acks() if n == "SwitchFullscreenMarker"]

    def toggle(self, host, to):
        count, calls = len(self.markers(host)), len(host.calls("SwitchFullscreenMarker"))
        self.key("Control_L", "Return")
        start = (time.monotonic(), time.time())
        if to == FULL:
            with self.subTest("full screen reached"):
                self.wait_full_screen(start, calls)
        wait_for(lambda: len(self.markers(host)) > count, 10, what="the movie told %s" % to)
        self.assertEqual(self.markers(host)[-1], to)

    def look(self, when, judge, own_window=False):
        """Takes screenshots until judge(stage) finds nothing wrong with the stage they
        show, for up to SETTLE s (a compositor may still be animating the change), and
        returns (stage or None, problems). The last screenshot of a failure is kept in
        LF_MATRIX_SHOTS."""
        deadline = time.monotonic() + SETTLE
        while True:
            if own_window:
                image = screen.Image(self.d.run_binary("import", "-window", str(self.wid), "-depth", "8", "ppm:-"))
            else:
                image = screen.Image(self.d.screenshot())
            try:
                stage = screen.locate_stage(image)
                problems = judge(stage)
            except AssertionError as e:
                stage, problems = None, [str(e)]
            if not problems or time.monotonic() > deadline:
                break
        folder = os.environ.get("LF_MATRIX_SHOTS")
        if problems and folder:
            os.makedirs(folder, exist_ok=True)
            path = os.path.join(folder, "%s-%s.ppm" % (self.d.key, when.replace(" ", "-")))
            with open(path, "wb") as f:
                f.write(image.ppm)
            problems.append("screenshot: " + path)
        return stage, problems

    # --- Full screen -----------------------------------------------------------------

    def full_screen_rect(self):
        """Where the full-screen window must be: the game's output at 800x600; on a Wayland
        compositor whose window manager ignores Xwayland's emulated mode, the whole output."""
        if self.d.wayland and not self.d.emulated_modes:
            out = self.desktop[self.game]
            return (out["x"], out["y"], out["w"], out["h"])
        return self.origin + (800, 600)

    def full_screen_now(self):
        """The X server shows full screen: the window and (but on Xwayland, which
        emulates the mode for the host alone) the game's output at 800x600."""
        xconn = self.d.xconn()
        if xconn.geometry(self.wid) != self.full_screen_rect():
            return False
        return self.d.wayland or xconn.monitors().get(self.game) == self.origin + (800, 600)

    def wait_full_screen(self, start, calls):
        """Full screen is done when the X server shows it and the host has told the movie
        (a switch that still waits on the window manager is not done). Records how long
        each took after the request (start: its monotonic and wall-clock times): the X
        state as this test saw it, the movie told by the time the host wrote in its trace
        (so that this test's own polling on a loaded machine does not count)."""
        seen = {}

        def done():
            if "x" not in seen and self.full_screen_now():
                seen["x"] = time.monotonic() - start[0]
            return "x" in seen and len(self.host.calls("SwitchFullscreenMarker")) > calls
        self.wait(done, 10, "full screen in the X server and the movie told", 0.01)
        told = self.host.calls("SwitchFullscreenMarker")[calls]
        at = datetime.datetime.fromisoformat(told["time"].replace("Z", "+00:00")).timestamp()
        # The trace's times are whole milliseconds.
        self.timings.append((seen["x"], max(0.0, at - start[1])))

    def check_full_screen(self, when):
        """The window covers exactly the game's output at 800x600, nothing above it (the
        whole stage at the output's corners), other outputs untouched, screen saver off.
        No frame can show: the window fills the output and the stage fills the window."""
        d, wid, problems = self.d, self.wid, []
        x, y = self.origin
        outputs = d.outputs()
        if d.wayland:
            # Xwayland emulates the mode for the host alone; the others keep the desktop's.
            if outputs != self.desktop:
                problems.append("other clients see the outputs %s" % outputs)
            emulated = xquery.parse_cardinals(d.prop("_XWAYLAND_RANDR_EMU_MONITOR_RECTS", wid))
            if d.emulated_modes and emulated != [x, y, 800, 600]:
                problems.append("Xwayland emulates %s for the window, not 800x600" % emulated)
        else:
            for name, out in outputs.items():
                if name == self.game:
                    if (out["x"], out["y"], out["w"], out["h"]) != (x, y, 800, 600) or \
                            abs(out["rate"] - self.desktop[name]["rate"]) > 0.5:
                        problems.append("the game's output %s is %s" % (name, out))
                elif out != self.desktop[name]:
                    problems.append("the other output %s changed to %s" % (name, out))
        if d.geometry(wid) != self.full_screen_rect():
            problems.append("the window is %s, not the output's %s" % (d.geometry(wid), self.full_screen_rect()))
        state = d.atoms("_NET_WM_STATE", wid)
        if "_NET_WM_STATE_FULLSCREEN" in self.supported and "_NET_WM_STATE_FULLSCREEN" not in state:
            problems.append("_NET_WM_STATE is %s, without _NET_WM_STATE_FULLSCREEN" % state)
        stacking, frame = d.stacking(), d.frame_window(wid)
        ours = [i for i, w in enumerate(stacking) if w in (wid, frame)]
        above = [hex(w) for w in d.docks() if ours and stacking.index(w) > ours[0]]
        if above:
            problems.append("panels %s are stacked above the game" % above)
        if d.screensaver_timeout() != 0:
            problems.append("the screen saver is on (%s s)" % d.screensaver_timeout())
        if d.screenshot is None:
            expected = (0, 0, 800, 600)  # no picture of the compositor's output: the window's own
        elif d.wayland:
            out = self.desktop[self.game]
            expected = (out["x"], out["y"], out["w"], out["h"])  # Xwayland scales it to the output
        else:
            expected = (x, y, 800, 600)

        def judge(stage):
            rect = stage["rect"]
            if d.wayland and not d.emulated_modes:
                # The window is the whole output: the whole stage in it at the largest scale
                # that fits (the player keeps the stage's proportions).
                fit = min(expected[2] / 800, expected[3] / 600)
                if not inside(rect, expected) or any(abs(s - fit) > 0.01 for s in stage["scale"]):
                    return ["the stage shows at %s (scale %.3f x %.3f), not at the largest scale that "
                            "fits the output %s (%.3f)" % (rect, *stage["scale"], expected, fit)]
                return []
            if any(abs(a - b) > 1 for a, b in zip(rect, expected)):
                return ["the stage shows at %s, not over the whole %s %s"
                        % (rect, "window" if d.screenshot is None else "output", expected)]
            return []
        stage, seen = self.look(when, judge, own_window=d.screenshot is None)
        problems += seen
        if problems:
            self.fail("%s: %s; %s" % (when, "; ".join(problems), self.describe()))
        log("%s: stage %s, scale %.2f x %.2f" % (when, stage["rect"], *stage["scale"]))

    # --- Window mode -----------------------------------------------------------------

    def check_window_mode(self, when):
        """The desktop's modes back, a title bar, the frame inside the work area and in the
        same place every time, the whole stage visible at the desktop's scale (or the
        largest that fits), screen saver back on."""
        d, wid, problems = self.d, self.wid, []
        if d.outputs() != self.desktop:
            problems.append("the outputs are %s, not the desktop's %s" % (d.outputs(), self.desktop))
        if "_NET_WM_STATE_FULLSCREEN" in d.atoms("_NET_WM_STATE", wid):
            problems.append("_NET_WM_STATE still has _NET_WM_STATE_FULLSCREEN")
        client = d.geometry(wid)
        # The visible frame: as announced, else the frame window less its invisible shadow.
        m = d.frame_shadow
        frame = d.geometry(d.frame_window(wid))
        frame = (frame[0] + m, frame[1] + m, frame[2] - 2 * m, frame[3] - 2 * m)
        extents = d.frame_extents(wid)
        if extents:
            frame = (client[0] - extents[0], client[1] - extents[2],
                     client[2] + extents[0] + extents[1], client[3] + extents[2] + extents[3])
        if client[1] - frame[1] <= 0:
            problems.append("no title bar (frame %s, window %s, extents %s)" % (frame, client, extents))
        area = d.work_area() or (0, 0) + d.screen_size()
        if not inside(frame, area):
            problems.append("the window %s is not inside the work area %s" % (frame, area))
        if self.frame_reference is None:
            self.frame_reference = frame
        elif frame != self.frame_reference:
            problems.append("the window is at %s, before it was at %s" % (frame, self.frame_reference))
        if d.screensaver_timeout() != SAVER:
            problems.append("the screen saver is not back on (%s s)" % d.screensaver_timeout())
        # The stage at the desktop's scale when that fits the work area, else the largest that fits.
        largest = min((area[2] - frame[2] + client[2]) / 800, (area[3] - frame[3] + client[3]) / 600)
        if d.screenshot is None:
            client = area = (0, 0) + client[2:]  # the window's own picture

        def judge(stage):
            rect, scale, wrong = stage["rect"], stage["scale"][0], []
            if not inside(rect, client) or not inside(rect, area):
                wrong.append("the stage %s is not inside the window %s and the work area %s" % (rect, client, area))
            expected = min(d.scale, largest)
            if abs(scale - expected) > 0.01:
                wrong.append("the stage is shown at %.3f, not at %.3f (desktop's scale %.2f, the largest "
                             "that fits the work area %.3f)" % (scale, expected, d.scale, largest))
            return wrong
        stage, seen = self.look(when, judge, own_window=d.screenshot is None)
        problems += seen
        if problems:
            self.fail("%s: %s; %s" % (when, "; ".join(problems), self.describe()))
        log("%s: window %s, stage %s, scale %.2f" % (when, frame, stage["rect"], stage["scale"][0]))

    # --- The scenario ----------------------------------------------------------------

    def test_scenario(self):
        d = self.d
        host = self.host = Host(d, config=SCRIPT, extra_env=d.host_env)
        self.addCleanup(host.cleanup)
        started = time.monotonic()
        proc = host.start()
        host.wait_ready()
        try:
            self.wid = host.window()
        except AssertionError:
            self.fail("the host has no window on the X server %s (not running through X11 or "
                      "Xwayland?); its platform: %s" % (d.name, host.env.get("QT_QPA_PLATFORM", "Qt's choice")))
        with self.subTest("full screen reached at start"):
            self.wait(self.full_screen_now, 20, "full screen at start")
            log("%s: full screen %.2f s after the start" % (d.label, time.monotonic() - started))
        with self.subTest("full screen at start"):
            self.check_full_screen("full screen at start")

        for round_trip in (1, 2):
            self.toggle(host, WINDOW)
            with self.subTest("window mode %d" % round_trip):
                self.check_window_mode("window mode %d" % round_trip)
            self.toggle(host, FULL)
            with self.subTest("full screen %d" % round_trip):
                self.check_full_screen("full screen %d" % round_trip)

        with self.subTest("keep-awake keys are typed while the game is active"):
            if self.typed_since(self.last_input) is None:
                log("%s: the X server has no idle time; keep-awake keys not observed" % d.label)
            else:
                self.wait(lambda: self.typed_since(self.last_input), TICK + 5, "a keep-awake key")
        self.other_application(host)

        # A failure report: the box must stay until it is read (a space typed into it
        # would press its button).
        d.request_close(self.wid)
        self.wait(lambda: "failed:" in host.stderr_of(proc), 20, "the report of the failed command")
        box = None
        with self.subTest("a report box is never typed into"):
            box = self.wait(d.dialogs, 5, "the report box on the screen (closed by typed keys?)")[0]
            self.hold_without_keys("the report box was shown")
            self.assertIn(box, d.dialogs(), "the report box closed by itself (keys typed into it?)")
        if box in d.dialogs():
            self.activate(box)
            self.wait(lambda: d.active_window() == box, 5, "the report box active")
            self.key("Return")
            self.wait(lambda: not d.dialogs(), 10, "the report box closed")
        self.activate(self.wid)
        self.wait(lambda: d.active_window() in (self.wid, d.frame_window(self.wid)), 5, "the game active")

        self.toggle(host, WINDOW)
        with self.subTest("window mode 3"):
            self.check_window_mode("window mode 3")
        self.key("Control_L", "Return")  # full screen, and the movie then says "quit"
        self.assertEqual(proc.wait(30), 0)
        with self.subTest("quit gives the desktop back"):
            self.assert_desktop_back("after quit")
        self.assertEqual(self.markers(host), [FULL, WINDOW, FULL, WINDOW, FULL, FULL, WINDOW, FULL])

        with self.subTest("kill -9 gives the desktop back"):
            self.killed_in_full_screen()

        spelled = ", ".join("%.3f/%.3f" % t for t in self.timings)
        log("%s: full screen in the X server / the movie told, s after the request: %s (load average %.1f)"
            % (d.label, spelled, os.getloadavg()[0]))
        self.assertLessEqual(max((max(t) for t in self.timings), default=0), WITHIN,
                             "full screen took longer than %.1f s: %s (load average %.1f)"
                             % (WITHIN, spelled, os.getloadavg()[0]))

    def other_application(self, host):
        d = self.d
        # xev: a window that logs every key it receives, over the game's corner.
        out = open(os.path.join(d.root, "other.log"), "w")
        x, y = self.origin
        other = d.spawn_logged(["stdbuf", "-oL", "xev", "-event", "keyboard",
                                "-geometry", "300x200+%d+%d" % (x + 20, y + 20)], out)
        other_log = lambda: open(out.name).read()
        other_wid = int(self.wait(lambda: re.search(r"Outer window is (0x[0-9a-f]+)", other_log()), 20,
                                  "the other application").group(1), 16)
        self.activate(other_wid)
        host.wait_ack("notifyGame", "lostFocus")
        with self.subTest("the other application is active"):
            self.wait(lambda: d.iconic(self.wid) or d.map_state(self.wid) != "IsViewable", 5,
                      "the game minimised")
            self.wait(lambda: d.outputs() == self.desktop, 5, "the desktop mode back")
            self.assertEqual(d.screensaver_timeout(), SAVER, "the screen saver is not back on")
            self.hold_without_keys("another application was active")
            self.assertNotIn("KeyPress", other_log(), "keys typed into the other application")
        calls = len(host.calls("SwitchFullscreenMarker"))
        self.activate(self.wid)
        start = (time.monotonic(), time.time())
        with self.subTest("full screen reached"):
            self.wait_full_screen(start, calls)
        with self.subTest("the movie hears it has the focus again"):
            host.wait_ack("notifyGame", "gainedFocus", count=2, timeout=10)
        with self.subTest("full screen again"):
            self.check_full_screen("back from the other application")
        other.terminate()

    def killed_in_full_screen(self):
        host = self.host = Host(self.d, extra_env=self.d.host_env)
        self.addCleanup(host.cleanup)
        proc = host.start()
        host.wait_ack("SwitchFullscreenMarker", FULL, timeout=60)
        if not self.d.wayland:
            self.wait(lambda: self.d.outputs() != self.desktop, 10, "the display switched")
        os.kill(proc.pid, signal.SIGKILL)
        proc.wait(10)
        self.assert_desktop_back("after kill -9")

    def assert_desktop_back(self, when):
        wait_for(lambda: self.d.outputs() == self.desktop, RESTORED_WITHIN, 0.02,
                 what="%s: every output in its desktop mode %s" % (when, self.desktop))
        wait_for(lambda: self.d.screensaver_timeout() == SAVER, RESTORED_WITHIN, 0.02,
                 what="%s: the screen saver back on" % when)


def inside(rect, area):
    return (rect[0] >= area[0] and rect[1] >= area[1] and rect[0] + rect[2] <= area[0] + area[2]
            and rect[1] + rect[3] <= area[1] + area[3])


def main(argv):
    if argv[1:] == ["--list"]:
        print(";".join(desktops.ALL))
        return
    if len(argv) != 2 or argv[1] not in desktops.ALL:
        sys.exit("usage: matrix.py {%s}" % "|".join(desktops.ALL))
    case = type("Scenario_" + argv[1], (Scenario,), {"desktop_class": desktops.ALL[argv[1]]})
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(case)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if result.skipped and not result.failures and not result.errors:
        sys.exit(77)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main(sys.argv)
