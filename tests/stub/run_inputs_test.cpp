#include <gtest/gtest.h>

#include <windows.h>

#include "RunInputs_win.h"
#include "ScratchFolder.h"

namespace {

TEST(SplitExePath, AtTheLastSeparatorOfEitherKind)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* folder;
        const wchar_t* name;
    };
    const Case cases[] = {
        {L"C:\\dl\\Setup.exe", L"C:\\dl", L"Setup.exe"},
        {L"C:\\Setup.exe", L"C:", L"Setup.exe"},
        {L"C:/a\\b/Setup.exe", L"C:/a\\b", L"Setup.exe"},
        {L"\\\\server\\share\\Setup.exe", L"\\\\server\\share", L"Setup.exe"},
        {L"Setup.exe", L"Setup.exe", L"Setup.exe"},
        {L"", L"", L""},
        {L"C:\\dir\\", L"C:\\dir", L""},
    };
    for (const Case& c : cases) {
        std::wstring folder = L"old", name = L"old";
        splitExePath(c.path, folder, name);
        EXPECT_EQ(folder, c.folder) << c.path;
        EXPECT_EQ(name, c.name) << c.path;
    }
}

TEST(IsBetaFileName, BoiOrBetaAnywhereInAnyCase)
{
    EXPECT_TRUE(isBetaFileName(L"Setup_beta.exe"));
    EXPECT_TRUE(isBetaFileName(L"SETUPBETA.EXE"));
    EXPECT_TRUE(isBetaFileName(L"boiSetup.exe"));
    EXPECT_TRUE(isBetaFileName(L"Setup.bOi"));
    EXPECT_FALSE(isBetaFileName(L"Setup.exe"));
    EXPECT_FALSE(isBetaFileName(L"Bet_a-B_oi.exe"));
}

TEST(FindSetupConfig, FileOrFolderCountsNothingElse)
{
    ScratchFolder scratch;
    std::wstring config = L"unchanged";
    EXPECT_FALSE(findSetupConfig(scratch.path(), config));
    EXPECT_EQ(config, L"unchanged");

    ASSERT_TRUE(CreateDirectoryW((scratch / L"Autorun").c_str(), nullptr));
    ASSERT_TRUE(writeFile(scratch / L"Autorun\\vozedozav.json.bak", "{}"));
    EXPECT_FALSE(findSetupConfig(scratch.path(), config));
    EXPECT_EQ(config, L"unchanged");

    ASSERT_TRUE(CreateDirectoryW((scratch / L"Autorun\\vozedozav.json").c_str(), nullptr));
    EXPECT_TRUE(findSetupConfig(scratch.path(), config));
    EXPECT_EQ(config, scratch / L"Autorun\\vozedozav.json");

    ASSERT_TRUE(RemoveDirectoryW((scratch / L"Autorun\\vozedozav.json").c_str()));
    ASSERT_TRUE(writeFile(scratch / L"Autorun\\vozedozav.json", "{}"));
    config.clear();
    EXPECT_TRUE(findSetupConfig(scratch.path(), config));
    EXPECT_EQ(config, scratch / L"Autorun\\vozedozav.json");
}

// The test writes HKLM\Software\Norvik, in the 32-bit view as an installed
// client would, in its Wine prefix and removes the value again; the end-to-end
// tests use prefixes of their own.
class ClientPathValue : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Norvik", 0, nullptr, 0,
                                  KEY_READ | KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegDeleteValueW(key, L"ClientPath");
        RegCloseKey(key);
    }
    void set(DWORD type, const void* data, DWORD bytes)
    {
        ASSERT_EQ(RegSetValueExW(key, L"ClientPath", 0, type, static_cast<const BYTE*>(data), bytes),
                  ERROR_SUCCESS);
    }
    void setString(const std::wstring& value)
    {
        set(REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    HKEY key = nullptr;
};

TEST_F(ClientPathValue, LengthLimit)
{
    std::wstring path;
    setString(std::wstring(510, L'a'));
    ASSERT_TRUE(readClientPath(path));
    EXPECT_EQ(path, std::wstring(510, L'a'));

    setString(std::wstring(511, L'b'));
    path = L"unchanged";
    EXPECT_FALSE(readClientPath(path));
}

TEST_F(ClientPathValue, EmptyAndUnterminatedValues)
{
    std::wstring path = L"old";
    setString(L"");
    ASSERT_TRUE(readClientPath(path));
    EXPECT_EQ(path, L"");

    // Data without a terminator ends where the data end.
    const wchar_t unterminated[] = {L'C', L':', L'\\', L'x'};
    set(REG_BINARY, unterminated, sizeof(unterminated));
    ASSERT_TRUE(readClientPath(path));
    EXPECT_EQ(path, L"C:\\x");

    // Data with an inner NUL end at it; an odd byte count drops the half unit.
    const wchar_t inner[] = {L'a', L'\0', L'b'};
    set(REG_BINARY, inner, sizeof(inner));
    ASSERT_TRUE(readClientPath(path));
    EXPECT_EQ(path, L"a");
    set(REG_BINARY, "a\0b\0c", 5);
    ASSERT_TRUE(readClientPath(path));
    EXPECT_EQ(path, L"ab");
}

TEST_F(ClientPathValue, MissingValue)
{
    RegDeleteValueW(key, L"ClientPath");
    std::wstring path = L"unchanged";
    EXPECT_FALSE(readClientPath(path));
}

} // namespace
