#include "pack/Glob.h"

#include <vector>

namespace {

char folded(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// One folder or file name against one pattern segment: '*' and '?' only.
bool segmentMatch(const std::string& pattern, const std::string& text)
{
    size_t p = 0, t = 0;
    size_t starAt = std::string::npos, resumeAt = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || folded(pattern[p]) == folded(text[t]))) {
            ++p;
            ++t;
        } else if (starAt != std::string::npos) {
            p = starAt + 1;
            t = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::vector<std::string> segments(const std::string& path)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        parts.push_back(path.substr(start, slash - start));
        if (slash == std::string::npos)
            return parts;
        start = slash + 1;
    }
}

bool segmentsMatch(const std::vector<std::string>& pattern, size_t p, const std::vector<std::string>& text,
                   size_t t)
{
    for (; p < pattern.size(); ++p, ++t) {
        if (pattern[p] == "**") {
            // Zero or more whole folders: try every remaining suffix.
            for (size_t skip = t; skip <= text.size(); ++skip)
                if (segmentsMatch(pattern, p + 1, text, skip))
                    return true;
            return false;
        }
        if (t >= text.size() || !segmentMatch(pattern[p], text[t]))
            return false;
    }
    return t == text.size();
}

} // namespace

bool globMatch(const std::string& pattern, const std::string& text)
{
    return segmentsMatch(segments(pattern), 0, segments(text), 0);
}

bool excludedBy(const std::string& pattern, const std::string& relativePath, bool isDirectory)
{
    std::string body = pattern;
    if (!body.empty() && body.back() == '/') {
        if (!isDirectory)
            return false;
        body.pop_back();
    }
    if (body.empty())
        return false;
    if (body.find('/') == std::string::npos) {
        const size_t slash = relativePath.rfind('/');
        return segmentMatch(body, slash == std::string::npos ? relativePath : relativePath.substr(slash + 1));
    }
    if (body.front() == '/')
        body.erase(0, 1);
    return globMatch(body, relativePath);
}
