"""The install: `cmake --install` into a temporary prefix gives the program folder, the command
link, the desktop entry, the icons and the AppStream file; the desktop tools accept them, and the
installed program answers its command line and plays the demo movie, also after the whole prefix
has been moved elsewhere."""

import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

from harness import PROGRAM_DIR, Host, HostTestCase, wait_for

BUILD_DIR = os.path.dirname(os.path.abspath(PROGRAM_DIR))
APP_ID = "io.github.lanternfall.Lanternfall"
VERSION_LINE = "Lanternfall 1.03.0105 (1.3.0.105)"
ICON_SIZES = (16, 32, 48, 256)


def run(args, env=None, timeout=120):
    return subprocess.run(args, env=env, capture_output=True, text=True, timeout=timeout)


def png_header(path):
    """(width, height, bit depth, colour type) from a PNG file's IHDR."""
    with open(path, "rb") as f:
        data = f.read(33)
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    width, height, depth, colour = struct.unpack(">IIBB", data[16:26])
    return width, height, depth, colour


def relative_files(root):
    out = set()
    for folder, _, files in os.walk(root):
        for name in files:
            out.add(os.path.relpath(os.path.join(folder, name), root))
    return out


def desktop_entry(path):
    values = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            key, sep, value = line.rstrip("\n").partition("=")
            if sep:
                values[key] = value
    return values


class InstalledHost(Host):
    """The real host started through a given executable (an installed one) instead of from a
    copy of the build's program folder; home, runtime folder and trace as the harness makes them."""

    def __init__(self, display, executable, **kwargs):
        super().__init__(display, movie=None, **kwargs)
        self.executable = executable

    def start(self, extra_env=None):
        env = dict(self.env, **(extra_env or {}))
        stderr = open(os.path.join(self.root, "stderr-%d.txt" % len(self.procs)), "w+")
        proc = subprocess.Popen([self.executable], env=env, stdout=subprocess.DEVNULL,
                                stderr=stderr, start_new_session=True)
        proc.stderr_file = stderr
        self.procs.append(proc)
        if self.proc is None:
            self.proc = proc
        return proc


class InstallTest(HostTestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="lf-install-")
        cls.prefix = os.path.join(cls.tmp, "first")
        result = run(["cmake", "--install", BUILD_DIR, "--prefix", cls.prefix])
        if result.returncode != 0:
            shutil.rmtree(cls.tmp, ignore_errors=True)
            raise AssertionError("cmake --install failed:\n%s%s" % (result.stdout, result.stderr))
        cls.install_log = result.stdout
        try:
            super().setUpClass()
        except BaseException:
            shutil.rmtree(cls.tmp, ignore_errors=True)
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            super().tearDownClass()
        finally:
            shutil.rmtree(cls.tmp, ignore_errors=True)

    def path(self, *parts, prefix=None):
        return os.path.join(prefix or self.prefix, *parts)

    def moved_prefix(self):
        """A copy of the installed tree under another name, the original gone: nothing may
        still point into the first prefix."""
        moved = os.path.join(self.tmp, "moved-%s" % self.id().rsplit(".", 1)[-1])
        shutil.copytree(self.prefix, moved, symlinks=True)
        hidden = self.prefix + ".hidden"
        os.rename(self.prefix, hidden)
        self.addCleanup(os.rename, hidden, self.prefix)
        self.addCleanup(shutil.rmtree, moved, True)
        return moved

    # --- What lands where -----------------------------------------------------------------

    def test_program_folder_holds_everything_the_build_made(self):
        program = self.path("lib", "lanternfall")
        self.assertEqual(relative_files(program), relative_files(PROGRAM_DIR))
        for name in ("lanternfall", "morrow.swf", "ruffle/ruffle.js",
                     "Survey_StrategyGuide/Survey_StrategyGuideLinkInfo.txt"):
            self.assertTrue(os.path.isfile(os.path.join(program, name)), name)
        self.assertTrue(os.access(os.path.join(program, "lanternfall"), os.X_OK))
        self.assertTrue([n for n in os.listdir(os.path.join(program, "ruffle")) if n.endswith(".wasm")])
        # The executable carries no search path into the build tree.
        if shutil.which("readelf"):
            dynamic = run(["readelf", "-d", os.path.join(program, "lanternfall")]).stdout
            for line in dynamic.splitlines():
                if "RPATH" in line or "RUNPATH" in line:
                    self.assertNotIn(BUILD_DIR, line)

    def test_command_is_a_relative_link_to_the_executable(self):
        link = self.path("bin", "lanternfall")
        self.assertTrue(os.path.islink(link))
        self.assertEqual(os.readlink(link), "../lib/lanternfall/lanternfall")
        self.assertEqual(os.path.realpath(link), os.path.realpath(self.path("lib", "lanternfall", "lanternfall")))
        self.assertIn("bin/lanternfall", self.install_log)

    def test_icons_in_every_size(self):
        for size in ICON_SIZES:
            png = self.path("share", "icons", "hicolor", "%dx%d" % (size, size), "apps", "lanternfall.png")
            self.assertEqual(png_header(png), (size, size, 8, 6), png)
        svg = self.path("share", "icons", "hicolor", "scalable", "apps", "lanternfall.svg")
        with open(svg, encoding="utf-8") as f:
            self.assertIn("<svg", f.read())

    # --- The desktop tools accept the files ---------------------------------------------------

    def test_desktop_entry_is_valid_and_names_the_installed_pieces(self):
        desktop = self.path("share", "applications", APP_ID + ".desktop")
        result = run(["desktop-file-validate", desktop])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual((result.stdout + result.stderr).strip(), "", "warnings from desktop-file-validate")
        entry = desktop_entry(desktop)
        self.assertEqual(entry["Name"], "Lanternfall")
        self.assertEqual(entry["Exec"], "lanternfall")
        self.assertTrue(os.path.lexists(self.path("bin", entry["Exec"])))
        self.assertEqual(entry["Icon"], "lanternfall")
        self.assertIn("Game", entry["Categories"].split(";"))

    def test_appstream_file_is_valid(self):
        metainfo = self.path("share", "metainfo", APP_ID + ".metainfo.xml")
        result = run(["appstreamcli", "validate", "--no-net", metainfo])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        # The whole tree: the launchable desktop entry and the icon are found where installed.
        result = run(["appstreamcli", "validate-tree", "--no-net", self.prefix])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    # --- The installed program ------------------------------------------------------------------

    def test_command_line_answers_without_a_display(self):
        prefix = self.moved_prefix()
        command = self.path("bin", "lanternfall", prefix=prefix)
        env = dict(os.environ)
        for key in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(key, None)
        version = run([command, "--version"], env=env, timeout=20)
        self.assertEqual(version.returncode, 0, version.stderr)
        self.assertEqual(version.stdout.splitlines()[0], VERSION_LINE)
        self.assertIn("OriginalFilename  Lanternfall.exe", version.stdout)
        # The release in the AppStream file and the desktop entry carry the same version.
        text_version = VERSION_LINE.split()[1]
        with open(self.path("share", "metainfo", APP_ID + ".metainfo.xml", prefix=prefix), encoding="utf-8") as f:
            self.assertEqual(re.findall(r'<release version="([^"]+)"', f.read()), [text_version])
        entry = desktop_entry(self.path("share", "applications", APP_ID + ".desktop", prefix=prefix))
        self.assertEqual(entry["X-Lanternfall-Version"], text_version)

        help_ = run([command, "--help"], env=env, timeout=20)
        self.assertEqual(help_.returncode, 0, help_.stderr)
        for item in ("--version", "--help", "LANTERNFALL_TRACE", "LANTERNFALL_PAGE_LOG", "XDG_DATA_HOME"):
            self.assertIn(item, help_.stdout)

        wrong = run([command, "--fullscreen"], env=env, timeout=20)
        self.assertEqual(wrong.returncode, 2)
        self.assertEqual(wrong.stdout, "")
        self.assertIn('"--fullscreen"', wrong.stderr)

    def test_installed_program_plays_the_demo_movie_from_a_moved_prefix(self):
        prefix = self.moved_prefix()
        host = InstalledHost(self.display, self.path("bin", "lanternfall", prefix=prefix))
        self.addCleanup(host.cleanup)
        proc = host.start()
        # The demo movie, found through the link in the installed program folder, asks for
        # the player list as soon as it runs.
        host.wait_command("GetPlayerList", timeout=60)
        self.assertEqual(host.commands("GetPlayerList")[0]["outcome"], "ok")
        wid = host.window()
        # The window's class is the one the desktop entry names; the icon reaches the X server.
        entry = desktop_entry(self.path("share", "applications", APP_ID + ".desktop", prefix=prefix))
        wm_class = self.display.run("xprop", "-id", str(wid), "WM_CLASS")
        self.assertIn('"%s"' % entry["StartupWMClass"], wm_class)
        icons = wait_for(lambda: re.findall(r"Icon \((\d+) x (\d+)\)",
                                            self.display.run("xprop", "-id", str(wid), "_NET_WM_ICON")),
                         10, what="the window's icon")
        sizes = {(int(w), int(h)) for w, h in icons}
        for size in (16, 32, 48):
            self.assertIn((size, size), sizes)
        self.assertIsNone(proc.poll(), host.stderr_of(proc))
        host.stop()


if __name__ == "__main__":
    unittest.main()
