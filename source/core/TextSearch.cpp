#include "TextSearch.h"

namespace {

template <typename Char>
Char foldUpper(Char c)
{
    return (c >= Char('a') && c <= Char('z')) ? Char(c - Char('a') + Char('A')) : c;
}

template <typename String>
int findFolded(const String& text, const String& sought)
{
    if (sought.size() > text.size())
        return -1;
    const size_t last = text.size() - sought.size();
    for (size_t pos = 0; pos <= last; ++pos) {
        size_t k = 0;
        while (k < sought.size() && foldUpper(text[pos + k]) == foldUpper(sought[k]))
            ++k;
        if (k == sought.size())
            return static_cast<int>(pos);
    }
    return -1;
}

} // namespace

int findCaseInsensitive(const std::string& text, const std::string& sought)
{
    return findFolded(text, sought);
}

int findCaseInsensitive(const std::wstring& text, const std::wstring& sought)
{
    return findFolded(text, sought);
}
