"""Archives built to abuse an unpacker, shared by the end-to-end and the
wrapper-tool tests. Each entry is valid on its own; only the layout is wrong."""
import struct
import zlib


def _deflate(data):
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


def _local_header(name, crc, compressed, size):
    return struct.pack("<IHHHIIIIHH", 0x04034B50, 20, 0, 8, 0x58216000, crc, compressed, size,
                       len(name), 0) + name


def _with_directory(locals_, entries):
    """`entries`: (name, crc, compressed, size, offset) tuples."""
    directory = b"".join(
        struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 8, 0x6000, 0x5821, crc, compressed,
                    size, len(name), 0, 0, 0, 0, 0, offset) + name
        for name, crc, compressed, size, offset in entries)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(directory),
                      len(locals_), 0)
    return locals_ + directory + end


def shared_record_zip(count, content):
    """`count` directory entries that all point at one local record and its
    deflated data: each unpacks to `content`."""
    packed = _deflate(content)
    crc = zlib.crc32(content)
    locals_ = _local_header(b"kernel", crc, len(packed), len(content)) + packed
    return _with_directory(locals_, [(b"copy%d" % i, crc, len(packed), len(content), 0)
                                     for i in range(count)])


def overlapping_chain_zip(count, content):
    """A chain of overlapping local records (after Fifield): entry i's deflate
    stream quotes entry i+1's local header in a stored block and goes on with
    entry i+1's data, so each entry unpacks to everything after it."""
    data, output = _deflate(content), content
    entries = [None] * count
    record = b""
    for i in reversed(range(count)):
        name = b"chain%d" % i
        crc = zlib.crc32(output)
        entries[i] = [name, crc, len(data), len(output), 0]
        record = _local_header(name, crc, len(data), len(output))
        if i == 0:
            break
        quote = struct.pack("<BHH", 0, len(record), len(record) ^ 0xFFFF)
        data, output = quote + record + data, record + output
    offset = 0
    for entry in entries:
        entry[4] = offset
        offset += 30 + len(entry[0]) + 5
    return _with_directory(record + data, [tuple(e) for e in entries])
