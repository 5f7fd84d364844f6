#include "UnpackDriver_win.h"

#include <windows.h>

#include <string>

#include "EntryName.h"
#include "EntryFile_win.h"
#include "FileMapping_win.h"
#include "NameCollision.h"
#include "PeImage.h"
#include "WorkArea_win.h"
#include "ZipReader.h"

#define LOG_SOURCE_FILE "DuzoRizedAroriva"
#include "LogRecord.h"

namespace {

const char* const kFunction = "unpackEmbeddedZip";

// Folders and the file are made from the same reading of the name's bytes:
// the ANSI code page, as the C runtime reads a narrow name.
std::wstring ansiToWide(const std::string& name)
{
    if (name.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()),
                                           nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), &wide[0], length);
    return wide;
}

void logEntryFailure(const char* what, uint32_t index, const std::string& name)
{
    LOG_RECORD(LogLevel::Error, kFunction) << what << index << " Filename = " << name;
}

// The index of the first entry that would land on a file or folder an
// earlier entry made (Windows folds letter case), or the entry count.
uint32_t firstCollidingEntry(const ZipReader& reader)
{
    const std::vector<ZipEntryInfo>& entries = reader.entries();
    std::vector<NamedEntry> named;
    named.reserve(entries.size());
    for (const ZipEntryInfo& entry : entries)
        named.push_back(NamedEntry{&entry.fileName, entry.isDirectory()});
    NameCollision collision;
    if (!findNameCollision(named, collision))
        return static_cast<uint32_t>(entries.size());
    return static_cast<uint32_t>(collision.second);
}

// Writes entry `index`; false when it must end the walk.
bool unpackEntry(ZipReader& reader, uint32_t index, bool collides, bool* stagedUpdateFound)
{
    ZipEntryInfo entry;
    if (!reader.getEntryInfo(index, entry)) {
        LOG_RECORD(LogLevel::Error, kFunction) << "Unable to read zip file header.  i = " << index;
        return false;
    }
    // A name that would leave the work area, or one that would overwrite an
    // earlier entry's file, fails like a file that cannot be written, before
    // any folder or file is made for it.
    if (!isSafeEntryName(entry.fileName) || collides) {
        logEntryFailure("Unable to decompress file.  i = ", index, entry.fileName);
        return false;
    }
    createDirectories(ansiToWide(entry.fileName), entry.isDirectory());
    if (entry.isSymlink()) {
        logEntryFailure("Unable to create symlink.  i = ", index, entry.fileName);
        return false;
    }
    if (entry.isDirectory())
        return true;
    if (isStagedUpdateName(entry.fileName)) {
        LOG_RECORD(LogLevel::Event, kFunction) << "Found staged update: " << entry.fileName;
        if (stagedUpdateFound != nullptr)
            *stagedUpdateFound = true;
    }
    if (!writeEntryFile(reader, index, ansiToWide(entry.fileName))) {
        logEntryFailure("Unable to decompress file.  i = ", index, entry.fileName);
        return false;
    }
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
    const uint32_t colliding = firstCollidingEntry(reader);
    for (uint32_t i = 0; i < count; ++i) {
        if (!unpackEntry(reader, i, i == colliding, stagedUpdateFound))
            return false;
    }
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
