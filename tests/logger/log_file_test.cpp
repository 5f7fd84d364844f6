// The log file, byte for byte, as runs of log_scenario leave it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "LogTestSupport.h"

namespace {

using logtest::freshFolder;
using logtest::readBytes;
using logtest::runScenario;

const size_t kCap = 1048576;

// In an expected text, kStamp stands for "[Mmm dd hh:mm:ss] " and kDateTime
// for the C library's "%c", "mm/dd/yy hh:mm:ss".
const char kStamp = '\x01';
const char kDateTime = '\x02';

bool isDigits(const std::string& text, size_t at, size_t count)
{
    for (size_t i = at; i < at + count; ++i)
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

bool isStamp(const std::string& text, size_t at)
{
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (text.size() < at + 18 || text[at] != '[')
        return false;
    bool month = false;
    for (const char* name : months)
        month = month || text.compare(at + 1, 3, name) == 0;
    return month && text[at + 4] == ' ' && isDigits(text, at + 5, 2) && text[at + 7] == ' ' &&
           isDigits(text, at + 8, 2) && text[at + 10] == ':' && isDigits(text, at + 11, 2) &&
           text[at + 13] == ':' && isDigits(text, at + 14, 2) && text.compare(at + 16, 2, "] ") == 0;
}

bool isDateTime(const std::string& text, size_t at)
{
    return text.size() >= at + 17 && isDigits(text, at, 2) && text[at + 2] == '/' &&
           isDigits(text, at + 3, 2) && text[at + 5] == '/' && isDigits(text, at + 6, 2) &&
           text[at + 8] == ' ' && isDigits(text, at + 9, 2) && text[at + 11] == ':' &&
           isDigits(text, at + 12, 2) && text[at + 14] == ':' && isDigits(text, at + 15, 2);
}

// Compares the file with the pattern; on a mismatch, says where.
::testing::AssertionResult matchesPattern(const std::string& actual, const std::string& pattern)
{
    size_t a = 0;
    for (size_t p = 0; p < pattern.size(); ++p) {
        if (pattern[p] == kStamp) {
            if (!isStamp(actual, a))
                return ::testing::AssertionFailure() << "no time stamp at byte " << a << ": "
                                                     << ::testing::PrintToString(actual.substr(a, 40));
            a += 18;
        } else if (pattern[p] == kDateTime) {
            if (!isDateTime(actual, a))
                return ::testing::AssertionFailure() << "no date and time at byte " << a << ": "
                                                     << ::testing::PrintToString(actual.substr(a, 40));
            a += 17;
        } else if (a >= actual.size() || actual[a] != pattern[p]) {
            return ::testing::AssertionFailure()
                   << "differs at byte " << a << "; expected "
                   << ::testing::PrintToString(pattern.substr(p, 40)) << ", file has "
                   << ::testing::PrintToString(a < actual.size() ? actual.substr(a, 40) : "");
        } else {
            ++a;
        }
    }
    if (a != actual.size())
        return ::testing::AssertionFailure() << "file goes on after byte " << a << ": "
                                             << ::testing::PrintToString(actual.substr(a, 60));
    return ::testing::AssertionSuccess();
}

const std::string kBanner =
    "\r\n*************************\r\nNorvik VozeDozav Wrapper\r\n*************************\r\n\r\n";

std::string line(int sequence, const std::string& levelAndText)
{
    return std::to_string(sequence) + ":\t" + kStamp + levelAndText + "\r\n";
}

// What one run of "log_scenario records PATH" writes.
std::string recordsRun(const std::wstring& path)
{
    return kBanner + line(0, "Event\tLogFile: " + logtest::narrow(path)) +
           line(1, std::string("Event\t") + kDateTime) + line(2, "Event\tplain") +
           line(3, "Event\tafter debug") + line(4, "\tlevel seven") +
           line(5, "Event\tline one\r\nline two") + line(6, "Event\tcut?after") +
           line(7, "Event\t-5,4294967295,0,-2147483648") +
           line(8, "Event\tcaf\xe9|\xe9|??") + line(9, "Event\t") +
           line(10, "Error\terror") + line(11, "Warning\twarning") +
           line(12, "Action\taction") + line(13, "Event\tnarrow+wide+pointera") +
           line(14, "Event\t") + line(15, "Event\tdirect") + line(16, "Event\tsecond Init 0");
}

TEST(LogFile, FreshFileThenSecondRunAppended)
{
    const std::wstring folder = freshFolder(L"records");
    // A folder that does not exist yet: Init creates it with its parents.
    const std::wstring path = folder + L"work\\area\\DuzoRizedAroriva_Log";

    ASSERT_EQ(runScenario({L"records", path}), 0);
    const std::string first = readBytes(path + L".txt");
    EXPECT_TRUE(matchesPattern(first, recordsRun(path)));

    ASSERT_EQ(runScenario({L"records", path}), 0);
    EXPECT_TRUE(matchesPattern(readBytes(path + L".txt"), recordsRun(path) + recordsRun(path)));

    // The refused second Init opened nothing.
    EXPECT_FALSE(logtest::fileExists(path + L"_other.txt"));
}

TEST(LogFile, EmptyOrNullPathCreatesNothing)
{
    const std::wstring folder = freshFolder(L"empty");
    EXPECT_EQ(runScenario({L"empty"}, folder), 0) << "1: empty path opened, 2: null path opened";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::vector<std::wstring> names;
    do {
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0)
            names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    EXPECT_TRUE(names.empty());
}

TEST(LogFile, DebugEnabledWritesDebugHelpAndRawCommandLine)
{
    const std::wstring path = freshFolder(L"debug") + L"log";
    ASSERT_EQ(runScenario({L"debug", path}), 0);
    const std::string expected =
        kBanner + line(0, "Event\tLogFile: " + logtest::narrow(path)) +
        line(1, std::string("Event\t") + kDateTime) + line(2, "Debug\tdebug shown") +
        line(3, "Help\thelp shown") +
        line(4, "Debug\tdebug header=\"Cmdline Param\" cmdLine=\"\"C:\\a b\\setup.exe\" "
                "/authToken=x y\"") +
        line(5, "Event\t\"C:\\ab\\setup.exe\"y") +
        // Null label and command line are taken as empty.
        line(6, "Debug\tdebug header=\"\" cmdLine=\"\"") + line(7, "Event\t");
    EXPECT_TRUE(matchesPattern(readBytes(path + L".txt"), expected));
}

struct FilterCase {
    std::wstring commandLine;
    std::wstring kept;
};

TEST(LogFile, CommandLineFilterKeepsWordsWithoutTokenOrPersona)
{
    const std::vector<FilterCase> cases = {
        {L"C:\\setup.exe", L"C:\\setup.exe"},
        {L"C:\\Tokens\\setup.exe /x", L"/x"},
        {L"setup.exe /Beta", L"setup.exe/Beta"},
        {L"setup.exe /authToken=abc", L"setup.exe"},
        {L"setup.exe /TOKEN", L"setup.exe"},
        {L"setup.exe /Personalize", L"setup.exe"},
        {L"setup.exe /token abc", L"setup.exeabc"},
        {L"/PERSONA /pErSoNa=1 /personal x", L"x"},
        {L"\"C:\\Program Files\\x\\setup.exe\" /q", L"\"C:\\ProgramFiles\\x\\setup.exe\"/q"},
        {L"   a    b   ", L"ab"},
        {L"", L""},
        {L"     ", L""},
        {L"a\tb c", L"a\tbc"},
        {L"\t", L"\t"},
        {L"/tok en", L"/token"},
        {L"/ToKeN\u00e9 keep\u00e9", L"keep\u00e9"},
        // Only A to Z fold: the Kelvin sign is not a K.
        {L"/to\u212aen", L"/to\u212aen"},
        {L"/persona\u0131", L""},
    };
    const std::wstring folder = freshFolder(L"filter");
    std::wstring input;
    for (const FilterCase& c : cases)
        input += c.commandLine + L"\n";
    ASSERT_TRUE(logtest::writeBytes(
        folder + L"input.bin",
        std::string(reinterpret_cast<const char*>(input.data()), input.size() * sizeof(wchar_t))));

    const std::wstring path = folder + L"log";
    ASSERT_EQ(runScenario({L"filter", path, folder + L"input.bin"}), 0);
    std::string expected = kBanner + line(0, "Event\tLogFile: " + logtest::narrow(path)) +
                           line(1, std::string("Event\t") + kDateTime);
    int sequence = 2;
    for (const FilterCase& c : cases)
        expected += line(sequence++, "Event\t" + logtest::narrow(c.kept));
    EXPECT_TRUE(matchesPattern(readBytes(path + L".txt"), expected));
}

// The lines of a cut file, checked whole: an empty first line, then lines
// "<seq>:\t<stamp>Event\t<n> <text>" with consecutive numbers, ending with the
// last record written. Returns the number of lines kept.
void expectWholeNewestLines(const std::string& file, const std::string& text, int lastRecord)
{
    ASSERT_GE(file.size(), 2u);
    ASSERT_EQ(file.compare(0, 2, "\r\n"), 0) << "the file starts with an empty line";
    EXPECT_EQ(file.find("Norvik VozeDozav Wrapper"), std::string::npos) << "banner cut away";
    size_t at = 2;
    int previousRecord = -1;
    int previousSequence = -1;
    int lines = 0;
    while (at < file.size()) {
        const size_t end = file.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "last line has no line end";
        const std::string current = file.substr(at, end - at);
        char* rest = nullptr;
        const long sequence = strtol(current.c_str(), &rest, 10);
        const size_t stampAt = static_cast<size_t>(rest - current.c_str()) + 2;
        ASSERT_TRUE(rest != current.c_str() && std::string(rest, 2) == ":\t" &&
                    isStamp(current, stampAt) &&
                    current.compare(stampAt + 18, 6, "Event\t") == 0)
            << "not a whole line: " << ::testing::PrintToString(current.substr(0, 60));
        const long record = strtol(current.c_str() + stampAt + 24, &rest, 10);
        ASSERT_EQ(std::string(rest), " " + text);
        if (previousRecord >= 0) {
            ASSERT_EQ(record, previousRecord + 1);
            ASSERT_EQ(sequence, previousSequence + 1);
        }
        previousRecord = static_cast<int>(record);
        previousSequence = static_cast<int>(sequence);
        ++lines;
        at = end + 2;
    }
    EXPECT_EQ(previousRecord, lastRecord) << "the newest line is kept";
    EXPECT_GT(lines, 1000);
}

TEST(LogFile, CutKeepsNewestWholeLinesUnderTheCap)
{
    const std::wstring path = freshFolder(L"cut") + L"log";
    const std::wstring text(200, L'x');
    ASSERT_EQ(runScenario({L"fill", path, L"12000", text}), 0);
    const std::string file = readBytes(path + L".txt");
    EXPECT_LE(file.size(), kCap);
    EXPECT_GE(file.size(), kCap * 84 / 100) << "about 85 % is kept at each cut";
    expectWholeNewestLines(file, logtest::narrow(text), 11999);
}

// Every line holds the byte 0x1A, which ends a text-mode read: the cut must
// still see the whole file and keep the newest lines.
TEST(LogFile, CutReadsPastControlZBytes)
{
    const std::wstring path = freshFolder(L"cutz") + L"log";
    const std::wstring text = std::wstring(L"\u001a\u001b\u001c ") + std::wstring(150, L'y');
    ASSERT_EQ(runScenario({L"fill", path, L"10000", text}), 0);
    const std::string file = readBytes(path + L".txt");
    EXPECT_LE(file.size(), kCap);
    expectWholeNewestLines(file, logtest::narrow(text), 9999);
}

// A file that another writer filled with empty lines holds far fewer
// characters than bytes; the cut must stay inside what it read and the file
// must still shrink below the cap.
TEST(LogFile, CutOfMostlyEmptyLinesStaysUnderTheCap)
{
    const std::wstring path = freshFolder(L"short") + L"log";
    std::string empties;
    for (int i = 0; i < 520000; ++i)
        empties += "\r\n";
    ASSERT_TRUE(logtest::writeBytes(path + L".txt", empties));
    ASSERT_EQ(runScenario({L"fill", path, L"400", std::wstring(100, L'z')}), 0);
    const std::string file = readBytes(path + L".txt");
    EXPECT_LE(file.size(), kCap);
    const std::string tail = "Event\t399 " + std::string(100, 'z') + "\r\n";
    ASSERT_GE(file.size(), tail.size());
    EXPECT_EQ(file.substr(file.size() - tail.size()), tail);
}

// The reopen after a cut fails: the service stops writing and the program
// goes on without a crash.
TEST(LogFile, FailedReopenAfterCutStopsWriting)
{
    const std::wstring parent = freshFolder(L"moved");
    const std::wstring folder = parent + L"logs";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const long result = runScenario({L"moved", folder, L"6000"});
    if (result == 6)
        GTEST_SKIP() << "this platform refuses to move a folder that holds an open file";
    ASSERT_EQ(result, 0);
    EXPECT_FALSE(logtest::fileExists(folder + L"\\log.txt"));

    // Everything up to the line that passed the cap reached the file, then nothing.
    const std::string file = readBytes(folder + L"_moved\\log.txt");
    ASSERT_GT(file.size(), kCap);
    ASSERT_EQ(file.compare(file.size() - 2, 2, "\r\n"), 0);
    const size_t lastLineStart = file.rfind("\r\n", file.size() - 3) + 2;
    EXPECT_LE(lastLineStart, kCap) << "no line was written after the failed cut";
    const size_t textAt = file.find("Event\t", lastLineStart);
    ASSERT_NE(textAt, std::string::npos);
    const int lastRecord = atoi(file.c_str() + textAt + 6);
    EXPECT_GT(lastRecord, 1000);
    EXPECT_LT(lastRecord, 5999);
}

} // namespace
