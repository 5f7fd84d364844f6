#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ZipReaderCallback.h"

// A small ZIP writer for tests: builds an image (prefix + archive + trailer)
// and reports where each record landed, so tests can damage single fields.

std::string deflateRaw(const std::string& data);
// A raw deflate stream that is flushed but not finished: more may follow.
std::string deflateRawUnfinished(const std::string& data);
uint32_t crcOf(const std::string& data);
std::string patternBytes(size_t size, uint32_t seed);

void put16(std::string& image, size_t at, uint16_t value);
void put32(std::string& image, size_t at, uint32_t value);
void put64(std::string& image, size_t at, uint64_t value);
uint32_t get32(const std::string& image, size_t at);

inline const uint8_t* bytes(const std::string& s)
{
    return reinterpret_cast<const uint8_t*>(s.data());
}

struct TestEntry
{
    TestEntry() = default;
    TestEntry(std::string name, std::string content, uint16_t method = 8)
        : name(std::move(name)), content(std::move(content)), method(method)
    {
    }

    std::string name;
    std::string content;          // the uncompressed bytes
    uint16_t method = 8;          // 0 stored, 8 deflated, anything else: `content` stored as is
    uint16_t flags = 0;
    uint32_t externalAttributes = 0;
    bool dataDescriptor = false;  // bit 3: zero sizes locally, descriptor after the data
    bool descriptorSignature = true; // the descriptor's optional signature
    bool zip64 = false;           // sizes and offset through Zip64 blocks in both headers
    std::string localExtra;       // extra blocks written before any Zip64 block
    std::string centralExtra;
    std::string rawData;          // when set: the entry's data bytes as stored, whatever the method
    bool noData = false;          // no data bytes at all (a solid block's later file)
};

struct TestLayout
{
    size_t archiveStart = 0;
    std::vector<size_t> localHeaders;   // absolute positions in the image
    std::vector<size_t> dataStarts;
    std::vector<size_t> centralHeaders;
    size_t directory = 0;
    size_t directorySize = 0;
    size_t zip64End = 0;
    size_t locator = 0;
    size_t endRecord = 0;
};

struct TestZip
{
    std::vector<TestEntry> entries;
    std::string prefix;                 // what the archive is appended to
    std::string trailer;                // data after the end record (a signature block)
    std::string comment;
    bool zip64End = false;              // write the Zip64 end record and locator
    bool offsetsFromImageStart = false; // offsets count from the image start (zip -A)

    std::string build(TestLayout* layout = nullptr) const;
};

// Archives whose local records overlap, each entry's data valid on its own:
// `count` directory entries that all point at one local record and its
// deflated data, and a chain in which entry i's deflate stream quotes entry
// i+1's local header in a stored block and goes on with entry i+1's data, so
// each entry unpacks to all that follow it (after Fifield's construction).
std::string sharedRecordArchive(uint32_t count, const std::string& content);
std::string overlappingChainArchive(uint32_t count, const std::string& content);

// An image that is large enough to be searched: `prefixSize` filler bytes
// before the archive.
TestZip zipWithPrefix(size_t prefixSize = 20000);

// Records every call an extraction makes.
class RecordingSink : public ZipReaderCallback
{
public:
    bool write(const uint8_t* data, uint32_t size) override;
    bool finish() override;

    std::vector<uint32_t> writes;
    std::string data;
    int finishes = 0;
    int failWriteAt = -1;  // index of the write that returns false
    bool finishResult = true;

    int calls() const { return static_cast<int>(writes.size()) + finishes; }
};
