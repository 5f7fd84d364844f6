// The floor of the unpack benchmark: the least work any extractor must do.
// Maps the installer, walks the archive's central directory and, per entry,
// inflates raw deflate data (or copies stored data) into a file with zlib,
// computing the CRC-32. No checks beyond the CRC, no Zip64, no name checks.
// usage: floor INSTALLER DIR
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

namespace {

uint32_t u16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t u32(const uint8_t* p) { return u16(p) | u16(p + 2) << 16; }

const size_t kChunk = 262144;

void makeParents(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
}

bool inflateTo(const uint8_t* data, size_t size, std::FILE* out, std::vector<uint8_t>& buffer,
               uint32_t& crc)
{
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = uInt(size);
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = buffer.data();
        z.avail_out = uInt(buffer.size());
        status = inflate(&z, Z_SYNC_FLUSH);
        size_t produced = buffer.size() - z.avail_out;
        crc = uint32_t(crc32(crc, buffer.data(), uInt(produced)));
        if (std::fwrite(buffer.data(), 1, produced, out) != produced)
            status = Z_ERRNO;
        if (status == Z_BUF_ERROR || (status == Z_OK && produced == 0))
            status = Z_DATA_ERROR;
    }
    inflateEnd(&z);
    return status == Z_STREAM_END;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: floor INSTALLER DIR\n");
        return 2;
    }
    int fd = open(argv[1], O_RDONLY);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0 || info.st_size < 22) {
        std::perror(argv[1]);
        return 3;
    }
    const size_t size = size_t(info.st_size);
    auto* image = static_cast<const uint8_t*>(mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0));
    close(fd);
    if (image == MAP_FAILED)
        return 3;

    size_t end = size - 22;
    while (end > 0 && u32(image + end) != 0x06054b50)
        --end;
    const uint32_t count = u16(image + end + 10);
    const uint32_t directorySize = u32(image + end + 12);
    const uint32_t directoryOffset = u32(image + end + 16);
    const uint8_t* base = image + (end - directorySize - directoryOffset);
    const uint8_t* header = base + directoryOffset;

    const std::string root = argv[2];
    mkdir(root.c_str(), 0755);
    std::vector<uint8_t> buffer(kChunk);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t method = u16(header + 10);
        const uint32_t expectedCrc = u32(header + 16);
        const uint32_t packed = u32(header + 20);
        const uint32_t nameLength = u16(header + 28);
        const uint32_t extraLength = u16(header + 30);
        const uint32_t commentLength = u16(header + 32);
        const uint8_t* local = base + u32(header + 42);
        const std::string name(reinterpret_cast<const char*>(header + 46), nameLength);
        header += 46 + nameLength + extraLength + commentLength;

        const std::string path = root + "/" + name;
        makeParents(path);
        if (name.back() == '/')
            continue;
        const uint8_t* data = local + 30 + u16(local + 26) + u16(local + 28);
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (out == nullptr) {
            std::perror(path.c_str());
            return 3;
        }
        uint32_t crc = 0;
        bool ok;
        if (method == 0) {
            crc = uint32_t(crc32(0, data, packed));
            ok = std::fwrite(data, 1, packed, out) == packed;
        } else {
            ok = inflateTo(data, packed, out, buffer, crc);
        }
        ok = std::fclose(out) == 0 && ok;
        if (!ok || crc != expectedCrc) {
            std::fprintf(stderr, "floor: entry %u '%s' failed\n", i, name.c_str());
            return 1;
        }
    }
    return 0;
}
