// The file sink: what reaches the disk, and how a failed open shows.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "FileWriterCallback.h"
#include "TestZip.h"
#include "ZipReader.h"

namespace fs = std::filesystem;

namespace {

class FileWriterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("zipfw-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string path(const char* name) const { return (dir / name).string(); }
    std::string missingDirPath() const { return (dir / "no-such-dir" / "f").string(); }

    static std::string contents(const std::string& p)
    {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir;
};

} // namespace

TEST_F(FileWriterTest, WritesThenClosesOnFinish)
{
    const std::string p = path("out.bin");
    FileWriterCallback sink(p.c_str(), 0);
    const std::string data = patternBytes(1000, 31);
    EXPECT_TRUE(sink.write(bytes(data), 600));
    EXPECT_TRUE(sink.write(bytes(data) + 600, 0));
    EXPECT_TRUE(sink.write(bytes(data) + 600, 400));
    EXPECT_TRUE(sink.finish());
    EXPECT_FALSE(sink.finish()); // the handle was taken
    EXPECT_FALSE(sink.write(bytes(data), 1));
    EXPECT_EQ(data, contents(p));
}

TEST_F(FileWriterTest, TruncatesAnExistingFile)
{
    const std::string p = path("old.bin");
    {
        std::ofstream(p, std::ios::binary) << "previous, longer content";
    }
    FileWriterCallback sink(p.c_str(), 0);
    EXPECT_TRUE(sink.write(bytes(std::string("new")), 3));
    EXPECT_TRUE(sink.finish());
    EXPECT_EQ("new", contents(p));
}

TEST_F(FileWriterTest, DestructorClosesAnUnfinishedFile)
{
    const std::string p = path("left.bin");
    {
        FileWriterCallback sink(p.c_str(), 0);
        EXPECT_TRUE(sink.write(bytes(std::string("partial")), 7));
    }
    EXPECT_EQ("partial", contents(p));
    EXPECT_TRUE(fs::remove(p)); // no handle keeps it open
}

TEST_F(FileWriterTest, FailedOpenFailsFirstWriteAndFinish)
{
    const std::string p = missingDirPath();
    FileWriterCallback sink(p.c_str(), 0);
    EXPECT_FALSE(sink.write(bytes(std::string("x")), 1));
    EXPECT_FALSE(sink.write(bytes(std::string("x")), 0));
    EXPECT_FALSE(sink.finish());
}

TEST_F(FileWriterTest, ExtractionIntoFiles)
{
    TestZip zip = zipWithPrefix();
    const std::string big = patternBytes(700000, 32);
    zip.entries.push_back({"big", big, 8});
    zip.entries.push_back({"method12", "", 12});
    zip.entries.push_back({"stored", "plain", 0});
    const std::string image = zip.build();
    ZipReader reader;
    ASSERT_TRUE(reader.open(bytes(image), image.size()));

    const char* names[] = {"big", "method12", "stored"};
    const std::string expected[] = {big, "", "plain"};
    for (uint32_t i = 0; i < 3; ++i) {
        const std::string p = path(names[i]);
        {
            FileWriterCallback sink(p.c_str(), 0);
            ASSERT_TRUE(reader.extract(i, sink)) << names[i];
        }
        EXPECT_EQ(expected[i], contents(p)) << names[i];
    }

    // A sink whose file could not be opened fails every kind of entry.
    for (uint32_t i = 0; i < 3; ++i) {
        const std::string p = missingDirPath();
        FileWriterCallback sink(p.c_str(), 0);
        EXPECT_FALSE(reader.extract(i, sink)) << names[i];
    }
}
