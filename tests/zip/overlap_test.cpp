// Archives whose entries share bytes: refused when the directory is read,
// before anything is extracted.
#include <gtest/gtest.h>

#include "TestZip.h"
#include "ZipReader.h"

namespace {

const std::string kContent = std::string(200000, 'a') + "end";

std::string searchable(const std::string& archive)
{
    return std::string(20000, '\0') + archive;
}

} // namespace

TEST(Overlap, OverlappingLocalRecordsAreRefusedWhenTheDirectoryIsRead)
{
    struct Case {
        const char* what;
        std::string archive;
        bool ok;
    } cases[] = {
        {"one shared record", sharedRecordArchive(1, kContent), true},
        {"records shared by 50 entries", sharedRecordArchive(50, kContent), false},
        {"a chain of one", overlappingChainArchive(1, kContent), true},
        {"a chain of 50 overlapping records", overlappingChainArchive(50, kContent), false},
    };
    for (const Case& c : cases) {
        const std::string image = searchable(c.archive);
        ZipReader reader;
        const ZipOpenResult opened = reader.open(bytes(image), image.size());
        EXPECT_EQ(c.ok, opened.ok()) << c.what;
        EXPECT_EQ(!c.ok, opened.reason == ZipOpenReason::EntriesOverlap) << c.what;
        RecordingSink sink;
        EXPECT_EQ(c.ok, reader.extract(0, sink)) << c.what;
        EXPECT_EQ(c.ok ? kContent : std::string(), sink.data) << c.what;
    }
}

TEST(Overlap, DataReachingIntoTheCentralDirectoryIsRefused)
{
    const size_t kLocalCompressed = 18, kCentralCompressed = 20;
    struct Case {
        const char* what;
        uint16_t method;
        bool local;
        size_t field;
        int grow; // bytes added to the size the extraction reads
        bool ok;
    } cases[] = {
        {"stored data ending at the directory", 0, true, kLocalCompressed, 0, true},
        {"stored data one byte into it", 0, true, kLocalCompressed, 1, false},
        {"deflated data into it", 8, false, kCentralCompressed, 40, false},
    };
    for (const Case& c : cases) {
        TestZip zip = zipWithPrefix();
        zip.entries.push_back({"first", "first entry", 0});
        zip.entries.push_back({"last", kContent, c.method});
        TestLayout layout;
        std::string image = zip.build(&layout);
        const size_t header = c.local ? layout.localHeaders[1] : layout.centralHeaders[1];
        put32(image, header + c.field, get32(image, header + c.field) + c.grow);
        ZipReader reader;
        const ZipOpenResult opened = reader.open(bytes(image), image.size());
        EXPECT_EQ(c.ok, opened.ok()) << c.what;
        EXPECT_EQ(!c.ok, opened.reason == ZipOpenReason::EntriesOverlap) << c.what;
    }
}
