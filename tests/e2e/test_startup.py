"""Start-up, the single-copy rule, the close request and the movie round trip, on the real
executable with Ruffle."""

import os
import time
import unittest

from harness import HostTestCase, probe_script, wait_for


class StartupTest(HostTestCase):

    def test_commands_reach_the_host_and_calls_reach_the_movie(self):
        # A markup argument with CR LF, quotes, a backslash and non-Latin letters.
        text = "<a href=\"x\">&amp;</a>\r\nÄ ✓ \"quoted\" \\ back"
        host = self.make_host(
            config=probe_script(("send", "ReadHighScores"), ("wait", "HSReadComplete")),
            files={"hs.dat": text + "\r\n"})
        proc = host.start({"LANTERNFALL_PAGE_LOG": "1"})
        host.wait_ready()
        # The probe's command reached the host, the host's answer reached the probe's
        # function unchanged, and the probe acknowledged it with a command of its own.
        host.wait_ack("HSReadComplete", text + "\r\n")
        call = wait_for(lambda: host.calls("HSReadComplete"), what="the traced call")[0]
        self.assertEqual(call["arg"], text + "\r\n")
        self.assertEqual(call["outcome"], "ok")
        self.assertEqual(host.commands("ReadHighScores")[0]["outcome"], "ok")
        # Ruffle loaded its wasm and the movie with fetch(): through the scheme itself from
        # Qt 6.6 on, before that through the page's XMLHttpRequest shim, which says so.
        qt = tuple(int(n) for n in os.environ["LF_QT_VERSION"].split(".")[:2])
        shimmed = "fetch() for lanternfall: goes through XMLHttpRequest" in host.stderr_of(proc)
        self.assertEqual(shimmed, qt < (6, 6), "the fetch shim on Qt %d.%d" % qt)

    def test_software_opengl_stays_out_of_the_host_process(self):
        # Xvfb offers only Mesa's software renderer: the host finds that out in a child
        # process and plays through the software path, so the driver (with LLVM, about
        # 15 MiB) is never loaded into the host itself.
        host = self.make_host()
        proc = host.start()
        host.wait_ready()
        with open("/proc/%d/maps" % proc.pid) as f:
            drivers = {line.split()[-1] for line in f
                       if any(name in line for name in ("_dri.so", "libLLVM", "libgallium"))}
        self.assertEqual(drivers, set())
        self.assertIsNone(proc.poll())

    def test_close_button_asks_the_movie_and_the_window_stays(self):
        host = self.make_host()
        host.start()
        host.wait_ready()
        wid = host.window()
        self.display.run("xdotool", "windowactivate", "--sync", str(wid))
        self.display.run("xdotool", "key", "--clearmodifiers", "alt+F4")
        host.wait_ack("CloseRequested", "")
        call = wait_for(lambda: host.calls("CloseRequested"), what="the traced call")[0]
        self.assertEqual(call["arg"], "")
        time.sleep(0.5)
        self.assertIsNone(host.proc.poll(), "the host ended on a close request")
        self.assertIn("IsViewable", self.display.run("xwininfo", "-id", str(wid)))
        self.assertEqual([c for c in host.commands() if c["outcome"] != "ok"], [])

    def test_second_copy_ends_at_once_without_a_window(self):
        host = self.make_host()
        first = host.start()
        host.wait_ready()
        windows = self.display.windows("^Lanternfall$")
        started = time.monotonic()
        second = host.start()
        code = second.wait(10)
        elapsed = time.monotonic() - started
        self.assertEqual(code, 0)
        self.assertLess(elapsed, 1.0, "the second copy took %.2f s to end" % elapsed)
        self.assertEqual(self.display.windows("^Lanternfall$"), windows)
        self.assertIsNone(first.poll())
        # Only the first copy's movie ever ran.
        self.assertEqual(len(host.commands("probe_hello")), 1)

    def test_missing_movie_is_reported_with_its_path(self):
        host = self.make_host(movie=None)
        proc = host.start()
        movie = os.path.join(host.program, "morrow.swf")
        wait_for(lambda: movie in host.stderr_of(proc), 20, what="the message naming the movie")
        # The message box is shown; closing it ends the program.
        box = wait_for(lambda: self.display.windows("Lanternfall"), 20, what="the message box")
        self.display.run("xdotool", "windowactivate", "--sync", str(box[0]))
        self.display.run("xdotool", "key", "Return")
        self.assertEqual(proc.wait(10), 1)
        self.assertEqual(host.trace(), [])

    def test_missing_link_info_does_not_stop_the_host(self):
        host = self.make_host(link_info=None)
        proc = host.start()
        host.wait_ready()
        self.assertIn("link-info", host.stderr_of(proc))
        self.assertIsNone(proc.poll())


if __name__ == "__main__":
    unittest.main()
