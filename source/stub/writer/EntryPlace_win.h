#pragma once
#include <cstdint>
#include <string>

// What an earlier run, another program or the user may have left where an
// entry's file goes. Results are system error codes, 0 on success.

// True when the file at `target` (a form for file calls) has exactly `size`
// bytes with CRC-32 `crc`; read without asking for write access and sharing
// reading only, so that nobody can change it while it is compared.
bool fileHoldsContent(const std::wstring& target, uint64_t size, uint32_t crc);

// Renames what stands at `path` (a folder where a file goes, a file where a
// folder goes) to the first free "<path>.moved-<n>" beside it, named in
// `aside`. Its content is kept: it may be someone's data.
uint32_t moveAside(const std::wstring& path, std::wstring& aside);

// Clears the read-only, hidden and system marks of the file at `target`
// that stop it from being replaced; 0 when there are none or no file.
uint32_t clearBlockingAttributes(const std::wstring& target);
