#pragma once
#include <cstddef>
#include <cstdint>

// The one rule the address filter's encoder and restorer share: where an x86-64
// instruction with a RIP-relative disp32 operand starts. Such operands name one
// global (an import slot, a constant, a variable) by its distance from the
// instruction, so the same global looks different from every place that uses it;
// made absolute, the references repeat and compress (bench/branch_filter.cpp).
// The rule only has to be the same on both sides, not exact about instructions.

// How many bytes a scan position needs: opcode bytes and the whole disp32.
const size_t kAddressScanBytes = 7;

// The offset of the disp32 field from `at`, or 0 when no candidate starts
// there. It decides on the bytes before the field only (a restorer sees the
// field converted); the caller guarantees kAddressScanBytes are readable.
inline size_t addressFieldAt(const uint8_t* at)
{
    const uint8_t a = at[0], b = at[1];
    // call/jmp qword [rip+disp32]: calls through the import table.
    if (a == 0xFF && (b == 0x15 || b == 0x25))
        return 2;
    const bool ripModrm = (at[2] & 0xC7) == 0x05;
    // REX prefix, then mov/lea/movsxd/arithmetic with a [rip+disp32] operand.
    if ((a & 0xF0) == 0x40 && ripModrm) {
        switch (b) {
        case 0x03: case 0x0B: case 0x23: case 0x2B: case 0x33: case 0x39: case 0x3B:
        case 0x63: case 0x85: case 0x89: case 0x8B: case 0x8D:
            return 3;
        default:
            return 0;
        }
    }
    // SSE loads, stores and compares of constants: 0F op [rip+disp32].
    if (a == 0x0F && ripModrm) {
        switch (b) {
        case 0x10: case 0x11: case 0x28: case 0x29: case 0x2E: case 0x2F:
        case 0x54: case 0x57: case 0x58: case 0x59: case 0x5C: case 0x5E:
            return 3;
        default:
            return 0;
        }
    }
    return 0;
}
