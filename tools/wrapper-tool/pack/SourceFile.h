#pragma once
#include <cstdio>
#include <filesystem>

// Opens a file of the folder being packed for binary reading; null on failure
// (errno tells why).
std::FILE* openSourceFile(const std::filesystem::path& path);
