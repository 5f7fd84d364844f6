#include "LeftoverSweep_win.h"

#include <windows.h>

#include "FoldedNameSet_win.h"
#include "LongPath_win.h"
#include "Owned_win.h"
#include "TemporaryName_win.h"

namespace {

struct FindCloser {
    static HANDLE empty() { return INVALID_HANDLE_VALUE; }
    static bool none(HANDLE handle) { return handle == INVALID_HANDLE_VALUE; }
    static void close(HANDLE handle) { FindClose(handle); }
};

// The folder part of a folded name, "" for the work area's top.
std::wstring folderOf(const std::wstring& folded)
{
    const size_t slash = folded.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : folded.substr(0, slash);
}

// One listing per folder that holds payload files: a first run, whose
// folders are not there yet, pays one failed call per folder.
uint32_t sweepFolder(const std::wstring& folder, const FoldedNameSet& files)
{
    const std::wstring prefix = folder.empty() ? std::wstring() : folder + L"\\";
    WIN32_FIND_DATAW found;
    Owned<HANDLE, FindCloser> listing(FindFirstFileW(
        systemPath(prefix + L"*.~*", kFilePathLimit).c_str(), &found));
    if (!listing.valid())
        return 0;
    uint32_t removed = 0;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const std::wstring name = FoldedNameSet::fold(prefix + found.cFileName);
        const size_t suffix = temporarySuffixLength(name);
        if (suffix == 0 || files.find(name) != nullptr ||
            files.find(name.substr(0, name.size() - suffix)) == nullptr)
            continue;
        if (DeleteFileW(systemPath(prefix + found.cFileName, kFilePathLimit).c_str()))
            ++removed;
    } while (FindNextFileW(listing.get(), &found));
    return removed;
}

} // namespace

uint32_t removeKilledRunTemporaries(const std::vector<std::wstring>& files)
{
    FoldedNameSet names;
    FoldedNameSet seenFolders;
    std::vector<std::wstring> folders;
    for (const std::wstring& file : files) {
        const std::wstring folded = FoldedNameSet::fold(file);
        std::wstring folder = folderOf(folded);
        if (seenFolders.insert(folder))
            folders.push_back(folder);
        names.insert(folded);
    }
    uint32_t removed = 0;
    for (const std::wstring& folder : folders)
        removed += sweepFolder(folder, names);
    return removed;
}
