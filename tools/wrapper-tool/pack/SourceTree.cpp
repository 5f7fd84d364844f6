#include "pack/SourceTree.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "EntryName.h"
#include "pack/ExcludeSet.h"
#include "pack/ZipWriter.h"
#include "UnpackPlan.h"

namespace fs = std::filesystem;

namespace {

// Turns a path below `root` into the archive name, UTF-8: on Windows from
// the wide names, elsewhere the bytes as the file system holds them (names
// that are not UTF-8 are refused by the plan's check below).
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

// The name as a message can show it: when it is not UTF-8, every byte
// beyond ASCII as \xNN.
std::string printable(const std::string& name)
{
    if (nameRefusal(name, true) != RefusalReason::InvalidUtf8)
        return name;
    std::string out;
    for (unsigned char c : name) {
        if (c < 0x80) {
            out += char(c);
            continue;
        }
        static const char kHex[] = "0123456789ABCDEF";
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

} // namespace

std::string entryNameProblem(const std::string& name)
{
    // A '\\' inside a file name here would be a folder separator on Windows.
    if (name.find('\\') != std::string::npos)
        return "name holds '\\', a folder separator on Windows";
    const RefusalReason reason = nameRefusal(name, ZipWriter::nameFlags(name) != 0);
    if (reason != RefusalReason::None)
        return refusalText(reason);
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
            addProblem(error, "refused '" + printable(name) + "': symbolic link");
            continue;
        }
        if (!directory && !fs::is_regular_file(status)) {
            addProblem(error, "refused '" + printable(name) + "': not a regular file or folder");
            continue;
        }
        const std::string entryName = directory ? name + "/" : name;
        const std::string problem = entryNameProblem(entryName);
        if (!problem.empty()) {
            addProblem(error, "refused '" + printable(name) + "': " + problem);
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
