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
// a name that is free is made with CREATE_NEW and written in place (removed
// again on a failure); a file already there with the expected size and CRC-32
// is kept untouched; any other file is replaced by a temporary written beside
// it and renamed over it, so that the old file stays whole until then. A
// read-only mark that refuses the rename is cleared, a folder in the file's
// place is moved aside, and a file held for a moment by another program is
// waited for, within a few seconds, on `clock`. `mayBeThere`: the file's
// folder was there before this run, so the file is looked for first (a
// re-run keeps its files with one open each); else it is created first.
EntryResult writeEntry(EntryBytes& bytes, const EntryExpectation& expected,
                       const std::wstring& path, const RetryClock& clock, bool mayBeThere);

// The same for file entry `index` of `reader`, on the system's clock.
EntryResult writeEntryFile(ZipReader& reader, uint32_t index, const std::wstring& path,
                           bool mayBeThere);
