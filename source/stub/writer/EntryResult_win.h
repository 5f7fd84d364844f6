#pragma once
#include <cstdint>

// The step at which writing an entry's file failed.
enum class EntryStep : uint8_t {
    None,       // written, or kept as it was
    Data,       // the archive's data was refused (no system error)
    MoveAside,  // a folder in the file's place could not be moved away
    Attributes, // the old file's read-only, hidden or system mark stayed
    Create,     // the temporary file could not be created
    Write,      // writing or closing the temporary file failed
    Rename,     // the temporary file could not replace the entry's name
};

// What became of one entry's file, with the reason when it failed.
struct EntryResult {
    EntryStep failed = EntryStep::None;
    uint32_t systemError = 0;
    // On a full disk: the entry's bytes that did not fit.
    uint64_t bytesShort = 0;
    // The file already there had the entry's size and CRC-32 and was left alone.
    bool kept = false;
    // For refused data, why, when known (a solid block that does not decode).
    const char* detail = nullptr;

    explicit operator bool() const { return failed == EntryStep::None; }
};

// Logs why an entry failed, with the system error code, as an Error record of
// its own (after the driver's line naming the entry). Nothing for a failure
// that has no system error.
void logEntryFailureCause(const EntryResult& result);

// Logs why the archive's data was refused, when that is known, as an Error
// record of its own after the entry's cause.
void logEntryDataFailure(const EntryResult& result);

// Logs, the same way, why a folder of the entry's path is not there (the
// error createDirectories told), before the file's own cause. Nothing for 0.
void logFolderFailure(uint32_t systemError);
