#include "inspect/PayloadChecks.h"

#include "WrapperVersion.h"

namespace {

// C:\Users\<20 characters>\AppData\Local\Norvik\VozeDozav\<version>\ (sizeof
// counts the NUL where the last backslash stands).
const size_t kTypicalWorkAreaLength = 9 + 20 + 15 + 7 + 10 + sizeof(WRAPPER_VERSION_STRING);

std::string quoted(const std::string& name)
{
    return "'" + name + "'";
}

} // namespace

const char kTypicalWorkAreaShown[] =
    "C:\\Users\\<20 characters>\\AppData\\Local\\Norvik\\VozeDozav\\" WRAPPER_VERSION_STRING "\\";

const char kOverlapProblem[] =
    "entries overlap each other or the central directory (a ZIP bomb's layout); "
    "the stub refuses the archive";

size_t typicalPathLength(const std::string& name)
{
    size_t length = name.size();
    if (length > 0 && name[length - 1] == '/')
        --length;
    return kTypicalWorkAreaLength + length;
}

std::string longPathProblem(const std::string& name)
{
    const size_t length = typicalPathLength(name);
    if (length <= kPlainPathLimit)
        return std::string();
    return "its path under " + std::string(kTypicalWorkAreaShown) + " has " +
           std::to_string(length) + " characters, more than the " +
           std::to_string(kPlainPathLimit) + " Windows' plain file APIs can open";
}

std::vector<NamedEntry> namedEntries(const ZipReader& reader)
{
    std::vector<NamedEntry> named;
    named.reserve(reader.entries().size());
    for (const ZipEntryInfo& entry : reader.entries())
        named.push_back(NamedEntry{&entry.fileName, entry.isDirectory()});
    return named;
}

std::string nameCollisionProblem(const std::vector<NamedEntry>& entries, bool withIndices)
{
    NameCollision collision;
    if (!findNameCollision(entries, collision))
        return std::string();
    std::string first = quoted(*entries[collision.first].name);
    std::string second = quoted(*entries[collision.second].name);
    if (withIndices) {
        first = "entries " + std::to_string(collision.first) + " " + first;
        second = std::to_string(collision.second) + " " + second;
    }
    return first + " and " + second +
           ": the same name on Windows, which does not tell letter case apart; one of them "
           "would be lost";
}

std::string packNamesProblem(const std::vector<SourceEntry>& entries, bool allowLongPaths)
{
    std::vector<NamedEntry> named;
    named.reserve(entries.size());
    for (const SourceEntry& entry : entries)
        named.push_back(NamedEntry{&entry.name, entry.isDirectory});
    const std::string collision = nameCollisionProblem(named, false);
    if (!collision.empty())
        return "refused " + collision;
    if (allowLongPaths)
        return std::string();
    // Every long path, one a line, so one run shows all there is to fix.
    std::string problems;
    for (const SourceEntry& entry : entries) {
        const std::string problem = longPathProblem(entry.name);
        if (!problem.empty())
            problems += (problems.empty() ? "" : "\n") + std::string("refused ") + quoted(entry.name) +
                        ": " + problem + " (--allow-long-paths packs it anyway)";
    }
    return problems;
}
