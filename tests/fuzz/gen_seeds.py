#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus (small archives of every shape the reader
knows) into OUT/seeds and empties OUT/corpus for the run.

usage: gen_seeds.py OUT
"""
import io
import os
import shutil
import sys
import zipfile

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
    }
    for name, data in shapes.items():
        with open(os.path.join(seeds, name + ".zip"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
