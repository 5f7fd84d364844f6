#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "UnpackPlan.h"
#include "ZipEntryInfo.h"
#include "inspect/Json.h"

// How verify, list, extract and pack describe one entry and what the unpack
// plan decided for it: the one place that turns a planned entry into text.

// "stored", "deflated" or "other".
const char* methodName(uint16_t method);

// "entry 3 'donn\u00e9es/a.txt'": the index and the decoded name.
std::string entryLabel(size_t index, const PlannedEntry& planned);

// Why the stub stops at entry `index` (refused by the plan), one line:
// "entry 3 'x': name would leave the work area", or for a collision
// "entries 1 'A' and 2 'a': the same name on Windows, ...". With
// `withIndices` false, names only (pack's folder has no indices yet).
std::string refusalProblem(const UnpackPlan& plan, size_t index, bool withIndices = true);

// One entry as a JSON object: index, name (decoded), kind, action, reason,
// the sizes, method and CRC-32.
JsonDocument entryJson(size_t index, const ZipEntryInfo& entry, const PlannedEntry& planned);
