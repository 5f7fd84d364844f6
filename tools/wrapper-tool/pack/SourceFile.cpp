#include "pack/SourceFile.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "pack/SourceTree.h"
#include "platform/OutputFile.h"

std::FILE* openSourceFile(const std::filesystem::path& path)
{
#ifdef _WIN32
    return _wfopen(path.c_str(), L"rb");
#else
    return std::fopen(path.c_str(), "rb");
#endif
}

bool readSourceBytes(const SourceEntry& entry, uint64_t offset, uint64_t length, bool endsFile,
                     std::vector<uint8_t>& data, std::string& error)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(openSourceFile(entry.path), std::fclose);
    if (!file || (offset != 0 && !seekStream(file.get(), offset))) {
        error = "cannot read '" + entry.name + "': " + std::strerror(errno);
        return false;
    }
    data.resize(size_t(length));
    size_t got = data.empty() ? 0 : std::fread(data.data(), 1, data.size(), file.get());
    if (std::ferror(file.get())) {
        error = "cannot read '" + entry.name + "'";
        return false;
    }
    // One more byte read means the file grew since the folder was read.
    if (got != data.size() || (endsFile && std::fgetc(file.get()) != EOF)) {
        error = "'" + entry.name + "' changed while it was being packed";
        return false;
    }
    return true;
}
