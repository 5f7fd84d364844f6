#pragma once
#include <windows.h>

#include <string>

// A fresh folder under the temporary folder that is also the current
// directory while the object lives; removed with its content afterwards.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& path() const { return root; }
    std::wstring operator/(const std::wstring& relative) const { return root + L"\\" + relative; }

private:
    std::wstring root;
    std::wstring previous;
};

bool isFolder(const std::wstring& path);
bool isFile(const std::wstring& path);
bool exists(const std::wstring& path);
bool writeFile(const std::wstring& path, const std::string& content);
