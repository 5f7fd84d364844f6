// The unpack on one thread and on several: the same log, the same outcome,
// the same first failure, whatever the timing.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "LogService_win.h"
#include "ScratchFolder.h"
#include "TestZip.h"
#include "UnpackDriver_win.h"

namespace {

const uint32_t kFiles = 60;
const uint32_t kBadEntry = 41;
const uint32_t kFolderInTheWay = 23;

std::string entryName(uint32_t i)
{
    return "sub" + std::to_string(i % 5) + "/file" + std::to_string(i) + ".txt";
}

// Entries of several sizes, one of which cannot be inflated.
std::string payloadImage()
{
    TestZip zip = zipWithPrefix();
    for (uint32_t i = 0; i < kFiles; ++i) {
        TestEntry entry(entryName(i), patternBytes(100 + (i * 7919) % 60000, i));
        if (i == kBadEntry)
            entry.rawData = "\xff\xff\xff not a deflate stream";
        zip.entries.push_back(entry);
    }
    return zip.build();
}

std::string readAll(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The records' texts from `from` on, without their numbers and times.
std::string textsSince(const std::string& log, size_t from)
{
    std::istringstream lines(log.substr(from));
    std::string line;
    std::string texts;
    while (std::getline(lines, line)) {
        const size_t stamp = line.find("] ");
        texts += (stamp == std::string::npos ? line : line.substr(stamp + 2)) + "\n";
    }
    return texts;
}

} // namespace

TEST(UnpackWorkers, LogAndOutcomeAreTheSameForOneAndFourWorkers)
{
    ScratchFolder home;
    const std::wstring installer = home / L"Setup.exe";
    ASSERT_TRUE(writeFile(installer, payloadImage()));
    InitLogLock();
    const std::wstring logPath = home / L"unpack";
    ASSERT_TRUE(Logger::Instance().Init(logPath.c_str(), false));

    std::string logs[2];
    const unsigned workers[2] = {1, 4};
    for (int run = 0; run < 2; ++run) {
        ScratchFolder area;
        // A folder where a file goes logs from inside the file's writing.
        const std::string blocked = entryName(kFolderInTheWay);
        ASSERT_TRUE(CreateDirectoryW(L"sub3", nullptr));
        ASSERT_TRUE(CreateDirectoryW(std::wstring(blocked.begin(), blocked.end()).c_str(), nullptr));
        const size_t before = readAll(logPath + L".txt").size();
        UnpackOptions options;
        options.workers = workers[run];
        bool staged = false;
        EXPECT_FALSE(unpackInstaller(installer, options, &staged)) << workers[run];
        logs[run] = textsSince(readAll(logPath + L".txt"), before);
        // Every entry before the failing one is there.
        for (uint32_t i = 0; i < kBadEntry; ++i) {
            const std::string name = entryName(i);
            EXPECT_TRUE(isFile(area / std::wstring(name.begin(), name.end()))) << name;
        }
        const std::string bad = entryName(kBadEntry);
        EXPECT_FALSE(exists(area / std::wstring(bad.begin(), bad.end())));
    }
    EXPECT_EQ(logs[0], logs[1]);
    EXPECT_NE(logs[0].find("Moved a folder out of the way of a file: " +
                           entryName(kFolderInTheWay)),
              std::string::npos)
        << logs[0];
    EXPECT_NE(logs[0].find("Unable to decompress file.  i = " + std::to_string(kBadEntry) +
                           " Filename = " + entryName(kBadEntry)),
              std::string::npos)
        << logs[0];
    EXPECT_EQ(logs[0].find("Archive unpacked successfully."), std::string::npos);
}
