#pragma once
// Reads the JSON object that record_run writes:
//   {"raw": "...", "argv": [...], "crt_argv": [...], "cwd": "...", "exe": "...",
//    and, when it was asked to list them, "files": [...]}
// A small parser for that shape only (strings, arrays of strings, one object).
#include <cstddef>
#include <string>
#include <vector>

struct RecordRun {
    std::wstring raw;
    std::vector<std::wstring> argv;
    std::vector<std::wstring> crtArgv;
    std::wstring cwd;
    std::wstring exe;
    std::vector<std::wstring> files;
};

namespace record_run_detail {

class Parser {
public:
    explicit Parser(const std::string& text) : text(text) {}

    bool parseObject(RecordRun& out)
    {
        if (!consume('{'))
            return false;
        skipSpace();
        if (peek() == '}')
            return ++pos, true;
        for (;;) {
            std::wstring key;
            if (!parseString(key) || !consume(':'))
                return false;
            bool ok = true;
            if (key == L"argv")
                ok = parseList(out.argv);
            else if (key == L"crt_argv")
                ok = parseList(out.crtArgv);
            else if (key == L"raw")
                ok = parseString(out.raw);
            else if (key == L"cwd")
                ok = parseString(out.cwd);
            else if (key == L"exe")
                ok = parseString(out.exe);
            else if (key == L"files")
                ok = parseList(out.files);
            else
                return false;
            if (!ok)
                return false;
            skipSpace();
            if (peek() == ',') {
                ++pos;
                continue;
            }
            return consume('}');
        }
    }

private:
    char peek() const { return pos < text.size() ? text[pos] : '\0'; }
    void skipSpace()
    {
        while (pos < text.size() &&
               (text[pos] == ' ' || text[pos] == '\n' || text[pos] == '\r' || text[pos] == '\t'))
            ++pos;
    }
    bool consume(char c)
    {
        skipSpace();
        if (peek() != c)
            return false;
        ++pos;
        return true;
    }

    bool parseHex(unsigned& value)
    {
        if (pos + 4 > text.size())
            return false;
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text[pos++];
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<unsigned>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    static void appendUtf16(std::wstring& out, unsigned long codePoint)
    {
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (codePoint >> 10));
            out += static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
        } else {
            out += static_cast<wchar_t>(codePoint);
        }
    }

    bool parseUtf8(std::wstring& out)
    {
        const unsigned char lead = static_cast<unsigned char>(text[pos++]);
        int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        unsigned long codePoint = extra == 3 ? lead & 0x07 : extra == 2 ? lead & 0x0F
                                : extra == 1 ? lead & 0x1F : lead;
        if (lead >= 0x80 && extra == 0)
            return false;
        for (; extra > 0; --extra) {
            if (pos >= text.size() || (static_cast<unsigned char>(text[pos]) & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[pos++]) & 0x3F);
        }
        appendUtf16(out, codePoint);
        return true;
    }

    bool parseString(std::wstring& out)
    {
        out.clear();
        if (!consume('"'))
            return false;
        while (pos < text.size()) {
            const char c = text[pos];
            if (c == '"')
                return ++pos, true;
            if (c != '\\') {
                if (!parseUtf8(out))
                    return false;
                continue;
            }
            ++pos;
            if (pos >= text.size())
                return false;
            const char escape = text[pos++];
            unsigned unit = 0;
            switch (escape) {
            case '"': out += L'"'; break;
            case '\\': out += L'\\'; break;
            case '/': out += L'/'; break;
            case 'b': out += L'\b'; break;
            case 'f': out += L'\f'; break;
            case 'n': out += L'\n'; break;
            case 'r': out += L'\r'; break;
            case 't': out += L'\t'; break;
            case 'u':
                if (!parseHex(unit))
                    return false;
                out += static_cast<wchar_t>(unit);
                break;
            default: return false;
            }
        }
        return false;
    }

    bool parseList(std::vector<std::wstring>& out)
    {
        out.clear();
        if (!consume('['))
            return false;
        skipSpace();
        if (peek() == ']')
            return ++pos, true;
        for (;;) {
            std::wstring item;
            if (!parseString(item))
                return false;
            out.push_back(item);
            skipSpace();
            if (peek() == ',') {
                ++pos;
                continue;
            }
            return consume(']');
        }
    }

    const std::string& text;
    size_t pos = 0;
};

} // namespace record_run_detail

// False when the text is not a complete record_run object.
inline bool parseRecordRun(const std::string& text, RecordRun& out)
{
    out = RecordRun();
    return record_run_detail::Parser(text).parseObject(out);
}
