#pragma once
#include <cstdint>
#include <string>

#include "ZipFormat.h"

// One central directory header: a value type, copied freely. Names, extra
// fields and comments are owned copies of the stored bytes, unconverted.
struct ZipEntryInfo
{
    uint32_t signature = 0;
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t compressionMethod = 0;
    uint16_t lastModTime = 0;
    uint16_t lastModDate = 0;
    uint32_t crc32 = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint16_t fileNameLength = 0;
    uint16_t extraFieldLength = 0;
    uint16_t fileCommentLength = 0;
    uint16_t diskNumberStart = 0;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    uint64_t localHeaderOffset = 0;
    std::string fileName;
    std::string extraField;
    std::string fileComment;

    static const uint32_t kSignature = zipformat::kCentralHeaderSignature;
    static const uint32_t kFixedSize = zipformat::kCentralHeaderSize;

    // Reads the header at `at`, never touching more than `available` bytes;
    // `length` receives 46 + name + extra + comment.
    bool parse(const uint8_t* at, uint64_t available, uint32_t& length);

    bool isDirectory() const;
    bool isSymlink() const;
};
