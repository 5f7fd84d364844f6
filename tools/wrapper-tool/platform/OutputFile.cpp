#include "platform/OutputFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/InterruptCleanup.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

bool seekStream(std::FILE* file, uint64_t position)
{
#ifdef _WIN32
    return _fseeki64(file, int64_t(position), SEEK_SET) == 0;
#else
    return fseeko(file, off_t(position), SEEK_SET) == 0;
#endif
}

} // namespace

std::string scratchPathBeside(const std::string& path, const char* tag)
{
    return path + tag + std::to_string(getpid());
}

OutputFile::~OutputFile()
{
    discard();
}

bool OutputFile::create(const std::string& finalPath, std::string& error)
{
    discard();
    finalPath_ = finalPath;
    tempPath_ = scratchPathBeside(finalPath, ".tmp");
    removeOnInterrupt(tempPath_);
    file_ = std::fopen(tempPath_.c_str(), "wb");
    if (file_ == nullptr) {
        error = "cannot create '" + tempPath_ + "': " + std::strerror(errno);
        tempPath_.clear();
        forgetOnInterrupt();
        return false;
    }
    // Large buffered writes: the archive is written in one pass.
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    position_ = end_ = 0;
    return true;
}

bool OutputFile::write(const void* data, size_t size)
{
    if (file_ == nullptr)
        return false;
    if (size != 0 && std::fwrite(data, 1, size, file_) != size)
        return false;
    position_ += size;
    if (position_ > end_)
        end_ = position_;
    return true;
}

bool OutputFile::seek(uint64_t position)
{
    if (file_ == nullptr || position > end_ || !seekStream(file_, position))
        return false;
    position_ = position;
    return true;
}

bool OutputFile::flush()
{
    return file_ != nullptr && std::fflush(file_) == 0 && !std::ferror(file_);
}

bool OutputFile::commit(std::string& error)
{
    if (file_ == nullptr) {
        error = "no output file open";
        return false;
    }
    bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
    bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed || !closed) {
        error = "cannot write '" + tempPath_ + "'";
        discard();
        return false;
    }
    std::error_code code;
    fs::rename(fs::path(tempPath_), fs::path(finalPath_), code);
    if (!code)
        forgetOnInterrupt();
    if (code) {
        error = "cannot rename '" + tempPath_ + "' to '" + finalPath_ + "': " + code.message();
        discard();
        return false;
    }
    tempPath_.clear();
    return true;
}

void OutputFile::discard()
{
    if (file_ != nullptr)
        std::fclose(file_);
    file_ = nullptr;
    if (!tempPath_.empty()) {
        std::error_code ignored;
        fs::remove(fs::path(tempPath_), ignored);
        forgetOnInterrupt();
        tempPath_.clear();
    }
}
