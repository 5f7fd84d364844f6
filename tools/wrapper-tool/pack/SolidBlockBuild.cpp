#include "pack/SolidBlockBuild.h"

#include <memory>

#include "SolidFilter.h"
#include "ZipSolidLayout.h"
#include "deflate/BufferDeflater.h"
#include "pack/SourceFile.h"

#ifdef WRAPPER_ZSTD_ENCODER
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#endif

const char kNoSolidEncoder[] =
    "this build of wrapper-tool reads solid installers but cannot pack them (it has no zstd encoder)";

namespace {

// The filtered form may grow a little (its header, one flag bit per branch
// byte); beyond this it is not worth it, and the block must stay in bounds.
bool filterKeepsBounds(size_t original, size_t filtered)
{
    return filtered <= original + original / 8 + 64;
}

} // namespace

bool readSolidBlock(const std::vector<const SourceEntry*>& files, SolidBuiltBlock& block, std::string& error)
{
    block.bytes.clear();
    block.files.clear();
    uint64_t unread = 0;
    for (const SourceEntry* entry : files)
        unread += entry->size;
    std::vector<uint8_t> data;
    for (const SourceEntry* entry : files) {
        unread -= entry->size;
        if (!readSourceBytes(*entry, 0, entry->size, true, data, error))
            return false;
        SolidBuiltFile file;
        file.offset = block.bytes.size();
        file.crc = entryCrc32(0, data.data(), data.size());
        std::vector<uint8_t> filtered;
        const uint8_t filter = solidFilterFor(data.data(), data.size());
        if (filter != kFilterNone)
            filtered = solidFilterEncode(filter, data.data(), data.size());
        // A filtered form that grew may only take room the files still to
        // come leave free, even if none of them shrinks.
        const bool fits = block.bytes.size() + filtered.size() + unread <= kMaxSolidBlockSize;
        if (!filtered.empty() && fits && filterKeepsBounds(data.size(), filtered.size())) {
            file.filter = filter;
            block.bytes.insert(block.bytes.end(), filtered.begin(), filtered.end());
        } else {
            file.filter = kFilterNone;
            block.bytes.insert(block.bytes.end(), data.begin(), data.end());
        }
        file.length = block.bytes.size() - file.offset;
        block.files.push_back(file);
    }
    if (block.bytes.size() > kMaxSolidBlockSize) {
        error = "a solid block came out larger than " + std::to_string(kMaxSolidBlockSize) + " bytes";
        return false;
    }
    return true;
}

#ifdef WRAPPER_ZSTD_ENCODER

namespace {

struct CctxDeleter {
    void operator()(ZSTD_CCtx* cctx) const { ZSTD_freeCCtx(cctx); }
};

// The smallest window that reaches from the block's end back over the
// prefix too: matches into the prefix are the point of having one.
int windowLogFor(uint64_t reach)
{
    int log = 10;
    while (log < int(kMaxSolidWindowLog) && (uint64_t(1) << log) < reach)
        ++log;
    return log;
}

bool set(ZSTD_CCtx* cctx, ZSTD_cParameter parameter, int value)
{
    return !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, parameter, value));
}

} // namespace

bool compressSolidBlock(SolidBuiltBlock& block, const std::vector<uint8_t>* prefix, int level, std::string& error)
{
    std::unique_ptr<ZSTD_CCtx, CctxDeleter> cctx(ZSTD_createCCtx());
    const uint64_t reach = block.bytes.size() + (prefix ? prefix->size() : 0);
    if (!cctx || !set(cctx.get(), ZSTD_c_compressionLevel, level) ||
        !set(cctx.get(), ZSTD_c_windowLog, windowLogFor(reach)) ||
        !set(cctx.get(), ZSTD_c_enableLongDistanceMatching, 1) || !set(cctx.get(), ZSTD_c_checksumFlag, 1) ||
        !set(cctx.get(), ZSTD_c_contentSizeFlag, 1) ||
        (prefix && ZSTD_isError(ZSTD_CCtx_refPrefix(cctx.get(), prefix->data(), prefix->size())))) {
        error = "cannot set up zstd's compressor";
        return false;
    }
    block.frame.resize(ZSTD_compressBound(block.bytes.size()));
    const size_t size = ZSTD_compress2(cctx.get(), block.frame.data(), block.frame.size(), block.bytes.data(),
                                       block.bytes.size());
    if (ZSTD_isError(size)) {
        error = std::string("zstd cannot compress a solid block: ") + ZSTD_getErrorName(size);
        return false;
    }
    block.frame.resize(size);
    block.frame.shrink_to_fit();
    return true;
}

#else

bool compressSolidBlock(SolidBuiltBlock&, const std::vector<uint8_t>*, int, std::string& error)
{
    error = kNoSolidEncoder;
    return false;
}

#endif
