#pragma once
#include <string>

// A file only its owner can read, holding a secret (a key's password) for a
// tool that reads it from a file rather than its command line, where other
// users could see it. Removed when the owner goes.
class SecretFile {
public:
    SecretFile() = default;
    ~SecretFile();
    SecretFile(const SecretFile&) = delete;
    SecretFile& operator=(const SecretFile&) = delete;

    bool create(const std::string& path, const std::string& secret, std::string& error);
    const std::string& path() const { return path_; }

private:
    std::string path_;
};
