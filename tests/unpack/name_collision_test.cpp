#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NameCollision.h"

namespace {

struct Entry
{
    std::string name;
    bool isDirectory;
};

// Index of the second entry of the collision found, or -1; the first one in `first`.
int collisionIn(const std::vector<Entry>& list, int& first)
{
    std::vector<NamedEntry> named;
    for (const Entry& e : list)
        named.push_back(NamedEntry{&e.name, e.isDirectory || e.name.back() == '/'});
    NameCollision found{};
    if (!findNameCollision(named, found))
        return -1;
    first = static_cast<int>(found.first);
    return static_cast<int>(found.second);
}

} // namespace

TEST(NameCollision, NamesThatWindowsTakesForOneFile)
{
    struct Case {
        const char* what;
        std::vector<Entry> entries;
        int first, second; // -1: no collision
    } cases[] = {
        {"files differing in case, folders too",
         {{"Lib/Core.dll", false}, {"lib/core.dll", false}}, 0, 1},
        {"file names differing in case", {{"a.txt", false}, {"x", false}, {"A.TXT", false}}, 0, 2},
        {"the same name twice", {{"a.txt", false}, {"a.txt", false}}, 0, 1},
        {"separators differ", {{"x", false}, {"Lib\\Core.dll", false}, {"lib/core.dll", false}}, 1, 2},
        {"a file where a folder is needed", {{"lib", false}, {"LIB/x", false}}, 0, 1},
        {"a folder where a file is wanted", {{"LIB/x", false}, {"lib", false}}, 0, 1},
        {"a folder entry over a file", {{"lib", false}, {"LIB/", false}}, 0, 1},
        {"the earliest second entry wins",
         {{"a", false}, {"b", false}, {"B", false}, {"A", false}}, 1, 2},
        {"folders that merge", {{"Lib/a", false}, {"lib/b", false}, {"LIB/", false}}, -1, -1},
        {"folder entries differing in case", {{"Lib/", false}, {"lib/", false}}, -1, -1},
        {"a folder by its attributes", {{"Dir", true}, {"dir/x", false}}, -1, -1},
        {"only ASCII letters fold", {{"[x]", false}, {"{x}", false}, {"a_1", false}, {"A-1", false}}, -1, -1},
        {"a longer name is another file", {{"lib", false}, {"lib.dll", false}, {"lib2/x", false}}, -1, -1},
    };
    for (const Case& c : cases) {
        int first = -1;
        const int second = collisionIn(c.entries, first);
        EXPECT_EQ(c.second, second) << c.what;
        if (c.second >= 0) {
            EXPECT_EQ(c.first, first) << c.what;
        }
    }
}
