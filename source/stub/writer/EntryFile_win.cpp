#include "EntryFile_win.h"

#include <windows.h>

#include <cwchar>

#include "EntryPlace_win.h"
#include "LongPath_win.h"
#include "ZipReader.h"
#include "ZipReaderCallback.h"

#define LOG_SOURCE_FILE "DuzoRizedAroriva"
#include "LogRecord.h"

namespace {

const char* const kFunction = "unpackEmbeddedZip";
// Bounded writes, so that a full disk tells how far the file got.
const uint32_t kWriteChunk = 1024 * 1024;
const unsigned kMaxTemporaryNames = 16;

// Sends the entry's bytes to the temporary file, which it owns; remembers
// the system error of a failed write or close.
class TemporaryFileSink : public ZipReaderCallback {
public:
    TemporaryFileSink(HANDLE file, TransientRetry& retry) : file(file), retry(retry) {}
    ~TemporaryFileSink() override { close(); }
    TemporaryFileSink(const TemporaryFileSink&) = delete;
    TemporaryFileSink& operator=(const TemporaryFileSink&) = delete;

    bool write(const uint8_t* data, uint32_t size) override
    {
        while (size > 0) {
            DWORD done = 0;
            const DWORD ask = size < kWriteChunk ? size : kWriteChunk;
            const BOOL wrote = WriteFile(file, data, ask, &done, nullptr);
            if (!wrote || done == 0) {
                // A write that reports success without progress would loop forever.
                const DWORD failure = wrote ? ERROR_WRITE_FAULT : GetLastError();
                if (retry.again(failure))
                    continue;
                error = failure;
                return false;
            }
            data += done;
            size -= done;
            written += done;
        }
        return true;
    }
    bool finish() override { return close(); }

    // Closes the file once; false when closing it failed.
    bool close()
    {
        if (file == INVALID_HANDLE_VALUE)
            return error == 0;
        const HANDLE taken = file;
        file = INVALID_HANDLE_VALUE;
        if (!CloseHandle(taken) && error == 0)
            error = GetLastError();
        return error == 0;
    }

    uint32_t failure() const { return error; }
    uint64_t bytesWritten() const { return written; }

private:
    HANDLE file;
    TransientRetry& retry;
    uint32_t error = 0;
    uint64_t written = 0;
};

EntryResult failedAt(EntryStep step, uint32_t error)
{
    EntryResult result;
    result.failed = step;
    result.systemError = error;
    return result;
}

// "<path>.~<process id>[-n]": beside the entry, so that the rename stays on
// one volume, and made with CREATE_NEW, so that it never opens anyone's file.
HANDLE createTemporary(const std::wstring& path, TransientRetry& retry, std::wstring& temporary,
                       uint32_t& error)
{
    wchar_t suffix[32];
    for (unsigned n = 0; n < kMaxTemporaryNames;) {
        if (n == 0)
            _snwprintf(suffix, 32, L".~%lx", GetCurrentProcessId());
        else
            _snwprintf(suffix, 32, L".~%lx-%u", GetCurrentProcessId(), n);
        suffix[31] = L'\0';
        temporary = systemPath(path + suffix, kFilePathLimit);
        const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
            ++n;
        else if (!retry.again(error))
            return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

EntryResult writeThroughTemporary(EntryBytes& bytes, const EntryExpectation& expected,
                                  const std::wstring& path, const std::wstring& target,
                                  TransientRetry& retry)
{
    std::wstring temporary;
    uint32_t error = 0;
    const HANDLE file = createTemporary(path, retry, temporary, error);
    if (file == INVALID_HANDLE_VALUE)
        return failedAt(EntryStep::Create, error);

    EntryResult result;
    {
        TemporaryFileSink sink(file, retry);
        const bool delivered = bytes.deliver(sink);
        const bool closed = sink.close();
        if (sink.failure() != 0) {
            result = failedAt(EntryStep::Write, sink.failure());
            if (expected.size > sink.bytesWritten())
                result.bytesShort = expected.size - sink.bytesWritten();
        } else if (!delivered || !closed) {
            result = failedAt(EntryStep::Data, 0);
        }
    }
    if (result) {
        if (const uint32_t cleared = clearBlockingAttributes(target))
            result = failedAt(EntryStep::Attributes, cleared);
    }
    while (result && !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD failure = GetLastError();
        if (!retry.again(failure))
            result = failedAt(EntryStep::Rename, failure);
    }
    if (!result)
        DeleteFileW(temporary.c_str());
    return result;
}

class ArchiveEntryBytes : public EntryBytes {
public:
    ArchiveEntryBytes(ZipReader& reader, uint32_t index) : reader(reader), index(index) {}
    bool deliver(ZipReaderCallback& sink) override { return reader.extract(index, sink); }

private:
    ZipReader& reader;
    uint32_t index;
};

} // namespace

EntryResult writeEntry(EntryBytes& bytes, const EntryExpectation& expected,
                       const std::wstring& path, const RetryClock& clock)
{
    const std::wstring target = systemPath(path, kFilePathLimit);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::wstring aside;
        if (const uint32_t error = moveFolderAside(path, aside))
            return failedAt(EntryStep::MoveAside, error);
        LOG_RECORD(LogLevel::Event, kFunction)
            << "Moved a folder out of the way of a file: " << path << " -> " << aside;
    } else if (attributes != INVALID_FILE_ATTRIBUTES &&
               fileHoldsContent(target, expected.size, expected.crc32)) {
        EntryResult kept;
        kept.kept = true;
        return kept;
    }

    TransientRetry retry(clock);
    const EntryResult result = writeThroughTemporary(bytes, expected, path, target, retry);
    if (retry.retries() > 0)
        LOG_RECORD(LogLevel::Event, kFunction)
            << "Retried a file held by another program " << retry.retries() << " times over "
            << retry.elapsedMs() << " ms: " << path;
    return result;
}

EntryResult writeEntryFile(ZipReader& reader, uint32_t index, const std::wstring& path)
{
    if (index >= reader.entries().size())
        return failedAt(EntryStep::Data, 0);
    const ZipEntryInfo& entry = reader.entries()[index];
    ArchiveEntryBytes bytes(reader, index);
    return writeEntry(bytes, EntryExpectation{entry.uncompressedSize, entry.crc32}, path,
                      systemRetryClock());
}
