#include "EntryFile_win.h"

#include <cstdio>

#include "ZipReader.h"
#include "ZipReaderCallback.h"

namespace {

// Sends the entry's bytes to a file created (or truncated) by the C runtime.
class WideFileSink : public ZipReaderCallback
{
public:
    explicit WideFileSink(const std::wstring& path) : file_(_wfopen(path.c_str(), L"wb")) {}
    ~WideFileSink() override
    {
        if (file_)
            std::fclose(file_);
    }
    WideFileSink(const WideFileSink&) = delete;
    WideFileSink& operator=(const WideFileSink&) = delete;

    bool write(const uint8_t* data, uint32_t size) override
    {
        return file_ && std::fwrite(data, 1, size, file_) == size;
    }
    bool finish() override
    {
        FILE* taken = file_;
        file_ = nullptr;
        return taken && std::fclose(taken) == 0;
    }

private:
    FILE* file_;
};

} // namespace

bool writeEntryFile(ZipReader& reader, uint32_t index, const std::wstring& path)
{
    WideFileSink sink(path);
    return reader.extract(index, sink);
}
