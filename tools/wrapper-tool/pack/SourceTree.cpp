#include "pack/SourceTree.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "EntryName.h"
#include "pack/ExcludeSet.h"

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

void addProblem(std::string& error, const std::string& line)
{
    if (!error.empty())
        error += '\n';
    error += line;
}

// A top-level file whose name differs from the inner setup's only in case:
// the likely fix when the inner setup is missing.
std::string innerSetupHint(const std::vector<SourceEntry>& entries)
{
    const std::string wanted = kInnerSetupName;
    for (const SourceEntry& entry : entries) {
        if (entry.isDirectory || entry.name.size() != wanted.size())
            continue;
        bool same = true;
        for (size_t i = 0; i < wanted.size() && same; ++i)
            same = std::tolower((unsigned char)entry.name[i]) == std::tolower((unsigned char)wanted[i]);
        if (same)
            return " (found '" + entry.name + "': rename it to " + wanted +
                   ", the name is matched exactly)";
    }
    return std::string();
}

SourceTreeResult walkTree(const std::string& root, ExcludeSet& excludes,
                          std::vector<SourceEntry>& out, std::string& error)
{
    std::error_code code;
    const fs::path rootPath(root);
    if (!fs::is_directory(fs::status(rootPath, code))) {
        error = "'" + root + "' is not a folder";
        return SourceTreeResult::ReadError;
    }
    out.clear();
    error.clear();
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
        const bool directory = fs::is_directory(status);
        if (excludes.excludes(name, directory)) {
            if (directory)
                it.disable_recursion_pending();
            continue;
        }
        if (fs::is_symlink(status)) {
            addProblem(error, "refused '" + name + "': symbolic link");
            continue;
        }
        if (!directory && !fs::is_regular_file(status)) {
            addProblem(error, "refused '" + name + "': not a regular file or folder");
            continue;
        }
        const std::string entryName = directory ? name + "/" : name;
        const std::string problem = entryNameProblem(entryName);
        if (!problem.empty()) {
            addProblem(error, "refused '" + name + "': " + problem);
            if (directory)
                it.disable_recursion_pending();
            continue;
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
    if (error.empty())
        return SourceTreeResult::Ok;
    // Every offender, in archive-name order, whatever order the folder listed them in.
    std::vector<std::string> lines;
    for (size_t start = 0; start <= error.size();) {
        size_t end = std::min(error.find('\n', start), error.size());
        lines.push_back(error.substr(start, end - start));
        start = end + 1;
    }
    std::sort(lines.begin(), lines.end());
    error.clear();
    for (const std::string& line : lines)
        addProblem(error, line);
    return SourceTreeResult::Refused;
}

} // namespace

SourceTreeResult readSourceTree(const std::string& root, ExcludeSet& excludes,
                                std::vector<SourceEntry>& out, std::string& error)
{
    // The file system layer reports names it cannot convert by throwing.
    try {
        SourceTreeResult walked = walkTree(root, excludes, out, error);
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
        error = std::string("refused '") + root + "': no " + kInnerSetupName + " at its top level" +
                innerSetupHint(out);
        return SourceTreeResult::Refused;
    }
    return SourceTreeResult::Ok;
}
