#include "EntryFile_win.h"

#include <windows.h>


#include "EntryPlace_win.h"
#include "LongPath_win.h"
#include "TemporaryName_win.h"
#include "ZipReader.h"
#include "ZipReaderCallback.h"

#define LOG_SOURCE_FILE "DuzoRizedAroriva"
#include "LogRecord.h"

namespace {

const char* const kFunction = "unpackEmbeddedZip";
// Bounded writes, so that a full disk tells how far the file got.
const uint32_t kWriteChunk = 1024 * 1024;
const unsigned kMaxTemporaryNames = 16;

// Sends the entry's bytes to the file being written, which it owns; remembers
// the system error of a failed write or close.
class FileSink : public ZipReaderCallback {
public:
    FileSink(HANDLE file, TransientRetry& retry) : file(file), retry(retry) {}
    ~FileSink() override { close(); }
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

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

// Sends the entry's bytes into `file`, which it closes; the failure, if any,
// with what a full disk still needed.
EntryResult deliverInto(HANDLE file, EntryBytes& bytes, const EntryExpectation& expected,
                        TransientRetry& retry)
{
    FileSink sink(file, retry);
    const bool delivered = bytes.deliver(sink);
    const bool closed = sink.close();
    if (sink.failure() != 0) {
        EntryResult result = failedAt(EntryStep::Write, sink.failure());
        if (expected.size > sink.bytesWritten())
            result.bytesShort = expected.size - sink.bytesWritten();
        return result;
    }
    if (!delivered || !closed)
        return failedAt(EntryStep::Data, 0);
    return EntryResult();
}

// Beside the entry, so that the rename stays on one volume, and made with
// CREATE_NEW, so that it never opens anyone's file.
HANDLE createTemporary(const std::wstring& path, TransientRetry& retry, std::wstring& temporary,
                       uint32_t& error)
{
    for (unsigned n = 0; n < kMaxTemporaryNames;) {
        temporary = systemPath(temporaryName(path, GetCurrentProcessId(), n), kFilePathLimit);
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

// Replaces a file that is there: the bytes go to a temporary that is renamed
// over it, so the old file stays whole until the new one is.
EntryResult writeThroughTemporary(EntryBytes& bytes, const EntryExpectation& expected,
                                  const std::wstring& path, const std::wstring& target,
                                  TransientRetry& retry)
{
    std::wstring temporary;
    uint32_t error = 0;
    const HANDLE file = createTemporary(path, retry, temporary, error);
    if (file == INVALID_HANDLE_VALUE)
        return failedAt(EntryStep::Create, error);

    EntryResult result = deliverInto(file, bytes, expected, retry);
    bool cleared = false;
    while (result && !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD failure = GetLastError();
        // A read-only mark refuses the replacement: cleared once (with hidden
        // and system), then the rename is tried again.
        if (failure == ERROR_ACCESS_DENIED && !cleared) {
            cleared = true;
            if (const uint32_t unmarked = clearBlockingAttributes(target)) {
                result = failedAt(EntryStep::Attributes, unmarked);
                break;
            }
            continue;
        }
        if (!retry.again(failure))
            result = failedAt(EntryStep::Rename, failure);
    }
    if (!result)
        DeleteFileW(temporary.c_str());
    return result;
}

// A file that is not there yet (every first run) is written in its place: no
// temporary, no rename. A failure removes it; a run killed while writing
// leaves it cut, and the next run's size and CRC-32 check rewrites it.
EntryResult writeInPlace(HANDLE file, EntryBytes& bytes, const EntryExpectation& expected,
                         const std::wstring& target, TransientRetry& retry)
{
    const EntryResult result = deliverInto(file, bytes, expected, retry);
    if (!result)
        DeleteFileW(target.c_str());
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
                       const std::wstring& path, const RetryClock& clock, bool mayBeThere)
{
    const std::wstring target = systemPath(path, kFilePathLimit);
    TransientRetry retry(clock);
    EntryResult result;
    // Checked once at most: a file that failed the check is not read again.
    bool checked = false;
    const auto holdsContent = [&] {
        checked = true;
        return fileHoldsContent(target, expected.size, expected.crc32);
    };
    if (mayBeThere && holdsContent()) {
        result.kept = true;
        return result;
    }
    bool movedAside = false;
    for (;;) {
        const HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            result = writeInPlace(file, bytes, expected, target, retry);
            break;
        }
        const DWORD error = GetLastError();
        // Something is there: most often this entry's file from an earlier run.
        if (error == ERROR_FILE_EXISTS && !checked && holdsContent()) {
            result.kept = true;
            break;
        }
        // Only now is it asked what stands there: that explains the failure.
        const DWORD attributes = GetFileAttributesW(target.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (retry.again(error))
                continue;
            result = failedAt(EntryStep::Create, error);
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !movedAside) {
            std::wstring aside;
            if (const uint32_t moveError = moveAside(path, aside)) {
                result = failedAt(EntryStep::MoveAside, moveError);
                break;
            }
            movedAside = true;
            LOG_RECORD(LogLevel::Event, kFunction)
                << "Moved a folder out of the way of a file: " << path << " -> " << aside;
            continue;
        } else {
            result = writeThroughTemporary(bytes, expected, path, target, retry);
        }
        break;
    }
    if (retry.retries() > 0)
        LOG_RECORD(LogLevel::Event, kFunction)
            << "Retried a file held by another program " << retry.retries() << " times over "
            << retry.elapsedMs() << " ms: " << path;
    return result;
}

EntryResult writeEntryFile(ZipReader& reader, uint32_t index, const std::wstring& path,
                           bool mayBeThere)
{
    if (index >= reader.entries().size())
        return failedAt(EntryStep::Data, 0);
    const ZipEntryInfo& entry = reader.entries()[index];
    ArchiveEntryBytes bytes(reader, index);
    return writeEntry(bytes, EntryExpectation{entry.uncompressedSize, entry.crc32}, path,
                      systemRetryClock(), mayBeThere);
}
