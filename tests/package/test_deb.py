"""The Debian package, as a player gets it: CPack makes it from the finished build; its control
fields and file list are what Debian expects, lintian finds no error and only the warnings the
README explains, the unpacked program answers, its dependencies resolve on this system and on an
empty one, and removing it takes every file it brought and no save data."""

import glob
import gzip
import os
import re
import shutil
import subprocess
import tempfile
import unittest

BUILD_DIR = os.environ["LF_BUILD_DIR"]
VERSION = os.environ["LF_VERSION"]
SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
PROGRAM_DIR = os.path.join(BUILD_DIR, "bin")
APP_ID = "io.github.lanternfall.Lanternfall"


def run(args, timeout=300, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=timeout, **kwargs)


def checked(args, **kwargs):
    result = run(args, **kwargs)
    if result.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s%s" % (" ".join(args), result.returncode,
                                                       result.stdout, result.stderr))
    return result.stdout


def expected_files():
    """Every path the package must hold (files and links; folders aside)."""
    paths = {"usr/bin/lanternfall", "usr/games/lanternfall",
             "usr/share/applications/%s.desktop" % APP_ID,
             "usr/share/metainfo/%s.metainfo.xml" % APP_ID,
             "usr/share/icons/hicolor/scalable/apps/lanternfall.svg",
             "usr/share/man/man6/lanternfall.6.gz",
             "usr/share/doc/lanternfall/copyright",
             "usr/share/doc/lanternfall/changelog.gz",
             "usr/share/doc/lanternfall/ruffle/LICENSE_APACHE",
             "usr/share/doc/lanternfall/ruffle/LICENSE_MIT"}
    paths |= {"usr/share/icons/hicolor/%dx%d/apps/lanternfall.png" % (s, s) for s in (16, 32, 48, 256)}
    for folder, _, files in os.walk(PROGRAM_DIR):
        for name in files:
            rel = os.path.relpath(os.path.join(folder, name), PROGRAM_DIR)
            paths.add("usr/lib/lanternfall/" + rel)
    return paths


def explained_lintian_tags():
    """The lintian tags the README explains (its packaging section's lintian list, one line each)."""
    with open(os.path.join(SOURCE_DIR, "README.md"), encoding="utf-8") as f:
        text = f.read()
    section = re.search(r"^### lintian\n(.*?)(?=^##|\Z)", text, re.S | re.M)
    if not section:
        return set()
    return set(re.findall(r"^- `([a-z0-9-]+)`", section.group(1), re.M))


class DebianPackageTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="lf-deb-")
        try:
            # gzip instead of the release's xz: the same contents, half a minute less work.
            checked(["cpack", "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake"),
                     "-G", "DEB", "-B", cls.tmp, "-D", "CPACK_DEBIAN_COMPRESSION_TYPE=gzip"])
            cls.deb = os.path.join(cls.tmp, "lanternfall_%s_amd64.deb" % VERSION)
            if not os.path.isfile(cls.deb):
                raise AssertionError("no %s among %s" % (cls.deb, os.listdir(cls.tmp)))
        except BaseException:
            shutil.rmtree(cls.tmp, ignore_errors=True)
            raise

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_control_fields_and_contents(self):
        fields = {}
        for line in checked(["dpkg-deb", "-f", self.deb]).splitlines():
            key, sep, value = line.partition(": ")
            if sep and not line.startswith(" "):
                fields[key] = value
        self.assertEqual(fields["Package"], "lanternfall")
        self.assertEqual(fields["Version"], VERSION)
        self.assertEqual(fields["Architecture"], "amd64")
        self.assertEqual(fields["Section"], "games")
        self.assertRegex(fields["Maintainer"], r"^[^<>]+ <[^<>@\s]+@[^<>@\s]+>$")
        depends = {re.split(r"[\s(]", d.strip())[0] for d in fields["Depends"].split(",")}
        # Computed from the executable's links ...
        for linked in ("libc6", "libstdc++6", "libqt6core6", "libqt6webenginewidgets6",
                       "libqt6webchannel6", "libx11-6", "libxrandr2", "libxtst6"):
            self.assertIn(linked, depends)
        # ... and what only runs or is read at run time.
        for loaded in ("libqt6webenginecore6-bin", "fonts-dejavu-core"):
            self.assertIn(loaded, depends)
        # No maintainer scripts: Debian's file triggers refresh the icon cache and the
        # desktop database.
        members = set(re.findall(r"^\s+\d+ bytes,\s+\d+ lines\s+\*?\s*(\S+)",
                                 checked(["dpkg-deb", "-I", self.deb]), re.M))
        self.assertEqual(members, {"control", "md5sums"})

        # The exact file list (lintian checks owners and permissions).
        files, links = set(), {}
        for line in checked(["dpkg-deb", "-c", self.deb]).splitlines():
            path, _, target = line.split(" ./", 1)[1].partition(" -> ")
            if not line.startswith("d"):
                files.add(path)
            if target:
                links[path] = target
        self.assertEqual(files, expected_files())
        self.assertEqual(links, {"usr/bin/lanternfall": "../lib/lanternfall/lanternfall",
                                 "usr/games/lanternfall": "../lib/lanternfall/lanternfall"})

    def test_lintian_finds_no_error_and_only_explained_warnings(self):
        result = run(["lintian", "--no-cfg", "--fail-on", "none", self.deb], timeout=600)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        tags = re.findall(r"^([EW]): lanternfall(?: \S+)?: (\S+)", result.stdout, re.M)
        errors = [tag for level, tag in tags if level == "E"]
        self.assertEqual(errors, [], result.stdout)
        unexplained = {tag for level, tag in tags if level == "W"} - explained_lintian_tags()
        self.assertEqual(unexplained, set(),
                         "warnings not explained in the README's packaging section:\n" + result.stdout)

    def test_unpacked_command_answers(self):
        root = tempfile.mkdtemp(prefix="root-", dir=self.tmp)
        checked(["dpkg-deb", "-x", self.deb, root])
        # The changelog's newest entry is this version (lintian checks its name and compression).
        with gzip.open(os.path.join(root, "usr/share/doc/lanternfall/changelog.gz"), "rt") as f:
            self.assertTrue(f.readline().startswith("lanternfall (%s) " % VERSION))
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        for command in ("usr/bin/lanternfall", "usr/games/lanternfall"):
            result = run([os.path.join(root, command), "--version"], env=env, timeout=30)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertRegex(result.stdout.splitlines()[0], r"^Lanternfall \S+ \(%s\)$" % re.escape(VERSION))

    def test_dependencies_resolve_here_and_on_an_empty_system(self):
        here = run(["apt-get", "install", "--simulate", "-q", self.deb])
        self.assertEqual(here.returncode, 0, here.stdout + here.stderr)
        self.assertRegex(here.stdout, r"(?m)^Inst lanternfall ")
        # With an empty package database apt must find every package the program needs in
        # the archive: what a clean Debian 12 gets with `apt install ./lanternfall_*.deb`.
        if not glob.glob("/var/lib/apt/lists/*_Packages*"):
            self.skipTest("apt's package lists are not available (apt-get update makes them)")
        status = os.path.join(self.tmp, "empty-status")
        open(status, "w").close()
        empty = run(["apt-get", "install", "--simulate", "-q", "-o", "Dir::State::status=" + status, self.deb])
        self.assertEqual(empty.returncode, 0, empty.stdout + empty.stderr)
        installed = set(re.findall(r"(?m)^Inst (\S+)", empty.stdout))
        for needed in ("lanternfall", "libqt6webenginewidgets6", "libqt6webenginecore6-bin",
                       "libqt6webengine6-data", "libqt6gui6", "fonts-dejavu-core", "libglx-mesa0"):
            self.assertIn(needed, installed)

    @unittest.skipUnless(os.geteuid() == 0, "dpkg --root needs root")
    def test_remove_takes_every_file_and_leaves_the_save_data(self):
        root = tempfile.mkdtemp(prefix="dpkg-", dir=self.tmp)
        admin = os.path.join(root, "var/lib/dpkg")
        for sub in ("info", "updates", "triggers"):
            os.makedirs(os.path.join(admin, sub))
        for name in ("status", "available"):
            open(os.path.join(admin, name), "w").close()
        save = os.path.join(root, "home/player/.local/share/Lanternfall/ALICE.xml")
        os.makedirs(os.path.dirname(save))
        with open(save, "wb") as f:
            f.write(b"<level>3</level>\r\n")
        dpkg = ["dpkg", "--root=" + root, "--log=/dev/null", "--force-depends"]

        def tree():
            out = set()
            for folder, dirs, files in os.walk(root):
                rel = os.path.relpath(folder, root)
                if rel == "var/lib/dpkg" or rel.startswith("var/lib/dpkg/"):
                    continue
                out |= {os.path.normpath(os.path.join(rel, n)) for n in files + dirs}
            return out

        before = tree()
        checked(dpkg + ["--install", self.deb])
        self.assertTrue(os.path.isfile(os.path.join(root, "usr/lib/lanternfall/morrow.swf")))
        checked(dpkg + ["--purge", "lanternfall"])
        self.assertEqual(tree(), before)
        with open(save, "rb") as f:
            self.assertEqual(f.read(), b"<level>3</level>\r\n")


if __name__ == "__main__":
    unittest.main()
