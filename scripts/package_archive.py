#!/usr/bin/env python3
"""Writes the release archives so that the same files give the same bytes.

    package_archive.py sums DIR [--name NAME]   writes DIR/SHA256SUMS (or DIR/NAME)
    package_archive.py crlf FILE              gives a text file CR LF line ends
    package_archive.py zip OUT.zip DIR        --epoch SECONDS [--top FOLDER]
    package_archive.py tar OUT.tar.gz DIR     --epoch SECONDS [--top FOLDER]

With --top every entry lies in one top folder of that name, so the archive
unpacks into it. Entries are in byte order of their paths (directories
before what they hold), every entry carries the given date, files are 0644, or 0755 when
executable, directories 0755, and owner and group are 0 without names. The
gzip header holds no date and no file name.
"""
import argparse
import gzip
import hashlib
import io
import os
import stat
import sys
import tarfile
import time
import zipfile

SUMS_NAME = "SHA256SUMS"
ZIP_EPOCH_MIN = 315532800  # 1980-01-01, the first date a zip entry can hold


def entries(root):
    """(path relative to root with '/', is directory) for everything under
    root, sorted by path bytes."""
    found = []
    for here, dirs, files in os.walk(root):
        rel = os.path.relpath(here, root)
        for name in dirs:
            found.append((os.path.normpath(os.path.join(rel, name)), True))
        for name in files:
            found.append((os.path.normpath(os.path.join(rel, name)), False))
    found = [(p.replace(os.sep, "/"), d) for p, d in found]
    return sorted(found, key=lambda e: e[0].encode("utf-8", "surrogateescape"))


def mode_of(path, is_dir):
    if is_dir:
        return 0o755
    return 0o755 if os.stat(path).st_mode & stat.S_IXUSR else 0o644


def write_sums(root, name=SUMS_NAME):
    """Writes root/NAME for every file under root but itself, in the
    format `sha256sum -c` reads."""
    lines = []
    for rel, is_dir in entries(root):
        if is_dir or rel == name:
            continue
        with open(os.path.join(root, rel), "rb") as f:
            lines.append("%s  %s\n" % (hashlib.sha256(f.read()).hexdigest(), rel))
    with open(os.path.join(root, name), "w", encoding="utf-8", newline="\n") as f:
        f.writelines(lines)


def write_crlf(path):
    """Rewrites the text file at `path` with CR LF line ends, as Windows
    text files have them: every LF gets a CR before it, once (a file that
    has them already stays as it is)."""
    with open(path, "rb") as f:
        data = f.read()
    with open(path, "wb") as f:
        f.write(data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"))


def archive_entries(root, top):
    """(path on disk, name in the archive, is directory), the top folder
    first when there is one."""
    found = [(os.path.join(root, rel), rel, is_dir) for rel, is_dir in entries(root)]
    if top:
        found = [(root, top, True)] + [(path, top + "/" + rel, d) for path, rel, d in found]
    return found


def write_zip(out, root, epoch, top=None):
    date = time.gmtime(max(epoch, ZIP_EPOCH_MIN))[:6]
    with zipfile.ZipFile(out, "w") as z:
        for path, rel, is_dir in archive_entries(root, top):
            info = zipfile.ZipInfo(rel + "/" if is_dir else rel, date_time=date)
            info.create_system = 3  # Unix: unzip restores the modes below
            kind = stat.S_IFDIR if is_dir else stat.S_IFREG
            info.external_attr = (kind | mode_of(path, is_dir)) << 16
            if is_dir:
                info.external_attr |= 0x10  # the MS-DOS directory flag
                z.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(path, "rb") as f:
                    z.writestr(info, f.read(), compresslevel=9)


def write_tar_gz(out, root, epoch, top=None):
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.USTAR_FORMAT) as t:
        for path, rel, is_dir in archive_entries(root, top):
            info = tarfile.TarInfo(rel)
            info.mtime = epoch
            info.mode = mode_of(path, is_dir)
            info.uid = info.gid = 0
            info.uname = info.gname = ""
            if is_dir:
                info.type = tarfile.DIRTYPE
                t.addfile(info)
            else:
                info.size = os.path.getsize(path)
                with open(path, "rb") as f:
                    t.addfile(info, f)
    with open(out, "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw, compresslevel=9, mtime=0) as gz:
            gz.write(buffer.getvalue())


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    sums = sub.add_parser("sums")
    sums.add_argument("dir")
    sums.add_argument("--name", default=SUMS_NAME)
    crlf = sub.add_parser("crlf")
    crlf.add_argument("file")
    for name in ("zip", "tar"):
        p = sub.add_parser(name)
        p.add_argument("out")
        p.add_argument("dir")
        p.add_argument("--epoch", type=int, required=True)
        p.add_argument("--top")
    args = parser.parse_args(argv)
    if args.command == "sums":
        write_sums(args.dir, args.name)
    elif args.command == "crlf":
        write_crlf(args.file)
    elif args.command == "zip":
        write_zip(args.out, args.dir, args.epoch, args.top)
    else:
        write_tar_gz(args.out, args.dir, args.epoch, args.top)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
