#pragma once
#include <memory>
#include <string>

#include "FileMapping.h"

// Opens `path` for reading through bounded views, the way the stub reads its
// own file. Null, with a message naming the path and the system's reason,
// when the file cannot be opened or mapped or is no regular file.
std::unique_ptr<FileMapping> openMappedFile(const std::string& path, std::string& error);
