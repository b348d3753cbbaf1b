"""The desktop's own screen saver held off through the session bus while the game plays in
full screen: the real host on a private dbus-daemon, with a service that owns
org.freedesktop.ScreenSaver and is asked through the bus what it holds."""

import os
import re
import signal
import subprocess

from harness import HostTestCase, probe_script, wait_for

SERVICE = os.environ.get("LF_TEST_SERVICE", os.path.join(
    os.path.dirname(__file__), "../../build/tests/lf_screensaver_service"))
DESKTOP_TIMEOUT = 300
REASON = "Playing in full screen"


class InhibitTest(HostTestCase):

    def setUp(self):
        self.display.run("xset", "s", str(DESKTOP_TIMEOUT), check=True)

    def start_service(self):
        service = subprocess.Popen([SERVICE], env=self.display.env, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True, start_new_session=True)

        def stop():
            service.kill()
            service.wait(5)
            service.stdout.close()
        self.addCleanup(stop)
        self.assertEqual(service.stdout.readline().strip(), "ready")

    def ask(self, method):
        out = self.display.run("dbus-send", "--session", "--print-reply",
                               "--dest=org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                               "io.github.lanternfall.Test." + method)
        return re.findall(r'string "(.*)"', out)

    def inhibitors(self):
        return [tuple(entry.split("|")) for entry in self.ask("Inhibitors")]

    def wait_inhibitors(self, expected, what):
        wait_for(lambda: self.inhibitors() == expected, 10, what=what)

    def test_held_in_full_screen_only_and_gone_however_the_host_ends(self):
        self.start_service()
        host = self.make_host(config=probe_script(("wait", "CloseRequested"), ("send", "quit")))
        proc = host.start()
        host.wait_ready()
        held = [("1", "Lanternfall", REASON, str(proc.pid))]
        self.wait_inhibitors(held, "the inhibit at start-up")
        self.assertEqual(self.display.screensaver_timeout(), 0)
        wid = host.window()
        self.display.run("xdotool", "windowactivate", "--sync", str(wid))
        self.display.run("xdotool", "mousemove", "--window", str(wid), "400", "300", "click", "1")
        host.wait_command("probe_mouse", "leftdown")

        self.display.run("xdotool", "key", "ctrl+Return")
        host.wait_ack("SwitchFullscreenMarker", "false")
        self.wait_inhibitors([], "the inhibit given back in window mode")
        self.display.run("xdotool", "key", "ctrl+Return")
        host.wait_ack("SwitchFullscreenMarker", "true", count=2)
        self.wait_inhibitors([("2",) + held[0][1:]], "the inhibit in full screen again")

        # Away to another application: the desktop may blank while the game waits minimised.
        other = self.display.spawn(["xmessage", "-name", "other", "other application"])
        other_wid = wait_for(lambda: self.display.windows("^other$"), what="the other window")[0]
        self.display.run("xdotool", "windowactivate", "--sync", str(other_wid))
        host.wait_ack("notifyGame", "lostFocus")
        self.wait_inhibitors([], "the inhibit given back on focus loss")
        self.assertEqual(self.display.screensaver_timeout(), DESKTOP_TIMEOUT)
        self.display.run("xdotool", "windowactivate", "--sync", str(wid))
        host.wait_ack("notifyGame", "gainedFocus", count=2)
        self.wait_inhibitors([("3",) + held[0][1:]], "the inhibit after the return")
        wait_for(lambda: self.display.screensaver_timeout() == 0, 10, what="the X screen saver off")
        other.kill()

        # The close request makes the probe send "quit".
        self.display.run("xdotool", "windowactivate", "--sync", str(wid))
        self.display.run("xdotool", "key", "--clearmodifiers", "alt+F4")
        self.assertEqual(proc.wait(30), 0)
        self.assertEqual(self.inhibitors(), [])
        self.assertEqual(self.display.screensaver_timeout(), DESKTOP_TIMEOUT)
        # The host gave every inhibit back itself, "quit" included.
        inhibit = "Inhibit Lanternfall|%s = " % REASON
        self.assertEqual(self.ask("Calls"), [inhibit + "1", "UnInhibit 1", inhibit + "2",
                                             "UnInhibit 2", inhibit + "3", "UnInhibit 3"])

        # Killed outright, the host leaves nothing behind: the inhibit goes with its bus
        # connection.
        second = self.make_host()
        proc = second.start()
        second.wait_ready()
        self.wait_inhibitors([("4", "Lanternfall", REASON, str(proc.pid))], "the second host's")
        os.kill(proc.pid, signal.SIGKILL)
        self.wait_inhibitors([], "the inhibit gone with the killed host")
        self.assertEqual(self.ask("Calls")[-1], "Dropped 4")

    def test_without_the_service_the_game_goes_on_with_one_note(self):
        host = self.make_host(config=probe_script(
            ("send", "game_fullscrn", "false"), ("wait", "SwitchFullscreenMarker"),
            ("send", "game_fullscrn", "true"), ("wait", "SwitchFullscreenMarker")))
        proc = host.start()
        host.wait_command("probe_done", timeout=60)
        notes = lambda: [line for line in host.stderr_of(proc).splitlines()
                         if "screen saver is not held off" in line]
        wait_for(notes, 10, what="the note on stderr")
        # Two entries into full screen, one note, no message box; the X screen saver as ever.
        self.assertEqual(len(notes()), 1, host.stderr_of(proc))
        self.assertIn("ServiceUnknown", notes()[0])
        self.assertEqual(self.display.dialogs(), [])
        self.assertEqual(self.display.screensaver_timeout(), 0)
        self.assertEqual([c for c in host.commands() if c["outcome"] != "ok"], [])

    def test_a_desktop_whose_idle_service_set_the_x_timeout_to_0_is_held_off_too(self):
        # GNOME's and XFCE's idle services leave the X screen saver off and blank by
        # themselves: the inhibit follows the modes; the X timeout stays as the user had it.
        self.display.run("xset", "s", "off", check=True)
        self.start_service()
        host = self.make_host(config=probe_script(
            ("send", "game_fullscrn", "false"), ("wait", "SwitchFullscreenMarker")))
        proc = host.start()
        host.wait_ready()
        host.wait_command("probe_done", timeout=60)
        self.wait_inhibitors([], "the inhibit given back in window mode")
        self.assertEqual(self.ask("Calls"), ["Inhibit Lanternfall|%s = 1" % REASON, "UnInhibit 1"])
        self.assertEqual(self.display.screensaver_timeout(), 0)
        self.assertNotIn("not held off", host.stderr_of(proc))
