#pragma once
// JSON text from UTF-16 strings, for the small programs that report what they
// received. Lone surrogates are kept as \uXXXX escapes so nothing is lost.
#include <cstdio>
#include <string>
#include <vector>

namespace json {

inline void appendUtf8(std::string& out, unsigned long codePoint)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

inline void appendEscape(std::string& out, unsigned unit)
{
    char buffer[8];
    std::snprintf(buffer, sizeof(buffer), "\\u%04x", unit & 0xFFFF);
    out += buffer;
}

inline std::string quote(const std::wstring& text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned unit = static_cast<unsigned>(text[i]) & 0xFFFF;
        if (unit == '"') {
            out += "\\\"";
        } else if (unit == '\\') {
            out += "\\\\";
        } else if (unit < 0x20) {
            appendEscape(out, unit);
        } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
                   (static_cast<unsigned>(text[i + 1]) & 0xFFFF) >= 0xDC00 &&
                   (static_cast<unsigned>(text[i + 1]) & 0xFFFF) <= 0xDFFF) {
            const unsigned low = static_cast<unsigned>(text[++i]) & 0xFFFF;
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            appendEscape(out, unit);
        } else {
            appendUtf8(out, unit);
        }
    }
    out += '"';
    return out;
}

inline std::string quoteList(const std::vector<std::wstring>& items)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i != 0)
            out += ", ";
        out += quote(items[i]);
    }
    out += ']';
    return out;
}

} // namespace json
