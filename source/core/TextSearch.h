#pragma once
#include <string>

// Position of the first occurrence of `sought` in `text`, or -1. Only the
// letters a to z fold to upper case, as in the classic C locale; folding
// directly keeps std::locale (and its large static footprint) out of the stub.
int findCaseInsensitive(const std::string& text, const std::string& sought);
int findCaseInsensitive(const std::wstring& text, const std::wstring& sought);
