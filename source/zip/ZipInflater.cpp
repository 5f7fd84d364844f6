#include "ZipInflater.h"

#include <cstdlib>
#include <zlib.h>

#include "ZipRecords.h"

namespace {

// Raw deflate data: no zlib or gzip wrapper, 32 KiB window.
const int kRawWindowBits = -15;

int initRaw(z_stream* stream)
{
    stream->zalloc = Z_NULL;
    stream->zfree = Z_NULL;
    stream->opaque = Z_NULL;
    return inflateInit2_(stream, kRawWindowBits, ZLIB_VERSION, static_cast<int>(sizeof(z_stream)));
}

} // namespace

ZipInflater::ZipInflater(uint32_t chunkSize) : chunkSize(chunkSize) {}

ZipInflater::~ZipInflater()
{
    release();
}

int ZipInflater::start()
{
    if (started)
        return status;
    if (!stream)
        stream = static_cast<z_stream*>(std::calloc(1, sizeof(z_stream)));
    if (!stream) {
        status = Z_MEM_ERROR;
        return status;
    }
    stream->next_in = Z_NULL;
    stream->avail_in = 0;
    status = initRaw(stream);
    if (status != Z_OK)
        return status;
    started = true;
    produced = 0;
    outputPending = false;

    if (!outputBuffer) {
        outputBuffer = static_cast<uint8_t*>(std::malloc(chunkSize));
        if (!outputBuffer) {
            // Without a buffer no step may run: fall back to "not started".
            inflateEnd(stream);
            started = false;
            status = Z_MEM_ERROR;
            return status;
        }
        outputCapacity = chunkSize;
    }
    return status;
}

int ZipInflater::setInput(const uint8_t* data, int32_t length)
{
    if (!data || length < 0)
        return kFailed;
    if (!started) {
        const int code = start();
        if (code != Z_OK)
            return code;
    }
    outputPending = false;
    stream->next_in = const_cast<Bytef*>(data);
    stream->avail_in = static_cast<uInt>(length);
    return Z_OK;
}

uint32_t ZipInflater::inputLeft() const
{
    return started ? stream->avail_in : 0;
}

bool ZipInflater::restartStream()
{
    // A fresh init leaves the buffer pointers alone, but keep them explicitly
    // so that the output of the first inflate call is not lost.
    Bytef* nextIn = stream->next_in;
    const uInt availIn = stream->avail_in;
    Bytef* nextOut = stream->next_out;
    const uInt availOut = stream->avail_out;
    inflateEnd(stream);
    if (initRaw(stream) != Z_OK) {
        started = false;
        return false;
    }
    stream->next_in = nextIn;
    stream->avail_in = availIn;
    stream->next_out = nextOut;
    stream->avail_out = availOut;
    return true;
}

int ZipInflater::step()
{
    if (!started) {
        status = kFailed;
        return status;
    }
    produced = 0;
    if (stream->avail_in == 0 && !outputPending)
        return status;

    stream->next_out = outputBuffer;
    stream->avail_out = outputCapacity;
    const Bytef* outBefore = stream->next_out;

    status = inflate(stream, Z_SYNC_FLUSH);
    if (status == Z_DATA_ERROR) {
        ZipLocalHeader header;
        uint32_t headerLength = 0;
        if (!header.parse(stream->next_in, stream->avail_in, headerLength) || !restartStream()) {
            status = kFailed;
            return status;
        }
        stream->next_in += headerLength;
        stream->avail_in -= headerLength;
        status = inflate(stream, Z_SYNC_FLUSH);
    }

    produced = stream->next_out - outBefore;
    if (status == Z_OK && stream->avail_in == 0 && stream->avail_out == 0)
        outputPending = true;

    if (status == Z_STREAM_END) {
        inflateEnd(stream);
        return 1;
    }
    if (status >= 0)
        return status;
    if (status == Z_BUF_ERROR) {
        // No progress was possible this time; not an error by itself.
        status = Z_OK;
        return status;
    }
    inflateEnd(stream);
    return status;
}

void ZipInflater::release()
{
    std::free(outputBuffer);
    outputBuffer = nullptr;
    outputCapacity = 0;
    produced = 0;
    if (stream) {
        inflateEnd(stream);
        std::free(stream);
        stream = nullptr;
    }
    started = false;
    outputPending = false;
}
