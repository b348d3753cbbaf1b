"""Sound: the movie's sound reaches the desktop's sound server. A private PulseAudio with a
null sink stands in for the desktop's (PipeWire serves the same protocol); what the sink
plays is recorded from its monitor and checked for the test movie's tone, and for
silence once the program has ended."""

import array
import math
import os
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

from harness import TEST_MOVIES, HostTestCase, wait_for

TONE = os.path.join(TEST_MOVIES, "tone.swf")
# What tests/movies/make_tone.py writes: a sine of 440 Hz at amplitude 12000.
TONE_HZ = 440
TONE_RMS = 12000 / math.sqrt(2)
RATE = 44100


class SoundServer:
    """A private pulseaudio: one null sink "out", a socket in a temporary folder."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="lf-pulse-")
        self.server = "unix:" + os.path.join(self.dir, "native")
        self.env = dict(os.environ, HOME=self.dir, XDG_RUNTIME_DIR=self.dir,
                        XDG_CONFIG_HOME=self.dir, PULSE_SERVER=self.server)
        self.log = open(os.path.join(self.dir, "log"), "w+")
        self.proc = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
             "--use-pid-file=no", "--log-target=stderr",
             "-L", "module-null-sink sink_name=out",
             "-L", "module-native-protocol-unix socket=%s auth-anonymous=1" % self.server[5:]],
            env=self.env, stdout=subprocess.DEVNULL, stderr=self.log, start_new_session=True)

    def wait_started(self, timeout=15):
        """True once it answers; False when it ends or does not answer within timeout."""
        deadline = time.monotonic() + timeout
        while self.proc.poll() is None and time.monotonic() < deadline:
            if subprocess.run(["pactl", "info"], env=self.env, capture_output=True,
                              timeout=10).returncode == 0:
                return True
            time.sleep(0.2)
        return False

    def why_not(self):
        self.log.flush()
        with open(self.log.name) as f:
            lines = f.read().strip().splitlines()
        return "; ".join(lines[-3:]) or "no output, exit status %s" % self.proc.poll()

    def streams(self):
        """The playback streams the sink has now."""
        out = subprocess.run(["pactl", "list", "short", "sink-inputs"], env=self.env,
                             capture_output=True, text=True, timeout=10).stdout
        return out.strip().splitlines()

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class Recorder:
    """Records the null sink's monitor (16-bit mono) for as long as it runs."""

    def __init__(self, server):
        self.samples = array.array("h")
        self.lock = threading.Lock()
        self.proc = subprocess.Popen(
            ["parec", "--server", server.server, "-d", "out.monitor", "--format=s16le",
             "--rate=%d" % RATE, "--channels=1", "--latency-msec=20"],
            env=server.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            start_new_session=True)
        self.thread = threading.Thread(target=self.read, daemon=True)
        self.thread.start()

    def read(self):
        rest = b""
        while True:
            chunk = self.proc.stdout.read1(8192)
            if not chunk:
                return
            chunk = rest + chunk
            whole = len(chunk) - len(chunk) % 2
            with self.lock:
                self.samples.frombytes(chunk[:whole])
            rest = chunk[whole:]

    def count(self):
        with self.lock:
            return len(self.samples)

    def window(self, start, length):
        """length samples from start, waiting until they are recorded."""
        wait_for(lambda: self.count() >= start + length, 20, what="%d samples" % (start + length))
        with self.lock:
            return self.samples[start:start + length]

    def close(self):
        self.proc.kill()
        self.proc.wait(5)
        self.thread.join(5)
        self.proc.stdout.close()


def rms(samples):
    return math.sqrt(sum(s * s for s in samples) / len(samples)) if samples else 0.0


def pitch(samples):
    """The frequency in Hz, from the upward zero crossings."""
    crossings = sum(1 for a, b in zip(samples, samples[1:]) if a < 0 <= b)
    return crossings * RATE / len(samples)


def steady_second(recorder, start, limit):
    """The first second from start on (within limit samples) whose every hundredth has at
    least 90 % of the tone's level (so no gap of 2 ms or more), or None."""
    block = RATE // 100
    steady = 0
    for at in range(start, start + limit, block):
        steady = steady + 1 if rms(recorder.window(at, block)) >= TONE_RMS * 0.9 else 0
        if steady == 100:
            return recorder.window(at + block - RATE, RATE)
    return None


class SoundTest(HostTestCase):

    def setUp(self):
        missing = [tool for tool in ("pulseaudio", "pactl", "parec") if not shutil.which(tool)]
        if missing:
            self.skipTest("%s not installed (Debian packages pulseaudio, pulseaudio-utils; "
                          "scripts/setup.sh installs them)" % ", ".join(missing))
        self.sound = SoundServer()
        self.addCleanup(self.sound.close)
        if not self.sound.wait_started():
            self.skipTest("pulseaudio cannot run here: " + self.sound.why_not())

    def test_the_movies_tone_plays_at_its_level_and_pitch_and_stops_at_the_end(self):
        recorder = Recorder(self.sound)
        self.addCleanup(recorder.close)
        host = self.make_host(movie=TONE, extra_env={"PULSE_SERVER": self.sound.server})
        host.start()
        host.wait_command("tone_playing", timeout=60)
        self.assertEqual(len(wait_for(self.sound.streams, 20, what="the host's playback stream")), 1)

        # The tone arrives at its level and pitch. A loaded machine may starve the page
        # while it starts (short gaps of silence): look for the first whole second without
        # a gap, within 20 s.
        second = steady_second(recorder, recorder.count(), 20 * RATE)
        self.assertIsNotNone(second, "no second of steady tone within 20 s")
        self.assertAlmostEqual(rms(second), TONE_RMS, delta=TONE_RMS * 0.05)
        self.assertAlmostEqual(pitch(second), TONE_HZ, delta=1)

        # The window is closed; the movie answers the close request with "quit". The
        # program ends, its stream goes, and the sink is silent from then on.
        wid = host.window()
        self.display.run("xdotool", "windowactivate", "--sync", str(wid))
        self.display.run("xdotool", "key", "--clearmodifiers", "alt+F4")
        self.assertEqual(host.proc.wait(20), 0)
        wait_for(lambda: not self.sound.streams(), 2, what="the stream to end with the program")
        after = recorder.window(recorder.count() + RATE // 10, RATE // 2)
        self.assertLess(max(abs(s) for s in after), 50, "sound goes on after the end")


if __name__ == "__main__":
    unittest.main()
