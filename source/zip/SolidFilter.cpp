#include "SolidFilter.h"

#include <cstring>

#include "ZipBytes.h"

namespace {

enum class Machine { Other, X86, X86_64 };

Machine machineOf(const uint8_t* data, size_t size)
{
    unsigned machine = 0;
    if (size >= 20 && data[0] == 0x7F && data[1] == 'E' && data[2] == 'L' && data[3] == 'F' && data[5] == 1) {
        machine = data[18] | data[19] << 8;
        return machine == 3 ? Machine::X86 : machine == 62 ? Machine::X86_64 : Machine::Other;
    }
    if (size < 0x40 || data[0] != 'M' || data[1] != 'Z')
        return Machine::Other;
    const uint32_t peOffset = readU32(data + 0x3C);
    if (peOffset > size || size - peOffset < 6)
        return Machine::Other;
    const uint8_t* pe = data + peOffset;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0)
        return Machine::Other;
    machine = pe[4] | pe[5] << 8;
    return machine == 0x014C ? Machine::X86 : machine == 0x8664 ? Machine::X86_64 : Machine::Other;
}

} // namespace

uint8_t solidFilterFor(const uint8_t* data, size_t size)
{
    switch (machineOf(data, size)) {
    case Machine::X86:
        return kFilterBranchSplit;
    case Machine::X86_64:
        return kFilterAddressBranchSplit;
    default:
        return kFilterNone;
    }
}

std::vector<uint8_t> solidFilterEncode(uint8_t filter, const uint8_t* data, size_t size)
{
    if (filter != kFilterAddressBranchSplit)
        return branchSplitEncode(data, size);
    std::vector<uint8_t> converted(data, data + size);
    addressEncode(converted.data(), converted.size());
    return branchSplitEncode(converted.data(), converted.size());
}

SolidFilterDecoder::SolidFilterDecoder(uint8_t filter, const uint8_t* filtered, size_t filteredSize, uint64_t size)
    : split(filtered, filteredSize, size), addresses(filter == kFilterAddressBranchSplit), restorer(size)
{
    if (filter != kFilterBranchSplit && filter != kFilterAddressBranchSplit)
        failure = "unknown filter";
}

bool SolidFilterDecoder::next(uint8_t* out, size_t capacity, size_t& produced)
{
    produced = 0;
    if (failure != nullptr)
        return false;
    if (!addresses)
        return split.next(out, capacity, produced);
    if (capacity < kMinPiece) {
        failure = "piece smaller than the decoder accepts";
        return false;
    }
    std::memcpy(out, carry, carried);
    size_t got = 0;
    if (!split.next(out + carried, capacity - carried, got))
        return false;
    const size_t total = carried + got;
    // Nothing more comes once the split stops producing.
    produced = restorer.restore(out, total, got == 0 || split.finished());
    carried = total - produced;
    if (carried > sizeof carry) {
        failure = "address restorer held back too much";
        return false;
    }
    std::memcpy(carry, out + produced, carried);
    return true;
}

bool SolidFilterDecoder::finished() const
{
    return failure == nullptr && carried == 0 && split.finished();
}

const char* SolidFilterDecoder::error() const
{
    return failure != nullptr ? failure : split.error();
}
