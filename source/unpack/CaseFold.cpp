#include "CaseFold.h"

#include "Utf8.h"

namespace {

// Upper-case letters that sit in pairs with their lower-case form right
// after them (even or odd code points, as the block has it).
struct PairedRange {
    uint16_t first;
    uint16_t last;
};

const PairedRange kPairs[] = {
    {0x0100, 0x012F}, {0x0132, 0x0137}, {0x0139, 0x0148}, {0x014A, 0x0177},
    {0x0179, 0x017E}, {0x03D8, 0x03EF}, {0x0460, 0x0481}, {0x048A, 0x04BF},
    {0x04C1, 0x04CE}, {0x04D0, 0x052F},
};

// Upper-case letters whose lower-case form lies elsewhere.
struct SingleLetter {
    uint16_t upper;
    uint16_t lower;
};

const SingleLetter kSingles[] = {
    {0x0178, 0x00FF}, // Y with diaeresis
    {0x03C2, 0x03C3}, // final sigma compares as sigma
    {0x0386, 0x03AC}, {0x0388, 0x03AD}, {0x0389, 0x03AE}, {0x038A, 0x03AF},
    {0x038C, 0x03CC}, {0x038E, 0x03CD}, {0x038F, 0x03CE},
};

} // namespace

uint32_t foldLetterCase(uint32_t code)
{
    if ((code >= 'A' && code <= 'Z') || (code >= 0x00C0 && code <= 0x00DE && code != 0x00D7) ||
        (code >= 0x0391 && code <= 0x03AB && code != 0x03A2) || (code >= 0x0410 && code <= 0x042F) ||
        (code >= 0xFF21 && code <= 0xFF3A))
        return code + 0x20;
    if (code >= 0x0400 && code <= 0x040F)
        return code + 0x50;
    for (const SingleLetter& letter : kSingles) {
        if (code == letter.upper)
            return letter.lower;
    }
    for (const PairedRange& range : kPairs) {
        if (code >= range.first && code <= range.last)
            return ((code - range.first) % 2 == 0) ? code + 1 : code;
    }
    return code;
}

std::string foldNameCase(const std::string& utf8)
{
    std::string folded;
    folded.reserve(utf8.size());
    for (size_t at = 0; at < utf8.size();) {
        uint32_t code = 0;
        if (!nextUtf8(utf8, at, code))
            return utf8;
        appendUtf8(folded, foldLetterCase(code));
    }
    return folded;
}
