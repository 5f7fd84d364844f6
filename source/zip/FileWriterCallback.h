#pragma once
#include <cstdio>

#include "ZipReaderCallback.h"

// Writes an entry to a file opened with fopen(path, "wb"). A failed open is
// not reported here: the first write (or finish) fails instead.
class FileWriterCallback : public ZipReaderCallback
{
public:
    FileWriterCallback(const char* path, int reserved);
    ~FileWriterCallback() override;

    FileWriterCallback(const FileWriterCallback&) = delete;
    FileWriterCallback& operator=(const FileWriterCallback&) = delete;

    bool write(const uint8_t* data, uint32_t size) override;
    bool finish() override;

private:
    FILE* file;
};
