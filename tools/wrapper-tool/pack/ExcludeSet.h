#pragma once
#include <string>
#include <vector>

// The patterns of `--exclude` and `--exclude-from`, remembering which ones
// left something out, so that a pattern that matched nothing (a typo, a
// folder renamed) is told instead of silently packing what it meant to drop.
class ExcludeSet {
public:
    void add(const std::string& pattern);

    // Reads one pattern a line from `path`; blank lines and lines starting
    // with '#' are skipped, surrounding spaces ignored. False with the
    // file's name and the system's reason in `error`.
    bool addFromFile(const std::string& path, std::string& error);

    // Whether some pattern leaves out the entry (see excludedBy in Glob.h).
    bool excludes(const std::string& relativePath, bool isDirectory);

    std::vector<std::string> unusedPatterns() const;

private:
    std::vector<std::string> patterns_;
    std::vector<bool> used_;
};
