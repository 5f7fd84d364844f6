#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Removes the temporaries "<file>.~<id>[-n]" that a run killed mid-write left
// beside the payload's own files (`files`: their names as the driver makes
// them, relative to the work area). Only names of that form whose <file> is
// one of `files`, and that are no entry themselves, are removed; nothing else
// in the work area is touched. Meant for a run that holds the work-area lock,
// when no other run can be writing. The count removed.
uint32_t removeKilledRunTemporaries(const std::vector<std::wstring>& files);
