#pragma once
#include <string>
#include <vector>

#include "pack/PackPipeline.h"
#include "pack/SolidPlan.h"
#include "pack/SourceTree.h"

class Progress;
class ZipWriter;

// `pack --solid`: the files go into solid blocks (pack/SolidPlan.h), each
// file through its filter, each block a zstd frame compressed on a worker
// thread (the first block, when it is a prefix, is read before the others
// start, since they refer to it). The writer takes every entry in sorted
// order; a block's frame is the data of its first file. Files that cannot go
// into a block (empty, or too large) are written as in a plain pack.
// False when this build has no zstd encoder (the Windows tool).
bool packSolidEntries(const std::vector<SourceEntry>& entries, const SolidOptions& options, ZipWriter& writer,
                      Progress& progress, std::string& error, PackTaskTimes* times = nullptr);

// Whether this build can pack solid installers.
bool solidPackAvailable();
