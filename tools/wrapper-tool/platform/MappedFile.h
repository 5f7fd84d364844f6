#pragma once
#include <cstdint>
#include <string>

// A whole file mapped read-only, the way the stub sees its own image. An empty
// file maps to size 0 with a null data pointer.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // False, with the reason in `error`, when the file cannot be opened or mapped.
    bool open(const std::string& path, std::string& error);

    const uint8_t* data() const { return data_; }
    uint64_t size() const { return size_; }

private:
    void close();

    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
#ifdef _WIN32
    void* mapping_ = nullptr;
#endif
};
