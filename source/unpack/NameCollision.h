#pragma once
#include <cstddef>
#include <string>
#include <vector>

// One archive entry as the collision check sees it: its stored name ('/' or
// '\' separating, a folder's name may end in '/') and whether it is a folder.
struct NamedEntry
{
    const std::string* name;
    bool isDirectory;
};

// Two entries, in unpack order, that would land on the same file on Windows.
struct NameCollision
{
    size_t first;
    size_t second;
};

// Windows does not tell ASCII letter case apart in file names, so unpacking
// Lib/Core.dll and then lib/core.dll keeps only the second file. Finds the
// earliest entry (in list order) that would land where an earlier one did:
// two files whose names fold to the same, a file and a folder of the same
// name, or a file whose name an entry needs as a folder. Folders that merge
// (Lib/a and lib/b) lose nothing and are fine. False when there is none.
// O(n log n) in the number of path components.
bool findNameCollision(const std::vector<NamedEntry>& entries, NameCollision& out);
