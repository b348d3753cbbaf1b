"""An ActionScript 2 (AVM1) movie plays the whole protocol through the real host: its
fscommands are get-URLs of "FSCommand:...", its functions are registered with
flash.external.ExternalInterface.addCallback. The movie (tests/movies/Avm1Probe.avm1)
runs a script handed over as the configuration text."""

import os
import unittest

from harness import TEST_MOVIES, HostTestCase, probe_script

AVM1_PROBE = os.path.join(TEST_MOVIES, "avm1probe.swf")
LEVEL = '<level n="1">a & b "Ä ✓ 𝄞" \\ </level>'
SCORES = "<highscores><users><0>Zoë</0></users><times><0>1</0></times></highscores>"


class Avm1Test(HostTestCase):

    def test_an_avm1_movie_saves_loads_lists_and_quits(self):
        script = probe_script(
            ("send", "CreatePlayer", "Bob"),
            ("send", "CreatePlayer", "Anna"),
            ("send", "SaveLevelData", "ANNA|" + LEVEL),
            ("send", "GetPlayerList"), ("wait", "PlayerLoadComplete"),
            ("send", "LoadLevelData", "anna"), ("wait", "LevelLoadComplete"),
            ("send", "SaveHighScores", SCORES),
            ("send", "ReadHighScores"), ("wait", "HSReadComplete"),
            ("send", "WriteConfigData", "volume=3"),
            ("send", "ReadConfigData"), ("wait", "ConfigDataReadComplete"),
            ("send", "DeletePlayer", "BOB"),
            ("send", "GetPlayerList"), ("wait", "PlayerLoadComplete"),
            ("send", "quit"),
        )
        host = self.make_host(movie=AVM1_PROBE, config=script)
        host.start()
        self.assertEqual(host.proc.wait(60), 0, host.stderr_of(host.proc))
        # quit gave the desktop its mode back.
        self.assertEqual(self.display.screen_size(), (1920, 1080))

        # Every command arrived whole and in order, and succeeded.
        sent = [(c["name"], c["arg"]) for c in host.commands() if c["name"] not in ("probe_ack", "quit")]
        self.assertEqual(sent, [
            ("probe_hello", ""), ("ReadConfigData", ""),
            ("CreatePlayer", "Bob"), ("CreatePlayer", "Anna"), ("SaveLevelData", "ANNA|" + LEVEL),
            ("GetPlayerList", ""), ("LoadLevelData", "anna"),
            ("SaveHighScores", SCORES), ("ReadHighScores", ""),
            ("WriteConfigData", "volume=3"), ("ReadConfigData", ""),
            ("DeletePlayer", "BOB"), ("GetPlayerList", ""),
        ])
        self.assertEqual([c for c in host.commands() if c["outcome"] != "ok"], [])
        # Every answer reached the movie's function unchanged (the movie echoes every call).
        answers = [(c["name"], c["arg"]) for c in host.calls() if c["name"].endswith("Complete")]
        self.assertEqual(answers, [
            ("ConfigDataReadComplete", script),
            ("PlayerLoadComplete", "ANNA,BOB"), ("LevelLoadComplete", LEVEL + "\r\n"),
            ("HSReadComplete", SCORES + "\r\n"), ("ConfigDataReadComplete", "volume=3\r\n"),
            ("PlayerLoadComplete", "ANNA"),
        ])
        self.assertEqual(host.acks(), [(c["name"], c["arg"]) for c in host.calls()])
        self.assertEqual([c for c in host.calls() if c["outcome"] != "ok"], [])

        # The save folder holds exactly what was sent, in UTF-8 with CR LF.
        def content(name):
            with open(os.path.join(host.save, name), "rb") as f:
                return f.read()
        # backups/ holds the configuration the movie replaced.
        self.assertEqual(sorted(os.listdir(host.save)), ["Anna.xml", "backups", "config.dat", "hs.dat"])
        self.assertEqual(content("Anna.xml"), (LEVEL + "\r\n").encode("utf-8"))
        self.assertEqual(content("hs.dat"), (SCORES + "\r\n").encode("utf-8"))
        self.assertEqual(content("config.dat"), b"volume=3\r\n")


if __name__ == "__main__":
    unittest.main()
