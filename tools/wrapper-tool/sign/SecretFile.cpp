#include "sign/SecretFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

SecretFile::~SecretFile()
{
    if (!path_.empty())
        std::remove(path_.c_str());
}

bool SecretFile::create(const std::string& path, const std::string& secret, std::string& error)
{
#ifdef _WIN32
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const bool created = file != nullptr;
    bool written = created && std::fwrite(secret.data(), 1, secret.size(), file) == secret.size();
    if (created)
        written = std::fclose(file) == 0 && written;
#else
    // Created new and private before the secret is written into it.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    const bool created = fd >= 0;
    bool written = created && write(fd, secret.data(), secret.size()) == ssize_t(secret.size());
    if (created)
        written = close(fd) == 0 && written;
#endif
    if (!written) {
        error = "cannot write '" + path + "': " + std::strerror(errno);
        // Only what this call made: a file already at the path is someone else's.
        if (created)
            std::remove(path.c_str());
        return false;
    }
    path_ = path;
    return true;
}
