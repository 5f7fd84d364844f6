// launchProcess and appendOwnArguments under Wine, with record_run as the
// started program: what it writes is what it received.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "Launch_win.h"
#include "RecordRunReader.h"

namespace {

std::wstring ownFolder()
{
    wchar_t buffer[32768];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, 32768);
    std::wstring path(buffer, length);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::wstring recordRunPath() { return ownFolder() + L"record_run.exe"; }

// A fresh, empty folder for one test, with a trailing backslash. Wine reuses
// process ids, so a name already taken by an earlier run is skipped.
std::wstring freshFolder(const wchar_t* name)
{
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    static int counter = 0;
    for (;;) {
        const std::wstring folder = std::wstring(temp) + L"cmdline_" +
                                    std::to_wstring(GetCurrentProcessId()) + L"_" +
                                    std::to_wstring(++counter) + L"_" + name + L"\\";
        if (CreateDirectoryW(folder.c_str(), nullptr))
            return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return folder;
    }
}

bool readWholeFile(const std::wstring& path, std::string& content)
{
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file)
        return false;
    content.clear();
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0)
        content.append(buffer, got);
    fclose(file);
    return true;
}

// The started program is not waited for: its report appears whole (it renames
// it into place), so wait for the file to exist.
bool waitForRecord(const std::wstring& path, RecordRun& record)
{
    for (int attempt = 0; attempt < 1500; ++attempt) {
        std::string content;
        if (readWholeFile(path, content))
            return parseRecordRun(content, record);
        Sleep(20);
    }
    return false;
}

// Starts the vector through launchProcess with RECORD_RUN_OUTPUT set, which
// the started program inherits, and reads its report.
bool launchAndRecord(const ArgumentVector& arguments, const std::wstring& output,
                     RecordRun& record)
{
    DeleteFileW(output.c_str());
    SetEnvironmentVariableW(L"RECORD_RUN_OUTPUT", output.c_str());
    const bool started = launchProcess(arguments);
    SetEnvironmentVariableW(L"RECORD_RUN_OUTPUT", nullptr);
    return started && waitForRecord(output, record);
}

std::vector<std::wstring> shellSplit(const std::wstring& line)
{
    std::vector<std::wstring> out;
    int count = 0;
    if (LPWSTR* split = CommandLineToArgvW(line.c_str(), &count)) {
        out.assign(split, split + count);
        LocalFree(split);
    }
    return out;
}

bool samePath(const std::wstring& a, const std::wstring& b)
{
    auto trim = [](std::wstring s) {
        while (!s.empty() && s.back() == L'\\')
            s.pop_back();
        return s;
    };
    return CompareStringOrdinal(trim(a).c_str(), -1, trim(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

const std::vector<std::wstring>& hardCases()
{
    static const std::vector<std::wstring> cases = {
        L"",
        L"plain",
        L"two words",
        L"\"",
        L"\"\"",
        L"a\"b",
        L"\"quoted\"",
        L"a\\\"b",
        L"a\\\\\"b",
        L"a\\\\\\\"b",
        L"\\",
        L"\\\\",
        L"C:\\Temp\\",
        L"C:\\Program Files\\x\\",
        L"a\\b\\\\c",
        L"\\\"",
        L"\" \"",
        L"tab\there",
        L"\t",
        L" ",
        L"  leading and trailing  ",
        L"line\nbreak",
        L"cr\r\nlf",
        L"caret^^^&|<>",
        L"%PATH% %%",
        L"!bang!",
        L"/SetupConfig:C:\\a b\\Autorun\\vozedozav.json",
        L"/timing:1234",
        L"\u00e9t\u00e9 \u4e2d\u6587 \u0416\u041a \U0001F600",
        L"mixed \"quote\\\" and \\\\\" end\\",
    };
    return cases;
}

std::wstring randomArgument(std::mt19937& random)
{
    static const wchar_t alphabet[] = {L'\\', L'\\', L'\\', L'"', L'"', L' ', L'\t', L'\n',
                                       L'^',  L'%',  L'&',  L'a', L'Z', L'0', L'/', L':',
                                       L'\u00e9', L'\u4e2d', L'\u041a', L'\''};
    std::uniform_int_distribution<int> lengthOf(0, 12);
    std::uniform_int_distribution<size_t> pick(0, sizeof(alphabet) / sizeof(alphabet[0]) - 1);
    std::wstring text;
    for (int n = lengthOf(random); n > 0; --n)
        text += alphabet[pick(random)];
    return text;
}

void expectRoundTrip(const ArgumentVector& sent, const RecordRun& record)
{
    EXPECT_EQ(record.raw, buildCommandLine(sent));
    ASSERT_EQ(record.argv.size(), sent.size());
    ASSERT_EQ(record.crtArgv.size(), sent.size());
    for (size_t i = 1; i < sent.size(); ++i) {
        EXPECT_EQ(record.argv[i], sent[i]) << "shell split, argument " << i;
        EXPECT_EQ(record.crtArgv[i], sent[i]) << "C runtime split, argument " << i;
    }
    EXPECT_TRUE(samePath(record.argv[0], sent[0]));
    EXPECT_TRUE(samePath(record.crtArgv[0], sent[0]));
}

TEST(Quoting, ShellSplitGivesEveryElementBack)
{
    ArgumentVector sent{L"C:\\Program Files\\Norvik\\setup.exe"};
    sent.insert(sent.end(), hardCases().begin(), hardCases().end());
    EXPECT_EQ(shellSplit(buildCommandLine(sent)), sent);

    std::mt19937 random(20190202);
    for (int round = 0; round < 300; ++round) {
        ArgumentVector randomSent{L"C:\\x\\setup.exe"};
        for (int i = 0; i < 8; ++i)
            randomSent.push_back(randomArgument(random));
        ASSERT_EQ(shellSplit(buildCommandLine(randomSent)), randomSent)
            << "round " << round;
    }
}

TEST(Launch, StartedProgramReceivesHardCasesUnchanged)
{
    const std::wstring folder = freshFolder(L"hard");
    ArgumentVector sent{recordRunPath()};
    sent.insert(sent.end(), hardCases().begin(), hardCases().end());
    RecordRun record;
    ASSERT_TRUE(launchAndRecord(sent, folder + L"out.json", record));
    expectRoundTrip(sent, record);
}

TEST(Launch, StartedProgramReceivesRandomArgumentsUnchanged)
{
    const std::wstring folder = freshFolder(L"random");
    std::mt19937 random(4294967295u);
    for (int run = 0; run < 4; ++run) {
        ArgumentVector sent{recordRunPath()};
        for (int i = 0; i < 30; ++i)
            sent.push_back(randomArgument(random));
        RecordRun record;
        ASSERT_TRUE(launchAndRecord(sent, folder + L"out" + std::to_wstring(run) + L".json",
                                    record));
        expectRoundTrip(sent, record);
    }
}

// Restores the process's current directory when a test ends.
class CurrentDirectoryGuard {
public:
    CurrentDirectoryGuard()
    {
        wchar_t buffer[32768];
        saved.assign(buffer, GetCurrentDirectoryW(32768, buffer));
    }
    ~CurrentDirectoryGuard() { SetCurrentDirectoryW(saved.c_str()); }

private:
    std::wstring saved;
};

TEST(Launch, BareNameStartsFromCurrentDirectoryWhichIsInherited)
{
    CurrentDirectoryGuard guard;
    const std::wstring folder = freshFolder(L"cwd");
    const std::wstring copy = folder + L"inner setup.exe";
    ASSERT_TRUE(CopyFileW(recordRunPath().c_str(), copy.c_str(), FALSE));
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));

    RecordRun record;
    ASSERT_TRUE(launchAndRecord({L"inner setup.exe", L"/noUpdate"}, folder + L"out.json",
                                record));
    EXPECT_TRUE(samePath(record.cwd, folder)) << "cwd " << std::string(record.cwd.begin(),
                                                                          record.cwd.end());
    EXPECT_TRUE(samePath(record.exe, copy));
    EXPECT_EQ(record.argv, (std::vector<std::wstring>{L"inner setup.exe", L"/noUpdate"}));
}

bool folderIsEmpty(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    bool empty = true;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            empty = false;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return empty;
}

TEST(Launch, MissingOrUnstartableProgramReturnsQuietly)
{
    CurrentDirectoryGuard guard;
    const std::wstring folder = freshFolder(L"missing");
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));

    // No extension is added and the search path is not used: "record_run"
    // names nothing here although record_run.exe lies beside this test.
    launchProcess({L"record_run", L"/x"});
    launchProcess({L"missing.exe", L"/noUpdate", L"/vozeDozavError"});
    launchProcess({L"C:\\no\\such\\folder\\setup.exe"});
    launchProcess({L""});
    launchProcess({});
    Sleep(300);
    EXPECT_TRUE(folderIsEmpty(folder));

    const std::wstring notAProgram = folder + L"text.exe";
    FILE* file = _wfopen(notAProgram.c_str(), L"wb");
    ASSERT_NE(file, nullptr);
    fputs("not a program", file);
    fclose(file);
    launchProcess({notAProgram});
    SUCCEED() << "returned after a file that is not a program";
}

TEST(Launch, FailedStartIsReportedWithTheSystemErrorCode)
{
    CurrentDirectoryGuard guard;
    const std::wstring folder = freshFolder(L"failed");
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    const struct {
        ArgumentVector arguments;
        uint32_t errorCode;
    } cases[] = {
        {{L"missing.exe", L"/noUpdate"}, ERROR_FILE_NOT_FOUND},
        {{L"record_run"}, ERROR_FILE_NOT_FOUND},   // no extension is added
        {{folder + L"no such folder\\setup.exe"}, ERROR_PATH_NOT_FOUND},
        {{}, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        uint32_t errorCode = 0;
        EXPECT_FALSE(launchProcess(c.arguments, &errorCode));
        EXPECT_EQ(errorCode, c.errorCode)
            << (c.arguments.empty() ? "(empty)" : std::string(c.arguments[0].begin(),
                                                              c.arguments[0].end()));
    }
}

bool runProbe(const ArgumentVector& ownArguments, const std::wstring& output,
              std::vector<std::wstring>& appended)
{
    ArgumentVector sent{ownFolder() + L"append_probe.exe"};
    sent.insert(sent.end(), ownArguments.begin(), ownArguments.end());
    RecordRun record;
    if (!launchAndRecord(sent, output, record))
        return false;
    appended = record.argv;
    return true;
}

TEST(AppendOwnArguments, NothingWithoutArguments)
{
    const std::wstring folder = freshFolder(L"append0");
    std::vector<std::wstring> result;
    ASSERT_TRUE(runProbe({}, folder + L"out.json", result));
    EXPECT_EQ(result, (std::vector<std::wstring>{L"existing one", L"existing two"}));
}

TEST(AppendOwnArguments, AppendsAfterExistingElementsInOrder)
{
    const std::wstring folder = freshFolder(L"append");
    const ArgumentVector own{L"/quiet", L"", L"a b", L"say \"hi\"", L"C:\\dir\\", L"\u00e9"};
    std::vector<std::wstring> result;
    ASSERT_TRUE(runProbe(own, folder + L"out.json", result));
    std::vector<std::wstring> expected{L"existing one", L"existing two"};
    expected.insert(expected.end(), own.begin(), own.end());
    EXPECT_EQ(result, expected);
}

TEST(AppendOwnArguments, PartlyQuotedArgumentArrivesAsOneValue)
{
    // Typed by hand rather than built: only part of the first argument is quoted.
    const std::wstring folder = freshFolder(L"partly");
    const std::wstring output = folder + L"out.json";
    const std::wstring probe = ownFolder() + L"append_probe.exe";
    std::wstring line = L"\"" + probe + L"\" /SetupConfig:\"C:\\a b\\x.json\" plain";
    SetEnvironmentVariableW(L"RECORD_RUN_OUTPUT", output.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessW(probe.c_str(), &line[0], nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableW(L"RECORD_RUN_OUTPUT", nullptr);
    ASSERT_TRUE(started);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    RecordRun record;
    ASSERT_TRUE(waitForRecord(output, record));
    EXPECT_EQ(record.argv, (std::vector<std::wstring>{L"existing one", L"existing two",
                                                      L"/SetupConfig:C:\\a b\\x.json",
                                                      L"plain"}));
}

TEST(AppendOwnArguments, ReadsThisProcessCommandLine)
{
    ArgumentVector vector{L"x"};
    appendOwnArguments(vector);
    std::vector<std::wstring> split = shellSplit(GetCommandLineW());
    ASSERT_FALSE(split.empty());
    split[0] = L"x";
    EXPECT_EQ(vector, split);
}

} // namespace
