// The parts of the logging subsystem that need no log service: the word test
// of the command-line filter, the log's 8-bit text and the log file's access
// rights.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <share.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "LogFileAccess_win.h"
#include "LogText.h"
#include "LogTestSupport.h"
#include "LoggerFilter.h"

namespace {

struct NarrowCase {
    const wchar_t* wide;
    const char* narrow;
};

TEST(NarrowLogText, KeepsLatin1AndNarrowBytesAndMarksTheRest)
{
    const NarrowCase cases[] = {
        {L"plain ASCII", "plain ASCII"},
        {L"caf\u00e9 \u00ff\u0080\u001a", "caf\xe9 \xff\x80\x1a"},
        // A narrow byte streamed into a record arrives widened by sign extension.
        {L"\uffe9\uff80\uffff", "\xe9\x80\xff"},
        // U+0100 has the low byte 0 and must not cut the line.
        {L"cut\u0100after", "cut?after"},
        {L"C:\\users\\\u5c71\u7530\\x", "C:\\users\\??\\x"},
        {L"\u041a\u0416", "??"},
        // One character beyond the BMP is one mark; a lone surrogate is one too.
        {L"a\U0001F600b", "a?b"},
        {L"a\xd800" L"b", "a?b"},
    };
    for (const NarrowCase& c : cases)
        EXPECT_EQ(narrowLogText(c.wide), c.narrow) << c.narrow;
}

struct ContainsCase {
    const wchar_t* text;
    const wchar_t* word;
    bool expected;
};

TEST(ContainsNoCase, ComparesOnlyAsciiLettersWithoutCase)
{
    const ContainsCase cases[] = {
        {L"/authToken=abc", L"token", true},
        {L"/TOKEN", L"token", true},
        {L"token", L"TOKEN", true},
        {L"C:\\Tokens\\setup.exe", L"token", true},
        {L"/Personalize", L"persona", true},
        {L"/person", L"persona", false},
        {L"/tok en", L"token", false},
        {L"", L"token", false},
        {L"abc", L"", true},
        // Only A to Z fold: neither the Kelvin sign nor dotless i are letters here.
        {L"/to\u212aen", L"token", false},
        {L"/persona\u0131", L"persona", true},
        {L"/PERSON\u00c1", L"persona", false},
        {L"[token]", L"[TOKEN]", true},
        {L"@", L"`", false},
    };
    for (const ContainsCase& c : cases)
        EXPECT_EQ(ContainsNoCase(c.text, c.word), c.expected)
            << logtest::narrow(c.text) << " / " << logtest::narrow(c.word);
    EXPECT_FALSE(ContainsNoCase(nullptr, L"token"));
    EXPECT_FALSE(ContainsNoCase(L"token", nullptr));
}

// What the file's access list grants to one SID, summed over its allow entries.
struct Grants {
    ACCESS_MASK users = 0;
    ACCESS_MASK everyone = 0;
    int entries = 0;
};

bool readGrants(const std::wstring& path, Grants& grants)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    PSID users = nullptr;
    PSID everyone = nullptr;
    ConvertStringSidToSidW(L"S-1-5-32-545", &users);
    ConvertStringSidToSidW(L"S-1-1-0", &everyone);
    grants = Grants();
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace))
            continue;
        ++grants.entries;
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if (EqualSid(sid, users))
            grants.users |= allowed->Mask;
        if (EqualSid(sid, everyone))
            grants.everyone |= allowed->Mask;
    }
    LocalFree(users);
    LocalFree(everyone);
    LocalFree(descriptor);
    return true;
}

bool runningOnWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(SetLogFileAccess, GrantsUsersAndEveryoneWhileTheLogIsOpen)
{
    const std::wstring path = logtest::freshFolder(L"access") + L"log.txt";
    FILE* stream = _wfsopen(path.c_str(), L"a+", _SH_DENYNO);
    ASSERT_NE(stream, nullptr);
    Grants before;
    ASSERT_TRUE(readGrants(path, before));

    EXPECT_TRUE(SetLogFileAccess(path.c_str()));
    Grants after;
    ASSERT_TRUE(readGrants(path, after));
    // Again on a file that already has the rights: same result, same rights.
    EXPECT_TRUE(SetLogFileAccess(path.c_str()));
    Grants again;
    ASSERT_TRUE(readGrants(path, again));
    EXPECT_EQ(again.users, after.users);
    EXPECT_EQ(again.everyone, after.everyone);

    // The stream that holds the file open is still usable.
    EXPECT_GE(fputs("still writable\n", stream), 0);
    EXPECT_EQ(fflush(stream), 0);
    fclose(stream);

    if (runningOnWine()) {
        // Wine keeps no access list of its own: it shows one made from the
        // Unix mode bits (owner, SYSTEM, Everyone; no Users entry). Granting
        // Everyone full control widens the "other" bits from read and execute
        // to read, write and execute, which reads back as this mask.
        EXPECT_EQ(before.everyone, 0x001200a9u);
        EXPECT_EQ(after.everyone, 0x001301ffu);
        EXPECT_EQ(after.users, 0u);
    } else {
        EXPECT_EQ(after.users & FILE_ALL_ACCESS, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
        EXPECT_EQ(after.everyone & FILE_ALL_ACCESS, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    }
}

TEST(SetLogFileAccess, LeavesAFileWithASecondNameAlone)
{
    // A hard link planted at the log's path: the file is someone else's too.
    const std::wstring folder = logtest::freshFolder(L"access_linked");
    const std::wstring other = folder + L"other.txt";
    ASSERT_TRUE(logtest::writeBytes(other, "not the log's"));
    ASSERT_TRUE(CreateHardLinkW((folder + L"log.txt").c_str(), other.c_str(), nullptr));
    Grants before;
    ASSERT_TRUE(readGrants(other, before));
    EXPECT_FALSE(SetLogFileAccess((folder + L"log.txt").c_str()));
    Grants after;
    ASSERT_TRUE(readGrants(other, after));
    EXPECT_EQ(after.users, before.users);
    EXPECT_EQ(after.everyone, before.everyone);
}

TEST(SetLogFileAccess, MissingPathFailsAndCreatesNothing)
{
    const std::wstring folder = logtest::freshFolder(L"access_missing");
    EXPECT_FALSE(SetLogFileAccess((folder + L"log.txt").c_str()));
    EXPECT_FALSE(logtest::fileExists(folder + L"log.txt"));
    EXPECT_FALSE(SetLogFileAccess((folder + L"no\\such\\log.txt").c_str()));
    EXPECT_FALSE(SetLogFileAccess(nullptr));
}

} // namespace
