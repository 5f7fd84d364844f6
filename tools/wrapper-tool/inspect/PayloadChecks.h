#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "NameCollision.h"
#include "pack/SourceTree.h"
#include "ZipReader.h"

// Checks of a payload's names as a whole, shared by pack, verify and extract.

// Windows' plain file APIs open paths of at most this many characters.
const size_t kPlainPathLimit = 259;
// The work area of a user whose name has 20 characters, as it is written in
// the messages.
extern const char kTypicalWorkAreaShown[];

// Length of the path that `name` (a trailing '/' dropped) gets under the
// typical work area.
size_t typicalPathLength(const std::string& name);
// Empty when the path fits, else why it does not.
std::string longPathProblem(const std::string& name);

// The entries of an opened archive, as findNameCollision takes them.
std::vector<NamedEntry> namedEntries(const ZipReader& reader);
// Empty when no two names collide, else one line naming both entries (with
// their indices when `withIndices`).
std::string nameCollisionProblem(const std::vector<NamedEntry>& entries, bool withIndices);

// What pack refuses in the folder's names as a whole: names that Windows
// takes for one file, and paths too long for a typical work area unless
// `allowLongPaths`, one problem a line. Empty when the folder is fine.
std::string packNamesProblem(const std::vector<SourceEntry>& entries, bool allowLongPaths);

// Why the stub's reader refused the archive, when it was the overlap check.
extern const char kOverlapProblem[];
