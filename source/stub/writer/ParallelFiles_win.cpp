#include "ParallelFiles_win.h"

#include <windows.h>
#include <process.h>

#include "EntryFile_win.h"
#include "FileMapping.h"
#include "PeImage.h"
#include "ZipReader.h"
#include "ZipSolidBlock.h"
#include "ZipSolidLayout.h"

namespace {

unsigned __stdcall workerMain(void* files)
{
    static_cast<ParallelFiles*>(files)->workOnOwnReader();
    return 0;
}

const int32_t kOwnFile = -1;
const int32_t kLaterInBlock = -2;

// A solid file's bytes, cut out of its decoded block.
class SolidMemberBytes : public EntryBytes {
public:
    SolidMemberBytes(const SolidBlockBytes* block, const SolidMember& member, const ZipEntryInfo& entry,
                     const char* blockFailure)
        : block(block), member(member), entry(entry), why(blockFailure)
    {
    }
    bool deliver(ZipReaderCallback& sink) override
    {
        return block != nullptr && deliverSolidMember(*block, member, entry, sink, why);
    }

private:
    const SolidBlockBytes* block;
    const SolidMember& member;
    const ZipEntryInfo& entry;

public:
    const char* why;
};

} // namespace

// A block's decoding, shared by the blocks that refer to it.
struct ParallelFiles::Block {
    enum : LONG { Waiting = 0, Ready = 1, Failed = 2 };
    volatile LONG state = Waiting;
    bool isPrefix = false;
    SolidBlockBytes bytes;
};

ParallelFiles::ParallelFiles(ZipReader& reader, const std::wstring& installer,
                             const std::vector<uint32_t>& entries,
                             const std::vector<std::wstring>& names,
                             const std::vector<bool>& fresh, const SolidLayout& solid)
    : reader(reader), installer(installer), entries(entries), names(names), fresh(fresh),
      outcomes(entries.size()), firstFailed(static_cast<LONG>(entries.size())), solid(solid),
      unitOfJob(entries.size(), kOwnFile), jobOfEntry(solid.blockOfEntry.size(), -1)
{
    if (solid.blocks.empty())
        return;
    blocks = new Block[solid.blocks.size()];
    for (size_t job = 0; job < entries.size(); ++job) {
        const uint32_t index = entries[job];
        if (index >= solid.blockOfEntry.size() || solid.blockOfEntry[index] < 0)
            continue;
        const int32_t block = solid.blockOfEntry[index];
        jobOfEntry[index] = static_cast<int32_t>(job);
        unitOfJob[job] = solid.memberOfEntry[index] == 0 ? block : kLaterInBlock;
    }
    for (const SolidBlock& block : solid.blocks)
        if (block.hasPrefix)
            blocks[block.prefix].isPrefix = true;
}

ParallelFiles::~ParallelFiles()
{
    // The driver is done with the outcomes: no entry is taken any more.
    InterlockedExchange(&firstFailed, -1);
    for (unsigned i = 0; i < threadCount; ++i)
        WaitForSingleObject(threads[i].get(), INFINITE);
    delete[] blocks;
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
    for (;;) {
        const LONG taken = InterlockedIncrement(&next) - 1;
        if (taken >= static_cast<LONG>(entries.size()) ||
            taken > InterlockedCompareExchange(&firstFailed, 0, 0))
            return false;
        // A block's later files are written with its first.
        if (unitOfJob[static_cast<size_t>(taken)] == kLaterInBlock)
            continue;
        job = static_cast<size_t>(taken);
        return true;
    }
}

void ParallelFiles::noteFailure(size_t job)
{
    LONG seen = InterlockedCompareExchange(&firstFailed, 0, 0);
    while (static_cast<LONG>(job) < seen) {
        const LONG was = InterlockedCompareExchange(&firstFailed, static_cast<LONG>(job), seen);
        if (was == seen)
            break;
        seen = was;
    }
}

void ParallelFiles::writeFile(size_t job, ZipReader& with, const SolidBlockBytes* block,
                              const char* blockFailure)
{
    FileOutcome& outcome = outcomes[job];
    {
        LogCapture capture(outcome.records);
        const uint32_t index = entries[job];
        if (unitOfJob[job] == kOwnFile) {
            outcome.result = writeEntryFile(with, index, names[index], !fresh[index]);
        } else {
            const ZipEntryInfo& entry = with.entries()[index];
            const SolidBlock& layout = solid.blocks[static_cast<size_t>(solid.blockOfEntry[index])];
            SolidMemberBytes bytes(block, layout.members[solid.memberOfEntry[index]], entry, blockFailure);
            outcome.result = writeEntry(bytes, EntryExpectation{entry.uncompressedSize, entry.crc32},
                                        names[index], systemRetryClock(), !fresh[index]);
            if (outcome.result.failed == EntryStep::Data)
                outcome.result.detail = bytes.why;
        }
    }
    if (!outcome.result)
        noteFailure(job);
    InterlockedExchange(&outcome.done, 1);
}

void ParallelFiles::runBlock(size_t number, ZipReader& with)
{
    const SolidBlock& layout = solid.blocks[number];
    Block& block = blocks[number];
    const char* why = "its solid block's prefix block does not decode";
    bool decoded = true;
    if (layout.hasPrefix) {
        // The prefix's first file comes earlier, so its block is under way.
        while (InterlockedCompareExchange(&blocks[layout.prefix].state, 0, 0) == Block::Waiting)
            Sleep(1);
        decoded = blocks[layout.prefix].state == Block::Ready;
    }
    if (decoded)
        decoded = with.decodeSolidBlock(layout, layout.hasPrefix ? &blocks[layout.prefix].bytes : nullptr,
                                        block.bytes, why);
    InterlockedExchange(&block.state, decoded ? Block::Ready : Block::Failed);
    for (const SolidMember& member : layout.members) {
        const int32_t job = jobOfEntry[member.entry];
        if (job < 0 || job > InterlockedCompareExchange(&firstFailed, 0, 0))
            break;
        writeFile(static_cast<size_t>(job), with, decoded ? &block.bytes : nullptr, why);
        if (!outcomes[static_cast<size_t>(job)].result)
            break;
    }
    if (!block.isPrefix)
        block.bytes.release();
}

void ParallelFiles::run(size_t job, ZipReader& with)
{
    if (unitOfJob[job] >= 0)
        runBlock(static_cast<size_t>(unitOfJob[job]), with);
    else
        writeFile(job, with, nullptr, nullptr);
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
