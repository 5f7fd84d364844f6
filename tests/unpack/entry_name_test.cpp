#include <gtest/gtest.h>

#include <string>

#include "EntryName.h"

namespace {

TEST(IsSafeEntryName, KeepsNamesInsideTheWorkArea)
{
    const char* safe[] = {
        "RezuviZiduRuzudUvovovaz.exe", "platforms/qwindows.dll", "a/b/", "..a", "a..",
        "a/..b/c", "dir\\file", ".hidden", "a/./b", "\xC3\xA9t\xC3\xA9/x.txt",
    };
    for (const char* name : safe)
        EXPECT_TRUE(isSafeEntryName(name)) << name;
}

TEST(IsSafeEntryName, RefusesNamesThatLeaveIt)
{
    const std::string unsafe[] = {
        "", "/etc/x", "\\x", "C:/x", "C:x", "a/b:c", "..", "../x", "..\\x", "a/../../x",
        "a/..", "a\\..\\..\\x", "a/../", std::string("a\0b", 3), "\\\\server\\share\\x",
    };
    for (const std::string& name : unsafe)
        EXPECT_FALSE(isSafeEntryName(name)) << name;
}

TEST(IsStagedUpdateName, NeedsBothMarksInAnyCaseAndOrder)
{
    EXPECT_TRUE(isStagedUpdateName("ZevozoDezuda_10.zip"));
    EXPECT_TRUE(isStagedUpdateName("zevozodezuda.ZIP"));
    EXPECT_TRUE(isStagedUpdateName("x.zip/ZEVOZODEZUDA"));
    EXPECT_TRUE(isStagedUpdateName("updates/ZevozoDezuda/pkg.zip"));
    EXPECT_FALSE(isStagedUpdateName("ZevozoDezuda.txt"));
    EXPECT_FALSE(isStagedUpdateName("update.zip"));
    EXPECT_FALSE(isStagedUpdateName("ZevozoDezudazip"));
}

} // namespace
