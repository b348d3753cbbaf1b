"""The Debian package, as a player gets it: CPack makes it from the finished build; its control
fields and file list are what Debian expects, lintian finds no error and only the warnings that
docs/packaging.md explains, the unpacked program answers, its dependencies resolve on this system
and on an empty one, and removing it takes every file it brought and no save data."""

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
PACKAGING_DOC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs",
                             "packaging.md")
EXE = "../lib/lanternfall/lanternfall"


def checked(args, ok=(0,), **kwargs):
    result = subprocess.run(args, capture_output=True, text=True, timeout=600, **kwargs)
    if result.returncode not in ok:
        raise AssertionError("%s failed (%d):\n%s%s" % (" ".join(args), result.returncode,
                                                       result.stdout, result.stderr))
    return result.stdout


def linked_packages():
    """The packages that hold the libraries the executable links (ldd), as dpkg knows them:
    their names differ per release (Debian 13's carry the t64 suffix, libqt6core6t64)."""
    owners = {}
    out = checked(["ldd", os.path.join(BUILD_DIR, "bin", "lanternfall")])
    for soname, path in re.findall(r"^\s*(\S+) => (/\S+)", out, re.M):
        # dpkg knows a file under the path its package gives, with or without /usr (merged /usr).
        bare = path[4:] if path.startswith("/usr/") else path
        for candidate in (path, bare, "/usr" + bare):
            found = subprocess.run(["dpkg-query", "-S", candidate], capture_output=True, text=True)
            if found.returncode == 0:
                owners[soname] = found.stdout.split(":")[0]
                break
    return owners


def expected_files():
    """Every file and link the package must hold: the program folder as built, and the rest."""
    app = "io.github.lanternfall.Lanternfall"
    paths = {"usr/bin/lanternfall", "usr/games/lanternfall", "usr/share/man/man6/lanternfall.6.gz",
             "usr/share/applications/%s.desktop" % app, "usr/share/metainfo/%s.metainfo.xml" % app,
             "usr/share/icons/hicolor/scalable/apps/lanternfall.svg"}
    paths |= {"usr/share/icons/hicolor/%dx%d/apps/lanternfall.png" % (s, s) for s in (16, 32, 48, 256)}
    paths |= {"usr/share/doc/lanternfall/" + n for n in
              ("copyright", "changelog.gz", "ruffle/LICENSE_APACHE", "ruffle/LICENSE_MIT")}
    program = os.path.join(BUILD_DIR, "bin")
    for folder, _, files in os.walk(program):
        paths |= {"usr/lib/lanternfall/" + os.path.relpath(os.path.join(folder, n), program) for n in files}
    return paths


class DebianPackageTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="lf-deb-")
        cls.deb = os.path.join(cls.tmp, "lanternfall_%s_amd64.deb" % VERSION)
        try:
            # gzip instead of the release's xz: the same contents, half a minute less work.
            checked(["cpack", "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake"), "-G", "DEB",
                     "-B", cls.tmp, "-D", "CPACK_DEBIAN_COMPRESSION_TYPE=gzip"])
            if not os.path.isfile(cls.deb):
                raise AssertionError("no %s among %s" % (cls.deb, os.listdir(cls.tmp)))
        except BaseException:
            shutil.rmtree(cls.tmp, ignore_errors=True)
            raise

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_fields_files_and_the_unpacked_program(self):
        fields = dict(re.findall(r"^(\S+): (.*)$", checked(["dpkg-deb", "-f", self.deb]), re.M))
        self.assertEqual((fields["Package"], fields["Version"], fields["Architecture"], fields["Section"]),
                         ("lanternfall", VERSION, "amd64", "games"))
        self.assertRegex(fields["Maintainer"], r"^[^<>]+ <[^<>@\s]+@[^<>@\s]+>$")
        depends = {re.split(r"[\s(]", d.strip())[0] for d in fields["Depends"].split(",")}
        # Computed from the executable's links (on this release), and what only runs or is
        # read at run time.
        linked = linked_packages()
        for soname in ("libc.so.6", "libQt6Core.so.6", "libQt6WebEngineWidgets.so.6",
                       "libQt6WebChannel.so.6", "libX11.so.6", "libXrandr.so.2", "libXtst.so.6"):
            self.assertIn(linked.get(soname), depends, soname)
        for package in ("libqt6webenginecore6-bin", "fonts-dejavu-core"):
            self.assertIn(package, depends)
        # No maintainer scripts: Debian's file triggers refresh the icon cache and desktop database.
        members = re.findall(r"^\s+\d+ bytes,\s+\d+ lines\s+\*?\s*(\S+)", checked(["dpkg-deb", "-I", self.deb]), re.M)
        self.assertEqual(sorted(members), ["control", "md5sums"])

        # The exact file list (lintian checks owners, permissions and compression).
        entries = [line.split(" ./", 1)[1] for line in checked(["dpkg-deb", "-c", self.deb]).splitlines()
                   if not line.startswith("d")]
        links = dict(e.split(" -> ") for e in entries if " -> " in e)
        self.assertEqual({e.split(" -> ")[0] for e in entries}, expected_files())
        self.assertEqual(links, {"usr/bin/lanternfall": EXE, "usr/games/lanternfall": EXE})

        root = os.path.join(self.tmp, "unpacked")
        checked(["dpkg-deb", "-x", self.deb, root])
        with gzip.open(os.path.join(root, "usr/share/doc/lanternfall/changelog.gz"), "rt") as f:
            self.assertTrue(f.readline().startswith("lanternfall (%s) " % VERSION))
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        for command in links:
            out = checked([os.path.join(root, command), "--version"], env=env)
            self.assertRegex(out.splitlines()[0], r"^Lanternfall \S+ \(%s\)$" % re.escape(VERSION))

    def test_lintian_finds_no_error_and_only_explained_warnings(self):
        out = checked(["lintian", "--no-cfg", "--fail-on", "none", self.deb])
        tags = re.findall(r"^([EW]): lanternfall(?: \S+)?: (\S+)", out, re.M)
        self.assertEqual([tag for level, tag in tags if level == "E"], [], out)
        with open(PACKAGING_DOC, encoding="utf-8") as f:
            section = re.search(r"^### lintian\n(.*?)(?=^##|\Z)", f.read(), re.S | re.M)
        explained = set(re.findall(r"^- `([a-z0-9-]+)`", section.group(1), re.M)) if section else set()
        self.assertEqual({tag for level, tag in tags if level == "W"} - explained, set(),
                         "warnings not explained in docs/packaging.md's lintian list:\n" + out)

    def test_dependencies_resolve_here_and_on_an_empty_system(self):
        here = checked(["apt-get", "install", "--simulate", "-q", self.deb])
        self.assertRegex(here, r"(?m)^Inst lanternfall ")
        # With an empty package database apt must find everything the program needs in the
        # archive: what a clean system of this release gets with `apt install ./lanternfall_*.deb`.
        if not glob.glob("/var/lib/apt/lists/*_Packages*"):
            self.skipTest("apt's package lists are not available (apt-get update makes them)")
        status = os.path.join(self.tmp, "empty-status")
        open(status, "w").close()
        empty = checked(["apt-get", "install", "--simulate", "-q", "-o", "Dir::State::status=" + status, self.deb])
        installed = set(re.findall(r"(?m)^Inst (\S+)", empty))
        linked = linked_packages()
        for needed in ("lanternfall", linked["libQt6WebEngineWidgets.so.6"], linked["libQt6Gui.so.6"],
                       "libqt6webenginecore6-bin", "libqt6webengine6-data", "fonts-dejavu-core",
                       "libglx-mesa0"):
            self.assertIn(needed, installed)

    @unittest.skipUnless(os.geteuid() == 0, "dpkg --root needs root")
    def test_purge_takes_every_file_and_leaves_the_save_data(self):
        root = os.path.join(self.tmp, "system")
        for sub in ("info", "updates", "triggers"):
            os.makedirs(os.path.join(root, "var/lib/dpkg", sub))
        for name in ("status", "available"):
            open(os.path.join(root, "var/lib/dpkg", name), "w").close()
        save = os.path.join(root, "home/player/.local/share/Lanternfall/ALICE.xml")
        os.makedirs(os.path.dirname(save))
        with open(save, "wb") as f:
            f.write(b"<level>3</level>\r\n")

        def tree():
            return {os.path.relpath(os.path.join(d, n), root) for d, dirs, files in os.walk(root)
                    for n in dirs + files if not os.path.relpath(d, root).startswith("var/lib/dpkg")}

        before = tree()
        dpkg = ["dpkg", "--root=" + root, "--log=/dev/null", "--force-depends"]
        checked(dpkg + ["--install", self.deb])
        self.assertTrue(os.path.isfile(os.path.join(root, "usr/lib/lanternfall/morrow.swf")))
        checked(dpkg + ["--purge", "lanternfall"])
        self.assertEqual(tree(), before)
        with open(save, "rb") as f:
            self.assertEqual(f.read(), b"<level>3</level>\r\n")


if __name__ == "__main__":
    unittest.main()
