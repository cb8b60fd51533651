#!/usr/bin/env python3
"""Checks that the manifests a Windows binary carries name its architecture.

    pe_manifest.py FILE...

For each PE file (DLL or EXE): its machine (i386 or AMD64), and every
manifest resource (RT_MANIFEST, type 24) it holds. A manifest's own
assemblyIdentity, where it has one, must name the binary's architecture
(x86 for i386, amd64 for AMD64); the identity of an assembly it depends on
must name that architecture or "*" (any). A manifest that names another
architecture makes Windows refuse it when it activates it, as the settings
pages do around their sheet. Prints one line per manifest and exits 1 when a
file holds none or any check fails.
"""
import struct
import sys
import xml.etree.ElementTree as ElementTree

RT_MANIFEST = 24
# PE machine -> the processorArchitecture a manifest gives it.
ARCHITECTURES = {0x014C: "x86", 0x8664: "amd64"}
ASSEMBLY_NS = "{urn:schemas-microsoft-com:asm.v1}"


class PEError(Exception):
    pass


def _u16(data, offset):
    return struct.unpack_from("<H", data, offset)[0]


def _u32(data, offset):
    return struct.unpack_from("<I", data, offset)[0]


def read_pe(data):
    """(machine, [(type, name, language, bytes)] of every resource)."""
    if data[:2] != b"MZ":
        raise PEError("no MZ header")
    pe = _u32(data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise PEError("no PE signature")
    machine = _u16(data, pe + 4)
    sections = _u16(data, pe + 6)
    optional_size = _u16(data, pe + 20)
    optional = pe + 24
    magic = _u16(data, optional)
    if magic == 0x10B:
        count_at, directories = optional + 92, optional + 96
    elif magic == 0x20B:
        count_at, directories = optional + 108, optional + 112
    else:
        raise PEError("optional header magic %#x" % magic)
    resources = []
    if _u32(data, count_at) <= 2:
        return machine, resources
    resource_rva = _u32(data, directories + 2 * 8)
    if resource_rva == 0:
        return machine, resources
    table = optional + optional_size
    spans = []
    for i in range(sections):
        header = table + 40 * i
        virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from(
            "<IIII", data, header + 8)
        spans.append((virtual_address, max(virtual_size, raw_size), raw_pointer))

    def file_offset(rva):
        for start, size, raw in spans:
            if start <= rva < start + size:
                return raw + rva - start
        raise PEError("RVA %#x lies in no section" % rva)

    base = file_offset(resource_rva)

    def entries(directory):
        named, numbered = _u16(data, directory + 12), _u16(data, directory + 14)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, directory + 16 + 8 * i)
            yield (name & 0x7FFFFFFF if name & 0x80000000 else name,
                   bool(name & 0x80000000), target)

    # Three levels: type, name, language; then the data entry.
    for rtype, rtype_named, t in entries(base):
        if not t & 0x80000000:
            continue
        for rname, _named, n in entries(base + (t & 0x7FFFFFFF)):
            if not n & 0x80000000:
                continue
            for language, _lnamed, leaf in entries(base + (n & 0x7FFFFFFF)):
                if leaf & 0x80000000:
                    continue
                rva, size = struct.unpack_from("<II", data, base + leaf)
                start = file_offset(rva)
                resources.append((None if rtype_named else rtype, rname, language,
                                  data[start:start + size]))
    return machine, resources


def manifest_architectures(text):
    """(own identity's processorArchitecture or None, [dependencies' ones])."""
    root = ElementTree.fromstring(text)
    own = root.find(ASSEMBLY_NS + "assemblyIdentity")
    dependencies = [identity.get("processorArchitecture")
                    for dependent in root.iter(ASSEMBLY_NS + "dependentAssembly")
                    for identity in dependent.findall(ASSEMBLY_NS + "assemblyIdentity")]
    return (own.get("processorArchitecture") if own is not None else None), dependencies


def check_file(path):
    """Lines describing the file's manifests and a list of failures."""
    with open(path, "rb") as f:
        data = f.read()
    machine, resources = read_pe(data)
    architecture = ARCHITECTURES.get(machine)
    if architecture is None:
        return [], ["%s: machine %#x is neither i386 nor AMD64" % (path, machine)]
    lines, failures = [], []
    manifests = [(name, body) for rtype, name, _language, body in resources
                 if rtype == RT_MANIFEST]
    if not manifests:
        failures.append("%s: no manifest resource" % path)
    for name, body in manifests:
        try:
            own, dependencies = manifest_architectures(body)
        except ElementTree.ParseError as e:
            failures.append("%s: manifest %d does not parse: %s" % (path, name, e))
            continue
        lines.append("%s: %s, manifest %d: own %s, dependencies %s" % (
            path, architecture, name, own or "(no identity)", ", ".join(
                str(d) for d in dependencies) or "none"))
        if own is not None and own != architecture:
            failures.append("%s: manifest %d names %s, the binary is %s" % (
                path, name, own, architecture))
        for dependency in dependencies:
            if dependency not in (architecture, "*"):
                failures.append("%s: manifest %d depends on an assembly for %s, the binary is %s"
                                % (path, name, dependency, architecture))
    return lines, failures


def main(argv):
    if not argv:
        print(__doc__.strip().split("\n\n")[1])
        return 2
    failed = False
    for path in argv:
        try:
            lines, failures = check_file(path)
        except (OSError, PEError, struct.error) as e:
            lines, failures = [], ["%s: %s" % (path, e)]
        for line in lines:
            print("  " + line)
        for failure in failures:
            print("  FAILED: " + failure)
        failed = failed or bool(failures)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
