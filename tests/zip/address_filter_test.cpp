// The x86-64 filter: addresses made absolute, then the branch split. Every input comes back
// byte for byte through any piece size, candidates convert exactly as the rule says, and a
// damaged form fails without producing more than the file's size.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "FilterDecode.h"
#include "SolidFilter.h"

namespace {

using Bytes = std::vector<uint8_t>;

Decoded decodeForm(const Bytes& form, uint64_t size, size_t capacity)
{
    SolidFilterDecoder decoder(kFilterAddressBranchSplit, form.data(), form.size(), size);
    return decodeInPieces(decoder, capacity);
}

Bytes withAt(Bytes data, size_t at, Bytes insn)
{
    std::copy(insn.begin(), insn.end(), data.begin() + at);
    return data;
}

// Random bytes with a candidate of each kind sown every `every` bytes.
Bytes sown(size_t n, uint32_t seed, size_t every)
{
    std::mt19937 random(seed);
    Bytes data(n);
    for (uint8_t& b : data)
        b = uint8_t(random());
    const Bytes kinds[] = {{0xFF, 0x15}, {0x48, 0x8B, 0x05}, {0x4C, 0x8D, 0x0D}, {0x0F, 0x28, 0x05}};
    for (size_t at = 0, k = 0; every != 0 && at + 3 < n; at += every, ++k)
        data = withAt(data, at, kinds[k % 4]);
    return data;
}

TEST(AddressFilterTest, RoundTripsAndConvertsByTheRule)
{
    const Bytes lea = {0x48, 0x8D, 0x05, 0x10, 0, 0, 0}; // lea rax, [rip+0x10] at 0: names 0x17
    struct Case
    {
        const char* name;
        Bytes data;
        Bytes converted; // the address-filtered bytes where checked, else empty
    };
    std::vector<Case> cases = {
        {"empty", {}, {}},
        {"candidate one byte short of the end", Bytes(lea.begin(), lea.end() - 1),
         Bytes(lea.begin(), lea.end() - 1)},
        {"candidate ending at the end", lea, {0x48, 0x8D, 0x05, 0x17, 0, 0, 0}},
        {"import call wraps to zero", {0x90, 0xFF, 0x15, 0xF9, 0xFF, 0xFF, 0xFF, 0x90},
         {0x90, 0xFF, 0x15, 0, 0, 0, 0, 0x90}},
        {"no REX, no candidate", {0x8B, 0x05, 1, 2, 3, 4, 5, 6}, {0x8B, 0x05, 1, 2, 3, 4, 5, 6}},
        {"field starting a candidate is not rescanned", {0xFF, 0x25, 0xFF, 0x25, 0, 0, 0, 0, 0},
         {0xFF, 0x25, 0x05, 0x26, 0, 0, 0, 0, 0}},
        {"candidates at every position", sown(4000, 1, 1), {}},
        {"random", sown(100000, 2, 0), {}},
        {"random with candidates", sown(100000, 3, 9), {}},
    };
    const char* wine = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/";
    for (const char* dll : {"kernel32.dll", "ntdll.dll"}) {
        std::ifstream in(std::string(wine) + dll, std::ios::binary);
        if (in)
            cases.push_back({dll, Bytes(std::istreambuf_iterator<char>(in), {}), {}});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes converted = c.data;
        addressEncode(converted.data(), converted.size());
        if (!c.converted.empty()) {
            EXPECT_TRUE(converted == c.converted);
        }
        if (c.data.size() > 200000) {
            size_t changed = 0;
            for (size_t i = 0; i < c.data.size(); ++i)
                changed += converted[i] != c.data[i];
            EXPECT_GT(changed, c.data.size() / 1000); // real x86-64 code converts
        }
        const Bytes form = solidFilterEncode(kFilterAddressBranchSplit, c.data.data(), c.data.size());
        for (size_t capacity : {SolidFilterDecoder::kMinPiece, SolidFilterDecoder::kMinPiece + 1, size_t(4096),
                                c.data.size() + SolidFilterDecoder::kMinPiece}) {
            SCOPED_TRACE("piece " + std::to_string(capacity));
            const Decoded out = decodeForm(form, c.data.size(), capacity);
            EXPECT_TRUE(out.finished) << out.error;
            EXPECT_TRUE(out.bytes == c.data);
        }
    }
}

TEST(AddressFilterTest, DamagedFormsFailWithinTheSize)
{
    const Bytes data = sown(5000, 4, 5);
    const Bytes form = solidFilterEncode(kFilterAddressBranchSplit, data.data(), data.size());
    const struct
    {
        const char* name;
        Bytes form;
        uint64_t size;
    } cases[] = {
        {"cut short", Bytes(form.begin(), form.end() - 3), data.size()},
        {"size larger than the form's", form, data.size() + 1},
        {"size smaller than the form's", form, data.size() - 1},
        {"empty form", {}, data.size()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded out = decodeForm(c.form, c.size, SolidFilterDecoder::kMinPiece);
        EXPECT_FALSE(out.finished);
        EXPECT_NE(out.error, "");
        EXPECT_LE(out.bytes.size(), c.size);
    }
    SolidFilterDecoder small(kFilterAddressBranchSplit, form.data(), form.size(), data.size());
    Bytes piece(SolidFilterDecoder::kMinPiece - 1);
    size_t produced = 0;
    EXPECT_FALSE(small.next(piece.data(), piece.size(), produced));
    SolidFilterDecoder unknown(kLastSolidFilter + 1, form.data(), form.size(), data.size());
    EXPECT_FALSE(unknown.next(piece.data(), piece.size(), produced));
    EXPECT_STREQ(unknown.error(), "unknown filter");
}

} // namespace
