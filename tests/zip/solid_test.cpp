// Solid blocks: the layout check against records that lie, and decoding
// against frames that are damaged or ask too much. zstd's encoder makes the
// frames, so these run in the native tree only.
#include <gtest/gtest.h>

#include <functional>

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include "SolidFilter.h"
#include "TestZip.h"
#include "ZipReader.h"
#include "ZipSolidBlock.h"
#include "ZipSolidLayout.h"

namespace {

struct Collect : ZipReaderCallback {
    std::string bytes;
    bool finished = false;
    bool write(const uint8_t* data, uint32_t size) override
    {
        bytes.append(reinterpret_cast<const char*>(data), size);
        return true;
    }
    bool finish() override { return finished = true; }
};

std::string compressFrame(const std::string& data, const std::string* prefix, int windowLog = 0)
{
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1);
    if (windowLog != 0)
        ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, windowLog);
    if (prefix)
        ZSTD_CCtx_refPrefix(cctx, prefix->data(), prefix->size());
    std::string frame(ZSTD_compressBound(data.size()), '\0');
    frame.resize(ZSTD_compress2(cctx, &frame[0], frame.size(), data.data(), data.size()));
    ZSTD_freeCCtx(cctx);
    return frame;
}

// x86-64 import calls, which the address filter converts.
std::string importCalls(size_t count)
{
    std::string calls;
    for (size_t i = 0; i < count; ++i)
        calls += std::string("\x90\xFF\x15\x10\x20\x00\x00", 7);
    return calls;
}

// Six files in three blocks, block 0 the prefix of the others; file 3 is a
// folder between blocks, which belongs to none. Files are built with the
// branch filter where asked, so both paths are read.
struct SolidArchive {
    std::vector<std::string> contents{patternBytes(30000, 1),
                                      patternBytes(20000, 2),
                                      patternBytes(25000, 3) + importCalls(100),
                                      "",
                                      patternBytes(40000, 1) + patternBytes(100, 9),
                                      patternBytes(5000, 4)};
    std::vector<int> blockOf{0, 0, 1, -1, 2, 2};
    std::vector<uint8_t> filterOf{kFilterNone, kFilterBranchSplit, kFilterAddressBranchSplit,
                                  0,           kFilterNone,        kFilterNone};
    std::function<void(size_t, SolidRecord&)> editRecord;
    std::function<void(size_t, std::string&)> editFrame; // by block

    std::string build(TestLayout* layout = nullptr) const
    {
        std::vector<std::string> blocks(3);
        std::vector<SolidRecord> records(contents.size());
        for (size_t i = 0; i < contents.size(); ++i) {
            if (blockOf[i] < 0)
                continue;
            std::string form = contents[i];
            if (filterOf[i] != kFilterNone) {
                const std::vector<uint8_t> f = solidFilterEncode(filterOf[i], bytes(form), form.size());
                form.assign(f.begin(), f.end());
            }
            SolidRecord& r = records[i];
            r.block = uint32_t(blockOf[i]);
            r.hasPrefix = blockOf[i] > 0;
            r.offset = blocks[size_t(blockOf[i])].size();
            r.length = form.size();
            r.filter = filterOf[i];
            blocks[size_t(blockOf[i])] += form;
        }
        std::vector<std::string> frames(3);
        for (size_t b = 0; b < 3; ++b) {
            frames[b] = compressFrame(blocks[b], b > 0 ? &blocks[0] : nullptr);
            if (editFrame)
                editFrame(b, frames[b]);
        }
        TestZip zip;
        zip.prefix = std::string(20000, 'P');
        std::vector<bool> carried(3, false);
        for (size_t i = 0; i < contents.size(); ++i) {
            if (blockOf[i] < 0) {
                zip.entries.emplace_back("dir" + std::to_string(i) + "/", "", 0);
                continue;
            }
            SolidRecord r = records[i];
            r.blockSize = blocks[r.block].size();
            if (editRecord)
                editRecord(i, r);
            TestEntry entry("f" + std::to_string(i), contents[i], zipformat::kMethodSolid);
            entry.noData = carried[size_t(blockOf[i])];
            entry.rawData = frames[size_t(blockOf[i])];
            carried[size_t(blockOf[i])] = true;
            entry.centralExtra = encodeSolidRecord(r);
            zip.entries.push_back(entry);
        }
        return zip.build(layout);
    }
};

// Every file as a reader gets it: the first entry that fails, and why.
struct Outcome {
    size_t firstFailure = size_t(-1);
    std::string why;
};

Outcome readAll(const std::string& image, std::vector<std::string>* files = nullptr)
{
    Outcome outcome;
    ZipReader reader;
    if (!reader.open(bytes(image), image.size()).ok()) {
        outcome.firstFailure = 0;
        outcome.why = "open";
        return outcome;
    }
    const SolidLayout layout = readSolidLayout(reader.entries());
    if (layout.status == SolidLayout::Status::Invalid) {
        outcome.firstFailure = layout.badEntry;
        outcome.why = layout.reason;
    }
    std::vector<SolidBlockBytes> decoded(layout.blocks.size());
    std::vector<const char*> failures(layout.blocks.size(), nullptr);
    for (size_t b = 0; b < layout.blocks.size(); ++b) {
        const SolidBlock& block = layout.blocks[b];
        const char* why = nullptr;
        if (!reader.decodeSolidBlock(block, block.hasPrefix ? &decoded[block.prefix] : nullptr, decoded[b], why))
            failures[b] = why;
    }
    for (size_t i = 0; i < reader.entries().size() && i < outcome.firstFailure; ++i) {
        const int32_t b = layout.blockOfEntry.empty() ? -1 : layout.blockOfEntry[i];
        if (b < 0)
            continue;
        Collect sink;
        const char* why = failures[size_t(b)];
        const SolidMember& member = layout.blocks[size_t(b)].members[layout.memberOfEntry[i]];
        if (why != nullptr || !deliverSolidMember(decoded[size_t(b)], member, reader.entries()[i], sink, why)) {
            outcome.firstFailure = i;
            outcome.why = why;
            break;
        }
        if (files)
            files->push_back(sink.bytes);
    }
    return outcome;
}

} // namespace

TEST(Solid, LyingRecordsAndDamagedBlocksFailAtTheBlocksFirstFile)
{
    struct Case {
        const char* name;
        std::function<void(SolidArchive&)> edit;
        size_t firstFailure; // size_t(-1): every file comes out whole
        const char* why;
    };
    auto record = [](size_t entry, std::function<void(SolidRecord&)> change) {
        return [=](SolidArchive& a) {
            a.editRecord = [=](size_t i, SolidRecord& r) {
                if (i == entry)
                    change(r);
            };
        };
    };
    auto frame = [](size_t block, std::function<void(std::string&)> change) {
        return [=](SolidArchive& a) {
            a.editFrame = [=](size_t b, std::string& f) {
                if (b == block)
                    change(f);
            };
        };
    };
    const Case cases[] = {
        {"sound", nullptr, size_t(-1), ""},
        {"one block, no prefix",
         [](SolidArchive& a) {
             a.contents = {patternBytes(1000, 1), patternBytes(2000, 2)};
             a.blockOf = {0, 0};
             a.filterOf = {0, 0};
         },
         size_t(-1), ""},
        {"a later file's offset moved", record(1, [](SolidRecord& r) { r.offset += 1; }), 0, "not where"},
        {"a length one short", record(5, [](SolidRecord& r) { r.length -= 1; }), 4, "length"},
        {"block sizes disagree", record(1, [](SolidRecord& r) { r.blockSize += 1; }), 0, "two ways"},
        {"a first file longer than its block", record(2, [](SolidRecord& r) { r.blockSize = r.length - 1; }), 2,
         "shorter than its files"},
        {"prefix pointing forward", record(2, [](SolidRecord& r) { r.prefix = 2; }), 2, "as its prefix"},
        // Block 1 is not known to be whole until block 2 starts: it is refused too.
        {"block numbers skip one", record(4, [](SolidRecord& r) { r.block = 3; }), 2, "out of order"},
        {"an unknown filter", record(4, [](SolidRecord& r) { r.filter = 7; }), 2, "unknown"},
        {"a block beyond the limit", record(2, [](SolidRecord& r) { r.blockSize = kMaxSolidBlockSize + 1; }), 2,
         "above the limit"},
        {"a damaged byte in block 1", frame(1, [](std::string& f) { f[f.size() / 2] ^= 0x40; }), 2, "decode"},
        {"a damaged checksum in block 2", frame(2, [](std::string& f) { f.back() ^= 1; }), 4, "decode"},
        {"a frame that ends early", frame(0, [](std::string& f) { f.resize(f.size() - 5); }), 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SolidArchive archive;
        if (c.edit)
            c.edit(archive);
        std::vector<std::string> files;
        const Outcome outcome = readAll(archive.build(), &files);
        EXPECT_EQ(outcome.firstFailure, c.firstFailure) << outcome.why;
        EXPECT_NE(outcome.why.find(c.why), std::string::npos) << outcome.why;
        // What came out before the failure is byte for byte what went in.
        std::vector<std::string> expected;
        for (size_t i = 0; i < archive.contents.size() && i < c.firstFailure; ++i)
            if (archive.blockOf[i] >= 0)
                expected.push_back(archive.contents[i]);
        EXPECT_EQ(files.size(), expected.size());
        EXPECT_TRUE(files == expected);
    }
}

TEST(Solid, FramesAreCheckedBeforeAnythingIsAllocated)
{
    const std::string data = patternBytes(70000, 5);
    SolidBlock block;
    block.size = data.size();
    // A window below the content: the frame carries a window byte, which is
    // then raised past the limit.
    std::string frame = compressFrame(data, nullptr, 10);
    ASSERT_EQ(uint8_t(frame[4]) & 0x20, 0);
    frame[5] = char(uint8_t((kMaxSolidWindowLog + 1 - 10) << 3));
    TestZip zip;
    TestEntry entry("f", data, zipformat::kMethodSolid);
    entry.rawData = frame;
    zip.entries.push_back(entry);
    const std::string image = zip.build();
    ZipReader reader;
    ASSERT_TRUE(reader.open(bytes(image), image.size()).ok());
    block.carrier = 0;
    SolidBlockBytes out;
    const char* why = nullptr;
    EXPECT_FALSE(reader.decodeSolidBlock(block, nullptr, out, why));
    EXPECT_STREQ(why, "its block's frame declares a window beyond the limit");
    EXPECT_EQ(out.data(), nullptr);
}
