#pragma once
#include <cstddef>
#include <string>

// The longest full path that file calls take without the \\?\ prefix, and the
// shorter one of CreateDirectoryW, which keeps room for an 8.3 name.
const size_t kFilePathLimit = 259;
const size_t kFolderPathLimit = 247;

// The form of `path` to hand to file and folder calls: unchanged while its
// full form fits `limit`, else the full path (against the current directory,
// the work area) behind \\?\ (\\?\UNC\ for a share), which Windows takes whole.
std::wstring systemPath(const std::wstring& path, size_t limit);
