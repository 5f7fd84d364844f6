#include "pack/ExcludeSet.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "pack/Glob.h"

void ExcludeSet::add(const std::string& pattern)
{
    patterns_.push_back(pattern);
    used_.push_back(false);
}

bool ExcludeSet::addFromFile(const std::string& path, std::string& error)
{
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read --exclude-from '" + path + "': " +
                std::strerror(errno != 0 ? errno : ENOENT);
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        const size_t last = line.find_last_not_of(" \t\r");
        add(line.substr(first, last - first + 1));
    }
    if (in.bad()) {
        error = "cannot read --exclude-from '" + path + "': " + std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    return true;
}

bool ExcludeSet::excludes(const std::string& relativePath, bool isDirectory)
{
    // Every pattern is tried, so each one that matches is counted as used.
    bool excluded = false;
    for (size_t i = 0; i < patterns_.size(); ++i)
        if (excludedBy(patterns_[i], relativePath, isDirectory)) {
            used_[i] = true;
            excluded = true;
        }
    return excluded;
}

std::vector<std::string> ExcludeSet::unusedPatterns() const
{
    std::vector<std::string> unused;
    for (size_t i = 0; i < patterns_.size(); ++i)
        if (!used_[i])
            unused.push_back(patterns_[i]);
    return unused;
}
