#include "platform/OutputFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/InterruptCleanup.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include "platform/WidePath.h"
#define getpid _getpid
#define close _close
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

bool seekStream(std::FILE* file, uint64_t position)
{
#ifdef _WIN32
    return _fseeki64(file, int64_t(position), SEEK_SET) == 0;
#else
    return fseeko(file, off_t(position), SEEK_SET) == 0;
#endif
}

namespace {

// O_EXCL is CREATE_NEW on Windows: an existing name, a link included, fails.
int openExclusive(const std::string& path)
{
#ifdef _WIN32
    return _wopen(widePath(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
#endif
}

} // namespace

std::string writeFailure(const std::string& path, int errorNumber)
{
    return "cannot write '" + path + "'" + (errorNumber != 0 ? std::string(": ") + std::strerror(errorNumber) : "");
}

std::string underUserName(std::string message, const std::string& scratchPath, const std::string& userPath)
{
    for (size_t at = message.find(scratchPath); !scratchPath.empty() && at != std::string::npos;
         at = message.find(scratchPath, at + userPath.size()))
        message.replace(at, scratchPath.size(), userPath);
    return message;
}

bool refuseFolderAsOutput(const std::string& out, std::string& error)
{
    std::error_code code;
    if (!fs::is_directory(fs::path(out), code))
        return true;
    error = "refused -o '" + out + "': it is a folder; name the file to write";
    return false;
}

std::string scratchName(const std::string& finalPath, const char* tag, int attempt)
{
    const std::string base = finalPath + tag + std::to_string(getpid());
    return attempt == 0 ? base : base + "-" + std::to_string(attempt);
}

std::FILE* createScratchBeside(const std::string& finalPath, const char* tag, std::string& scratchPath,
                               std::string& error)
{
    for (int attempt = 0; attempt < kScratchAttempts; ++attempt) {
        const std::string candidate = scratchName(finalPath, tag, attempt);
        int fd = -1;
        {
            // No signal between creating the file and arming its removal;
            // a name that was taken is someone else's and is never removed.
            SignalsHeld held;
            fd = openExclusive(candidate);
            if (fd >= 0)
                removeOnInterrupt(candidate);
        }
        if (fd < 0) {
            const int reason = errno;
            if (reason == EEXIST)
                continue;
            error = "cannot create a file beside '" + finalPath + "': " + std::strerror(reason);
            return nullptr;
        }
#ifdef _WIN32
        std::FILE* file = _fdopen(fd, "wb");
#else
        std::FILE* file = fdopen(fd, "wb");
#endif
        if (file == nullptr) {
            const int reason = errno;
            close(fd);
            std::remove(candidate.c_str());
            forgetOnInterrupt();
            error = "cannot create a file beside '" + finalPath + "': " + std::strerror(reason);
            return nullptr;
        }
        scratchPath = candidate;
        return file;
    }
    error = "cannot create a file beside '" + finalPath + "': every scratch name is taken";
    return nullptr;
}

#ifndef _WIN32
bool createScratchFolderBeside(const std::string& finalPath, const char* tag, std::string& folder,
                               std::string& error)
{
    std::string pattern = finalPath + tag + std::to_string(getpid()) + "-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        error = "cannot create a folder beside '" + finalPath + "': " + std::strerror(errno);
        return false;
    }
    folder = pattern;
    return true;
}
#endif

OutputFile::~OutputFile()
{
    discard();
}

bool OutputFile::create(const std::string& finalPath, std::string& error)
{
    discard();
    finalPath_ = finalPath;
    errno_ = 0;
    file_ = createScratchBeside(finalPath, ".tmp", tempPath_, error);
    if (file_ == nullptr)
        return false;
    // Large buffered writes: the archive is written in one pass.
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    position_ = end_ = 0;
    return true;
}

bool OutputFile::write(const void* data, size_t size)
{
    if (file_ == nullptr)
        return false;
    if (size != 0 && std::fwrite(data, 1, size, file_) != size) {
        errno_ = errno;
        return false;
    }
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
    if (file_ != nullptr && std::fflush(file_) == 0 && !std::ferror(file_))
        return true;
    errno_ = errno;
    return false;
}

bool OutputFile::commit(std::string& error)
{
    if (file_ == nullptr) {
        error = "no output file open";
        return false;
    }
    bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
    if (!flushed)
        errno_ = errno;
    bool closed = std::fclose(file_) == 0;
    if (flushed && !closed)
        errno_ = errno;
    file_ = nullptr;
    if (!flushed || !closed) {
        error = failure();
        discard();
        return false;
    }
    std::error_code code;
    fs::rename(fs::path(tempPath_), fs::path(finalPath_), code);
    if (!code)
        forgetOnInterrupt();
    if (code) {
        error = "cannot replace '" + finalPath_ + "': " + code.message();
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
