#include "BranchFilter.h"

namespace {

void putU64(uint8_t* at, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

uint32_t loadLe32(const uint8_t* at)
{
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

} // namespace

std::vector<uint8_t> branchSplitEncode(const uint8_t* data, size_t size)
{
    return branchSplitEncode(data, size, BranchSplitVariant());
}

std::vector<uint8_t> branchSplitEncode(const uint8_t* data, size_t size, const BranchSplitVariant& variant)
{
    std::vector<uint8_t> code;
    std::vector<uint8_t> flags;
    std::vector<uint8_t> targets;
    code.reserve(size);
    // Targets are stored in 32 bits: in a file past 4 GiB only those below it convert.
    const uint64_t limit = uint64_t(size) < (uint64_t(1) << 32) ? uint64_t(size) : (uint64_t(1) << 32);
    size_t flagBits = 0;
    uint32_t previous = 0;
    size_t p = 0;
    while (p < size) {
        const size_t run = plainRun(data + p, size - p, variant);
        code.insert(code.end(), data + p, data + p + run);
        p += run;
        if (p == size)
            break;
        const size_t opcode = branchOpcodeAt(data + p, size - p, size - p, variant);
        if (opcode == 0) {
            code.push_back(data[p++]);
            continue;
        }
        const int64_t next = int64_t(p + opcode + kBranchOperand);
        const int64_t target = next + int32_t(loadLe32(data + p + opcode));
        const bool converted = target >= 0 && uint64_t(target) < limit;
        if (variant.byteFlags) {
            flags.push_back(converted ? 1 : 0);
        } else {
            if (flagBits % 8 == 0)
                flags.push_back(0);
            flags.back() |= uint8_t((converted ? 1 : 0) << (flagBits % 8));
            ++flagBits;
        }
        if (!converted) {
            code.push_back(data[p++]);
            continue;
        }
        code.insert(code.end(), data + p, data + p + opcode);
        const uint32_t stored = variant.deltaTargets ? uint32_t(target) - previous : uint32_t(target);
        previous = uint32_t(target);
        for (int shift = 24; shift >= 0; shift -= 8)
            targets.push_back(uint8_t(stored >> shift));
        p += opcode + kBranchOperand;
    }

    std::vector<uint8_t> out(kBranchSplitHeader);
    out[0] = kBranchSplitFormat;
    putU64(&out[1], code.size());
    putU64(&out[9], flags.size());
    putU64(&out[17], targets.size());
    out.reserve(out.size() + code.size() + flags.size() + targets.size());
    out.insert(out.end(), code.begin(), code.end());
    out.insert(out.end(), flags.begin(), flags.end());
    out.insert(out.end(), targets.begin(), targets.end());
    return out;
}
