#include "platform/ExternalTool.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::vector<std::string> outputLines(const std::string& output)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        std::string line = output.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool programOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    if (path == nullptr)
        return false;
#ifdef _WIN32
    const char separator = ';';
    const std::string file = name + ".exe";
#else
    const char separator = ':';
    const std::string& file = name;
#endif
    std::string folders = path;
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(separator, start);
        if (end == std::string::npos)
            end = folders.size();
        if (end > start) {
            std::error_code code;
            if (fs::is_regular_file(fs::path(folders.substr(start, end - start)) / file, code))
                return true;
        }
        start = end + 1;
    }
    return false;
}

unsigned programDeadlineSeconds()
{
    const char* text = std::getenv("WRAPPER_PROGRAM_TIMEOUT");
    if (text == nullptr || *text == '\0')
        return kDefaultProgramSeconds;
    char* end = nullptr;
    const unsigned long seconds = std::strtoul(text, &end, 10);
    // A value that is no number of seconds leaves the default in force.
    if (*end != '\0' || seconds == 0 || seconds > 86400)
        return kDefaultProgramSeconds;
    return unsigned(seconds);
}

std::string programEndProblem(const std::string& name, const ProgramRun& run)
{
    switch (run.end) {
    case ProgramRun::End::Exited:
        return std::string();
    case ProgramRun::End::NotStarted:
        return "cannot start " + name + (run.systemError != 0 ? ": " + std::system_category().message(run.systemError)
                                                              : std::string());
    case ProgramRun::End::TimedOut:
        return name + " did not finish within " + std::to_string(run.deadlineSeconds) +
               " s and was stopped (WRAPPER_PROGRAM_TIMEOUT=SECONDS allows more)";
    case ProgramRun::End::Killed:
        return name + " was ended by signal " + std::to_string(run.signal);
    }
    return name + " failed";
}

