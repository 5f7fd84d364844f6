#pragma once
#include <cstdint>

#include "ZipArchiveBytes.h"
#include "ZipOutputCheck.h"
#include "ZipReaderCallback.h"

// The two data paths of one extraction. Both only deliver: the caller checks
// the result against the directory entry and calls finish(). The data is read
// in place, one window of the archive at a time.

// Largest single write of stored data; a sink's size is 32-bit, and a larger
// entry goes out in several writes rather than truncated.
const uint32_t kMaxStoredWrite = 0x40000000u;
// Largest piece of compressed input handed to the decompressor at once.
const uint32_t kMaxInflateInput = 0x40000000u;

// Sends `size` bytes from `offset` in writes of at most `maxWrite` bytes (one
// write of 0 bytes for an empty entry).
bool extractStored(ZipArchiveBytes& archive, uint64_t offset, uint64_t size,
                   ZipReaderCallback& sink, ZipOutputCheck& check,
                   uint32_t maxWrite = kMaxStoredWrite);

// Inflates `size` bytes of raw deflate data from `offset`, one write per
// step. Fails on a decompression error and when a step makes no progress
// (input that ends before the deflate stream does).
bool extractDeflated(ZipArchiveBytes& archive, uint64_t offset, uint64_t size,
                     ZipReaderCallback& sink, ZipOutputCheck& check,
                     uint32_t maxInput = kMaxInflateInput);
