#pragma once
#include "ZipEntryInfo.h"

// How the stub treats an archive entry.
enum class EntryKind {
    File,      // written into the work area
    Directory, // its folders are created, nothing is written
    Symlink,   // refused: the unpack stops here
    Refused,   // a name that would leave the work area: the unpack stops here
};

EntryKind classifyEntry(const ZipEntryInfo& entry);
const char* entryKindName(EntryKind kind);
// True for the kinds that end the stub's unpack.
bool stopsUnpack(EntryKind kind);
