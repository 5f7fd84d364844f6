#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "FileMapping_win.h"
#include "../core/MappingWindowCases.h"
#include "ScratchFolder.h"

namespace {

// Whether anyone still holds the file open: an exclusive open fails then.
bool openedElsewhere(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return false;
}

TEST(FileMapping, MissingFileMapsNothing)
{
    ScratchFolder scratch;
    FileMapping mapping(scratch / L"missing.bin");
    EXPECT_EQ(mapping.size(), 0u);
    EXPECT_EQ(mapping.view(0, 1), nullptr);
    EXPECT_EQ(mapping.error().step, FileMapStep::Open);
    EXPECT_EQ(mapping.error().code, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST(FileMapping, EmptyPathMapsNothing)
{
    FileMapping mapping(L"");
    EXPECT_EQ(mapping.size(), 0u);
    EXPECT_EQ(mapping.view(0, 1), nullptr);
    EXPECT_FALSE(mapping.isOpen());
}

TEST(FileMapping, EmptyFileOpensButHasNoView)
{
    ScratchFolder scratch;
    ASSERT_TRUE(writeFile(scratch / L"empty.bin", ""));
    {
        FileMapping mapping(scratch / L"empty.bin");
        EXPECT_TRUE(mapping.isOpen());
        EXPECT_EQ(mapping.size(), 0u);
        EXPECT_EQ(mapping.view(0, 1), nullptr);
        EXPECT_TRUE(openedElsewhere(scratch / L"empty.bin"));
    }
    EXPECT_FALSE(openedElsewhere(scratch / L"empty.bin"));
}

TEST(FileMapping, WholeFileIsMappedAndReleased)
{
    ScratchFolder scratch;
    std::string content(70000, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(writeFile(scratch / L"image.bin", content));
    {
        FileMapping mapping(scratch / L"image.bin");
        ASSERT_EQ(mapping.size(), content.size());
        const uint8_t* whole = mapping.view(0, static_cast<uint32_t>(content.size()));
        ASSERT_NE(whole, nullptr);
        EXPECT_EQ(std::memcmp(whole, content.data(), content.size()), 0);
        EXPECT_TRUE(openedElsewhere(scratch / L"image.bin"));
        // Others may still read, write and delete the file meanwhile.
        HANDLE shared = CreateFileW((scratch / L"image.bin").c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(shared, INVALID_HANDLE_VALUE);
        if (shared != INVALID_HANDLE_VALUE)
            CloseHandle(shared);
    }
    EXPECT_FALSE(openedElsewhere(scratch / L"image.bin"));
}

TEST(GetModulePath, NamesTheRunningProgram)
{
    const std::wstring path = getModulePath();
    ASSERT_FALSE(path.empty());
    EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(path.substr(path.size() - 4), L".exe");
    FileMapping self(path);
    const uint8_t* head = self.view(0, 2);
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head[0], 'M');
    EXPECT_EQ(head[1], 'Z');
}

TEST(FileMapping, SmallWindowsReadEveryPart)
{
    ScratchFolder scratch;
    const std::string content = windowTestContent();
    ASSERT_TRUE(writeFile(scratch / L"image.bin", content));
    FileMapping mapping(scratch / L"image.bin", 4096);
    expectSmallWindowsReadEveryPart(mapping, content);
}

} // namespace
