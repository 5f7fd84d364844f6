#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The name a file is written under before it replaces an entry's file:
// "<path>.~<process id, hex>" for n == 0, "<path>.~<process id>-<n>" after.
std::wstring temporaryName(const std::wstring& path, uint32_t processId, unsigned n);

// The length of the ".~<id>[-n]" that `name` ends in, as temporaryName makes
// it; 0 when it ends in no such suffix.
size_t temporarySuffixLength(const std::wstring& name);
