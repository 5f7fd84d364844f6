#pragma once
#include <cstdint>
#include <string>

class ZipReader;

// Writes file entry `index` of `reader` to `path`, relative to the current
// directory (the work area). False when the entry could not be written whole.
bool writeEntryFile(ZipReader& reader, uint32_t index, const std::wstring& path);
