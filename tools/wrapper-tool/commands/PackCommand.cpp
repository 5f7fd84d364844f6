#include <cstdio>
#include <thread>
#include <vector>

#include "cli/Arguments.h"
#include "cli/SolidArguments.h"
#include "deflate/BufferDeflater.h"
#include "commands/Commands.h"
#include "platform/MappedFile.h"
#include "cli/Messages.h"
#include "platform/OutputFile.h"
#include "platform/UsableCores.h"
#include "pack/PackChecks.h"
#include "pack/PackPipeline.h"
#include "pack/PackReport.h"
#include "pack/SolidBlockBuild.h"
#include "pack/SolidPack.h"
#include "inspect/PayloadChecks.h"
#include "PeImage.h"
#include "cli/Progress.h"
#include "inspect/Digest.h"
#include "pack/SourceTree.h"
#include "ZipReader.h"
#include "pack/ZipWriter.h"

namespace {

const char kCommand[] = "pack";
const char kUsage[] =
    "usage: wrapper-tool pack STUB DIR -o OUT.exe [--level N] [-j N] [--exclude GLOB]...\n"
    "                         [--exclude-from FILE]... [--zip64] [--allow-long-paths] [--json] [--quiet]\n"
    "                         [--solid [--solid-block MIB] [--solid-prefix PERCENT]]\n"
    "\n"
    "Appends a ZIP archive of DIR to STUB and writes the result to OUT.exe.\n"
    "The archive is deterministic: names sorted, fixed time stamps; the same\n"
    "input gives the same bytes, whatever the thread count. Sign OUT.exe\n"
    "afterwards (wrapper-tool sign), never STUB before.\n"
    "\n"
    "  -o OUT.exe      the installer to write (replaced only when packing succeeds)\n"
    "  --level N       deflate level 0 (store) to 12 (default 10); an entry that\n"
    "                  does not get smaller is stored. Levels above 9 need the\n"
    "                  native build (libdeflate); with zlib they act as 9\n"
    "  --solid         compress the files together in zstd blocks (docs/solid-blocks.md):\n"
    "                  a far smaller installer that only the stub and wrapper-tool\n"
    "                  extract (unzip, 7z, bsdtar and Python's zipfile list it, but\n"
    "                  cannot extract it); --level is then zstd's, 1 to 22 (default 19).\n"
    "                  Needs the native build (the Windows tool has no zstd encoder)\n"
    "  --solid-block MIB    the target size of a block (default 40)\n"
    "  --solid-prefix PERCENT  the first block's share, which the others refer\n"
    "                  to (default 35; 0 makes every block stand alone)\n"
    "  -j N            compress on N threads (default: the cores this process may use)\n"
    "  --exclude GLOB  leave out files and folders whose name matches GLOB,\n"
    "                  ignoring case: '*.pdb', '.DS_Store'; with '/' the path from\n"
    "                  DIR's top ('docs/drafts'); '**' any number of folders\n"
    "                  ('**/cache/*.tmp'); a trailing '/' folders only ('docs/').\n"
    "                  May be given more than once; a GLOB that matches nothing\n"
    "                  is warned of\n"
    "  --exclude-from FILE  one GLOB a line; blank lines and '#' lines skipped\n"
    "  --zip64         write Zip64 records even when the archive does not need them\n"
    "  --allow-long-paths  accepted for older build scripts; long paths need it\n"
    "                  no more (the stub unpacks names of up to 1,023 characters)\n"
    "  --json          print one JSON document instead of the summary\n"
    "  --quiet         no progress and no summary; errors only\n"
    "\n"
    "Names beyond ASCII are written as UTF-8 (flag bit 11). Refused: symbolic\n"
    "links, special files, names that are not UTF-8, would leave the work area\n"
    "or that Windows cannot hold (CON, nul.txt, COM1, a part ending in a dot or\n"
    "a space, control characters, <>:\"|?*), names of 1,024 characters or more,\n"
    "names that differ only in letter case (one file on Windows), a DIR without\n"
    "RezuviZiduRuzudUvovovaz.exe at its top level, a STUB that is not a Windows executable, is not\n"
    "this release's stub by its version block (ProductName and version), or already\n"
    "carries a signature or a payload, and an OUT.exe that is STUB or lies inside DIR.\n"
    "\n"
    "exit codes: 0 packed, 1 input refused, 2 bad command line, 3 I/O error\n";

// The stub searches only files of at least this size for its archive.
const uint64_t kSmallestReadableImage = 16384;

// With libdeflate the smallest archive that costs no more CPU time than zlib
// level 6 did, and smaller than Info-ZIP -9 (see bench/); levels 11 and 12 cost more.
const int kDefaultLevel = 10;

struct PackRequest {
    std::string stub;
    std::string folder;
    std::string out;
    ZipWriterOptions options;
    unsigned threads = 1;
    std::vector<std::string> excludes;
    std::vector<std::string> excludeFiles;
    bool json = false;
    bool quiet = false;
    bool solid = false;
    SolidOptions solidOptions;
};

int parse(int argc, char** argv, PackRequest& request)
{
    ParsedArguments args;
    std::string error;
    bool parsed = parseArguments(argc, argv, 2,
                                 {{"-o", true}, {"--level", true}, {"--zip64", false}, {"-j", true},
                                  {"--jobs", true}, {"--exclude", true, true},
                                  {"--exclude-from", true, true}, {"--json", false},
                                  {"--quiet", false}, {"--allow-long-paths", false}, {"--solid", false},
                                  {"--solid-block", true}, {"--solid-prefix", true}},
                                 args, error);
    request.options.level = kDefaultLevel;
    int threads = int(usableCores());
    const std::string jobs = args.has("-j") ? args.value("-j") : args.value("--jobs");
    if (parsed && !args.helpRequested) {
        if (args.positional.size() == 3 && !args.has("-o")) {
            error = "missing -o OUT.exe (did you mean: -o " + args.positional[2] + "?)";
            parsed = false;
        } else if (args.positional.size() != 2) {
            error = "expected STUB and DIR";
            parsed = false;
        } else if (!args.has("-o") || args.value("-o").empty()) {
            error = "missing -o OUT.exe";
            parsed = false;
        } else if (!parseSolidArguments(args, request.solid, request.solidOptions, error)) {
            parsed = false;
        } else if (!request.solid && args.has("--level") &&
                   (!parseSmallNumber(args.value("--level"), request.options.level) ||
                    request.options.level > 12)) {
            error = "--level takes a number from 0 to 12";
            parsed = false;
        } else if (!jobs.empty() && (!parseSmallNumber(jobs, threads) || threads < 1 || threads > 256)) {
            error = "-j takes a number of threads from 1 to 256";
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
    request.threads = unsigned(threads);
    request.solidOptions.threads = request.threads;
    request.excludes = args.lists["--exclude"];
    request.excludeFiles = args.lists["--exclude-from"];
    request.json = args.has("--json");
    request.quiet = args.has("--quiet");
    return -1;
}

// Reads the written file back with the stub's own reader: the archive must be
// found where it was put, with every entry. Catches layouts the stub would
// misread, such as stray record signatures near the end of the payload.
bool stubReadsBack(const std::string& path, uint64_t stubSize, size_t entryCount, std::string& error)
{
    const std::unique_ptr<FileMapping> written = openMappedFile(path, error);
    if (!written)
        return false;
    ZipReader reader;
    if (!reader.open(*written, payloadSearchSize(*written))) {
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

// The stub goes into the output as it is, a window at a time.
bool copyWhole(FileMapping& file, OutputFile& out)
{
    for (uint64_t at = 0; at < file.size();) {
        const uint64_t left = file.size() - at;
        const uint32_t piece = left < file.windowSize() ? uint32_t(left) : file.windowSize();
        const uint8_t* bytes = file.view(at, piece);
        if (bytes == nullptr || !out.write(bytes, piece))
            return false;
        at += piece;
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

// Prints each line of a (possibly multi-line) refusal as its own message.
int reportEach(ExitCode code, const std::string& lines)
{
    size_t start = 0;
    for (;;) {
        size_t end = lines.find('\n', start);
        reportFailure(kCommand, code, lines.substr(start, end - start));
        if (end == std::string::npos)
            return code;
        start = end + 1;
    }
}

std::vector<std::string> packWarnings(const PackRequest& request, const std::vector<SourceEntry>& entries,
                                      const ExcludeSet& excludes)
{
    std::vector<std::string> warnings;
    for (const std::string& pattern : excludes.unusedPatterns())
        warnings.push_back("exclude pattern '" + pattern + "' matched nothing in '" + request.folder + "'");
    if (request.options.level > strongestDeflateLevel())
        warnings.push_back("level " + std::to_string(request.options.level) + " acts as " +
                           std::to_string(strongestDeflateLevel()) + " with " + deflaterName());
    for (const SourceEntry& entry : entries)
        if (!entry.isDirectory && entry.size >= kLargestInMemoryEntry && request.options.level > 0)
            warnings.push_back("'" + entry.name + "' is deflated while streaming, with zlib at level " +
                               std::to_string(request.options.level > 9 ? 9 : request.options.level));
    return warnings;
}

} // namespace

int runPack(int argc, char** argv)
{
    PackRequest request;
    int outcome = parse(argc, argv, request);
    if (outcome >= 0)
        return outcome;

    std::string error;
    if (!refuseFolderAsOutput(request.out, error) ||
        !checkOutputPath(request.out, request.stub, request.folder, error))
        return reportFailure(kCommand, kExitRefused, error);
    const std::unique_ptr<FileMapping> stub = openMappedFile(request.stub, error);
    if (!stub)
        return reportFailure(kCommand, kExitIoError, error);
    if (!checkStub(request.stub, *stub, error))
        return reportFailure(kCommand, kExitRefused, error);

    ExcludeSet excludes;
    for (const std::string& pattern : request.excludes)
        excludes.add(pattern);
    for (const std::string& file : request.excludeFiles)
        if (!excludes.addFromFile(file, error))
            return reportFailure(kCommand, kExitIoError, error);

    std::vector<SourceEntry> entries;
    SourceTreeResult tree = readSourceTree(request.folder, excludes, entries, error);
    if (tree != SourceTreeResult::Ok)
        return reportEach(tree == SourceTreeResult::Refused ? kExitRefused : kExitIoError, error);
    const std::string namesProblem = packNamesProblem(entries);
    if (!namesProblem.empty())
        return reportEach(kExitRefused, namesProblem);

    if (request.solid && !solidPackAvailable())
        return reportFailure(kCommand, kExitRefused, "--solid: " + std::string(kNoSolidEncoder));
    // Files that stay out of the solid blocks (too large for one) are deflated as usual.
    if (request.solid)
        request.options.level = 9;
    OutputFile out;
    if (!out.create(request.out, error))
        return reportFailure(kCommand, kExitIoError, error);
    if (!copyWhole(*stub, out))
        return reportFailure(kCommand, kExitIoError, out.failure());

    const uint64_t inputBytes = totalFileBytes(entries);
    ZipWriter writer(out, request.options);
    PackTaskTimes tasks;
    {
        Progress progress("packing", inputBytes,
                          request.quiet ? Progress::Mode::Quiet : Progress::Mode::AutoWithLog);
        PackPipelineOptions pipeline;
        pipeline.level = request.options.level;
        pipeline.threads = request.threads;
        const bool packed = request.solid
                                ? packSolidEntries(entries, request.solidOptions, writer, progress, error, &tasks)
                                : packEntries(entries, pipeline, writer, progress, error, &tasks);
        if (!packed)
            return reportFailure(kCommand, kExitIoError, error);
    }
    if (!writer.finish() || !out.flush())
        return reportFailure(kCommand, kExitIoError,
                             writer.error().empty() ? out.failure() : writer.error());

    const uint64_t outSize = out.position();
    if (outSize < kSmallestReadableImage)
        return reportFailure(kCommand, kExitRefused,
                             "the result would be " + std::to_string(outSize) +
                                 " bytes; the stub only looks for its archive in files of 16384 "
                                 "bytes or more");
    if (!stubReadsBack(out.tempPath(), stub->size(), entries.size(), error))
        return reportFailure(kCommand, kExitRefused, underUserName(error, out.tempPath(), request.out));
    PackSummary summary;
    summary.sha256 = fileSha256(out.tempPath());
    if (!out.commit(error))
        return reportFailure(kCommand, kExitIoError, error);

    if (request.quiet && !request.json)
        return kExitOk;
    summary.installer = request.out;
    summary.installerSize = outSize;
    summary.archiveOffset = stub->size();
    summary.inputBytes = inputBytes;
    summary.level = request.solid ? request.solidOptions.level : request.options.level;
    summary.solid = request.solid;
    summary.threads = request.threads;
    summary.tasks = tasks;
    summary.entries = writer.entries();
    summary.warnings = packWarnings(request, entries, excludes);
    if (request.json)
        printPackJson(summary);
    else
        printPackText(summary);
    return kExitOk;
}
