// The branch-split filter: every input comes back byte for byte through any piece size and
// variant, real code converts, and a lying filtered form fails without overrunning its size.
#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>

#include "FilterDecode.h"
#include "SolidFilter.h"

namespace {

using Bytes = std::vector<uint8_t>;

Decoded decode(const Bytes& filtered, uint64_t size, size_t capacity,
               const BranchSplitVariant& variant = BranchSplitVariant())
{
    BranchSplitDecoder decoder(filtered.data(), filtered.size(), size, variant);
    return decodeInPieces(decoder, capacity);
}

size_t targetBytes(const Bytes& filtered)
{
    size_t length = 0;
    for (int i = 7; i >= 0; --i)
        length = length << 8 | filtered[17 + i];
    return length;
}

// `n` bytes with E8 rel32 at `at` pointing at `target` (relative to the file's start).
Bytes callTo(size_t n, size_t at, int64_t target)
{
    Bytes data(n, 0x90);
    const uint32_t rel = uint32_t(target - int64_t(at + 5));
    data[at] = 0xE8;
    std::memcpy(&data[at + 1], &rel, 4);
    return data;
}

Bytes randomBytes(size_t n, uint32_t seed, uint8_t branchEvery)
{
    std::mt19937 random(seed);
    Bytes data(n);
    for (uint8_t& b : data)
        b = uint8_t(random());
    // Sprinkle near branches so that many convert.
    for (size_t i = 0; branchEvery && i + 6 < n; i += branchEvery) {
        const uint8_t opcodes[] = {0xE8, 0xE9, 0x0F};
        data[i] = opcodes[random() % 3];
        data[i + 1] = data[i] == 0x0F ? uint8_t(0x80 | (random() & 15)) : uint8_t(random());
        data[i + 3] = data[i + 4] = data[i + 5] = 0;
    }
    return data;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct RoundTrip
{
    const char* name;
    Bytes data;
    int converted; // targets the default variant stores, -1 when not checked
};

TEST(BranchFilterTest, RoundTripsThroughEveryPieceSizeAndVariant)
{
    std::vector<RoundTrip> cases = {
        {"empty", {}, 0},
        {"E8 at every position", Bytes(64, 0xE8), 0},
        {"E8 last byte", Bytes{1, 2, 3, 0xE8}, 0},
        {"E8 operand one byte short", Bytes{0xE8, 0xFB, 0xFF, 0xFF}, 0},
        {"E8 operand ending at the end", Bytes{0xE8, 0xFB, 0xFF, 0xFF, 0xFF}, 1},
        {"target 0", callTo(40, 10, 0), 1},
        {"target n-1", callTo(40, 10, 39), 1},
        {"target n", callTo(40, 10, 40), 0},
        {"target -1", callTo(40, 10, -1), 0},
        {"E8 chain with small operands", concat({Bytes(20, 0xE8), Bytes(4, 0), Bytes(9, 0xE8)}), -1},
        {"converted then not", concat({callTo(12, 0, 3), callTo(12, 2, 1000)}), 1},
        {"jcc and jumps kept by default", Bytes{0x0F, 0x84, 0, 0, 0, 0, 0xE9, 0xF5, 0xFF, 0xFF, 0xFF, 0x0F, 0x8F}, 0},
        {"random", randomBytes(100000, 1, 0), -1},
        {"random with branches", randomBytes(100000, 2, 7), -1},
    };
    const char* wine = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/";
    for (const char* dll : {"kernel32.dll", "ntdll.dll", "msvcrt.dll"}) {
        std::ifstream in(std::string(wine) + dll, std::ios::binary);
        if (in)
            cases.push_back({dll, Bytes(std::istreambuf_iterator<char>(in), {}), -1});
    }
    const bool haveDlls = cases.size() > 14;
    // The default, then each other choice of the rule.
    std::vector<BranchSplitVariant> variants(5);
    variants[1].jumps = !variants[0].jumps;
    variants[2].conditional = !variants[0].conditional;
    variants[3].deltaTargets = !variants[0].deltaTargets;
    variants[4].byteFlags = !variants[0].byteFlags;

    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes filtered = branchSplitEncode(c.data.data(), c.data.size());
        if (c.converted >= 0) {
            EXPECT_EQ(targetBytes(filtered), size_t(c.converted) * 4);
        }
        if (c.data.size() > 100000) {
            EXPECT_GT(targetBytes(filtered), c.data.size() / 1000); // real code converts
        }
        for (size_t v = 0; v < variants.size(); ++v) {
            const Bytes form = branchSplitEncode(c.data.data(), c.data.size(), variants[v]);
            for (size_t capacity : {BranchSplitDecoder::kMinPiece, size_t(17), size_t(4096), c.data.size() + 16}) {
                SCOPED_TRACE("variant " + std::to_string(v) + ", piece " + std::to_string(capacity));
                const Decoded out = decode(form, c.data.size(), capacity, variants[v]);
                EXPECT_TRUE(out.ok) << out.error;
                EXPECT_TRUE(out.finished) << out.error;
                EXPECT_TRUE(out.bytes == c.data);
            }
        }
    }
    if (!haveDlls)
        GTEST_SKIP() << "no Wine DLLs under " << wine << "; crafted inputs only";
}

void setLength(Bytes& form, int field, uint64_t length)
{
    for (int i = 0; i < 8; ++i)
        form[1 + 8 * field + i] = uint8_t(length >> (8 * i));
}

TEST(BranchFilterTest, RefusesLyingFormsWithinTheSize)
{
    // One converted call, one that is not, so the form holds every stream.
    const Bytes data = concat({callTo(12, 0, 3), callTo(12, 2, 1000)});
    const Bytes good = branchSplitEncode(data.data(), data.size());
    const bool byteFlags = BranchSplitVariant().byteFlags;
    const size_t flagBytes = byteFlags ? 2 : 1;
    const size_t code = data.size() - 4, flagsAt = 25 + code, targetsAt = flagsAt + flagBytes;
    ASSERT_EQ(good.size(), targetsAt + 4);
    struct Lie
    {
        const char* name;
        std::function<void(Bytes&)> edit;
        int64_t sizeChange;
        const char* error; // nullptr: any reason
    };
    const Lie lies[] = {
        {"truncated", [](Bytes& f) { f.pop_back(); }, 0, "stream lengths do not match the filtered form"},
        {"shorter than the header", [](Bytes& f) { f.resize(10); }, 0, "filtered form shorter than its header"},
        {"unknown format", [](Bytes& f) { f[0] = 2; }, 0, "unknown branch filter format"},
        {"code longer than the data", [&](Bytes& f) { setLength(f, 0, code + 1); }, 0,
         "stream lengths do not match the filtered form"},
        {"code shorter, targets longer", [&](Bytes& f) { setLength(f, 0, code - 4); setLength(f, 2, 8); }, 0,
         nullptr},
        {"extra trailing byte", [](Bytes& f) { f.push_back(0); }, 0, "stream lengths do not match the filtered form"},
        {"flags claim another target", [&](Bytes& f) { f[flagsAt + byteFlags] |= byteFlags ? 1 : 2; }, 0,
         "branch targets run out"},
        {"extra flag byte", [&](Bytes& f) { f.insert(f.begin() + targetsAt, 0); setLength(f, 1, flagBytes + 1); }, 0,
         "streams not consumed exactly"},
        {"flag neither set nor clear", [&](Bytes& f) { f[flagsAt] |= byteFlags ? 2 : 0x80; }, 0,
         byteFlags ? "branch flag neither 0 nor 1" : "streams not consumed exactly"},
        {"target at the size", [&](Bytes& f) { f[targetsAt + 3] = uint8_t(data.size()); }, 0,
         "branch target outside the file"},
        {"size one more", [](Bytes&) {}, 1, "stream lengths do not match the size"},
        {"size one less", [](Bytes&) {}, -1, "stream lengths do not match the size"},
        {"size past 4 GiB", [](Bytes&) {}, int64_t(1) << 32, "stream lengths do not match the size"},
    };
    for (const Lie& lie : lies) {
        SCOPED_TRACE(lie.name);
        Bytes form = good;
        lie.edit(form);
        const uint64_t size = data.size() + lie.sizeChange;
        for (size_t capacity : {BranchSplitDecoder::kMinPiece, size_t(4096)}) {
            const Decoded out = decode(form, size, capacity);
            EXPECT_FALSE(out.ok && out.finished);
            EXPECT_LE(out.bytes.size(), size);
            if (lie.error != nullptr)
                EXPECT_STREQ(out.error.c_str(), lie.error);
            else
                EXPECT_NE(out.error, ""); // where it shows depends on how flags are packed
        }
    }
}

TEST(BranchFilterTest, ChoosesTheFilterByMachine)
{
    Bytes pe(0x100, 0);
    pe[0] = 'M', pe[1] = 'Z', pe[0x3C] = 0x80;
    std::memcpy(&pe[0x80], "PE\0\0\x64\x86", 6);
    Bytes elf(64, 0);
    std::memcpy(&elf[0], "\x7F" "ELF\x02\x01", 6);
    elf[18] = 62;
    const Bytes text(100, 'a');
    using Edit = std::function<void(Bytes&)>;
    const struct
    {
        const char* name;
        const Bytes& image;
        Edit edit;
        size_t size; // 0: the whole image
        uint8_t filter;
    } cases[] = {
        {"x86-64 PE", pe, [](Bytes&) {}, 0, kFilterAddressBranchSplit},
        {"i386 PE", pe, [](Bytes& b) { b[0x84] = 0x4C, b[0x85] = 0x01; }, 0, kFilterBranchSplit},
        {"ARM64 PE", pe, [](Bytes& b) { b[0x84] = 0x64, b[0x85] = 0xAA; }, 0, kFilterNone},
        {"bad PE signature", pe, [](Bytes& b) { b[0x82] = 'X'; }, 0, kFilterNone},
        {"PE header past the end", pe, [](Bytes& b) { b[0x3D] = 0xFF; }, 0, kFilterNone},
        {"PE header cut off", pe, [](Bytes&) {}, 0x84, kFilterNone},
        {"x86-64 ELF", elf, [](Bytes&) {}, 0, kFilterAddressBranchSplit},
        {"i386 ELF", elf, [](Bytes& b) { b[18] = 3; }, 0, kFilterBranchSplit},
        {"AArch64 ELF", elf, [](Bytes& b) { b[18] = 183; }, 0, kFilterNone},
        {"big-endian ELF", elf, [](Bytes& b) { b[5] = 2; }, 0, kFilterNone},
        {"text", text, [](Bytes&) {}, 0, kFilterNone},
    };
    for (const auto& c : cases) {
        Bytes image = c.image;
        c.edit(image);
        EXPECT_EQ(solidFilterFor(image.data(), c.size ? c.size : image.size()), c.filter) << c.name;
    }
}

} // namespace
