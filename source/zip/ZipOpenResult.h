#pragma once

// Why ZipReader::open refused an archive, for callers that report it.
enum class ZipOpenReason
{
    Opened,
    TooSmall,          // smaller than the area searched for the end record
    NoEndRecord,       // no end record signature in that area
    EndRecordCut,      // the end record's comment runs past the searched bytes
    DirectoryOutside,  // the recorded directory would begin before the file
    DirectoryTooLarge, // more than the reader's directory limit
    DirectoryDamaged,  // a directory header is damaged or cut off
    EntriesOverlap,    // local records overlap each other or the directory
    ReadFailed,        // the byte source could not supply a view
};

struct ZipOpenResult
{
    ZipOpenReason reason = ZipOpenReason::Opened;

    bool ok() const { return reason == ZipOpenReason::Opened; }
    explicit operator bool() const { return ok(); }
    // A short English phrase, for a log line or a message.
    const char* text() const;
};
