"""Full-screen and window mode on a real X server: the display mode, the title bar and the
window's place as the X server sees them, the refusals, the screen saver, and the desktop
given back however the host ends."""

import os
import signal
import time
import unittest

from harness import Display, Host, probe_script, wait_for

DESKTOP_TIMEOUT = 300  # the screen-saver timeout the desktop has before the host starts


class DisplayTestCase(unittest.TestCase):
    """A fresh display for every test: each one changes the display's mode."""

    size = (1920, 1080)

    def setUp(self):
        self.display = Display(*self.size)
        self.addCleanup(self.display.close)
        self.display.run("xset", "s", str(DESKTOP_TIMEOUT), check=True)

    def host(self, *script, **kwargs):
        host = Host(self.display, config=probe_script(*script) if script else None, **kwargs)
        self.addCleanup(host.cleanup)
        return host

    def decorated(self, wid):
        hints = self.display.run("xprop", "-id", str(wid), "_MOTIF_WM_HINTS")
        if "=" not in hints:
            return True
        return int(hints.split("=")[1].split(",")[2], 16) != 0

    def assert_full_screen(self, host):
        wait_for(lambda: self.display.screen_size() == (800, 600), 10, what="800x600")
        wid = host.window()
        wait_for(lambda: host.window_geometry(wid)[:2] == (0, 0), 10, what="the window at 0,0")
        # No title bar: the window manager's full-screen state, which draws no frame.
        self.assertIn("_NET_WM_STATE_FULLSCREEN", self.display.run("xprop", "-id", str(wid), "_NET_WM_STATE"))
        self.assertIn(self.display.run("xprop", "-id", str(wid), "_NET_FRAME_EXTENTS").split("=")[-1].strip(),
                      ("0, 0, 0, 0", "_NET_FRAME_EXTENTS:  not found."))
        x, y, w, h = host.window_geometry(wid)
        self.assertGreaterEqual((w, h), (800, 600))
        self.assertEqual(self.display.screensaver_timeout(), 0)

    def assert_desktop_back(self, timeout=1.0):
        wait_for(lambda: self.display.screen_size() == self.size, timeout,
                 what="the desktop's %dx%d" % self.size)
        wait_for(lambda: self.display.screensaver_timeout() == DESKTOP_TIMEOUT, timeout,
                 what="the screen saver back on")


class FullScreenTest(DisplayTestCase):

    def test_start_in_full_screen_then_window_mode_and_back(self):
        host = self.host(("send", "game_fullscrn", "false"), ("wait", "SwitchFullscreenMarker"),
                         ("send", "game_fullscrn", "false"),
                         ("send", "game_fullscrn", "true"), ("wait", "SwitchFullscreenMarker"))
        host.start()
        host.wait_command("probe_hello")
        host.wait_command("probe_done", timeout=60)
        markers = [a for n, a in host.acks() if n == "SwitchFullscreenMarker"]
        # Start, window mode, full screen again; the repeated request changed nothing.
        self.assertEqual(markers, ["true", "false", "true"])
        self.assert_full_screen(host)

    def test_window_mode_shows_the_whole_stage_with_its_title_bar(self):
        host = self.host(("send", "game_fullscrn", "false"), ("wait", "SwitchFullscreenMarker"))
        host.start()
        host.wait_command("probe_done", timeout=60)
        wait_for(lambda: self.display.screen_size() == self.size, 10, what="the desktop mode")
        wid = host.window()
        self.assertTrue(self.decorated(wid))
        x, y, w, h = host.window_geometry(wid)
        self.assertEqual((w, h), (800, 600))
        self.assertGreater(y, 0, "the title bar is off the screen")
        self.assertEqual(self.display.screensaver_timeout(), DESKTOP_TIMEOUT)

    def test_quit_gives_the_desktop_back(self):
        host = self.host(("send", "quit"))
        proc = host.start()
        self.assertEqual(proc.wait(60), 0)
        self.assert_desktop_back()
        # The trace has the command that ended the program.
        self.assertEqual([c["arg"] for c in host.received("quit")], [""])

    def test_kill_gives_the_desktop_back_within_a_second(self):
        for how in (signal.SIGKILL, signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=how.name):
                host = self.host()
                proc = host.start()
                host.wait_ready()
                self.assert_full_screen(host)
                os.kill(proc.pid, how)
                proc.wait(10)
                self.assert_desktop_back(timeout=1.0)
                host.cleanup()

    def test_a_start_after_an_unclean_end_finds_a_sane_desktop(self):
        host = self.host()
        proc = host.start()
        host.wait_ready()
        self.assert_full_screen(host)
        # The host and its guardian die together: nothing gives the desktop back at once.
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait(10)
        time.sleep(0.5)
        second = host.start()
        # The next start repairs, then enters full screen again from the real desktop.
        wait_for(lambda: len(host.commands("probe_hello")) >= 2, 60, what="the second start")
        wait_for(lambda: len([a for n, a in host.acks() if n == "SwitchFullscreenMarker"]) >= 2, 30,
                 what="full screen again")
        os.kill(second.pid, signal.SIGTERM)
        second.wait(10)
        self.assert_desktop_back()


class SmallDesktopTest(DisplayTestCase):

    size = (800, 600)

    def test_window_mode_is_refused_with_a_message(self):
        host = self.host(("send", "game_fullscrn", "false"))
        proc = host.start()
        host.wait_ready()
        box = wait_for(self.display.dialogs, 20, what="the refusal message")
        self.assertIn("Your current screen resolution does not support windowed mode gameplay.",
                      host.stderr_of(host.proc))
        self.display.run("xdotool", "windowactivate", "--sync", str(box[0]))
        self.display.run("xdotool", "key", "Return")
        wait_for(lambda: [a for n, a in host.acks() if n == "SwitchFullscreenMarker"] == ["true", "true"],
                 20, what="the movie told 'true' again")


class TallDesktopTest(DisplayTestCase):

    size = (1080, 1920)

    def test_a_wide_enough_portrait_desktop_is_never_switched(self):
        host = self.host(("send", "game_fullscrn", "true"), ("send", "GetPlayerList"),
                         ("wait", "PlayerLoadComplete"))
        host.start()
        host.wait_command("probe_done", timeout=60)
        self.assertEqual(self.display.screen_size(), self.size)
        self.assertEqual([a for n, a in host.acks() if n == "SwitchFullscreenMarker"], [])
        self.assertTrue(self.decorated(host.window()))


class PortraitDesktopTest(DisplayTestCase):

    size = (600, 800)

    def test_a_narrow_portrait_desktop_is_refused(self):
        host = self.host()
        proc = host.start()
        box = wait_for(lambda: self.display.windows("^Resolution Issue$"), 30, what="the message")
        self.assertIn("This game does not support portrait mode resolutions.", host.stderr_of(proc))
        self.display.run("xdotool", "windowactivate", "--sync", str(box[0]))
        self.display.run("xdotool", "key", "Return")
        self.assertEqual(proc.wait(10), 0)
        self.assertEqual(host.commands(), [])
        self.assertEqual(self.display.screen_size(), self.size)


if __name__ == "__main__":
    unittest.main()
