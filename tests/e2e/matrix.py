"""The desktop matrix: one scenario of the real host on each real desktop (desktops.py).

Start in full screen, F12 (a screenshot), Ctrl+Return to window mode and back twice,
another application activated and back, a report box of ours shown while the game is
active, window mode and full screen once more, "quit"; then a second run ended by kill -9. After every step the
X server (RandR outputs, geometry, _NET_WM_STATE, frame, stacking, work area, screen
saver) and a screenshot (the probe movie's corner markers) are checked.

Run one desktop: python3 matrix.py NAME (names: python3 matrix.py --list). Exit status 77 when
the desktop cannot run on this machine (CTest shows it as skipped, with the reason)."""

import os
import re
import signal
import sys
import time
import unittest

import desktops
from wayland_desktops import ALL as DESKTOPS
from checks import SAVER, Checks, log
from harness import Host, probe_script, wait_for

WITHIN = 0.5           # full screen reached within this time of the request (s)
OVERLOADED = 3         # runnable processes per core beyond which that time is not judged
IDLE = 1               # ... and beyond which the movie's part of it is not judged
RESTORED_WITHIN = 1.0  # the desktop given back after the end (s)
TICK = 10              # the keep-awake period (s)
FULL, WINDOW = "true", "false"

# The movie's part: a failing command (a report box) when the window is asked to close,
# "quit" once it has been told full screen the eighth time.
SCRIPT = probe_script(("wait_count", "CloseRequested", "1"), ("send", "DeletePlayer", "nobody"),
                      ("wait_count", "SwitchFullscreenMarker", "8"), ("send", "quit"))


class Scenario(Checks, unittest.TestCase):
    desktop_class = desktops.Desktop

    def setUp(self):
        self.d = self.desktop_class()
        self.addCleanup(self.d.close)
        # The screenshots of an earlier run would be taken for this one's.
        folder = os.environ.get("LF_MATRIX_SHOTS")
        if folder and os.path.isdir(folder):
            for name in os.listdir(folder):
                if name.startswith(self.d.key + "-"):
                    os.remove(os.path.join(folder, name))
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
        focus = d.xconn().input_focus()
        focus_name = re.search(r"Window id: \S+ (.*)", d.run("xwininfo", "-id", str(focus)))
        return ("window %s, frame %s, extents %s, state %s, outputs %s, active window %s, input "
                "focus %s %s (the game is 0x%x), the movie told %s"
                % (d.geometry(wid), d.geometry(d.frame_window(wid)), d.frame_extents(wid),
                   d.atoms("_NET_WM_STATE", wid), d.outputs(), hex(d.active_window() or 0),
                   hex(focus), focus_name.group(1) if focus_name else "", wid,
                   self.markers(self.host))
                + "; the host's stderr ends %r" % self.host.stderr_of(self.proc)[-400:]
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
        """Activates the window as a player would on this desktop (desktops.Desktop.activate)."""
        self.d.activate(wid)

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

    # --- The scenario ----------------------------------------------------------------

    def test_scenario(self):
        d = self.d
        host = self.host = Host(d, config=SCRIPT, extra_env=d.host_env)
        self.addCleanup(host.cleanup)
        started = time.monotonic()
        proc = self.proc = host.start(args=d.host_args)
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
        with self.subTest("F12 saves the stage at 800x600"):
            self.check_screenshot_key(host)

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

        spelled = ", ".join("%.3f/%.3f" % t[:2] for t in self.timings)
        load, cores = os.getloadavg()[0], os.cpu_count() or 1
        log("%s: full screen in the X server / the movie told, s after the request: %s (load average %.1f)"
            % (d.label, spelled, load))
        # The X server's state is judged unless the machine is overloaded; the movie is told
        # through the web engine's renderer process, whose latency is the machine's as soon
        # as other work competes for the cores (the suite's other tests): judged only when
        # there is none. So is the X state of a switch that first waits for the movie's
        # answer (the return from another application).
        judged = []
        if load <= OVERLOADED * cores:
            judged.append(("the X server", max((t[0] for t in self.timings
                                                if load <= IDLE * cores or not t[2]), default=0)))
        if load <= IDLE * cores:
            judged.append(("the movie told", max((t[1] for t in self.timings), default=0)))
        if len(judged) < 2:
            log("%s: TIME BOUND NOT CHECKED for the movie%s (load average %.1f on %d cores)"
                % (d.label, " and the switch that waits on it" if judged else " or the X server",
                   load, cores))
        for what, slowest in judged:
            with self.subTest("full screen within %.1f s: %s" % (WITHIN, what)):
                self.assertLessEqual(slowest, WITHIN, "full screen (%s) took longer than %.1f s: %s "
                                     "(load average %.1f)" % (what, WITHIN, spelled, load))

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
            if d.iconifies:
                self.wait(lambda: d.iconic(self.wid) or d.map_state(self.wid) != "IsViewable", 5,
                          "the game minimised")
            self.wait(lambda: d.outputs() == self.desktop, 5, "the desktop mode back")
            self.wait(lambda: d.screensaver_timeout() == SAVER, 5, "the screen saver back on")
            self.hold_without_keys("another application was active")
            self.assertNotIn("KeyPress", other_log(), "keys typed into the other application")
        calls = len(host.calls("SwitchFullscreenMarker"))
        self.activate(self.wid)
        start = (time.monotonic(), time.time())
        with self.subTest("full screen reached on coming back"):
            self.wait_full_screen(start, calls, after_call=True)
        with self.subTest("the movie hears it has the focus again"):
            host.wait_ack("notifyGame", "gainedFocus", count=2, timeout=10)
        with self.subTest("full screen again"):
            self.check_full_screen("back from the other application")
        other.terminate()

    def killed_in_full_screen(self):
        host = self.host = Host(self.d, extra_env=self.d.host_env)
        self.addCleanup(host.cleanup)
        proc = self.proc = host.start(args=self.d.host_args)
        host.wait_ack("SwitchFullscreenMarker", FULL, timeout=60)
        if not self.d.wayland and not self.d.own_mode:
            self.wait(lambda: self.d.outputs() != self.desktop, 10, "the display switched")
        os.kill(proc.pid, signal.SIGKILL)
        proc.wait(10)
        self.assert_desktop_back("after kill -9")

    def assert_desktop_back(self, when):
        wait_for(lambda: self.d.outputs() == self.desktop, RESTORED_WITHIN, 0.02,
                 what="%s: every output in its desktop mode %s" % (when, self.desktop))
        wait_for(lambda: self.d.screensaver_timeout() == SAVER, RESTORED_WITHIN, 0.02,
                 what="%s: the screen saver back on" % when)
        wait_for(lambda: "-lanternfall" not in self.d.run("xrandr", "--query"), RESTORED_WITHIN,
                 0.05, what="%s: no display mode of ours left on the outputs" % when)


# Steps (subtests) in which the host is known to fail on a desktop (None: every step), with
# the reason. A failure of such a step is printed in full and logged as a "KNOWN FAULT", and
# does not fail the test; a failure of any other step, or an error of the test itself (a
# desktop that does not start, a harness fault), does. LF_MATRIX_STRICT=1 counts them too.
KNOWN_FAULTS = {
    # weston 10's shell keeps a window's visible corner in place when its X window manager
    # changes the frame's shadow margin, after putting back the place it had before full
    # screen: every trip moves it up-left by the margin (32 px); any X client's window
    # drifts so (xev does too). Its X window manager ignores a client's own position, so the
    # host cannot put the window back while it is mapped. Under load, the click that makes
    # another window active now and then does not take, and the steps after it fail with it.
    "weston": (None, "weston 10: window mode creeps up-left by weston's 32 px shadow margin on "
                     "every trip to full screen (weston moves every X window so and ignores the "
                     "client's own position), so from the second trip on the window is partly off "
                     "the screen (not seen with weston 14); weston 10 and 14: on a loaded machine the "
                     "click that activates the other application now and then does not take"),
    "mutter_x11": ({"window mode 1: picture", "window mode 2: picture", "window mode 3: picture"},
                   "now and then mutter's compositor (software, on Xvfb) keeps showing a squeezed, "
                   "stale picture of the window after a switch to window mode, while the X server's "
                   "geometry is right"),
}


def main(argv):
    if argv[1:] == ["--list"]:
        print(";".join(DESKTOPS))
        return
    if len(argv) != 2 or argv[1] not in DESKTOPS:
        sys.exit("usage: matrix.py {%s}" % "|".join(DESKTOPS))
    case = type("Scenario_" + argv[1], (Scenario,), {"desktop_class": DESKTOPS[argv[1]]})
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(case)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if result.skipped and not result.failures and not result.errors:
        sys.exit(77)
    steps, reason = KNOWN_FAULTS.get(argv[1], (set(), ""))
    if os.environ.get("LF_MATRIX_STRICT"):
        steps = set()
    known = [t for t, _ in result.failures if steps is None or getattr(t, "_message", None) in steps]
    for test in known:
        log("KNOWN FAULT on %s, %s: %s" % (argv[1], getattr(test, "_message", "the scenario"), reason))
    if known and len(known) == len(result.failures) and not result.errors:
        sys.exit(0)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main(sys.argv)
