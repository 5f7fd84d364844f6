#include "EntryResult_win.h"

#include <windows.h>

#define LOG_SOURCE_FILE "DuzoRizedAroriva"
#include "LogRecord.h"

namespace {

const char* stepText(EntryStep step)
{
    switch (step) {
    case EntryStep::MoveAside: return "Unable to move a folder out of the way.  Error = ";
    case EntryStep::Attributes: return "Unable to clear file attributes.  Error = ";
    case EntryStep::Create: return "Unable to create file.  Error = ";
    case EntryStep::Write: return "Unable to write file.  Error = ";
    case EntryStep::Rename: return "Unable to move file into place.  Error = ";
    case EntryStep::None:
    case EntryStep::Data: break;
    }
    return nullptr;
}

// Whole KiB would hide a shortfall of a few bytes; the count is exact.
void appendBytes(LogRecord& record, uint64_t bytes)
{
    char digits[24];
    char* at = digits + sizeof digits;
    *--at = '\0';
    do {
        *--at = static_cast<char>('0' + bytes % 10);
        bytes /= 10;
    } while (bytes != 0);
    record << at;
}

} // namespace

void logEntryFailureCause(const EntryResult& result)
{
    const char* text = stepText(result.failed);
    if (text == nullptr || result.systemError == 0)
        return;
    LogRecord record(LogLevel::Error, LOG_SOURCE_FILE, "unpackEmbeddedZip", __LINE__);
    record << text << result.systemError;
    if (result.systemError == ERROR_DISK_FULL || result.systemError == ERROR_HANDLE_DISK_FULL) {
        record << " (the disk is full: ";
        appendBytes(record, result.bytesShort);
        record << " more bytes needed)";
    }
    record << ".";
}
