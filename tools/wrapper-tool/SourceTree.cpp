#include "SourceTree.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "EntryName.h"

namespace fs = std::filesystem;

namespace {

// Reserved by Windows in file names; '/' is the separator and ':' is
// refused by isSafeEntryName.
const char kWindowsReserved[] = "\\*?\"<>|";

bool isPlainAscii(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

// Turns a path below `root` into the archive name. Native names from the
// file system are taken as bytes; on Windows that is the ANSI code page, and
// the ASCII test below refuses anything beyond ASCII in either case.
std::string archiveName(const fs::path& relative)
{
    std::string name;
    for (const fs::path& part : relative) {
        if (!name.empty())
            name += '/';
        name += part.u8string();
    }
    return name;
}

} // namespace

std::string entryNameProblem(const std::string& name)
{
    if (!isPlainAscii(name))
        return "name is not plain ASCII";
    std::string bare = name;
    if (!bare.empty() && bare.back() == '/')
        bare.pop_back();
    if (bare.find_first_of(kWindowsReserved) != std::string::npos)
        return "name holds a character Windows does not allow";
    if (!isSafeEntryName(bare))
        return "name would leave the work area";
    if (name.size() > 0xFFFF)
        return "name is too long";
    return std::string();
}

namespace {

SourceTreeResult walkTree(const std::string& root, std::vector<SourceEntry>& out, std::string& error)
{
    std::error_code code;
    const fs::path rootPath(root);
    if (!fs::is_directory(fs::status(rootPath, code))) {
        error = "'" + root + "' is not a folder";
        return SourceTreeResult::ReadError;
    }
    out.clear();
    fs::recursive_directory_iterator it(rootPath, fs::directory_options::none, code);
    if (code) {
        error = "cannot read '" + root + "': " + code.message();
        return SourceTreeResult::ReadError;
    }
    for (; it != fs::recursive_directory_iterator(); it.increment(code)) {
        if (code)
            break;
        const fs::path& path = it->path();
        const std::string name = archiveName(path.lexically_relative(rootPath));
        const fs::file_status status = it->symlink_status(code);
        if (code)
            break;
        if (fs::is_symlink(status)) {
            error = "refused '" + name + "': symbolic link";
            return SourceTreeResult::Refused;
        }
        const bool directory = fs::is_directory(status);
        if (!directory && !fs::is_regular_file(status)) {
            error = "refused '" + name + "': not a regular file or folder";
            return SourceTreeResult::Refused;
        }
        const std::string entryName = directory ? name + "/" : name;
        const std::string problem = entryNameProblem(entryName);
        if (!problem.empty()) {
            error = "refused '" + name + "': " + problem;
            return SourceTreeResult::Refused;
        }
        uint64_t size = 0;
        if (!directory) {
            size = fs::file_size(path, code);
            if (code)
                break;
        }
        out.push_back(SourceEntry{entryName, path, directory, size});
    }
    if (code) {
        error = "cannot read '" + root + "': " + code.message();
        return SourceTreeResult::ReadError;
    }
    return SourceTreeResult::Ok;
}

} // namespace

SourceTreeResult readSourceTree(const std::string& root, std::vector<SourceEntry>& out,
                                std::string& error)
{
    // The file system layer reports names it cannot convert by throwing.
    try {
        SourceTreeResult walked = walkTree(root, out, error);
        if (walked != SourceTreeResult::Ok)
            return walked;
    } catch (const std::exception& failure) {
        error = "cannot read '" + root + "': " + failure.what();
        return SourceTreeResult::ReadError;
    }
    std::sort(out.begin(), out.end(),
              [](const SourceEntry& a, const SourceEntry& b) { return a.name < b.name; });

    auto setup = std::find_if(out.begin(), out.end(), [](const SourceEntry& entry) {
        return !entry.isDirectory && entry.name == kInnerSetupName;
    });
    if (setup == out.end()) {
        error = std::string("refused '") + root + "': no " + kInnerSetupName + " at its top level";
        return SourceTreeResult::Refused;
    }
    return SourceTreeResult::Ok;
}
