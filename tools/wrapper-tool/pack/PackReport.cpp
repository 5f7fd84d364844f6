#include "pack/PackReport.h"

#include <cstdio>

#include "inspect/EntryReport.h"
#include "inspect/Json.h"
#include "UnpackPlan.h"

namespace {

uint64_t archiveSize(const PackSummary& s) { return s.installerSize - s.archiveOffset; }

// The archive's size as a percentage of the files packed into it.
double ratioPercent(const PackSummary& s)
{
    return s.inputBytes == 0 ? 100.0 : 100.0 * double(archiveSize(s)) / double(s.inputBytes);
}

} // namespace

void printPackText(const PackSummary& s)
{
    std::printf("packed %zu entries (%llu bytes) into %s: %llu bytes, archive at offset %llu\n",
                s.entries.size(), (unsigned long long)s.inputBytes, s.installer.c_str(),
                (unsigned long long)s.installerSize, (unsigned long long)s.archiveOffset);
    std::printf("archive: %llu bytes, %.1f %% of the input (%slevel %d, %u threads)\n",
                (unsigned long long)archiveSize(s), ratioPercent(s), s.solid ? "solid, zstd " : "", s.level,
                s.threads);
    std::printf("sha256:  %s\n", s.sha256.c_str());
    for (const std::string& warning : s.warnings)
        std::printf("warning: %s\n", warning.c_str());
}

void printPackJson(const PackSummary& s)
{
    // The entries as written, judged by the plan as the stub will judge them.
    std::vector<ZipEntryInfo> written(s.entries.size());
    for (size_t i = 0; i < s.entries.size(); ++i) {
        const ZipWriter::CentralEntry& e = s.entries[i];
        ZipEntryInfo& info = written[i];
        info.fileName = e.name;
        info.flags = ZipWriter::nameFlags(e.name);
        info.compressionMethod = e.method;
        info.crc32 = e.crc;
        info.compressedSize = e.compressedSize;
        info.uncompressedSize = e.uncompressedSize;
        info.externalAttributes = e.externalAttributes;
        info.localHeaderOffset = e.localHeaderOffset;
    }
    const UnpackPlan plan = planUnpackNamed(written);

    JsonDocument out;
    out["installer"] = s.installer;
    out["size"] = s.installerSize;
    out["sha256"] = s.sha256;
    out["archive_offset"] = s.archiveOffset;
    out["archive_size"] = archiveSize(s);
    out["input_bytes"] = s.inputBytes;
    // Four decimals, as a number.
    out["ratio"] = double(int64_t(ratioPercent(s) * 100.0 + 0.5)) / 10000.0;
    out["level"] = s.level;
    out["solid"] = s.solid;
    out["threads"] = s.threads;
    out["compression_tasks"] = JsonDocument::object();
    out["compression_tasks"]["count"] = s.tasks.tasks;
    out["compression_tasks"]["seconds"] = double(int64_t(s.tasks.seconds * 1000.0 + 0.5)) / 1000.0;
    out["compression_tasks"]["longest_seconds"] = double(int64_t(s.tasks.longestSeconds * 1000.0 + 0.5)) / 1000.0;
    out["signature"] = "none";
    out["warnings"] = s.warnings;
    out["entries"] = JsonDocument::array();
    for (size_t i = 0; i < written.size(); ++i)
        out["entries"].push_back(entryJson(i, written[i], plan.entries[i]));
    std::fputs(jsonText(out).c_str(), stdout);
}
