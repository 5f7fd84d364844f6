#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

// The one rule the branch-split encoder and decoder share: which bytes start a branch whose
// operand may be converted, and the layout of the filtered form.

// Which branches the filter converts and how it stores them. The default is what the
// bench figures chose (bench/branch_filter.cpp): calls only, as jumps and Jcc mostly go
// nearby, where the relative operand is already small and repeats better than a target.
// Absolute targets beat deltas (-2.40 % against -2.08 % at zstd 19); flag bits and bytes
// tie within 0.02 % (bytes ahead at 19, bits at 22), so bits, as they keep the form smaller.
struct BranchSplitVariant
{
    bool jumps = false;          // E9 JMP rel32 besides E8 CALL rel32
    bool conditional = false;    // 0F 80..8F Jcc rel32
    bool deltaTargets = false;   // each target minus the previous one, instead of absolute
    bool byteFlags = false;      // one byte per candidate instead of one bit
};

// The filtered form: format byte, then the lengths of the code, flag and target streams
// (u64 little-endian each), then the three streams in that order.
const uint8_t kBranchSplitFormat = 1;
const size_t kBranchSplitHeader = 1 + 3 * 8;
const size_t kBranchOperand = 4;
// The most bytes one decoding step writes: 0F 8x and its operand.
const size_t kLongestBranch = 2 + kBranchOperand;

// How many bytes from `at` (of `count`) cannot start a branch, so both sides copy them at once.
inline size_t plainRun(const uint8_t* at, size_t count, const BranchSplitVariant& variant)
{
    if (!variant.jumps && !variant.conditional) {
        const void* call = std::memchr(at, 0xE8, count);
        return call != nullptr ? size_t(static_cast<const uint8_t*>(call) - at) : count;
    }
    size_t run = 0;
    while (run < count && at[run] != 0xE8 && at[run] != 0xE9 && at[run] != 0x0F)
        ++run;
    return run;
}

// The length of the branch opcode at `at` (1 for E8/E9, 2 for 0F 80..8F), or 0 when none
// starts there. `readable` bytes can be read at `at`; `left` bytes of the file remain from
// it, and a candidate needs its whole operand inside the file.
inline size_t branchOpcodeAt(const uint8_t* at, size_t readable, uint64_t left, const BranchSplitVariant& variant)
{
    size_t length = 0;
    if (at[0] == 0xE8 || (at[0] == 0xE9 && variant.jumps))
        length = 1;
    else if (at[0] == 0x0F && variant.conditional && readable >= 2 && (at[1] & 0xF0) == 0x80)
        length = 2;
    return length != 0 && left >= length + kBranchOperand ? length : 0;
}
