// The wrapper's entry point: gate, work area, unpack, then start the inner
// setup (or, when that cannot be done, the client already installed).
#include <windows.h>

#include <string>

#include "FileMapping_win.h"
#include "Launch_win.h"
#include "OsGate_win.h"
#include "RunInputs_win.h"
#include "UnpackDriver_win.h"
#include "WorkArea_win.h"
#include "WorkAreaLock_win.h"

#define LOG_SOURCE_FILE "DuzoRizedAroriva"
#include "LogRecord.h"
#include "LogService_win.h"

namespace {

const char* const kFunction = "WinMain";

// Only the system folder may supply DLLs, so nothing planted beside a
// downloaded installer gets loaded. Looked up at run time: Windows 7 without
// its loader update lacks the function and runs on without it.
void restrictDllSearchPath()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr)
        return;
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault != nullptr)
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// Unsigned decimal digits; std::to_wstring would pull the C runtime's whole
// printf machinery into the stub.
std::wstring decimal(uint32_t value)
{
    wchar_t digits[10];
    size_t count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    std::wstring text;
    while (count > 0)
        text += digits[--count];
    return text;
}

struct RunFacts {
    std::wstring exeFolder;
    bool beta = false;
    bool stagedUpdate = false;
};

ArgumentVector innerSetupArguments(const RunFacts& facts, DWORD startTick)
{
    // Unsigned arithmetic keeps the difference right across a counter wrap.
    const DWORD elapsed = GetTickCount() - startTick;
    // A bare name: the work area is the current directory now.
    ArgumentVector arguments{L"RezuviZiduRuzudUvovovaz.exe"};
    if (facts.stagedUpdate) {
        LOG_RECORD(LogLevel::Event, kFunction) << "Detected Thick Setup mode.";
        arguments.push_back(L"/UseStagedUpdate");
    }
    if (facts.beta) {
        LOG_RECORD(LogLevel::Event, kFunction) << "Detected Beta mode.";
        arguments.push_back(L"/Beta");
    }
    std::wstring configPath;
    if (findSetupConfig(facts.exeFolder, configPath)) {
        LOG_RECORD(LogLevel::Event, kFunction) << "Setup config detected.";
        arguments.push_back(L"/SetupConfig:" + configPath);
    }
    appendOwnArguments(arguments);
    LOG_RECORD(LogLevel::Event, kFunction) << "Running from folder: " << facts.exeFolder;
    arguments.push_back(L"/timing:" + decimal(elapsed));
    LOG_RECORD(LogLevel::Event, kFunction) << "Unpack time = " << static_cast<uint32_t>(elapsed)
                                           << " ms.";
    return arguments;
}

// False when no client is registered to fall back to.
bool clientArguments(const RunFacts& facts, ArgumentVector& arguments)
{
    std::wstring clientPath;
    if (!readClientPath(clientPath)) {
        LOG_RECORD(LogLevel::Error, kFunction) << "No fallback available.";
        return false;
    }
    LOG_RECORD(LogLevel::Event, kFunction) << "Falling back to existing client: " << clientPath;
    arguments = {clientPath, L"/noUpdate", L"/vozeDozavError"};
    if (facts.beta)
        arguments.push_back(L"/Beta");
    return true;
}

// Starts the program that the vector names. A start that fails is logged with
// the system's error code.
bool launch(const ArgumentVector& arguments)
{
    LOG_RECORD(LogLevel::Event, kFunction) << "Launching DiveRozadOrovaver.";
    uint32_t errorCode = 0;
    if (launchProcess(arguments, &errorCode))
        return true;
    LOG_RECORD(LogLevel::Error, kFunction) << "Unable to start process.  Error = " << errorCode
                                           << " Filename = " << arguments[0];
    return false;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const DWORD startTick = GetTickCount();
    restrictDllSearchPath();
    if (!isOsVersionOrGreater(6, 1, 0)) {
        showRefusalMessage();
        return 1;
    }
    InitLogLock();

    RunFacts facts;
    std::wstring exeFileName;
    splitExePath(getModulePath(), facts.exeFolder, exeFileName);
    facts.beta = isBetaFileName(exeFileName);

    // Held until the started program's records are written: a second run of
    // this version waits for it in prepareWorkArea.
    WorkAreaLock workAreaLock;
    const bool unpacked =
        prepareWorkArea(workAreaLock) &&
        unpackEmbeddedZip(workAreaLock.held(), &facts.stagedUpdate);
    // An inner setup that cannot be started (missing from the payload, not a
    // program) leaves the user with the installed client, as a failed unpack does.
    bool started = unpacked && launch(innerSetupArguments(facts, startTick));
    if (!started) {
        ArgumentVector arguments;
        started = clientArguments(facts, arguments) && launch(arguments);
    }
    if (!started)
        return 1;
    LOG_RECORD(LogLevel::Event, kFunction) << "Finished.";
    return 0;
}
