// Chooses the chunk size of chunked deflate: one file deflated whole and in
// chunks of several sizes (deflate/ChunkDeflate.h), each on one thread, with
// the archive bytes each costs against the whole-file result and the CPU time.
//
// usage: bench-chunk-sizes FILE [LEVEL]
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "deflate/BufferDeflater.h"
#include "deflate/ChunkDeflate.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [LEVEL]\n", argv[0]);
        return 2;
    }
    const int level = argc > 2 ? std::atoi(argv[2]) : 10;
    std::FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr)
        return 3;
    std::vector<uint8_t> data;
    uint8_t buffer[1 << 16];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        data.insert(data.end(), buffer, buffer + got);
    std::fclose(file);

    BufferDeflater deflater(level);
    std::vector<uint8_t> out;
    std::clock_t start = std::clock();
    deflater.deflate(data.data(), data.size(), out);
    const double wholeSeconds = double(std::clock() - start) / CLOCKS_PER_SEC;
    const size_t whole = out.size();
    std::printf("%s, %zu bytes, %s level %d\n", argv[1], data.size(), deflaterName(), level);
    std::printf("%10s %12s %9s %8s %8s\n", "chunk", "bytes", "vs whole", "cpu s", "longest");
    std::printf("%10s %12zu %8.3f%% %8.2f %8.2f\n", "whole", whole, 0.0, wholeSeconds, wholeSeconds);
    for (size_t chunk = size_t(128) << 10; chunk <= (size_t(16) << 20); chunk *= 2) {
        size_t total = 0;
        double longest = 0;
        start = std::clock();
        for (size_t at = 0; at < data.size(); at += chunk) {
            const size_t size = data.size() - at < chunk ? data.size() - at : chunk;
            const std::clock_t before = std::clock();
            uint32_t crc = 0;
            std::string error;
            if (!deflateChunk(&deflater, data.data() + at, size, at + size == data.size(), out, crc, error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return 1;
            }
            const double seconds = double(std::clock() - before) / CLOCKS_PER_SEC;
            longest = seconds > longest ? seconds : longest;
            total += out.size();
        }
        const double seconds = double(std::clock() - start) / CLOCKS_PER_SEC;
        std::printf("%9zuK %12zu %+8.3f%% %8.2f %8.3f\n", chunk >> 10, total, 100.0 * (double(total) / whole - 1),
                    seconds, longest);
    }
    return 0;
}
