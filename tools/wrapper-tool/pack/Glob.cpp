#include "pack/Glob.h"

bool globMatch(const std::string& pattern, const std::string& text)
{
    size_t p = 0, t = 0;
    size_t starAt = std::string::npos, resumeAt = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = t;
        } else if (p < pattern.size() && (pattern[p] == text[t] || (pattern[p] == '?' && text[t] != '/'))) {
            ++p;
            ++t;
        } else if (starAt != std::string::npos && text[resumeAt] != '/') {
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

bool excludedBy(const std::string& pattern, const std::string& relativePath)
{
    if (pattern.find('/') != std::string::npos)
        return globMatch(pattern, relativePath);
    size_t slash = relativePath.rfind('/');
    return globMatch(pattern, slash == std::string::npos ? relativePath : relativePath.substr(slash + 1));
}
