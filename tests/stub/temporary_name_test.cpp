// The temporary names the entry writer makes, and which names the sweep of a
// killed run's leftovers takes for one of them.
#include <gtest/gtest.h>

#include <string>

#include "TemporaryName_win.h"

TEST(TemporaryName, TheSweepKnowsExactlyTheNamesTheWriterMakes)
{
    EXPECT_EQ(temporaryName(L"data/item.txt", 0x1f4, 0), L"data/item.txt.~1f4");
    EXPECT_EQ(temporaryName(L"data/item.txt", 0x1f4, 3), L"data/item.txt.~1f4-3");
    for (const unsigned n : {0u, 1u, 15u}) {
        const std::wstring made = temporaryName(L"a.txt", 0xfffffffe, n);
        EXPECT_EQ(temporarySuffixLength(made), made.size() - 5) << n;
    }
    const struct {
        const wchar_t* name;
        size_t suffix;
    } cases[] = {
        {L"a.txt.~0", 3},        {L"a.~12ab-7", 8},   {L"a.~1.~2", 3},
        {L"a.txt", 0},           {L"a.txt.~", 0},     {L"a.txt.~zz", 0},
        {L"a.txt.~1-", 0},       {L"a.txt.~-1", 0},   {L"a.txt.~1f4.bak", 0},
        {L"a.txt.~1f4-2x", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(temporarySuffixLength(c.name), c.suffix) << std::wstring(c.name).c_str();
}
