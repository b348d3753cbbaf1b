"""Movies as real ones come: functions registered late (a preloader, several classes) or
never, and files the player cannot play. Calls wait for the function they name, in order;
a movie that cannot start gets the host's own message, and the desktop is given back."""

import datetime
import os
import shutil
import unittest

from harness import TEST_MOVIES, HostTestCase, probe_script, wait_for

DESKTOP = (1920, 1080)


def seconds_between(earlier, later):
    """Seconds from one trace line to another."""
    parse = lambda line: datetime.datetime.fromisoformat(line["time"].replace("Z", "+00:00"))
    return (parse(later) - parse(earlier)).total_seconds()


class LateFunctionsTest(HostTestCase):

    def start(self, movie, *script):
        host = self.make_host(movie=os.path.join(TEST_MOVIES, movie),
                              config=probe_script(*script) if script else None)
        proc = host.start()
        return host, proc

    def assert_delivered_in_order(self, host):
        """Every call the host made reached the movie once, in the order it was made, and
        start-up's marker, the first call made, came first."""
        calls = [(c["name"], c["arg"]) for c in host.calls()]
        self.assertEqual([c for c in host.calls() if c["outcome"] != "ok"], [])
        wait_for(lambda: len(host.acks()) >= len(calls), what="the movie's acknowledgements")
        self.assertEqual(host.acks()[:len(calls)], calls)
        self.assertEqual(calls[0], ("SwitchFullscreenMarker", "true"))
        self.assertIn("ConfigDataReadComplete", [name for name, _ in calls])

    def test_functions_registered_seconds_after_loading(self):
        host, proc = self.start("probe-late.swf")
        host.wait_ack("ConfigDataReadComplete", timeout=60)
        # The movie registered its functions (and said so before the host could learn it),
        # and nothing reached it before.
        registered = host.received("probe_registered")
        self.assertEqual(len(registered), 7)
        self.assertGreaterEqual(seconds_between(registered[-1], host.calls()[0]), 0)
        self.assert_delivered_in_order(host)
        self.assertEqual(self.display.dialogs(), [])
        self.assertEqual(host.reports(proc), [])

    def test_functions_registered_over_several_frames(self):
        # The marker is registered after the functions of calls behind it: they wait.
        host, proc = self.start("probe-frames.swf", ("send", "ReadHighScores"),
                                ("wait", "HSReadComplete"))
        host.wait_command("probe_done", timeout=60)
        order = [r["arg"] for r in host.received("probe_registered")]
        self.assertLess(order.index("ConfigDataReadComplete"), order.index("SwitchFullscreenMarker"))
        self.assert_delivered_in_order(host)
        self.assertEqual(self.display.dialogs(), [])
        self.assertEqual(host.reports(proc), [])

    def test_a_function_never_registered_fails_once_after_the_bound(self):
        host, proc = self.start("probe-never.swf", ("send", "game_fullscrn", "false"),
                                ("send", "ReadHighScores"), ("wait", "HSReadComplete"))
        hello = wait_for(lambda: host.received("probe_hello"), 60, what="the movie")[0]
        failed = wait_for(lambda: host.calls("SwitchFullscreenMarker"), 60,
                          what="the marker's failure")[0]
        self.assertIn('registered no function "SwitchFullscreenMarker"', failed["outcome"])
        self.assertGreater(seconds_between(hello, failed), 25, "the call failed before the bound")
        # The calls behind it went on at once, in order; the script's own marker call (on
        # the switch to window mode) then failed at once, without a second wait.
        host.wait_command("probe_done", timeout=30)
        names = [c["name"] for c in host.calls() if c["name"] != "notifyGame"]
        self.assertEqual(names, ["SwitchFullscreenMarker", "ConfigDataReadComplete",
                                 "SwitchFullscreenMarker", "HSReadComplete"])
        second = host.calls("SwitchFullscreenMarker")[1]
        self.assertNotEqual(second["outcome"], "ok")
        self.assertLess(seconds_between(host.received("game_fullscrn")[0], second), 5)
        # Exactly one report, naming the function.
        reports = host.reports(proc)
        self.assertEqual(len(reports), 1, reports)
        self.assertIn("SwitchFullscreenMarker", reports[0])
        self.assertEqual(len(wait_for(lambda: self.display.dialogs(), what="the report's box")), 1)
        self.assertIsNone(proc.poll())


class UnplayableMovieTest(HostTestCase):
    """Each file the player cannot play: the host's message naming the file and the reason,
    the desktop's mode and screen saver back while it shows, the end after it, and no file
    written."""

    def setUp(self):
        self.display.run("xset", "s", "300", check=True)

    def expect_message(self, host, *parts):
        proc = host.start()
        box = wait_for(lambda: self.display.dialogs(), 90, what="the message box")
        stderr = host.stderr_of(proc)
        for part in parts:
            self.assertIn(part, stderr)
        # The desktop is given back before the user reads the message, and the game's
        # window is gone.
        self.assertEqual(self.display.screen_size(), DESKTOP)
        self.assertEqual(self.display.screensaver_timeout(), 300)
        self.assertEqual([w for w in self.display.windows("^Lanternfall$") if w not in box], [])
        self.display.run("xdotool", "windowactivate", "--sync", str(box[0]))
        self.display.run("xdotool", "key", "Return")
        self.assertEqual(proc.wait(15), 1)
        self.assertEqual(self.display.screen_size(), DESKTOP)
        self.assertEqual(os.listdir(host.save), [])
        # That message was the only one.
        told = host.reports(proc)
        self.assertEqual(len(told), 1, told)

    def movie_host(self, content):
        host = self.make_host(movie=None)
        path = os.path.join(host.program, "morrow.swf")
        if content is None:
            os.mkdir(path)
        else:
            with open(path, "wb") as f:
                f.write(content)
        return host, path

    def test_files_that_are_no_movie(self):
        with open(os.path.join(TEST_MOVIES, "probe.swf"), "rb") as f:
            probe = f.read()
        cases = {
            "random bytes": (os.urandom(5000), "does not begin the way a Flash movie does"),
            "empty": (b"", "the file is empty"),
            "truncated": (probe[:len(probe) // 2], "the file is cut off"),
            # LZMA content is only unpacked by the player, which gives up on this.
            "damaged LZMA content": (b"ZWS\x0a" + (100000).to_bytes(4, "little") +
                                     (5000).to_bytes(4, "little") + b"\x5d\x00\x00\x10\x00" +
                                     os.urandom(5000), "the player cannot read it"),
            "a folder": (None, "cannot be read"),
        }
        for label, (content, reason) in cases.items():
            with self.subTest(label):
                host, path = self.movie_host(content)
                self.expect_message(host, '"%s"' % path, reason)
                host.cleanup()

    def test_the_players_files_missing_or_unloadable(self):
        host = self.make_host()
        ruffle = os.path.join(host.program, "ruffle")
        shutil.rmtree(ruffle)
        self.expect_message(host, "the player's files are missing from %s" % ruffle)

        host = self.make_host()
        ruffle = os.path.join(host.program, "ruffle")
        for name in os.listdir(ruffle):
            if name.endswith(".wasm"):
                os.unlink(os.path.join(ruffle, name))
        self.expect_message(host, "the player's files in %s could not be loaded" % ruffle)


if __name__ == "__main__":
    unittest.main()
