#include "TestZip.h"

#include <zlib.h>

namespace {

void append16(std::string& out, uint16_t v)
{
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void append32(std::string& out, uint32_t v)
{
    append16(out, static_cast<uint16_t>(v & 0xFFFF));
    append16(out, static_cast<uint16_t>(v >> 16));
}

void append64(std::string& out, uint64_t v)
{
    append32(out, static_cast<uint32_t>(v));
    append32(out, static_cast<uint32_t>(v >> 32));
}

std::string zip64Block(const std::vector<uint64_t>& values)
{
    std::string block;
    append16(block, 0x0001);
    append16(block, static_cast<uint16_t>(values.size() * 8));
    for (uint64_t v : values)
        append64(block, v);
    return block;
}

} // namespace

namespace {

std::string deflateWith(const std::string& data, int flush)
{
    z_stream s{};
    deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&s, data.size()) + 16, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(&out[0]);
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, flush);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

} // namespace

std::string deflateRaw(const std::string& data)
{
    return deflateWith(data, Z_FINISH);
}

std::string deflateRawUnfinished(const std::string& data)
{
    return deflateWith(data, Z_SYNC_FLUSH);
}

uint32_t crcOf(const std::string& data)
{
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string patternBytes(size_t size, uint32_t seed)
{
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x);
    }
    return out;
}

void put16(std::string& image, size_t at, uint16_t value)
{
    image[at] = static_cast<char>(value & 0xFF);
    image[at + 1] = static_cast<char>(value >> 8);
}

void put32(std::string& image, size_t at, uint32_t value)
{
    put16(image, at, static_cast<uint16_t>(value & 0xFFFF));
    put16(image, at + 2, static_cast<uint16_t>(value >> 16));
}

void put64(std::string& image, size_t at, uint64_t value)
{
    put32(image, at, static_cast<uint32_t>(value));
    put32(image, at + 4, static_cast<uint32_t>(value >> 32));
}

uint32_t get32(const std::string& image, size_t at)
{
    const uint8_t* p = bytes(image) + at;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string TestZip::build(TestLayout* layoutOut) const
{
    TestLayout layout;
    std::string image = prefix;
    layout.archiveStart = image.size();
    const size_t base = offsetsFromImageStart ? 0 : layout.archiveStart;

    std::vector<std::string> centrals;
    for (const TestEntry& e : entries) {
        const std::string packed = e.noData            ? std::string()
                                   : !e.rawData.empty() ? e.rawData
                                   : e.method == 8      ? deflateRaw(e.content)
                                                        : e.content;
        const uint32_t crc = crcOf(e.content);
        const uint16_t flags = static_cast<uint16_t>(e.flags | (e.dataDescriptor ? 0x0008 : 0));
        const size_t localAt = image.size();
        layout.localHeaders.push_back(localAt);

        std::string local;
        append32(local, 0x04034b50);
        append16(local, e.zip64 ? 45 : 20);
        append16(local, flags);
        append16(local, e.method);
        append16(local, 0x6000); // time
        append16(local, 0x5821); // date
        std::string localExtra = e.localExtra;
        if (e.dataDescriptor) {
            append32(local, 0);
            append32(local, e.zip64 ? 0xFFFFFFFFu : 0);
            append32(local, e.zip64 ? 0xFFFFFFFFu : 0);
            if (e.zip64)
                localExtra += zip64Block({0, 0});
        } else if (e.zip64) {
            append32(local, crc);
            append32(local, 0xFFFFFFFFu);
            append32(local, 0xFFFFFFFFu);
            localExtra += zip64Block({e.content.size(), packed.size()});
        } else {
            append32(local, crc);
            append32(local, static_cast<uint32_t>(packed.size()));
            append32(local, static_cast<uint32_t>(e.content.size()));
        }
        append16(local, static_cast<uint16_t>(e.name.size()));
        append16(local, static_cast<uint16_t>(localExtra.size()));
        image += local + e.name + localExtra;
        layout.dataStarts.push_back(image.size());
        image += packed;
        if (e.dataDescriptor) {
            if (e.descriptorSignature)
                append32(image, 0x08074b50);
            append32(image, crc);
            if (e.zip64) {
                append64(image, packed.size());
                append64(image, e.content.size());
            } else {
                append32(image, static_cast<uint32_t>(packed.size()));
                append32(image, static_cast<uint32_t>(e.content.size()));
            }
        }

        std::string central;
        append32(central, 0x02014b50);
        append16(central, 0x0314); // made on Unix, 2.0
        append16(central, e.zip64 ? 45 : 20);
        append16(central, flags);
        append16(central, e.method);
        append16(central, 0x6000);
        append16(central, 0x5821);
        append32(central, crc);
        std::string centralExtra = e.centralExtra;
        if (e.zip64) {
            append32(central, 0xFFFFFFFFu);
            append32(central, 0xFFFFFFFFu);
            centralExtra += zip64Block({e.content.size(), packed.size(), localAt - base});
        } else {
            append32(central, static_cast<uint32_t>(packed.size()));
            append32(central, static_cast<uint32_t>(e.content.size()));
        }
        append16(central, static_cast<uint16_t>(e.name.size()));
        append16(central, static_cast<uint16_t>(centralExtra.size()));
        append16(central, 0); // comment
        append16(central, 0); // disk
        append16(central, 0); // internal attributes
        append32(central, e.externalAttributes);
        append32(central, e.zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(localAt - base));
        centrals.push_back(central + e.name + centralExtra);
    }

    layout.directory = image.size();
    for (const std::string& c : centrals) {
        layout.centralHeaders.push_back(image.size());
        image += c;
    }
    layout.directorySize = image.size() - layout.directory;

    if (zip64End) {
        layout.zip64End = image.size();
        append32(image, 0x06064b50);
        append64(image, 44);
        append16(image, 45);
        append16(image, 45);
        append32(image, 0);
        append32(image, 0);
        append64(image, entries.size());
        append64(image, entries.size());
        append64(image, layout.directorySize);
        append64(image, layout.directory - base);
        layout.locator = image.size();
        append32(image, 0x07064b50);
        append32(image, 0);
        append64(image, layout.zip64End - base);
        append32(image, 1);
    }

    layout.endRecord = image.size();
    append32(image, 0x06054b50);
    append16(image, 0);
    append16(image, 0);
    const uint16_t count16 = zip64End ? 0xFFFF : static_cast<uint16_t>(entries.size());
    append16(image, count16);
    append16(image, count16);
    append32(image, zip64End ? 0xFFFFFFFFu : static_cast<uint32_t>(layout.directorySize));
    append32(image, zip64End ? 0xFFFFFFFFu : static_cast<uint32_t>(layout.directory - base));
    append16(image, static_cast<uint16_t>(comment.size()));
    image += comment;
    image += trailer;
    if (layoutOut)
        *layoutOut = layout;
    return image;
}

namespace {

std::string localHeader(const std::string& name, uint16_t method, uint32_t crc,
                        uint32_t compressed, uint32_t uncompressed)
{
    std::string h;
    append32(h, 0x04034b50);
    append16(h, 20);
    append16(h, 0);
    append16(h, method);
    append32(h, 0x58216000); // time and date
    append32(h, crc);
    append32(h, compressed);
    append32(h, uncompressed);
    append16(h, static_cast<uint16_t>(name.size()));
    append16(h, 0);
    return h + name;
}

struct DirectoryEntry
{
    std::string name;
    uint32_t crc, compressed, uncompressed, offset;
};

// The central directory and end record for `entries`, placed after `locals`.
std::string withDirectory(const std::string& locals, const std::vector<DirectoryEntry>& entries)
{
    std::string directory;
    for (const DirectoryEntry& e : entries) {
        append32(directory, 0x02014b50);
        append16(directory, 20);
        append16(directory, 20);
        append16(directory, 0);
        append16(directory, 8);
        append32(directory, 0x58216000);
        append32(directory, e.crc);
        append32(directory, e.compressed);
        append32(directory, e.uncompressed);
        append16(directory, static_cast<uint16_t>(e.name.size()));
        append32(directory, 0); // extra and comment lengths
        append32(directory, 0); // disk and internal attributes
        append32(directory, 0);
        append32(directory, e.offset);
        directory += e.name;
    }
    std::string image = locals + directory;
    append32(image, 0x06054b50);
    append32(image, 0);
    append16(image, static_cast<uint16_t>(entries.size()));
    append16(image, static_cast<uint16_t>(entries.size()));
    append32(image, static_cast<uint32_t>(directory.size()));
    append32(image, static_cast<uint32_t>(locals.size()));
    append16(image, 0);
    return image;
}

} // namespace

std::string sharedRecordArchive(uint32_t count, const std::string& content)
{
    const std::string packed = deflateRaw(content);
    const uint32_t crc = crcOf(content);
    const uint32_t size = static_cast<uint32_t>(content.size());
    const std::string locals =
        localHeader("kernel", 8, crc, static_cast<uint32_t>(packed.size()), size) + packed;
    std::vector<DirectoryEntry> entries;
    for (uint32_t i = 0; i < count; ++i)
        entries.push_back({"copy" + std::to_string(i), crc, static_cast<uint32_t>(packed.size()), size, 0});
    return withDirectory(locals, entries);
}

std::string overlappingChainArchive(uint32_t count, const std::string& content)
{
    // Built from the last entry back: each record's data holds the next one.
    std::string data = deflateRaw(content);
    std::string output = content;
    std::vector<DirectoryEntry> entries(count);
    std::string record;
    for (uint32_t i = count; i-- > 0;) {
        const std::string name = "chain" + std::to_string(i);
        entries[i] = {name, crcOf(output), static_cast<uint32_t>(data.size()),
                      static_cast<uint32_t>(output.size()), 0};
        record = localHeader(name, 8, entries[i].crc, entries[i].compressed, entries[i].uncompressed);
        if (i == 0)
            break;
        // A non-final stored block quoting this record, then the record's data.
        std::string quote(1, '\0');
        append16(quote, static_cast<uint16_t>(record.size()));
        append16(quote, static_cast<uint16_t>(~record.size()));
        data = quote + record + data;
        output = record + output;
    }
    // Every record starts where the quote before it ends: 5 bytes on.
    uint32_t offset = 0;
    for (uint32_t i = 0; i < count; ++i) {
        entries[i].offset = offset;
        offset += static_cast<uint32_t>(30 + entries[i].name.size() + 5);
    }
    return withDirectory(record + data, entries);
}

TestZip zipWithPrefix(size_t prefixSize)
{
    TestZip zip;
    zip.prefix = patternBytes(prefixSize, 99);
    // Keep stray signatures out of the filler.
    for (char& c : zip.prefix)
        if (c == 'P')
            c = 'p';
    return zip;
}

bool RecordingSink::write(const uint8_t* data, uint32_t size)
{
    const int index = static_cast<int>(writes.size());
    writes.push_back(size);
    if (index == failWriteAt)
        return false;
    this->data.append(reinterpret_cast<const char*>(data), size);
    return true;
}

bool RecordingSink::finish()
{
    ++finishes;
    return finishResult;
}
