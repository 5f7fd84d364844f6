// libFuzzer target: any bytes as the end of an image, opened, every entry's
// chunk index read, its chunks inflated one by one and every entry extracted
// into a sink that only counts, once from one buffer and once through small
// windows. Inputs shorter than the search window get zero
// filler in front, so small archives stay reachable.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "CopiedWindows.h"
#include "ZipChunkIndex.h"
#include "ZipReader.h"

namespace {

// Bounds the work one input can cause: many entries that share one
// compressed stream would otherwise only make the run slow.
const uint64_t kOutputBudget = 64u << 20;

class CountingSink : public ZipReaderCallback
{
public:
    explicit CountingSink(uint64_t& total) : total(total) {}
    bool write(const uint8_t* data, uint32_t size) override
    {
        // Touch the first and last byte so that a bad pointer shows.
        if (size) {
            checksum += data[0];
            checksum += data[size - 1];
        }
        total += size;
        return total <= kOutputBudget;
    }
    bool finish() override { return checksum != 1; }

private:
    uint64_t& total;
    uint32_t checksum = 0;
};

void extractAll(ZipReader& reader)
{
    uint64_t total = 0;
    for (uint32_t i = 0; i < reader.entries().size() && total <= kOutputBudget; ++i) {
        ZipEntryInfo info;
        if (!reader.getEntryInfo(i, info))
            break;
        (void)info.isDirectory();
        (void)info.isSymlink();
        const ChunkIndexResult index = reader.chunkIndex(i);
        for (const ZipChunk& chunk : index.chunks)
            if (chunk.compressedOffset + chunk.compressedSize > info.compressedSize)
                __builtin_trap(); // a valid index never points past its entry's data
        // Each chunk alone, as the tool's workers inflate them.
        for (size_t c = 0; c < index.chunks.size() && total <= kOutputBudget; ++c) {
            CountingSink chunkSink(total);
            std::string why;
            reader.extractChunk(i, index, c, chunkSink, why);
        }
        CountingSink sink(total);
        reader.extract(i, sink);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t* image = data;
    size_t imageSize = size;
    std::unique_ptr<uint8_t[]> padded;
    if (size < ZipReader::kSearchWindow) {
        // Exactly sized, so the sanitizer sees any read past the end.
        imageSize = ZipReader::kSearchWindow;
        padded.reset(new uint8_t[imageSize]);
        std::memset(padded.get(), 0, imageSize - size);
        if (size)
            std::memcpy(padded.get() + imageSize - size, data, size);
        image = padded.get();
    }

    ZipReader reader;
    if (!reader.open(image, imageSize))
        return 0;
    extractAll(reader);
    CopiedWindows windows(image, imageSize);
    ZipReader windowed;
    if (windowed.open(windows, imageSize))
        extractAll(windowed);
    return 0;
}
