#pragma once
#include <cstdint>
#include <string>

#include "ZipByteSource.h"

#ifdef _WIN32
using NativePath = std::wstring;
#else
using NativePath = std::string;
#endif

// Which step of reading a file through views failed, with the system's own
// error code (GetLastError or errno), so that a log or a message can tell a
// missing file from a locked one or from exhausted address space.
enum class FileMapStep
{
    None,
    Open,
    Size,
    NotAFile,
    Map,  // the mapping object
    View, // one window of it
};

struct FileMapError
{
    FileMapStep step = FileMapStep::None;
    uint32_t code = 0;

    bool failed() const { return step != FileMapStep::None; }
};

// What the platform needs to keep for one mapped file.
struct FileMapHandles
{
    intptr_t file = -1;
    intptr_t mapping = 0;
};

// A file opened read-only and shown through one bounded view at a time: a
// window of at most windowSize() bytes, moved to wherever the next read
// lies. A 32-bit process thus never needs address space for the whole file.
// The constructor reports nothing; error() tells the first failure.
class FileMapping : public ZipByteSource
{
public:
    static const uint32_t kDefaultWindow = 64u << 20;

    explicit FileMapping(const NativePath& path, uint32_t window = kDefaultWindow);
    ~FileMapping() override;
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;

    // True when the file opened (an empty file opens, with size 0).
    bool isOpen() const { return opened_; }
    const FileMapError& error() const { return error_; }

    uint64_t size() const override { return size_; }
    uint32_t windowSize() const override { return window_; }
    const uint8_t* view(uint64_t offset, uint32_t length) override;

private:
    void release();

    FileMapHandles handles_;
    uint64_t size_ = 0;
    uint32_t window_;
    uint32_t granularity_;
    bool opened_ = false;
    FileMapError error_;
    const uint8_t* viewBase_ = nullptr;
    uint64_t viewStart_ = 0;
    size_t viewLength_ = 0;
};

// The platform's half, one source file per platform.
namespace fileplatform {

// Views must start at a multiple of this.
uint32_t viewGranularity();
// Opens the file and, unless it is empty, its mapping object.
FileMapError open(const NativePath& path, FileMapHandles& handles, uint64_t& size);
const uint8_t* mapView(const FileMapHandles& handles, uint64_t offset, size_t length,
                       uint32_t& errorCode);
void unmapView(const uint8_t* view, size_t length);
void close(FileMapHandles& handles);

} // namespace fileplatform
