#include "platform/MappedFile.h"

#include <cstring>

#ifdef _WIN32
#include "platform/WidePath.h"
#endif

namespace {

std::string systemReason(uint32_t code)
{
#ifdef _WIN32
    return "Windows error " + std::to_string(code);
#else
    return std::strerror(static_cast<int>(code));
#endif
}

} // namespace

std::unique_ptr<FileMapping> openMappedFile(const std::string& path, std::string& error)
{
#ifdef _WIN32
    std::unique_ptr<FileMapping> file(new FileMapping(widePath(path)));
#else
    std::unique_ptr<FileMapping> file(new FileMapping(path));
#endif
    const FileMapError& failure = file->error();
    switch (failure.step) {
    case FileMapStep::None:
        return file;
    case FileMapStep::Open:
        error = "cannot open '" + path + "': " + systemReason(failure.code);
        break;
    case FileMapStep::Size:
        error = "cannot measure '" + path + "': " + systemReason(failure.code);
        break;
    case FileMapStep::NotAFile:
        error = "'" + path + "' is not a regular file";
        break;
    case FileMapStep::Map:
    case FileMapStep::View:
        error = "cannot map '" + path + "': " + systemReason(failure.code);
        break;
    }
    return nullptr;
}
