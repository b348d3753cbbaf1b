"""The checks of the desktop matrix (matrix.py) after each step: what the X server says
(RandR outputs, geometry, _NET_WM_STATE, frame, stacking, work area, screen saver) and
where a screenshot shows the probe movie's stage (its corner markers), in full screen and
in window mode. A part of matrix.Scenario."""

import datetime
import os
import re
import sys
import time

import screen
import xquery

SAVER = 300   # the screen-saver timeout of the desktop before the host starts
SETTLE = 3.0  # how long a compositor may animate a change before the picture counts (s)


def log(text):
    sys.stderr.write("matrix: %s\n" % text)
    sys.stderr.flush()


class Checks:
    """Needs self.d (the desktop), self.host, self.wid, self.desktop (the outputs in the
    desktop's modes), self.game and self.origin (the game's output), self.supported,
    self.frame_reference, self.timings and self.wait()."""

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
        compositor whose window manager ignores Xwayland's emulated mode, or on the desktop's
        own mode, the whole output."""
        if self.d.own_mode or (self.d.wayland and not self.d.emulated_modes):
            out = self.desktop[self.game]
            return (out["x"], out["y"], out["w"], out["h"])
        return self.origin + (800, 600)

    def full_screen_now(self):
        """The X server shows full screen: the window and (but on Xwayland, which
        emulates the mode for the host alone) the game's output at 800x600."""
        xconn = self.d.xconn()
        if xconn.geometry(self.wid) != self.full_screen_rect():
            return False
        output = self.full_screen_rect() if self.d.own_mode else self.origin + (800, 600)
        return self.d.wayland or xconn.monitors().get(self.game) == output

    def wait_full_screen(self, start, calls, after_call=False):
        """Full screen is done when the X server shows it and the host has told the movie
        (a switch that still waits on the window manager is not done). Records how long
        each took after the request (start: its monotonic and wall-clock times): the X
        state as this test saw it, the movie told by the time the host wrote in its trace
        (so that this test's own polling on a loaded machine does not count). after_call:
        the host calls into the movie before it switches (the return from another
        application tells the movie "gainedFocus" first), so the X state waits on the page
        too."""
        seen = {}

        def done():
            if "x" not in seen and self.full_screen_now():
                seen["x"] = time.monotonic() - start[0]
            return "x" in seen and len(self.host.calls("SwitchFullscreenMarker")) > calls
        self.wait(done, 10, "full screen in the X server and the movie told", 0.01)
        told = self.host.calls("SwitchFullscreenMarker")[calls]
        at = datetime.datetime.fromisoformat(told["time"].replace("Z", "+00:00")).timestamp()
        # The trace's times are whole milliseconds.
        self.timings.append((seen["x"], max(0.0, at - start[1]), after_call))

    def check_full_screen(self, when):
        """The window covers exactly the game's output at 800x600, nothing above it (the
        whole stage at the output's corners), other outputs untouched, screen saver off.
        No frame can show: the window fills the output and the stage fills the window."""
        d, wid, problems = self.d, self.wid, []
        x, y = self.origin
        outputs = d.outputs()
        if d.own_mode:
            if outputs != self.desktop or "-lanternfall" in d.run("xrandr", "--query"):
                problems.append("the desktop's own mode changed: %s" % d.run("xrandr", "--query"))
        elif d.wayland:
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
        # One snapshot of the stacking: a panel may re-create its window after a mode change
        # (tint2 does), and a later listing would name a window this one does not hold.
        above = [hex(w) for i, w in enumerate(stacking)
                 if ours and i > ours[0] and "DOCK" in d.window_type(w)]
        if above:
            problems.append("panels %s are stacked above the game" % above)
        if d.screensaver_timeout() != 0:
            problems.append("the screen saver is on (%s s)" % d.screensaver_timeout())
        out = self.desktop[self.game]
        if d.screenshot is None:
            # No picture of the compositor's output: the window's own, as large as the
            # emulated mode, or the whole output where the window manager ignores it.
            expected = (0, 0, 800, 600) if d.emulated_modes else (0, 0, out["w"], out["h"])
        elif d.wayland or d.own_mode:
            expected = (out["x"], out["y"], out["w"], out["h"])  # Xwayland scales it to the output
        else:
            expected = (x, y, 800, 600)

        def judge(stage):
            rect = stage["rect"]
            if d.own_mode or (d.wayland and not d.emulated_modes):
                # The window is the whole output: the whole stage in it at the largest scale
                # that fits (the player keeps the stage's proportions), with bars.
                fit = min(expected[2] / 800, expected[3] / 600)
                if not inside(rect, expected) or any(abs(s - fit) > 0.01 for s in stage["scale"]):
                    return ["the stage shows at %s (scale %.3f x %.3f), not at the largest scale that "
                            "fits the output %s (%.3f)" % (rect, *stage["scale"], expected, fit)]
                return []
            if any(abs(a - b) > 1 for a, b in zip(rect, expected)):
                return ["the stage shows at %s, not over the whole %s %s"
                        % (rect, "window" if d.screenshot is None else "output", expected)]
            return []
        self.judge_picture(when, judge, problems,
                           lambda stage: "stage %s, scale %.2f x %.2f" % (stage["rect"], *stage["scale"]))

    def check_screenshot_key(self, host):
        """F12: the whole stage is saved at its own 800x600, whatever its scale on the screen.
        (The movie hears keys only once it was clicked, which the scenario does not do.)"""
        self.key("F12")
        named = lambda: re.search(r"screenshot saved to (.*\.png)$", host.stderr_of(self.proc), re.M)
        saved = self.wait(named, 10, "the screenshot named on stderr").group(1)
        ppm = self.d.run_binary("convert", saved, "-depth", "8", "ppm:-")
        self.assertEqual(screen.locate_stage(screen.Image(ppm))["rect"], (0, 0, 800, 600))

    # --- Window mode -----------------------------------------------------------------

    def check_window_mode(self, when):
        """The desktop's modes back, a title bar, the frame inside the work area and in the
        same place every time, the whole stage visible at the desktop's scale (or the
        largest that fits), screen saver back on."""
        d, wid, problems = self.d, self.wid, []

        def read():
            client = d.geometry(wid)
            # The visible frame: as announced, else the frame window less its invisible shadow.
            m = d.frame_shadow
            frame = d.geometry(d.frame_window(wid))
            frame = (frame[0] + m, frame[1] + m, frame[2] - 2 * m, frame[3] - 2 * m)
            extents = d.frame_extents(wid)
            if extents:
                frame = (client[0] - extents[0], client[1] - extents[2],
                         client[2] + extents[0] + extents[1], client[3] + extents[2] + extents[3])
            return client, frame, extents

        def fullscreen():
            return "_NET_WM_STATE_FULLSCREEN" in d.atoms("_NET_WM_STATE", wid)

        # A window manager may still change the window just after the switch (kwin re-places
        # it after following the screen's new size, and the host then puts it back; under
        # load it drops its full-screen state late; mutter 48's frames, drawn by a client of
        # their own, come back late): what counts is how the window settles, a moment later
        # at most.
        deadline = time.monotonic() + 3
        client, frame, extents = read()
        while ((fullscreen() or client[1] - frame[1] <= 0
                or self.frame_reference not in (None, frame))
               and time.monotonic() < deadline):
            time.sleep(0.1)
            client, frame, extents = read()
        if d.outputs() != self.desktop:
            problems.append("the outputs are %s, not the desktop's %s" % (d.outputs(), self.desktop))
        if fullscreen():
            problems.append("_NET_WM_STATE still has _NET_WM_STATE_FULLSCREEN")
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
        self.judge_picture(when, judge, problems, lambda stage: "window %s, stage %s, scale %.2f"
                           % (frame, stage["rect"], stage["scale"][0]))

    def judge_picture(self, when, judge, problems, spell):
        """Fails the step for the X server's problems; the picture is a step of its own
        ("WHEN: picture"), so that a compositor's fault is told apart from the host's."""
        with self.subTest(when + ": picture"):
            stage, seen = self.look(when, judge, own_window=self.d.screenshot is None)
            if seen:
                self.fail("%s: %s; %s" % (when, "; ".join(seen), self.describe()))
            log("%s: %s" % (when, spell(stage)))
        if problems:
            self.fail("%s: %s; %s" % (when, "; ".join(problems), self.describe()))


def inside(rect, area):
    return (rect[0] >= area[0] and rect[1] >= area[1] and rect[0] + rect[2] <= area[0] + area[2]
            and rect[1] + rect[3] <= area[1] + area[3])
