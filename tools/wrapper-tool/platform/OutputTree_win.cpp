// Windows: a reparse point (symbolic link, junction) found at any folder or
// file under the root is refused or replaced, never entered; files are made
// with CREATE_NEW, which fails on anything already at the name.
#include "platform/OutputTree.h"

#include <windows.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "Owned_win.h"
#include "platform/OutputFile.h"
#include "platform/WidePath.h"

namespace fs = std::filesystem;

namespace {

std::string systemReason(DWORD code)
{
    return std::error_code(int(code), std::system_category()).message();
}

bool isReparsePoint(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

class WindowsTreeFile : public TreeFile {
public:
    WindowsTreeFile(HANDLE handle, std::wstring temporary, std::wstring path, bool replace)
        : handle_(handle), temporary_(std::move(temporary)), path_(std::move(path)), replace_(replace)
    {
    }
    ~WindowsTreeFile() override { discard(); }

    bool write(const uint8_t* data, uint32_t size) override
    {
        DWORD wrote = 0;
        if (handle_.valid() && WriteFile(handle_.get(), data, size, &wrote, nullptr) && wrote == size)
            return true;
        return failed(handle_.valid() && wrote != size ? ERROR_DISK_FULL : GetLastError());
    }
    // A positioned write: the offset in an OVERLAPPED on the synchronous handle.
    bool writeAt(uint64_t offset, const uint8_t* data, uint32_t size) override
    {
        OVERLAPPED at{};
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(offset >> 32);
        DWORD wrote = 0;
        if (handle_.valid() && WriteFile(handle_.get(), data, size, &wrote, &at) && wrote == size)
            return true;
        return failed(handle_.valid() && wrote != size ? ERROR_DISK_FULL : GetLastError());
    }
    bool finish() override
    {
        if (!handle_.valid())
            return false;
        if (!CloseHandle(handle_.release()))
            return failed(GetLastError());
        // A folder link in the way goes only now, when its replacement is complete.
        const DWORD there = GetFileAttributesW(path_.c_str());
        if (replace_ && isReparsePoint(there) && (there & FILE_ATTRIBUTE_DIRECTORY))
            RemoveDirectoryW(path_.c_str());
        if (!MoveFileExW(temporary_.c_str(), path_.c_str(), replace_ ? MOVEFILE_REPLACE_EXISTING : 0))
            return failed(GetLastError());
        kept_ = true;
        return true;
    }
    void discard() override
    {
        handle_.reset();
        if (!kept_ && !temporary_.empty())
            DeleteFileW(temporary_.c_str());
        temporary_.clear();
    }

private:
    bool failed(DWORD code) { return failedWith(systemReason(code)); }

    UniqueHandle handle_;
    std::wstring temporary_;
    std::wstring path_;
    bool replace_;
    bool kept_ = false;
};

} // namespace

struct OutputTree::State {
    fs::path root;
};

OutputTree::OutputTree() : state_(new State) {}
OutputTree::~OutputTree() = default;

std::string OutputTree::shown(const std::string& relative) const
{
    return root_ + (root_.empty() || root_.back() == '\\' || root_.back() == '/' ? "" : "\\") + relative;
}

bool OutputTree::open(const std::string& root, std::string& error)
{
    root_ = root;
    state_->root = fs::path(widePath(root));
    std::error_code code;
    fs::create_directories(state_->root, code);
    if (code || !fs::is_directory(state_->root, code)) {
        error = "cannot create '" + root + "': " + (code ? code.message() : std::string("not a folder"));
        return false;
    }
    return true;
}

OutputTree::Outcome OutputTree::createFolders(const std::string& relative, bool includingLast, std::string& error)
{
    const fs::path names = fs::u8path(relative);
    std::vector<fs::path> parts(names.begin(), names.end());
    if (!includingLast && !parts.empty())
        parts.pop_back();
    fs::path current = state_->root;
    std::string walked;
    for (const fs::path& part : parts) {
        current /= part;
        walked += (walked.empty() ? "" : "/") + part.u8string();
        if (!CreateDirectoryW(current.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            error = "cannot create '" + shown(walked) + "': " + systemReason(GetLastError());
            return Outcome::Failed;
        }
        const DWORD attributes = GetFileAttributesW(current.c_str());
        if (isReparsePoint(attributes)) {
            error = "refused '" + shown(walked) + "': a link is there; it is not followed";
            return Outcome::Refused;
        }
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            error = "cannot create '" + shown(walked) + "': a file is there";
            return Outcome::Failed;
        }
    }
    return Outcome::Created;
}

OutputTree::Outcome OutputTree::createFile(const std::string& relative, ExistingFiles existing,
                                           std::unique_ptr<TreeFile>& file, std::string& error)
{
    const Outcome folders = createFolders(relative, false, error);
    if (folders != Outcome::Created)
        return folders;
    const std::wstring path = (state_->root / fs::u8path(relative)).wstring();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool taken = attributes != INVALID_FILE_ATTRIBUTES;
    if (taken) {
        const bool folderThere = (attributes & FILE_ATTRIBUTE_DIRECTORY) && !isReparsePoint(attributes);
        const Outcome policy = existingFile(relative, existing, folderThere, error);
        if (policy != Outcome::Created)
            return policy;
    }
    // The data goes to a temporary beside the name, moved onto it by finish().
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::wstring temporary;
    for (int attempt = 0; attempt < kScratchAttempts && handle == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = path + widePath(scratchName("", ".tmp", attempt)); // ASCII: any code page
        handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (handle == INVALID_HANDLE_VALUE) {
        error = "cannot create a file beside '" + shown(relative) + "': " + systemReason(GetLastError());
        return Outcome::Failed;
    }
    file.reset(new WindowsTreeFile(handle, temporary, path, taken));
    return Outcome::Created;
}
