#include "UnpackDriver_win.h"

#include <windows.h>

#include <string>

#include "AnsiText_win.h"
#include "EntryFile_win.h"
#include "FileMapping_win.h"
#include "PeImage.h"
#include "UnpackPlan.h"
#include "WorkArea_win.h"
#include "ZipReader.h"

#define LOG_SOURCE_FILE "DuzoRizedAroriva"
#include "LogRecord.h"

namespace {

const char* const kFunction = "unpackEmbeddedZip";

// Folders and the file are made from the same reading of the name's bytes:
// UTF-8 when the entry says so (bit 11), else the ANSI code page, as the C
// runtime reads a narrow name.
std::wstring entryWideName(const std::string& name, NameEncoding encoding)
{
    return codePageToWide(name, encoding == NameEncoding::Utf8 ? CP_UTF8 : CP_ACP);
}

void logEntryFailure(const char* what, uint32_t index, const std::string& name)
{
    LOG_RECORD(LogLevel::Error, kFunction) << what << index << " Filename = " << name;
}

// Carries out the plan for entry `index`; false when it must end the walk.
bool unpackEntry(ZipReader& reader, uint32_t index, const PlannedEntry& planned,
                 bool* stagedUpdateFound, uint32_t& kept)
{
    ZipEntryInfo entry;
    if (!reader.getEntryInfo(index, entry)) {
        LOG_RECORD(LogLevel::Error, kFunction) << "Unable to read zip file header.  i = " << index;
        return false;
    }
    const std::string& stored = entry.fileName;
    // A name the plan refuses fails like a file that cannot be written,
    // before any folder or file is made for it.
    if (planned.refusedBeforeFolders()) {
        logEntryFailure(stubFailureText(planned.reason), index, stored);
        return false;
    }
    const std::wstring wide = entryWideName(stored, planned.encoding);
    uint32_t folderError = 0;
    createDirectories(wide, planned.isDirectory, folderError);
    if (planned.refused()) {
        logEntryFailure(stubFailureText(planned.reason), index, stored);
        return false;
    }
    if (planned.action == EntryAction::MakeFolder)
        return true;
    if (planned.stagedUpdate) {
        LOG_RECORD(LogLevel::Event, kFunction) << "Found staged update: " << stored;
        if (stagedUpdateFound != nullptr)
            *stagedUpdateFound = true;
    }
    const EntryResult written = writeEntryFile(reader, index, wide);
    if (!written) {
        logEntryFailure("Unable to decompress file.  i = ", index, stored);
        logFolderFailure(folderError);
        logEntryFailureCause(written);
        return false;
    }
    kept += written.kept ? 1 : 0;
    return true;
}

bool unpackAll(FileMapping& image, bool* stagedUpdateFound)
{
    ZipReader reader;
    // The signature after the archive may be of any size; the search for the
    // archive stops where it begins.
    if (!reader.open(image, payloadSearchSize(image))) {
        LOG_RECORD(LogLevel::Error, kFunction) << "Unable to initialize zip reader.";
        return false;
    }
    const uint32_t count = static_cast<uint32_t>(reader.entries().size());
    LOG_RECORD(LogLevel::Event, kFunction) << "Embedded zip contains " << count
                                           << " entries.  Total size: "
                                           << static_cast<int32_t>(image.size());
    const UnpackPlan plan = planUnpack(reader.entries());
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (!unpackEntry(reader, i, plan.entries[i], stagedUpdateFound, kept))
            return false;
    }
    if (kept > 0)
        LOG_RECORD(LogLevel::Event, kFunction) << "Kept " << kept << " files already in place.";
    LOG_RECORD(LogLevel::Event, kFunction) << "Archive unpacked successfully.";
    return true;
}

// A failed open, mapping or view is the system's doing: its error code tells
// support whether the file was locked, missing or the address space full.
void logMappingFailure(const FileMapping& image)
{
    if (image.error().failed())
        LOG_RECORD(LogLevel::Error, kFunction)
            << "Unable to map the installer file.  Error = " << image.error().code;
}

} // namespace

bool unpackEmbeddedZip(bool* stagedUpdateFound)
{
    FileMapping image(getModulePath());
    if (!image.isOpen() || image.size() == 0) {
        logMappingFailure(image);
        return false;
    }
    if (unpackAll(image, stagedUpdateFound))
        return true;
    logMappingFailure(image);
    return false;
}
