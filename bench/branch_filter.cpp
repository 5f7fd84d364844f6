// Chooses the variant of the branch-split filter: the files concatenated in the order given,
// compressed with zstd at LEVEL (long-distance matching, window 2^27) plain and after each
// variant, each file filtered on its own as a solid member is; then encode and decode speed
// (decoding in 64 KiB pieces, as the stub does, and checked byte for byte).
//
// usage: bench-branch-filter [--only=I,J...] LEVEL FILE...   (--only: those rows of the table, from 0)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <zstd.h>

#include "BranchFilter.h"
#include "SolidFilter.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

bool readFile(const char* path, Bytes& data)
{
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return false;
    uint8_t buffer[1 << 16];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        data.insert(data.end(), buffer, buffer + got);
    std::fclose(file);
    return true;
}

size_t zstdSize(const Bytes& data, int level)
{
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(context, ZSTD_c_enableLongDistanceMatching, 1);
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, 27);
    Bytes out(ZSTD_compressBound(data.size()));
    const size_t size = ZSTD_compress2(context, out.data(), out.size(), data.data(), data.size());
    ZSTD_freeCCtx(context);
    if (ZSTD_isError(size)) {
        std::fprintf(stderr, "zstd: %s\n", ZSTD_getErrorName(size));
        std::exit(4);
    }
    return size;
}

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Variant
{
    const char* name;
    BranchSplitVariant rule;
};

BranchSplitVariant rule(bool jumps, bool conditional, bool delta, bool byteFlags)
{
    BranchSplitVariant v;
    v.jumps = jumps;
    v.conditional = conditional;
    v.deltaTargets = delta;
    v.byteFlags = byteFlags;
    return v;
}

std::vector<Bytes> encodeAll(const std::vector<Bytes>& files, const BranchSplitVariant& rule)
{
    std::vector<Bytes> forms;
    for (const Bytes& file : files)
        forms.push_back(branchSplitEncode(file.data(), file.size(), rule));
    return forms;
}

// Decodes every form in 64 KiB pieces, each compared as it comes out, as the stub writes it.
bool decodeAll(const std::vector<Bytes>& forms, const std::vector<Bytes>& files, const Variant& variant)
{
    Bytes piece(1 << 16);
    for (size_t f = 0; f < files.size(); ++f) {
        BranchSplitDecoder decoder(forms[f].data(), forms[f].size(), files[f].size(), variant.rule);
        size_t at = 0;
        for (size_t produced = 1; produced != 0; at += produced) {
            if (!decoder.next(piece.data(), piece.size(), produced)) {
                std::fprintf(stderr, "%s: %s\n", variant.name, decoder.error());
                return false;
            }
            if (std::memcmp(piece.data(), files[f].data() + at, produced) != 0) {
                std::fprintf(stderr, "%s: file %zu differs near %zu\n", variant.name, f, at);
                return false;
            }
        }
        if (!decoder.finished())
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const bool some = argc > 1 && std::strncmp(argv[1], "--only=", 7) == 0;
    const std::string only = some ? "," + std::string(argv[1] + 7) + "," : "";
    const int first = some ? 2 : 1;
    if (argc < first + 2) {
        std::fprintf(stderr, "usage: %s [--only=I,J...] LEVEL FILE...\n", argv[0]);
        return 2;
    }
    const int level = std::atoi(argv[first]);
    std::vector<Bytes> files(argc - first - 1);
    Bytes plain;
    size_t code = 0;
    for (size_t f = 0; f < files.size(); ++f) {
        if (!readFile(argv[first + 1 + f], files[f])) {
            std::fprintf(stderr, "cannot read %s\n", argv[first + 1 + f]);
            return 3;
        }
        code += solidFilterFor(files[f].data(), files[f].size()) != kFilterNone;
        plain.insert(plain.end(), files[f].begin(), files[f].end());
    }
    const double mb = plain.size() / 1e6;
    const size_t plainSize = zstdSize(plain, level);
    std::printf("%zu files (%zu look like code), %zu bytes, zstd %d\n", files.size(), code, plain.size(), level);
    std::printf("%-28s %12s %8s %10s %10s\n", "variant", "bytes", "vs plain", "enc MB/s", "dec MB/s");
    std::printf("%-28s %12zu %8s %10s %10s\n", "plain", plainSize, "", "", "");
    std::fflush(stdout);

    const Variant variants[] = {
        {"E8, absolute, bits", rule(false, false, false, false)},
        {"E8+E9, absolute, bits", rule(true, false, false, false)},
        {"E8+E9+Jcc, absolute, bits", rule(true, true, false, false)},
        {"E8+E9, delta, bits", rule(true, false, true, false)},
        {"E8+E9, absolute, bytes", rule(true, false, false, true)},
        {"E8+Jcc, absolute, bits", rule(false, true, false, false)},
        {"E8, delta, bits", rule(false, false, true, false)},
        {"E8, absolute, bytes", rule(false, false, false, true)},
    };
    for (size_t row = 0; row < sizeof variants / sizeof variants[0]; ++row) {
        const Variant& variant = variants[row];
        const std::string pick = "," + std::to_string(row) + ",";
        if (some && only.find(pick) == std::string::npos)
            continue;
        // The best of three runs, since the machine is shared.
        std::vector<Bytes> forms;
        double encode = 1e9, decode = 1e9;
        for (int run = 0; run < 3; ++run) {
            Clock::time_point start = Clock::now();
            forms = encodeAll(files, variant.rule);
            encode = std::min(encode, seconds(start));
            start = Clock::now();
            if (!decodeAll(forms, files, variant))
                return 5;
            decode = std::min(decode, seconds(start));
        }
        Bytes joined;
        for (const Bytes& form : forms)
            joined.insert(joined.end(), form.begin(), form.end());
        const size_t size = zstdSize(joined, level);
        std::printf("%-28s %12zu %+7.2f%% %10.0f %10.0f\n", variant.name, size,
                    100.0 * (double(size) - double(plainSize)) / double(plainSize), mb / encode, mb / decode);
        std::fflush(stdout);
    }
    return 0;
}
