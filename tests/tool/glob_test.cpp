#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "pack/ExcludeSet.h"
#include "pack/Glob.h"

namespace {

struct ExcludeCase {
    const char* pattern;
    const char* path;
    bool isDirectory;
    bool excluded;
};

TEST(Exclude, PatternsAgainstEntries)
{
    const ExcludeCase cases[] = {
        // A bare name matches at any depth, ignoring case.
        {"*.pdb", "C.pdb", false, true},
        {"*.pdb", "sub/C.PDB", false, true},
        {"*.PDB", "sub/deep/c.pdb", false, true},
        {"*.pdb", "sub.pdb/readme.txt", false, false},
        {".DS_Store", "a/.ds_store", false, true},
        {"?.txt", "ab.txt", false, false},
        {"a*b*c", "axxbyyc", false, true},
        {"a*b*c", "axxbyy", false, false},
        // With '/', the whole path from the top; '*' stays inside one folder.
        {"docs/drafts", "docs/drafts", true, true},
        {"docs/drafts", "x/docs/drafts", true, false},
        {"docs/*.md", "docs/sub/a.md", false, false},
        {"/top.txt", "top.txt", false, true},
        {"/top.txt", "sub/top.txt", false, false},
        // '**' spans any number of folders, none included.
        {"**/cache", "cache", true, true},
        {"**/cache", "a/b/c/Cache", true, true},
        {"docs/**/*.md", "docs/a.md", false, true},
        {"docs/**/*.md", "docs/x/y/a.md", false, true},
        {"docs/**/*.md", "other/x/a.md", false, false},
        {"docs/**", "docs/x/y", false, true},
        {"a/**/b/**/c", "a/1/b/2/3/c", false, true},
        {"a/**/b/**/c", "a/1/c", false, false},
        // A trailing '/' names folders only.
        {"docs/", "docs", true, true},
        {"docs/", "docs", false, false},
        {"docs/", "sub/Docs", true, true},
        {"sub/docs/", "sub/docs", true, true},
        {"/", "anything", true, false},
    };
    for (const ExcludeCase& c : cases)
        EXPECT_EQ(excludedBy(c.pattern, c.path, c.isDirectory), c.excluded)
            << "pattern '" << c.pattern << "' on '" << c.path << "'" << (c.isDirectory ? " (folder)" : "");
}

TEST(Exclude, FileOfPatternsAndUnusedOnes)
{
    const std::string path = testing::TempDir() + "glob_test_excludes.txt";
    {
        std::ofstream file(path, std::ios::binary);
        file << "# symbols\n*.pdb\r\n\n   \n  docs/  \n#*.txt\nnever-there\n";
    }
    ExcludeSet set;
    set.add("*.log");
    std::string error;
    ASSERT_TRUE(set.addFromFile(path, error)) << error;
    std::remove(path.c_str());

    EXPECT_TRUE(set.excludes("bin/App.PDB", false));
    EXPECT_TRUE(set.excludes("docs", true));
    EXPECT_FALSE(set.excludes("notes.txt", false)); // the '#' line is a comment, not a pattern
    EXPECT_EQ(set.unusedPatterns(), (std::vector<std::string>{"*.log", "never-there"}));

    EXPECT_FALSE(set.addFromFile(path, error));
    EXPECT_NE(error.find("'" + path + "': No such file or directory"), std::string::npos) << error;
}

} // namespace
