#pragma once
#include <cstdint>
#include <string>

#include "EntryResult_win.h"
#include "RetryPolicy_win.h"

class ZipReader;
class ZipReaderCallback;

// Where an entry's bytes come from: the archive in the stub; tests bring their own.
class EntryBytes {
public:
    // Sends the bytes to `sink` and calls its finish() once they are whole and
    // verified; false when the data could not be produced or was refused.
    virtual bool deliver(ZipReaderCallback& sink) = 0;
    virtual ~EntryBytes() = default;
};

// The content the entry's file must have, from the central directory.
struct EntryExpectation {
    uint64_t size;
    uint32_t crc32;
};

// Puts the entry's file at `path` (relative to the work area, '/' or '\'):
// a file already there with the expected size and CRC-32 is kept untouched;
// otherwise the bytes go to a temporary file beside it, which then replaces
// the name, so that a failure never leaves a cut file under it. Read-only,
// hidden and system marks of the old file are cleared, a folder in its place
// is moved aside, and a file held for a moment by another program is waited
// for, within a few seconds, on `clock`.
EntryResult writeEntry(EntryBytes& bytes, const EntryExpectation& expected,
                       const std::wstring& path, const RetryClock& clock);

// The same for file entry `index` of `reader`, on the system's clock.
EntryResult writeEntryFile(ZipReader& reader, uint32_t index, const std::wstring& path);
