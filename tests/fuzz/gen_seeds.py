#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus (small archives of every shape the reader
knows) into OUT/seeds and empties OUT/corpus for the run.

usage: gen_seeds.py OUT
"""
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import hostile_zips  # noqa: E402


class Unseekable(io.RawIOBase):
    """A write-only stream: zipfile then puts sizes in data descriptors."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


def archive(entries, method, force_zip64=False, comment=b"", stream=False):
    out = Unseekable() if stream else io.BytesIO()
    with zipfile.ZipFile(out, "w", method) as z:
        z.comment = comment
        for name, data in entries:
            with z.open(name, "w", force_zip64=force_zip64) as w:
                w.write(data)
    return bytes(out.data) if stream else out.getvalue()


def chunk_indexed(text, chunk=256):
    """One deflated entry whose central record carries a chunk index that
    passes every check (offsets inside the data, CRC-32s that combine)."""
    import struct
    import zlib
    parts = [text[i:i + chunk] for i in range(0, len(text), chunk)]
    index = struct.pack("<HHI", 0x4943, 4 + 12 * len(parts), chunk)
    for number, part in enumerate(parts):
        index += struct.pack("<QI", number, zlib.crc32(part))
    info = zipfile.ZipInfo("chunked.txt")
    info.compress_type = zipfile.ZIP_DEFLATED
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as z:
        z.writestr(info, text)
    data = bytearray(buffer.getvalue())
    # Into the central record only, as the packer writes it.
    central = data.rindex(b"PK\x01\x02")
    name_end = central + 46 + len("chunked.txt")
    data[central + 30:central + 32] = struct.pack("<H", len(index))
    end = data.rindex(b"PK\x05\x06")
    data[end + 12:end + 16] = struct.pack("<I", struct.unpack("<I", data[end + 12:end + 16])[0] + len(index))
    return bytes(data[:name_end]) + index + bytes(data[name_end:])


def zip64_everywhere(entries):
    saved = zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT
    zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = 0, 0
    try:
        return archive(entries, zipfile.ZIP_DEFLATED, force_zip64=True)
    finally:
        zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = saved


def zstd_frame(block, prefix=None):
    """`block` as one zstd frame with its size and checksum, against `prefix` (its decoded bytes) when given,
    made by the zstd tool; None without it."""
    if shutil.which("zstd") is None:
        return None
    with tempfile.TemporaryDirectory() as scratch:
        paths = [os.path.join(scratch, name) for name in ("block", "prefix")]
        for path, data in zip(paths, (block, prefix)):
            if data is not None:
                with open(path, "wb") as f:
                    f.write(data)
        against = ["--patch-from=" + paths[1]] if prefix is not None else []
        return subprocess.run(["zstd", "-q", "-3", "--check", "--content-size", "-c", *against, paths[0]],
                              check=True, capture_output=True).stdout


def solid_archive(blocks, others=()):
    """An archive whose files lie in solid blocks (lists of (name, data); every block after the first
    refers to block 0 as its prefix), each file with its 0x4253 record, then `others` (name, data)
    stored; None without the zstd tool."""
    entries = []  # name, method, data, crc, size, record
    decoded = [b"".join(data for _, data in files) for files in blocks]
    for number, files in enumerate(blocks):
        frame = zstd_frame(decoded[number], decoded[0] if number else None)
        if frame is None:
            return None
        offset = 0
        for position, (name, data) in enumerate(files):
            record = struct.pack("<HHIIQQQB", 0x4253, 33, number, 0 if number else 0xFFFFFFFF,
                                 len(decoded[number]), offset, len(data), 0)
            entries.append((name, 0x5A53, frame if position == 0 else b"", zlib.crc32(data), len(data), record))
            offset += len(data)
    entries += [(name, 0, data, zlib.crc32(data), len(data), b"") for name, data in others]
    local, central = b"", b""
    for name, method, data, crc, size, record in entries:
        encoded = name.encode()
        fields = struct.pack("<HHHHHIIIHH", 20, 0x800, method, 0, 0x21, crc, len(data), size, len(encoded),
                             0)
        central += (b"PK\x01\x02" + struct.pack("<H", 20) + fields[:-2] + struct.pack("<HHHHII", len(record), 0, 0,
                    0, 0x10 if name.endswith("/") else 0, len(local)) + encoded + record)
        local += b"PK\x03\x04" + fields + encoded + data
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central), len(local), 0)
    return local + central + end


def fresh_folders(out):
    """Empties OUT/seeds and OUT/corpus for a run; returns the seeds folder."""
    seeds, corpus = os.path.join(out, "seeds"), os.path.join(out, "corpus")
    for d in (seeds, corpus):
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
    return seeds


def main():
    seeds = fresh_folders(sys.argv[1])
    text = b"setup payload " * 40
    entries = [("dir/", b""), ("dir/a.txt", text), ("b.bin", bytes(range(256))), ("empty", b"")]
    shapes = {
        "deflated": archive(entries, zipfile.ZIP_DEFLATED),
        "stored": archive(entries, zipfile.ZIP_STORED),
        "forced-zip64": archive(entries, zipfile.ZIP_DEFLATED, force_zip64=True),
        "descriptors": archive(entries, zipfile.ZIP_DEFLATED, stream=True),
        "stored-descriptors": archive(entries, zipfile.ZIP_STORED, stream=True),
        "zip64-everywhere": zip64_everywhere(entries),
        "commented": archive(entries[:2], zipfile.ZIP_DEFLATED, comment=b"c" * 40),
        "empty-archive": archive([], zipfile.ZIP_STORED),
        "trailing-data": archive(entries, zipfile.ZIP_DEFLATED) + b"\0\0\0" + b"S" * 200,
        "prefixed": b"MZ" + b"\x90" * 500 + archive(entries, zipfile.ZIP_DEFLATED),
        "shared-record": hostile_zips.shared_record_zip(4, text),
        "overlapping-chain": hostile_zips.overlapping_chain_zip(4, text),
        "chunk-indexed": chunk_indexed(text * 2),
        # Valid solid layouts, so the fuzzer starts from blocks that decode: one block, then a
        # block that refers to block 0.
        "solid-one-block": solid_archive([[("a.txt", text), ("b.bin", bytes(range(256)))]],
                                         [("dir/", b""), ("empty", b"")]),
        "solid-prefix": solid_archive([[("a.txt", text), ("b.bin", bytes(range(256)))],
                                       [("c.txt", text[::-1] + text), ("d.txt", b"payload" * 30)]]),
    }
    if shapes["solid-one-block"] is None:
        print("zstd missing: no solid seeds")
    shapes = {name: data for name, data in shapes.items() if data is not None}
    for name, data in shapes.items():
        with open(os.path.join(seeds, name + ".zip"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
