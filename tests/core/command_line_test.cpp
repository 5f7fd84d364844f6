#include <gtest/gtest.h>

#include "CommandLine.h"

namespace {

struct QuotingCase {
    const char* name;
    ArgumentVector arguments;
    std::wstring expected;
};

class BuildCommandLine : public ::testing::TestWithParam<QuotingCase> {};

TEST_P(BuildCommandLine, QuotesEveryElementAndEscapesOnlyBeforeQuotes)
{
    EXPECT_EQ(buildCommandLine(GetParam().arguments), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BuildCommandLine,
    ::testing::Values(
        QuotingCase{"empty_vector", {}, L""},
        QuotingCase{"program_only", {L"setup.exe"}, L"\"setup.exe\""},
        QuotingCase{"empty_argument", {L"setup.exe", L""}, L"\"setup.exe\" \"\""},
        QuotingCase{"two_empty_arguments", {L"p", L"", L""}, L"\"p\" \"\" \"\""},
        QuotingCase{"trailing_backslash", {L"p", L"C:\\Temp\\"}, L"\"p\" \"C:\\Temp\\\\\""},
        QuotingCase{"trailing_backslash_run", {L"p", L"a\\\\\\"}, L"\"p\" \"a\\\\\\\\\\\\\""},
        QuotingCase{"only_backslashes", {L"p", L"\\\\"}, L"\"p\" \"\\\\\\\\\""},
        QuotingCase{"inner_backslash", {L"p", L"a\\b"}, L"\"p\" \"a\\b\""},
        QuotingCase{"inner_quote", {L"p", L"a\"b"}, L"\"p\" \"a\\\"b\""},
        QuotingCase{"backslash_quote", {L"p", L"a\\\"b"}, L"\"p\" \"a\\\\\\\"b\""},
        QuotingCase{"two_backslashes_quote", {L"p", L"a\\\\\"b"},
                    L"\"p\" \"a\\\\\\\\\\\"b\""},
        QuotingCase{"backslash_then_other_then_quote", {L"p", L"\\x\""},
                    L"\"p\" \"\\x\\\"\""},
        QuotingCase{"only_a_quote", {L"p", L"\""}, L"\"p\" \"\\\"\""},
        QuotingCase{"unescaped_characters", {L"p", L"a b\tc\nd^e%PATH%!"},
                    L"\"p\" \"a b\tc\nd^e%PATH%!\""},
        QuotingCase{"non_ascii", {L"p", L"\u00e9\u4e2d\u0416"}, L"\"p\" \"\u00e9\u4e2d\u0416\""},
        QuotingCase{"program_with_space", {L"C:\\Program Files\\x.exe", L"/Beta"},
                    L"\"C:\\Program Files\\x.exe\" \"/Beta\""}),
    [](const ::testing::TestParamInfo<QuotingCase>& info) { return info.param.name; });

} // namespace
