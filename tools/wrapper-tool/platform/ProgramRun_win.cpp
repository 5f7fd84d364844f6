// Running another program on Windows: inside a job object that kills all
// its processes when its last handle closes (at the deadline, when the
// program ends, and when the tool itself ends, however it ends).
#include <windows.h>

#include <thread>

#include "CommandLine.h"
#include "Owned_win.h"
#include "platform/ExternalTool.h"
#include "platform/WidePath.h"

namespace {

// A job whose processes die with its handle; false when the system refuses.
bool makeKillingJob(UniqueHandle& job)
{
    job.reset(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    return job.valid() &&
           SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

} // namespace

ProgramRun runProgram(const std::vector<std::string>& command, unsigned deadlineSeconds, const std::string& input)
{
    ProgramRun run;
    run.deadlineSeconds = deadlineSeconds;
    if (!input.empty()) {
        run.systemError = ERROR_NOT_SUPPORTED;
        return run;
    }
    ArgumentVector arguments;
    for (const std::string& argument : command)
        arguments.push_back(widePath(argument));
    std::wstring line = buildCommandLine(arguments);
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    UniqueHandle readEnd, writeEnd, job;
    if (!makeKillingJob(job) || !CreatePipe(readEnd.receive(), writeEnd.receive(), &inherit, 0)) {
        run.systemError = int(GetLastError());
        return run;
    }
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    PROCESS_INFORMATION process{};
    // Suspended until it is in the job, so nothing it starts escapes it.
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &process)) {
        run.systemError = int(GetLastError());
        return run;
    }
    UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
    if (!AssignProcessToJobObject(job.get(), process.hProcess)) {
        run.systemError = int(GetLastError());
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        return run;
    }
    ResumeThread(process.hThread);
    // Our copy of the write end closed, the read below ends with the job.
    writeEnd.reset();
    std::string& output = run.output;
    std::thread reader([&readEnd, &output] {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(readEnd.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
            output.append(buffer, got);
    });
    const DWORD waited = WaitForSingleObject(process.hProcess, DWORD(deadlineSeconds) * 1000);
    // Ended or not, whatever is left in the job goes now, and with it the
    // last writer of the pipe.
    TerminateJobObject(job.get(), 1);
    WaitForSingleObject(process.hProcess, INFINITE);
    reader.join();
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    run.end = waited == WAIT_OBJECT_0 ? ProgramRun::End::Exited : ProgramRun::End::TimedOut;
    run.exitCode = int(code);
    return run;
}
