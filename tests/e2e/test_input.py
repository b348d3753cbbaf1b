"""Input, focus, the screen saver, the keep-awake keys and links, with real X input
(xdotool through XTest) on the real executable and a test movie that reports what it
receives."""

import os
import unittest

from harness import HostTestCase, probe_script, wait_for


class InputTest(HostTestCase):

    def start_host(self, **kwargs):
        host = self.make_host(**kwargs)
        host.start()
        host.wait_ready()
        wid = host.window()
        self.display.run("xdotool", "windowactivate", "--sync", str(wid))
        # The player's input window has the focus once a left click reached the movie.
        self.display.run("xdotool", "mousemove", "--window", str(wid), "400", "300", "click", "1")
        host.wait_command("probe_mouse", "leftdown")
        return host, wid

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
        self.assertFalse([k for k in self.keys_seen(host) if k.startswith("down:") and k not in ("down:65", "down:16")],
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

    def test_switching_to_another_application_and_back(self):
        host, wid = self.start_host()
        other = self.display.spawn(["xmessage", "-name", "other", "other application"])
        other_wid = wait_for(lambda: self.display.windows("^other$"), what="the other window")[0]
        self.display.run("xdotool", "windowactivate", "--sync", str(other_wid))
        host.wait_ack("notifyGame", "lostFocus")
        self.display.run("xdotool", "windowactivate", "--sync", str(wid))
        host.wait_ack("notifyGame", "gainedFocus", count=2)
        other.kill()

    def test_keep_awake_keys_while_active_only(self):
        host, wid = self.start_host()
        # Within the timer's period a space and a Backspace arrive.
        host.wait_command("probe_key", "down:32", timeout=15)
        host.wait_command("probe_key", "down:8", timeout=5)

    def test_strategy_guide_opens_in_the_browser(self):
        host = self.make_host(config=probe_script(("send", "StrategyGuideClick"),
                                                  ("send", "StrategyGuideClick")))
        fake = os.path.join(host.root, "fakebin")
        os.makedirs(fake)
        log = os.path.join(host.root, "xdg-open.log")
        script = os.path.join(fake, "xdg-open")
        with open(script, "w") as f:
            f.write("#!/bin/sh\necho \"$@\" >> %s\n" % log)
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
