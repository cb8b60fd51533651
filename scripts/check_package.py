#!/usr/bin/env python3
"""Checks the release package that scripts/package.sh wrote.

    check_package.py DIST [--same-as OTHER_DIST] [--forbid PATH...] [--wine]

  DIST             the folder holding the archives and SHA256SUMS
  --same-as OTHER  every file of OTHER must be byte-identical to DIST's
  --forbid PATH    no file in any archive may hold PATH (in 8-bit or UTF-16)
  --wine           also run mp4vcfg.exe from the unpacked Windows archive

Each system's archive and its symbols archive are unpacked into one empty
folder and checked: both unpack into one top folder named like the
binaries' archive, the symbols overwrite no file, the files each must hold
and no others, both checksum files (SHA256SUMS, SHA256SUMS-symbols),
binaries of the system's architecture, stripped, with a debug link that
names their .debug file and its CRC, PDBs that match their binary's
CodeView record, Windows manifests that name their binary's architecture,
README.txt with the system's line ends (CR LF for Windows, LF for Linux),
and mp4vcfg running from that folder alone. Prints one line per failed
check and exits 1 if there was one.
"""
import argparse
import hashlib
import os
import re
import subprocess
import sys
import tarfile
import tempfile
import zipfile
import zlib

import pe_manifest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Per Windows archive: the tools, objdump's file format and the decoration
# of a C name among a PDB's public symbols.
WINDOWS = {
    "win32": ("i686-w64-mingw32-", "pei-i386", "_"),
    "win64": ("x86_64-w64-mingw32-", "pei-x86-64", ""),
}
SYMBOL_SUMS = "SHA256SUMS-symbols"
PDBUTIL_NAMES = ("llvm-pdbutil-14", "llvm-pdbutil")

failures = []


def fail(message):
    failures.append(message)
    print("  FAILED: " + message)


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, errors="replace", **kw)


def version():
    text = open(os.path.join(ROOT, "src/api/version.h")).read()
    return ".".join(re.search(r"^#define MP4V_VERSION_%s (\d+)$" % p, text, re.M).group(1)
                    for p in ("MAJOR", "MINOR", "PATCH", "BUILD"))


def files_under(root):
    out = []
    for here, _dirs, files in os.walk(root):
        out += [os.path.relpath(os.path.join(here, f), root).replace(os.sep, "/") for f in files]
    return sorted(out)


def unpack(archive, into, exist_ok=False):
    os.makedirs(into, exist_ok=exist_ok)
    if archive.endswith(".zip"):
        with zipfile.ZipFile(archive) as z:
            z.extractall(into)
    else:
        with tarfile.open(archive) as t:
            t.extractall(into, filter="data") if hasattr(tarfile, "data_filter") else t.extractall(into)
    return into


def check_sums(folder, label, sums="SHA256SUMS", files=None):
    """`sums` in `folder` verifies and lists exactly `files` (default: every
    other file there)."""
    listed = run(["sha256sum", "--strict", "-c", sums], cwd=folder)
    if listed.returncode != 0:
        fail("%s: sha256sum -c %s: %s" % (label, sums, (listed.stdout + listed.stderr).strip()))
    names = sorted(line.split("  ", 1)[1].rstrip("\n")
                   for line in open(os.path.join(folder, sums)) if line.strip())
    others = sorted(files) if files is not None else [f for f in files_under(folder) if f != sums]
    if names != others:
        fail("%s: %s lists %s, the archive holds %s" % (label, sums, names, others))


def archive_files(archive):
    """The names of the files (not folders) an archive holds."""
    if archive.endswith(".zip"):
        with zipfile.ZipFile(archive) as z:
            return [n for n in z.namelist() if not n.endswith("/")]
    with tarfile.open(archive) as t:
        return [m.name for m in t.getmembers() if not m.isdir()]


def unpack_pair(main_archive, symbols_archive, into, top, label):
    """Unpacks both archives into `into`, as a person would unpack them in
    one place; checks that each holds one top folder `top` and that the
    symbols overwrite nothing. The folder the files are in."""
    main_files, symbol_files = archive_files(main_archive), archive_files(symbols_archive)
    for archive, names in ((main_archive, main_files), (symbols_archive, symbol_files)):
        tops = sorted({n.split("/", 1)[0] for n in names})
        if tops != [top]:
            fail("%s: %s unpacks into %s, not one folder %s" % (label, os.path.basename(archive), tops, top))
    clash = sorted(set(main_files) & set(symbol_files))
    if clash:
        fail("%s: the symbols archive overwrites %s" % (label, clash))
    unpack(main_archive, into)
    unpack(symbols_archive, into, exist_ok=True)
    folder = os.path.join(into, top)
    strip = lambda names: [n.split("/", 1)[1] for n in names if "/" in n]
    return folder, strip(main_files), strip(symbol_files)


def check_line_ends(path, crlf, label):
    """The text file at `path` ends every line with CR LF (`crlf`, as
    Windows text files do) or with LF alone."""
    data = open(path, "rb").read()
    lines, carriage_returns, pairs = data.count(b"\n"), data.count(b"\r"), data.count(b"\r\n")
    if crlf and not (lines > 0 and pairs == lines == carriage_returns and data.endswith(b"\r\n")):
        fail("%s: %d of its %d lines end with CR LF (%d CRs), not every one" % (
            label, pairs, lines, carriage_returns))
    if not crlf and carriage_returns:
        fail("%s: %d CRs in a text that ends its lines with LF" % (label, carriage_returns))


def section_names(tools, binary):
    out = run([tools + "objdump", "-h", binary]).stdout
    return re.findall(r"^\s*\d+\s+(\S+)", out, re.M)


def check_stripped(tools, binary, symbols_dir, label):
    sections = section_names(tools, binary)
    if any(s.startswith(".debug_") for s in sections):
        fail("%s: still holds debugging information" % label)
    if run([tools + "nm", binary]).stderr.find("no symbols") < 0:
        fail("%s: still has a symbol table" % label)
    with tempfile.TemporaryDirectory() as tmp:
        dumped = os.path.join(tmp, "link")
        r = run([tools + "objcopy", "--dump-section", ".gnu_debuglink=" + dumped, binary,
                 os.path.join(tmp, "copy")])
        if r.returncode != 0 or not os.path.exists(dumped):
            fail("%s: no debug link" % label)
            return
        link = open(dumped, "rb").read()
    name = link[:link.index(b"\0")].decode()
    crc = int.from_bytes(link[-4:], "little")
    debug = os.path.join(symbols_dir, name)
    if name != os.path.basename(binary) + ".debug" or not os.path.isfile(debug):
        fail("%s: the debug link names %r, which the symbols archive does not hold" % (label, name))
        return
    if zlib.crc32(open(debug, "rb").read()) != crc:
        fail("%s: the debug link's CRC does not match %s" % (label, name))
    if ".debug_info" not in section_names(tools, debug):
        fail("%s: %s holds no debugging information" % (label, name))


def pdbutil():
    for name in PDBUTIL_NAMES:
        if run(["sh", "-c", "command -v " + name]).returncode == 0:
            return name
    return None


def check_pdb(tools, binary, pdb, public, label):
    """The binary's CodeView record names the PDB by file name alone and
    carries the PDB's GUID and age; the PDB reads and holds public symbols,
    `public` among them when given."""
    m = re.search(r"format RSDS signature ([0-9a-f]{32}) age (\d+) pdb (\S+)\)",
                  run([tools + "objdump", "-p", binary]).stdout)
    if not m:
        fail("%s: no CodeView record in the debug directory" % label)
        return
    guid, age, name = m.groups()
    if name != os.path.basename(pdb):
        fail("%s: the CodeView record names %r, not %r" % (label, name, os.path.basename(pdb)))
    tool = pdbutil()
    if tool is None:
        fail("llvm-pdbutil not found (llvm-14)")
        return
    summary = run([tool, "dump", "--summary", pdb])
    g = re.search(r"GUID: \{([0-9A-F-]+)\}", summary.stdout)
    a = re.search(r"Age: (\d+)", summary.stdout)
    if summary.returncode != 0 or not g or not a:
        fail("%s: %s does not read: %s" % (label, os.path.basename(pdb), summary.stderr.strip()))
        return
    if g.group(1).replace("-", "").lower() != guid or a.group(1) != age:
        fail("%s: PDB GUID/age %s/%s, binary %s/%s" % (label, g.group(1), a.group(1), guid, age))
    publics = run([tool, "dump", "--publics", pdb])
    if publics.returncode != 0 or "S_PUB32" not in publics.stdout or (
            public and ("`%s`" % public) not in publics.stdout):
        fail("%s: %s has no public symbol %s" % (label, os.path.basename(pdb), public or "at all"))
    streams = run([tool, "dump", "--streams", pdb])
    if streams.returncode != 0 or "* Linker *" not in streams.stdout:
        fail("%s: %s: stream list unreadable" % (label, os.path.basename(pdb)))


def check_no_paths(folder, paths, label):
    needles = [(p, p.encode()) for p in paths] + [(p, p.encode("utf-16-le")) for p in paths]
    for rel in files_under(folder):
        data = open(os.path.join(folder, rel), "rb").read()
        for text, needle in needles:
            if needle in data:
                fail("%s: %s holds the path %s" % (label, rel, text))


def check_info(command, folder, module_path, env, label):
    r = subprocess.run(command, cwd=folder, env=env, capture_output=True)
    out = r.stdout.decode("utf-8", "replace").replace("\r", "")
    if r.returncode != 0:
        fail("%s: `info` exited %d: %s" % (label, r.returncode,
                                              r.stderr.decode("utf-8", "replace")[-400:]))
        return
    if not re.search(r"^version\s+%s$" % re.escape(version()), out, re.M):
        fail("%s: `info` shows no version %s:\n%s" % (label, version(), out))
    m = re.search(r"^module\s+(.*)$", out, re.M)
    if not m or m.group(1) != module_path:
        fail("%s: `info` used the module %r, not %r" % (label, m and m.group(1), module_path))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("dist")
    parser.add_argument("--same-as")
    parser.add_argument("--forbid", action="append", default=[])
    parser.add_argument("--wine", action="store_true")
    args = parser.parse_args(argv)
    dist = os.path.abspath(args.dist)
    name = "demo_config_mp4v-" + version()
    systems = ["win32", "win64", "linux-x86_64"]
    archives = {}
    for system in systems:
        ext = ".tar.gz" if system.startswith("linux") else ".zip"
        archives[system] = (name + "-" + system + ext, name + "-" + system + "-symbols" + ext)
    all_archives = [a for pair in archives.values() for a in pair]

    print("archives in %s" % dist)
    present = sorted(os.listdir(dist))
    if present != sorted(all_archives + ["SHA256SUMS"]):
        fail("the folder holds %s" % present)
        return 1
    check_sums(dist, "dist")

    if args.same_as:
        print("byte-identical to %s" % args.same_as)
        for f in present:
            a = hashlib.sha256(open(os.path.join(dist, f), "rb").read()).hexdigest()
            other = os.path.join(args.same_as, f)
            b = hashlib.sha256(open(other, "rb").read()).hexdigest() if os.path.exists(other) else "missing"
            print("  %s %s %s" % (a[:16], "==" if a == b else "!= " + b[:16], f))
            if a != b:
                fail("%s differs between the two builds" % f)

    with tempfile.TemporaryDirectory() as tmp:
        folders = {}
        for system in systems:
            main_archive, symbols_archive = archives[system]
            print("%s: %s and %s unpacked into one folder" % (system, main_archive, symbols_archive))
            folder, main_files, symbol_files = unpack_pair(
                os.path.join(dist, main_archive), os.path.join(dist, symbols_archive),
                os.path.join(tmp, system), name + "-" + system, system)
            folders[system] = folder
            check_sums(folder, main_archive, "SHA256SUMS", [f for f in main_files if f != "SHA256SUMS"])
            check_sums(folder, symbols_archive, SYMBOL_SUMS, [f for f in symbol_files if f != SYMBOL_SUMS])
            if system.startswith("linux"):
                continue
            tools, file_format, prefix = WINDOWS[system]
            binaries = ["demo_config_mp4v.dll", "mp4vcfg.exe"]
            if os.path.exists(os.path.join(folder, "demo_config_gui_mp4v.dll")):
                binaries.insert(1, "demo_config_gui_mp4v.dll")
            expected = sorted(binaries + ["LICENSE", "README.txt", "SHA256SUMS", "include/mp4v_config.h"])
            if sorted(main_files) != expected:
                fail("%s holds %s, not %s" % (main_archive, sorted(main_files), expected))
            expected_sym = sorted([b + ".debug" for b in binaries] +
                                  [os.path.splitext(b)[0] + ".pdb" for b in binaries] + [SYMBOL_SUMS])
            if sorted(symbol_files) != expected_sym:
                fail("%s holds %s, not %s" % (symbols_archive, sorted(symbol_files), expected_sym))
            publics = {"demo_config_mp4v.dll": prefix + "MP4VConfigGetAPIExt", "mp4vcfg.exe": prefix + "main",
                       "demo_config_gui_mp4v.dll": None}
            for b in binaries:
                path = os.path.join(folder, b)
                if not os.path.exists(path):
                    continue
                if ("file format " + file_format) not in run([tools + "objdump", "-f", path]).stdout:
                    fail("%s %s: not %s" % (system, b, file_format))
                check_stripped(tools, path, folder, "%s %s" % (system, b))
                pdb = os.path.join(folder, os.path.splitext(b)[0] + ".pdb")
                if os.path.exists(pdb):
                    check_pdb(tools, path, pdb, publics[b], "%s %s" % (system, b))
            check_line_ends(os.path.join(folder, "README.txt"), True, "%s README.txt" % system)
            for b in binaries:
                if b != "demo_config_mp4v.dll" and os.path.exists(os.path.join(folder, b)):
                    _lines, manifest_failures = pe_manifest.check_file(os.path.join(folder, b))
                    for failure in manifest_failures:
                        fail("%s %s" % (system, failure))
            dump = run([tools + "objdump", "-p", os.path.join(folder, "demo_config_mp4v.dll")]).stdout
            imports = sorted(x.lower() for x in re.findall(r"^\s*DLL Name: (\S+)", dump, re.M))
            table = dump.split("[Ordinal/Name Pointer] Table", 1)[-1].split("\n\n", 1)[0]
            exports = re.findall(r"^\s*\[\s*\d+\] (\S+)$", table, re.M)
            if imports != ["kernel32.dll", "msvcrt.dll"] or exports != ["MP4VConfigGetAPIExt"]:
                fail("%s demo_config_mp4v.dll: imports %s, exports %s" % (system, imports, exports))

        print("Linux archive")
        lin, lin_sym = archives["linux-x86_64"]
        l = folders["linux-x86_64"]
        expected = ["LICENSE", "README.txt", "SHA256SUMS", "demo_config_mp4v.so",
                    "include/mp4v_config.h", "mp4vcfg"]
        expected_all = sorted(expected + [SYMBOL_SUMS, "demo_config_mp4v.so.debug", "mp4vcfg.debug"])
        if files_under(l) != expected_all:
            fail("%s and %s hold %s" % (lin, lin_sym, files_under(l)))
        for b in ("demo_config_mp4v.so", "mp4vcfg"):
            if os.path.exists(os.path.join(l, b)):
                check_stripped("", os.path.join(l, b), l, b)
        check_line_ends(os.path.join(l, "README.txt"), False, "linux README.txt")
        dynsym = run(["nm", "-D", "--defined-only", os.path.join(l, "demo_config_mp4v.so")]).stdout
        if re.findall(r" T (\S+)", dynsym) != ["MP4VConfigGetAPIExt"]:
            fail("demo_config_mp4v.so exports %s" % re.findall(r" T (\S+)", dynsym))

        print("no build paths (%s)" % ", ".join(args.forbid) if args.forbid else "no paths given")
        for system, folder in folders.items():
            check_no_paths(folder, args.forbid, system)

        print("mp4vcfg info from the unpacked folders alone")
        env = {k: v for k, v in os.environ.items() if not k.startswith("LD_")}
        check_info([os.path.join(l, "mp4vcfg"), "info"], l,
                   os.path.join(l, "demo_config_mp4v.so"), env, "linux mp4vcfg")
        if args.wine:
            for system, script in (
                    ("win32", 'unset WINESERVER WINELOADER && source "%s/scripts/wine-env.sh" && export WINEDEBUG=-all && exec wine mp4vcfg.exe info'),
                    ("win64", 'source "%s/scripts/wine64-env.sh" && exec "$WINELOADER" mp4vcfg.exe info')):
                w = folders[system]
                check_info(["bash", "-c", script % ROOT, "mp4vcfg.exe", "info"], w,
                           "Z:" + w.replace("/", "\\") + "\\demo_config_mp4v.dll", dict(os.environ),
                           "wine %s mp4vcfg.exe" % system)

    print("%d check(s) failed" % len(failures) if failures else "package checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
