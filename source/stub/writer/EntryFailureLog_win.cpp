#include "EntryResult_win.h"

#include <windows.h>

#include <cwchar>

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

} // namespace

void logEntryFailureCause(const EntryResult& result)
{
    const char* text = stepText(result.failed);
    if (text == nullptr || result.systemError == 0)
        return;
    LogRecord record(LogLevel::Error, LOG_SOURCE_FILE, "unpackEmbeddedZip", __LINE__);
    record << text << result.systemError;
    if (result.systemError == ERROR_DISK_FULL || result.systemError == ERROR_HANDLE_DISK_FULL) {
        // Exact, not in KiB, which would hide a shortfall of a few bytes.
        wchar_t bytes[32];
        _snwprintf(bytes, 32, L"%I64u", static_cast<unsigned long long>(result.bytesShort));
        bytes[31] = L'\0';
        record << " (the disk is full: " << bytes << " more bytes needed)";
    }
    record << ".";
}

void logFolderFailure(uint32_t systemError)
{
    if (systemError == 0)
        return;
    LogRecord record(LogLevel::Error, LOG_SOURCE_FILE, "unpackEmbeddedZip", __LINE__);
    record << "Unable to create folder.  Error = " << systemError;
    if (systemError == ERROR_ALREADY_EXISTS)
        record << " (a file stands where the folder goes)";
    record << ".";
}

void logEntryDataFailure(const EntryResult& result)
{
    if (result.failed != EntryStep::Data || result.detail == nullptr)
        return;
    LogRecord record(LogLevel::Error, LOG_SOURCE_FILE, "unpackEmbeddedZip", __LINE__);
    record << "Unable to unpack the entry's data: " << result.detail << ".";
}
