#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include "ScratchFolder.h"
#include "WorkArea_win.h"

namespace {

struct DirectoryCase {
    const wchar_t* path;
    bool includeLast;
    std::vector<const wchar_t*> folders;   // must exist afterwards
    std::vector<const wchar_t*> absent;    // must not
};

TEST(CreateDirectories, EdgeCases)
{
    const DirectoryCase cases[] = {
        {L"a/b/c.txt", false, {L"a", L"a\\b"}, {L"a\\b\\c.txt"}},
        {L"d/e/f.txt", true, {L"d", L"d\\e", L"d\\e\\f.txt"}, {}},
        {L"g/h/", false, {L"g", L"g\\h"}, {}},
        {L"i/j/", true, {L"i", L"i\\j"}, {}},
        {L"k\\l/m\\n", true, {L"k", L"k\\l", L"k\\l\\m", L"k\\l\\m\\n"}, {}},
        {L"o", false, {}, {L"o"}},
        {L"p", true, {L"p"}, {}},
        {L"q//r", true, {L"q", L"q\\r"}, {}},
    };
    for (const DirectoryCase& c : cases) {
        ScratchFolder scratch;
        EXPECT_TRUE(createDirectories(c.path, c.includeLast)) << c.path;
        for (const wchar_t* folder : c.folders)
            EXPECT_TRUE(isFolder(scratch / folder)) << c.path << ": " << folder;
        for (const wchar_t* missing : c.absent)
            EXPECT_FALSE(exists(scratch / missing)) << c.path << ": " << missing;
    }
}

TEST(CreateDirectories, EmptyPathCreatesNothing)
{
    ScratchFolder scratch;
    EXPECT_TRUE(createDirectories(L"", true));
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((scratch / L"*").c_str(), &found);
    int entries = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            entries += name != L"." && name != L"..";
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    EXPECT_EQ(entries, 0);
}

TEST(CreateDirectories, AbsolutePathWithDrive)
{
    ScratchFolder scratch;
    EXPECT_TRUE(createDirectories(scratch / L"abs\\x\\y", true));
    EXPECT_TRUE(isFolder(scratch / L"abs\\x\\y"));
}

TEST(CreateDirectories, PathOf1023CharactersIsTakenAnd1024Refused)
{
    ScratchFolder scratch;
    // The first folder is short enough to be made; the long tail is not.
    const std::wstring fits = L"fits/" + std::wstring(1023 - 5, L'x');
    ASSERT_EQ(fits.size(), 1023u);
    EXPECT_TRUE(createDirectories(fits, false));
    EXPECT_TRUE(isFolder(scratch / L"fits"));

    const std::wstring tooLong = L"long/" + std::wstring(1024 - 5, L'x');
    ASSERT_EQ(tooLong.size(), 1024u);
    EXPECT_FALSE(createDirectories(tooLong, true));
    EXPECT_FALSE(exists(scratch / L"long"));
}

TEST(CreateDirectories, ExistingFoldersAndFilesAreNoFailure)
{
    ScratchFolder scratch;
    ASSERT_TRUE(CreateDirectoryW((scratch / L"there").c_str(), nullptr));
    ASSERT_TRUE(writeFile(scratch / L"there\\file", "x"));
    // A file where a folder should go: that folder (and what lies below) is
    // not made, and that is not reported.
    EXPECT_TRUE(createDirectories(L"there/file/below", true));
    EXPECT_TRUE(isFile(scratch / L"there\\file"));
    EXPECT_TRUE(createDirectories(L"there/new", true));
    EXPECT_TRUE(isFolder(scratch / L"there\\new"));

    // The first folder that is not there afterwards is told, for the log.
    uint32_t folderError = 1;
    EXPECT_TRUE(createDirectories(L"there/new/x.txt", false, folderError));
    EXPECT_EQ(folderError, 0u);
    EXPECT_TRUE(createDirectories(L"there/file/below/x.txt", false, folderError));
    EXPECT_EQ(folderError, static_cast<uint32_t>(ERROR_ALREADY_EXISTS));
}

TEST(GetWorkAreaPath, LocalAppDataNorvikVozeDozavVersion)
{
    std::wstring path = L"previous content";
    ASSERT_TRUE(getWorkAreaPath(path));
    // Asked after the stub's own lookup, which creates the folder when a new
    // prefix does not have it yet.
    wchar_t local[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local)));
    EXPECT_EQ(path, std::wstring(local) + L"\\Norvik\\VozeDozav\\10.99.0.21465");
}

} // namespace
