#include "EntryPlace_win.h"

#include <windows.h>
#include <zlib.h>

#include <cwchar>
#include <vector>

#include "LongPath_win.h"
#include "Owned_win.h"

namespace {

const DWORD kBlockingAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
// Large reads, few calls: a re-run reads every file it keeps.
const DWORD kReadChunk = 1024 * 1024;
const unsigned kMaxAsideNames = 1000;

} // namespace

bool fileHoldsContent(const std::wstring& target, uint64_t size, uint32_t crc)
{
    UniqueHandle file(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER length;
    if (!file.valid() || !GetFileSizeEx(file.get(), &length) ||
        static_cast<uint64_t>(length.QuadPart) != size)
        return false;
    // No bigger than the file, so a small file costs no large buffer.
    const DWORD chunk = size < kReadChunk ? static_cast<DWORD>(size) : kReadChunk;
    std::vector<uint8_t> buffer(chunk);
    uLong sum = crc32(0L, Z_NULL, 0);
    uint64_t left = size;
    while (left > 0) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer.data(), chunk, &got, nullptr) || got == 0)
            return false;
        sum = crc32(sum, buffer.data(), got);
        left -= got < left ? got : left;
    }
    return static_cast<uint32_t>(sum) == crc;
}

uint32_t moveAside(const std::wstring& path, std::wstring& aside)
{
    const std::wstring from = systemPath(path, kFilePathLimit);
    wchar_t suffix[32];
    for (unsigned n = 1; n <= kMaxAsideNames; ++n) {
        _snwprintf(suffix, 32, L".moved-%u", n);
        suffix[31] = L'\0';
        aside = path + suffix;
        if (MoveFileExW(from.c_str(), systemPath(aside, kFilePathLimit).c_str(), 0))
            return 0;
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return error;
    }
    return ERROR_ALREADY_EXISTS;
}

uint32_t clearBlockingAttributes(const std::wstring& target)
{
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & kBlockingAttributes) == 0)
        return 0;
    DWORD kept = attributes & ~kBlockingAttributes;
    if (kept == 0)
        kept = FILE_ATTRIBUTE_NORMAL;
    return SetFileAttributesW(target.c_str(), kept) ? 0 : GetLastError();
}
