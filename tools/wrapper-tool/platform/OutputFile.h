#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

// A name beside `path` for this process's scratch file of kind `tag` (".tmp",
// ".pass"): the process id keeps two concurrent runs apart.
std::string scratchPathBeside(const std::string& path, const char* tag);

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

private:
    void discard();

    std::FILE* file_ = nullptr;
    std::string finalPath_;
    std::string tempPath_;
    uint64_t position_ = 0;
    uint64_t end_ = 0;
};
