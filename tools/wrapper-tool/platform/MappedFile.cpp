#include "platform/MappedFile.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include "platform/WidePath.h"

namespace {

// Closes a Win32 handle when the scope ends.
struct HandleOwner {
    HANDLE handle;
    ~HandleOwner()
    {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

std::string lastErrorText()
{
    return "Windows error " + std::to_string(GetLastError());
}

} // namespace

bool MappedFile::open(const std::string& path, std::string& error)
{
    close();
    // Sharing writes too: pack reads its own output back while still holding it open.
    HandleOwner file{CreateFileW(widePath(path).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.handle == INVALID_HANDLE_VALUE) {
        error = "cannot open '" + path + "': " + lastErrorText();
        return false;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.handle, &size)) {
        error = "cannot measure '" + path + "': " + lastErrorText();
        return false;
    }
    if (size.QuadPart == 0)
        return true;
    if (uint64_t(size.QuadPart) > SIZE_MAX) {
        error = "'" + path + "' is too large to map";
        return false;
    }
    HandleOwner mapping{CreateFileMappingW(file.handle, nullptr, PAGE_READONLY, 0, 0, nullptr)};
    if (mapping.handle == nullptr) {
        error = "cannot map '" + path + "': " + lastErrorText();
        return false;
    }
    void* view = MapViewOfFile(mapping.handle, FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr) {
        error = "cannot map '" + path + "': " + lastErrorText();
        return false;
    }
    data_ = static_cast<const uint8_t*>(view);
    size_ = uint64_t(size.QuadPart);
    return true;
}

void MappedFile::close()
{
    if (data_ != nullptr)
        UnmapViewOfFile(data_);
    data_ = nullptr;
    size_ = 0;
}

#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct DescriptorOwner {
    int fd;
    ~DescriptorOwner()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

bool MappedFile::open(const std::string& path, std::string& error)
{
    close();
    DescriptorOwner file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) {
        error = "cannot open '" + path + "': " + std::strerror(errno);
        return false;
    }
    struct stat info;
    if (fstat(file.fd, &info) != 0) {
        error = "cannot measure '" + path + "': " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "'" + path + "' is not a regular file";
        return false;
    }
    if (info.st_size == 0)
        return true;
    void* view = mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_PRIVATE, file.fd, 0);
    if (view == MAP_FAILED) {
        error = "cannot map '" + path + "': " + std::strerror(errno);
        return false;
    }
    data_ = static_cast<const uint8_t*>(view);
    size_ = uint64_t(info.st_size);
    return true;
}

void MappedFile::close()
{
    if (data_ != nullptr)
        munmap(const_cast<uint8_t*>(data_), size_t(size_));
    data_ = nullptr;
    size_ = 0;
}

#endif

MappedFile::~MappedFile()
{
    close();
}
