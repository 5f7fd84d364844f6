#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/OutputFile.h"

class Progress;

// The writer's read and deflate buffers for files streamed from disk.
const size_t kWriterBufferSize = 1 << 20;

struct ZipWriterOptions {
    int level = 9;           // deflate level, 0 (store) to 12; zlib's streaming path caps it at 9
    bool forceZip64 = false; // write Zip64 records even when nothing needs them
};

// Writes a ZIP archive into an OutputFile, starting at its current position.
// Offsets in the archive count from the archive's own first byte. The output
// depends only on the names, their order and the file contents: fixed time
// stamps, no comments, no host-specific fields.
class ZipWriter {
public:
    ZipWriter(OutputFile& out, const ZipWriterOptions& options);
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // `name` ends with '/'.
    bool addDirectory(const std::string& name);
    // Deflates the file, or stores it when deflate does not make it smaller.
    // `expectedSize` is the size seen when the folder was read; a file that
    // changes size meanwhile is an error.
    bool addFile(const std::string& name, const std::filesystem::path& sourcePath, uint64_t expectedSize,
                 Progress& progress);
    // An entry prepared in memory: `data` is the deflated stream (method 8)
    // or the file's own bytes (stored), `crc` and `uncompressedSize` the file's.
    // `centralExtra`: further blocks for its central record (a solid file's record).
    bool addPrepared(const std::string& name, uint16_t method, uint32_t crc, uint64_t uncompressedSize,
                     const uint8_t* data, size_t size, const std::string& centralExtra = std::string());
    // An entry deflated in chunks (deflate/ChunkDeflate.h), handed over in
    // order: beginChunked(), addChunk() for each, endChunked(). The entry is
    // stored instead (re-read from `sourcePath`) when the chunks do not make
    // it smaller; else its central record carries the chunk index.
    bool beginChunked(const std::string& name, uint64_t uncompressedSize, uint32_t chunkSize);
    bool addChunk(const uint8_t* data, size_t size, uint32_t crc, uint32_t uncompressedSize);
    bool endChunked(const std::filesystem::path& sourcePath);

    // The central directory and the end records.
    bool finish();

    const std::string& error() const { return error_; }

    // The general-purpose flags written for `name`: bit 11 (UTF-8) when it
    // holds anything beyond ASCII, so plain names stay byte for byte as before.
    static uint16_t nameFlags(const std::string& name);

    struct CentralEntry {
        std::string name;
        uint16_t method;
        uint32_t crc;
        uint64_t compressedSize;
        uint64_t uncompressedSize;
        uint64_t localHeaderOffset;
        uint32_t externalAttributes;
        std::string extra = std::string(); // further central extra blocks (the chunk index)
    };
    // The entries written so far, in archive order.
    const std::vector<CentralEntry>& entries() const { return entries_; }

private:

    bool writeLocalHeader(const CentralEntry& entry, bool zip64);
    // Deflates `source` into the output; false in `smaller` when the result
    // would not be smaller than the file.
    bool deflateData(std::FILE* source, const std::string& name, uint64_t size,
                     Progress& progress, CentralEntry& entry, bool& smaller);
    bool storeData(std::FILE* source, const std::string& name, uint64_t size,
                   CentralEntry& entry);
    bool writeCentralEntry(const CentralEntry& entry);
    bool writeEndRecords(uint64_t directoryOffset, uint64_t directorySize);
    bool fail(const std::string& message);
    uint64_t archivePosition() const { return out_.position() - archiveStart_; }

    struct Chunked;
    std::unique_ptr<Chunked> chunked_;
    OutputFile& out_;
    ZipWriterOptions options_;
    uint64_t archiveStart_;
    std::vector<CentralEntry> entries_;
    std::vector<unsigned char> inputBuffer_;
    std::vector<unsigned char> outputBuffer_;
    std::string error_;
};
