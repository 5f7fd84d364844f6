#pragma once
#include <cstdint>

struct z_stream_s;

// Raw deflate decompression through one fixed output buffer. Each step
// refills the buffer from its first byte. A data error is passed over when
// another entry's local header begins exactly where the decompressor stopped
// reading: decompression resumes after that header as a new stream.
class ZipInflater
{
public:
    static const uint32_t kDefaultChunkSize = 0x40000;
    // Our own code for "not started" and for an unrecoverable data error.
    static const int kFailed = -1;

    explicit ZipInflater(uint32_t chunkSize = kDefaultChunkSize);
    ~ZipInflater();

    ZipInflater(const ZipInflater&) = delete;
    ZipInflater& operator=(const ZipInflater&) = delete;

    int start();
    // Null data or a negative length is refused with -1 and changes nothing.
    int setInput(const uint8_t* data, int32_t length);
    // 0: more to come; 1: end of the deflate stream; anything else: failure.
    int step();
    void release();

    // What the last step produced, at the start of the output buffer.
    const uint8_t* output() const { return outputBuffer; }
    int64_t producedBytes() const { return produced; }
    // Compressed bytes not yet consumed.
    uint32_t inputLeft() const;

private:
    bool restartStream();

    uint32_t chunkSize;
    z_stream_s* stream = nullptr;
    uint8_t* outputBuffer = nullptr;
    uint32_t outputCapacity = 0;
    int64_t produced = 0;
    int status = 0;
    bool started = false;
    bool outputPending = false;
};
