#include "pack/SourceFile.h"

std::FILE* openSourceFile(const std::filesystem::path& path)
{
#ifdef _WIN32
    return _wfopen(path.c_str(), L"rb");
#else
    return std::fopen(path.c_str(), "rb");
#endif
}
