#pragma once
#include <cstdint>
#include <string>

#include "ZipFormat.h"

// The fixed records around the central directory and in front of each entry's
// data. Each parse reads nothing past `available` bytes from `at` and sets
// `length` to the record's whole length on success.

struct ZipEndRecord
{
    uint32_t signature = 0;
    uint16_t diskNumber = 0;
    uint16_t centralDirectoryDisk = 0;
    uint16_t entriesOnDisk = 0;
    uint16_t totalEntries = 0;
    uint32_t centralDirectorySize = 0;
    uint32_t centralDirectoryOffset = 0;
    uint16_t commentLength = 0;
    std::string comment;

    static const uint32_t kSignature = zipformat::kEndRecordSignature;
    static const uint32_t kFixedSize = zipformat::kEndRecordSize;

    bool parse(const uint8_t* at, uint64_t available, uint32_t& length);
};

// Only its signature and size matter: its presence asks for the Zip64 end record.
struct Zip64Locator
{
    static const uint32_t kSignature = zipformat::kZip64LocatorSignature;
    static const uint32_t kFixedSize = zipformat::kZip64LocatorSize;
};

struct Zip64EndRecord
{
    uint32_t signature = 0;
    uint64_t recordSize = 0;
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint32_t diskNumber = 0;
    uint32_t centralDirectoryDisk = 0;
    uint64_t entriesOnDisk = 0;
    uint64_t totalEntries = 0;
    uint64_t centralDirectorySize = 0;
    uint64_t centralDirectoryOffset = 0;
    const uint8_t* extensibleData = nullptr; // points into the parsed bytes
    uint32_t extensibleDataLength = 0;

    static const uint32_t kSignature = zipformat::kZip64EndSignature;
    static const uint32_t kFixedSize = zipformat::kZip64EndSize;
    // recordSize counts from this offset, so it is at least 56 - 12.
    static const uint32_t kSizedFrom = zipformat::kZip64EndSizedFrom;

    bool parse(const uint8_t* at, uint64_t available, uint32_t& length);
};

struct ZipLocalHeader
{
    uint32_t fixedSize = zipformat::kLocalHeaderSize;
    uint32_t signature = 0;
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
    std::string fileName;

    static const uint32_t kSignature = zipformat::kLocalHeaderSignature;
    static const uint32_t kFixedSize = zipformat::kLocalHeaderSize;
    static const uint32_t kNameLengthAt = zipformat::kLocalNameLengthAt;
    static const uint32_t kExtraLengthAt = zipformat::kLocalExtraLengthAt;

    bool parse(const uint8_t* at, uint64_t available, uint32_t& length);
};

using zipformat::kFlagDataDescriptor;
using zipformat::kMethodDeflated;
using zipformat::kMethodStored;
using zipformat::kMethodSolid;
