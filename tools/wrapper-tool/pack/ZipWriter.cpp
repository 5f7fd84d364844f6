#include "pack/ZipWriter.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <zlib.h>

#include "cli/Progress.h"
#include "pack/SourceFile.h"
#include "pack/RecordBuilder.h"
#include "UnpackPlan.h"
#include "ZipFormat.h"

using namespace zipformat;
using namespace zipwriter;

namespace {

struct DeflateStream {
    z_stream stream{};
    bool started = false;
    ~DeflateStream()
    {
        if (started)
            deflateEnd(&stream);
    }
};

bool needsZip64(uint64_t value) { return value >= kSentinel32; }

uint32_t field32(uint64_t value, bool useSentinel)
{
    return useSentinel ? kSentinel32 : uint32_t(value);
}

} // namespace


uint16_t ZipWriter::nameFlags(const std::string& name)
{
    for (unsigned char c : name)
        if (c >= 0x80)
            return zipformat::kFlagUtf8Name;
    return 0;
}

bool ZipWriter::fail(const std::string& message)
{
    error_ = message;
    return false;
}

bool ZipWriter::writeLocalHeader(const CentralEntry& entry, bool zip64)
{
    RecordBuilder record;
    record.u32(kLocalHeaderSignature);
    record.u16(zip64 ? kVersion45 : kVersion20);
    record.u16(nameFlags(entry.name));
    record.u16(entry.method);
    record.u16(kFixedDosTime);
    record.u16(kFixedDosDate);
    record.u32(entry.crc);
    record.u32(field32(entry.compressedSize, zip64));
    record.u32(field32(entry.uncompressedSize, zip64));
    record.u16(uint32_t(entry.name.size()));
    record.u16(zip64 ? kExtraBlockHeaderSize + 16 : 0);
    record.bytes(entry.name);
    if (zip64) {
        record.u16(kZip64ExtraId);
        record.u16(16);
        record.u64(entry.uncompressedSize);
        record.u64(entry.compressedSize);
    }
    return out_.write(record.data().data(), record.data().size());
}

bool ZipWriter::addDirectory(const std::string& name)
{
    CentralEntry entry{name, kMethodStored, 0, 0, 0, archivePosition(), kDosDirectoryAttribute};
    if (!writeLocalHeader(entry, options_.forceZip64))
        return fail(out_.failure());
    entries_.push_back(entry);
    return true;
}

bool ZipWriter::addFile(const std::string& name, const std::filesystem::path& sourcePath,
                        uint64_t expectedSize, Progress& progress)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> source(openSourceFile(sourcePath), std::fclose);
    if (!source)
        return fail("cannot read '" + name + "': " + std::strerror(errno));

    CentralEntry entry{name, kMethodDeflated, 0, 0, expectedSize, archivePosition(),
                       kDosArchiveAttribute};
    // The local header's form is fixed before the data is written: only an
    // entry of 4 GiB or more can need Zip64 sizes (a bigger deflate result is
    // never kept, so the compressed size stays below the file's).
    const bool zip64 = options_.forceZip64 || needsZip64(expectedSize);
    const uint64_t headerPosition = out_.position();
    if (!writeLocalHeader(entry, zip64))
        return fail(out_.failure());
    const uint64_t dataPosition = out_.position();

    bool smaller = false;
    if (expectedSize > 0 && !deflateData(source.get(), name, expectedSize, progress, entry, smaller))
        return false;
    if (!smaller) {
        if (expectedSize > 0) {
            std::rewind(source.get());
            if (!out_.seek(dataPosition))
                return fail(out_.failure());
        }
        if (!storeData(source.get(), name, expectedSize, entry))
            return false;
        if (expectedSize == 0)
            progress.advance(0);
    }

    const uint64_t endPosition = out_.position();
    if (!out_.seek(headerPosition) || !writeLocalHeader(entry, zip64) || !out_.seek(endPosition))
        return fail(out_.failure());
    entries_.push_back(entry);
    return true;
}

bool ZipWriter::addPrepared(const std::string& name, uint16_t method, uint32_t crc,
                            uint64_t uncompressedSize, const uint8_t* data, size_t size,
                            const std::string& centralExtra)
{
    CentralEntry entry{name, method, crc, size, uncompressedSize, archivePosition(), kDosArchiveAttribute,
                       centralExtra};
    const bool zip64 = options_.forceZip64 || needsZip64(uncompressedSize);
    if (!writeLocalHeader(entry, zip64) || !out_.write(data, size))
        return fail(out_.failure());
    entries_.push_back(entry);
    return true;
}

bool ZipWriter::deflateData(std::FILE* source, const std::string& name, uint64_t size,
                            Progress& progress, CentralEntry& entry, bool& smaller)
{
    DeflateStream deflater;
    const int level = options_.level > 9 ? 9 : options_.level;
    if (deflateInit2(&deflater.stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return fail("cannot start zlib's deflate");
    deflater.started = true;
    z_stream& z = deflater.stream;

    uint32_t crc = uint32_t(crc32(0, nullptr, 0));
    uint64_t readTotal = 0;
    uint64_t written = 0;
    int flush = Z_NO_FLUSH;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (z.avail_in == 0 && flush == Z_NO_FLUSH) {
            size_t got = std::fread(inputBuffer_.data(), 1, inputBuffer_.size(), source);
            if (std::ferror(source))
                return fail("cannot read '" + name + "'");
            crc = uint32_t(crc32(crc, inputBuffer_.data(), uInt(got)));
            readTotal += got;
            progress.advance(got);
            z.next_in = inputBuffer_.data();
            z.avail_in = uInt(got);
            if (got < inputBuffer_.size())
                flush = Z_FINISH;
        }
        z.next_out = outputBuffer_.data();
        z.avail_out = uInt(outputBuffer_.size());
        status = deflate(&z, flush);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            return fail("zlib's deflate failed on '" + name + "'");
        size_t produced = outputBuffer_.size() - z.avail_out;
        // Once the result reaches the file's size it cannot win: stop before
        // writing it, so that the stored copy overwrites all of it.
        if (written + produced >= size) {
            smaller = false;
            return true;
        }
        if (!out_.write(outputBuffer_.data(), produced))
            return fail(out_.failure());
        written += produced;
    }
    if (readTotal != size)
        return fail("'" + name + "' changed while it was being packed");
    entry.method = kMethodDeflated;
    entry.crc = crc;
    entry.compressedSize = written;
    smaller = true;
    return true;
}

bool ZipWriter::storeData(std::FILE* source, const std::string& name, uint64_t size,
                          CentralEntry& entry)
{
    uint32_t crc = uint32_t(crc32(0, nullptr, 0));
    uint64_t readTotal = 0;
    for (;;) {
        size_t got = std::fread(inputBuffer_.data(), 1, inputBuffer_.size(), source);
        if (std::ferror(source))
            return fail("cannot read '" + name + "'");
        if (got == 0)
            break;
        crc = uint32_t(crc32(crc, inputBuffer_.data(), uInt(got)));
        readTotal += got;
        if (readTotal > size)
            break;
        if (!out_.write(inputBuffer_.data(), got))
            return fail(out_.failure());
    }
    if (readTotal != size)
        return fail("'" + name + "' changed while it was being packed");
    entry.method = kMethodStored;
    entry.crc = crc;
    entry.compressedSize = size;
    return true;
}

bool ZipWriter::writeCentralEntry(const CentralEntry& entry)
{
    const bool force = options_.forceZip64;
    const bool bigUncompressed = force || needsZip64(entry.uncompressedSize);
    const bool bigCompressed = force || needsZip64(entry.compressedSize);
    const bool bigOffset = force || needsZip64(entry.localHeaderOffset);
    const uint32_t extraSize = 8 * (unsigned(bigUncompressed) + unsigned(bigCompressed) + unsigned(bigOffset));
    const bool zip64 = extraSize != 0;

    RecordBuilder record;
    record.u32(kCentralHeaderSignature);
    record.u16(zip64 ? kVersion45 : kVersion20);
    record.u16(zip64 ? kVersion45 : kVersion20);
    record.u16(nameFlags(entry.name));
    record.u16(entry.method);
    record.u16(kFixedDosTime);
    record.u16(kFixedDosDate);
    record.u32(entry.crc);
    record.u32(field32(entry.compressedSize, bigCompressed));
    record.u32(field32(entry.uncompressedSize, bigUncompressed));
    record.u16(uint32_t(entry.name.size()));
    record.u16((zip64 ? kExtraBlockHeaderSize + extraSize : 0) + uint32_t(entry.extra.size()));
    record.u16(0); // comment length
    record.u16(0); // disk number start
    record.u16(0); // internal attributes
    record.u32(entry.externalAttributes);
    record.u32(field32(entry.localHeaderOffset, bigOffset));
    record.bytes(entry.name);
    if (zip64) {
        record.u16(kZip64ExtraId);
        record.u16(extraSize);
        if (bigUncompressed)
            record.u64(entry.uncompressedSize);
        if (bigCompressed)
            record.u64(entry.compressedSize);
        if (bigOffset)
            record.u64(entry.localHeaderOffset);
    }
    record.bytes(entry.extra);
    return out_.write(record.data().data(), record.data().size());
}

bool ZipWriter::writeEndRecords(uint64_t directoryOffset, uint64_t directorySize)
{
    const uint64_t count = entries_.size();
    const bool force = options_.forceZip64;
    const bool bigCount = force || count >= kSentinel16;
    const bool bigSize = force || needsZip64(directorySize);
    const bool bigOffset = force || needsZip64(directoryOffset);
    RecordBuilder record;
    if (bigCount || bigSize || bigOffset) {
        // The Zip64 end record follows the central directory at once: the
        // stub's reader finds the directory by counting back from it.
        const uint64_t zip64EndOffset = archivePosition();
        record.u32(kZip64EndSignature);
        record.u64(kZip64EndSize - kZip64EndSizedFrom);
        record.u16(kVersion45);
        record.u16(kVersion45);
        record.u32(0);
        record.u32(0);
        record.u64(count);
        record.u64(count);
        record.u64(directorySize);
        record.u64(directoryOffset);
        record.u32(kZip64LocatorSignature);
        record.u32(0);
        record.u64(zip64EndOffset);
        record.u32(1);
    }
    const uint32_t shortCount = bigCount ? kSentinel16 : uint32_t(count);
    record.u32(kEndRecordSignature);
    record.u16(0);
    record.u16(0);
    record.u16(shortCount);
    record.u16(shortCount);
    record.u32(field32(directorySize, bigSize));
    record.u32(field32(directoryOffset, bigOffset));
    record.u16(0); // comment length
    return out_.write(record.data().data(), record.data().size());
}

bool ZipWriter::finish()
{
    const uint64_t directoryOffset = archivePosition();
    for (const CentralEntry& entry : entries_)
        if (!writeCentralEntry(entry))
            return fail(out_.failure());
    const uint64_t directorySize = archivePosition() - directoryOffset;
    if (!writeEndRecords(directoryOffset, directorySize))
        return fail(out_.failure());
    return true;
}
