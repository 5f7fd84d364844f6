#include "ZipSolidBlock.h"

#include <new>

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include "SolidFilter.h"
#include "ZipEntryData.h"
#include "ZipOutputCheck.h"
#include "ZipRecords.h"

namespace {

// Compressed input is read a window piece at a time; output goes straight
// into the block, so the decoder needs no window buffer of its own.
const uint32_t kInputPiece = 4u << 20;
// What a sink gets at once from a filtered file.
const size_t kOutputPiece = 256u << 10;

struct DctxOwner {
    ZSTD_DCtx* dctx = ZSTD_createDCtx();
    ~DctxOwner() { ZSTD_freeDCtx(dctx); }
};

bool frameAcceptable(const uint8_t* head, size_t available, const SolidBlock& block, const char*& why)
{
    ZSTD_frameHeader header;
    const size_t status = ZSTD_getFrameHeader(&header, head, available);
    // zstd refuses a window above its own maximum (2^30 in a 32-bit build)
    // while reading the header: that is a window beyond the limit too.
    if (ZSTD_isError(status) && ZSTD_getErrorCode(status) == ZSTD_error_frameParameter_windowTooLarge) {
        why = "its block's frame declares a window beyond the limit";
        return false;
    }
    if (status != 0 || header.frameType != ZSTD_frame) {
        why = "its block does not start with a zstd frame";
        return false;
    }
    if (header.windowSize > (uint64_t(1) << kMaxSolidWindowLog)) {
        why = "its block's frame declares a window beyond the limit";
        return false;
    }
    if (header.frameContentSize != block.size || !header.checksumFlag) {
        why = "its block's frame does not declare the block's size and a checksum";
        return false;
    }
    return true;
}

} // namespace

bool SolidBlockBytes::allocate(size_t size)
{
    release();
    data_ = new (std::nothrow) uint8_t[size == 0 ? 1 : size];
    size_ = data_ == nullptr ? 0 : size;
    return data_ != nullptr;
}

void SolidBlockBytes::release()
{
    delete[] data_;
    data_ = nullptr;
    size_ = 0;
}

bool decodeSolidBlock(ZipArchiveBytes& archive, const ZipEntryInfo& carrier, const SolidBlock& block,
                      const SolidBlockBytes* prefix, SolidBlockBytes& out, const char*& why)
{
    ZipEntryData where;
    if (!locateEntryData(archive, carrier, where) || where.method != kMethodSolid || where.descriptorFollows ||
        where.dataSize != carrier.compressedSize || where.dataSize == 0) {
        why = "its local record does not agree with its solid block";
        return false;
    }
    if (block.hasPrefix && (prefix == nullptr || prefix->data() == nullptr)) {
        why = "its block's prefix block could not be decoded";
        return false;
    }
    std::vector<uint8_t> scratch;
    uint32_t got = 0;
    const uint8_t* head = archive.readUpTo(where.dataOffset, ZSTD_FRAMEHEADERSIZE_MAX, got, scratch);
    if (head == nullptr || !frameAcceptable(head, got < where.dataSize ? got : size_t(where.dataSize), block, why))
        return false;
    if (!out.allocate(size_t(block.size))) {
        why = "there is not enough memory for its block";
        return false;
    }

    DctxOwner owner;
    ZSTD_DCtx* dctx = owner.dctx;
    if (dctx == nullptr || ZSTD_isError(ZSTD_DCtx_setParameter(dctx, ZSTD_d_windowLogMax, kMaxSolidWindowLog)) ||
        ZSTD_isError(ZSTD_DCtx_setParameter(dctx, ZSTD_d_stableOutBuffer, 1)) ||
        (block.hasPrefix && ZSTD_isError(ZSTD_DCtx_refPrefix(dctx, prefix->data(), prefix->size())))) {
        why = "there is not enough memory for its block's decoder";
        return false;
    }
    ZSTD_outBuffer output = {out.data(), out.size(), 0};
    uint64_t next = where.dataOffset;
    uint64_t remaining = where.dataSize;
    size_t status = 1;
    const uint32_t window = archive.windowSize();
    const uint32_t pieceLimit = window < kInputPiece ? window : kInputPiece;
    while (remaining != 0 && status != 0) {
        const uint32_t piece = remaining < pieceLimit ? uint32_t(remaining) : pieceLimit;
        const uint8_t* data = archive.read(next, piece, scratch);
        if (data == nullptr) {
            why = "its block cannot be read";
            return false;
        }
        ZSTD_inBuffer input = {data, piece, 0};
        while (input.pos < input.size) {
            status = ZSTD_decompressStream(dctx, &output, &input);
            if (ZSTD_isError(status)) {
                why = "its block does not decode (damaged or not what its records say)";
                return false;
            }
            if (status == 0)
                break;
        }
        next += input.pos;
        remaining -= input.pos;
    }
    // The frame must end with the carrier's data and fill the block exactly.
    if (status != 0 || remaining != 0 || output.pos != out.size()) {
        why = "its block's frame does not end where its data ends";
        return false;
    }
    return true;
}

bool deliverSolidMember(const SolidBlockBytes& block, const SolidMember& member, const ZipEntryInfo& entry,
                        ZipReaderCallback& sink, const char*& why)
{
    why = "its size or CRC-32 does not match";
    if (block.data() == nullptr || member.offset > block.size() || member.length > block.size() - member.offset)
        return false;
    const uint8_t* bytes = block.data() + member.offset;
    const size_t length = size_t(member.length);
    ZipOutputCheck check(entry.uncompressedSize, entry.crc32);
    if (member.filter == kFilterNone) {
        for (size_t at = 0; at < length;) {
            const size_t piece = length - at < kOutputPiece ? length - at : kOutputPiece;
            if (!check.deliver(sink, bytes + at, uint32_t(piece)))
                return false;
            at += piece;
        }
    } else {
        SolidFilterDecoder decoder(member.filter, bytes, length, entry.uncompressedSize);
        std::vector<uint8_t> piece(kOutputPiece);
        while (!decoder.finished()) {
            size_t produced = 0;
            if (!decoder.next(piece.data(), piece.size(), produced) || produced == 0) {
                why = decoder.error();
                return false;
            }
            if (!check.deliver(sink, piece.data(), uint32_t(produced)))
                return false;
        }
    }
    return check.matches() && sink.finish();
}
