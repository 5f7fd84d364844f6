#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "pack/ExcludeSet.h"

// One entry of the folder being packed.
struct SourceEntry {
    std::string name;       // archive name: '/' separators, directories end with '/'
    std::filesystem::path path; // where to read it
    bool isDirectory;
    uint64_t size;          // files only
};

// Reads the folder to pack: every file and folder below it except those a
// pattern of `excludes` leaves out (which records the patterns used),
// sorted by archive name (byte
// order), so the archive does not depend on the order the file system lists
// them in. Refuses, naming every offending entry in `error` (one line each):
// symbolic links,
// special files, names the unpack plan refuses (unsafe, not UTF-8, names
// Windows cannot hold, too long for the stub), names holding '\\', and a
// folder without the inner setup at its top level.
enum class SourceTreeResult { Ok, Refused, ReadError };
SourceTreeResult readSourceTree(const std::string& root, ExcludeSet& excludes,
                                std::vector<SourceEntry>& out, std::string& error);

// The check applied to each archive name, exposed for its own sake: empty when
// the name is fine, else the reason.
std::string entryNameProblem(const std::string& name);
