#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "UnpackPlan.h"
#include "ZipEntryInfo.h"
#include "pack/SourceTree.h"

// Checks of a payload's names as a whole, shared by pack, verify and extract.

// The directory entries pack writes for a folder's entries (names, folder
// attributes, flag bit 11 for names beyond ASCII), for the plan to judge.
std::vector<ZipEntryInfo> packedEntries(const std::vector<SourceEntry>& entries);

// What pack refuses in the folder's names as a whole: every entry the plan
// refuses (in practice, names that Windows takes for one file), one problem
// a line. Empty when the folder is fine.
std::string packNamesProblem(const std::vector<SourceEntry>& entries);

// The first collision in the plan, as one line naming both entries, or empty.
std::string collisionProblem(const UnpackPlan& plan);


// Why the stub's reader refused the archive, when it was the overlap check.
extern const char kOverlapProblem[];
