#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Strict UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF):
// the code point at `at`, which moves past it. False, with `at` unchanged,
// when the bytes there are not UTF-8.
bool nextUtf8(const std::string& text, size_t& at, uint32_t& code);

// Appends `code` to `out` as UTF-8.
void appendUtf8(std::string& out, uint32_t code);
