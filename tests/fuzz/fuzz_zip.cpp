// libFuzzer target: any bytes as the end of an image, opened, every entry's
// chunk index read, its chunks inflated one by one and every entry extracted
// into a sink that only counts, once from one buffer and once through small
// windows; the solid layout planned and, when valid, every block decoded and
// each of its files cut out into a sink that traps past the entry's size. Inputs shorter than the search window get zero
// filler in front, so small archives stay reachable.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CopiedWindows.h"
#include "UnpackPlan.h"
#include "ZipChunkIndex.h"
#include "ZipReader.h"
#include "ZipSolidBlock.h"

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

// A solid file's bytes: never more than its entry's size, whatever its record says.
class BoundedSink : public ZipReaderCallback
{
public:
    explicit BoundedSink(uint64_t limit) : limit(limit) {}
    bool write(const uint8_t* data, uint32_t size) override
    {
        if (size) {
            checksum += data[0];
            checksum += data[size - 1];
        }
        received += size;
        if (received > limit)
            __builtin_trap();
        return true;
    }
    bool finish() override { return checksum != 1; }

private:
    uint64_t limit;
    uint64_t received = 0;
    uint32_t checksum = 0;
};

void decodeSolid(ZipReader& reader)
{
    const std::vector<ZipEntryInfo>& entries = reader.entries();
    const UnpackPlan plan = planUnpack(entries);
    const SolidLayout layout = readSolidLayout(entries);
    // The plan takes the layout as the reader checks it, and refuses a broken one at its entry.
    if (plan.solid.status != layout.status)
        __builtin_trap();
    if (layout.status == SolidLayout::Status::Invalid &&
        (layout.badEntry >= plan.entries.size() || !plan.entries[layout.badEntry].refused()))
        __builtin_trap();
    if (!layout.valid())
        return;
    std::vector<std::unique_ptr<SolidBlockBytes>> decoded(layout.blocks.size());
    uint64_t budget = 0;
    for (size_t b = 0; b < layout.blocks.size(); ++b) {
        const SolidBlock& block = layout.blocks[b];
        if (block.hasPrefix && block.prefix >= b)
            __builtin_trap(); // a valid layout only refers back
        budget += block.size;
        if (budget > kOutputBudget)
            break;
        const SolidBlockBytes* prefix = block.hasPrefix ? decoded[block.prefix].get() : nullptr;
        if (block.hasPrefix && prefix == nullptr)
            continue;
        std::unique_ptr<SolidBlockBytes> bytes(new SolidBlockBytes);
        const char* why = nullptr;
        if (!reader.decodeSolidBlock(block, prefix, *bytes, why))
            continue;
        if (bytes->size() != block.size)
            __builtin_trap();
        for (const SolidMember& member : block.members) {
            BoundedSink sink(entries[member.entry].uncompressedSize);
            deliverSolidMember(*bytes, member, entries[member.entry], sink, why);
        }
        decoded[b] = std::move(bytes);
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
    decodeSolid(reader);
    CopiedWindows windows(image, imageSize);
    ZipReader windowed;
    if (windowed.open(windows, imageSize)) {
        extractAll(windowed);
        decodeSolid(windowed);
    }
    return 0;
}
