// Demo inner setup: records the arguments it was started with, one per line
// with its index, in received-arguments.txt in the current directory (the
// work area when the stub starts it) and on stdout. Written as UTF-8.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string toUtf8(const wchar_t* text)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return std::string();
    std::string out(size_t(length - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], length, nullptr, nullptr);
    return out;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::string lines;
    for (int i = 0; i < argc; ++i)
        lines += std::to_string(i) + ": " + toUtf8(argv[i]) + "\n";

    std::fputs(lines.c_str(), stdout);
    std::FILE* file = _wfopen(L"received-arguments.txt", L"wb");
    if (file == nullptr) {
        std::fputs("demo-setup: cannot write received-arguments.txt\n", stderr);
        return 1;
    }
    bool written = std::fwrite(lines.data(), 1, lines.size(), file) == lines.size();
    written = std::fclose(file) == 0 && written;
    return written ? 0 : 1;
}
