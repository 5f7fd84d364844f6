#include "inspect/EntryKind.h"

#include "EntryName.h"

EntryKind classifyEntry(const ZipEntryInfo& entry)
{
    // The same order of tests as the stub's unpack: the name first, then the
    // symbolic-link refusal, then directories.
    if (!isSafeEntryName(entry.fileName))
        return EntryKind::Refused;
    if (entry.isSymlink())
        return EntryKind::Symlink;
    if (entry.isDirectory())
        return EntryKind::Directory;
    return EntryKind::File;
}

const char* entryKindName(EntryKind kind)
{
    switch (kind) {
    case EntryKind::File:
        return "file";
    case EntryKind::Directory:
        return "directory";
    case EntryKind::Symlink:
        return "symlink";
    case EntryKind::Refused:
        return "refused";
    }
    return "refused";
}

bool stopsUnpack(EntryKind kind)
{
    return kind == EntryKind::Symlink || kind == EntryKind::Refused;
}
