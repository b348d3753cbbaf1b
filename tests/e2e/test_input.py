"""Input, focus, the screen saver, the keep-awake keys and links, with real X input
(xdotool through XTest) on the real executable and a test movie that reports what it
receives."""

import os
import subprocess
import tempfile
import time
import unittest

from harness import HostTestCase, idle_ms, probe_script, wait_for


class KeyRecorder:
    """Another application: xev with a window of its own, named "keys", recording the key
    presses it receives."""

    def __init__(self, display):
        self.log = tempfile.NamedTemporaryFile("w+", prefix="lf-keys-")
        self.proc = subprocess.Popen(["xev", "-event", "keyboard", "-name", "keys"],
                                     env=display.env, stdout=self.log, stderr=subprocess.DEVNULL,
                                     start_new_session=True)
        self.wid = int(wait_for(lambda: display.run("xdotool", "search", "--onlyvisible",
                                                    "--name", "^keys$").split(),
                                10, what="the other application")[0])

    def presses(self):
        self.log.seek(0)
        return [line for line in self.log.read().splitlines() if line.startswith("KeyPress")]

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(5)
        self.log.close()


class InputTest(HostTestCase):

    def start_host(self, click=True, **kwargs):
        host = self.make_host(**kwargs)
        host.start()
        host.wait_ready()
        wid = host.window()
        if click:
            self.focus_player(host, wid)
        return host, wid

    def focus_player(self, host, wid):
        self.display.run("xdotool", "windowactivate", "--sync", str(wid))
        # The player's input window has the focus once a left click reached the movie.
        downs = len([c for c in host.commands("probe_mouse") if c["arg"] == "leftdown"])
        self.display.run("xdotool", "mousemove", "--window", str(wid), "400", "300", "click", "1")
        host.wait_command("probe_mouse", "leftdown", count=downs + 1)

    def keys_seen(self, host):
        return [c["arg"] for c in host.commands("probe_key")]

    def test_right_button_and_menu_key_never_reach_the_player(self):
        host, wid = self.start_host()
        before = self.display.windows(".")
        self.display.run("xdotool", "click", "3")
        self.display.run("xdotool", "keydown", "shift", "click", "3", "keyup", "shift")
        self.display.run("xdotool", "key", "Menu")
        # A key that is passed on marks the end of what the movie will see.
        self.display.run("xdotool", "key", "a")
        host.wait_command("probe_key", "up:65")
        mouse = [c["arg"] for c in host.commands("probe_mouse")]
        self.assertNotIn("rightdown", mouse)
        self.assertNotIn("rightup", mouse)
        # Besides "a" and Shift, only the keep-awake keys (space, Backspace) may have come.
        self.assertFalse([k for k in self.keys_seen(host) if k.startswith("down:")
                          and k not in ("down:65", "down:16", "down:32", "down:8")],
                         self.keys_seen(host))
        # No menu of the view or of the player opened.
        self.assertEqual(self.display.windows("."), before)

    def test_ctrl_never_reaches_the_player_and_ctrl_enter_toggles(self):
        host, wid = self.start_host()
        markers = len(host.calls("SwitchFullscreenMarker"))
        self.display.run("xdotool", "key", "ctrl+Return")
        wait_for(lambda: len(host.calls("SwitchFullscreenMarker")) > markers, what="a mode switch")
        self.assertEqual(host.calls("SwitchFullscreenMarker")[-1]["arg"], "false")
        host.wait_command("probe_key", "down:13")
        self.assertFalse([k for k in self.keys_seen(host) if k.endswith(":17")])

    def markers(self, host):
        return [a for n, a in host.acks() if n == "SwitchFullscreenMarker"]

    def test_switching_away_from_full_screen_and_back(self):
        host, wid = self.start_host()
        self.assertEqual(self.display.screen_size(), (800, 600))
        entered = len(self.markers(host))
        other = KeyRecorder(self.display)
        self.addCleanup(other.close)
        self.display.run("xdotool", "windowactivate", "--sync", str(other.wid))
        host.wait_ack("notifyGame", "lostFocus")
        # The desktop gets its mode back and the game waits minimised.
        wait_for(lambda: self.display.screen_size() == (1920, 1080), 5, what="the desktop mode")
        wait_for(lambda: wid not in self.display.windows("^Lanternfall$"), 5, what="minimised")
        # No keep-awake keys while another application is active: neither the movie nor the
        # other application gets any.
        keys = len(self.keys_seen(host))
        time.sleep(11)
        self.assertEqual(len(self.keys_seen(host)), keys)
        self.assertEqual(other.presses(), [])
        self.display.run("xdotool", "windowactivate", "--sync", str(wid))
        host.wait_ack("notifyGame", "gainedFocus", count=2)
        wait_for(lambda: self.display.screen_size() == (800, 600), 10, what="full screen again")
        wait_for(lambda: len(self.markers(host)) > entered, 10, what="the marker")
        time.sleep(1)
        self.assertEqual(self.markers(host)[entered:], ["true"], "full screen entered more than once")

    def test_super_key_counts_as_a_loss_of_focus(self):
        host, wid = self.start_host()
        self.display.run("xdotool", "key", "super")
        host.wait_ack("notifyGame", "lostFocus")
        wait_for(lambda: self.display.screen_size() == (1920, 1080), 5, what="the desktop mode")
        # The minimising deactivates the application: the movie hears it a second time.
        host.wait_ack("notifyGame", "lostFocus", count=2)

    def test_stray_keys_a_failing_movie_and_a_row_of_reports(self):
        # The movie's focus function throws; its third mode marker (after two Ctrl+Enter)
        # sets off twelve failing commands in a row.
        host, wid = self.start_host(config=probe_script(
            ("throw", "notifyGame"), ("wait_count", "SwitchFullscreenMarker", "3"),
            ("flood", "12", "DeletePlayer", "nobody")))
        # Shift then Alt (Meta_L on the standard keymap) is no Windows key; Ctrl+Return held
        # down switches once while the keys repeat.
        self.display.run("xdotool", "keydown", "shift", "keydown", "alt", "keyup", "alt",
                         "keyup", "shift", "keydown", "ctrl", "keydown", "Return", "sleep", "1",
                         "keyup", "Return", "keyup", "ctrl", "key", "a")
        host.wait_command("probe_key", "up:65")
        self.assertNotIn("lostFocus", [c["arg"] for c in host.calls("notifyGame")])
        self.assertGreater(self.keys_seen(host).count("down:13"), 2, "no key repeat")
        self.assertEqual(self.markers(host)[1:], ["false"])
        # Back to full screen: twelve failures, one box counting them.
        self.display.run("xdotool", "key", "ctrl+Return")
        wait_for(lambda: len(host.commands("DeletePlayer")) == 12, what="the failing commands")
        self.assertEqual(len(wait_for(self.display.dialogs, 10, what="the report")), 1)
        # Another application: the failing "lostFocus" still gives the desktop back and
        # minimises the game, with one report; coming back adds none.
        other = KeyRecorder(self.display)
        self.addCleanup(other.close)
        self.display.run("xdotool", "windowactivate", "--sync", str(other.wid))
        wait_for(lambda: self.display.screen_size() == (1920, 1080), 5, what="the desktop mode")
        wait_for(lambda: wid not in self.display.windows("^Lanternfall$"), 5, what="minimised")
        wait_for(lambda: len(self.display.dialogs()) == 2, 10, what="the focus call's report")
        self.display.run("xdotool", "windowactivate", "--sync", str(wid))
        wait_for(lambda: self.display.screen_size() == (800, 600), 10, what="full screen again")
        self.assertEqual(len(self.display.dialogs()), 2)

    def test_keep_awake_keys_reset_the_idle_time(self):
        host, wid = self.start_host()
        # In step with the timer (a slow start may already have seen a tick): after one
        # space and Backspace the server's idle time grows for 10 s, and the next pair starts
        # it again.
        spaces = self.keys_seen(host).count("down:32")
        host.wait_command("probe_key", "down:32", count=spaces + 1, timeout=15)
        time.sleep(3)
        self.assertGreaterEqual(idle_ms(self.display.name), 2500)
        backspaces = self.keys_seen(host).count("down:8")
        host.wait_command("probe_key", "down:32", count=spaces + 2, timeout=15)
        host.wait_command("probe_key", "down:8", count=backspaces + 1, timeout=5)
        self.assertLess(idle_ms(self.display.name), 2500)
        # Taking the keyboard for the keys is no loss of focus for the game.
        time.sleep(1)
        self.assertNotIn(("notifyGame", "lostFocus"), host.acks())

    def test_keep_awake_keys_never_go_to_a_report_of_ours(self):
        # A failing command leaves a report on the screen, and the user looks at it.
        # The report is there from the start: a click on the game would land on it.
        host, wid = self.start_host(click=False,
                                    config=probe_script(("send", "SaveLevelData", "no-separator")))
        box = wait_for(self.display.dialogs, 10, what="the report")[0]
        self.display.run("xdotool", "windowactivate", "--sync", str(box))
        keys = len(self.keys_seen(host))
        time.sleep(11)
        # A space would have pressed its button: the report is still there to be read.
        self.assertEqual(self.display.dialogs(), [box])
        self.assertEqual(self.keys_seen(host)[keys:], [])
        # Read and closed, the game is the active window again and gets its keys.
        self.display.run("xdotool", "key", "Return")
        wait_for(lambda: not self.display.dialogs(), 5, what="the report closed")
        self.focus_player(host, wid)
        spaces = self.keys_seen(host).count("down:32")
        host.wait_command("probe_key", "down:32", count=spaces + 1, timeout=15)

    def test_f12_takes_a_screenshot_and_still_reaches_the_movie(self):
        host, wid = self.start_host()
        self.display.run("xdotool", "key", "F12")
        host.wait_command("probe_key", "down:123")
        wait_for(lambda: "screenshot saved to" in host.stderr_of(host.proc), 10, what="the note")

    def test_strategy_guide_opens_in_the_browser(self):
        host = self.make_host(config=probe_script(("send", "StrategyGuideClick"),
                                                  ("send", "StrategyGuideClick")))
        fake = os.path.join(host.root, "fakebin")
        os.makedirs(fake)
        log = os.path.join(host.root, "xdg-open.log")
        script = os.path.join(fake, "xdg-open")
        # The browser runs with the environment the host was started with, not what the
        # host set for itself and the web engine (a leak would show after the address).
        own = ("MALLOC_MMAP_THRESHOLD_", "QT_QPA_PLATFORM", "QT_QUICK_BACKEND",
               "QT_XCB_GL_INTEGRATION", "QTWEBENGINE_CHROMIUM_FLAGS")
        with open(script, "w") as f:
            f.write("#!/bin/sh\necho \"$@%s\" >> %s\n" % ("".join("$" + v for v in own), log))
        os.chmod(script, 0o755)
        host.start(extra_env={"PATH": fake + ":" + os.environ["PATH"]})
        host.wait_ready()
        def logged():
            if not os.path.exists(log):
                return []
            with open(log) as f:
                return f.read().splitlines()
        wait_for(lambda: len(logged()) >= 2, what="two calls of xdg-open")
        self.assertEqual(logged(), ["http://example.org/guide"] * 2)


if __name__ == "__main__":
    unittest.main()
