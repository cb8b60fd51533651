#!/usr/bin/env python3
"""Tests of the manifest check of the Windows binaries (scripts/pe_manifest.py)
on PE files made here. Run: python3 -m unittest discover -s tests/package"""
import os
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import pe_manifest  # noqa: E402

I386, AMD64 = 0x014C, 0x8664
SECTION_RVA, SECTION_FILE = 0x1000, 0x200


def manifest(own=None, dependency="*"):
    identity = ('  <assemblyIdentity type="win32" name="Test" version="1.0.0.0" '
                'processorArchitecture="%s"/>\n' % own) if own else ""
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">\n'
            + identity +
            '  <dependency><dependentAssembly>\n'
            '    <assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" '
            'version="6.0.0.0" processorArchitecture="%s" publicKeyToken="6595b64144ccf1df" '
            'language="*"/>\n'
            '  </dependentAssembly></dependency>\n'
            '</assembly>\n' % dependency).encode()


def resource_section(resources):
    """The bytes of a resource section at SECTION_RVA holding `resources`,
    {(type, id): bytes}, each in language 0x409."""
    types = sorted({t for t, _ in resources})
    directory = lambda count: struct.pack("<IIHHHH", 0, 0, 0, 0, 0, count)
    # Sizes first, so that every offset is known: the root, one name
    # directory per type, one language directory and data entry per resource.
    root_size = 16 + 8 * len(types)
    names = {t: sorted(i for tt, i in resources if tt == t) for t in types}
    offset = root_size
    name_at = {}
    for t in types:
        name_at[t] = offset
        offset += 16 + 8 * len(names[t])
    language_at, entry_at = {}, {}
    for key in sorted(resources):
        language_at[key] = offset
        offset += 16 + 8
    for key in sorted(resources):
        entry_at[key] = offset
        offset += 16
    data_at = {}
    for key in sorted(resources):
        data_at[key] = offset
        offset += (len(resources[key]) + 3) & ~3
    out = bytearray(offset)
    out[0:16] = directory(len(types))
    for i, t in enumerate(types):
        struct.pack_into("<II", out, 16 + 8 * i, t, 0x80000000 | name_at[t])
        out[name_at[t]:name_at[t] + 16] = directory(len(names[t]))
        for j, rid in enumerate(names[t]):
            struct.pack_into("<II", out, name_at[t] + 16 + 8 * j, rid,
                             0x80000000 | language_at[(t, rid)])
    for key, body in resources.items():
        at = language_at[key]
        out[at:at + 16] = directory(1)
        struct.pack_into("<II", out, at + 16, 0x409, entry_at[key])
        struct.pack_into("<IIII", out, entry_at[key], SECTION_RVA + data_at[key], len(body), 0, 0)
        out[data_at[key]:data_at[key] + len(body)] = body
    return bytes(out)


def make_pe(machine, resources):
    """A PE file of `machine` (PE32 for i386, PE32+ for AMD64) whose one
    section holds `resources`."""
    plus = machine == AMD64
    optional_size = (112 if plus else 96) + 16 * 8
    section = resource_section(resources)
    raw_size = (len(section) + 0x1FF) & ~0x1FF
    pe = bytearray(SECTION_FILE + raw_size)
    pe[0:2] = b"MZ"
    struct.pack_into("<I", pe, 0x3C, 0x40)
    pe[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", pe, 0x44, machine, 1, 0, 0, 0, optional_size, 0x2102)
    optional = 0x58
    struct.pack_into("<H", pe, optional, 0x20B if plus else 0x10B)
    struct.pack_into("<I", pe, optional + (108 if plus else 92), 16)
    struct.pack_into("<II", pe, optional + (112 if plus else 96) + 2 * 8, SECTION_RVA, len(section))
    header = optional + optional_size
    struct.pack_into("<8sIIII", pe, header, b".rsrc", len(section), SECTION_RVA, raw_size, SECTION_FILE)
    pe[SECTION_FILE:SECTION_FILE + len(section)] = section
    return bytes(pe)


class PEManifestTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def check(self, machine, resources):
        path = os.path.join(self.tmp.name, "x.dll")
        with open(path, "wb") as f:
            f.write(make_pe(machine, resources))
        return pe_manifest.check_file(path)

    def test_reads_every_resource_of_both_pe_forms(self):
        resources = {(24, 2): manifest("x86"), (16, 1): b"version", (24, 1): manifest()}
        for machine in (I386, AMD64):
            found, listed = pe_manifest.read_pe(make_pe(machine, resources))
            self.assertEqual(found, machine)
            self.assertEqual(sorted((t, n, lang, body) for t, n, lang, body in listed),
                             sorted((t, n, 0x409, body) for (t, n), body in resources.items()))

    def test_each_manifest_must_name_the_binarys_own_architecture(self):
        cases = [
            ("x86 manifest in an i386 binary", I386, manifest("x86"), True),
            ("amd64 manifest in an AMD64 binary", AMD64, manifest("amd64"), True),
            ("x86 manifest in an AMD64 binary", AMD64, manifest("x86"), False),
            ("amd64 manifest in an i386 binary", I386, manifest("amd64"), False),
            ("no identity of its own (a program's)", AMD64, manifest(None), True),
            ("a dependency for any architecture", I386, manifest("x86", "*"), True),
            ("a dependency for its own architecture", AMD64, manifest("amd64", "amd64"), True),
            ("a dependency for the other architecture", AMD64, manifest("amd64", "x86"), False),
        ]
        for what, machine, body, good in cases:
            with self.subTest(what):
                lines, failures = self.check(machine, {(24, 2): body})
                self.assertEqual(failures == [], good, failures)
                self.assertEqual(len(lines), 1)

    def test_a_binary_without_a_manifest_fails(self):
        _, failures = self.check(I386, {(16, 1): b"version only"})
        self.assertEqual(len(failures), 1)
        self.assertIn("no manifest", failures[0])

    def test_the_command_exits_1_on_any_failed_file(self):
        good = os.path.join(self.tmp.name, "good.dll")
        bad = os.path.join(self.tmp.name, "bad.dll")
        with open(good, "wb") as f:
            f.write(make_pe(AMD64, {(24, 2): manifest("amd64")}))
        with open(bad, "wb") as f:
            f.write(make_pe(AMD64, {(24, 2): manifest("x86")}))
        self.assertEqual(pe_manifest.main([good]), 0)
        self.assertEqual(pe_manifest.main([good, bad]), 1)
        with open(bad, "wb") as f:
            f.write(b"not a PE file")
        self.assertEqual(pe_manifest.main([bad]), 1)


if __name__ == "__main__":
    unittest.main()
