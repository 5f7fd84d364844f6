#include "BranchFilter.h"

#include <cstring>

namespace {

uint64_t loadLe64(const uint8_t* at)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | at[i];
    return value;
}

} // namespace

BranchSplitDecoder::BranchSplitDecoder(const uint8_t* filtered, size_t filteredSize, uint64_t size)
    : BranchSplitDecoder(filtered, filteredSize, size, BranchSplitVariant())
{
}

BranchSplitDecoder::BranchSplitDecoder(const uint8_t* filtered, size_t filteredSize, uint64_t size,
                                       const BranchSplitVariant& variant)
    : variant(variant), size(size)
{
    if (filteredSize < kBranchSplitHeader) {
        fail("filtered form shorter than its header");
        return;
    }
    if (filtered[0] != kBranchSplitFormat) {
        fail("unknown branch filter format");
        return;
    }
    const uint64_t streams = filteredSize - kBranchSplitHeader;
    const uint64_t codeBytes = loadLe64(filtered + 1);
    const uint64_t flagBytes = loadLe64(filtered + 9);
    const uint64_t targetBytes = loadLe64(filtered + 17);
    // Compared one by one so that lying lengths cannot wrap around.
    if (codeBytes > streams || flagBytes > streams - codeBytes || targetBytes != streams - codeBytes - flagBytes) {
        fail("stream lengths do not match the filtered form");
        return;
    }
    if (targetBytes % kBranchOperand != 0 || codeBytes + targetBytes != size) {
        fail("stream lengths do not match the size");
        return;
    }
    codeLength = size_t(codeBytes);
    flagsLength = size_t(flagBytes);
    targetsLength = size_t(targetBytes);
    code = filtered + kBranchSplitHeader;
    flags = code + codeLength;
    targets = flags + flagsLength;
}

bool BranchSplitDecoder::fail(const char* why)
{
    if (failure == nullptr)
        failure = why;
    return false;
}

bool BranchSplitDecoder::takeFlag(bool& converted)
{
    const size_t byte = variant.byteFlags ? flagBitsTaken : flagBitsTaken / 8;
    if (byte >= flagsLength)
        return false;
    if (variant.byteFlags && flags[byte] > 1)
        return fail("branch flag neither 0 nor 1");
    converted = variant.byteFlags ? flags[byte] != 0 : (flags[byte] >> (flagBitsTaken % 8) & 1) != 0;
    ++flagBitsTaken;
    return true;
}

bool BranchSplitDecoder::next(uint8_t* out, size_t capacity, size_t& produced)
{
    produced = 0;
    if (failure != nullptr)
        return false;
    if (capacity < kMinPiece)
        return fail("piece smaller than the decoder accepts");
    // Each step writes whole branches, so a piece never ends inside an operand.
    while (position < size && capacity - produced >= kLongestBranch) {
        if (codeAt >= codeLength)
            return fail("code bytes run out");
        const uint8_t* at = code + codeAt;
        // Bytes that start no branch come over in one copy, as far as the piece allows.
        uint64_t room = capacity - produced;
        room = room < size - position ? room : size - position;
        const size_t run = plainRun(at, room < codeLength - codeAt ? size_t(room) : codeLength - codeAt, variant);
        if (run != 0) {
            std::memcpy(out + produced, at, run);
            produced += run;
            codeAt += run;
            position += run;
            continue;
        }
        const size_t opcode = branchOpcodeAt(at, codeLength - codeAt, size - position, variant);
        bool converted = false;
        if (opcode != 0 && !takeFlag(converted))
            return fail("branch flags run out");
        if (!converted) {
            out[produced++] = *at;
            ++codeAt;
            ++position;
            continue;
        }
        if (codeLength - codeAt < opcode)
            return fail("code bytes run out");
        if (targetsLength - targetsAt < kBranchOperand)
            return fail("branch targets run out");
        const uint8_t* t = targets + targetsAt;
        uint32_t target = uint32_t(t[0]) << 24 | uint32_t(t[1]) << 16 | uint32_t(t[2]) << 8 | t[3];
        if (variant.deltaTargets)
            target += previousTarget;
        previousTarget = target;
        if (target >= size)
            return fail("branch target outside the file");
        const uint32_t relative = target - uint32_t(position + opcode + kBranchOperand);
        for (size_t i = 0; i < opcode; ++i)
            out[produced++] = at[i];
        for (int i = 0; i < 4; ++i)
            out[produced++] = uint8_t(relative >> (8 * i));
        codeAt += opcode;
        targetsAt += kBranchOperand;
        position += opcode + kBranchOperand;
    }
    return true;
}

bool BranchSplitDecoder::finished() const
{
    if (failure != nullptr || position != size || codeAt != codeLength || targetsAt != targetsLength)
        return false;
    if (variant.byteFlags)
        return flagBitsTaken == flagsLength;
    // Bits past the last candidate pad the last byte with zeros.
    if ((flagBitsTaken + 7) / 8 != flagsLength)
        return false;
    return flagBitsTaken % 8 == 0 || (flags[flagsLength - 1] >> (flagBitsTaken % 8)) == 0;
}

const char* BranchSplitDecoder::error() const
{
    if (failure != nullptr)
        return failure;
    if (position == size && !finished())
        return "streams not consumed exactly";
    return "";
}
