#pragma once
#include <cstdint>

// FNV-1a, 64 bits: a quick, stable hash for names (not for anything an
// attacker must not steer). Start from kFnv1aStart, fold in byte by byte.
constexpr uint64_t kFnv1aStart = 14695981039346656037ull;

constexpr uint64_t fnv1aByte(uint64_t hash, uint8_t byte)
{
    return (hash ^ byte) * 1099511628211ull;
}
