// Reads the resources back from the built stub, as the Windows loader sees
// them: the refusal strings per language, the manifest, the icon and the
// version block.
#include "StubResources.h"
#include "../../resources/resource.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

const WORD kStringBlock = IDS_REFUSAL_TITLE / 16 + 1;  // block 7: IDs 96-111

struct Language {
    WORD id;
    const char* name;
};

const Language kLanguages[] = {
    {0x0004, "Chinese (Simplified)"}, {0x0005, "Czech"},     {0x0006, "Danish"},
    {0x0007, "German"},               {0x0008, "Greek"},     {0x0009, "English"},
    {0x000A, "Spanish"},              {0x000B, "Finnish"},   {0x000C, "French"},
    {0x000E, "Hungarian"},            {0x0010, "Italian"},   {0x0011, "Japanese"},
    {0x0012, "Korean"},               {0x0013, "Dutch"},     {0x0014, "Norwegian"},
    {0x0015, "Polish"},               {0x0016, "Portuguese"}, {0x0019, "Russian"},
    {0x001D, "Swedish"},              {0x001E, "Thai"},
    {0x0404, "Chinese (Traditional, Taiwan)"},
    {0x0416, "Portuguese (Brazil)"},
    {0x080A, "Spanish (Mexico)"},
};

const wchar_t kEnglishTitle[] = L"Unable to Install Norvik";
const wchar_t kEnglishText[] =
    L"Norvik can only be installed on computers running Windows 7 or later. You'll need to "
    L"upgrade your operating system or download a compatible version of our client at "
    L"https://www.norvik.com/download.";

BOOL CALLBACK collectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR out)
{
    reinterpret_cast<std::set<WORD>*>(out)->insert(language);
    return TRUE;
}

BOOL CALLBACK collectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out)
{
    // Only numbered resources are expected; a named one shows as 0xFFFF.
    reinterpret_cast<std::vector<ULONG_PTR>*>(out)->push_back(
        IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name) : 0xFFFF);
    return TRUE;
}

std::set<WORD> languagesOf(HMODULE module, LPCWSTR type, LPCWSTR name)
{
    std::set<WORD> languages;
    EnumResourceLanguagesW(module, type, name, collectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

std::vector<ULONG_PTR> namesOf(HMODULE module, LPCWSTR type)
{
    std::vector<ULONG_PTR> names;
    EnumResourceNamesW(module, type, collectName, reinterpret_cast<LONG_PTR>(&names));
    return names;
}

class StubResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(path.empty()) << "STUB_EXE is not set";
        ASSERT_NE(module.handle, nullptr) << "cannot load the stub, error " << GetLastError();
    }

    std::vector<std::wstring> strings(WORD language)
    {
        return splitStringBlock(
            resourceBytes(module.handle, RT_STRING, MAKEINTRESOURCEW(kStringBlock), language));
    }

    std::wstring path = stubPathFromEnvironment();
    DataModule module{path};
};

TEST_F(StubResources, EveryLanguageHasTitleAndTextNamingTheProduct)
{
    for (const Language& language : kLanguages) {
        SCOPED_TRACE(language.name);
        const std::vector<std::wstring> block = strings(language.id);
        ASSERT_EQ(block.size(), 16u) << "no string block 7 in language " << std::hex << language.id;
        for (size_t i = 0; i < block.size(); ++i) {
            const UINT id = (kStringBlock - 1) * 16 + static_cast<UINT>(i);
            if (id == IDS_REFUSAL_TITLE || id == IDS_REFUSAL_TEXT) {
                EXPECT_NE(block[i].find(L"Norvik"), std::wstring::npos) << "string " << id;
            } else {
                EXPECT_TRUE(block[i].empty()) << "unexpected string " << id;
            }
        }
        if (language.id != 0x0009) {
            // Translated, and only the English text points to the download page.
            EXPECT_NE(block[8], kEnglishTitle);
            EXPECT_NE(block[9].find(L"Windows 7"), std::wstring::npos);
            EXPECT_EQ(block[9].find(L"http"), std::wstring::npos);
            EXPECT_EQ(block[9].find(L"\uFFFD"), std::wstring::npos) << "mis-encoded text";
        }
    }
}

TEST_F(StubResources, EnglishTextsAreExact)
{
    const std::vector<std::wstring> block = strings(MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL));
    ASSERT_EQ(block.size(), 16u);
    EXPECT_EQ(block[IDS_REFUSAL_TITLE % 16], kEnglishTitle);
    EXPECT_EQ(block[IDS_REFUSAL_TEXT % 16], kEnglishText);
}

TEST_F(StubResources, NonAsciiTextsSurviveTheResourceCompiler)
{
    // The .rc is UTF-8: a wrong code page would turn these into other characters.
    EXPECT_NE(strings(0x0007)[IDS_REFUSAL_TEXT % 16].find(L"h\u00F6her"), std::wstring::npos);
    EXPECT_EQ(strings(0x0011)[IDS_REFUSAL_TITLE % 16],
              L"Norvik \u3092\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3067\u304D\u307E\u305B\u3093");
    EXPECT_EQ(strings(0x0019)[IDS_REFUSAL_TITLE % 16],
              L"\u041D\u0435 \u0443\u0434\u0430\u0435\u0442\u0441\u044F "
              L"\u0443\u0441\u0442\u0430\u043D\u043E\u0432\u0438\u0442\u044C Norvik");
}

TEST_F(StubResources, StringTableHoldsExactlyTheListedLanguagesAndNoOtherBlock)
{
    std::set<WORD> expected;
    for (const Language& language : kLanguages)
        expected.insert(language.id);
    EXPECT_EQ(languagesOf(module.handle, RT_STRING, MAKEINTRESOURCEW(kStringBlock)), expected);
    EXPECT_EQ(namesOf(module.handle, RT_STRING), std::vector<ULONG_PTR>{kStringBlock});
}

TEST_F(StubResources, ManifestIsTheOnlyOneAndSaysWhatTheLoaderNeeds)
{
    EXPECT_EQ(namesOf(module.handle, RT_MANIFEST), std::vector<ULONG_PTR>{1});
    const std::set<WORD> languages = languagesOf(module.handle, RT_MANIFEST, MAKEINTRESOURCEW(1));
    ASSERT_EQ(languages.size(), 1u) << "more than one manifest 1";
    const std::vector<BYTE> bytes =
        resourceBytes(module.handle, RT_MANIFEST, MAKEINTRESOURCEW(1), *languages.begin());
    const std::string manifest(bytes.begin(), bytes.end());

    const char* const expected[] = {
        "<assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"X86\" "
        "name=\"ZuvidaDiroVivuv\" type=\"win32\"/>",
        "<description>ZuvidaDiroVivuv</description>",
        "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
        "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>",
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",
        "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",
        "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
    };
    for (const char* piece : expected)
        EXPECT_NE(manifest.find(piece), std::string::npos) << piece;
    EXPECT_EQ(manifest.find("requireAdministrator"), std::string::npos);
}

TEST_F(StubResources, IconGroupHasThreeSizes)
{
    const std::set<WORD> languages =
        languagesOf(module.handle, RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_ICON1));
    ASSERT_EQ(languages.size(), 1u);
    const std::vector<BYTE> group = resourceBytes(
        module.handle, RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_ICON1), *languages.begin());
    // GRPICONDIR: reserved, type 1, count; then 14-byte entries ending in the icon's ID.
    ASSERT_GE(group.size(), 6u);
    const WORD count = group[4] | (group[5] << 8);
    ASSERT_EQ(group.size(), 6u + 14u * count);
    std::vector<int> widths;
    for (WORD i = 0; i < count; ++i) {
        const BYTE* entry = group.data() + 6 + 14 * i;
        widths.push_back(entry[0]);
        const WORD iconId = entry[12] | (entry[13] << 8);
        EXPECT_FALSE(resourceBytes(module.handle, RT_ICON, MAKEINTRESOURCEW(iconId),
                                   *languages.begin())
                         .empty())
            << "icon image " << iconId << " missing";
    }
    std::sort(widths.begin(), widths.end());
    EXPECT_EQ(widths, (std::vector<int>{16, 32, 48}));
}

std::wstring versionString(const std::vector<BYTE>& info, const wchar_t* name)
{
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), query.c_str(), &value, &length) || length == 0)
        return L"<missing>";
    return static_cast<const wchar_t*>(value);
}

TEST_F(StubResources, VersionBlock)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwFileVersionMS, (10u << 16) | 99u);
    EXPECT_EQ(fixed->dwFileVersionLS, (0u << 16) | 21465u);
    EXPECT_EQ(fixed->dwProductVersionMS, (10u << 16) | 99u);
    EXPECT_EQ(fixed->dwProductVersionLS, (0u << 16) | 21465u);

    const struct {
        const wchar_t* name;
        const wchar_t* value;
    } fields[] = {
        {L"FileVersion", L"10,99,0,21465"},       {L"ProductVersion", L"10,99,0,21465"},
        {L"FileDescription", L"ZuvidaDiroVivuv"}, {L"InternalName", L"ZuvidaDiroVivuv"},
        {L"ProductName", L"ZuvidaDiroVivuv"},     {L"OriginalFilename", L"ZuvidaDiroVivuv.exe"},
    };
    for (const auto& field : fields)
        EXPECT_EQ(versionString(info, field.name), field.value) << field.name;
}

}  // namespace
