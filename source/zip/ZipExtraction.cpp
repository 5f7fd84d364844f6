#include "ZipExtraction.h"

#include "ZipInflater.h"

namespace {

// Pieces never pass one window, so each is read in place.
uint32_t pieceLimit(const ZipArchiveBytes& archive, uint32_t limit)
{
    const uint32_t window = archive.windowSize();
    return window < limit ? window : limit;
}

} // namespace

bool extractStored(ZipArchiveBytes& archive, uint64_t offset, uint64_t size,
                   ZipReaderCallback& sink, ZipOutputCheck& check, uint32_t maxWrite)
{
    maxWrite = pieceLimit(archive, maxWrite);
    if (maxWrite == 0)
        return false;
    std::vector<uint8_t> unused;
    do {
        const uint32_t piece = size < maxWrite ? static_cast<uint32_t>(size) : maxWrite;
        const uint8_t* data = archive.read(offset, piece, unused);
        if (data == nullptr || !check.deliver(sink, data, piece))
            return false;
        offset += piece;
        size -= piece;
    } while (size != 0);
    return true;
}

namespace {

// Hands the compressed data to the inflater a piece at a time, each piece a
// view of the archive that stays valid until the next one is taken.
class InputFeed
{
public:
    InputFeed(ZipArchiveBytes& archive, uint64_t offset, uint64_t size, uint32_t maxPiece)
        : archive(archive), next(offset), remaining(size),
          maxPiece(maxPiece > 0x7FFFFFFFu ? 0x7FFFFFFFu : maxPiece)
    {
    }

    bool empty() const { return remaining == 0; }

    bool feed(ZipInflater& inflater)
    {
        const uint32_t piece = remaining < maxPiece ? static_cast<uint32_t>(remaining) : maxPiece;
        const uint8_t* data = archive.read(next, piece, unused);
        if (data == nullptr)
            return false;
        inflater.setInput(data, static_cast<int32_t>(piece));
        next += piece;
        remaining -= piece;
        return true;
    }

private:
    ZipArchiveBytes& archive;
    std::vector<uint8_t> unused;
    uint64_t next;
    uint64_t remaining;
    uint32_t maxPiece;
};

} // namespace

bool extractDeflated(ZipArchiveBytes& archive, uint64_t offset, uint64_t size,
                     ZipReaderCallback& sink, ZipOutputCheck& check, uint32_t maxInput)
{
    maxInput = pieceLimit(archive, maxInput);
    if (maxInput == 0)
        return false;
    ZipInflater inflater;
    inflater.start();
    InputFeed input(archive, offset, size, maxInput);
    if (!input.feed(inflater))
        return false;

    for (;;) {
        if (inflater.inputLeft() == 0 && !input.empty() && !input.feed(inflater))
            return false;
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
