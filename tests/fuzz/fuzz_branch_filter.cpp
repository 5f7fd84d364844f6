// libFuzzer target: the solid filters. The first byte picks the mode, the variant (or, without
// one, the x86-64 filter with its address stage) and the piece size.
// Even: the rest is a filtered form, decoded for a size read from its header
// (or from the second byte) and it must never write past the size nor succeed with less.
// Odd: the rest is any file, encoded and decoded back; it must come back byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "SolidFilter.h"

namespace {

// The size a filtered form's own header claims: code plus targets.
uint64_t claimedSize(const uint8_t* form, size_t size)
{
    if (size < kBranchSplitHeader)
        return size;
    uint64_t code = 0, targets = 0;
    for (int i = 7; i >= 0; --i) {
        code = code << 8 | form[1 + i];
        targets = targets << 8 | form[17 + i];
    }
    return code + targets;
}

// Decodes `form` into `out` through pieces of `capacity`; false when the decoder refused it.
template <typename Decoder>
bool decodeAll(Decoder& decoder, uint64_t size, size_t capacity, std::vector<uint8_t>& out)
{
    std::vector<uint8_t> piece(capacity);
    size_t produced = 1;
    while (produced != 0) {
        if (!decoder.next(piece.data(), capacity, produced)) {
            if (decoder.error()[0] == '\0')
                __builtin_trap(); // a refusal must say why
            return false;
        }
        if (produced > capacity || out.size() + produced > size)
            __builtin_trap(); // never past the piece or the declared size
        out.insert(out.end(), piece.begin(), piece.begin() + produced);
    }
    if (decoder.finished() && out.size() != size)
        __builtin_trap();
    return decoder.finished();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t mode = data[0];
    BranchSplitVariant variant;
    const bool addresses = (mode & 0xC0) == 0x40;
    if (mode & 0x80) {
        variant.jumps = (mode & 0x40) != 0;
        variant.conditional = (mode & 0x20) != 0;
        variant.deltaTargets = (mode & 0x10) != 0;
        variant.byteFlags = (mode & 0x08) != 0;
    }
    const size_t capacity = (addresses ? SolidFilterDecoder::kMinPiece : BranchSplitDecoder::kMinPiece) +
                            (mode >> 1 & 3) * 9;
    const uint8_t* rest = data + 1;
    const size_t restSize = size - 1;
    std::vector<uint8_t> out;
    if ((mode & 1) == 0) {
        const uint64_t claimed = claimedSize(rest, restSize);
        // Bounded so a lying header cannot make the run slow.
        const uint64_t target = (mode & 4) != 0 || claimed > (1u << 20) ? rest[0] : claimed;
        if (addresses) {
            SolidFilterDecoder decoder(kFilterAddressBranchSplit, rest, restSize, target);
            decodeAll(decoder, target, capacity, out);
        } else {
            BranchSplitDecoder decoder(rest, restSize, target, variant);
            decodeAll(decoder, target, capacity, out);
        }
        return 0;
    }
    bool ok;
    if (addresses) {
        const std::vector<uint8_t> form = solidFilterEncode(kFilterAddressBranchSplit, rest, restSize);
        SolidFilterDecoder decoder(kFilterAddressBranchSplit, form.data(), form.size(), restSize);
        ok = decodeAll(decoder, restSize, capacity, out);
    } else {
        const std::vector<uint8_t> form = branchSplitEncode(rest, restSize, variant);
        BranchSplitDecoder decoder(form.data(), form.size(), restSize, variant);
        ok = decodeAll(decoder, restSize, capacity, out);
    }
    if (!ok || std::memcmp(out.data(), rest, restSize) != 0)
        __builtin_trap();
    (void)solidFilterFor(rest, restSize);
    return 0;
}
