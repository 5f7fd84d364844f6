#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

// Moves a stream to `position`, past 2 GiB too.
bool seekStream(std::FILE* file, uint64_t position);

// The scratch name beside `finalPath` for the given attempt: finalPath + tag +
// the process id, then "-1", "-2"... when that name is taken.
std::string scratchName(const std::string& finalPath, const char* tag, int attempt);
// How many names scratchName() offers before giving up.
const int kScratchAttempts = 100;

// Creates a new, empty scratch file beside `finalPath`, named finalPath + tag
// + the process id (another suffix when that name is taken). Created
// exclusively: nothing already at the name, a planted link included, is
// opened or followed. Returns the open stream and sets `scratchPath`, or
// nullptr with `error` naming `finalPath` and the system's reason.
std::FILE* createScratchBeside(const std::string& finalPath, const char* tag, std::string& scratchPath,
                               std::string& error);

#ifndef _WIN32
// A new folder beside `finalPath` that only this user can enter, for a
// program that insists on creating its output itself: nobody can plant a
// link at a name inside it. Sets `folder`, or `error` naming `finalPath`.
bool createScratchFolderBeside(const std::string& finalPath, const char* tag, std::string& folder,
                               std::string& error);
#endif

// `message` about a scratch file, told in terms of the file the user named:
// the scratch name means nothing to them and is gone by the time they read it.
std::string underUserName(std::string message, const std::string& scratchPath, const std::string& userPath);

// "cannot write 'PATH': REASON", with errno's text when it has one.
std::string writeFailure(const std::string& path, int errorNumber);

// An existing folder given as an output file: refused before any work.
bool refuseFolderAsOutput(const std::string& out, std::string& error);

// The file being written for OUT: a temporary beside it that replaces OUT only
// on commit(), so that a failure never leaves a half-written installer.
// Destroying an uncommitted OutputFile removes the temporary.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool create(const std::string& finalPath, std::string& error);
    bool write(const void* data, size_t size);
    // Moves the write position; the archive writer patches local headers with it.
    bool seek(uint64_t position);
    uint64_t position() const { return position_; }
    // Flushes, closes and renames the temporary onto the final path.
    bool commit(std::string& error);

    // Pushes buffered bytes to the temporary, so it can be read back before commit().
    bool flush();
    const std::string& tempPath() const { return tempPath_; }
    // Why the last write or flush failed, naming the final path, not the temporary.
    std::string failure() const { return writeFailure(finalPath_, errno_); }

private:
    void discard();

    std::FILE* file_ = nullptr;
    std::string finalPath_;
    std::string tempPath_;
    uint64_t position_ = 0;
    uint64_t end_ = 0;
    int errno_ = 0;
};
