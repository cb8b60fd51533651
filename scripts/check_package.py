#!/usr/bin/env python3
"""Checks the release package that scripts/package.sh wrote.

    check_package.py DIST [--same-as OTHER_DIST] [--forbid PATH...] [--wine]

  DIST             the folder holding the archives and SHA256SUMS
  --same-as OTHER  every file of OTHER must be byte-identical to DIST's
  --forbid PATH    no file in any archive may hold PATH (in 8-bit or UTF-16)
  --wine           also run mp4vcfg.exe from the unpacked Windows archive

Each archive is unpacked into an empty folder and checked: the files it must
hold and no others, its SHA256SUMS, stripped binaries with a debug link
that names their .debug file and its CRC, PDBs that match their binary's
CodeView record, and mp4vcfg running from that folder alone. Prints one
line per failed check and exits 1 if there was one.
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

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MINGW = "i686-w64-mingw32-"
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


def unpack(archive, into):
    os.makedirs(into)
    if archive.endswith(".zip"):
        with zipfile.ZipFile(archive) as z:
            z.extractall(into)
    else:
        with tarfile.open(archive) as t:
            t.extractall(into, filter="data") if hasattr(tarfile, "data_filter") else t.extractall(into)
    return into


def check_sums(folder, label):
    listed = run(["sha256sum", "--strict", "-c", "SHA256SUMS"], cwd=folder)
    if listed.returncode != 0:
        fail("%s: sha256sum -c SHA256SUMS: %s" % (label, (listed.stdout + listed.stderr).strip()))
    names = sorted(line.split("  ", 1)[1].rstrip("\n")
                   for line in open(os.path.join(folder, "SHA256SUMS")) if line.strip())
    others = [f for f in files_under(folder) if f != "SHA256SUMS"]
    if names != others:
        fail("%s: SHA256SUMS lists %s, the archive holds %s" % (label, names, others))


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


def check_pdb(binary, pdb, public, label):
    """The binary's CodeView record names the PDB by file name alone and
    carries the PDB's GUID and age; the PDB reads and holds public symbols,
    `public` among them when given."""
    m = re.search(r"format RSDS signature ([0-9a-f]{32}) age (\d+) pdb (\S+)\)",
                  run([MINGW + "objdump", "-p", binary]).stdout)
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
    win, win_sym = name + "-win32.zip", name + "-win32-symbols.zip"
    lin, lin_sym = name + "-linux-x86_64.tar.gz", name + "-linux-x86_64-symbols.tar.gz"

    print("archives in %s" % dist)
    present = sorted(os.listdir(dist))
    if present != sorted([win, win_sym, lin, lin_sym, "SHA256SUMS"]):
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
        for archive in (win, win_sym, lin, lin_sym):
            folders[archive] = unpack(os.path.join(dist, archive), os.path.join(tmp, archive))
        for archive, folder in folders.items():
            check_sums(folder, archive)

        print("Windows archive")
        w, ws = folders[win], folders[win_sym]
        binaries = ["demo_config_mp4v.dll", "mp4vcfg.exe"]
        if os.path.exists(os.path.join(w, "demo_config_gui_mp4v.dll")):
            binaries.insert(1, "demo_config_gui_mp4v.dll")
        expected = sorted(binaries + ["LICENSE", "README.txt", "SHA256SUMS", "include/mp4v_config.h"])
        if files_under(w) != expected:
            fail("%s holds %s, not %s" % (win, files_under(w), expected))
        expected_sym = sorted([b + ".debug" for b in binaries] +
                              [os.path.splitext(b)[0] + ".pdb" for b in binaries] + ["SHA256SUMS"])
        if files_under(ws) != expected_sym:
            fail("%s holds %s, not %s" % (win_sym, files_under(ws), expected_sym))
        publics = {"demo_config_mp4v.dll": "_MP4VConfigGetAPIExt", "mp4vcfg.exe": "_main",
                   "demo_config_gui_mp4v.dll": None}
        for b in binaries:
            path = os.path.join(w, b)
            if not os.path.exists(path):
                continue
            check_stripped(MINGW, path, ws, b)
            pdb = os.path.join(ws, os.path.splitext(b)[0] + ".pdb")
            if os.path.exists(pdb):
                check_pdb(path, pdb, publics[b], b)
        dump = run([MINGW + "objdump", "-p", os.path.join(w, "demo_config_mp4v.dll")]).stdout
        imports = sorted(x.lower() for x in re.findall(r"^\s*DLL Name: (\S+)", dump, re.M))
        table = dump.split("[Ordinal/Name Pointer] Table", 1)[-1].split("\n\n", 1)[0]
        exports = re.findall(r"^\s*\[\s*\d+\] (\S+)$", table, re.M)
        if imports != ["kernel32.dll", "msvcrt.dll"] or exports != ["MP4VConfigGetAPIExt"]:
            fail("demo_config_mp4v.dll: imports %s, exports %s" % (imports, exports))

        print("Linux archive")
        l, ls = folders[lin], folders[lin_sym]
        expected = ["LICENSE", "README.txt", "SHA256SUMS", "demo_config_mp4v.so",
                    "include/mp4v_config.h", "mp4vcfg"]
        if files_under(l) != expected:
            fail("%s holds %s, not %s" % (lin, files_under(l), expected))
        if files_under(ls) != ["SHA256SUMS", "demo_config_mp4v.so.debug", "mp4vcfg.debug"]:
            fail("%s holds %s" % (lin_sym, files_under(ls)))
        for b in ("demo_config_mp4v.so", "mp4vcfg"):
            if os.path.exists(os.path.join(l, b)):
                check_stripped("", os.path.join(l, b), ls, b)
        dynsym = run(["nm", "-D", "--defined-only", os.path.join(l, "demo_config_mp4v.so")]).stdout
        if re.findall(r" T (\S+)", dynsym) != ["MP4VConfigGetAPIExt"]:
            fail("demo_config_mp4v.so exports %s" % re.findall(r" T (\S+)", dynsym))

        print("no build paths (%s)" % ", ".join(args.forbid) if args.forbid else "no paths given")
        for archive, folder in folders.items():
            check_no_paths(folder, args.forbid, archive)

        print("mp4vcfg info from the unpacked folders alone")
        env = {k: v for k, v in os.environ.items() if not k.startswith("LD_")}
        check_info([os.path.join(l, "mp4vcfg"), "info"], l,
                   os.path.join(l, "demo_config_mp4v.so"), env, "linux mp4vcfg")
        if args.wine:
            script = 'source "%s/scripts/wine-env.sh" && export WINEDEBUG=-all && exec wine mp4vcfg.exe info' % ROOT
            check_info(["bash", "-c", script, "mp4vcfg.exe", "info"], w,
                       "Z:" + w.replace("/", "\\") + "\\demo_config_mp4v.dll", dict(os.environ),
                       "wine mp4vcfg.exe")

    print("%d check(s) failed" % len(failures) if failures else "package checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
