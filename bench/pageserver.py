"""The page server for Chromium: serves the bench page, Ruffle's files and a movie on
127.0.0.1 and records the time each fscommand the page posts arrives."""

import http.server
import json
import os
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))

MIME = {
    ".html": "text/html; charset=utf-8",
    ".js": "text/javascript",
    ".wasm": "application/wasm",
    ".swf": "application/x-shockwave-flash",
    ".json": "application/json",
}


class PageServer:
    """Serves the bench page, Ruffle's files and the movie on 127.0.0.1 and records the time
    each posted fscommand arrives. `movie` may be changed between launches; with
    `cacheable` the files go out as a web server would send static files (the browser may
    keep them, and its code cache with them), otherwise with "no-store"."""

    def __init__(self, ruffle_dir, movie):
        self.ruffle_dir, self.movie = ruffle_dir, movie
        self.cacheable = False
        self.lock = threading.Lock()
        self.events = []
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                path = self.path.split("?")[0]
                if path in ("/", "/index.html"):
                    file = os.path.join(HERE, "chromium", "index.html")
                elif path == "/page.js":
                    file = os.path.join(HERE, "chromium", "page.js")
                elif path in ("/movie.swf", "/" + os.path.basename(server.movie)):
                    file = server.movie
                elif path.startswith("/ruffle/") and "/" not in path[8:] and path[8:] not in ("", ".", ".."):
                    file = os.path.join(server.ruffle_dir, path[8:])
                else:
                    file = None
                if not file or not os.path.isfile(file):
                    self.send_error(404)
                    return
                with open(file, "rb") as f:
                    body = f.read()
                self.send_response(200)
                self.send_header("Content-Type", MIME.get(os.path.splitext(file)[1], "application/octet-stream"))
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "max-age=86400" if server.cacheable else "no-store")
                self.end_headers()
                self.wfile.write(body)

            def do_POST(self):
                arrived = time.time()
                length = int(self.headers.get("Content-Length", "0"))
                body = self.rfile.read(length)
                try:
                    data = json.loads(body or b"{}")
                except ValueError:
                    data = {"raw": body.decode("utf-8", "replace")}
                with server.lock:
                    server.events.append((arrived, self.path, data))
                self.send_response(204)
                self.send_header("Content-Length", "0")
                self.end_headers()

        class Server(http.server.ThreadingHTTPServer):
            def handle_error(self, request, client_address):
                # Chromium ended while a request was open (each launch ends with a kill):
                # expected, nothing to print. Anything else still shows.
                if not isinstance(sys.exc_info()[1], ConnectionError):
                    super().handle_error(request, client_address)

        self.httpd = Server(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.url = "http://127.0.0.1:%d/index.html" % self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def clear(self):
        with self.lock:
            self.events = []

    def first(self, path):
        with self.lock:
            for event in self.events:
                if event[1] == path:
                    return event
        return None

    def command(self, name):
        """The first posted fscommand of that name: (time, path, data), or None."""
        with self.lock:
            for event in self.events:
                if event[1] == "/fscommand" and event[2].get("command") == name:
                    return event
        return None

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()
