// The decompression object on its own: its guards and its fixed output buffer.
#include <gtest/gtest.h>

#include "TestZip.h"
#include "ZipInflater.h"

TEST(Inflater, GuardsBeforeStartAndOnBadInput)
{
    ZipInflater inflater;
    EXPECT_EQ(-1, inflater.step()); // never started
    const uint8_t byte = 0;
    EXPECT_EQ(-1, inflater.setInput(nullptr, 1));
    EXPECT_EQ(-1, inflater.setInput(&byte, -1));
    EXPECT_EQ(0u, inflater.inputLeft());
    EXPECT_EQ(0, inflater.setInput(&byte, 1)); // starts on demand
    EXPECT_EQ(1u, inflater.inputLeft());
}

TEST(Inflater, StepWithoutInputReturnsStatusAndProducesNothing)
{
    ZipInflater inflater;
    ASSERT_EQ(0, inflater.start());
    EXPECT_EQ(0, inflater.start()); // a second start changes nothing
    EXPECT_EQ(0, inflater.step());
    EXPECT_EQ(0, inflater.producedBytes());
}

TEST(Inflater, OutputNeverExceedsTheChunkAndReassemblesTheData)
{
    const std::string text = patternBytes(20000, 21) + std::string(30000, 'b');
    const std::string packed = deflateRaw(text);
    for (uint32_t chunk : {1u, 7u, 1000u, 65536u}) {
        ZipInflater inflater(chunk);
        inflater.start();
        ASSERT_EQ(0, inflater.setInput(bytes(packed), static_cast<int32_t>(packed.size())));
        std::string out;
        int s = 0;
        for (int guard = 0; guard < 200000 && s == 0; ++guard) {
            s = inflater.step();
            ASSERT_LE(inflater.producedBytes(), static_cast<int64_t>(chunk));
            out.append(reinterpret_cast<const char*>(inflater.output()),
                       static_cast<size_t>(inflater.producedBytes()));
        }
        EXPECT_EQ(1, s) << chunk;
        EXPECT_EQ(text, out) << chunk;
        inflater.release();
        EXPECT_EQ(-1, inflater.step()) << chunk; // released means not started
    }
}

TEST(Inflater, DataErrorWithoutAHeaderFailsAndCountsNothing)
{
    const std::string packed = deflateRawUnfinished("some text") + std::string("\x00\x01\x00\x00\x00", 5);
    ZipInflater inflater;
    inflater.start();
    inflater.setInput(bytes(packed), static_cast<int32_t>(packed.size()));
    EXPECT_EQ(-1, inflater.step());
    EXPECT_EQ(0, inflater.producedBytes());
}
