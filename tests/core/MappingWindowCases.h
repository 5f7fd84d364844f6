#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "FileMapping.h"

// One set of cases for both platform halves of FileMapping: 4 KiB views,
// below the granularity of either platform, anywhere in the file, across
// granularity boundaries and at its last byte.

inline std::string windowTestContent()
{
    std::string content(200000, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 13 + (i >> 9));
    return content;
}

// `mapping` shows windowTestContent() through 4 KiB windows.
inline void expectSmallWindowsReadEveryPart(FileMapping& mapping, const std::string& content)
{
    struct Case {
        uint64_t offset;
        uint32_t length;
        bool readable;
    } cases[] = {
        {0, 4096, true},         {4000, 200, true},     {65530, 100, true},
        {131071, 4096, true},    {200000 - 4096, 4096, true},
        {199999, 1, true},       {200000, 0, true},     {0, 4097, false},
        {199999, 2, false},      {200001, 0, false},
    };
    for (const Case& c : cases) {
        const uint8_t* at = mapping.view(c.offset, c.length);
        ASSERT_EQ(c.readable, at != nullptr) << c.offset;
        if (at != nullptr && c.length != 0) {
            EXPECT_EQ(0, std::memcmp(at, content.data() + c.offset, c.length)) << c.offset;
        }
    }
    EXPECT_FALSE(mapping.error().failed());
}
