// The floor of the many-files benchmark on Windows: the least a program must
// do to put files on disk. Reads a list ("<size>\t<name>" per line, '/'
// separating folders) and one file holding their bytes one after another,
// all before the clock starts; then per file: its folders (each once),
// CreateFileW, WriteFile, CloseHandle. Prints the milliseconds of that loop.
// usage: write_loop LIST DATA DIR
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

std::string readAll(const wchar_t* path)
{
    std::string bytes;
    FILE* file = _wfopen(path, L"rb");
    if (file == nullptr)
        return bytes;
    char buffer[65536];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, got);
    fclose(file);
    return bytes;
}

std::wstring wide(const std::string& text)
{
    std::wstring out(text.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      &out[0], static_cast<int>(out.size()));
    out.resize(n > 0 ? n : 0);
    return out;
}

struct Item {
    std::wstring name;
    size_t offset;
    size_t size;
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4)
        return 2;
    const std::string list = readAll(argv[1]);
    const std::string data = readAll(argv[2]);
    const std::wstring root = argv[3];
    std::vector<Item> items;
    size_t offset = 0;
    for (size_t at = 0; at < list.size();) {
        const size_t end = list.find('\n', at);
        const std::string line = list.substr(at, end - at);
        at = end == std::string::npos ? list.size() : end + 1;
        const size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        const size_t size = strtoull(line.c_str(), nullptr, 10);
        std::wstring name = wide(line.substr(tab + 1));
        for (wchar_t& c : name)
            if (c == L'/')
                c = L'\\';
        items.push_back({root + L"\\" + name, offset, size});
        offset += size;
    }
    if (offset > data.size())
        return 3;

    LARGE_INTEGER frequency, start, stop;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    std::set<std::wstring> made;
    CreateDirectoryW(root.c_str(), nullptr);
    for (const Item& item : items) {
        for (size_t slash = item.name.find(L'\\', root.size() + 1); slash != std::wstring::npos;
             slash = item.name.find(L'\\', slash + 1)) {
            const std::wstring folder = item.name.substr(0, slash);
            if (made.insert(folder).second)
                CreateDirectoryW(folder.c_str(), nullptr);
        }
        const HANDLE file = CreateFileW(item.name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return 4;
        DWORD done = 0;
        const BOOL wrote = WriteFile(file, data.data() + item.offset,
                                     static_cast<DWORD>(item.size), &done, nullptr);
        CloseHandle(file);
        if (!wrote || done != item.size)
            return 5;
    }
    QueryPerformanceCounter(&stop);
    printf("%.0f\n", (stop.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
    return 0;
}
