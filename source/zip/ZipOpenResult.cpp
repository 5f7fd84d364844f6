#include "ZipOpenResult.h"

const char* ZipOpenResult::text() const
{
    switch (reason) {
    case ZipOpenReason::Opened:
        return "opened";
    case ZipOpenReason::TooSmall:
        return "the file is too small to hold an archive";
    case ZipOpenReason::NoEndRecord:
        return "no end of central directory record near the end";
    case ZipOpenReason::EndRecordCut:
        return "the end of central directory record is cut off";
    case ZipOpenReason::DirectoryOutside:
        return "the central directory would begin before the file";
    case ZipOpenReason::DirectoryTooLarge:
        return "the central directory is larger than 64 MiB";
    case ZipOpenReason::DirectoryDamaged:
        return "a central directory header is damaged or cut off";
    case ZipOpenReason::EntriesOverlap:
        return "entries overlap each other or the central directory";
    case ZipOpenReason::ReadFailed:
        return "the file could not be read";
    }
    return "unknown";
}
