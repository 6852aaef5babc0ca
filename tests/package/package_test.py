#!/usr/bin/env python3
"""Checks the built Debian package as an integrator would receive it.

Usage: package_test.py build/package/kestrel_<version>_<arch>.deb

The package is unpacked with dpkg-deb -x into a temporary folder; the programs found there are
run from it, and lintian checks the package file itself.
"""

import configparser
import gzip
import os
import re
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

PROGRAMS = ["kestrel", "kestrel-testcam", "kestrel-coordsim", "kestrel-dppsim", "kestrel-trips"]
DOC = "usr/share/doc/kestrel"
DESKTOP_ENTRY = "usr/share/applications/kestrel.desktop"
ICON = "usr/share/icons/hicolor/scalable/apps/kestrel.svg"
# Where an installed file may live: the programs, their menu entry, icon, manual pages and docs.
ALLOWED_FOLDERS = (
    "usr/bin/",
    "usr/share/applications/",
    "usr/share/icons/hicolor/",
    "usr/share/man/man1/",
    DOC + "/",
)

deb_path = None


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def field(name):
    return run(["dpkg-deb", "--field", deb_path, name]).stdout.strip()


def depends_packages():
    """The package names in Depends, without versions and alternatives' bars."""
    names = set()
    for clause in field("Depends").split(","):
        for alternative in clause.split("|"):
            names.add(alternative.strip().split(" ")[0].split(":")[0])
    return names


def needed_libraries(program):
    """The shared libraries (sonames) the ELF file asks the loader for."""
    dynamic = run(["readelf", "--dynamic", "--wide", program]).stdout
    return re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic)


def package_of_library(soname):
    """The installed Debian package that ships the library the loader would pick."""
    cache = run(["ldconfig", "--print-cache"]).stdout
    match = re.search(r"^\s*" + re.escape(soname) + r" \(libc6,x86-64\) => (\S+)$", cache, re.M)
    if not match:
        match = re.search(r"^\s*" + re.escape(soname) + r" \([^)]*\) => (\S+)$", cache, re.M)
    if not match:
        return None
    path = os.path.realpath(match.group(1))
    owners = run(["dpkg-query", "--search", path]).stdout
    if not owners:
        # usrmerge: dpkg may know the file under /lib rather than /usr/lib.
        owners = run(["dpkg-query", "--search", re.sub(r"^/usr/lib/", "/lib/", path)]).stdout
    return owners.split(":")[0] if owners else None


class package_test(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory(prefix="kestrel-package-")
        cls.root = cls.folder.name
        unpacked = run(["dpkg-deb", "-x", deb_path, cls.root])
        if unpacked.returncode != 0:
            raise RuntimeError("dpkg-deb -x failed: " + unpacked.stderr)
        cls.version = field("Version")

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def path(self, relative):
        return os.path.join(self.root, relative)

    def installed_files(self):
        files = []
        for folder, _, names in os.walk(self.root):
            files += [os.path.relpath(os.path.join(folder, name), self.root) for name in names]
        return files

    def test_control_names_the_package_its_version_and_section(self):
        self.assertEqual(field("Package"), "kestrel")
        self.assertRegex(self.version, r"^[0-9][0-9A-Za-z.+~-]*$")
        self.assertEqual(field("Section"), "video")
        architecture = run(["dpkg", "--print-architecture"]).stdout.strip()
        self.assertEqual(field("Architecture"), architecture)

    def test_the_programs_are_executables_in_usr_bin(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                path = self.path("usr/bin/" + program)
                self.assertTrue(os.access(path, os.X_OK), path)
                with open(path, "rb") as elf:
                    self.assertEqual(elf.read(4), b"\x7fELF")

    def test_nothing_is_installed_outside_the_programs_folders(self):
        strays = [f for f in self.installed_files() if not f.startswith(ALLOWED_FOLDERS)]
        self.assertEqual(strays, [])

    def test_the_desktop_entry_is_valid_and_starts_the_recorder_with_its_icon(self):
        entry_path = self.path(DESKTOP_ENTRY)
        validation = run(["desktop-file-validate", entry_path])
        self.assertEqual((validation.returncode, validation.stdout + validation.stderr), (0, ""))

        entry = configparser.ConfigParser(interpolation=None)
        entry.optionxform = str
        entry.read(entry_path, encoding="utf-8")
        section = entry["Desktop Entry"]
        self.assertEqual(section["Exec"], "kestrel")
        self.assertTrue(os.access(self.path("usr/bin/" + section["Exec"]), os.X_OK))
        self.assertEqual(section["Icon"], "kestrel")
        categories = section["Categories"].rstrip(";").split(";")
        for category in ("AudioVideo", "Video", "Recorder"):
            self.assertIn(category, categories)

    def test_the_icon_is_an_svg_drawing_in_the_hicolor_theme(self):
        root = ElementTree.parse(self.path(ICON)).getroot()
        self.assertEqual(root.tag, "{http://www.w3.org/2000/svg}svg")
        self.assertIn("viewBox", root.attrib)
        self.assertGreater(len(list(root.iter())), 3, "an empty drawing")

    def test_the_docs_hold_the_readme_copyright_and_a_changelog_of_this_version(self):
        with open(self.path(DOC + "/README.md"), encoding="utf-8") as readme:
            self.assertTrue("scripts/package.sh" in readme.read(), "the README names no package")
        self.assertGreater(os.path.getsize(self.path(DOC + "/copyright")), 0)
        with gzip.open(self.path(DOC + "/changelog.gz"), "rt", encoding="utf-8") as changelog:
            newest = changelog.readline()
        self.assertRegex(newest, r"^kestrel \(" + re.escape(self.version) + r"\) \S+; urgency=")

    def test_every_program_has_a_manual_page(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                with gzip.open(self.path(f"usr/share/man/man1/{program}.1.gz"), "rt") as page:
                    self.assertIn(".TH " + program.upper(), page.read())

    def test_depends_names_the_package_of_every_library_the_programs_load(self):
        depends = depends_packages()
        for program in PROGRAMS:
            for soname in needed_libraries(self.path("usr/bin/" + program)):
                with self.subTest(program=program, library=soname):
                    package = package_of_library(soname)
                    self.assertIsNotNone(package, "no installed package ships " + soname)
                    self.assertIn(package, depends)

    def test_depends_names_the_toolkit_video_and_network_libraries(self):
        depends = depends_packages()

        def named(pattern):
            return [name for name in depends if re.fullmatch(pattern, name)]

        self.assertTrue(named(r"libwxgtk3\.2-\d+"), depends)
        self.assertTrue(named(r"libwxbase3\.2-\d+"), depends)
        self.assertTrue(named(r"libopencv-core\d+"), depends)
        self.assertTrue(named(r"libopencv-imgproc\d+"), depends)
        # The recorder reads and writes video through FFmpeg's own libraries, never through
        # OpenCV's video module.
        self.assertFalse(named(r"libopencv-videoio\d+"), depends)
        # The trip catalogue is an SQLite file.
        self.assertTrue(named(r"libsqlite3-\d+"), depends)
        for package in [r"libavformat\d+", r"libavcodec\d+", r"libavutil\d+", r"libswscale\d+"]:
            with self.subTest(package=package):
                self.assertTrue(named(package), depends)
        # Boost.Asio is header-only: a Boost package is named only for a Boost library linked.
        for program in PROGRAMS:
            for soname in needed_libraries(self.path("usr/bin/" + program)):
                if soname.startswith("libboost_"):
                    with self.subTest(program=program, library=soname):
                        self.assertTrue(named(r"libboost-[a-z-]+\d[\d.]*"), depends)

    def test_the_unpacked_recorder_answers_version_and_help_without_a_display(self):
        environment = {
            name: value
            for name, value in os.environ.items()
            if name not in ("DISPLAY", "WAYLAND_DISPLAY")
        }
        recorder = self.path("usr/bin/kestrel")
        version = run([recorder, "--version"], env=environment, timeout=60)
        self.assertEqual((version.returncode, version.stdout, version.stderr),
                         (0, f"kestrel {self.version}\n", ""))
        help_text = run([recorder, "--help"], env=environment, timeout=60)
        self.assertEqual(help_text.returncode, 0)
        self.assertIn("--version", help_text.stdout)

    def test_the_unpacked_trip_tool_lists_an_empty_archive_without_a_display(self):
        environment = {
            name: value
            for name, value in os.environ.items()
            if name not in ("DISPLAY", "WAYLAND_DISPLAY")
        }
        tool = self.path("usr/bin/kestrel-trips")
        with tempfile.TemporaryDirectory() as archive:
            listed = run([tool, "--root", archive, "list"], env=environment, timeout=60)
            self.assertEqual((listed.returncode, listed.stdout, listed.stderr),
                             (0, "folder,camera,start,end,frames,first,last,offloaded,verified\n", ""))
            self.assertTrue(os.path.exists(os.path.join(archive, "catalogue.sqlite")))
        help_text = run([tool, "--help"], env=environment, timeout=60)
        self.assertEqual(help_text.returncode, 0)
        self.assertIn("clip TRIP FROM TO", help_text.stdout)

    def test_lintian_finds_no_error(self):
        # Root is warned against but allowed; the note is not a finding.
        lint = run(["lintian", "--fail-on", "error", deb_path], timeout=600)
        findings = [line for line in lint.stdout.splitlines() if re.match(r"^[EWX]: ", line)]
        print("\nlintian:", *(findings or ["no errors or warnings"]), sep="\n  ", file=sys.stderr)
        self.assertEqual([f for f in findings if f.startswith("E: ")], [])
        self.assertEqual(lint.returncode, 0, lint.stdout + lint.stderr)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    deb_path = os.path.abspath(sys.argv.pop())
    unittest.main(verbosity=2)
