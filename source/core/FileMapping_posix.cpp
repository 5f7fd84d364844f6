#include "FileMapping.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fileplatform {

uint32_t viewGranularity()
{
    const long page = sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<uint32_t>(page) : 4096u;
}

FileMapError open(const NativePath& path, FileMapHandles& handles, uint64_t& size)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return FileMapError{FileMapStep::Open, static_cast<uint32_t>(errno)};
    handles.file = fd;
    struct stat info;
    if (fstat(fd, &info) != 0)
        return FileMapError{FileMapStep::Size, static_cast<uint32_t>(errno)};
    if (!S_ISREG(info.st_mode))
        return FileMapError{FileMapStep::NotAFile, 0};
    size = static_cast<uint64_t>(info.st_size);
    return FileMapError{};
}

const uint8_t* mapView(const FileMapHandles& handles, uint64_t offset, size_t length,
                       uint32_t& errorCode)
{
    void* view = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, static_cast<int>(handles.file),
                      static_cast<off_t>(offset));
    if (view == MAP_FAILED) {
        errorCode = static_cast<uint32_t>(errno);
        return nullptr;
    }
    return static_cast<const uint8_t*>(view);
}

void unmapView(const uint8_t* view, size_t length)
{
    munmap(const_cast<uint8_t*>(view), length);
}

void close(FileMapHandles& handles)
{
    if (handles.file >= 0)
        ::close(static_cast<int>(handles.file));
    handles.file = -1;
}

} // namespace fileplatform
