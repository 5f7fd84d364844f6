// extract_all IMAGE TARGET: opens the archive appended to IMAGE with the
// reader and writes every file entry under TARGET the way the stub does
// (directories made, directory entries skipped, symbolic links refused).
// Prints one summary line: entries, files, symlinks, zip64 and the archive's
// offset in the image. Exit code 0 only when every file was extracted.
#include <cstdio>
#include <filesystem>
#include <vector>

#include "FileWriterCallback.h"
#include "ZipReader.h"

namespace fs = std::filesystem;

namespace {

bool readWholeFile(const char* path, std::vector<uint8_t>& out)
{
    FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    out.resize(size > 0 ? static_cast<size_t>(size) : 0);
    const bool ok = size >= 0 && std::fread(out.data(), 1, out.size(), f) == out.size();
    std::fclose(f);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: extract_all IMAGE TARGET\n");
        return 2;
    }
    std::vector<uint8_t> image;
    if (!readWholeFile(argv[1], image)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    ZipReader reader;
    if (!reader.open(image.data(), image.size())) {
        std::fprintf(stderr, "open failed\n");
        return 1;
    }
    const fs::path target = argv[2];
    unsigned files = 0, symlinks = 0;
    bool ok = true;
    for (uint32_t i = 0; i < reader.entries().size(); ++i) {
        ZipEntryInfo info;
        if (!reader.getEntryInfo(i, info)) {
            std::fprintf(stderr, "entry %u unreadable\n", i);
            return 1;
        }
        if (info.isSymlink()) {
            ++symlinks;
            continue;
        }
        if (info.isDirectory())
            continue;
        const fs::path path = target / fs::u8path(info.fileName);
        std::error_code ec;
        fs::create_directories(path.parent_path(), ec);
        FileWriterCallback sink(path.string().c_str(), 0);
        if (!reader.extract(i, sink)) {
            std::fprintf(stderr, "extract failed: %u %s\n", i, info.fileName.c_str());
            ok = false;
            continue;
        }
        ++files;
    }
    std::printf("entries=%zu files=%u symlinks=%u zip64=%d offset=%llu\n", reader.entries().size(),
                files, symlinks, reader.zip64() ? 1 : 0,
                static_cast<unsigned long long>(reader.archiveOffset()));
    return ok ? 0 : 1;
}
