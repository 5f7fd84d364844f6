#include "pack/PackReport.h"

#include <cstdio>

#include "inspect/Json.h"

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
    std::printf("archive: %llu bytes, %.1f %% of the input (level %d, %u threads)\n",
                (unsigned long long)archiveSize(s), ratioPercent(s), s.level, s.threads);
    std::printf("sha256:  %s\n", s.sha256.c_str());
    for (const std::string& warning : s.warnings)
        std::printf("warning: %s\n", warning.c_str());
}

void printPackJson(const PackSummary& s)
{
    std::string out = "{\n";
    out += "  \"installer\": " + jsonString(s.installer) + ",\n";
    out += "  \"size\": " + std::to_string(s.installerSize) + ",\n";
    out += "  \"sha256\": \"" + s.sha256 + "\",\n";
    out += "  \"archive_offset\": " + std::to_string(s.archiveOffset) + ",\n";
    out += "  \"archive_size\": " + std::to_string(archiveSize(s)) + ",\n";
    out += "  \"input_bytes\": " + std::to_string(s.inputBytes) + ",\n";
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.4f", ratioPercent(s) / 100.0);
    out += std::string("  \"ratio\": ") + ratio + ",\n";
    out += "  \"level\": " + std::to_string(s.level) + ",\n";
    out += "  \"threads\": " + std::to_string(s.threads) + ",\n";
    out += "  \"signature\": \"none\",\n";
    out += "  \"warnings\": [";
    for (size_t i = 0; i < s.warnings.size(); ++i)
        out += (i ? ", " : "") + jsonString(s.warnings[i]);
    out += "],\n  \"entries\": [";
    for (size_t i = 0; i < s.entries.size(); ++i) {
        const ZipWriter::CentralEntry& e = s.entries[i];
        out += i ? ",\n    " : "\n    ";
        out += "{\"name\": " + jsonString(e.name) + ", \"method\": " + std::to_string(e.method) +
               ", \"compressed_size\": " + std::to_string(e.compressedSize) +
               ", \"uncompressed_size\": " + std::to_string(e.uncompressedSize) +
               ", \"crc32\": " + std::to_string(e.crc) + "}";
    }
    out += s.entries.empty() ? "]\n}\n" : "\n  ]\n}\n";
    std::fputs(out.c_str(), stdout);
}
