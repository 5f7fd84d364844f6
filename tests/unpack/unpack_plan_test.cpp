#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZipFormat.h"
#include "UnpackPlan.h"

namespace {

const uint32_t kSymlink = 0xA1FF0000u;  // Unix mode lrwxrwxrwx in the upper half
const uint32_t kDosFolder = 0x10u;

struct Entry {
    std::string name;
    uint16_t flags = 0;
    uint32_t attributes = 0;
};

ZipEntryInfo info(const Entry& e)
{
    ZipEntryInfo entry;
    entry.fileName = e.name;
    entry.fileNameLength = static_cast<uint16_t>(e.name.size());
    entry.flags = e.flags;
    entry.externalAttributes = e.attributes;
    return entry;
}

UnpackPlan planOf(const std::vector<Entry>& list)
{
    std::vector<ZipEntryInfo> entries;
    for (const Entry& e : list)
        entries.push_back(info(e));
    return planUnpack(entries);
}

std::string path(size_t totalLength)
{
    // Folders of 200 characters, then the rest: exactly `totalLength`
    // characters in all.
    std::string name;
    while (name.size() < totalLength) {
        if (!name.empty())
            name += '/';
        const size_t left = totalLength - name.size();
        name += std::string(left > 200 ? 200 : left, 'p');
    }
    return name;
}

} // namespace

TEST(UnpackPlan, RefusalReasons)
{
    const uint16_t utf8 = zipformat::kFlagUtf8Name;
    struct Case {
        const char* what;
        Entry entry;
        RefusalReason reason;
    } cases[] = {
        {"plain file", {"a/b.txt"}, RefusalReason::None},
        {"parent component", {"../escape.txt"}, RefusalReason::UnsafeName},
        {"parent through backslashes", {"a\\..\\..\\b.txt"}, RefusalReason::UnsafeName},
        {"absolute", {"/abs.txt"}, RefusalReason::UnsafeName},
        {"absolute backslash", {"\\abs.txt"}, RefusalReason::UnsafeName},
        {"drive", {"c:/drive.txt"}, RefusalReason::UnsafeName},
        {"alternate stream", {"a.txt:stream"}, RefusalReason::UnsafeName},
        {"empty", {""}, RefusalReason::UnsafeName},
        {"NUL byte", {std::string("a\0b", 3)}, RefusalReason::UnsafeName},
        {"CON", {"CON"}, RefusalReason::WindowsName},
        {"con.txt, any case", {"sub/cOn.txt"}, RefusalReason::WindowsName},
        {"nul.tar.gz", {"nul.tar.gz"}, RefusalReason::WindowsName},
        {"PRN folder", {"PRN/x.txt"}, RefusalReason::WindowsName},
        {"AUX", {"aux"}, RefusalReason::WindowsName},
        {"COM1", {"COM1.log"}, RefusalReason::WindowsName},
        {"COM9", {"a/com9"}, RefusalReason::WindowsName},
        {"LPT1", {"LPT1"}, RefusalReason::WindowsName},
        {"LPT9 with extension", {"lpt9.dat"}, RefusalReason::WindowsName},
        {"device with spaces before the extension", {"CON .txt"}, RefusalReason::WindowsName},
        {"COM0 is fine", {"COM0"}, RefusalReason::None},
        {"COM10 is fine", {"COM10.txt"}, RefusalReason::None},
        {"CONSOLE is fine", {"console.txt"}, RefusalReason::None},
        {"xcon is fine", {"xcon.txt"}, RefusalReason::None},
        {"ends in a dot", {"file."}, RefusalReason::WindowsName},
        {"folder ends in a space", {"dir /x.txt"}, RefusalReason::WindowsName},
        {"dot component is fine", {"./a.txt"}, RefusalReason::None},
        {"tab", {"tab\there.txt"}, RefusalReason::WindowsName},
        {"control 0x1f", {"a\x1f"}, RefusalReason::WindowsName},
        {"less than", {"a<b"}, RefusalReason::WindowsName},
        {"greater than", {"a>b"}, RefusalReason::WindowsName},
        {"quote", {"a\"b"}, RefusalReason::WindowsName},
        {"pipe", {"a|b"}, RefusalReason::WindowsName},
        {"question mark", {"a?b"}, RefusalReason::WindowsName},
        {"star", {"*.txt"}, RefusalReason::WindowsName},
        {"1,023 characters fit", {path(1023)}, RefusalReason::None},
        {"1,024 characters do not", {path(1024)}, RefusalReason::TooLong},
        {"1,099 characters do not", {path(1099)}, RefusalReason::TooLong},
        {"1,022 + '/' folder fits", {path(1022) + "/"}, RefusalReason::None},
        {"1,023 + '/' folder does not", {path(1023) + "/"}, RefusalReason::TooLong},
        // Three bytes a character in UTF-8, one UTF-16 unit each.
        {"UTF-8 counted in UTF-16 units, 1,023",
         {[] { std::string s; for (int i = 0; i < 1023; ++i) s += "\xe6\x97\xa5"; return s; }(), utf8},
         RefusalReason::None},
        {"UTF-8 counted in UTF-16 units, 1,024",
         {[] { std::string s; for (int i = 0; i < 1024; ++i) s += "\xe6\x97\xa5"; return s; }(), utf8},
         RefusalReason::TooLong},
        {"two-byte characters: bytes are not units",
         {[] { std::string s; for (int i = 0; i < 512; ++i) s += "\xc3\xa9"; return s; }(), utf8},
         RefusalReason::None},
        {"surrogate pair counts two",
         {[] { std::string s; for (int i = 0; i < 512; ++i) s += "\xf0\x9f\x98\x80"; return s; }(), utf8},
         RefusalReason::TooLong},
        {"bad UTF-8: lone continuation", {"caf\xa9.txt", utf8}, RefusalReason::InvalidUtf8},
        {"bad UTF-8: Latin-1 byte", {"caf\xe9.txt", utf8}, RefusalReason::InvalidUtf8},
        {"bad UTF-8: cut short", {"caf\xc3", utf8}, RefusalReason::InvalidUtf8},
        {"bad UTF-8: overlong", {"\xc0\xaf.txt", utf8}, RefusalReason::InvalidUtf8},
        {"bad UTF-8: surrogate", {"\xed\xa0\x80.txt", utf8}, RefusalReason::InvalidUtf8},
        {"bad UTF-8: past U+10FFFF", {"\xf4\x90\x80\x80", utf8}, RefusalReason::InvalidUtf8},
        {"bad UTF-8 is found first", {"../\xff", utf8}, RefusalReason::InvalidUtf8},
        {"the same bytes without bit 11 are fine", {"caf\xe9.txt"}, RefusalReason::None},
        {"good UTF-8", {"donn\xc3\xa9" "es/\xc3\xa9.txt", utf8}, RefusalReason::None},
        {"symlink", {"link", 0, kSymlink}, RefusalReason::Symlink},
        {"unsafe symlink is unsafe first", {"../link", 0, kSymlink}, RefusalReason::UnsafeName},
    };
    for (const Case& c : cases) {
        const UnpackPlan plan = planOf({c.entry});
        ASSERT_EQ(plan.entries.size(), 1u);
        EXPECT_EQ(plan.entries[0].reason, c.reason) << c.what;
        EXPECT_EQ(plan.succeeds(), c.reason == RefusalReason::None) << c.what;
        EXPECT_EQ(plan.entries[0].refused(), c.reason != RefusalReason::None) << c.what;
        EXPECT_EQ(nameRefusal(c.entry.name, (c.entry.flags & zipformat::kFlagUtf8Name) != 0),
                  c.reason == RefusalReason::Symlink ? RefusalReason::None : c.reason)
            << c.what;
        EXPECT_STRNE(refusalText(c.reason), "") << c.what;
    }
}

TEST(UnpackPlan, CollisionsAndTheFirstFailure)
{
    const uint16_t kU8 = zipformat::kFlagUtf8Name;
    struct Case {
        const char* what;
        std::vector<Entry> entries;
        size_t firstFailure; // entries.size(): none
        RefusalReason reason;
        size_t collidesWith;
    } cases[] = {
        {"files differing in case", {{"Lib/Core.dll"}, {"lib/core.dll"}}, 1, RefusalReason::NameCollision, 0},
        {"file, then a folder of its name", {{"lib"}, {"x"}, {"LIB/x"}}, 2, RefusalReason::NameCollision, 0},
        {"folders merge", {{"Lib/a"}, {"lib/b"}}, 2, RefusalReason::None, 0},
        {"a folder entry by backslash merges", {{"emptydir\\"}, {"EmptyDir/x"}}, 2, RefusalReason::None, 0},
        {"a file, then the same folder by backslash", {{"d"}, {"D\\"}}, 1, RefusalReason::NameCollision, 0},
        {"the first refusal wins", {{"a"}, {"../b"}, {"link", 0, kSymlink}}, 1, RefusalReason::UnsafeName, 0},
        {"symlink before a collision", {{"a"}, {"l", 0, kSymlink}, {"A"}}, 1, RefusalReason::Symlink, 0},
        // Beyond ASCII, under bit 11: Windows folds these letters too.
        {"Latin-1 letters differing in case", {{"\xc3\x84rger.txt", kU8}, {"\xc3\xa4rger.txt", kU8}}, 1,
         RefusalReason::NameCollision, 0},
        {"Latin Extended-A pair", {{"\xc5\x81\xc3\xb3" "d\xc5\xba", kU8}, {"\xc5\x82\xc3\xb3" "d\xc5\xba", kU8}}, 1,
         RefusalReason::NameCollision, 0},
        {"Greek, final sigma as sigma", {{"\xce\xa3\xce\x9f\xce\xa3", kU8}, {"\xcf\x83\xce\xbf\xcf\x82", kU8}},
         1, RefusalReason::NameCollision, 0},
        {"Cyrillic folder, then a file of its name", {{"\xd0\x94\xd0\x90\xd0\x9d\xd0\x9e/x", kU8},
                                                      {"\xd0\xb4\xd0\xb0\xd0\xbd\xd0\xbe", kU8}},
         1, RefusalReason::NameCollision, 0},
        {"folders beyond ASCII merge", {{"\xc3\x89t\xc3\xa9/a", kU8}, {"\xc3\xa9t\xc3\xa9/b", kU8}}, 2,
         RefusalReason::None, 0},
        {"other letters stay apart", {{"\xc3\xa9.txt", kU8}, {"\xc3\xa8.txt", kU8}, {"\xc3\x9f.txt", kU8},
                                      {"ss.txt", kU8}},
         4, RefusalReason::None, 0},
    };
    for (const Case& c : cases) {
        const UnpackPlan plan = planOf(c.entries);
        EXPECT_EQ(plan.firstFailure, c.firstFailure) << c.what;
        if (c.firstFailure == c.entries.size())
            continue;
        const PlannedEntry& failed = plan.entries[c.firstFailure];
        EXPECT_EQ(failed.reason, c.reason) << c.what;
        if (c.reason == RefusalReason::NameCollision) {
            EXPECT_EQ(failed.collidesWith, c.collidesWith) << c.what;
        }
        for (size_t i = 0; i < c.firstFailure; ++i)
            EXPECT_FALSE(plan.entries[i].refused()) << c.what << " entry " << i;
    }
}

TEST(UnpackPlan, ActionsFoldersAndStagedUpdate)
{
    struct Case {
        const char* what;
        Entry entry;
        EntryAction action;
        bool isDirectory;  // createDirectories' includeLast
        bool makesFolders;
        bool stagedUpdate;
        bool beforeFolders; // refused before any folder is made
        const char* kind;
        const char* stubLine; // nullptr: no failure
    } cases[] = {
        {"file", {"a/b.txt"}, EntryAction::WriteFile, false, true, false, false, "file", nullptr},
        {"folder by slash", {"a/b/"}, EntryAction::MakeFolder, true, true, false, false, "directory", nullptr},
        {"folder by backslash", {"emptydir\\"}, EntryAction::MakeFolder, true, true, false, false, "directory", nullptr},
        {"folder by DOS attribute", {"a/b", 0, kDosFolder}, EntryAction::MakeFolder, true, true, false, false,
         "directory", nullptr},
        {"staged update", {"ZevozoDezuda_1.zip"}, EntryAction::WriteFile, false, true, true, false, "file", nullptr},
        {"staged update, any case and order", {"sub/x.ZIP.zevozodezuda"}, EntryAction::WriteFile, false, true,
         true, false, "file", nullptr},
        {"a folder is never a staged update", {"ZevozoDezuda.zip/"}, EntryAction::MakeFolder, true, true, false,
         false, "directory", nullptr},
        {"symlink: folders first", {"a/link", 0, kSymlink}, EntryAction::Refuse, false, true, false, false,
         "symlink", "Unable to create symlink.  i = "},
        {"unsafe: nothing made", {"../x"}, EntryAction::Refuse, false, false, false, true, "refused",
         "Unable to decompress file.  i = "},
        {"Windows name: nothing made", {"a/CON"}, EntryAction::Refuse, false, false, false, true, "refused",
         "Unable to decompress file.  i = "},
        {"too long: nothing made", {path(1099)}, EntryAction::Refuse, false, false, false, true, "refused",
         "Unable to decompress file.  i = "},
    };
    for (const Case& c : cases) {
        const UnpackPlan plan = planOf({c.entry});
        const PlannedEntry& e = plan.entries[0];
        EXPECT_EQ(e.action, c.action) << c.what;
        EXPECT_EQ(e.isDirectory, c.isDirectory) << c.what;
        EXPECT_EQ(e.makesFolders, c.makesFolders) << c.what;
        EXPECT_EQ(e.stagedUpdate, c.stagedUpdate) << c.what;
        EXPECT_EQ(e.refusedBeforeFolders(), c.beforeFolders) << c.what;
        EXPECT_STREQ(entryKindName(e), c.kind) << c.what;
        if (c.stubLine != nullptr) {
            EXPECT_STREQ(stubFailureText(e.reason), c.stubLine) << c.what;
        }
    }
}

TEST(UnpackPlan, Decoding)
{
    struct Case {
        const char* what;
        Entry entry;
        NameEncoding encoding;
        std::string name;
        std::string path;
        size_t wideLength;
    } cases[] = {
        {"ASCII", {"a/b.txt"}, NameEncoding::AnsiCodePage, "a/b.txt", "a/b.txt", 7},
        {"bit 11: UTF-8 as stored", {"donn\xc3\xa9" "es/\xc3\xa9.txt", zipformat::kFlagUtf8Name}, NameEncoding::Utf8,
         "donn\xc3\xa9" "es/\xc3\xa9.txt", "donn\xc3\xa9" "es/\xc3\xa9.txt", 13},
        {"bit 11: CJK", {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt", zipformat::kFlagUtf8Name}, NameEncoding::Utf8,
         "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt", 7},
        {"no bit 11: UTF-8 bytes read in the code page", {"caf\xc3\xa9.txt"}, NameEncoding::AnsiCodePage,
         "caf\xc3\x83\xc2\xa9.txt", "caf\xc3\x83\xc2\xa9.txt", 9},
        {"no bit 11: Latin-1 byte", {"caf\xe9.txt"}, NameEncoding::AnsiCodePage, "caf\xc3\xa9.txt",
         "caf\xc3\xa9.txt", 8},
        {"no bit 11: Windows-1252's euro sign", {"\x80.txt"}, NameEncoding::AnsiCodePage, "\xe2\x82\xac.txt",
         "\xe2\x82\xac.txt", 5},
        {"backslashes become slashes in the path", {"a\\b\\c.txt"}, NameEncoding::AnsiCodePage, "a\\b\\c.txt",
         "a/b/c.txt", 9},
        {"a folder's trailing separator leaves the path", {"emptydir\\"}, NameEncoding::AnsiCodePage,
         "emptydir\\", "emptydir", 9},
    };
    for (const Case& c : cases) {
        const UnpackPlan plan = planUnpackNamed({info(c.entry)});
        const PlannedEntry& e = plan.entries[0];
        EXPECT_EQ(e.encoding, c.encoding) << c.what;
        EXPECT_EQ(e.name, c.name) << c.what;
        EXPECT_EQ(e.path, c.path) << c.what;
        EXPECT_EQ(e.wideLength, c.wideLength) << c.what;
        EXPECT_FALSE(e.refused()) << c.what;
    }
}
