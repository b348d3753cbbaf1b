"""Save data through the real player: a test movie creates, lists, saves, loads and deletes
players and reads and writes high scores and configuration; the answers arrive in the
movie unchanged and the files hold exactly what was sent."""

import os
import subprocess
import unittest

from harness import HostTestCase, probe_script, wait_for

LEVEL = '<level n="1">a & b\r\n"Ä ✓"</level>'
SCORES = "<highscores><users><0>Zoë</0></users><times><0>1</0></times></highscores>"


def escape(text):
    return text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n").replace("\t", "\\t")


class SaveDataTest(HostTestCase):

    def test_profiles_scores_and_configuration_round_trip(self):
        host = self.make_host(config=probe_script(
            ("send", "CreatePlayer", "Anna"),
            ("send", "CreatePlayer", "Zoë"),
            ("send", "SaveLevelData", "ANNA|" + escape(LEVEL)),
            ("send", "GetPlayerList"), ("wait", "PlayerLoadComplete"),
            ("send", "LoadLevelData", "anna"), ("wait", "LevelLoadComplete"),
            ("send", "SaveHighScores", escape(SCORES)),
            ("send", "ReadHighScores"), ("wait", "HSReadComplete"),
            ("send", "WriteConfigData", "volume=3"),
            ("send", "DeletePlayer", "ZOË"),
            ("send", "GetPlayerList"), ("wait", "PlayerLoadComplete"),
        ))
        host.start()
        host.wait_ready()
        host.wait_command("probe_done")
        # Anna was written last, so she comes first; names arrive upper-cased.
        lists = [arg for name, arg in host.acks() if name == "PlayerLoadComplete"]
        self.assertEqual(lists, ["ANNA,ZOË", "ANNA"])
        self.assertIn(("LevelLoadComplete", LEVEL + "\r\n"), host.acks())
        self.assertIn(("HSReadComplete", SCORES + "\r\n"), host.acks())
        # One profile file, under the name it was created with, in UTF-8 with CR LF.
        self.assertEqual(sorted(f for f in os.listdir(host.save) if f.endswith(".xml")), ["Anna.xml"])
        with open(os.path.join(host.save, "Anna.xml"), "rb") as f:
            self.assertEqual(f.read(), (LEVEL + "\r\n").encode("utf-8"))
        with open(os.path.join(host.save, "hs.dat"), "rb") as f:
            self.assertEqual(f.read(), (SCORES + "\r\n").encode("utf-8"))
        with open(os.path.join(host.save, "config.dat"), "rb") as f:
            self.assertEqual(f.read(), b"volume=3\r\n")
        self.assertEqual([c for c in host.commands() if c["outcome"] != "ok"], [])
        # The game's data lives in the save folder alone: the web engine keeps nothing on
        # disk (no cookies, local storage, IndexedDB, service workers or caches).
        browser = ("QtWebEngine", "Local Storage", "IndexedDB", "Cookies", "Service Worker",
                   "Session Storage", "Code Cache", "Cache_Data", "History", "Visited Links")
        kept = [os.path.relpath(os.path.join(folder, name), host.home)
                for folder, dirs, files in os.walk(host.home) for name in dirs + files
                if any(word in name for word in browser)]
        self.assertEqual(kept, [])

    def test_refused_names_and_missing_profiles_are_reported_and_touch_nothing(self):
        host = self.make_host(config=probe_script(
            ("send", "CreatePlayer", "../escape"),
            ("send", "SaveLevelData", "a\\\\b|data"),
            ("send", "DeletePlayer", "nobody"),
            ("send", "SaveLevelData", "no bar here"),
            ("send", "GetPlayerList"), ("wait", "PlayerLoadComplete"),
        ))
        host.start()
        host.wait_ready()
        host.wait_command("probe_done")
        failed = {c["name"]: c["outcome"] for c in host.commands() if c["outcome"] != "ok"}
        self.assertIn("../escape", failed["CreatePlayer"])
        self.assertIn("nobody", failed["DeletePlayer"])
        self.assertIn("no bar here", failed["SaveLevelData"])
        self.assertEqual([f for f in os.listdir(host.save) if f != "config.dat"], [])
        self.assertFalse(os.path.exists(os.path.join(os.path.dirname(host.save), "escape.xml")))
        self.assertIn(("PlayerLoadComplete", ""), host.acks())
        # The host goes on after the failures.
        self.assertIsNone(host.proc.poll())

    def test_backups_restore_and_import_from_the_command_line(self):
        host = self.make_host(config=probe_script(
            ("send", "CreatePlayer", "Anna"),
            ("send", "SaveLevelData", "ANNA|first"),
            ("send", "SaveLevelData", "ANNA|second"),
            ("send", "CreatePlayer", "anna"),
            ("send", "GetPlayerList"), ("wait", "PlayerLoadComplete"),
        ))
        env = {k: v for k, v in host.env.items() if k != "DISPLAY"}  # no display needed

        def run(*args):
            done = subprocess.run([os.path.join(host.program, "lanternfall")] + list(args), env=env,
                                  capture_output=True, text=True, timeout=30)
            return done.returncode, done.stdout, done.stderr

        def anna():
            with open(os.path.join(host.save, "Anna.xml"), "rb") as f:
                return f.read()

        old = os.path.join(host.root, "old")
        os.makedirs(old)
        for name, data in (("ANNA.xml", b"<p>Jos\xe9</p>\r\n"), ("hs.dat", b"scores\r\n"), ("x.txt", b"")):
            with open(os.path.join(old, name), "wb") as f:
                f.write(data)
        host.start()
        host.wait_command("probe_done")
        # The player list never shows the backups; the emptied profile's content is kept.
        self.assertIn(("PlayerLoadComplete", "ANNA"), host.acks())
        self.assertEqual(anna(), b"")
        # Refused while the game runs, and nothing changes.
        for args in (("--restore", "Anna.xml"), ("--import", old)):
            code, _, err = run(*args)
            self.assertEqual(code, 1, err)
            self.assertIn("running", err)
        self.assertEqual(anna(), b"")
        host.stop()

        code, out, _ = run("--backups")
        self.assertEqual(code, 0)
        rows = [line.split() for line in out.splitlines()]
        self.assertEqual([(r[0], r[2]) for r in rows], [("Anna.xml", "8"), ("Anna.xml", "7")])
        self.assertEqual(run("--restore", "anna.xml", rows[1][1])[0], 0)
        self.assertEqual(anna(), b"first\r\n")
        code, out, err = run("--import", old)
        self.assertEqual(code, 0, err)
        self.assertEqual(anna(), b"<p>Jos\xe9</p>\r\n")
        self.assertEqual(sorted(os.listdir(host.save)), ["Anna.xml", "backups", "config.dat", "hs.dat"])
        # "first" again: the import replaced it.
        self.assertEqual([line.split()[2] for line in run("--backups")[1].splitlines()], ["7", "8", "7"])
        self.assertEqual(run("--import", os.path.join(host.program, "ruffle"))[0], 1)  # no save file


if __name__ == "__main__":
    unittest.main()
