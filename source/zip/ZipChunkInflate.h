#pragma once
#include <cstdint>
#include <string>

#include "ZipArchiveBytes.h"
#include "ZipChunkIndex.h"
#include "ZipReaderCallback.h"

// Inflates one chunk of an indexed entry on its own, from the entry's data at
// `dataOffset` in the archive. The chunk is accepted only when it yields
// exactly what the entry's single stream would at that place: it must start
// on a byte-aligned block with nothing before it referenced, end on a
// byte-aligned block boundary (the last chunk: at the stream's end, on no
// byte more), and inflate to its size and CRC-32. Its bytes go to
// `sink.write` in order, in pieces; memory stays a fixed buffer whatever the
// chunk claims. On failure `why` names the chunk and what went wrong.
bool inflateChunk(ZipArchiveBytes& archive, uint64_t dataOffset, const ZipChunk& chunk, size_t number,
                  size_t count, ZipReaderCallback& sink, std::string& why);
