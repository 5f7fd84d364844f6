#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "TestZip.h"
#include "ZipReader.h"

// The reader through tiny windows must see exactly what it sees in one
// buffer. Each view is a fresh copy freed by the next, so a pointer kept
// across views is a use after free under the sanitizers.

namespace {

class WindowedSource : public ZipByteSource
{
public:
    WindowedSource(const std::string& image, uint32_t window, int failAfter = -1)
        : image(image), window(window), failAfter(failAfter)
    {
    }

    uint64_t size() const override { return image.size(); }
    uint32_t windowSize() const override { return window; }
    const uint8_t* view(uint64_t offset, uint32_t length) override
    {
        current.reset();
        if (failAfter >= 0 && views >= failAfter)
            return nullptr;
        ++views;
        if (length > window || offset > image.size() || length > image.size() - offset)
            return nullptr;
        current.reset(new uint8_t[length + 1]);
        std::copy(image.begin() + offset, image.begin() + offset + length, current.get());
        return current.get();
    }

    int views = 0;

private:
    const std::string& image;
    uint32_t window;
    int failAfter;
    std::unique_ptr<uint8_t[]> current;
};

struct Unpacked
{
    bool opened = false;
    uint64_t archiveOffset = 0;
    std::vector<std::string> names;
    std::vector<std::string> contents; // "<failed>" when extraction failed
};

Unpacked unpack(ZipReader& reader, ZipOpenResult opened)
{
    Unpacked out;
    out.opened = opened.ok();
    out.archiveOffset = reader.archiveOffset();
    for (uint32_t i = 0; i < reader.entries().size(); ++i) {
        out.names.push_back(reader.entries()[i].fileName);
        RecordingSink sink;
        out.contents.push_back(reader.extract(i, sink) ? sink.data : "<failed>");
    }
    return out;
}

// The end record starts `offset` bytes past a multiple of 4096.
std::string endRecordAt(TestZip zip, size_t offset)
{
    TestLayout layout;
    zip.build(&layout);
    zip.prefix += std::string((4096 + offset - layout.endRecord % 4096) % 4096, 'x');
    return zip.build();
}

TEST(Windows, TinyWindowsReadWhatOneBufferReads)
{
    const std::string big = patternBytes(50000, 3);
    struct Case {
        const char* what;
        std::function<std::string()> image;
    } cases[] = {
        {"stored and deflated", [] {
             TestZip zip = zipWithPrefix();
             zip.entries.push_back({"a.txt", "stored bytes", 0});
             zip.entries.push_back({"b/c.txt", patternBytes(3000, 1) + std::string(5000, 'z')});
             return zip.build();
         }},
        {"entries spanning many windows", [&] {
             TestZip zip = zipWithPrefix();
             zip.entries.push_back({"stored.bin", big, 0});
             zip.entries.push_back({"deflated.bin", big + big});
             return zip.build();
         }},
        {"Zip64 records", [&] {
             TestZip zip = zipWithPrefix();
             zip.zip64End = true;
             TestEntry entry("z64.bin", big);
             entry.zip64 = true;
             zip.entries.push_back(entry);
             return zip.build();
         }},
        {"a directory spanning windows", [] {
             TestZip zip = zipWithPrefix();
             for (int i = 0; i < 300; ++i)
                 zip.entries.push_back({"folder/entry-" + std::to_string(i), std::to_string(i), 0});
             return zip.build();
         }},
        {"a header larger than a window", [] {
             TestZip zip = zipWithPrefix();
             zip.entries.push_back({std::string(6000, 'n'), "long name", 0});
             return zip.build();
         }},
        {"a data descriptor", [] {
             TestZip zip = zipWithPrefix();
             TestEntry entry("dd.txt", patternBytes(9000, 4));
             entry.dataDescriptor = true;
             zip.entries.push_back(entry);
             return zip.build();
         }},
        {"end record at a window boundary", [] {
             TestZip zip = zipWithPrefix();
             zip.entries.push_back({"e.txt", "end"});
             return endRecordAt(zip, 0);
         }},
        {"end record across a window boundary", [] {
             TestZip zip = zipWithPrefix();
             zip.entries.push_back({"e.txt", "end"});
             return endRecordAt(zip, 4090);
         }},
        {"data cut short", [] {
             TestZip zip = zipWithPrefix();
             zip.entries.push_back({"cut.bin", patternBytes(20000, 5), 0});
             TestLayout layout;
             std::string image = zip.build(&layout);
             put32(image, layout.localHeaders[0] + 18, 0x7FFFFFFF);
             return image;
         }},
    };
    for (const Case& c : cases) {
        const std::string image = c.image();
        ZipReader whole;
        const Unpacked expected = unpack(whole, whole.open(bytes(image), image.size()));
        ASSERT_TRUE(expected.opened) << c.what;
        for (uint32_t window : {511u, 4096u, 65536u}) {
            WindowedSource source(image, window);
            ZipReader reader;
            const Unpacked got = unpack(reader, reader.open(source, image.size()));
            EXPECT_TRUE(got.opened) << c.what << " " << window;
            EXPECT_EQ(expected.archiveOffset, got.archiveOffset) << c.what << " " << window;
            EXPECT_EQ(expected.names, got.names) << c.what << " " << window;
            EXPECT_EQ(expected.contents, got.contents) << c.what << " " << window;
        }
    }
}

// A view the platform refuses is reported as such, wherever it happens.
TEST(Windows, RefusedViewsFailOpenAndExtraction)
{
    TestZip zip = zipWithPrefix();
    zip.entries.push_back({"a.bin", patternBytes(30000, 6)});
    const std::string image = zip.build();
    WindowedSource counting(image, 4096);
    ZipReader full;
    ASSERT_TRUE(full.open(counting, image.size()));
    const int viewsToOpen = counting.views;
    // The searched tail takes the first four views, the directory the next;
    // the last view of open is the overlap check's look at a local record.
    for (int failAfter : {0, 3, 4, viewsToOpen - 1}) {
        WindowedSource source(image, 4096, failAfter);
        EXPECT_EQ(ZipOpenReason::ReadFailed, ZipReader().open(source, image.size()).reason)
            << failAfter;
    }
    WindowedSource late(image, 4096, viewsToOpen + 2);
    ZipReader reader;
    ASSERT_TRUE(reader.open(late, image.size()));
    RecordingSink sink;
    EXPECT_FALSE(reader.extract(0, sink));
}

} // namespace
