#include "ZipExtraction.h"

#include "ZipInflater.h"

bool extractStored(const uint8_t* data, uint64_t size, ZipReaderCallback& sink,
                   ZipOutputCheck& check, uint32_t maxWrite)
{
    if (maxWrite == 0)
        return false;
    do {
        const uint32_t piece = size < maxWrite ? static_cast<uint32_t>(size) : maxWrite;
        if (!check.deliver(sink, data, piece))
            return false;
        data += piece;
        size -= piece;
    } while (size != 0);
    return true;
}

namespace {

// Hands the compressed data to the inflater a piece at a time; almost always
// one piece holds it all.
class InputFeed
{
public:
    InputFeed(const uint8_t* data, uint64_t size, uint32_t maxPiece)
        : next(data), remaining(size), maxPiece(maxPiece > 0x7FFFFFFFu ? 0x7FFFFFFFu : maxPiece)
    {
    }

    bool empty() const { return remaining == 0; }

    void feed(ZipInflater& inflater)
    {
        const uint32_t piece = remaining < maxPiece ? static_cast<uint32_t>(remaining) : maxPiece;
        inflater.setInput(next, static_cast<int32_t>(piece));
        next += piece;
        remaining -= piece;
    }

private:
    const uint8_t* next;
    uint64_t remaining;
    uint32_t maxPiece;
};

} // namespace

bool extractDeflated(const uint8_t* data, uint64_t size, ZipReaderCallback& sink,
                     ZipOutputCheck& check, uint32_t maxInput)
{
    if (maxInput == 0)
        return false;
    ZipInflater inflater;
    inflater.start();
    InputFeed input(data, size, maxInput);
    input.feed(inflater);

    for (;;) {
        if (inflater.inputLeft() == 0 && !input.empty())
            input.feed(inflater);
        const uint32_t inputBefore = inflater.inputLeft();
        const int s = inflater.step();
        if (s != 0 && s != 1)
            return false;
        const uint32_t produced = static_cast<uint32_t>(inflater.producedBytes());
        if (!check.deliver(sink, inflater.output(), produced))
            return false;
        if (s == 1)
            return true;
        // Nothing consumed and nothing produced: unless the next piece of input
        // is due, stepping again would change nothing (typically the input
        // ended before the deflate stream did).
        const bool stalled = produced == 0 && inflater.inputLeft() == inputBefore;
        if (stalled && (inputBefore != 0 || input.empty()))
            return false;
    }
}
