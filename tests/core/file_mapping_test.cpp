#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "FileMapping.h"
#include "MappingWindowCases.h"
#include "PeImage.h"
#include "TestZip.h"
#include "ZipReader.h"

// The POSIX half of the mapping, natively; the Windows half has the same
// cases under Wine (tests/stub/file_mapping_test.cpp).

namespace {

class ScratchFile
{
public:
    // `content` at `at`, after a hole (a sparse file costs no disk).
    explicit ScratchFile(const std::string& content, off_t at = 0)
    {
        char name[] = "/tmp/file_mapping_test_XXXXXX";
        const int fd = mkstemp(name);
        path = name;
        if (fd >= 0) {
            written = pwrite(fd, content.data(), content.size(), at) == ssize_t(content.size());
            close(fd);
        }
    }
    ~ScratchFile() { std::remove(path.c_str()); }

    std::string path;
    bool written = false;
};

TEST(FileMapping, FailuresNameTheirStepAndCode)
{
    FileMapping missing("/nonexistent/file.bin");
    EXPECT_EQ(FileMapStep::Open, missing.error().step);
    EXPECT_EQ(uint32_t(ENOENT), missing.error().code);
    EXPECT_EQ(nullptr, missing.view(0, 0));

    FileMapping folder("/tmp");
    EXPECT_EQ(FileMapStep::NotAFile, folder.error().step);

    ScratchFile empty("");
    ASSERT_TRUE(empty.written);
    FileMapping nothing(empty.path);
    EXPECT_TRUE(nothing.isOpen());
    EXPECT_EQ(0u, nothing.size());
    EXPECT_EQ(nullptr, nothing.view(0, 1));
}

TEST(FileMapping, SmallWindowsReadEveryPart)
{
    const std::string content = windowTestContent();
    ScratchFile file(content);
    ASSERT_TRUE(file.written);
    FileMapping mapping(file.path, 4096);
    expectSmallWindowsReadEveryPart(mapping, content);
}

// An installer on disk, read through 4 KiB views, unpacks as from memory,
// also where its archive begins past 4 GiB.
TEST(FileMapping, ReaderUnpacksAFileThroughSmallWindows)
{
    TestZip zip = zipWithPrefix();
    zip.entries.push_back({"big.bin", patternBytes(300000, 8), 0});
    zip.entries.push_back({"packed.bin", patternBytes(100000, 9) + std::string(90000, 'q')});
    zip.trailer = std::string(5000, 't');
    const std::string image = zip.build();
    for (off_t hole : {off_t(0), off_t(9) << 29}) {
        ScratchFile file(image, hole);
        ASSERT_TRUE(file.written) << hole;
        FileMapping mapping(file.path, 4096);
        ZipReader reader;
        ASSERT_TRUE(reader.open(mapping, payloadSearchSize(mapping))) << hole;
        EXPECT_EQ(uint64_t(hole) + zip.prefix.size(), reader.archiveOffset());
        ASSERT_EQ(2u, reader.entries().size());
        for (uint32_t i = 0; i < 2; ++i) {
            RecordingSink sink;
            ASSERT_TRUE(reader.extract(i, sink)) << i;
            EXPECT_EQ(zip.entries[i].content, sink.data) << i;
        }
    }
}

} // namespace
