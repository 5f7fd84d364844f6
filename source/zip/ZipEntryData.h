#pragma once
#include <cstdint>

#include "ZipArchiveBytes.h"
#include "ZipEntryInfo.h"

// Where an entry's local record and data lie in the archive, worked out the
// way extraction reads them: the local header decides the method and, for
// stored data, the size, unless the sizes follow the data in a descriptor;
// deflated data is read for the directory's compressed size.
struct ZipEntryData
{
    uint64_t headerOffset = 0; // the local header, from the archive's first byte
    uint64_t dataOffset = 0;   // the first byte of the data
    uint64_t dataSize = 0;     // bytes read from there (0 for an unknown method)
    uint16_t method = 0;       // the local header's
    bool descriptorFollows = false;

    uint64_t dataEnd() const { return dataOffset + dataSize; }
};

// False when the local header is missing, damaged or cut off, or the data
// would run past the end of the archive: such an entry cannot be extracted.
bool locateEntryData(ZipArchiveBytes& archive, const ZipEntryInfo& entry, ZipEntryData& out);

// True when the data descriptor at `at` holds the directory entry's CRC-32
// and both sizes. The descriptor's signature is optional and its sizes take 4
// bytes, or 8 in a Zip64 entry; any of these layouts that agrees will do.
bool dataDescriptorMatches(const uint8_t* at, uint64_t available, const ZipEntryInfo& entry);

// The longest descriptor: signature, CRC-32 and two 8-byte sizes.
const uint32_t kMaxDataDescriptorSize = 24;
