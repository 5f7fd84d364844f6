#pragma once
#include <cstddef>
#include <string>

// Digest bytes as hex: lowercase for file digests, uppercase for the
// thumbprints Windows shows.
inline std::string hexText(const unsigned char* bytes, size_t length, bool upper = false)
{
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}
