#!/usr/bin/env python3
"""Tests of the set-up's apt functions (scripts/apt.sh) against package lists
made here: apt itself reads them (APT_CONFIG points all of it at a folder of
the test's own) and simulates each install (-s), so nothing on the machine
changes. Run: python3 -m unittest discover -s tests/setup"""
import gzip
import os
import shutil
import subprocess
import tempfile
import unittest

APT_SH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "apt.sh")

MAIN = "http://main.invalid/debian"
SECURITY = "http://security.invalid/debian-security"
MISSING_I386 = SECURITY + " bookworm-security/main i386 Packages"


def packages(arch, libz_version, extra=""):
    """A Packages index: the multi-arch library libz at `libz_version`, and a
    package `extra` if given."""
    stanza = ("Package: %s\nArchitecture: %s\nVersion: %s\nMulti-Arch: same\nPriority: optional\n"
              "Section: libs\nMaintainer: Nobody <nobody@invalid>\nFilename: pool/%s_%s.deb\n"
              "Size: 1\nDescription: test package\n\n")
    text = stanza % ("libz", arch, libz_version, "libz", arch)
    if extra:
        text += stanza % (extra, arch, "1", extra, arch)
    return text


def release(label, codename, indexes, signed):
    """A release file listing `indexes` (meta keys); `signed` wraps it as an
    InRelease file is."""
    text = ("Origin: Debian\nLabel: %s\nSuite: oldstable\nCodename: %s\nArchitectures: amd64 i386\n"
            "Components: main\nSHA256:\n" % (label, codename))
    text += "".join(" %s %8d %s\n" % ("0" * 64, 0, key) for key in indexes)
    if signed:
        text = ("-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA512\n\n" + text +
                "-----BEGIN PGP SIGNATURE-----\n\nAAAA\n-----END PGP SIGNATURE-----\n")
    return text


class AptLists(unittest.TestCase):
    def setUp(self):
        if shutil.which("apt-get") is None:
            self.skipTest("apt-get is missing: these tests need a Debian machine")
        self.dir = tempfile.mkdtemp(prefix="apt-lists-test.")
        self.addCleanup(shutil.rmtree, self.dir)
        for sub in ("lists/partial", "parts", "preferences.d", "sources.list.d", "tmp"):
            os.makedirs(os.path.join(self.dir, sub))
        self.write("sources.list", "deb [trusted=yes] %s bookworm main\n"
                   "deb [trusted=yes] %s bookworm-security main\n"
                   "deb-src [trusted=yes] %s bookworm main\n" % (MAIN, SECURITY, MAIN))
        self.write("status", "")
        self.write("apt.conf", "".join('%s "%s";\n' % (key, os.path.join(self.dir, value)) for key, value in (
            ("Dir::Etc::parts", "parts"), ("Dir::Etc::main", "none"),
            ("Dir::Etc::SourceList", "sources.list"), ("Dir::Etc::SourceParts", "sources.list.d"),
            ("Dir::Etc::Preferences", "none"), ("Dir::Etc::PreferencesParts", "preferences.d"),
            ("Dir::State::Lists", "lists"), ("Dir::State::status", "status"), ("Dir::Cache", "cache")))
            + 'Dir::Cache::pkgcache "";\nDir::Cache::srcpkgcache "";\n'
              'APT::Architecture "amd64";\nAPT::Architectures { "amd64"; "i386"; };\n')
        # The main archive's indexes, all of them; security has libz at 2.
        self.lists("main.invalid_debian_dists_bookworm_", "Debian", "bookworm",
                   {"main/binary-amd64/Packages": packages("amd64", "1", "tool"),
                    "main/binary-i386/Packages": packages("i386", "1", "tool"),
                    "main/source/Sources": "Package: libz\nBinary: libz\nVersion: 1\n"
                                           "Directory: pool\nFiles:\n 0 0 libz_1.dsc\n\n"},
                   listed=None, signed=False)

    def write(self, name, text):
        with open(os.path.join(self.dir, name), "w") as f:
            f.write(text)

    def lists(self, prefix, label, codename, indexes, listed, signed, gzipped=()):
        """The lists of one release: its release file listing `listed` (all of
        `indexes` when None) and the files of `indexes`, those in `gzipped`
        kept compressed as apt may keep them."""
        keys = list(indexes) if listed is None else listed
        self.write("lists/" + prefix + ("InRelease" if signed else "Release"),
                   release(label, codename, keys, signed))
        for key, text in indexes.items():
            name = os.path.join(self.dir, "lists", prefix + key.replace("/", "_"))
            if key in gzipped:
                with gzip.open(name + ".gz", "wt") as f:
                    f.write(text)
            else:
                self.write(name, text)

    def security(self, i386=True, listed=None):
        """The security archive: libz at 2 for amd64 and, if `i386`, for i386
        too (that one compressed); an InRelease file that lists both indexes
        unless `listed`."""
        indexes = {"main/binary-amd64/Packages": packages("amd64", "2", "newer")}
        if i386:
            indexes["main/binary-i386/Packages"] = packages("i386", "2")
        keys = listed or ["main/binary-amd64/Packages", "main/binary-i386/Packages.xz"]
        self.lists("security.invalid_debian-security_dists_bookworm-security_", "Debian-Security",
                   "bookworm-security", indexes, listed=keys, signed=True,
                   gzipped=["main/binary-i386/Packages"])

    def sh(self, command):
        env = dict(os.environ, APT_CONFIG=os.path.join(self.dir, "apt.conf"),
                   TMPDIR=os.path.join(self.dir, "tmp"))
        return subprocess.run(["bash", "-c", '. "$0"; ' + command, APT_SH],
                              capture_output=True, text=True, env=env)

    def targets(self, kind="Packages"):
        out = self.sh("apt_index_targets " + kind).stdout
        return {line.split("\t")[3]: tuple(line.split("\t")[:3]) for line in out.splitlines()}

    def installs(self, result):
        """{package: version} of the simulated install's "Inst" lines."""
        return {line.split()[1]: line.split()[2].strip("(") for line in result.stdout.splitlines()
                if line.startswith("Inst ")}

    def test_index_states_read_from_the_lists_on_disk(self):
        pin = "o=Debian,l=Debian-Security,n=bookworm-security"
        cases = [  # security lists, the state of the i386 index
            ("complete", dict(i386=True), ("present", "bookworm-security", pin)),
            ("i386 index failed to arrive", dict(i386=False), ("missing", "bookworm-security", pin)),
            ("repository without i386", dict(i386=False, listed=["main/binary-amd64/Packages"]),
             ("unoffered", "bookworm-security", pin)),
        ]
        for name, security, state in cases:
            with self.subTest(name):
                self.security(**security)
                targets = self.targets()
                self.assertEqual(targets[MISSING_I386], state)
                self.assertEqual(targets[MAIN + " bookworm/main i386 Packages"],
                                 ("present", "bookworm", "o=Debian,l=Debian,n=bookworm"))
                self.assertEqual(len(targets), 4)
                for f in os.listdir(os.path.join(self.dir, "lists")):
                    if f.startswith("security.invalid"):
                        os.remove(os.path.join(self.dir, "lists", f))
        # The release file itself failed to arrive: every index of it is missing.
        self.assertEqual(self.targets()[MISSING_I386], ("missing", "bookworm-security", ""))

    def test_complete_lists_install_as_apt_get_does(self):
        self.security(i386=True)
        ours = self.sh("apt_get install -s libz libz:i386")
        plain = self.sh("apt-get install -s libz libz:i386")
        self.assertEqual(ours.returncode, 0, ours.stderr)
        self.assertEqual(self.installs(ours), {"libz": "2", "libz:i386": "2"})
        self.assertEqual(ours.stdout, plain.stdout)
        self.assertNotIn("apt:", ours.stderr)

    def test_missing_index_keeps_one_version_of_a_multiarch_library(self):
        self.security(i386=False)
        # A part of the machine's own preferences still counts.
        self.write("preferences.d/no-tool", "Package: tool\nPin: release n=bookworm\nPin-Priority: -1\n")
        plain = self.sh("apt-get install -s libz libz:i386")
        self.assertNotEqual(plain.returncode, 0, "the lists made here do not show the fault")
        ours = self.sh("apt_get install -s libz libz:i386")
        self.assertEqual(ours.returncode, 0, ours.stderr)
        self.assertEqual(self.installs(ours), {"libz": "1", "libz:i386": "1"})
        self.assertIn("apt: package index of %s incomplete: installing from bookworm "
                      "(bookworm-security pinned to what is installed)\n" % MISSING_I386, ours.stderr)
        # A package new in the release with the missing index still comes from it.
        self.assertEqual(self.installs(self.sh("apt_get install -s newer")), {"newer": "1"})
        self.assertNotEqual(self.sh("apt_get install -s tool").returncode, 0)
        self.assertEqual(os.listdir(os.path.join(self.dir, "preferences.d")), ["no-tool"])
        self.assertEqual(os.listdir(os.path.join(self.dir, "tmp")), [])

    def test_an_install_that_fails_names_the_packages_and_the_missing_index(self):
        self.security(i386=False)
        result = self.sh("apt_get install -s -o Debug::NoLocking=1 newer:i386 libz")
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual(result.stderr.splitlines()[-1],
                         "apt: cannot install newer:i386 libz: the package index of %s did not arrive "
                         "(mirror mid-sync?); run the set-up again later" % MISSING_I386)

    def test_sources_and_packages_are_judged_apart(self):
        self.security(i386=False)
        self.assertEqual(self.targets("Sources")[MAIN + " bookworm/main Sources"],
                         ("present", "bookworm", "o=Debian,l=Debian,n=bookworm"))
        self.assertNotIn("apt:", self.sh("apt_get source --print-uris libz").stderr)
        os.remove(os.path.join(self.dir, "lists/main.invalid_debian_dists_bookworm_main_source_Sources"))
        result = self.sh("apt_get source --print-uris libz")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("apt: package index of %s bookworm/main Sources incomplete: fetching sources from "
                      "the other releases\n" % MAIN, result.stderr)
        self.assertIn("apt: cannot fetch the source of libz: ", result.stderr)


if __name__ == "__main__":
    unittest.main()
