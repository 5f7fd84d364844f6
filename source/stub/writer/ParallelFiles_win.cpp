#include "ParallelFiles_win.h"

#include <windows.h>
#include <process.h>

#include "EntryFile_win.h"
#include "FileMapping.h"
#include "PeImage.h"
#include "ZipReader.h"

namespace {

unsigned __stdcall workerMain(void* files)
{
    static_cast<ParallelFiles*>(files)->workOnOwnReader();
    return 0;
}

} // namespace

ParallelFiles::ParallelFiles(ZipReader& reader, const std::wstring& installer,
                             const std::vector<uint32_t>& entries,
                             const std::vector<std::wstring>& names,
                             const std::vector<bool>& fresh)
    : reader(reader), installer(installer), entries(entries), names(names), fresh(fresh),
      outcomes(entries.size()), firstFailed(static_cast<LONG>(entries.size()))
{
}

ParallelFiles::~ParallelFiles()
{
    // The driver is done with the outcomes: no entry is taken any more.
    InterlockedExchange(&firstFailed, -1);
    for (unsigned i = 0; i < threadCount; ++i)
        WaitForSingleObject(threads[i].get(), INFINITE);
}

void ParallelFiles::start(unsigned workers)
{
    for (unsigned i = 1; i < workers && i < kMaxWorkers && i < entries.size(); ++i) {
        const uintptr_t thread = _beginthreadex(nullptr, 0, workerMain, this, 0, nullptr);
        // Without the thread the others take its share.
        if (thread != 0)
            threads[threadCount++].reset(reinterpret_cast<HANDLE>(thread));
    }
}

bool ParallelFiles::take(size_t& job)
{
    const LONG taken = InterlockedIncrement(&next) - 1;
    if (taken >= static_cast<LONG>(entries.size()) ||
        taken > InterlockedCompareExchange(&firstFailed, 0, 0))
        return false;
    job = static_cast<size_t>(taken);
    return true;
}

void ParallelFiles::run(size_t job, ZipReader& with)
{
    FileOutcome& outcome = outcomes[job];
    {
        LogCapture capture(outcome.records);
        const uint32_t index = entries[job];
        outcome.result = writeEntryFile(with, index, names[index], !fresh[index]);
    }
    if (!outcome.result) {
        LONG seen = InterlockedCompareExchange(&firstFailed, 0, 0);
        while (static_cast<LONG>(job) < seen) {
            const LONG was = InterlockedCompareExchange(&firstFailed, static_cast<LONG>(job), seen);
            if (was == seen)
                break;
            seen = was;
        }
    }
    InterlockedExchange(&outcome.done, 1);
}

const FileOutcome& ParallelFiles::await(size_t job)
{
    while (InterlockedCompareExchange(&outcomes[job].done, 0, 0) == 0) {
        size_t own = 0;
        if (take(own))
            run(own, reader);
        else
            Sleep(1);
    }
    return outcomes[job];
}

void ParallelFiles::workOnOwnReader()
{
    FileMapping image(installer);
    ZipReader own;
    if (!image.isOpen() || !own.open(image, payloadSearchSize(image)))
        return;
    size_t job = 0;
    while (take(job))
        run(job, own);
}

unsigned unpackWorkerCount()
{
    // GetActiveProcessorCount came with Windows 7; the stub loads on Vista
    // to refuse it, so it is looked up rather than imported.
    typedef DWORD(WINAPI * ActiveProcessorCount)(WORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto active = kernel == nullptr ? nullptr
        : reinterpret_cast<ActiveProcessorCount>(
              reinterpret_cast<void*>(GetProcAddress(kernel, "GetActiveProcessorCount")));
    DWORD count = 0;
    if (active != nullptr)
        count = active(0xffff); // ALL_PROCESSOR_GROUPS
    if (count == 0) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        count = info.dwNumberOfProcessors;
    }
    const unsigned most = ParallelFiles::kMaxWorkers;
    return count == 0 ? 1 : (count < most ? count : most);
}
