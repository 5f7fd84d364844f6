#include "FileWriterCallback.h"

FileWriterCallback::FileWriterCallback(const char* path, int /*reserved*/)
    : file(std::fopen(path, "wb"))
{
}

FileWriterCallback::~FileWriterCallback()
{
    if (file)
        std::fclose(file);
}

bool FileWriterCallback::write(const uint8_t* data, uint32_t size)
{
    if (!file)
        return false;
    return std::fwrite(data, 1, size, file) == size;
}

bool FileWriterCallback::finish()
{
    FILE* taken = file;
    file = nullptr;
    if (!taken)
        return false;
    return std::fclose(taken) == 0;
}
