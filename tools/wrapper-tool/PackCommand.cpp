#include <cstdio>
#include <vector>

#include "Arguments.h"
#include "Commands.h"
#include "MappedFile.h"
#include "Messages.h"
#include "OutputFile.h"
#include "PayloadChecks.h"
#include "PeImage.h"
#include "Progress.h"
#include "SourceTree.h"
#include "ZipReader.h"
#include "ZipWriter.h"

namespace {

const char kCommand[] = "pack";
const char kUsage[] =
    "usage: wrapper-tool pack STUB DIR -o OUT.exe [--level N] [--zip64] [--allow-long-paths]\n"
    "\n"
    "Appends a ZIP archive of DIR to STUB and writes the result to OUT.exe.\n"
    "The archive is deterministic: names sorted, fixed time stamps; the same\n"
    "input gives the same bytes. Sign OUT.exe afterwards, never STUB before.\n"
    "\n"
    "  -o OUT.exe   the installer to write (replaced only when packing succeeds)\n"
    "  --level N    deflate level 0-9 (default 9); an entry that does not get\n"
    "               smaller is stored\n"
    "  --zip64      write Zip64 records even when the archive does not need them\n"
    "  --allow-long-paths  pack paths longer than Windows' plain file APIs open\n"
    "               under a typical work area (259 characters)\n"
    "\n"
    "Refused: symbolic links, special files, names that are not plain ASCII or\n"
    "would leave the work area, names that differ only in letter case (one\n"
    "file on Windows), long paths (see above), a DIR without\n"
    "RezuviZiduRuzudUvovovaz.exe at its top level, and a STUB that already\n"
    "carries a signature.\n"
    "\n"
    "exit codes: 0 packed, 1 input refused, 2 bad command line, 3 I/O error\n";

// The stub searches only files of at least this size for its archive.
const uint64_t kSmallestReadableImage = 16384;

struct PackRequest {
    std::string stub;
    std::string folder;
    std::string out;
    ZipWriterOptions options;
    bool allowLongPaths = false;
};

int parse(int argc, char** argv, PackRequest& request)
{
    ParsedArguments args;
    std::string error;
    bool parsed = parseArguments(argc, argv, 2, {{"-o", true}, {"--level", true}, {"--zip64", false}, {"--allow-long-paths", false}},
                                 args, error);
    if (parsed && !args.helpRequested) {
        if (args.positional.size() != 2) {
            error = "expected STUB and DIR";
            parsed = false;
        } else if (!args.has("-o") || args.value("-o").empty()) {
            error = "missing -o OUT.exe";
            parsed = false;
        } else if (args.has("--level") &&
                   (!parseSmallNumber(args.value("--level"), request.options.level) ||
                    request.options.level > 9)) {
            error = "--level takes a number from 0 to 9";
            parsed = false;
        }
    }
    int outcome = usageOutcome(kCommand, kUsage, args.helpRequested, parsed, error);
    if (outcome >= 0)
        return outcome;
    request.stub = args.positional[0];
    request.folder = args.positional[1];
    request.out = args.value("-o");
    request.options.forceZip64 = args.has("--zip64");
    request.allowLongPaths = args.has("--allow-long-paths");
    return -1;
}

// Reads the written file back with the stub's own reader: the archive must be
// found where it was put, with every entry. Catches layouts the stub would
// misread, such as stray record signatures near the end of the payload.
bool stubReadsBack(const std::string& path, uint64_t stubSize, size_t entryCount, std::string& error)
{
    MappedFile written;
    if (!written.open(path, error))
        return false;
    ZipReader reader;
    if (!reader.open(written.data(), payloadSearchSize(written.data(), written.size()))) {
        error = "the stub's reader does not find the archive in the result";
        return false;
    }
    if (reader.archiveOffset() != stubSize || reader.entries().size() != entryCount) {
        error = "the stub's reader misreads the result (archive at " +
                std::to_string(reader.archiveOffset()) + ", " +
                std::to_string(reader.entries().size()) + " entries)";
        return false;
    }
    return true;
}

uint64_t totalFileBytes(const std::vector<SourceEntry>& entries)
{
    uint64_t total = 0;
    for (const SourceEntry& entry : entries)
        total += entry.size;
    return total;
}

} // namespace

int runPack(int argc, char** argv)
{
    PackRequest request;
    int outcome = parse(argc, argv, request);
    if (outcome >= 0)
        return outcome;

    std::string error;
    MappedFile stub;
    if (!stub.open(request.stub, error))
        return reportFailure(kCommand, kExitIoError, error);
    if (payloadSearchSize(stub.data(), stub.size()) < stub.size())
        return reportFailure(kCommand, kExitRefused,
                             "refused '" + request.stub +
                                 "': it already carries a signature (certificate table); "
                                 "pack the unsigned stub, then sign the result");

    std::vector<SourceEntry> entries;
    SourceTreeResult tree = readSourceTree(request.folder, entries, error);
    if (tree != SourceTreeResult::Ok)
        return reportFailure(kCommand, tree == SourceTreeResult::Refused ? kExitRefused : kExitIoError,
                             error);
    const std::string namesProblem = packNamesProblem(entries, request.allowLongPaths);
    if (!namesProblem.empty())
        return reportFailure(kCommand, kExitRefused, namesProblem);

    OutputFile out;
    if (!out.create(request.out, error))
        return reportFailure(kCommand, kExitIoError, error);
    if (stub.size() != 0 && !out.write(stub.data(), size_t(stub.size())))
        return reportFailure(kCommand, kExitIoError, "cannot write '" + out.tempPath() + "'");

    const uint64_t inputBytes = totalFileBytes(entries);
    ZipWriter writer(out, request.options);
    {
        Progress progress("packing", inputBytes);
        for (const SourceEntry& entry : entries) {
            bool added = entry.isDirectory ? writer.addDirectory(entry.name)
                                           : writer.addFile(entry.name, entry.path, entry.size, progress);
            if (!added)
                return reportFailure(kCommand, kExitIoError, writer.error());
        }
    }
    if (!writer.finish() || !out.flush())
        return reportFailure(kCommand, kExitIoError,
                             writer.error().empty() ? "cannot write '" + out.tempPath() + "'" : writer.error());

    const uint64_t outSize = out.position();
    if (outSize < kSmallestReadableImage)
        return reportFailure(kCommand, kExitRefused,
                             "the result would be " + std::to_string(outSize) +
                                 " bytes; the stub only looks for its archive in files of 16384 "
                                 "bytes or more");
    if (!stubReadsBack(out.tempPath(), stub.size(), entries.size(), error))
        return reportFailure(kCommand, kExitRefused, error);
    if (!out.commit(error))
        return reportFailure(kCommand, kExitIoError, error);

    std::printf("packed %zu entries (%llu bytes) into %s: %llu bytes, archive at offset %llu\n",
                entries.size(), (unsigned long long)inputBytes, request.out.c_str(),
                (unsigned long long)outSize, (unsigned long long)stub.size());
    return kExitOk;
}
