#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// The program's own file (or any file) mapped read-only as a whole. The
// constructor goes as far as it can and reports nothing: data() is null and
// size() is 0 when the corresponding step failed. Pointers into the view must
// be gone before the object is destroyed.
class FileMapping {
public:
    explicit FileMapping(const std::wstring& path);
    virtual ~FileMapping();

    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;

    const uint8_t* data() const { return view; }
    int64_t size() const { return fileSize; }

private:
    HANDLE fileHandle = INVALID_HANDLE_VALUE;
    int64_t fileSize = 0;
    HANDLE mappingHandle = nullptr;
    const uint8_t* view = nullptr;
};

// Full path of the running executable; empty when the platform cannot tell it.
std::wstring getModulePath();
