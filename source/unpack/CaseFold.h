#pragma once
#include <cstdint>
#include <string>

// Windows compares file names without letter case beyond ASCII too: Ärger.txt
// and ärger.txt are one file. The letters of the Latin-1, Latin Extended-A,
// Greek and Cyrillic blocks and the full-width Latin ones, lowered; any other
// code point as it is.
uint32_t foldLetterCase(uint32_t code);

// A name marked UTF-8 with every letter folded (ASCII ones included), for the
// collision check. A name that is not UTF-8 comes back as it is.
std::string foldNameCase(const std::string& utf8);
