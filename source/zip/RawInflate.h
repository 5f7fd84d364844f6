#pragma once
#include <zlib.h>

// zlib's raw inflate state (no header, the full window), ended whatever the way out.
class RawInflate {
public:
    RawInflate() { ready_ = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~RawInflate()
    {
        if (ready_)
            inflateEnd(&stream);
    }
    RawInflate(const RawInflate&) = delete;
    RawInflate& operator=(const RawInflate&) = delete;
    bool ready() const { return ready_; }

    z_stream stream{};

private:
    bool ready_ = false;
};
