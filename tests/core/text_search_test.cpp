#include <gtest/gtest.h>

#include "TextSearch.h"

namespace {

struct Case {
    const char* text;
    const char* sought;
    int expected;
};

const Case kCases[] = {
    {"Setup_beta.exe", "Beta", 6},
    {"SETUP-BETA.EXE", "beta", 6},
    {"xBoI", "BOI", 1},
    {"abc", "", 0},                 // the empty string is found at once
    {"", "a", -1},
    {"ab", "abc", -1},              // longer than the text
    {"Bet-a", "Beta", -1},
    {"betabeta", "TAB", 2},          // first occurrence
    {"\xE9t\xC9", "\xC9T\xE9", -1},  // bytes above 0x7F do not fold
    {"[beta]", "{BETA}", -1},        // '[' and '{' are not case pairs
    {"@`", "@`", 0},
};

TEST(FindCaseInsensitive, NarrowFoldsAsciiLettersOnly)
{
    for (const Case& c : kCases)
        EXPECT_EQ(findCaseInsensitive(std::string(c.text), std::string(c.sought)), c.expected)
            << c.text << " / " << c.sought;
}

TEST(FindCaseInsensitive, WideFoldsAsciiLettersOnly)
{
    EXPECT_EQ(findCaseInsensitive(std::wstring(L"setup_BETA.exe"), std::wstring(L"Beta")), 6);
    EXPECT_EQ(findCaseInsensitive(std::wstring(L"x.bOi"), std::wstring(L"BOI")), 2);
    // Letters beyond ASCII keep their case: \u00e9 does not match \u00c9.
    EXPECT_EQ(findCaseInsensitive(std::wstring(L"\u00e9"), std::wstring(L"\u00c9")), -1);
    // Upper-casing 'i' must not give a dotted capital I.
    EXPECT_EQ(findCaseInsensitive(std::wstring(L"boi"), std::wstring(L"BO\u0130")), -1);
    EXPECT_EQ(findCaseInsensitive(std::wstring(L"C:\\Beta\\Setup.exe"), std::wstring(L"setup")), 8);
}

} // namespace
