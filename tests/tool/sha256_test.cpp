#include <gtest/gtest.h>

#include <string>

#include "inspect/Sha256.h"

namespace {

struct Vector {
    const char* name;
    std::string message;
    const char* digest;
};

// The published FIPS 180-2 examples, plus the empty message.
const Vector kVectors[] = {
    {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"a million a", std::string(1000000, 'a'),
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

// Each vector at once and in pieces that straddle the 64-byte blocks and the
// padding's 56-byte boundary: the digest must not depend on how data arrives.
TEST(Sha256, PublishedVectorsWhateverThePieces)
{
    for (const Vector& v : kVectors) {
        for (size_t piece : {size_t(0), size_t(1), size_t(55), size_t(63), size_t(64), size_t(1000)}) {
            Sha256 hash;
            const uint8_t* data = reinterpret_cast<const uint8_t*>(v.message.data());
            const size_t step = piece == 0 ? v.message.size() : piece;
            for (size_t at = 0; at < v.message.size(); at += step)
                hash.update(data + at, std::min(step, v.message.size() - at));
            EXPECT_EQ(hash.hexDigest(), v.digest) << v.name << " in pieces of " << piece;
        }
    }
}

} // namespace
