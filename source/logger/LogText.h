#pragma once
#include <string>

// The log's 8-bit form of a line. Latin-1 characters and narrow bytes that
// records widened by sign extension (U+FF80..U+FFFF) come out as their byte;
// any other character, a surrogate pair counting as one, becomes '?', so that
// no character turns into a different one or, with a low byte of 0, cuts the
// line short.
std::string narrowLogText(const std::wstring& wide);
