#!/usr/bin/python3
"""The Debian package as a user gets it: made by CPack from the build tree, then checked with
lintian (no errors; every warning left is explained in the README), desktop-file-validate,
appstreamcli, systemd-analyze on the exporter's unit, every man page rendered without a warning,
and the unpacked programs run (--version, --help):

    /usr/bin/python3 tests/packaging/test_package.py --build build --version 0.1.0 --readme README.md
"""

import argparse
import glob
import gzip
import os
import re
import subprocess
import sys
import tempfile
import unittest

BUILD = VERSION = README = None


def run(*args, **kwargs):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=600, **kwargs)


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        made = run("cpack", "-G", "DEB", "-B", cls.dir.name, cwd=BUILD)
        assert made.returncode == 0, made.stdout + made.stderr
        debs = glob.glob(os.path.join(cls.dir.name, "*.deb"))
        assert len(debs) == 1, debs
        cls.deb = debs[0]
        cls.root = os.path.join(cls.dir.name, "root")
        unpacked = run("dpkg-deb", "-x", cls.deb, cls.root)
        assert unpacked.returncode == 0, unpacked.stderr

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def test_name_and_version(self):
        self.assertEqual(os.path.basename(self.deb), "qeln-console_%s_amd64.deb" % VERSION)
        fields = run("dpkg-deb", "-f", self.deb, "Package", "Version", "Depends").stdout
        self.assertIn("Version: %s" % VERSION, fields)
        # Computed from the programs' libraries, not written by hand.
        self.assertRegex(fields, r"libqt6core6 \(>= [0-9.]+\)")
        self.assertRegex(fields, r"libsqlite3-0 \(>= [0-9.]+\)")

    def test_lintian(self):
        result = run("lintian", "--tag-display-limit", "0", self.deb)
        errors = [line for line in result.stdout.splitlines() if line.startswith("E:")]
        self.assertEqual(errors, [], result.stdout)
        with open(README, encoding="utf-8") as f:
            section = f.read().split("## Packaging", 1)[-1].split("\n## ", 1)[0]
        for line in result.stdout.splitlines():
            if line.startswith("W:"):
                tag = line.split()[2]
                self.assertIn("`%s`" % tag, section, "lintian warning %s is not explained in the README" % tag)

    def test_desktop_entry_and_metainfo(self):
        desktop = self.path("usr/share/applications/org.qeln.Console.desktop")
        checked = run("desktop-file-validate", desktop)
        self.assertEqual((checked.returncode, checked.stdout.strip()), (0, ""), checked.stdout + checked.stderr)
        metainfo = self.path("usr/share/metainfo/org.qeln.Console.metainfo.xml")
        checked = run("appstreamcli", "validate", "--no-net", metainfo)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        with open(metainfo) as f:
            self.assertIn('<release version="%s"' % VERSION, f.read())
        for size in ("16x16", "48x48", "256x256", "scalable"):
            found = glob.glob(self.path("usr/share/icons/hicolor", size, "apps", "org.qeln.Console.*"))
            self.assertEqual(len(found), 1, size)

    def test_exporter_unit(self):
        # Checked as installed: its ExecStart pointed at the unpacked program, its man page found
        # in the unpacked tree.
        with open(self.path("usr/lib/systemd/system/qeln-exporter.service")) as f:
            unit = f.read().replace("/usr/bin/qeln-cli", self.path("usr/bin/qeln-cli"))
        units = os.path.join(self.dir.name, "units")
        os.makedirs(units, exist_ok=True)
        with open(os.path.join(units, "qeln-exporter.service"), "w") as f:
            f.write(unit)
        env = dict(os.environ, MANPATH=self.path("usr/share/man"))
        checked = run("systemd-analyze", "verify", os.path.join(units, "qeln-exporter.service"), env=env)
        self.assertEqual((checked.returncode, checked.stderr.strip()), (0, ""), checked.stderr)

    def test_man_pages_render(self):
        pages = sorted(glob.glob(self.path("usr/share/man/man1/*.1.gz")))
        self.assertEqual([os.path.basename(p) for p in pages], ["qeln-cli.1.gz", "qeln-console.1.gz", "qeln-sim.1.gz"])
        for page in pages:
            with self.subTest(page=os.path.basename(page)):
                with gzip.open(page, "rt") as f:
                    source = f.read()
                rendered = subprocess.run(["groff", "-man", "-Tutf8", "-ww"], input=source, capture_output=True,
                                          text=True, timeout=60)
                self.assertEqual((rendered.returncode, rendered.stderr), (0, ""))
                text = re.sub(".\x08", "", rendered.stdout)  # bold and underline by overstriking
                name = os.path.basename(page)[:-len(".1.gz")]
                self.assertRegex(text, r"NAME\s+%s\s+-\s+\w" % re.escape(name))
                self.assertIn(VERSION, text)

    def test_unpacked_programs_run(self):
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        for program in ("qeln-console", "qeln-cli", "qeln-sim"):
            with self.subTest(program=program):
                exe = self.path("usr/bin", program)
                version = run(exe, "--version", env=env)
                self.assertEqual((version.returncode, version.stdout.strip()), (0, "%s %s" % (program, VERSION)))
                usage = run(exe, "--help", env=env)
                self.assertEqual(usage.returncode, 0, usage.stderr)
                self.assertRegex(usage.stdout, re.compile("usage", re.IGNORECASE))

    def test_udev_rule(self):
        with open(self.path("usr/lib/udev/rules.d/70-qeln-serial.rules")) as f:
            rule = f.read()
        self.assertIn('TAG+="uaccess"', rule)
        self.assertIn('ENV{ID_MM_DEVICE_IGNORE}="1"', rule)
        # Every adapter the README lists is matched by the rule.
        with open(README, encoding="utf-8") as f:
            readme = f.read()
        listed = re.findall(r"`([0-9a-f]{4}):([0-9a-f]{4})`", readme)
        self.assertGreater(len(listed), 5)
        for vendor, product in listed:
            with self.subTest(adapter=vendor + ":" + product):
                self.assertRegex(rule, r'ATTRS\{idVendor\}=="%s", ATTRS\{idProduct\}=="[0-9a-f|]*%s' % (vendor, product))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--readme", required=True)
    args, rest = parser.parse_known_args()
    BUILD, VERSION, README = os.path.abspath(args.build), args.version, os.path.abspath(args.readme)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
