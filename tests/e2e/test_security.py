"""The page's boundaries: neither the movie's links nor scripts in its page take the player
away from the app's own scheme. Web addresses go to the user's browser (a fake xdg-open
that logs what it is given), exactly as written; local files and script links are opened
nowhere; no request reaches a web server on this machine; the page goes on with the movie."""

import http.server
import os
import threading
import unittest

from harness import TEST_MOVIES, HostTestCase, probe_script

NAVIGATOR = os.path.join(TEST_MOVIES, "navigator.swf")


class Server(http.server.ThreadingHTTPServer):
    """A web server on 127.0.0.1 that records every request it gets."""

    def __init__(self):
        self.paths = []
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                outer.paths.append(self.path)
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.end_headers()
                self.wfile.write(b"<html><body>outside</body></html>")

            do_POST = do_GET

            def log_message(self, *args):
                pass

        super().__init__(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def url(self, path):
        return "http://127.0.0.1:%d/%s" % (self.server_address[1], path)


class PageBoundaryTest(HostTestCase):

    def setUp(self):
        self.server = Server()
        self.addCleanup(self.server.server_close)
        self.addCleanup(self.server.shutdown)

    def run_movie(self, *lines):
        """Runs the navigator movie through these script lines, one every half second (a
        newer navigation would cancel one not yet decided), then a command and its answer.
        Returns the host and what the browser was asked to open."""
        script = []
        for line in lines:
            script += [line, ("sleep", "500")]
        script += [("send", "ReadHighScores"), ("wait", "HSReadComplete")]
        host = self.make_host(movie=NAVIGATOR, config=probe_script(*script))
        fake = os.path.join(host.root, "fakebin")
        os.makedirs(fake)
        log = os.path.join(host.root, "xdg-open.log")
        with open(os.path.join(fake, "xdg-open"), "w") as f:
            f.write("#!/bin/sh\nprintf '%%s\\n' \"$*\" >> %s\n" % log)
        os.chmod(os.path.join(fake, "xdg-open"), 0o755)
        proc = host.start(extra_env={"PATH": fake + ":" + os.environ["PATH"]})
        def opened():
            with open(log) if os.path.exists(log) else open(os.devnull) as f:
                return f.read().splitlines()
        host.wait_ready()
        # The page stayed: every line ran, and the host's answer reached the same movie.
        try:
            host.wait_command("probe_done", timeout=30)
        except AssertionError as e:
            self.fail("the movie stopped after line %s (%s); the server got %s, the browser %s" % (
                [c["arg"] for c in host.commands("probe_step")][-1:], e, self.server.paths, opened()))
        self.assertEqual([c["arg"] for c in host.commands("probe_step")],
                         [str(2 * i + 1) for i in range(len(lines))])
        self.assertEqual(len(host.commands("probe_hello")), 1, "the page was loaded again")
        self.assertEqual(host.commands("probe_error"), [])
        self.assertIsNone(proc.poll())
        self.assertEqual(self.server.paths, [], "a request left the page")
        return host, opened()

    def test_movie_links_open_in_the_browser_only(self):
        s = self.server
        host, opened = self.run_movie(
            ("navigate", s.url("self"), "_self"),
            ("navigate", s.url("blank"), "_blank"),
            ("navigate", s.url("top?a=1"), "_top"),
            ("navigate", "file:///etc/passwd", "_self"),
            ("navigate", "file:///etc/passwd", "_blank"),
            ("navigate", "javascript:void(0)", "_self"),
            ("navigate", "javascript:void(0)", "_blank"),
            ("navigate", "lanternfall://app/index.html", "_self"),
        )
        self.assertEqual(opened, [s.url("self"), s.url("blank"), s.url("top?a=1")])

    def test_page_scripts_cannot_leave_the_app_scheme(self):
        s = self.server
        host, opened = self.run_movie(
            ("js", "location.href = '%s';" % s.url("location")),
            ("js", "window.open('%s');" % s.url("window")),
            ("js", "location.href = 'file:///etc/passwd';"),
            ("js", "window.open('file:///etc/passwd');"),
            ("js", "location.href = 'lanternfall://app/index.html';"),
            ("js", "const f = document.createElement('iframe'); f.src = '%s';"
                   "document.body.appendChild(f);" % s.url("frame")),
            ("js", "return location.href;"),
        )
        self.assertEqual(opened, [s.url("location"), s.url("window")])
        self.assertEqual(host.commands("probe_js")[-1]["arg"], "lanternfall://app/index.html")


if __name__ == "__main__":
    unittest.main()
