// Which title and text the refusal box gets: loaded strings where the module
// has them, the built-in English texts for each one it lacks.
#include "RefusalText_win.h"
#include "StubResources.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

const wchar_t kBuiltInTitle[] = L"Unable to Install Norvik";
const wchar_t kBuiltInText[] =
    L"Norvik can only be installed on computers running Windows 7 or later. You'll need to "
    L"upgrade your operating system before trying again.";

// The test DLLs (one with only string 104, one with only 105) lie beside this program.
std::wstring besideThisProgram(const wchar_t* name)
{
    wchar_t self[4096];
    const DWORD length = GetModuleFileNameW(nullptr, self, 4096);
    std::wstring path(self, length);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

TEST(RefusalText, BuiltInTextsAreTheShortEnglishForm)
{
    EXPECT_STREQ(kRefusalFallbackTitle, kBuiltInTitle);
    EXPECT_STREQ(kRefusalFallbackText, kBuiltInText);
}

TEST(RefusalText, ModuleWithoutStringsGetsBothBuiltInTexts)
{
    // This test program carries no string table.
    RefusalText refusal;
    loadRefusalText(GetModuleHandleW(nullptr), refusal);
    EXPECT_STREQ(refusal.title, kBuiltInTitle);
    EXPECT_STREQ(refusal.text, kBuiltInText);
}

TEST(RefusalText, EachStringFallsBackOnItsOwn)
{
    const struct {
        const wchar_t* module;
        const wchar_t* title;
        const wchar_t* text;
    } cases[] = {
        {L"gate_text_only.dll", kBuiltInTitle, L"Only the text is here."},
        {L"gate_title_only.dll", L"Only the title is here", kBuiltInText},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        DataModule library(besideThisProgram(c.module));
        ASSERT_NE(library.handle, nullptr) << "cannot load, error " << GetLastError();
        RefusalText refusal;
        loadRefusalText(library.handle, refusal);
        EXPECT_STREQ(refusal.title, c.title);
        EXPECT_STREQ(refusal.text, c.text);
    }
}

TEST(RefusalText, StubStringsWinOverTheBuiltInTexts)
{
    // The test runs with an English user interface: the stub's English text is
    // the long one that names the download page.
    DataModule stub(stubPathFromEnvironment());
    ASSERT_NE(stub.handle, nullptr) << "cannot load the stub, error " << GetLastError();
    RefusalText refusal;
    loadRefusalText(stub.handle, refusal);
    EXPECT_STREQ(refusal.title, L"Unable to Install Norvik");
    EXPECT_NE(std::wstring(refusal.text).find(L"download a compatible version of our client at https://"),
              std::wstring::npos);
}

// Run by CTest once per user-interface language (LC_ALL for Wine), with
// REFUSAL_LANGID naming the stub's language that the loader should pick.
TEST(RefusalTextLanguage, DISABLED_LoaderPicksTheUsersLanguage)
{
    wchar_t expected[16];
    ASSERT_GT(GetEnvironmentVariableW(L"REFUSAL_LANGID", expected, 16), 0u);
    const WORD language = static_cast<WORD>(wcstoul(expected, nullptr, 16));
    DataModule stub(stubPathFromEnvironment());
    ASSERT_NE(stub.handle, nullptr);

    const std::wstring title = stringInLanguage(stub.handle, 104, language);
    const std::wstring text = stringInLanguage(stub.handle, 105, language);
    ASSERT_FALSE(title.empty()) << "the stub has no language " << std::hex << language;
    RefusalText refusal;
    loadRefusalText(stub.handle, refusal);
    EXPECT_EQ(refusal.title, title) << "user interface language " << std::hex
                                    << GetUserDefaultUILanguage();
    EXPECT_EQ(refusal.text, text);
}

}  // namespace
