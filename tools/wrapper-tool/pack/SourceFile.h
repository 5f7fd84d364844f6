#pragma once
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct SourceEntry;

// Opens a file of the folder being packed for binary reading; null on failure
// (errno tells why).
std::FILE* openSourceFile(const std::filesystem::path& path);

// `length` bytes of `entry` from `offset` into `data`; when `endsFile`, the
// file must end there too. A file that changed size since the folder was
// read is an error, as is one that cannot be read (`error` names it).
bool readSourceBytes(const SourceEntry& entry, uint64_t offset, uint64_t length, bool endsFile,
                     std::vector<uint8_t>& data, std::string& error);
