// The entry writer in process: what it does with what it finds where an
// entry's file goes, how a failure leaves the place, and waiting for a file
// another program holds.
#include <gtest/gtest.h>

#include <windows.h>
#include <zlib.h>

#include <string>
#include <thread>
#include <vector>

#include "EntryFile_win.h"
#include "LongPath_win.h"
#include "ScratchFolder.h"
#include "WorkArea_win.h"
#include "ZipReaderCallback.h"

namespace {

// The entry's bytes in two writes; with `failAfterFirst` the data "breaks"
// after the first, as a corrupt archive would.
class TestBytes : public EntryBytes {
public:
    explicit TestBytes(std::string content, bool failAfterFirst = false)
        : content(std::move(content)), failAfterFirst(failAfterFirst)
    {
    }
    bool deliver(ZipReaderCallback& sink) override
    {
        const size_t half = content.size() / 2;
        const uint8_t* data = reinterpret_cast<const uint8_t*>(content.data());
        if (!sink.write(data, static_cast<uint32_t>(half)) || failAfterFirst)
            return false;
        return sink.write(data + half, static_cast<uint32_t>(content.size() - half)) &&
               sink.finish();
    }
    EntryExpectation expected() const
    {
        const Bytef* data = reinterpret_cast<const Bytef*>(content.data());
        return {content.size(), static_cast<uint32_t>(crc32(0, data, content.size()))};
    }

private:
    std::string content;
    bool failAfterFirst;
};

std::string readFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string content(1 << 16, '\0');
    DWORD got = 0;
    ReadFile(file, &content[0], static_cast<DWORD>(content.size()), &got, nullptr);
    CloseHandle(file);
    content.resize(got);
    return content;
}

uint64_t writeTime(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

std::vector<std::wstring> namesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// A clock that only moves when the retry sleeps: giving up takes no time.
uint32_t fakeNow = 0;
uint32_t fakeClockNow() { return fakeNow; }
void fakeClockSleep(uint32_t ms) { fakeNow += ms; }
const RetryClock fakeClock = {fakeClockNow, fakeClockSleep};

const std::string kContent = "the entry's content, new in this run";

const DWORD kMarks = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

enum class Leftover { None, File, Folder };

struct LeftoverCase {
    const char* what;
    Leftover leftover;
    const char* content;   // of the file left there
    DWORD marks;           // its attributes
    bool kept;
};

TEST(EntryFile, WhatStandsInThePlaceNeverBlocks)
{
    const LeftoverCase cases[] = {
        {"nothing there", Leftover::None, "", 0, false},
        {"the same file", Leftover::File, kContent.c_str(), 0, true},
        {"the same file, read-only", Leftover::File, kContent.c_str(), FILE_ATTRIBUTE_READONLY, true},
        {"an older file", Leftover::File, "old", 0, false},
        {"a read-only file", Leftover::File, "old", FILE_ATTRIBUTE_READONLY, false},
        {"a hidden file", Leftover::File, "old", FILE_ATTRIBUTE_HIDDEN, false},
        {"a system file", Leftover::File, "old", FILE_ATTRIBUTE_SYSTEM, false},
        {"a read-only, hidden system file", Leftover::File, "old", kMarks, false},
        {"a folder with a file in it", Leftover::Folder, "", 0, false},
    };
    // Looked for first (its folder was there) or created first: the same outcome.
    for (const bool mayBeThere : {false, true})
    for (const LeftoverCase& c : cases) {
        SCOPED_TRACE(std::string(c.what) + (mayBeThere ? ", looked for first" : ", created first"));
        ScratchFolder scratch;
        const std::wstring target = scratch / L"sub\\entry.bin";
        CreateDirectoryW((scratch / L"sub").c_str(), nullptr);
        if (c.leftover == Leftover::Folder) {
            CreateDirectoryW(target.c_str(), nullptr);
            ASSERT_TRUE(writeFile(target + L"\\someone's.txt", "keep me"));
        } else if (c.leftover == Leftover::File) {
            ASSERT_TRUE(writeFile(target, c.content));
            // An old time stamp, so that a rewrite shows in it.
            HANDLE file = CreateFileW(target.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
            const FILETIME old = {0x12345678, 0x01D00000};
            SetFileTime(file, nullptr, nullptr, &old);
            CloseHandle(file);
            ASSERT_TRUE(c.marks == 0 || SetFileAttributesW(target.c_str(), c.marks));
        }
        const uint64_t before = writeTime(target);

        TestBytes bytes(kContent);
        const EntryResult result = writeEntry(bytes, bytes.expected(), L"sub/entry.bin",
                                              systemRetryClock(), mayBeThere);
        ASSERT_TRUE(static_cast<bool>(result)) << int(result.failed) << " " << result.systemError;
        EXPECT_EQ(result.kept, c.kept);
        EXPECT_EQ(readFile(target), kContent);
        // A kept file is not touched at all; a replaced one has no marks left.
        EXPECT_EQ(writeTime(target) == before, c.kept);
        EXPECT_EQ(GetFileAttributesW(target.c_str()) & kMarks, c.kept ? c.marks : 0);
        if (c.leftover == Leftover::Folder) {
            EXPECT_EQ(readFile(scratch / L"sub\\entry.bin.moved-1\\someone's.txt"), "keep me");
        }
        // Nothing else is left beside the file: no temporary file.
        EXPECT_EQ(namesIn(scratch / L"sub").size(), c.leftover == Leftover::Folder ? 2u : 1u);
        SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST(EntryFile, AFailedEntryLeavesNoPartialFile)
{
    // Whether an old file stood there: it stays whole, or nothing appears.
    for (const bool hadOld : {false, true}) {
        SCOPED_TRACE(hadOld ? "over an old file" : "new file");
        ScratchFolder scratch;
        if (hadOld) {
            ASSERT_TRUE(writeFile(scratch / L"entry.bin", "old and whole"));
        }
        TestBytes bytes(kContent, true);
        const EntryResult result = writeEntry(bytes, bytes.expected(), L"entry.bin",
                                              systemRetryClock(), hadOld);
        EXPECT_EQ(result.failed, EntryStep::Data);
        EXPECT_EQ(result.systemError, 0u);
        EXPECT_EQ(readFile(scratch / L"entry.bin"), hadOld ? "old and whole" : "<missing>");
        EXPECT_EQ(namesIn(scratch.path()).size(), hadOld ? 1u : 0u);

        // The next run writes it whole.
        TestBytes whole(kContent);
        EXPECT_TRUE(static_cast<bool>(writeEntry(whole, whole.expected(), L"entry.bin",
                                                 systemRetryClock(), true)));
        EXPECT_EQ(readFile(scratch / L"entry.bin"), kContent);
    }
}

// Holds `path` open for reading without sharing writing or deletion, as a
// virus scanner does, for `ms`.
std::thread holdFile(const std::wstring& path, DWORD ms, HANDLE& opened)
{
    opened = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
    const HANDLE file = opened;
    return std::thread([file, ms] {
        Sleep(ms);
        CloseHandle(file);
    });
}

TEST(EntryFile, AHeldFileIsWaitedForUntilReleased)
{
    ScratchFolder scratch;
    ASSERT_TRUE(writeFile(scratch / L"held.bin", "old"));
    HANDLE opened;
    std::thread holder = holdFile(scratch / L"held.bin", 1000, opened);
    ASSERT_NE(opened, INVALID_HANDLE_VALUE);
    const DWORD start = GetTickCount();
    TestBytes bytes(kContent);
    const EntryResult result = writeEntry(bytes, bytes.expected(), L"held.bin",
                                          systemRetryClock(), true);
    const DWORD took = GetTickCount() - start;
    holder.join();
    EXPECT_TRUE(static_cast<bool>(result)) << int(result.failed) << " " << result.systemError;
    EXPECT_EQ(readFile(scratch / L"held.bin"), kContent);
    EXPECT_GE(took, 500u);
    EXPECT_LT(took, 5000u);
}

struct FailureCase {
    const char* what;
    const wchar_t* path;
    bool holdTarget;
    EntryStep step;
    uint32_t error;
    uint32_t orError; // Wine denies access where Windows may report a sharing violation
};

TEST(EntryFile, AFailureCarriesItsStepAndSystemError)
{
    const FailureCase cases[] = {
        {"folder missing", L"missing\\entry.bin", false, EntryStep::Create, ERROR_PATH_NOT_FOUND,
         ERROR_PATH_NOT_FOUND},
        {"held past the budget", L"held.bin", true, EntryStep::Rename, ERROR_SHARING_VIOLATION,
         ERROR_ACCESS_DENIED},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder scratch;
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.holdTarget) {
            ASSERT_TRUE(writeFile(scratch / c.path, "old"));
            held = CreateFileW((scratch / c.path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        }
        fakeNow = 0;
        TestBytes bytes(kContent);
        const EntryResult result = writeEntry(bytes, bytes.expected(), c.path, fakeClock, true);
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        EXPECT_EQ(result.failed, c.step);
        EXPECT_TRUE(result.systemError == c.error || result.systemError == c.orError)
            << result.systemError;
        // Only a lock is waited for, and then the whole budget.
        EXPECT_EQ(fakeNow, c.holdTarget ? TransientRetry::kBudgetMs : 0u);
        EXPECT_EQ(namesIn(scratch.path()).size(), c.holdTarget ? 1u : 0u);
    }
}

TEST(LongPaths, FilesAndFoldersPastTheClassicLimitGoByTheirFullForm)
{
    ScratchFolder scratch;
    // Short paths stay as given; long ones become \\?\ + full path, backslashes only.
    EXPECT_EQ(systemPath(L"a/b.txt", kFilePathLimit), L"a/b.txt");
    std::wstring deep;
    for (int i = 0; i < 12; ++i)
        deep += L"folder_with_a_long_name_" + std::to_wstring(i) + L"/";
    const std::wstring full = systemPath(deep + L"file.txt", kFilePathLimit);
    EXPECT_EQ(full, L"\\\\?\\" + scratch.path() + L"\\" + [&] {
        std::wstring back = deep + L"file.txt";
        for (wchar_t& c : back)
            c = c == L'/' ? L'\\' : c;
        return back;
    }());

    ASSERT_TRUE(createDirectories(deep + L"file.txt", false));
    TestBytes bytes(kContent);
    EXPECT_TRUE(static_cast<bool>(writeEntry(bytes, bytes.expected(), deep + L"file.txt",
                                             systemRetryClock(), false)));
    EXPECT_EQ(readFile(full), kContent);
}

} // namespace
