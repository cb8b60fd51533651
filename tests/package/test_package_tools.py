#!/usr/bin/env python3
"""Tests of the release package's tools: the archive writer and the PDB path
rewriter. Run: python3 -m unittest discover -s tests/package"""
import contextlib
import gzip
import io
import os
import struct
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import check_package  # noqa: E402
import package_archive  # noqa: E402
import pdb_paths  # noqa: E402

EPOCH = 1765000000  # 2025-12-06


def make_tree(root, order, mtime, umask_mode):
    """The same files, made in the given order with the given dates and
    group/other permission bits."""
    files = {"README.txt": b"read me\n", "a.dll": b"MZ\x90\0binary", "include/h.h": b"#pragma once\n",
             "B.txt": b"upper case sorts first\n"}
    for rel in order:
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(files[rel])
        os.chmod(path, (0o700 if rel.endswith(".dll") else 0o600) | umask_mode)
        os.utime(path, (mtime, mtime))
    return root


class ArchiveTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        t = self.tmp.name
        self.one = make_tree(os.path.join(t, "one"), ["README.txt", "a.dll", "include/h.h", "B.txt"],
                             1000000000, 0o044)
        self.two = make_tree(os.path.join(t, "a", "much", "longer", "two"),
                             ["include/h.h", "B.txt", "a.dll", "README.txt"], 1700000000, 0o000)

    def out(self, name):
        return os.path.join(self.tmp.name, name)

    def test_same_files_give_the_same_archives_whatever_their_dates_order_and_folder(self):
        for kind, ext in (("zip", ".zip"), ("tar", ".tar.gz")):
            package_archive.main(["sums", self.one])
            package_archive.main(["sums", self.two])
            package_archive.main([kind, self.out("1" + ext), self.one, "--epoch", str(EPOCH)])
            package_archive.main([kind, self.out("2" + ext), self.two, "--epoch", str(EPOCH)])
            with open(self.out("1" + ext), "rb") as a, open(self.out("2" + ext), "rb") as b:
                self.assertEqual(a.read(), b.read(), kind)

    def test_zip_entries_are_sorted_dated_and_carry_fixed_modes(self):
        package_archive.write_zip(self.out("x.zip"), self.one, EPOCH)
        with zipfile.ZipFile(self.out("x.zip")) as z:
            infos = z.infolist()
            self.assertEqual([i.filename for i in infos],
                             ["B.txt", "README.txt", "a.dll", "include/", "include/h.h"])
            for i in infos:
                self.assertEqual(i.date_time, time.gmtime(EPOCH)[:6])
                self.assertEqual(i.create_system, 3)
            modes = {i.filename: i.external_attr >> 16 for i in infos}
            self.assertEqual(modes["a.dll"], 0o100755)
            self.assertEqual(modes["README.txt"], 0o100644)
            self.assertEqual(modes["include/"], 0o040755)
            self.assertEqual(z.read("include/h.h"), b"#pragma once\n")

    def test_zip_dates_before_1980_become_1980(self):
        package_archive.write_zip(self.out("x.zip"), self.one, 0)
        with zipfile.ZipFile(self.out("x.zip")) as z:
            self.assertEqual(z.infolist()[0].date_time, (1980, 1, 1, 0, 0, 0))

    def test_tar_has_no_owner_and_the_given_date_and_gzip_no_date_or_name(self):
        package_archive.write_tar_gz(self.out("x.tar.gz"), self.one, EPOCH)
        with open(self.out("x.tar.gz"), "rb") as f:
            header = f.read(10)
        self.assertEqual(header[:3], b"\x1f\x8b\x08")
        self.assertEqual(header[3] & 0x08, 0, "a file name in the gzip header")
        self.assertEqual(header[4:8], b"\0\0\0\0", "a date in the gzip header")
        with tarfile.open(self.out("x.tar.gz")) as t:
            members = t.getmembers()
            self.assertEqual([m.name for m in members],
                             ["B.txt", "README.txt", "a.dll", "include", "include/h.h"])
            for m in members:
                self.assertEqual((m.uid, m.gid, m.uname, m.gname, m.mtime), (0, 0, "", "", EPOCH))
            self.assertEqual({m.name: m.mode for m in members}["a.dll"], 0o755)
            self.assertEqual({m.name: m.mode for m in members}["include/h.h"], 0o644)
            self.assertTrue(t.getmember("include").isdir())

    def test_sums_verify_with_sha256sum_and_catch_a_changed_file(self):
        package_archive.write_sums(self.one)
        package_archive.write_sums(self.one)  # a second run does not list the first's file
        with open(os.path.join(self.one, "SHA256SUMS")) as f:
            names = [line.split("  ", 1)[1].strip() for line in f]
        self.assertEqual(names, ["B.txt", "README.txt", "a.dll", "include/h.h"])
        ok = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS"], cwd=self.one, capture_output=True)
        self.assertEqual(ok.returncode, 0, ok.stdout)
        with open(os.path.join(self.one, "include/h.h"), "ab") as f:
            f.write(b"x")
        bad = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=self.one, capture_output=True)
        self.assertNotEqual(bad.returncode, 0)

    def test_top_folder_holds_every_entry_and_unpacks_to_the_same_files(self):
        for kind, ext in (("zip", ".zip"), ("tar", ".tar.gz")):
            out = self.out("top" + ext)
            package_archive.main([kind, out, self.one, "--epoch", str(EPOCH), "--top", "pkg-1.0"])
            if kind == "zip":
                with zipfile.ZipFile(out) as z:
                    names = [i.filename.rstrip("/") for i in z.infolist()]
                    z.extractall(self.out("unpacked-" + kind))
            else:
                with tarfile.open(out) as t:
                    names = [m.name for m in t.getmembers()]
                    t.extractall(self.out("unpacked-" + kind))
            self.assertEqual(names, ["pkg-1.0", "pkg-1.0/B.txt", "pkg-1.0/README.txt", "pkg-1.0/a.dll",
                                     "pkg-1.0/include", "pkg-1.0/include/h.h"], kind)
            self.assertEqual(os.listdir(self.out("unpacked-" + kind)), ["pkg-1.0"])
            with open(os.path.join(self.out("unpacked-" + kind), "pkg-1.0/include/h.h"), "rb") as f:
                self.assertEqual(f.read(), b"#pragma once\n")

    def test_sums_of_a_given_name_leave_the_usual_file_alone(self):
        package_archive.main(["sums", self.one])
        package_archive.main(["sums", self.one, "--name", "SHA256SUMS-symbols"])
        with open(os.path.join(self.one, "SHA256SUMS-symbols")) as f:
            names = [line.split("  ", 1)[1].strip() for line in f]
        # Its own file is left out; the other sums file is a file like any.
        self.assertEqual(names, ["B.txt", "README.txt", "SHA256SUMS", "a.dll", "include/h.h"])
        ok = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS-symbols"], cwd=self.one,
                            capture_output=True)
        self.assertEqual(ok.returncode, 0, ok.stdout)


# ---- README line ends ---------------------------------------------------------


class LineEndsTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.path = os.path.join(self.tmp.name, "README.txt")
        check_package.failures.clear()
        self.addCleanup(check_package.failures.clear)

    def write(self, data):
        with open(self.path, "wb") as f:
            f.write(data)

    def read(self):
        with open(self.path, "rb") as f:
            return f.read()

    def test_crlf_gives_every_line_one_cr(self):
        cases = [
            (b"one\ntwo\n", b"one\r\ntwo\r\n"),
            (b"one\r\ntwo\r\n", b"one\r\ntwo\r\n"),  # already Windows text
            (b"one\r\ntwo\n\nfour\n", b"one\r\ntwo\r\n\r\nfour\r\n"),
        ]
        for before, after in cases:
            with self.subTest(before=before):
                self.write(before)
                package_archive.main(["crlf", self.path])
                self.assertEqual(self.read(), after)

    def test_the_package_check_wants_the_systems_line_ends(self):
        cases = [
            ("Windows text", b"a\r\nb\r\n", True, 0),
            ("a line with LF alone", b"a\r\nb\n", True, 1),
            ("a last line without its line end", b"a\r\nb", True, 1),
            ("LF text for Windows", b"a\nb\n", True, 1),
            ("Linux text", b"a\nb\n", False, 0),
            ("a CR in Linux text", b"a\r\nb\n", False, 1),
        ]
        for what, data, crlf, failures in cases:
            with self.subTest(what):
                check_package.failures.clear()
                self.write(data)
                with contextlib.redirect_stdout(io.StringIO()):  # its FAILED lines
                    check_package.check_line_ends(self.path, crlf, what)
                self.assertEqual(len(check_package.failures), failures)


# ---- PDB ----------------------------------------------------------------------

GUID = bytes(range(0x10, 0x20))


def record(kind, body):
    """A symbol record, padded to four bytes as the linker writes it."""
    body = struct.pack("<H", kind) + body
    body += b"\0" * (-(len(body) + 2) % 4)
    return struct.pack("<H", len(body)) + body


def env_block(fields):
    return record(pdb_paths.S_ENVBLOCK, b"\0" + b"".join(f.encode() + b"\0" for f in fields) + b"\0")


def module_entry(name, obj, stream, sym_bytes):
    header = bytearray(pdb_paths.MODULE_HEADER_SIZE)
    struct.pack_into("<HI", header, 34, stream, sym_bytes)
    entry = bytes(header) + name.encode() + b"\0" + obj.encode() + b"\0"
    return entry + b"\0" * (-len(entry) % 4)


def synthetic_pdb(build, signature, block_size=1024):
    """A PDB as the linker lays it out: an object of the build folder, an
    archive member, and the linker's module with its S_ENVBLOCK."""
    objname = record(0x1101, struct.pack("<I", 0) + b"* Linker *\0")  # S_OBJNAME
    symbols = struct.pack("<I", 4) + objname + env_block(
        ["cwd", build, "exe", "/usr/bin/i686-w64-mingw32-ld", "pdb", build + "/x.pdb"])
    linker = symbols + struct.pack("<I", 0)  # no global references
    mods = (module_entry(build + "/CMakeFiles/x.dir/a.cpp.obj", build + "/CMakeFiles/x.dir/a.cpp.obj", 0xFFFF, 0)
            + module_entry("b.cpp.obj", build + "/libcore.a", 0xFFFF, 0)
            + module_entry("/usr/lib/crt2.o", "/usr/lib/crt2.o", 0xFFFF, 0)
            + module_entry("* Linker *", "", 5, len(symbols)))
    dbi_header = bytearray(pdb_paths.DBI_HEADER_SIZE)
    struct.pack_into("<i", dbi_header, 24, len(mods))
    dbi = bytes(dbi_header) + mods + b"SECTION-CONTRIBUTIONS-AND-REST"
    info = struct.pack("<III", 20000404, signature, 1) + GUID + b"names"
    big = bytes(i % 251 for i in range((block_size + 200) * block_size))  # past block bs + 2
    streams = [b"\0" * 4, info, b"TPI", dbi, None, linker, b"", big]
    return pdb_paths.write_msf(block_size, streams), streams


class PdbPathsTest(unittest.TestCase):
    def test_streams_read_back_the_same_across_free_block_map_intervals(self):
        for bs in (512, 1024):
            data, streams = synthetic_pdb("/b", 1, bs)
            self.assertGreater(len(data) // bs, bs + 2, "the streams must cross a second map interval")
            self.assertEqual(pdb_paths.read_msf(data), (bs, streams))
            nblocks = struct.unpack_from("<I", data, 40)[0]
            self.assertEqual(nblocks * bs, len(data))
            fpm = data[bs:2 * bs]
            self.assertEqual([fpm[i // 8] >> (i % 8) & 1 for i in range(nblocks)], [0] * nblocks)
            self.assertEqual(fpm[nblocks // 8 + 1:bs], b"\xff" * (bs - nblocks // 8 - 1))

    def test_names_become_relative_and_the_signature_comes_from_the_guid(self):
        data, before = synthetic_pdb("/work/one/build", 0x5E55C0DE)
        bs, after = pdb_paths.read_msf(pdb_paths.rewrite(data, ["/work/one/build", "/work/one/src"]))
        self.assertEqual(after[1][4:8], GUID[:4])
        self.assertEqual(after[1][:4] + after[1][8:], before[1][:4] + before[1][8:])
        dbi = after[3]
        mod_size = struct.unpack_from("<i", dbi, 24)[0]
        self.assertEqual(dbi[64 + mod_size:], b"SECTION-CONTRIBUTIONS-AND-REST")
        names, pos, mods = [], 0, dbi[64:64 + mod_size]
        while pos < len(mods):
            name, p = pdb_paths._cstr(mods, pos + 64)
            obj, p = pdb_paths._cstr(mods, p)
            names.append((name, obj, struct.unpack_from("<HI", mods, pos + 34)))
            pos = p + (-p % 4)
        linker = after[5]
        self.assertEqual(names[:3], [("CMakeFiles/x.dir/a.cpp.obj", "CMakeFiles/x.dir/a.cpp.obj", (0xFFFF, 0)),
                                     ("b.cpp.obj", "libcore.a", (0xFFFF, 0)),
                                     ("/usr/lib/crt2.o", "/usr/lib/crt2.o", (0xFFFF, 0))])
        sym_bytes = names[3][2][1]
        self.assertEqual(linker[sym_bytes:], struct.pack("<I", 0), "global references moved or lost")
        self.assertIn(env_block(["cwd", ".", "exe", "/usr/bin/i686-w64-mingw32-ld", "pdb", "x.pdb"]),
                      linker[:sym_bytes])
        self.assertTrue(linker[:sym_bytes].endswith(env_block(["cwd", ".", "exe",
                                                               "/usr/bin/i686-w64-mingw32-ld", "pdb", "x.pdb"])))
        self.assertEqual(after[7], before[7])
        self.assertIsNone(after[4])

    def test_two_folders_give_the_same_file(self):
        a, _ = synthetic_pdb("/tmp/a", 1111)
        b, _ = synthetic_pdb("/home/someone/a/much/longer/folder", 2222)
        self.assertNotEqual(a, b)
        self.assertEqual(pdb_paths.rewrite(a, ["/tmp/a"]),
                         pdb_paths.rewrite(b, ["/home/someone/a/much/longer/folder"]))

    def test_only_whole_folder_names_are_stripped(self):
        self.assertEqual(pdb_paths.relative("/b/build", ["/b/build"]), ".")
        self.assertEqual(pdb_paths.relative("/b/build/x.obj", ["/b/build"]), "x.obj")
        self.assertEqual(pdb_paths.relative("/b/build2/x.obj", ["/b/build"]), "/b/build2/x.obj")
        self.assertEqual(pdb_paths.relative("/b/src/a.obj", ["/b/build", "/b/src"]), "a.obj")

    def test_refuses_what_it_cannot_rewrite_safely(self):
        with self.assertRaises(pdb_paths.PdbError):
            pdb_paths.rewrite(b"MZ" + b"\0" * 4096, [])
        data, streams = synthetic_pdb("/b", 1)
        # A record after the S_ENVBLOCK would hold offsets the rewrite moves.
        linker = streams[5]
        sym_bytes = len(linker) - 4
        streams[5] = linker[:sym_bytes] + struct.pack("<HH", 2, 0x0006) + linker[sym_bytes:]
        dbi = bytearray(streams[3])
        mods = dbi[64:64 + struct.unpack_from("<i", dbi, 24)[0]]
        header = 64 + mods.index(b"* Linker *\0") - pdb_paths.MODULE_HEADER_SIZE
        struct.pack_into("<I", dbi, header + 36, sym_bytes + 4)
        streams[3] = bytes(dbi)
        with self.assertRaises(pdb_paths.PdbError):
            pdb_paths.rewrite(pdb_paths.write_msf(1024, streams), ["/b"])


if __name__ == "__main__":
    unittest.main()
