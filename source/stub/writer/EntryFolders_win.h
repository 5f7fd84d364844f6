#pragma once
#include <cstdint>
#include <string>

#include "FoldedNameSet_win.h"

// The folders of the payload's entries, each made once in a run however many
// entries lie in it. A file where a folder goes (left by an older version)
// is moved aside to a unique name, logged, and the folder made.
class EntryFolders {
public:
    // Makes every folder along `path` ('/' or '\' separate) and `path` itself
    // when `includeLast`. The system's error for the first folder that is not
    // there afterwards, 0 when all are.
    uint32_t make(const std::wstring& path, bool includeLast);
    // Whether the folder that holds `path` was made by this run, so that no
    // file can be in it yet. False for the work area's own top.
    bool holderIsNew(const std::wstring& path) const;

private:
    uint32_t makeOne(const std::wstring& folder, bool& isNew);

    FoldedNameSet made;  // each folder tried, with its outcome
    FoldedNameSet fresh; // the folders this run made
};
