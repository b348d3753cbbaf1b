"""scripts/run.sh without a display: a private Xvfb with openbox and a desktop mode with real
timings for the game, and nothing of it left once the game has ended, however it ends.
The script runs from a copy of the project in which setting up and building do nothing and
the game is a stand-in that reports what it found."""

import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from harness import wait_for

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")

# The stand-in game: what the display looks like to it, then it ends with status 3, or waits
# to be ended (a real game ends on SIGTERM like this).
GAME = """#!/bin/sh
{ echo "DISPLAY=$DISPLAY"; xrandr --current; xprop -root _NET_SUPPORTING_WM_CHECK; } >"$0.seen" 2>&1
[ "$1" = wait ] && exec sleep 300
exit 3
"""


def session_processes(sid):
    out = subprocess.run(["ps", "-eo", "pid=,sid=,args="], capture_output=True, text=True).stdout
    found = []
    for line in out.splitlines():
        pid, session, args = (line.split(None, 2) + [""])[:3]
        if int(session) == sid and int(pid) != sid:
            found.append(args)
    return found


class RunScriptTest(unittest.TestCase):

    def setUp(self):
        for tool in ("Xvfb", "openbox", "xrandr", "xprop"):
            if not shutil.which(tool):
                self.skipTest("%s is needed" % tool)
        self.root = tempfile.mkdtemp(prefix="lf-run-")
        self.addCleanup(shutil.rmtree, self.root, True)
        os.makedirs(os.path.join(self.root, "scripts"))
        os.makedirs(os.path.join(self.root, "build", "bin"))
        shutil.copy(os.path.join(ROOT, "scripts", "run.sh"), os.path.join(self.root, "scripts"))
        for name in ("setup.sh", "build.sh"):
            self.write(os.path.join("scripts", name), "#!/bin/sh\nexit 0\n")
        self.game = self.write(os.path.join("build", "bin", "lanternfall"), GAME)

    def write(self, name, text):
        path = os.path.join(self.root, name)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, 0o755)
        return path

    def run_script(self, *args):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        proc = subprocess.Popen([os.path.join(self.root, "scripts", "run.sh"), *args], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                start_new_session=True)
        self.addCleanup(self.kill_session, proc)
        return proc

    def kill_session(self, proc):
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait(10)

    def assert_nothing_left(self, proc):
        wait_for(lambda: not session_processes(proc.pid), 10,
                 what="Xvfb and openbox to end (left: %s)" % session_processes(proc.pid))

    def test_the_game_gets_a_real_desktop_and_nothing_outlives_it(self):
        proc = self.run_script()
        out, _ = proc.communicate(timeout=60)
        self.assertEqual(proc.returncode, 3, out)
        self.assert_nothing_left(proc)
        with open(self.game + ".seen") as f:
            seen = f.read()
        number = seen.split("DISPLAY=:")[1].split()[0]
        self.assertIn("private Xvfb :%s" % number, out)
        # The desktop's mode has real timings (about 60 Hz, not a stock 0 Hz), so the game
        # switches the display to 800x600 as on a real screen; a window manager runs.
        current = [line for line in seen.splitlines() if "*" in line]
        self.assertEqual(len(current), 1, seen)
        self.assertTrue(current[0].split()[0].startswith("1920x1080"), current[0])
        rate = float(current[0].split()[1].rstrip("*+"))
        self.assertGreater(rate, 50, current[0])
        self.assertIn("window id", seen)

    def test_ending_the_script_ends_the_game_and_the_display(self):
        for how in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=how.name):
                proc = self.run_script("wait")
                wait_for(lambda: os.path.exists(self.game + ".seen"), 30, what="the game")
                os.unlink(self.game + ".seen")
                started = time.monotonic()
                proc.send_signal(how)
                proc.communicate(timeout=30)
                self.assertLess(time.monotonic() - started, 10)
                self.assert_nothing_left(proc)


if __name__ == "__main__":
    unittest.main()
