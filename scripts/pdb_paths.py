#!/usr/bin/env python3
"""Makes a PDB written by the GNU linker independent of the folder it was
linked in.

The linker records the absolute path of every object and archive it read
(the module names) and its working folder and output path (the linker
module's S_ENVBLOCK record). Both differ between two builds of the same
commit in two folders, and they are the build machine's business. This
rewrites those names relative to the given folders, replaces the
link's time stamp, and writes the file anew, every stream laid out in order, so that the result depends only on
the streams' contents.

    pdb_paths.py FILE.pdb --strip DIR [--strip DIR...]

A name under DIR loses the "DIR/" prefix; DIR itself becomes ".". The
streams the debugger matches against the image (GUID, age, publics,
sections) are not touched.
"""
import argparse
import struct
import sys

MSF_MAGIC = b"Microsoft C/C++ MSF 7.00\r\n\x1aDS\x00\x00\x00"
NIL_STREAM = 0xFFFFFFFF
PDB_STREAM = 1
DBI_STREAM = 3
DBI_HEADER_SIZE = 64
MODULE_HEADER_SIZE = 64
S_ENVBLOCK = 0x113D


class PdbError(Exception):
    pass


def _blocks(size, block_size):
    return 0 if size == NIL_STREAM else -(-size // block_size)


def read_msf(data):
    """Returns (block size, list of streams; None for a nil stream)."""
    if not data.startswith(MSF_MAGIC):
        raise PdbError("not an MSF 7.00 file")
    bs, _fpm, nblocks, dir_bytes, _unk, map_addr = struct.unpack_from("<6I", data, 32)
    if bs not in (512, 1024, 2048, 4096) or len(data) < nblocks * bs:
        raise PdbError("bad block size or truncated file")

    def block(i):
        if i >= nblocks:
            raise PdbError("block %d out of range" % i)
        return data[i * bs:(i + 1) * bs]

    n_dir_blocks = _blocks(dir_bytes, bs)
    dir_block_ids = struct.unpack_from("<%dI" % n_dir_blocks, block(map_addr))
    directory = b"".join(block(i) for i in dir_block_ids)[:dir_bytes]
    (count,) = struct.unpack_from("<I", directory, 0)
    sizes = struct.unpack_from("<%dI" % count, directory, 4)
    pos = 4 + 4 * count
    streams = []
    for size in sizes:
        n = _blocks(size, bs)
        ids = struct.unpack_from("<%dI" % n, directory, pos)
        pos += 4 * n
        streams.append(None if size == NIL_STREAM
                       else b"".join(block(i) for i in ids)[:size])
    return bs, streams


def write_msf(bs, streams):
    """Lays the streams out in order after the superblock, skipping the free
    block map's blocks (1 and 2 of every interval of bs blocks)."""
    out = {}
    next_block = [1]

    def allocate():
        while next_block[0] % bs in (1, 2):
            next_block[0] += 1
        b = next_block[0]
        next_block[0] += 1
        return b

    def put(payload):
        ids = []
        for off in range(0, len(payload), bs):
            b = allocate()
            out[b] = payload[off:off + bs].ljust(bs, b"\0")
            ids.append(b)
        return ids

    directory = [struct.pack("<I", len(streams))]
    directory += [struct.pack("<I", NIL_STREAM if s is None else len(s)) for s in streams]
    for s in streams:
        if s:
            ids = put(s)
            directory.append(struct.pack("<%dI" % len(ids), *ids))
    directory = b"".join(directory)
    dir_ids = put(directory)
    if 4 * len(dir_ids) > bs:
        raise PdbError("stream directory too large")
    map_addr = put(struct.pack("<%dI" % len(dir_ids), *dir_ids))[0]
    nblocks = next_block[0]
    if nblocks % bs in (1, 2):  # the last interval's map blocks exist too
        nblocks += 3 - nblocks % bs

    # Free block map: one bit per block, set when free; both copies alike.
    bits = bytearray(b"\xff" * (-(-nblocks // (8 * bs)) * bs))
    for i in range(nblocks):
        bits[i // 8] &= ~(1 << (i % 8)) & 0xFF
    for k in range(0, -(-nblocks // bs)):
        chunk = bits[k * bs:(k + 1) * bs].ljust(bs, b"\xff")
        for fpm in (1, 2):
            if k * bs + fpm < nblocks:
                out[k * bs + fpm] = bytes(chunk)
    out[0] = (MSF_MAGIC + struct.pack("<6I", bs, 1, nblocks, len(directory), 0, map_addr)).ljust(bs, b"\0")
    return b"".join(out.get(i, b"\0" * bs) for i in range(nblocks))


def relative(name, prefixes):
    for p in prefixes:
        if name == p:
            return "."
        if name.startswith(p + "/"):
            return name[len(p) + 1:]
    return name


def _cstr(buf, pos):
    end = buf.index(b"\0", pos)
    return buf[pos:end].decode("utf-8", "surrogateescape"), end + 1


def _enc(text):
    return text.encode("utf-8", "surrogateescape") + b"\0"


def rewrite_env_block(module, sym_bytes, prefixes):
    """Rewrites the names in a module stream's S_ENVBLOCK record, which must
    be the last symbol record (as the linker writes it): nothing after it
    refers to symbol offsets that would move. Returns (stream, sym_bytes)."""
    pos = 4  # signature
    while pos < sym_bytes:
        reclen, kind = struct.unpack_from("<HH", module, pos)
        end = pos + 2 + reclen
        if kind == S_ENVBLOCK:
            if end != sym_bytes:
                raise PdbError("S_ENVBLOCK is not the module's last symbol record")
            p, fields = pos + 5, []
            while p < end and module[p] != 0:
                text, p = _cstr(module, p)
                fields.append(text)
            body = struct.pack("<HB", S_ENVBLOCK, module[pos + 4])
            body += b"".join(_enc(relative(f, prefixes)) for f in fields) + b"\0"
            body += b"\0" * (-(len(body) + 2) % 4)
            record = struct.pack("<H", len(body)) + body
            return module[:pos] + record + module[end:], pos + len(record)
        pos = end
    return module, sym_bytes


def rewrite(data, prefixes):
    bs, streams = read_msf(data)
    dbi = streams[DBI_STREAM]
    if dbi is None or len(dbi) < DBI_HEADER_SIZE:
        raise PdbError("no DBI stream")
    (mod_size,) = struct.unpack_from("<i", dbi, 24)
    mods = dbi[DBI_HEADER_SIZE:DBI_HEADER_SIZE + mod_size]
    new_mods = []
    pos = 0
    while pos < len(mods):
        header = bytearray(mods[pos:pos + MODULE_HEADER_SIZE])
        name, p = _cstr(mods, pos + MODULE_HEADER_SIZE)
        obj, p = _cstr(mods, p)
        pos = p + (-p % 4)
        stream_index, sym_bytes = struct.unpack_from("<HI", header, 34)
        if stream_index != 0xFFFF and streams[stream_index]:
            streams[stream_index], sym_bytes = rewrite_env_block(
                streams[stream_index], sym_bytes, prefixes)
            struct.pack_into("<I", header, 36, sym_bytes)
        entry = bytes(header) + _enc(relative(name, prefixes)) + _enc(relative(obj, prefixes))
        new_mods.append(entry + b"\0" * (-len(entry) % 4))
    new_mods = b"".join(new_mods)

    # The PDB stream's signature is the linker's clock at the time of the
    # link; debuggers match a PDB by GUID and age, so the signature is
    # taken from the GUID's first bytes instead.
    info = streams[PDB_STREAM]
    if info is None or len(info) < 28:
        raise PdbError("no PDB stream")
    streams[PDB_STREAM] = info[:4] + info[12:16] + info[8:]
    header = bytearray(dbi[:DBI_HEADER_SIZE])
    struct.pack_into("<i", header, 24, len(new_mods))
    streams[DBI_STREAM] = bytes(header) + new_mods + dbi[DBI_HEADER_SIZE + mod_size:]
    return write_msf(bs, streams)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("pdb")
    parser.add_argument("--strip", action="append", default=[], metavar="DIR")
    args = parser.parse_args(argv)
    prefixes = [p.rstrip("/") for p in args.strip]
    with open(args.pdb, "rb") as f:
        data = f.read()
    try:
        result = rewrite(data, prefixes)
    except (PdbError, struct.error, ValueError, IndexError) as e:
        print("pdb_paths: %s: %s" % (args.pdb, e), file=sys.stderr)
        return 1
    with open(args.pdb, "wb") as f:
        f.write(result)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
